// The console link stopped while its send waits for a service of another
// process that takes the block and never answers (our message layer: a raw
// socket stands in for it).
#include "partner/partner_link.h"

#include "tests/partner/partner_helpers.h"
#include "tests/support/posix_endpoints.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

using partner_testing::ServerThread;
using testing_support::RawSocket;

TEST(PartnerLinkStop, EndsASendToAServiceThatDoesNotAnswer)
{
    testing_support::RuntimeSandbox sandbox;
    ServerThread console;
    RawSocket mute(sandbox.Endpoint("Korvane_mute")); // takes requests, never answers
    ASSERT_TRUE(mute.Bound());
    CPartnerLinkOptions options;
    options.console.port = console.Port();
    options.session.service = "mute";
    options.session.sendTimeoutMs = 60000; // only Stop() ends the wait sooner
    CPartnerLink link(options);
    link.AddCommand("1,2,3,4,5,1");
    link.AddCommand("1,2,3,4,5,2");
    link.EndCommands();
    std::thread stopper;
    bool requested = false;
    std::vector<std::string> seen;
    link.SetEventHandler([&](const CPartnerLinkEvent& event) {
        if (event.kind == CPartnerLinkEvent::CommandSent) {
            seen.push_back("command " + event.line);
            if (!stopper.joinable())
                stopper = std::thread([&] {
                    std::vector<uint8_t> request;
                    requested = mute.Receive(request);
                    link.Stop();
                });
        } else if (event.kind == CPartnerLinkEvent::NotSent) {
            seen.push_back("not sent " + event.line + " (" + event.text + ")");
        }
    });
    EXPECT_EQ(link.Run(), EPartnerStatus::Stopped) << link.LastError();
    if (stopper.joinable())
        stopper.join();
    EXPECT_TRUE(requested);
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "command 1,2,3,4,5,1",
                        "not sent 1,2,3,4,5,1 (stopped while the service Korvane_mute had the "
                        "block; it may have handled it)",
                        "not sent 1,2,3,4,5,2 (not sent to the service)"}));
}

} // namespace
