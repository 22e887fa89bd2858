// The one binding of the host core to a window, used by Korvane.exe,
// `korvane serve`, the loopback host and the fuzz target alike.
//
// A host window is made with HostWindowProcedure as its procedure; HostAttach
// then makes it the window of a CHostState: the window's user value points at
// the state, the state's host window is the window, and the report reader is
// bound to it as the one console-data consumer. From then on every message
// of the window goes to the dispatcher (HostDispatch). Messages that arrive
// before HostAttach (while the window is being created) or after HostDetach
// get the default handling.
#pragma once

#include "host/host_state.h"
#include "host/report_reader.h"
#include "winapi.h"

#include <cstddef>
#include <string>

// The host window's procedure.
LRESULT CALLBACK HostWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Makes window the host window of state, with reader as its console-data
// consumer. The partner window is left as it is.
void HostAttach(CHostState& state, CReportReader& reader, HWND window);

// Undoes HostAttach: the window's messages get the default handling again
// (so destroying it posts no quit message) and the reader is unbound.
void HostDetach(CHostState& state);

// The partner window at start: the window named "TEST_RX", or none.
HWND HostFindPartner();

// The host window's name for the program's arguments: "Korvane_" and the
// arguments, cut to `room` characters.
std::string HostWindowName(const std::string& arguments, size_t room);
