// The windows of the loopback host, per platform: windows that only this
// process reaches (loopback_window_posix.cpp, loopback_window_win32.cpp).
#pragma once

#include "winapi.h"

#include <string>

// A new window of this process whose messages go to procedure; `role` names
// it ("host", "partner"). nullptr with the reason in `error` on failure.
HWND CreateLoopbackWindow(const char* role, WNDPROC procedure, std::string& error);
