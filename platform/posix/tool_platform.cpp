#include "platform/tool_platform.h"

#include "winapi.h"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <string>

extern char** environ;

namespace {

std::atomic<int> g_stopSignal{0};
std::atomic<int> g_debugToggles{0};

void OnStopSignal(int signal)
{
    g_stopSignal.store(signal);
    WakeMessageLoop();
}

void OnDebugSignal(int)
{
    g_debugToggles.fetch_add(1);
    WakeMessageLoop();
}

void Catch(int signal, void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(signal, &action, nullptr);
}

} // namespace

const char* ToolProgramName()
{
    return "korvane";
}

void UseBinaryStandardStreams() {}

const char* ServeUnavailableReason()
{
    return nullptr;
}

void CatchServiceSignals()
{
    g_stopSignal.store(0);
    g_debugToggles.store(0);
    Catch(SIGINT, OnStopSignal);
    Catch(SIGTERM, OnStopSignal);
    Catch(SIGUSR1, OnDebugSignal);
    Catch(SIGPIPE, SIG_IGN);
}

void ReleaseServiceSignals()
{
    Catch(SIGINT, SIG_DFL);
    Catch(SIGTERM, SIG_DFL);
    Catch(SIGUSR1, SIG_DFL);
}

int TakeDebugToggles()
{
    return g_debugToggles.exchange(0);
}

const char* StopSignalName()
{
    const int signal = g_stopSignal.load();
    if (!signal)
        return nullptr;
    return signal == SIGINT ? "SIGINT" : "SIGTERM";
}

bool OpenInBrowser(const char* url)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char program[] = "xdg-open";
    std::string target = url;
    char* argv[] = {program, target.data(), nullptr};
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    // Not waited for: the browser may outlive the tool.
    return failed == 0;
}
