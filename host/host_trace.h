// The host's trace sink: where every finished trace line of the host
// (dispatcher, command trees, report reader) goes. OutputDebugStringA,
// unless a tool or a test has installed a sink of its own. Whether a line is
// written at all is the caller's business (the Debug switch).
#pragma once

#include <functional>

using HostTraceSink = std::function<void(const char* line)>;

// Installs sink for every later trace line (an empty sink restores
// OutputDebugStringA); returns the sink it replaces.
HostTraceSink SetHostTraceSink(HostTraceSink sink);

// Writes one finished trace line through the installed sink.
void HostWriteTrace(const char* line);
