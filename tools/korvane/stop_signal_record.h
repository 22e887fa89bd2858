// What every platform's signal handlers share: the stop signal that arrived
// and the hook to call. Each may be used from a signal handler.
#pragma once

#include "tools/korvane/stop_signals.h"

// Forgets the signal recorded before and keeps the hook for the handlers.
void ArmStopSignals(SignalHook onSignal, void* context);
// Drops the hook.
void DisarmStopSignals();
// From a handler: records a stop signal, then calls the hook.
void RecordStopSignal(int signal);
// From a handler: calls the hook.
void CallStopSignalHook();
