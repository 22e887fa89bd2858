// What the korvane program needs from the platform beyond the window calls.
// Each platform supplies these in tool_platform_<os>.cpp beside this file.
#pragma once

// The tool's program name as users type it, used in its usage lines and
// messages.
const char* ToolProgramName();

// Standard input, output and error in binary mode, so that the octets the
// tool writes are the ones that arrive and console data read from standard
// input is read as it is (a no-op where streams have no text mode).
void UseBinaryStandardStreams();

// Why `serve` is not offered on this platform, in one line; nullptr where
// it is (on Windows Korvane.exe is the service).
const char* ServeUnavailableReason();

// Opens url in the user's browser without waiting for it (POSIX: xdg-open;
// Windows: the shell's handler); false when it could not be started.
bool OpenInBrowser(const char* url);
