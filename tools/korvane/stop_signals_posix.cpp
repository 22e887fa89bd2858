#include "tools/korvane/stop_signals.h"

#include <atomic>
#include <csignal>

namespace {

std::atomic<int> g_stopSignal{0};
std::atomic<int> g_debugToggles{0};
std::atomic<SignalHook> g_hook{nullptr};
std::atomic<void*> g_context{nullptr};

void CallHook()
{
    if (SignalHook hook = g_hook.load())
        hook(g_context.load());
}

void OnStopSignal(int signal)
{
    g_stopSignal.store(signal);
    CallHook();
}

void OnDebugSignal(int)
{
    g_debugToggles.fetch_add(1);
    CallHook();
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
    g_stopSignal.store(0);
    g_debugToggles.store(0);
    g_context.store(context);
    g_hook.store(onSignal);
    Catch(SIGINT, OnStopSignal);
    Catch(SIGTERM, OnStopSignal);
    if (debugSignal)
        Catch(SIGUSR1, OnDebugSignal);
    Catch(SIGPIPE, SIG_IGN);
}

void ReleaseStopSignals()
{
    Catch(SIGINT, SIG_DFL);
    Catch(SIGTERM, SIG_DFL);
    Catch(SIGUSR1, SIG_DFL);
    g_hook.store(nullptr);
    g_context.store(nullptr);
}

const char* StopSignalName()
{
    const int signal = g_stopSignal.load();
    if (!signal)
        return nullptr;
    return signal == SIGINT ? "SIGINT" : "SIGTERM";
}

int TakeDebugToggles()
{
    return g_debugToggles.exchange(0);
}
