#include "tests/support/test_window.h"

#include <map>
#include <stdexcept>

namespace testing_support {

namespace {

std::map<HWND, MessageHandler>& Handlers()
{
    static std::map<HWND, MessageHandler> handlers;
    return handlers;
}

LRESULT CALLBACK TestWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const auto found = Handlers().find(window);
    // Messages of creation and destruction arrive while no handler is set.
    if (found == Handlers().end())
        return DefWindowProcA(window, message, wParam, lParam);
    // A copy: the handler may create or destroy other test windows.
    const MessageHandler handler = found->second;
    return handler(window, message, wParam, lParam);
}

} // namespace

TestWindow::TestWindow(const std::string& name, MessageHandler handler)
{
    m_window = CreatePlatformWindow(name.c_str(), TestWindowProcedure);
    if (!m_window)
        throw std::runtime_error("cannot create the test window " + name);
    Handlers()[m_window] = std::move(handler);
}

TestWindow::~TestWindow()
{
    Handlers().erase(m_window);
    DestroyPlatformWindow(m_window);
}

std::string UniqueWindowName(const char* prefix)
{
    static unsigned counter = 0;
    return std::string(prefix) + "-" + std::to_string(CurrentProcessId()) + "-" +
           std::to_string(++counter);
}

} // namespace testing_support
