// The host window's dispatcher: the partner protocol.
//
// WM_COPYDATA: the sender becomes the partner window, and every block sent
// while this one is handled goes to it; a BLOCK_COMMAND is
// parsed and handed to the command trees, a BLOCK_CONSOLE_DATA of 13 octets
// is echoed as a keep-alive, any other console block is fed to the report
// reader. MSG_PARAM_REPORT: a report from the host's own reader is
// forwarded to the partner unless it equals the last one forwarded.
// WM_DESTROY posts the quit message; WM_PAINT and WM_COMMAND go to the user
// interface; everything else gets DefWindowProcA.
#pragma once

#include "host/host_state.h"
#include "winapi.h"

// The window procedure's body for the host window.
LRESULT HostDispatch(CHostState& state, HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Handles one WM_COPYDATA block; the result of the dispatch (0 for a
// command without a value, else 1).
LRESULT HostOnCopyData(CHostState& state, HWND sender, const COPYDATASTRUCT* block);

// Handles MSG_PARAM_REPORT; always 0.
LRESULT HostOnReport(CHostState& state, WPARAM wParam, LPARAM lParam);
// A report handler of the host's readers (CReportReader::BindHandler, with
// the host's state as context): HostOnReport of the line, as the message
// to the host window would run it.
void HostReportHandler(void* state, const char* line);
