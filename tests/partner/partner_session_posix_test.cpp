// The partner session against the real dispatcher in this process: a
// loopback host behind a window named like a service (Korvane_...), the
// session's endpoint a window of this process only. The runtime folder is a
// private one, so no service of another process is found.
#include "partner/partner_session.h"

#include "tests/partner/partner_helpers.h"
#include "tests/support/ember_messages.h"
#include "tests/support/posix_endpoints.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace testing_support;
using partner_testing::InProcessService;

std::string Hex(const std::vector<uint8_t>& octets)
{
    std::string text;
    static const char digits[] = "0123456789ABCDEF";
    for (const uint8_t octet : octets) {
        text += digits[octet >> 4];
        text += digits[octet & 15];
    }
    return text;
}

// One line per event, in order.
std::string Describe(const CPartnerEvent& event)
{
    switch (event.kind) {
    case CPartnerEvent::Encoded:
        return "encoded " + Hex(event.octets);
    case CPartnerEvent::Report:
        return "report " + event.report.line;
    case CPartnerEvent::KeepAliveEcho:
        return event.unchanged ? "echo" : "echo changed";
    case CPartnerEvent::OtherBlock:
        return "other";
    }
    return "?";
}

class PartnerSession : public testing::Test
{
protected:
    void SetUp() override
    {
        m_session.SetEventHandler([this](const CPartnerEvent& event) {
            m_events.push_back(Describe(event));
            m_last = event;
        });
    }

    CPartnerSessionOptions Options(const std::string& service = "")
    {
        CPartnerSessionOptions options;
        options.local = true;
        options.service = service;
        return options;
    }

    RuntimeSandbox m_sandbox;
    CPartnerSession m_session;
    std::vector<std::string> m_events;
    CPartnerEvent m_last;
};

TEST_F(PartnerSession, EverySendReturnsWithTheEventsItCaused)
{
    InProcessService service("Korvane_t");
    ASSERT_TRUE(service.Ok());
    ASSERT_EQ(m_session.Open(Options()), EPartnerStatus::Ok) << m_session.LastError();
    EXPECT_EQ(m_session.ServiceName(), "Korvane_t");

    EXPECT_EQ(m_session.SendCommand("1,2,3,4,5,100"), EPartnerStatus::Ok);
    ASSERT_EQ(m_events.size(), 1u);
    EXPECT_EQ(m_events[0], "encoded 7F8FFFFED95C80308000000000" + std::string("7F8FFFFED95C8030") +
                               "80A1173115A2133111A30F310DA40B3109E50731056303020164" + "00000000");

    m_events.clear();
    EXPECT_EQ(m_session.SendCommand("1,2,3,4,5,-3"), EPartnerStatus::NoValue);
    EXPECT_TRUE(m_events.empty());

    // Two reports from one block, then the same again: the service drops
    // the repeat of its last report.
    const std::vector<uint8_t> octets = Join(
        {Message({Ctx(7, {Ctx(1, {Ctx(2, {Ctx(3, {Ctx(4, {Prv(5, {IntValue(100)})})})})})})}),
         Message(
             {Ctx(7, {Ctx(1, {Ctx(2, {Ctx(3, {Ctx(4, {Prv(9, {TextValue("Main out")})})})})})})})});
    EXPECT_EQ(m_session.SendConsoleData(octets.data(), octets.size(), 7), EPartnerStatus::Ok);
    EXPECT_EQ(m_events,
              (std::vector<std::string>{"report 1,2,3,4,5,100", "report 1,2,3,4,9,Main~out \n"}));
    EXPECT_EQ(m_last.report.kind, EPartnerReportKind::Text);
    EXPECT_EQ(m_last.report.text, "Main out");

    m_events.clear();
    EXPECT_EQ(m_session.SendKeepAlive(), EPartnerStatus::Ok);
    EXPECT_EQ(m_events, std::vector<std::string>{"echo"});
    EXPECT_EQ(m_last.octets, PartnerKeepAliveOctets());
}

