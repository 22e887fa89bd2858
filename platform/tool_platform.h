// What the korvane tool needs from the platform beyond the window calls.
// Each platform supplies these in platform/<os>/tool_platform.cpp.
#pragma once

// The tool's program name as users type it, used in its usage lines and
// messages.
const char* ToolProgramName();
