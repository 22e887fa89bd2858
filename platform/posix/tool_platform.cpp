#include "platform/tool_platform.h"

const char* ToolProgramName()
{
    return "korvane";
}
