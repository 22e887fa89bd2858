// Test windows on Windows: message-only windows of one shared class.
#include "tests/support/test_window.h"

namespace testing_support {

namespace {

constexpr char kClassName[] = "KorvaneTestWindow";

} // namespace

HWND CreatePlatformWindow(const char* name, WNDPROC procedure)
{
    static bool registered = false;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (!registered) {
        WNDCLASSEXA windowClass = {};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = procedure;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = kClassName;
        if (!RegisterClassExA(&windowClass))
            return nullptr;
        registered = true;
    }
    return CreateWindowExA(0, kClassName, name, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance,
                           nullptr);
}

void DestroyPlatformWindow(HWND window)
{
    DestroyWindow(window);
}

unsigned long CurrentProcessId()
{
    return static_cast<unsigned long>(GetCurrentProcessId());
}

struct PrivateEndpoints::Parts
{};

PrivateEndpoints::PrivateEndpoints() = default;
PrivateEndpoints::~PrivateEndpoints() = default;

} // namespace testing_support
