// The message layer under threads and hostile peers: windows belong to the
// thread that made them, a flood of nested requests is bounded, the records
// of closed windows are freed, and running out of descriptors is named.
#include "platform/posix/message_layer_internal.h"
#include "platform/posix/message_wire.h"
#include "tests/support/posix_endpoints.h"
#include "winapi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace {

using namespace testing_support;

constexpr UINT kMsgWhere = WM_USER + 20; // records the thread it runs on, returns lParam + 1
constexpr UINT kMsgEcho = WM_USER + 21;  // sends kMsgWhere back to wParam, returns lParam

// Answers with the thread it ran on: each window keeps it in its user data.
LRESULT CALLBACK WhereProcedure(HWND self, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kMsgWhere) {
        auto* seen = reinterpret_cast<std::thread::id*>(GetWindowLongPtrA(self, GWLP_USERDATA));
        if (seen)
            *seen = std::this_thread::get_id();
        return lParam + 1;
    }
    if (message == kMsgEcho) {
        // What the service does with a block: a send back to its sender.
        return SendMessageA(reinterpret_cast<HWND>(wParam), kMsgWhere,
                            reinterpret_cast<WPARAM>(self), lParam) == lParam + 1
                   ? lParam
                   : -1;
    }
    return DefWindowProcA(self, message, wParam, lParam);
}

class MessageThreads : public ::testing::Test
{
protected:
    RuntimeSandbox m_sandbox;
};

// Two threads, each with a window of its own, talk to a window of a third
// thread many times at once: every answer is right, every call-back runs
// on the thread that owns its window, and the service's procedure only on
// its own thread.
TEST_F(MessageThreads, EachThreadsWindowsAreDispatchedOnItsOwnThreadOnly)
{
    std::atomic<bool> ready{false};
    std::atomic<bool> done{false};
    std::thread service([&] {
        HWND window = CreateMessageWindow("service", WhereProcedure);
        ready = window != nullptr;
        while (!done)
            RunMessageLoop(20);
        DestroyWindow(window);
    });
    ASSERT_TRUE(WaitUntil([&] { return ready.load(); }));

    constexpr int kSends = 300;
    std::atomic<int> wrong{0};
    auto partner = [&](const std::string& name) {
        std::thread::id seen;
        HWND self = CreateMessageWindow(name.c_str(), WhereProcedure);
        SetWindowLongPtrA(self, GWLP_USERDATA, reinterpret_cast<intptr_t>(&seen));
        HWND to = FindWindowA(nullptr, "service");
        for (int i = 0; i < kSends; ++i) {
            seen = std::thread::id();
            if (SendMessageA(to, kMsgEcho, reinterpret_cast<WPARAM>(self), i) != i ||
                seen != std::this_thread::get_id() || GetLastError() != ERROR_SUCCESS)
                ++wrong;
        }
        DestroyWindow(self);
    };
    std::thread a(partner, "partner-a");
    std::thread b(partner, "partner-b");
    a.join();
    b.join();
    done = true;
    service.join();
    EXPECT_EQ(wrong.load(), 0);
    // A thread's windows go with it.
    HWND local = nullptr;
    std::thread maker([&] { local = CreateLocalWindow("local-elsewhere", WhereProcedure); });
    maker.join();
    ASSERT_NE(local, nullptr);
    EXPECT_EQ(GetWindowName(local), nullptr);
}

