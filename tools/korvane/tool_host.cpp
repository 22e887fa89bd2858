#include "tools/korvane/tool_host.h"

#include "host/dispatcher.h"

#include <unistd.h>

namespace {

ToolHost* g_current = nullptr;

} // namespace

ToolHost::ToolHost(CReportReader& reader, const char* command)
{
    g_current = this;
    const std::string suffix = std::string(command) + "-" + std::to_string(getpid());
    const std::string hostName = "korvane-" + suffix;
    const std::string partnerName = "korvane-partner-" + suffix;
    m_hostWindow = CreateLocalWindow(hostName.c_str(), HostProcedure);
    m_partnerWindow = CreateLocalWindow(partnerName.c_str(), PartnerProcedure);
    if (!Ok()) {
        m_error = "cannot create the window " + (m_hostWindow ? partnerName : hostName);
        return;
    }
    m_state.hostWindow = m_hostWindow;
    m_state.partnerWindow = m_partnerWindow;
    m_state.reader = &reader;
    reader.Bind(m_hostWindow);
}

ToolHost::~ToolHost()
{
    // Destroyed without the dispatcher: its WM_DESTROY would ask for quit.
    g_current = nullptr;
    if (m_hostWindow)
        DestroyWindow(m_hostWindow);
    if (m_partnerWindow)
        DestroyWindow(m_partnerWindow);
    if (m_state.reader)
        m_state.reader->Bind(nullptr);
}

LRESULT ToolHost::Send(uintptr_t dwData, const void* data, uint32_t cbData)
{
    COPYDATASTRUCT block = {};
    block.dwData = dwData;
    block.cbData = cbData;
    block.lpData = const_cast<void*>(data);
    return SendMessageA(m_hostWindow, WM_COPYDATA, reinterpret_cast<WPARAM>(m_partnerWindow),
                        reinterpret_cast<LPARAM>(&block));
}

LRESULT CALLBACK ToolHost::HostProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!g_current)
        return DefWindowProcA(window, message, wParam, lParam);
    return HostDispatch(g_current->m_state, window, message, wParam, lParam);
}

LRESULT CALLBACK ToolHost::PartnerProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam)
{
    if (!g_current || message != WM_COPYDATA || !lParam)
        return DefWindowProcA(window, message, wParam, lParam);
    if (g_current->onBlock)
        g_current->onBlock(*reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    return 1;
}

