// The whole loop on Windows (under Wine): korvane-cli.exe console as the
// console, the real Korvane.exe as the service and korvane-cli.exe partner
// --console-link between them. Every command shape goes to the console and
// its answer comes back as the reports the host makes of it; the console's
// keep-alive makes the round trip. Every wait is bounded.
#include "protocol/protocol.h"
#include "tests/support/korvane_exe_win32.h"
#include "tests/support/run_program.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#if defined(KORVANE_CLI_PATH) && defined(KORVANE_EXE_PATH)

namespace {

using namespace testing_support;
using namespace testing_support::korvane_exe;

constexpr int kLinkTimeoutMs = 30000;
// The service Korvane.exe names its window after (Korvane_WinLoop).
const char* const kService = "WinLoop";

struct Step
{
    const char* line;
    std::vector<std::string> reports;
};

// Every shape, with the reports the service makes of the console's answers
// (a report equal to the one before it is dropped by the service): the
// Linux loop's table, with every report of the last poll, since the whole
// sequence is compared here.
const std::vector<Step> kShapes = {
    {"1,2,3,4,5,100", {"1,2,3,4,5,100"}},
    {"1,2,3,4,6,Main~out", {"1,2,3,4,6,Main~out (text)"}},
    {"1,2,3,4,5,-1", {"1,2,3,4,5,100", "1,2,3,4,6,Main~out (text)"}},
    {"1,2,3,0,0,Ch~1", {"1,2,3,0,0,Ch~1 (text)"}},
    {"1,2,3,9,0,-1", {"1,2,3,4,5,100", "1,2,3,4,6,Main~out (text)"}},
    {"1,2,3,4,0,75", {"1,2,3,0,4,75"}},
    {"1,2,3,4,0,Aux~2", {"1,2,3,0,4,Aux~2 (text)"}},
    {"1,2,3,0,0,-1",
     {"1,2,3,0,0,Ch~1 (text)", "1,2,3,0,4,Aux~2 (text)", "1,2,3,4,5,100",
      "1,2,3,4,6,Main~out (text)"}},
};

// The lines of text that begin with `prefix`, in order.
std::vector<std::string> LinesStartingWith(const std::string& text, const std::string& prefix)
{
    std::vector<std::string> kept;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.compare(0, prefix.size(), prefix) == 0)
            kept.push_back(line);
    }
    return kept;
}

class ConsoleLoopWin32 : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(korvane.Start(NativePath(KORVANE_EXE_PATH), kService));
        ASSERT_NE(korvane.WaitForWindow(std::string(kHostWindowPrefix) + kService, "Korvane"),
                  nullptr);
    }

    // Starts the console on a free port and reads the port from its first line.
    void StartConsole(std::vector<std::string> extra = {})
    {
        std::vector<std::string> args = {"console", "--listen", "127.0.0.1:0", "--verbose"};
        args.insert(args.end(), extra.begin(), extra.end());
        console = std::make_unique<RunningProgram>(KorvaneCliPath(), args);
        ASSERT_TRUE(console->Started());
        const std::string prefix = "korvane console: listening on ";
        ASSERT_TRUE(WaitUntil([&] {
            const std::string err = console->ErrorSoFar();
            const size_t at = err.find(prefix);
            return at != std::string::npos && err.find(';', at) != std::string::npos;
        })) << console->ErrorSoFar();
        const std::string err = console->ErrorSoFar();
        const size_t at = err.find(prefix) + prefix.size();
        address = err.substr(at, err.find(';', at) - at);
        ASSERT_EQ(address.rfind("127.0.0.1:", 0), 0u) << err;
        ASSERT_GT(std::stoi(address.substr(address.find(':') + 1)), 0) << err;
    }

    std::vector<std::string> LinkArgs(const std::vector<std::string>& extra)
    {
        std::vector<std::string> args = {"partner", "--service", kService, "--console-link",
                                         address,   "--retries", "5"};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    bool ConsoleSaid(const std::string& text)
    {
        return WaitUntil([&] { return console->ErrorSoFar().find(text) != std::string::npos; });
    }

    KorvaneProcess korvane;
    std::unique_ptr<RunningProgram> console;
    std::string address;
};

TEST_F(ConsoleLoopWin32, EveryShapeGoesToTheConsoleAndComesBackAsItsReports)
{
    StartConsole();
    // The lines go out in order over the one connection, so the reports come
    // back in the table's order. The link ends after five quiet seconds.
    std::vector<std::string> args = {"--wait", "5000"};
    std::vector<std::string> expected;
    for (const Step& step : kShapes) {
        args.push_back(step.line);
        for (const std::string& report : step.reports)
            expected.push_back("report: " + report);
    }
    // A poll of a container holding nothing: no answer, no report.
    args.push_back("1,7,3,0,0,-1");
    const ProgramResult link = RunProgram(KorvaneCliPath(), LinkArgs(args), "", kLinkTimeoutMs);
    ASSERT_EQ(link.status, 0) << link.err << link.out;
    EXPECT_EQ(LinesStartingWith(link.out, "link: connected to "),
              std::vector<std::string>{"link: connected to " + address})
        << link.out;
    EXPECT_EQ(LinesStartingWith(link.out, "report: "), expected) << link.out;
    EXPECT_EQ(LinesStartingWith(link.out, "encoded ").size(), kShapes.size() + 1) << link.out;
    EXPECT_EQ(link.out.find("> console 13 octets"), std::string::npos) << link.out;
    EXPECT_TRUE(ConsoleSaid("client 1: message: poll 1/7: 0 parameters")) << console->ErrorSoFar();
    EXPECT_TRUE(korvane.Running());
    EXPECT_EQ(korvane.UnhandledExceptions(), 0);
}

TEST_F(ConsoleLoopWin32, TheConsolesKeepAliveMakesTheRoundTrip)
{
    StartConsole({"--keepalive", "1"});
    // Without command lines the link runs until it is stopped (here: when
    // the object goes).
    RunningProgram link(KorvaneCliPath(), LinkArgs({}));
    ASSERT_TRUE(link.Started());
    EXPECT_TRUE(WaitUntil([&] {
        const std::string out = link.OutputSoFar();
        return out.find("> keep-alive (console)") != std::string::npos &&
               out.find("keep-alive echoed") != std::string::npos;
    })) << link.OutputSoFar();
    EXPECT_TRUE(ConsoleSaid("client 1: keep-alive came back")) << console->ErrorSoFar();
    EXPECT_EQ(link.OutputSoFar().find("report:"), std::string::npos) << link.OutputSoFar();
    EXPECT_TRUE(korvane.Running());
}

} // namespace

#endif
