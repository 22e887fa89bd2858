#include "tools/korvane/tool_platform.h"

#include "winapi.h"

#include <shellapi.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>

// Windows file names ignore case, so korvane.exe would be Korvane.exe.
const char* ToolProgramName()
{
    return "korvane-cli";
}

void UseBinaryStandardStreams()
{
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

const char* ServeUnavailableReason()
{
    return "on Windows the service is Korvane.exe: start Korvane.exe [ARG] (window Korvane_ARG) "
           "and talk to it with 'korvane-cli partner'";
}

bool OpenInBrowser(const char* url)
{
    // ShellExecuteA returns a value above 32 on success.
    return reinterpret_cast<INT_PTR>(
               ShellExecuteA(nullptr, "open", url, nullptr, nullptr, SW_SHOWNORMAL)) > 32;
}
