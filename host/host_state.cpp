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

int32_t HostToggleDebug(CHostState& state)
{
    state.debugFlag = state.debugFlag == 0 ? 1 : 0;
    if (state.reader)
        state.reader->SetTraceSwitch(state.debugFlag);
    return state.debugFlag;
}
