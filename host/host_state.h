// The process-wide state of the host: everything the dispatcher, the
// command trees and the report reader share, in one place.
#pragma once

#include "host/host_trace.h"
#include "host/protocol.h"
#include "winapi.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

class CReportReader;

struct CHostState
{
    // The window whose procedure is the dispatcher; wParam of every send.
    HWND hostWindow = nullptr;
    // The partner: "TEST_RX" at start, then the sender of the latest
    // WM_COPYDATA.
    HWND partnerWindow = nullptr;
    // The sender of the block being handled (nullptr between blocks). Every
    // block sent while a block is handled goes to its sender (HostSendBlock),
    // also when blocks of other partners were handled in between, inside a
    // send's wait; with one partner it is always the partner window.
    HWND blockSender = nullptr;
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

    // Console blocks that arrive while the reader is being fed wait here,
    // with their senders, and are fed in arrival order once it returns.
    struct PendingBlock
    {
        HWND sender = nullptr;
        std::vector<uint8_t> octets;
    };
    bool feeding = false;
    std::deque<PendingBlock> pendingBlocks;
    size_t pendingOctets = 0;

    // Handlers of the user interface, where there is one (WM_PAINT,
    // WM_COMMAND); without them those messages get the default handling.
    LRESULT (*onPaint)(CHostState& state, HWND window) = nullptr;
    LRESULT (*onCommand)(CHostState& state, HWND window, WPARAM wParam, LPARAM lParam) = nullptr;
    // The user interface's own data, for those handlers.
    void* owner = nullptr;

    // Told of every block received (sent false) and sent (sent true), with
    // the partner it came from or goes to, where a tool wants to show them.
    std::function<void(bool sent, HWND partner, const COPYDATASTRUCT& block)> onBlock;
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

// Where a block sent now goes: the sender of the block being handled, else
// the partner window.
HWND HostSendTarget(const CHostState& state);

// Sends one block to HostSendTarget with the host window as wParam; the
// partner's answer is not used.
void HostSendBlock(CHostState& state, const COPYDATASTRUCT* block);

// Flips the Debug switch (and the report reader's trace switch with it);
// returns the new flag.
int32_t HostToggleDebug(CHostState& state);
