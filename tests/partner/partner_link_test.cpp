// The partner's console link as a whole, on both platforms: a service in
// this process, the console simulator on a thread of its own (or no console
// at all), the link run on the test's thread.
#include "partner/partner_link.h"

#include "tests/partner/partner_helpers.h"
#include "tests/support/test_window.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

using partner_testing::InProcessService;
using partner_testing::ServerThread;
using testing_support::PrivateEndpoints;
using testing_support::UniqueWindowName;

CPartnerLinkOptions LinkTo(uint16_t port, const std::string& service)
{
    CPartnerLinkOptions options;
    options.session.local = true;
    options.session.endpoint = UniqueWindowName("TEST_RX");
    options.session.service = service;
    options.console.port = port;
    options.console.firstBackoffMs = 10;
    options.console.maxBackoffMs = 40;
    return options;
}

// One line per event that matters here, in order.
std::string Describe(const CPartnerLinkEvent& event)
{
    switch (event.kind) {
    case CPartnerLinkEvent::Service:
        if (event.service.kind == CPartnerEvent::Report)
            return "report " + event.service.report.line;
        return event.service.kind == CPartnerEvent::Encoded ? "encoded" : "service block";
    case CPartnerLinkEvent::CommandSent:
        return "command " + event.line;
    case CPartnerLinkEvent::ConsoleSent:
        return "console";
    case CPartnerLinkEvent::NotSent:
        return "not sent " + event.line + " (" + event.text + ")";
    case CPartnerLinkEvent::NoValue:
        return "no value";
    case CPartnerLinkEvent::ServiceUnreachable:
        return "unreachable";
    case CPartnerLinkEvent::ServiceGaveUp:
        return "service gave up";
    default:
        return "";
    }
}

class PartnerLink : public testing::Test
{
protected:
    std::vector<std::string> Run(CPartnerLink& link, EPartnerStatus expected,
                                 const std::function<void(const CPartnerLinkEvent&)>& also = {})
    {
        std::vector<std::string> seen;
        link.SetEventHandler([&](const CPartnerLinkEvent& event) {
            if (also)
                also(event);
            const std::string line = Describe(event);
            if (!line.empty())
                seen.push_back(line);
        });
        EXPECT_EQ(link.Run(), expected) << link.LastError();
        EXPECT_EQ(link.QueuedBlocks(), 0u);
        return seen;
    }

    CPartnerLinkOptions LinkTo(uint16_t port) const { return ::LinkTo(port, m_serviceName); }

    PrivateEndpoints m_endpoints;
    const std::string m_serviceName = UniqueWindowName("Korvane_t");
    InProcessService m_service{m_serviceName};
};

TEST_F(PartnerLink, CommandsGoToTheConsoleAndItsAnswersComeBackAsReports)
{
    ServerThread console;
    ASSERT_TRUE(console.Listening());
    CPartnerLink link(LinkTo(console.Port()));
    link.AddCommand("1,2,3,4,5,100");
    link.AddCommand("# a comment");
    link.AddCommand("1,2,3,4,5,-3");
    link.EndCommands();
    const std::vector<std::string> seen = Run(link, EPartnerStatus::Ok);
    EXPECT_EQ(seen,
              (std::vector<std::string>{"command 1,2,3,4,5,100", "encoded", "command 1,2,3,4,5,-3",
                                        "no value", "console", "report 1,2,3,4,5,100"}));
}

TEST_F(PartnerLink, StoppedItNamesTheLinesWhoseMessagesNeverReachedTheConsole)
{
    uint16_t port = 0;
    {
        ServerThread probe; // a port nobody listens on any more
        port = probe.Port();
    }
    CPartnerLinkOptions options = LinkTo(port);
    options.console.retries = 0; // for ever: only Stop() ends it
    CPartnerLink link(options);
    link.AddCommand("1,2,3,4,5,1");
    link.AddCommand("1,2,3,4,5,2");
    link.EndCommands();
    int failures = 0;
    const std::vector<std::string> seen =
        Run(link, EPartnerStatus::Stopped, [&](const CPartnerLinkEvent& event) {
            if (event.kind == CPartnerLinkEvent::Console &&
                event.console.kind == ConsoleLinkEvent::Failed && ++failures == 12)
                link.Stop();
        });
    EXPECT_EQ(failures, 12);
    const std::string lost = "(its message did not reach the console)";
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "command 1,2,3,4,5,1", "encoded", "command 1,2,3,4,5,2", "encoded",
                        "not sent 1,2,3,4,5,1 " + lost, "not sent 1,2,3,4,5,2 " + lost}));
}

