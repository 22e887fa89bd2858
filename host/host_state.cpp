#include "host/host_state.h"

#include "host/dispatcher.h"
#include "host/report_reader.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

void HostTrace(const CHostState& state, const char* format, ...)
{
    if (state.debugFlag != 1)
        return;
    char line[600];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    HostWriteTrace(line);
}

HWND HostSendTarget(const CHostState& state)
{
    return state.blockSender ? state.blockSender : state.partnerWindow;
}

void HostSendBlock(CHostState& state, const COPYDATASTRUCT* block)
{
    HWND target = HostSendTarget(state);
    if (state.onBlock)
        state.onBlock(true, target, *block);
    // The receiver gets the descriptor as it is now: a block of another
    // partner handled while this send waits refills the outgoing descriptor,
    // and a receiver on another thread of this process reads it in place.
    COPYDATASTRUCT now = *block;
    SendMessageA(target, WM_COPYDATA, WPARAM(state.hostWindow), LPARAM(&now));
}

int32_t HostToggleDebug(CHostState& state)
{
    state.debugFlag = state.debugFlag == 0 ? 1 : 0;
    if (state.reader)
        state.reader->SetTraceSwitch(state.debugFlag);
    for (const auto& console : state.consoles)
        console->reader->SetTraceSwitch(state.debugFlag);
    return state.debugFlag;
}

CPartnerConsole::CPartnerConsole() = default;
CPartnerConsole::~CPartnerConsole() = default;

void HostAddStartupConsole(CHostState& state, CReportReader& reader)
{
    state.consoles.clear();
    auto console = std::make_unique<CPartnerConsole>();
    console->reader = &reader;
    state.consoles.push_back(std::move(console));
}

CPartnerConsole& HostConsoleFor(CHostState& state, HWND partner)
{
    ++state.consoleBlocks;
    CPartnerConsole* free = nullptr;
    CPartnerConsole* idlest = nullptr;
    for (const auto& console : state.consoles) {
        if (console->partner == partner) {
            console->lastUse = state.consoleBlocks;
            return *console;
        }
        if (!console->partner && !free)
            free = console.get();
        if (!console->feeding && (!idlest || console->lastUse < idlest->lastUse))
            idlest = console.get();
    }
    CPartnerConsole* chosen = free;
    if (!chosen && (state.consoles.size() < kMaxPartnerConsoles || !idlest)) {
        auto made = std::make_unique<CPartnerConsole>();
        made->owned = std::make_unique<CReportReader>();
        made->reader = made->owned.get();
        made->reader->Bind(state.hostWindow);
        if (state.directReports)
            made->reader->BindHandler(&HostReportHandler, &state);
        made->reader->SetTraceSwitch(state.debugFlag);
        chosen = made.get();
        state.consoles.push_back(std::move(made));
    }
    if (!chosen) {
        HostTrace(state, "console data of partner %p set aside for partner %p \n",
                  static_cast<void*>(idlest->partner), static_cast<void*>(partner));
        idlest->reader->Reset();
        idlest->lastReport[0] = '\0';
        idlest->pendingBlocks.clear();
        idlest->pendingOctets = 0;
        chosen = idlest;
    }
    chosen->partner = partner;
    chosen->lastUse = state.consoleBlocks;
    return *chosen;
}

CPartnerConsole* HostConsoleSending(CHostState& state, LPARAM line)
{
    for (const auto& console : state.consoles)
        if (console->reader->IsSendingReport(line))
            return console.get();
    return nullptr;
}
