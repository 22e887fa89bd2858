// Sessions on several threads of one process, on both platforms: a service
// on a thread of its own and a partner session on each of two more. Each
// thread's sends return with its own events, delivered on that thread.
#include "host/host_window.h"
#include "partner/partner_session.h"
#include "tests/support/ember_messages.h"
#include "tests/support/test_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace testing_support;

// A service: the host core behind a window of a thread of its own.
class ServiceThread
{
public:
    explicit ServiceThread(const std::string& name)
    {
        m_thread = std::thread([this, name] {
            CHostState state;
            CReportReader reader;
            HWND window = CreateMessageWindow(name.c_str(), HostWindowProcedure);
            if (window)
                HostAttach(state, reader, window);
            m_ready = window ? 1 : -1;
            while (!m_done)
                RunMessageLoop(20);
            if (window) {
                HostDetach(state);
                DestroyWindow(window);
            }
        });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (m_ready == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
    }
    ~ServiceThread()
    {
        m_done = true;
        m_thread.join();
    }
    bool Ok() const { return m_ready == 1; }

private:
    std::atomic<int> m_ready{0};
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

TEST(PartnerThreads, EachThreadsSessionGetsItsOwnEventsOnItsOwnThread)
{
    PrivateEndpoints endpoints;
    const std::string serviceName = UniqueWindowName("Korvane_th");
    ServiceThread service(serviceName);
    ASSERT_TRUE(service.Ok());

    constexpr int kSends = 100;
    auto partner = [&](const std::string& endpoint, int first, std::vector<std::string>& wrong) {
        CPartnerSession session;
        CPartnerSessionOptions options;
        options.endpoint = endpoint;
        options.service = serviceName;
        if (session.Open(options) != EPartnerStatus::Ok) {
            wrong.push_back("open: " + session.LastError());
            return;
        }
        const std::thread::id self = std::this_thread::get_id();
        std::vector<CPartnerEvent> events;
        bool elsewhere = false;
        session.SetEventHandler([&](const CPartnerEvent& event) {
            elsewhere = elsewhere || std::this_thread::get_id() != self;
            events.push_back(event);
        });
        for (int i = 0; i < kSends; ++i) {
            const int value = first + i;
            events.clear();
            const std::vector<uint8_t> message = Message(
                {Ctx(7, {Ctx(1, {Ctx(2, {Ctx(3, {Ctx(4, {Prv(5, {IntValue(value)})})})})})})});
            if (session.SendConsoleBlock(message.data(), message.size()) != EPartnerStatus::Ok ||
                events.size() != 1 || events[0].kind != CPartnerEvent::Report ||
                events[0].report.line != "1,2,3,4,5," + std::to_string(value))
                wrong.push_back("report " + std::to_string(value));
            events.clear();
            if (session.SendCommand("1,2,3,4,5," + std::to_string(value)) != EPartnerStatus::Ok ||
                events.size() != 1 || events[0].kind != CPartnerEvent::Encoded)
                wrong.push_back("command " + std::to_string(value));
        }
        if (elsewhere)
            wrong.push_back("an event ran on another thread");
    };
    std::vector<std::string> wrongA;
    std::vector<std::string> wrongB;
    std::thread a(partner, UniqueWindowName("TEST_RX_a"), 1000, std::ref(wrongA));
    std::thread b(partner, UniqueWindowName("TEST_RX_b"), 5000, std::ref(wrongB));
    a.join();
    b.join();
    EXPECT_EQ(wrongA, std::vector<std::string>());
    EXPECT_EQ(wrongB, std::vector<std::string>());
}

// Failed opens on four threads at once: each its own reason.
TEST(PartnerThreads, FailedOpensOnSeveralThreadsAtOnce)
{
    PrivateEndpoints endpoints;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&wrong, t] {
            const std::string missing =
                UniqueWindowName(("Korvane_none" + std::to_string(t)).c_str());
            for (int i = 0; i < 20; ++i) {
                CPartnerSession session;
                CPartnerSessionOptions options;
                options.endpoint = UniqueWindowName(("TEST_RX_" + std::to_string(t)).c_str());
                options.service = missing;
                if (session.Open(options) != EPartnerStatus::NoService ||
                    session.LastError().find(missing) == std::string::npos)
                    ++wrong;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

} // namespace
