// Real windows for the host tests: a named window whose messages go to a
// std::function, created on the platform's own window system (a message-only
// window on Windows, a window of our message layer elsewhere). The platform
// parts live in test_window_win32.cpp and test_window_posix.cpp.
#pragma once

#include "winapi.h"

#include <functional>
#include <memory>
#include <string>

namespace testing_support {

using MessageHandler = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

class TestWindow
{
public:
    // Throws std::runtime_error when the window cannot be created.
    TestWindow(const std::string& name, MessageHandler handler);
    ~TestWindow();
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    HWND Handle() const { return m_window; }

private:
    HWND m_window = nullptr;
};

// A window name no other test window uses, in this process or another one:
// the prefix, the process id and a counter.
std::string UniqueWindowName(const char* prefix);

// A place of its own for the endpoints a test makes, while it lives: a
// private runtime folder on our message layer; nothing on Windows, where the
// names UniqueWindowName gives keep tests apart.
class PrivateEndpoints
{
public:
    PrivateEndpoints();
    ~PrivateEndpoints();
    PrivateEndpoints(const PrivateEndpoints&) = delete;
    PrivateEndpoints& operator=(const PrivateEndpoints&) = delete;

private:
    struct Parts;
    std::unique_ptr<Parts> m_parts;
};

// Platform parts.
HWND CreatePlatformWindow(const char* name, WNDPROC procedure);
void DestroyPlatformWindow(HWND window);
unsigned long CurrentProcessId();

} // namespace testing_support
