#include "host/host_state.h"

#include "host/report_reader.h"

#include <cstdarg>
#include <cstdio>

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
    SendMessageA(target, WM_COPYDATA, WPARAM(state.hostWindow), LPARAM(block));
}

int32_t HostToggleDebug(CHostState& state)
{
    state.debugFlag = state.debugFlag == 0 ? 1 : 0;
    if (state.reader)
        state.reader->SetTraceSwitch(state.debugFlag);
    return state.debugFlag;
}
