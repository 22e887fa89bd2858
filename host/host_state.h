// The process-wide state of the host: everything the dispatcher, the
// command trees and the report reader share, in one place.
#pragma once

#include "host/host_trace.h"
#include "host/protocol.h"
#include "winapi.h"

#include <cstdint>
#include <deque>
#include <vector>

class CReportReader;

struct CHostState
{
    // The window whose procedure is the dispatcher; wParam of every send.
    HWND hostWindow = nullptr;
    // Where every outgoing block goes: "TEST_RX" at start, then the sender
    // of the latest WM_COPYDATA.
    HWND partnerWindow = nullptr;
    // 0 off, 1 on; traces are written only while it is 1.
    int32_t debugFlag = 0;
    // The last report forwarded to the partner.
    char lastReport[512] = {};
    // The report field of the latest BLOCK_REPORT.
    char reportField[REPORT_FIELD_SIZE] = {};
    // Reused for every BLOCK_ENCODED and BLOCK_REPORT; filled right before
    // each send.
    COPYDATASTRUCT outgoing = {};
    // The one console-data consumer.
    CReportReader* reader = nullptr;

    // Console blocks that arrive while the reader is being fed wait here and
    // are fed in arrival order once it returns.
    bool feeding = false;
    std::deque<std::vector<uint8_t>> pendingBlocks;
    size_t pendingOctets = 0;

    // Handlers of the user interface, where there is one (WM_PAINT,
    // WM_COMMAND); without them those messages get the default handling.
    LRESULT (*onPaint)(CHostState& state, HWND window) = nullptr;
    LRESULT (*onCommand)(CHostState& state, HWND window, WPARAM wParam, LPARAM lParam) = nullptr;
};

// Octets that may wait for the reader at one time; a partner that sends more
// from inside its own handlers loses the excess (with a trace).
constexpr size_t kMaxPendingOctets = 16u << 20;

// Writes a trace line through HostWriteTrace while the debug flag is on.
void HostTrace(const CHostState& state, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Flips the Debug switch (and the report reader's trace switch with it);
// returns the new flag.
int32_t HostToggleDebug(CHostState& state);
