// Every exit status that `--help` of the tool and of each command names, run:
// the statuses are read from the help texts themselves, so a status named
// there without a case here fails, as does a case that exits otherwise.
#include "tests/tools/cli_cases.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#ifdef KORVANE_CLI_PATH

namespace {

using namespace korvane_cli_tests;
using testing_support::RunningProgram;

// The statuses the "exit status" paragraph of a help text names.
std::set<int> NamedStatuses(const std::string& help)
{
    const size_t start = help.find("\nexit status");
    if (start == std::string::npos)
        return {};
    const size_t end = help.find("\n\n", start + 1);
    const std::string paragraph = help.substr(start, end - start);
    std::set<int> statuses;
    static const std::regex number("(?:[:;,]|\\n) *([0-9]) ");
    for (std::sregex_iterator it(paragraph.begin(), paragraph.end(), number), last; it != last;
         ++it)
        statuses.insert(std::stoi((*it)[1]));
    return statuses;
}

// Waits (bounded) until the program's standard error holds `text`.
bool WaitForError(const RunningProgram& program, const std::string& text)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (program.ErrorSoFar().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Runs a service (or console) until it is ready, then stops it with SIGTERM.
int StartAndStop(const std::vector<std::string>& args, const std::string& ready)
{
    RunningProgram program(KORVANE_CLI_PATH, args);
    if (!WaitForError(program, ready))
        return -1;
    kill(pid_t(program.Id()), SIGTERM);
    return program.Wait().status;
}

class ExitStatus : public testing::Test
{
protected:
    void SetUp() override
    {
        char folder[] = "/tmp/korvane-exit-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_folder = folder;
        setenv("KORVANE_RUNTIME_DIR", folder, 1);
    }
    void TearDown() override
    {
        unsetenv("KORVANE_RUNTIME_DIR");
        std::system(("rm -rf '" + m_folder + "'").c_str());
    }
    std::string m_folder;
};

TEST_F(ExitStatus, EveryStatusTheHelpNamesIsReached)
{
    // Runs the case; its exit status.
    using Case = std::function<int()>;
    auto run = [](std::vector<std::string> args, std::string input = "") -> Case {
        return [args, input] { return Korvane(args, input).status; };
    };
    // A service of its own around a run.
    auto withService = [](std::vector<std::string> args) -> Case {
        return [args] {
            RunningProgram service(KORVANE_CLI_PATH, {"serve", "exit"});
            if (!WaitForError(service, "ready"))
                return -1;
            const int status = Korvane(args).status;
            kill(pid_t(service.Id()), SIGTERM);
            service.Wait();
            return status;
        };
    };
    const std::string bad = m_folder + "/no such file";
    const std::map<std::string, std::map<int, Case>> cases =
        {
            {"",
             {{0, run({"--version"})},
              {1, run({"encode", "1,2,3"})},
              {2, run({"no-such-command"})}}},
            {"encode",
             {{0, run({"encode", "1,2,3,4,5,100"})},
              {1, run({"encode", "1,2,3"})},
              {2, run({"encode", "--strict", "1,2,3,4,5,100,7"})}}},
            {"decode",
             {{0, run({"decode", "--hex"}, kValue100)},
              {1, run({"decode", "--hex"}, "00")},
              {2, run({"decode", bad})}}},
            {"dump",
             {{0, run({"dump", "--hex"}, kSmall)},
              {1, run({"dump", "--hex"}, "00")},
              {2, run({"dump", bad})}}},
            {"reencode",
             {{0, run({"reencode", "--hex"}, kSmall)},
              {1, run({"reencode", "--hex"}, "00")},
              {2, run({"reencode", bad})}}},
            {"serve",
             {{0,
               [] {
        return StartAndStop({"serve", "exit"}, "ready");
               }},
              {1, withService({"serve", "exit"})},
              {2, run({"serve", "--timeout", "0"})}}},
            {"partner",
             {{0, withService({"partner", "--service", "exit", "1,2,3,4,5,100"})},
              {1, withService({"partner", "--service", "exit", "1,2,3"})},
              {2, run({"partner", "--service", "exit", "1,2,3,4,5,100"})}}},
            {"console",
             {{0,
               [] {
        return StartAndStop({"console", "--listen", "127.0.0.1:0"}, "listening");
               }},
              {2, run({"console", "--top", "x"})}}},
                                                     };
    for (const auto& [command, statuses] : cases) {
        std::vector<std::string> helpArgs = {"--help"};
        if (!command.empty())
            helpArgs.insert(helpArgs.begin(), command);
        const std::set<int> named = NamedStatuses(Korvane(helpArgs).out);
        std::set<int> covered;
        for (const auto& entry : statuses)
            covered.insert(entry.first);
        EXPECT_EQ(named, covered) << "'" << command << " --help' names these statuses";
        for (const auto& [status, reach] : statuses)
            EXPECT_EQ(reach(), status) << "'" << command << "' exit status " << status;
    }
    // The refused runtime folder is bad usage for serve, as its help says.
    ASSERT_EQ(chmod(m_folder.c_str(), 0777), 0);
    EXPECT_EQ(Korvane({"serve", "exit"}).status, 2);
    chmod(m_folder.c_str(), 0700);
}

} // namespace

#endif // KORVANE_CLI_PATH
