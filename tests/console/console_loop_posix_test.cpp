// The whole loop with the real programs: `korvane serve`, `korvane console`
// and `korvane partner --console-link`, each its own process, in a private
// runtime folder; the console on a free loopback port. Every wait is bounded.
#include "tests/support/console_helpers.h"
#include "tests/support/posix_endpoints.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/write.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sstream>

#ifdef KORVANE_CLI_PATH

namespace {

using namespace testing_support;

// A korvane process; its standard input stays open until CloseInput.
class Tool
{
public:
    explicit Tool(const std::vector<std::string>& args)
    {
        int outPipe[2], errPipe[2], inPipe[2];
        if (pipe2(outPipe, O_CLOEXEC) || pipe2(errPipe, O_CLOEXEC) || pipe2(inPipe, O_CLOEXEC))
            return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(inPipe[0], 0);
            dup2(outPipe[1], 1);
            dup2(errPipe[1], 2);
            std::vector<std::string> copies = args;
            std::string path = KORVANE_CLI_PATH;
            std::vector<char*> argv = {path.data()};
            for (std::string& arg : copies)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            execv(path.c_str(), argv.data());
            _exit(127);
        }
        close(outPipe[1]);
        close(errPipe[1]);
        close(inPipe[0]);
        m_in = inPipe[1];
        m_out = outPipe[0];
        m_err = errPipe[0];
        fcntl(m_out, F_SETFL, O_NONBLOCK);
        fcntl(m_err, F_SETFL, O_NONBLOCK);
    }
    ~Tool()
    {
        CloseInput();
        if (m_pid > 0 && !m_ended) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        close(m_out);
        close(m_err);
    }

    void Line(const std::string& line)
    {
        const std::string text = line + "\n";
        ASSERT_EQ(write(m_in, text.data(), text.size()), ssize_t(text.size()));
    }
    void CloseInput()
    {
        if (m_in >= 0)
            close(m_in);
        m_in = -1;
    }
    void Signal(int signal) { kill(m_pid, signal); }

    void Collect()
    {
        char chunk[4096];
        ssize_t got;
        while ((got = read(m_out, chunk, sizeof chunk)) > 0)
            out.append(chunk, size_t(got));
        while ((got = read(m_err, chunk, sizeof chunk)) > 0)
            err.append(chunk, size_t(got));
    }

    // Whole lines of standard output equal to line.
    size_t Count(const std::string& line)
    {
        Collect();
        std::istringstream lines(out);
        size_t count = 0;
        for (std::string one; std::getline(lines, one);)
            count += one == line;
        return count;
    }
    bool WaitFor(const std::string& line, size_t count = 1)
    {
        return WaitUntil([&] { return Count(line) >= count; });
    }
    bool WaitForError(const std::string& text)
    {
        return WaitUntil([&] {
            Collect();
            return err.find(text) != std::string::npos;
        });
    }

    // The exit code (after a bounded wait), -1 when it had to be killed.
    int ExitCode()
    {
        int status = 0;
        const bool ended = WaitUntil([&] {
            Collect();
            return waitpid(m_pid, &status, WNOHANG) == m_pid;
        });
        m_ended = true;
        if (!ended) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            return -1;
        }
        Collect();
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string out;
    std::string err;

private:
    pid_t m_pid = -1;
    int m_in = -1, m_out = -1, m_err = -1;
    bool m_ended = false;
};

class ConsoleLoop : public ::testing::Test
{
protected:
    void StartService(const std::string& name = "demo")
    {
        services.push_back(std::make_unique<Tool>(std::vector<std::string>{"serve", name}));
        ASSERT_TRUE(services.back()->WaitForError("korvane serve: ready"));
    }

    void StartConsole(std::vector<std::string> faults = {})
    {
        std::vector<std::string> args = {"console", "--listen", "127.0.0.1:0", "--verbose"};
        args.insert(args.end(), faults.begin(), faults.end());
        console = std::make_unique<Tool>(args);
        ASSERT_TRUE(console->WaitForError("korvane console: listening on 127.0.0.1:"));
        const size_t at = console->err.find("listening on ") + 13;
        address = console->err.substr(at, console->err.find(';', at) - at);
        port = uint16_t(std::stoi(address.substr(address.find(':') + 1)));
    }

