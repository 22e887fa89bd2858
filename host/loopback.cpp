#include "host/loopback.h"

#include "host/host_window.h"
#include "protocol/protocol.h"

namespace {

// A window only this process reaches; `role` names it ("host",
// "partner"). nullptr with the reason in `error` on failure.
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

} // namespace

CLoopbackHost::CLoopbackHost(CReportReader& reader)
{
    m_window = CreateLoopbackWindow("host", HostWindowProcedure, m_error);
    if (m_window)
        HostAttach(m_state, reader, m_window);
}

CLoopbackHost::~CLoopbackHost()
{
    if (!m_window)
        return;
    // Detached first: the dispatcher would ask the message loop to end.
    HostDetach(m_state);
    DestroyWindow(m_window);
}

CLoopbackPartner::CLoopbackPartner()
{
    m_window = CreateLoopbackWindow("partner", Procedure, m_error);
    if (m_window)
        SetWindowLongPtrA(m_window, GWLP_USERDATA, reinterpret_cast<intptr_t>(this));
}

CLoopbackPartner::~CLoopbackPartner()
{
    if (m_window) {
        SetWindowLongPtrA(m_window, GWLP_USERDATA, 0);
        DestroyWindow(m_window);
    }
}

LRESULT CLoopbackPartner::Send(HWND to, uintptr_t dwData, const void* data, uint32_t cbData)
{
    COPYDATASTRUCT block = {};
    block.dwData = dwData;
    block.cbData = cbData;
    block.lpData = const_cast<void*>(data);
    return SendMessageA(to, WM_COPYDATA, reinterpret_cast<WPARAM>(m_window),
                        reinterpret_cast<LPARAM>(&block));
}

LRESULT CLoopbackPartner::SendCommand(HWND to, const std::string& text)
{
    return Send(to, MakeDwData(BLOCK_COMMAND, 0), text.c_str(), uint32_t(text.size() + 1));
}

void CLoopbackPartner::SendConsole(HWND to, const uint8_t* octets, size_t size, size_t chunk)
{
    size_t position = 0;
    while (position < size) {
        const uint32_t length = ConsoleBlockLength(size - position, chunk);
        Send(to, MakeDwData(BLOCK_CONSOLE_DATA, length), octets + position, length);
        position += length;
    }
}

LRESULT CALLBACK CLoopbackPartner::Procedure(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam)
{
    auto* partner = reinterpret_cast<CLoopbackPartner*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!partner || message != WM_COPYDATA || !lParam)
        return DefWindowProcA(window, message, wParam, lParam);
    if (partner->onBlock)
        partner->onBlock(reinterpret_cast<HWND>(wParam),
                         *reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    return 1;
}

CLoopback::CLoopback(CReportReader& reader) : m_host(reader)
{
    m_host.State().partnerWindow = m_partner.Handle();
}
