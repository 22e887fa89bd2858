#include "tools/korvane/stop_signal_record.h"

#include <csignal>

namespace {

void OnStopSignal(int signal)
{
    // The C runtime puts the default action back before calling: catch the
    // next one too.
    std::signal(signal, OnStopSignal);
    RecordStopSignal(signal);
}

} // namespace

void CatchStopSignals(SignalHook onSignal, void* context, bool)
{
    ArmStopSignals(onSignal, context);
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
}

void ReleaseStopSignals()
{
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    DisarmStopSignals();
}

int TakeDebugToggles()
{
    return 0;
}