TEST_F(PartnerSession, ConsoleDataIsNeverCutIntoAKeepAlive)
{
    InProcessService service("Korvane_t");
    ASSERT_EQ(m_session.Open(Options()), EPartnerStatus::Ok) << m_session.LastError();
    // size, chunk, the block sizes
    const struct
    {
        size_t size;
        size_t chunk;
        std::vector<size_t> blocks;
    } cases[] = {
        {26, 13, {12, 12, 2}},          {13, 4096, {13}},        {14, 13, {12, 2}},
        {70000, 100000, {65535, 4465}}, {5, 0, {1, 1, 1, 1, 1}},
    };
    for (const auto& c : cases) {
        const std::vector<uint8_t> octets(c.size, 0x00);
        std::vector<size_t> blocks;
        size_t sent = 0;
        EXPECT_EQ(m_session.SendConsoleData(octets.data(), octets.size(), c.chunk, &sent,
                                            [&](size_t, size_t size) { blocks.push_back(size); }),
                  EPartnerStatus::Ok);
        EXPECT_EQ(blocks, c.blocks) << c.size << " in " << c.chunk;
        EXPECT_EQ(sent, c.size);
    }
}

TEST_F(PartnerSession, FindsTheServiceByOneRule)
{
    const std::string folder = m_sandbox.Path();
    EXPECT_EQ(m_session.Open(Options()), EPartnerStatus::NoService);
    EXPECT_EQ(m_session.LastError(),
              "no Korvane service is running (none in the runtime folder " + folder +
                  ", chosen by KORVANE_RUNTIME_DIR, else XDG_RUNTIME_DIR; start one with "
                  "'korvane serve')");
    EXPECT_FALSE(m_session.IsOpen());

    InProcessService a("Korvane_a");
    InProcessService b("Korvane_b");
    EXPECT_EQ(m_session.Open(Options()), EPartnerStatus::SeveralServices);
    EXPECT_EQ(m_session.LastError(),
              "several services are running (Korvane_a, Korvane_b); name one (--service)");

    const struct
    {
        const char* given;
        EPartnerStatus status;
        const char* found;
    } cases[] = {
        {"b", EPartnerStatus::Ok, "Korvane_b"},
        {"Korvane_a", EPartnerStatus::Ok, "Korvane_a"},
        {"c", EPartnerStatus::NoService, ""},
        {"Korvane_c", EPartnerStatus::NoService, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(m_session.Open(Options(c.given)), c.status) << c.given;
        EXPECT_EQ(m_session.ServiceName(), c.found);
    }
    EXPECT_EQ(m_session.LastError(),
              "no service Korvane_Korvane_c is running (none in the runtime folder " + folder +
                  ", chosen by KORVANE_RUNTIME_DIR, else XDG_RUNTIME_DIR; start one with "
                  "'korvane serve')");
}

TEST_F(PartnerSession, BadArgumentsAndAGoneServiceAreFailures)
{
    InProcessService service("Korvane_t");
    EXPECT_EQ(m_session.SendCommand("1,2,3,4,5,1"), EPartnerStatus::NotOpen);
    ASSERT_EQ(m_session.Open(Options()), EPartnerStatus::Ok);
    const std::vector<uint8_t> big(65536, 0);
    EXPECT_EQ(m_session.SendCommand(""), EPartnerStatus::InvalidArgument);
    EXPECT_EQ(m_session.SendCommand("1,2,3,4,5,1\n"), EPartnerStatus::InvalidArgument);
    EXPECT_EQ(m_session.SendCommand(std::string(65536, '1')), EPartnerStatus::InvalidArgument);
    EXPECT_EQ(m_session.SendConsoleBlock(big.data(), 0), EPartnerStatus::InvalidArgument);
    EXPECT_EQ(m_session.SendConsoleBlock(big.data(), big.size()), EPartnerStatus::InvalidArgument);
    EXPECT_EQ(m_session.LastError(), "a console block holds 1 to 65535 octets, not 65536");
    EXPECT_EQ(m_session.SendConsoleBlock(big.data(), big.size() - 1), EPartnerStatus::Ok);
    EXPECT_TRUE(m_session.LastError().empty());

    service.Stop();
    EXPECT_EQ(m_session.SendCommand("1,2,3,4,5,1"), EPartnerStatus::SendFailed);
    EXPECT_EQ(m_session.LastError().rfind("the service Korvane_t did not take the block: ", 0), 0u)
        << m_session.LastError();
    EXPECT_EQ(m_session.FindServiceAgain(), EPartnerStatus::NoService);
    EXPECT_TRUE(m_events.empty());
}

} // namespace
