#include "host/loopback_window.h"

HWND CreateLoopbackWindow(const char* role, WNDPROC procedure, std::string& error)
{
    // Names need only be unique among this process's windows.
    static unsigned long serial = 0;
    const std::string name =
        std::string("korvane-loopback-") + role + "-" + std::to_string(++serial);
    HWND window = CreateLocalWindow(name.c_str(), procedure);
    if (!window)
        error = "cannot create the window " + name + ": " + GetMessageLayerError();
    return window;
}
