// Test windows on our own message layer.
#include "tests/support/test_window.h"

#include <unistd.h>

namespace testing_support {

HWND CreatePlatformWindow(const char* name, WNDPROC procedure)
{
    return CreateMessageWindow(name, procedure);
}

void DestroyPlatformWindow(HWND window)
{
    DestroyWindow(window);
}

unsigned long CurrentProcessId()
{
    return static_cast<unsigned long>(getpid());
}

} // namespace testing_support