    std::unique_ptr<Tool> Link(std::vector<std::string> extra = {"-"})
    {
        std::vector<std::string> args = {
            "partner", "--service", "Korvane_demo", "--console-link", address, "--retries", "30"};
        args.insert(args.end(), extra.begin(), extra.end());
        return std::make_unique<Tool>(args);
    }

    // A command line through the link; each report's count grows by one.
    void Round(Tool& link, const std::string& line, const std::vector<std::string>& reports)
    {
        SCOPED_TRACE(line);
        std::vector<size_t> before;
        for (const std::string& report : reports)
            before.push_back(link.Count("report: " + report));
        link.Line(line);
        for (size_t i = 0; i < reports.size(); ++i)
            EXPECT_TRUE(link.WaitFor("report: " + reports[i], before[i] + 1)) << reports[i] << "\n"
                                                                              << link.out;
    }

    RuntimeSandbox sandbox;
    std::vector<std::unique_ptr<Tool>> services;
    std::unique_ptr<Tool> console;
    std::string address;
    uint16_t port = 0;
};

struct Step
{
    const char* line;
    std::vector<std::string> reports;
};

// Every shape, with the reports the service makes of the console's answers
// (a report equal to the one before it is dropped by the service).
const std::vector<Step> kShapes = {
    {"1,2,3,4,5,100", {"1,2,3,4,5,100"}},
    {"1,2,3,4,6,Main~out", {"1,2,3,4,6,Main~out (text)"}},
    {"1,2,3,4,5,-1", {"1,2,3,4,5,100", "1,2,3,4,6,Main~out (text)"}},
    {"1,2,3,0,0,Ch~1", {"1,2,3,0,0,Ch~1 (text)"}},
    {"1,2,3,9,0,-1", {"1,2,3,4,5,100", "1,2,3,4,6,Main~out (text)"}},
    {"1,2,3,4,0,75", {"1,2,3,0,4,75"}},
    {"1,2,3,4,0,Aux~2", {"1,2,3,0,4,Aux~2 (text)"}},
    {"1,2,3,0,0,-1", {"1,2,3,0,0,Ch~1 (text)", "1,2,3,0,4,Aux~2 (text)", "1,2,3,4,5,100"}},
};

TEST_F(ConsoleLoop, EveryShapeGoesToTheConsoleAndComesBackAsItsReports)
{
    StartService();
    StartConsole();
    auto link = Link();
    ASSERT_TRUE(link->WaitFor("link: connected to " + address));
    for (const Step& step : kShapes)
        Round(*link, step.line, step.reports);
    // A poll of a container holding nothing: no answer, no report.
    link->Line("1,7,3,0,0,-1");
    ASSERT_TRUE(console->WaitForError("client 1: message: poll 1/7: 0 parameters"));
    link->CloseInput();
    EXPECT_EQ(link->ExitCode(), 0) << link->err;
    EXPECT_EQ(link->Count("report: 1,2,3,4,5,100"), 4u);
    EXPECT_EQ(link->out.find("> console 13 octets"), std::string::npos);
    console->Signal(SIGTERM);
    EXPECT_EQ(console->ExitCode(), 0);
}

class ConsoleLoopFaults : public ConsoleLoop,
                          public ::testing::WithParamInterface<std::vector<std::string>>
{};

