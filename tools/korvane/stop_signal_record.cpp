#include "tools/korvane/stop_signal_record.h"

#include <atomic>
#include <csignal>

namespace {

std::atomic<int> g_stopSignal{0};
std::atomic<SignalHook> g_hook{nullptr};
std::atomic<void*> g_context{nullptr};

} // namespace

void ArmStopSignals(SignalHook onSignal, void* context)
{
    g_stopSignal.store(0);
    g_context.store(context);
    g_hook.store(onSignal);
}

void DisarmStopSignals()
{
    g_hook.store(nullptr);
    g_context.store(nullptr);
}

void RecordStopSignal(int signal)
{
    g_stopSignal.store(signal);
    CallStopSignalHook();
}

void CallStopSignalHook()
{
    if (SignalHook hook = g_hook.load())
        hook(g_context.load());
}

const char* StopSignalName()
{
    const int signal = g_stopSignal.load();
    if (!signal)
        return nullptr;
    return signal == SIGINT ? "SIGINT" : "SIGTERM";
}
