// The partner session against the real dispatcher in this process, on both
// platforms: a loopback host behind a window named like a service
// (Korvane_...), the session's endpoint a window of this process only.
#include "partner/partner_session.h"

#include "tests/partner/partner_helpers.h"
#include "tests/support/ember_messages.h"
#include "tests/support/test_window.h"

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

    CPartnerSessionOptions Options()
    {
        CPartnerSessionOptions options;
        options.local = true;
        options.endpoint = UniqueWindowName("TEST_RX");
        options.service = m_serviceName;
        return options;
    }

    PrivateEndpoints m_endpoints;
    const std::string m_serviceName = UniqueWindowName("Korvane_t");
    CPartnerSession m_session;
    std::vector<std::string> m_events;
    CPartnerEvent m_last;
};

TEST_F(PartnerSession, EverySendReturnsWithTheEventsItCaused)
{
    InProcessService service(m_serviceName);
    ASSERT_TRUE(service.Ok());
    ASSERT_EQ(m_session.Open(Options()), EPartnerStatus::Ok) << m_session.LastError();
    EXPECT_EQ(m_session.ServiceName(), m_serviceName);

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
    InProcessService service(m_serviceName);
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

TEST_F(PartnerSession, BadArgumentsAndAGoneServiceAreFailures)
{
    InProcessService service(m_serviceName);
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
    EXPECT_EQ(m_session.LastError().rfind(
                  "the service " + m_serviceName + " did not take the block: ", 0),
              0u)
        << m_session.LastError();
    EXPECT_EQ(m_session.FindServiceAgain(), EPartnerStatus::NoService);
    EXPECT_TRUE(m_events.empty());
}

} // namespace
