#include "tests/support/run_program.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace testing_support {

TempFile::TempFile(const std::string& contents)
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/korvane-test-XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0)
        return;
    size_t done = 0;
    while (done < contents.size()) {
        const ssize_t wrote = write(fd, contents.data() + done, contents.size() - done);
        if (wrote <= 0)
            break;
        done += size_t(wrote);
    }
    close(fd);
    m_path = pattern;
}

TempFile::~TempFile()
{
    if (!m_path.empty())
        std::remove(m_path.c_str());
}

std::string TempFile::Read() const
{
    std::ifstream in(m_path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string NativePath(const std::string& buildPath)
{
    return buildPath;
}

struct RunningProgram::Parts
{
    TempFile in, out, err;
    pid_t pid = -1;
    bool ended = false;

    explicit Parts(const std::string& input) : in(input) {}
};

RunningProgram::RunningProgram(const std::string& program, const std::vector<std::string>& args,
                               const std::string& input)
    : m_parts(new Parts(input))
{
    Parts& p = *m_parts;
    if (p.in.Path().empty() || p.out.Path().empty() || p.err.Path().empty())
        return;
    std::vector<std::string> all = {program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, p.in.Path().c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, p.out.Path().c_str(), O_WRONLY | O_TRUNC, 0);
    posix_spawn_file_actions_addopen(&actions, 2, p.err.Path().c_str(), O_WRONLY | O_TRUNC, 0);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0)
        p.pid = pid;
    posix_spawn_file_actions_destroy(&actions);
}

RunningProgram::~RunningProgram()
{
    if (m_parts->pid > 0 && !m_parts->ended) {
        kill(m_parts->pid, SIGKILL);
        waitpid(m_parts->pid, nullptr, 0);
    }
    delete m_parts;
}

bool RunningProgram::Started() const
{
    return m_parts->pid > 0;
}

unsigned long RunningProgram::Id() const
{
    return m_parts->pid > 0 ? static_cast<unsigned long>(m_parts->pid) : 0;
}

std::string RunningProgram::OutputSoFar() const
{
    return m_parts->out.Read();
}

std::string RunningProgram::ErrorSoFar() const
{
    return m_parts->err.Read();
}

ProgramResult RunningProgram::Wait(int timeoutMs)
{
    ProgramResult result;
    Parts& p = *m_parts;
    if (p.pid <= 0 || p.ended)
        return result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int wait = 0;
    bool exited = false;
    for (;;) {
        const pid_t done = waitpid(p.pid, &wait, WNOHANG);
        if (done == p.pid) {
            exited = true;
            break;
        }
        if ((done < 0 && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) {
            kill(p.pid, SIGKILL);
            waitpid(p.pid, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    p.ended = true;
    if (exited && WIFEXITED(wait))
        result.status = WEXITSTATUS(wait);
    result.out = p.out.Read();
    result.err = p.err.Read();
    return result;
}

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input, int timeoutMs)
{
    RunningProgram running(program, args, input);
    return running.Wait(timeoutMs);
}

} // namespace testing_support
