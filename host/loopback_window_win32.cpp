#include "host/loopback_window.h"

#include <cinttypes>
#include <cstdio>

HWND CreateLoopbackWindow(const char* role, WNDPROC procedure, std::string& error)
{
    // Message-only windows: never shown, not enumerated, not found by other
    // programs. One window class per procedure.
    HINSTANCE instance = GetModuleHandleA(nullptr);
    char className[64];
    std::snprintf(className, sizeof className, "KorvaneLoopback_%" PRIxPTR,
                  reinterpret_cast<uintptr_t>(procedure));
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    if (!GetClassInfoExA(instance, className, &windowClass)) {
        windowClass = {};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = procedure;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = className;
        if (!RegisterClassExA(&windowClass)) {
            error = std::string("cannot register the loopback window class (error ") +
                    std::to_string(GetLastError()) + ")";
            return nullptr;
        }
    }
    const std::string name = std::string("korvane-loopback-") + role;
    HWND window = CreateWindowExA(0, className, name.c_str(), 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  instance, nullptr);
    if (!window)
        error =
            "cannot create the window " + name + " (error " + std::to_string(GetLastError()) + ")";
    return window;
}
