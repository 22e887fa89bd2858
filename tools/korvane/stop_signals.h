// The tool's signals, caught in this one place for every command that runs
// until stopped (serve, console, partner --console-link); no library of the
// tool catches a signal.
//
// POSIX: SIGINT and SIGTERM stop, SIGUSR1 (with debugSignal) asks for a
// Debug flip, SIGPIPE is ignored. Windows: SIGINT (Ctrl+C) and SIGTERM
// through the C runtime; there is no Debug signal.
//
// Each caught signal is recorded, then onSignal(context) is called from the
// signal handler (on Windows on a thread of the runtime's): it may only do
// what a signal handler may, such as WakeMessageLoop() or CPartnerLink::Stop().
#pragma once

using SignalHook = void (*)(void* context);

// Catches the signals until ReleaseStopSignals(); onSignal may be nullptr.
// Forgets the signals recorded before.
void CatchStopSignals(SignalHook onSignal, void* context, bool debugSignal = false);
// Back to the default actions (SIGPIPE stays ignored).
void ReleaseStopSignals();

// The name of the stop signal that arrived ("SIGINT", "SIGTERM"), else
// nullptr. Any thread.
const char* StopSignalName();
// The Debug flips asked for since the last call.
int TakeDebugToggles();
