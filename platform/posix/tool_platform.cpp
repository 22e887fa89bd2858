#include "platform/tool_platform.h"

const char* ToolProgramName()
{
    return "korvane";
}

void UseBinaryStandardStreams() {}

const char* ServeUnavailableReason()
{
    return nullptr;
}
