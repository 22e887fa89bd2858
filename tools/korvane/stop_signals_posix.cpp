#include "tools/korvane/stop_signal_record.h"

#include <atomic>
#include <csignal>

namespace {

std::atomic<int> g_debugToggles{0};

void OnDebugSignal(int)
{
    g_debugToggles.fetch_add(1);
    CallStopSignalHook();
}

void Catch(int signal, void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // Reads on other threads (standard input) go on after a handler ran.
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
}

} // namespace

void CatchStopSignals(SignalHook onSignal, void* context, bool debugSignal)
{
    g_debugToggles.store(0);
    ArmStopSignals(onSignal, context);
    Catch(SIGINT, RecordStopSignal);
    Catch(SIGTERM, RecordStopSignal);
    if (debugSignal)
        Catch(SIGUSR1, OnDebugSignal);
    Catch(SIGPIPE, SIG_IGN);
}

void ReleaseStopSignals()
{
    Catch(SIGINT, SIG_DFL);
    Catch(SIGTERM, SIG_DFL);
    Catch(SIGUSR1, SIG_DFL);
    DisarmStopSignals();
}

int TakeDebugToggles()
{
    return g_debugToggles.exchange(0);
}
