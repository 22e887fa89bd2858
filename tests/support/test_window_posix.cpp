// Test windows on our own message layer.
#include "tests/support/test_window.h"

#include "tests/support/posix_endpoints.h"

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

struct PrivateEndpoints::Parts
{
    RuntimeSandbox sandbox;
};

PrivateEndpoints::PrivateEndpoints() : m_parts(std::make_unique<Parts>()) {}
PrivateEndpoints::~PrivateEndpoints() = default;

unsigned long CurrentProcessId()
{
    return static_cast<unsigned long>(getpid());
}

} // namespace testing_support
