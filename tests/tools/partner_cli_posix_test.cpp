// Every way of calling `korvane partner` that its --help (and the README)
// shows, against the real service and console simulator, each its own
// process in a private runtime folder; plus the exit statuses.
#include "tests/support/posix_endpoints.h"
#include "tests/support/run_program.h"
#include "winapi.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
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

// Command lines, one per line.
std::string Lines(int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "1,2,3,4,5," + std::to_string(i) + "\n";
    return text;
}

size_t Occurrences(const std::string& text, const std::string& piece)
{
    size_t count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++count;
    return count;
}

// A service that stopped (SIGSTOP) does not answer within --timeout: the line
// is not delivered, named, and the status is 2, as without --console-link.
TEST(PartnerCliStatuses, ALineAStoppedServiceDidNotAnswerExitsWithTwo)
{
    RuntimeSandbox sandbox;
    RunningProgram service(KorvaneCliPath(), {"serve", "demo"});
    ASSERT_TRUE(WaitUntil([] { return FindWindowA(nullptr, "Korvane_demo") != nullptr; }));
    RunningProgram console(KorvaneCliPath(), {"console", "--listen", "127.0.0.1:0"});
    std::string address;
    ASSERT_TRUE(WaitUntil([&] { return ListeningAddress(console, address); }));
    ASSERT_EQ(kill(pid_t(service.Id()), SIGSTOP), 0);
    const ProgramResult result =
        RunProgram(KorvaneCliPath(), {"partner", "--service", "demo", "--timeout", "1000",
                                      "--console-link", address, "1,2,3,4,5,100"});
    kill(pid_t(service.Id()), SIGCONT);
    EXPECT_EQ(result.status, 2) << result.err;
    EXPECT_NE(result.err.find("korvane partner: the service Korvane_demo did not answer within "
                              "1000 ms\nkorvane partner: not sent: 1,2,3,4,5,100 (the service "
                              "Korvane_demo did not answer within 1000 ms; it may have handled "
                              "it)\n"),
              std::string::npos)
        << result.err;
}

// A console that accepts and never reads takes almost nothing: what the
// kernel holds for it is not delivered. Exit 2, the lines named.
TEST(PartnerCliStatuses, AConsoleThatNeverReadsLeavesTheLinesUndelivered)
{
    RuntimeSandbox sandbox;
    RunningProgram service(KorvaneCliPath(), {"serve", "demo"});
    ASSERT_TRUE(WaitUntil([] { return FindWindowA(nullptr, "Korvane_demo") != nullptr; }));
    // Listens (the kernel accepts) and never reads.
    const int silent = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(silent, 0);
    const int small = 4096;
    setsockopt(silent, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(listen(silent, 4), 0);
    ASSERT_EQ(getsockname(silent, reinterpret_cast<sockaddr*>(&address), &size), 0);
    const std::string console = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    const ProgramResult result = RunProgram(
        KorvaneCliPath(), {"partner", "--quiet", "--console-link", console, "-"}, Lines(30000));
    close(silent);
    EXPECT_EQ(result.status, 2) << result.err.substr(0, 2000);
    EXPECT_NE(result.err.find("korvane partner: the console 127.0.0.1:" +
                              std::to_string(ntohs(address.sin_port)) +
                              " did not take every message: the console took nothing for "
                              "10000 ms\n"),
              std::string::npos)
        << result.err.substr(0, 2000);
    EXPECT_NE(result.err.find("korvane partner: not sent: 1,2,3,4,5,29999 (its message did not "
                              "reach the console)\n"),
              std::string::npos);
    EXPECT_GT(Occurrences(result.err, "(its message did not reach the console)"), 25000u);
}

// Standard input is read only while the link's queue is under its bound: a
// service that takes the first line and never answers, then SIGTERM, leaves
// about the bound's worth of lines read and not sent, not the whole input.
TEST(PartnerCliStatuses, StandardInputIsReadOnlyWhileTheQueueIsUnderItsBound)
{
    RuntimeSandbox sandbox;
    RawSocket mute(sandbox.Endpoint("Korvane_mute"));
    ASSERT_TRUE(mute.Bound());
    RunningProgram console(KorvaneCliPath(), {"console", "--listen", "127.0.0.1:0"});
    std::string address;
    ASSERT_TRUE(WaitUntil([&] { return ListeningAddress(console, address); }));
    RunningProgram partner(KorvaneCliPath(),
                           {"partner", "--quiet", "--console-link", address, "--service", "mute",
                            "--timeout", "60000", "-"},
                           Lines(200000));
    std::vector<uint8_t> request;
    ASSERT_TRUE(mute.Receive(request)); // the partner now waits for the answer
    // Past the bound's worth of input (a line counts about 200 octets):
    // before, the whole input was read into the queue.
    const std::string position = "/proc/" + std::to_string(partner.Id()) + "/fdinfo/0";
    const auto offset = [&] {
        std::FILE* file = std::fopen(position.c_str(), "r");
        long pos = 0;
        if (file) {
            if (std::fscanf(file, "pos: %ld", &pos) != 1)
                pos = 0;
            std::fclose(file);
        }
        return pos;
    };
    ASSERT_TRUE(WaitUntil([&] { return offset() >= 40000; }));
    ASSERT_EQ(kill(pid_t(partner.Id()), SIGTERM), 0);
    const ProgramResult result = partner.Wait();
    EXPECT_EQ(result.status, 2);
    const size_t notSent = Occurrences(result.err, "korvane partner: not sent: ");
    EXPECT_GT(notSent, 1000u);
    EXPECT_LT(notSent, 20000u);
}

} // namespace

#endif // KORVANE_CLI_PATH