TEST_F(PartnerLink, AServiceThatIsGoneIsRetriedThenGivenUp)
{
    ServerThread console;
    CPartnerLinkOptions options = LinkTo(console.Port());
    options.console.retries = 2;
    CPartnerLink link(options);
    link.AddCommand("1,2,3,4,5,1");
    link.AddCommand("1,2,3,4,5,2");
    link.EndCommands();
    bool first = true;
    const std::vector<std::string> seen =
        Run(link, EPartnerStatus::SendFailed, [&](const CPartnerLinkEvent& event) {
            if (event.kind == CPartnerLinkEvent::CommandSent && first) {
                first = false;
                m_service.Stop();
            }
        });
    EXPECT_EQ(seen, (std::vector<std::string>{"command 1,2,3,4,5,1", "unreachable", "unreachable",
                                              "service gave up",
                                              "not sent 1,2,3,4,5,1 (not sent to the service)",
                                              "not sent 1,2,3,4,5,2 (not sent to the service)"}));
    EXPECT_EQ(link.LastError().rfind("the service does not take blocks any more: ", 0), 0u);
}

// The view's way: Run() on one thread, lines from others while it runs,
// until Stop(); the bounded variants refuse once it is stopped.
TEST_F(PartnerLink, LinesFromOtherThreadsGoInOrderUntilStopped)
{
    ServerThread console;
    CPartnerLinkOptions options = LinkTo(console.Port());
    options.untilStopped = true;
    CPartnerLink link(options);
    std::vector<std::string> reports;
    link.SetEventHandler([&](const CPartnerLinkEvent& event) {
        if (event.kind == CPartnerLinkEvent::Service &&
            event.service.kind == CPartnerEvent::Report) {
            reports.push_back(event.service.report.line);
            if (reports.size() == 200)
                link.Stop();
        }
    });
    std::thread adder([&] {
        for (int i = 0; i < 100; ++i)
            EXPECT_TRUE(link.AddCommandBounded("1,2,3,4,5," + std::to_string(i)));
        for (int i = 100; i < 200; ++i)
            while (!link.TryAddCommand("1,2,3,4,5," + std::to_string(i)))
                std::this_thread::yield();
        link.EndCommands(); // no end while untilStopped
    });
    EXPECT_EQ(link.Run(), EPartnerStatus::Stopped) << link.LastError();
    adder.join();
    ASSERT_EQ(reports.size(), 200u);
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(reports[size_t(i)], "1,2,3,4,5," + std::to_string(i));
    EXPECT_FALSE(link.AddCommandBounded("1,2,3,4,5,1"));
    EXPECT_FALSE(link.TryAddCommand("1,2,3,4,5,1"));
}

// A full queue: TryAddCommand refuses, AddCommandBounded waits until Stop().
TEST_F(PartnerLink, AFullQueueRefusesOrWaitsUntilStopped)
{
    CPartnerLinkOptions options = LinkTo(1);
    options.maxQueuedOctets = 1; // one line at a time
    CPartnerLink link(options);
    EXPECT_TRUE(link.TryAddCommand("1,2,3,4,5,1"));
    EXPECT_FALSE(link.TryAddCommand("1,2,3,4,5,2"));
    std::thread stopper([&] { link.Stop(); });
    EXPECT_FALSE(link.AddCommandBounded("1,2,3,4,5,3"));
    stopper.join();
    std::vector<std::string> seen = Run(link, EPartnerStatus::Stopped);
    EXPECT_EQ(seen, (std::vector<std::string>{"not sent 1,2,3,4,5,1 (not sent to the service)"}));
}

} // namespace
