// The C interface (korvane-partner.dll through its import library) against
// the real Korvane.exe under Wine: the three sends with their events, and
// the statuses of a missing service and bad arguments.
#include "korvane_partner.h"
#include "korvane_partner.hpp"
#include "korvane_version.h"
#include "tests/support/korvane_exe_win32.h"
#include "tests/support/run_program.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#if defined(KORVANE_EXE_PATH)

namespace {

using namespace testing_support;
using namespace testing_support::korvane_exe;

struct Seen
{
    int kind = 0;
    Octets octets;
    std::string report;
};

void Record(void* context, const korvane_event* event)
{
    Seen seen;
    seen.kind = event->kind;
    seen.octets.assign(event->octets, event->octets + event->count);
    if (event->report)
        seen.report = event->report;
    static_cast<std::vector<Seen>*>(context)->push_back(seen);
}

TEST(PartnerCInterface, SendsToKorvaneExe)
{
    KorvaneProcess korvane;
    ASSERT_TRUE(korvane.Start(NativePath(KORVANE_EXE_PATH), "C"));
    ASSERT_NE(korvane.WaitForWindow("Korvane_C", "Korvane"), nullptr);

    korvane_partner* partner = nullptr;
    ASSERT_EQ(korvane_partner_open(nullptr, "C", 20000, &partner), KORVANE_OK)
        << korvane_partner_last_error(nullptr);
    std::vector<Seen> events;

    ASSERT_EQ(korvane_partner_send_command(partner, "1,2,3,4,5,100", Record, &events), KORVANE_OK);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, KORVANE_EVENT_ENCODED);
    EXPECT_EQ(events[0].octets.size(), 51u);

    events.clear();
    const Octets answer = ParameterMessage(1, 2, 3, 4, 5, IntegerValue(100));
    ASSERT_EQ(korvane_partner_send_console(partner, answer.data(), answer.size(), Record, &events),
              KORVANE_OK);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, KORVANE_EVENT_REPORT);
    EXPECT_EQ(events[0].report, "1,2,3,4,5,100");
    EXPECT_EQ(events[0].octets.size(), 513u); // the report field as sent

    events.clear();
    ASSERT_EQ(korvane_partner_send_keepalive(partner, Record, &events), KORVANE_OK);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, KORVANE_EVENT_KEEPALIVE_ECHO);
    EXPECT_EQ(events[0].octets, EmptyRoot());

    // A line without a value: success, nothing back.
    events.clear();
    EXPECT_EQ(korvane_partner_send_command(partner, "1,2,3", Record, &events), KORVANE_OK);
    EXPECT_TRUE(events.empty());
    EXPECT_STREQ(korvane_partner_last_error(partner), "");

    EXPECT_EQ(korvane_partner_send_console(partner, answer.data(), 0, Record, &events),
              KORVANE_BAD_ARGUMENT);
    EXPECT_STRNE(korvane_partner_last_error(partner), "");
    EXPECT_EQ(korvane_partner_send_command(partner, nullptr, Record, &events),
              KORVANE_BAD_ARGUMENT);
    EXPECT_EQ(korvane_partner_close(partner), 0);
}

// The C++ face: the service's name, an exception from the handler comes out
// of the send and leaves the session usable, a failure is a korvane::Error.
TEST(PartnerCppInterface, HandlerExceptionsAndFailures)
{
    KorvaneProcess korvane;
    ASSERT_TRUE(korvane.Start(NativePath(KORVANE_EXE_PATH), "P"));
    ASSERT_NE(korvane.WaitForWindow("Korvane_P", "Korvane"), nullptr);

    korvane::Partner partner(nullptr, "P", 20000);
    EXPECT_EQ(partner.Service(), "Korvane_P");
    const auto refuse = [](const korvane::Event&) { throw std::logic_error("refused"); };
    EXPECT_THROW(partner.SendCommand("1,2,3,4,5,100", refuse), std::logic_error);
    int echoes = 0;
    partner.SendKeepAlive([&](const korvane::Event& event) {
        echoes += event.kind == korvane::Event::KeepAliveEcho;
    });
    EXPECT_EQ(echoes, 1);
    try {
        partner.SendConsole({}, nullptr);
        ADD_FAILURE() << "no octets taken";
    } catch (const korvane::Error& error) {
        EXPECT_EQ(error.status(), KORVANE_BAD_ARGUMENT);
    }
}

TEST(PartnerCInterface, NoSuchServiceAndBadArguments)
{
    korvane_partner* partner = nullptr;
    EXPECT_EQ(korvane_partner_open("TEST_RX_C", "NoSuchService", 1000, &partner),
              KORVANE_NO_SERVICE);
    EXPECT_EQ(partner, nullptr);
    EXPECT_NE(std::string(korvane_partner_last_error(nullptr)).find("Korvane_NoSuchService"),
              std::string::npos)
        << korvane_partner_last_error(nullptr);
    EXPECT_EQ(korvane_partner_open(nullptr, nullptr, 0, &partner), KORVANE_BAD_ARGUMENT);
    EXPECT_EQ(korvane_partner_open(nullptr, nullptr, 1000, nullptr), KORVANE_BAD_ARGUMENT);
    EXPECT_EQ(korvane_partner_send_keepalive(nullptr, nullptr, nullptr), KORVANE_BAD_ARGUMENT);
    EXPECT_STREQ(korvane_partner_version(), KORVANE_VERSION);
    try {
        korvane::Partner missing("TEST_RX_C", "NoSuchService", 1000);
        ADD_FAILURE() << "opened without a service";
    } catch (const korvane::Error& error) {
        EXPECT_EQ(error.status(), KORVANE_NO_SERVICE);
    }
}

} // namespace

#endif
