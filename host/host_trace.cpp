#include "host/host_trace.h"

#include "winapi.h"

#include <utility>

namespace {

HostTraceSink& TheTraceSink()
{
    static HostTraceSink sink;
    return sink;
}

} // namespace

HostTraceSink SetHostTraceSink(HostTraceSink sink)
{
    return std::exchange(TheTraceSink(), std::move(sink));
}

void HostWriteTrace(const char* line)
{
    const HostTraceSink& sink = TheTraceSink();
    if (sink)
        sink(line);
    else
        OutputDebugStringA(line);
}
