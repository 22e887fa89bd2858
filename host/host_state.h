// The process-wide state of the host: everything the dispatcher, the
// command trees and the report reader share, in one place.
#pragma once

#include "host/host_trace.h"
#include "protocol/protocol.h"
#include "winapi.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

class CReportReader;

// The console data of one partner: a reader state and a duplicate rule of
// its own, so that one partner's unfinished message or last report never
// touches another's. With one partner there is one, around the start-up
// reader, and everything is as if the host had just that reader.
struct CPartnerConsole
{
    CPartnerConsole();
    ~CPartnerConsole();
    CPartnerConsole(const CPartnerConsole&) = delete;
    CPartnerConsole& operator=(const CPartnerConsole&) = delete;

    // The partner whose console data this is (nullptr: nobody's yet).
    HWND partner = nullptr;
    // The start-up reader, or one made for this partner (owned).
    CReportReader* reader = nullptr;
    std::unique_ptr<CReportReader> owned;
    // The last report forwarded to this partner.
    char lastReport[512] = {};

    // Console blocks of this partner that arrive while its reader is being
    // fed (sent from inside its own handlers) wait here and are fed in
    // arrival order once it returns.
    bool feeding = false;
    std::deque<std::vector<uint8_t>> pendingBlocks;
    size_t pendingOctets = 0;
    // When the partner last sent console data (a count of blocks).
    uint64_t lastUse = 0;
};

// Partners whose console data is kept apart at one time; the one that sent
// nothing for longest gives its place to a new one (with a trace line).
constexpr size_t kMaxPartnerConsoles = 8;

struct CHostState
{
    // The window whose procedure is the dispatcher; wParam of every send.
    HWND hostWindow = nullptr;
    // Set by HostAttach: the readers hand their reports to HostOnReport by a
    // direct call (HostReportHandler) rather than a message to hostWindow.
    bool directReports = false;
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
    // The report field of the latest BLOCK_REPORT.
    char reportField[REPORT_FIELD_SIZE] = {};
    // Reused for every BLOCK_ENCODED and BLOCK_REPORT; filled right before
    // each send.
    COPYDATASTRUCT outgoing = {};
    // The start-up console-data consumer, the first partner's.
    CReportReader* reader = nullptr;
    // The partners' console data, the start-up reader's first (HostAttach).
    std::vector<std::unique_ptr<CPartnerConsole>> consoles;
    uint64_t consoleBlocks = 0;

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

// Octets that may wait for a partner's reader at one time; a partner that
// sends more from inside its own handlers loses the excess (with a trace).
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
// partner's answer is not used. The receiver gets a copy of the descriptor.
void HostSendBlock(CHostState& state, const COPYDATASTRUCT* block);

// Flips the Debug switch (and the report readers' trace switches with it);
// returns the new flag.
int32_t HostToggleDebug(CHostState& state);

// Makes the start-up reader the first partner console (HostAttach).
void HostAddStartupConsole(CHostState& state, CReportReader& reader);

// The console data of this partner: its own, an unused one, a new one, or
// the place of the partner idle for longest (its state dropped, with a
// trace). A console being fed is never given away.
CPartnerConsole& HostConsoleFor(CHostState& state, HWND partner);

// The console whose reader is sending this report line now, if any.
CPartnerConsole* HostConsoleSending(CHostState& state, LPARAM line);
