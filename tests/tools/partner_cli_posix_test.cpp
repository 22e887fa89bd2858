// Every way of calling `korvane partner` that its --help (and the README)
// shows, against the real service and console simulator, each its own
// process in a private runtime folder; plus the exit statuses.
#include "tests/support/posix_endpoints.h"
#include "tests/support/run_program.h"
#include "winapi.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#ifdef KORVANE_CLI_PATH

namespace {

using namespace testing_support;

struct Invocation
{
    const char* name;
    std::vector<std::string> args; // "CAPTURE" and "CONSOLE" are filled in
    std::string input;
    int status;
    std::string out; // a piece of standard output
    std::string err; // a piece of standard error
};

const Invocation kInvocations[] = {
    {"Lines",
     {"partner", "1,2,3,4,5,100", "1,2,3,4,5,-1", "1,2,3,0,0,Ch~1"},
     "",
     0,
     "> command 1,2,3,0,0,Ch~1\nencoded 46: ",
     ""},
    {"ServiceAndCapture",
     {"partner", "--service", "demo", "--console", "CAPTURE"},
     "",
     0,
     "report: 1,1,4,1,5,0\n",
     ""},
    {"CaptureThenLineThenKeepAlive",
     {"partner", "--console", "CAPTURE", "1,2,3,4,5,-1", "--keep-alive"},
     "",
     0,
     "> command 1,2,3,4,5,-1\nencoded 48: 7F 8F FF FE D9 5C 80 30 80 00 00 00 00 7F 8F FF FE D9 5C "
     "80 30 80 A1 14 31 12 A2 10 31 0E A3 0C 31 0A A4 08 31 06 7F 20 03 02 01 01 00 00 00 00\n> "
     "keep-alive\nkeep-alive echoed\n",
     ""},
    {"StandardInput", {"partner"}, "1,2,3,4,5,Main~out\n", 0, "> command 1,2,3,4,5,Main~out\n", ""},
    {"Json",
     {"partner", "--json", "1,2,3,4,5,100"},
     "",
     0,
     "{\"event\":\"command\",\"line\":\"1,2,3,4,5,100\"}\n{\"event\":\"encoded\",\"length\":51,",
     ""},
    {"Link",
     {"partner", "--console-link", "CONSOLE", "1,2,3,4,5,100"},
     "",
     0,
     "report: 1,2,3,4,5,100\n",
     ""},
    {"LinkFromStandardInput",
     {"partner", "--console-link", "CONSOLE", "-"},
     "1,2,3,4,5,7\n",
     0,
     "report: 1,2,3,4,5,7\n",
     ""},
    {"LinkQuiet",
     {"partner", "--quiet", "--console-link", "CONSOLE", "1,2,3,4,5,8"},
     "",
     0,
     "report: 1,2,3,4,5,8\n",
     ""},
    {"NothingComesBack",
     {"partner", "1,2,3,4,5,-3"},
     "",
     1,
     "  no value",
     "value -3 means no value"},
    {"Strict",
     {"partner", "--strict", "1,2,3,4,5,1", "1,2,3,4,5,1,9"},
     "",
     2,
     "",
     "korvane partner: refused 1,2,3,4,5,1,9: more than six fields"},
    {"MissingFile",
     {"partner", "--console", "/nonexistent/capture.bin"},
     "",
     2,
     "",
     "korvane partner: cannot read /nonexistent/capture.bin: No such file or directory\n"},
    {"NoSuchService",
     {"partner", "--service", "nope", "1,2,3,4,5,1"},
     "",
     2,
     "",
     "korvane partner: no service Korvane_nope is running (none in the runtime folder "},
};

// The address a console simulator started on port 0 says it listens on.
bool ListeningAddress(const RunningProgram& console, std::string& address)
{
    const std::string err = console.ErrorSoFar();
    const size_t at = err.find("listening on ");
    const size_t end = err.find(';', at);
    if (at == std::string::npos || end == std::string::npos)
        return false;
    address = err.substr(at + 13, end - at - 13);
    return true;
}

class PartnerCli : public testing::TestWithParam<Invocation>
{};

TEST_P(PartnerCli, DoesWhatItsHelpSays)
{
    RuntimeSandbox sandbox;
    RunningProgram service(KorvaneCliPath(), {"serve", "demo"});
    ASSERT_TRUE(WaitUntil([] { return FindWindowA(nullptr, "Korvane_demo") != nullptr; }));
    RunningProgram console(KorvaneCliPath(), {"console", "--listen", "127.0.0.1:0"});
    std::string address;
    ASSERT_TRUE(WaitUntil([&] { return ListeningAddress(console, address); }));

    const Invocation& c = GetParam();
    std::vector<std::string> args = c.args;
    for (std::string& arg : args) {
        if (arg == "CAPTURE")
            arg = std::string(KORVANE_SOURCE_DIR) + "/data/console_capture.bin";
        else if (arg == "CONSOLE")
            arg = address;
    }
    const ProgramResult result = RunProgram(KorvaneCliPath(), args, c.input);
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_NE(result.out.find(c.out), std::string::npos) << result.out;
    EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
    if (c.name == std::string("LinkQuiet")) {
        EXPECT_EQ(result.out, c.out); // reports only
    }
}

INSTANTIATE_TEST_SUITE_P(Partner, PartnerCli, testing::ValuesIn(kInvocations),
                         [](const auto& test) { return std::string(test.param.name); });

// SIGTERM while the link waits for a service that never answers: it ends at
// once, names the line, and says it stopped with lines not sent (exit 2).
TEST(PartnerCliSignals, StoppedWhileTheServiceHasALineItExitsWithTwo)
{
    RuntimeSandbox sandbox;
    RawSocket mute(sandbox.Endpoint("Korvane_mute"));
    ASSERT_TRUE(mute.Bound());
    RunningProgram console(KorvaneCliPath(), {"console", "--listen", "127.0.0.1:0"});
    std::string address;
    ASSERT_TRUE(WaitUntil([&] { return ListeningAddress(console, address); }));
    RunningProgram partner(KorvaneCliPath(), {"partner", "--console-link", address, "--service",
                                              "mute", "--timeout", "60000", "1,2,3,4,5,1"});
    std::vector<uint8_t> request;
    ASSERT_TRUE(mute.Receive(request)); // the partner now waits for the answer
    ASSERT_EQ(kill(pid_t(partner.Id()), SIGTERM), 0);
    const ProgramResult result = partner.Wait();
    EXPECT_EQ(result.status, 2) << result.err;
    EXPECT_NE(result.out.find("not sent: 1,2,3,4,5,1 (stopped while the service Korvane_mute "
                              "had the block; it may have handled it)"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.err.find("korvane partner: stopped before every command line was sent\n"),
              std::string::npos)
        << result.err;
}

} // namespace

#endif // KORVANE_CLI_PATH
