// The reports the host makes of the console's answers: each of the eight
// command shapes goes to the simulator, its answer to the in-process host,
// and the host's reports are compared with the table. The four-level
// parameters come back as 1,2,3,0,4: their tree holds four Set levels under
// the root (the top level and three path levels), so the parameter's
// container lands in the fifth number. That is the host's report rule.
#include "tests/support/console_helpers.h"
#include "tests/support/host_recorder.h"

#include <gtest/gtest.h>

namespace {

using console_testing::HostBlock;
using console_testing::RecordingSimulator;
using testing_support::HostWindow;
using testing_support::PartnerWindow;

struct Row
{
    const char* command;
    std::vector<ParameterEntry> before;
    std::vector<std::string> reports;
};

const std::vector<Row>& Rows()
{
    static const std::vector<Row> rows = {
        {"1,2,3,4,5,100", {}, {"1,2,3,4,5,100"}},
        {"1,2,3,4,5,Main~out", {}, {"1,2,3,4,5,Main~out \n"}},
        {"1,2,3,4,5,-1",
         {{{1, 2, 3, 4, 5}, int32_t(100)}, {{1, 2, 3, 4, 6}, std::string("Ch 2")}},
         {"1,2,3,4,5,100", "1,2,3,4,6,Ch~2 \n"}},
        {"1,2,3,0,0,-1", {{{1, 2, 3}, std::string("Ch 1")}}, {"1,2,3,0,0,Ch~1 \n"}},
        {"1,2,3,0,0,Ch~1", {}, {"1,2,3,0,0,Ch~1 \n"}},
        {"1,2,3,9,0,-1", {{{1, 2, 3, 4}, int32_t(75)}}, {"1,2,3,0,4,75"}},
        {"1,2,3,4,0,Aux~2", {}, {"1,2,3,0,4,Aux~2 \n"}},
        {"1,2,3,4,0,75", {}, {"1,2,3,0,4,75"}},
        // Polls holding nothing give no answer and so no report.
        {"1,2,3,4,5,-1", {{{1, 2, 3, 5, 5}, int32_t(1)}}, {}},
        // One tree with two Set branches: the second branch's Sets continue
        // the count, so its parameter reports under the first branch's path.
        {"1,2,3,0,0,-1",
         {{{1, 2, 3, 4, 5}, int32_t(1)}, {{1, 2, 9, 4, 5}, int32_t(2)}},
         {"1,2,3,4,5,1", "1,2,3,4,5,2"}},
    };
    return rows;
}

TEST(ConsoleReports, TheHostReportsEachShapesAnswerAsTabled)
{
    for (const Row& row : Rows()) {
        SCOPED_TRACE(row.command);
        RecordingSimulator console;
        for (const auto& [key, value] : row.before)
            console.store.Set(key, value);
        const auto client = console.simulator.Connect("");
        console.Feed(client, HostBlock(row.command));

        HostWindow host;
        PartnerWindow partner;
        for (const auto& sent : console.sent)
            partner.SendConsole(host.Handle(), sent.message);
        EXPECT_EQ(partner.Reports(), row.reports);
    }
}

} // namespace