TEST_F(MessageThreads, AWindowOfAnotherThreadIsReachedThroughItsEndpointOnly)
{
    std::atomic<HWND> remote{nullptr};
    std::atomic<HWND> local{nullptr};
    std::atomic<bool> done{false};
    std::thread::id ranOn;
    std::thread owner([&] {
        HWND window = CreateMessageWindow("owned", WhereProcedure);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<intptr_t>(&ranOn));
        local = CreateLocalWindow("owned-local", WhereProcedure);
        remote = window;
        while (!done)
            RunMessageLoop(20);
        DestroyWindow(local);
        DestroyWindow(window);
    });
    ASSERT_TRUE(WaitUntil([&] { return remote.load() != nullptr; }));
    EXPECT_EQ(SendMessageA(remote, kMsgWhere, 0, 41), 42);
    EXPECT_NE(ranOn, std::this_thread::get_id());
    EXPECT_EQ(SendMessageA(local, kMsgWhere, 0, 41), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(DestroyWindow(remote), FALSE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    done = true;
    owner.join();
}

// Failed looks on several threads at once (no such endpoint) and the
// threads' own errors.
TEST_F(MessageThreads, ErrorsAreEachThreadsOwn)
{
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                const std::string name = "none-" + std::to_string(t);
                if (FindWindowA(nullptr, name.c_str()) != nullptr ||
                    GetLastError() != ERROR_FILE_NOT_FOUND ||
                    std::string(GetMessageLayerError()) != "no endpoint " + name)
                    ++wrong;
                HWND self =
                    CreateMessageWindow(("self-" + std::to_string(t)).c_str(), WhereProcedure);
                if (!self || !DestroyWindow(self))
                    ++wrong;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

// A peer that sends request after request while it reads, and never
// answers, the requests sent back to it (as a service sends a block back to
// its sender): the receiver nests kMaxNestedDispatches deep, refuses the rest
// as busy, and finishes every nested one once the peer answers.
TEST_F(MessageThreads, AFloodOfNestedRequestsIsRefusedPastTheBound)
{
    HWND service = CreateMessageWindow("service", WhereProcedure);
    ASSERT_NE(service, nullptr);
    constexpr int kRequests = 300;
    constexpr int kBound = korvane_layer::kMaxNestedDispatches;
    std::atomic<bool> done{false};
    int busy = 0;
    int answered = 0;
    std::vector<korvane_wire::Frame> back;
    std::vector<std::vector<uint8_t>> backDatagrams;
    std::thread peer([&] {
        RawSocket flood(m_sandbox.Endpoint("flood"));
        const std::string to = m_sandbox.Endpoint("service");
        auto drain = [&] {
            std::vector<uint8_t> datagram;
            while (flood.HasDatagram() && flood.Receive(datagram)) {
                korvane_wire::Frame frame;
                if (!korvane_wire::DecodeFrame(datagram.data(), datagram.size(), frame))
                    continue;
                if (frame.kind == korvane_wire::kRequest) {
                    back.push_back(frame);
                    backDatagrams.push_back(datagram);
                } else if (frame.flags & korvane_wire::kFlagBusy) {
                    ++busy;
                } else {
                    ++answered;
                }
            }
        };
        for (int i = 1; i <= kRequests; ++i) {
            flood.SendTo(to, RequestFrame(uint64_t(i), kMsgEcho, "flood"));
            drain();
        }
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kSafetyTimeoutMs);
        while (busy + int(back.size()) < kRequests && std::chrono::steady_clock::now() < deadline)
            drain();
        // Now the peer answers what it was sent: the nested sends end.
        for (const korvane_wire::Frame& request : back) {
            korvane_wire::Frame reply;
            reply.kind = korvane_wire::kReply;
            reply.sequence = request.sequence;
            reply.lParam = request.lParam + 1;
            flood.SendTo(to, korvane_wire::EncodeFrame(reply));
        }
        while (busy + answered < kRequests && std::chrono::steady_clock::now() < deadline)
            drain();
        done = true;
    });
    const bool finished = WaitUntil([&] {
        RunMessageLoop(10);
        return done.load();
    });
    peer.join();
    ASSERT_TRUE(finished);
    EXPECT_EQ(int(back.size()), kBound);
    EXPECT_EQ(busy, kRequests - kBound);
    EXPECT_EQ(answered, kBound);
    DestroyWindow(service);
}

// Windows made and destroyed over and over leave no record behind.
TEST_F(MessageThreads, ClosedWindowsLeaveNoRecordBehind)
{
    HWND service = CreateMessageWindow("service", WhereProcedure);
    ASSERT_NE(service, nullptr);
    korvane_layer::Registry& registry = korvane_layer::TheRegistry();
    size_t before = 0;
    {
        const korvane_layer::Lock lock(registry.mutex);
        before = registry.windows.size();
    }
    std::atomic<bool> done{false};
    std::thread partner([&] {
        for (int i = 0; i < 2000; ++i) {
            HWND self = CreateMessageWindow("cycle", WhereProcedure);
            SendMessageA(FindWindowA(nullptr, "service"), kMsgWhere, reinterpret_cast<WPARAM>(self),
                         1);
            DestroyWindow(self);
        }
        done = true;
    });
    ASSERT_TRUE(WaitUntil([&] {
        RunMessageLoop(10);
        return done.load();
    }));
    partner.join();
    {
        const korvane_layer::Lock lock(registry.mutex);
        // At most the records of the two names met (the partner's and the
        // service's, as the partner thread saw it).
        EXPECT_LE(registry.windows.size(), before + 2);
        EXPECT_EQ(registry.handles.size(), registry.windows.size());
    }
    DestroyWindow(service);
}

// With no descriptor left, a look for a live endpoint says so instead of
// "no endpoint".
TEST_F(MessageThreads, NoDescriptorLeftIsNotNoEndpoint)
{
    HWND service = CreateMessageWindow("service", WhereProcedure);
    ASSERT_NE(service, nullptr);
    const pid_t child = ForkChild([] {
        std::vector<int> held;
        rlimit limit = {64, 64};
        setrlimit(RLIMIT_NOFILE, &limit);
        for (int fd; (fd = dup(0)) >= 0;)
            held.push_back(fd);
        HWND found = FindWindowA(nullptr, "service");
        const bool named = std::string(GetMessageLayerError()).find("socket") != std::string::npos;
        return !found && GetLastError() == ERROR_TOO_MANY_OPEN_FILES && named ? 0 : 1;
    });
    EXPECT_EQ(WaitChild(child), 0);
    DestroyWindow(service);
}

} // namespace
