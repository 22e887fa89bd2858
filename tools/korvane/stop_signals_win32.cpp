#include "tools/korvane/stop_signals.h"

#include <atomic>
#include <csignal>

namespace {

std::atomic<int> g_stopSignal{0};
std::atomic<SignalHook> g_hook{nullptr};
std::atomic<void*> g_context{nullptr};

void OnStopSignal(int signal)
{
    // The C runtime puts the default action back before calling: catch the
    // next one too.
    std::signal(signal, OnStopSignal);
    g_stopSignal.store(signal);
    if (SignalHook hook = g_hook.load())
        hook(g_context.load());
}

} // namespace

void CatchStopSignals(SignalHook onSignal, void* context, bool)
{
    g_stopSignal.store(0);
    g_context.store(context);
    g_hook.store(onSignal);
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
}

void ReleaseStopSignals()
{
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
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
    return 0;
}