TEST_P(ConsoleLoopFaults, EveryReportArrivesOnce)
{
    StartService();
    StartConsole(GetParam());
    auto link = Link();
    ASSERT_TRUE(link->WaitFor("link: connected to " + address));
    // With --drop-after N the console closes the link after every Nth
    // message. A block written just as it closes is lost with that
    // connection (TCP gives no receipt, and writing it again could feed the
    // console twice), so the next line waits for the new connection.
    size_t dropAfter = 0;
    for (size_t i = 0; i + 1 < GetParam().size(); ++i)
        if (GetParam()[i] == "--drop-after")
            dropAfter = std::stoul(GetParam()[i + 1]);
    size_t rounds = 0;
    auto after = [&] {
        ++rounds;
        if (!dropAfter || rounds % dropAfter)
            return;
        const size_t drops = rounds / dropAfter;
        ASSERT_TRUE(WaitUntil([&] {
            link->Collect();
            size_t lost = 0;
            for (size_t at = 0; (at = link->out.find("link: lost", at)) != std::string::npos; ++at)
                ++lost;
            return lost >= drops;
        }));
        ASSERT_TRUE(link->WaitFor("link: connected to " + address, drops + 1));
    };
    for (int value = 1; value <= 6; ++value) {
        Round(*link, "1,2,3,4,5," + std::to_string(value * 11),
              {"1,2,3,4,5," + std::to_string(value * 11)});
        after();
    }
    Round(*link, "1,2,3,0,0,Name~" + std::string(5, 'x'), {"1,2,3,0,0,Name~xxxxx (text)"});
    link->CloseInput();
    EXPECT_EQ(link->ExitCode(), 0) << link->err;
    for (int value = 1; value <= 6; ++value)
        EXPECT_EQ(link->Count("report: 1,2,3,4,5," + std::to_string(value * 11)), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ConsoleLoopFaults,
    ::testing::Values(std::vector<std::string>{"--chunk", "1"},
                      std::vector<std::string>{"--garbage"},
                      std::vector<std::string>{"--delay", "40"},
                      std::vector<std::string>{"--chunk", "3", "--garbage", "--delay", "5"},
                      std::vector<std::string>{"--drop-after", "1"},
                      std::vector<std::string>{"--drop-after", "2", "--chunk", "1"}));

TEST_F(ConsoleLoop, ASecondClientsChangeIsAnnouncedAsAReport)
{
    StartService();
    StartService("second");
    StartConsole();
    auto first = Link();
    ASSERT_TRUE(first->WaitFor("link: connected to " + address));
    Round(*first, "1,2,3,4,5,1", {"1,2,3,4,5,1"});
    Tool second({"partner", "--name", "TEST_RX2", "--service", "Korvane_second", "--console-link",
                 address, "1,2,3,4,5,2"});
    EXPECT_EQ(second.ExitCode(), 0) << second.err;
    EXPECT_EQ(second.Count("report: 1,2,3,4,5,2"), 1u);
    EXPECT_TRUE(first->WaitFor("report: 1,2,3,4,5,2"));
    EXPECT_TRUE(console->WaitForError("client 1: announce 42 octets"));
}

TEST_F(ConsoleLoop, TheConsolesKeepAliveMakesTheRoundTrip)
{
    StartService();
    StartConsole({"--keepalive", "1"});
    auto link = Link({});
    ASSERT_TRUE(link->WaitFor("keep-alive echoed"));
    EXPECT_TRUE(link->WaitFor("> keep-alive (console)"));
    EXPECT_TRUE(console->WaitForError("client 1: keep-alive came back"));
    // Without command lines the link runs until it is stopped.
    link->Signal(SIGTERM);
    EXPECT_EQ(link->ExitCode(), 0);
}

TEST_F(ConsoleLoop, AConsoleThatNeverAnswersLeavesTheServiceAndTheLinkRunning)
{
    StartService();
    asio::io_context io;
    asio::ip::tcp::acceptor silent(io,
                                   asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    address = "127.0.0.1:" + std::to_string(silent.local_endpoint().port());
    auto link = Link({"--wait", "200", "1,2,3,4,5,1"});
    EXPECT_EQ(link->ExitCode(), 0) << link->err;
    EXPECT_EQ(link->Count("link: connected to " + address), 1u);
    EXPECT_NE(link->out.find("encoded 51: "), std::string::npos);
    EXPECT_EQ(link->out.find("report:"), std::string::npos);
    // The service still answers.
    Tool plain({"partner", "--service", "Korvane_demo", "1,2,3,4,5,2"});
    EXPECT_EQ(plain.ExitCode(), 0);
}

TEST_F(ConsoleLoop, AConsoleThatCannotBeReachedGivesUpWithAClearMessage)
{
    StartService();
    {
        asio::io_context io;
        asio::ip::tcp::acceptor probe(
            io, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
        address = "127.0.0.1:" + std::to_string(probe.local_endpoint().port());
    }
    Tool link({"partner", "--service", "Korvane_demo", "--console-link", address, "--retries", "2",
               "1,2,3,4,5,1"});
    EXPECT_EQ(link.ExitCode(), 2);
    EXPECT_NE(link.err.find("korvane partner: the console " + address + " cannot be reached"),
              std::string::npos)
        << link.err;
    EXPECT_EQ(link.out.find("link: connected"), std::string::npos);
    EXPECT_NE(link.out.find("link: cannot reach the console"), std::string::npos);
    EXPECT_NE(link.out.find("link: giving up"), std::string::npos);
}

TEST_F(ConsoleLoop, AServiceRestartedWhileLinkedGetsWhatTheConsoleSentOnce)
{
    StartService();
    StartConsole();
    auto link = Link();
    ASSERT_TRUE(link->WaitFor("link: connected to " + address));
    Round(*link, "1,2,3,4,5,1", {"1,2,3,4,5,1"});
    services.back()->Signal(SIGTERM);
    ASSERT_EQ(services.back()->ExitCode(), 0);
    // Another client of the console changes the parameter while the service is gone.
    asio::io_context io;
    asio::ip::tcp::socket other(io);
    other.connect(asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), port));
    asio::write(other, asio::buffer(console_testing::HostBlock("1,2,3,4,5,777")));
    ASSERT_TRUE(WaitUntil([&] {
        link->Collect();
        return link->out.find("service: the service Korvane_demo did not take the block") !=
               std::string::npos;
    }));
    StartService();
    ASSERT_TRUE(link->WaitFor("report: 1,2,3,4,5,777"));
    EXPECT_TRUE(link->WaitFor("service: the service takes blocks again"));
    Round(*link, "1,2,3,4,5,2", {"1,2,3,4,5,2"});
    link->CloseInput();
    EXPECT_EQ(link->ExitCode(), 0);
    EXPECT_EQ(link->Count("report: 1,2,3,4,5,777"), 1u);
    // The announcement of 777 (43 octets) went to the service once.
    EXPECT_EQ(link->Count("> console 43 octets (console)"), 1u);
}

TEST_F(ConsoleLoop, TheLinksServiceIsNamedAsWithoutTheLink)
{
    StartService();
    StartConsole();
    Tool link({"partner", "--service", "demo", "--console-link", address, "1,2,3,4,5,9"});
    EXPECT_EQ(link.ExitCode(), 0) << link.err;
    EXPECT_EQ(link.Count("report: 1,2,3,4,5,9"), 1u) << link.out;
    Tool none({"partner", "--service", "nope", "--console-link", address, "1,2,3,4,5,9"});
    EXPECT_NE(none.ExitCode(), 0);
    EXPECT_EQ(none.err.rfind("korvane partner: no service Korvane_nope is running (", 0), 0u)
        << none.err;
}

TEST_F(ConsoleLoop, JsonGivesOneObjectPerEvent)
{
    StartService();
    StartConsole();
    auto link = Link({"--json", "1,2,3,4,0,Aux~2"});
    EXPECT_EQ(link->ExitCode(), 0) << link->err;
    std::istringstream lines(link->out);
    std::vector<std::string> events;
    nlohmann::json report;
    for (std::string line; std::getline(lines, line);) {
        const nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
        ASSERT_FALSE(object.is_discarded()) << line;
        // A report is the object `decode --json` writes; the rest name their event.
        events.push_back(object.contains("event") ? object.at("event").get<std::string>()
                                                  : std::string("report"));
        if (events.back() == "report")
            report = object;
    }
    // The connection is made on the link's own thread, so its event may come
    // before or after the command's; it always comes before console data.
    const auto linked = std::find(events.begin(), events.end(), "link");
    ASSERT_NE(linked, events.end()) << link->out;
    EXPECT_LT(linked - events.begin(),
              std::find(events.begin(), events.end(), "console") - events.begin())
        << link->out;
    events.erase(linked);
    EXPECT_EQ(events, (std::vector<std::string>{"command", "encoded", "console", "report"}))
        << link->out;
    EXPECT_EQ(report["report"], "1,2,3,0,4,Aux~2 ");
    EXPECT_EQ(report["value"], "Aux 2");
    EXPECT_EQ(report["type"], "text");
}

TEST_F(ConsoleLoop, TheConsoleSavesItsStateAndStartsFromIt)
{
    const std::string state = sandbox.Path() + "/state.json";
    StartService();
    StartConsole({"--state", state, "--save"});
    {
        // The service drops a report equal to its last: end on another one.
        auto link = Link({"1,2,3,0,0,Ch~9", "1,2,3,4,5,42"});
        EXPECT_EQ(link->ExitCode(), 0);
    }
    console->Signal(SIGINT);
    EXPECT_EQ(console->ExitCode(), 0);
    EXPECT_NE(console->err.find("saved 2 parameters to " + state), std::string::npos)
        << console->err;
    StartConsole({"--state", state});
    EXPECT_NE(console->err.find("; 2 parameters, top level 7"), std::string::npos);
    auto link = Link({"1,2,3,0,0,-1"});
    EXPECT_EQ(link->ExitCode(), 0);
    EXPECT_EQ(link->Count("report: 1,2,3,0,0,Ch~9 (text)"), 1u);
    EXPECT_EQ(link->Count("report: 1,2,3,4,5,42"), 1u);
}

TEST(ConsoleOptions, ListensOnANameResolvedAsTheLinkResolvesIt)
{
    RuntimeSandbox sandbox;
    Tool console({"console", "--listen", "localhost:0"});
    ASSERT_TRUE(console.WaitForError("korvane console: listening on ")) << console.err;
    const bool loopback = console.err.find("listening on 127.0.0.1:") != std::string::npos ||
                          console.err.find("listening on [::1]:") != std::string::npos;
    EXPECT_TRUE(loopback) << console.err;
    console.Signal(SIGTERM);
    EXPECT_EQ(console.ExitCode(), 0);
}

TEST(ConsoleOptions, UsageErrorsNameTheProblem)
{
    RuntimeSandbox sandbox;
    struct Row
    {
        std::vector<std::string> args;
        const char* error;
    };
    const Row rows[] = {
        {{"console", "--listen", "127.0.0.1"},
         "korvane console: --listen: '127.0.0.1' is not ADDR:PORT"},
        {{"console", "--save"}, "korvane console: --save needs --state FILE"},
        {{"console", "--keepalive", "0"},
         "korvane console: --keepalive needs a number from 1 to 86400"},
        {{"console", "--drop-after", ""},
         "korvane console: --drop-after needs a number from 1 to 1073741824"},
        {{"console", "--state", "/nonexistent/state.json"},
         "korvane console: cannot read /nonexistent/state.json: No such file or directory\n"},
        {{"console", "--state", "/tmp"},
         "korvane console: /tmp: not a regular file (a directory)\n"},
        {{"console", "--state", "/dev/zero"},
         "korvane console: /dev/zero: not a regular file (a character device)\n"},
        {{"console", "--max-clients", "0"},
         "korvane console: --max-clients needs a number from 1 to 100000"},
        {{"console", "--client-queue", "4097"},
         "korvane console: --client-queue needs a number from 1 to 4096"},
        {{"console", "--unfinished", "x"},
         "korvane console: --unfinished needs a number from 1 to 65536"},
        {{"partner", "--console-link", "host:99999"},
         "korvane partner: --console-link: '99999' is not a port"},
        {{"partner", "--retries", "3", "1,2,3,4,5,1"},
         "korvane partner: --retries goes with --console-link"},
        {{"partner", "--console-link", "127.0.0.1:1", "--keep-alive"},
         "korvane partner: --console and --keep-alive do not go with --console-link"},
        {{"partner", "--console-link", "127.0.0.1:1", "--retries", "x"},
         "korvane partner: --retries: "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.error);
        Tool tool(row.args);
        EXPECT_EQ(tool.ExitCode(), 2);
        // A message ending in a newline is the whole of standard error.
        if (std::string(row.error).back() == '\n')
            EXPECT_EQ(tool.err, row.error);
        else
            EXPECT_EQ(tool.err.rfind(row.error, 0), 0u) << tool.err;
    }
}

} // namespace

#endif
