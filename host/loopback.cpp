#include "host/loopback.h"

#include "host/dispatcher.h"
#include "host/loopback_window.h"
#include "host/protocol.h"

#include <algorithm>

uint32_t ConsoleBlockLength(size_t remaining, size_t chunk)
{
    const size_t block = std::clamp<size_t>(chunk, 1, kMaxConsoleBlock);
    size_t length = std::min(block, remaining);
    if (length == KEEP_ALIVE_LENGTH)
        --length;
    return uint32_t(length);
}

CLoopbackHost::CLoopbackHost(CReportReader& reader) : m_reader(reader)
{
    m_window = CreateLoopbackWindow("host", Procedure, m_error);
    if (!m_window)
        return;
    m_state.hostWindow = m_window;
    m_state.reader = &reader;
    reader.Bind(m_window);
    SetWindowLongPtrA(m_window, GWLP_USERDATA, reinterpret_cast<intptr_t>(&m_state));
}

CLoopbackHost::~CLoopbackHost()
{
    if (m_window) {
        // Without its state the procedure leaves WM_DESTROY to the default
        // handling: the dispatcher would ask the message loop to end.
        SetWindowLongPtrA(m_window, GWLP_USERDATA, 0);
        DestroyWindow(m_window);
    }
    if (m_window)
        m_reader.Bind(nullptr);
}

LRESULT CALLBACK CLoopbackHost::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* state = reinterpret_cast<CHostState*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!state)
        return DefWindowProcA(window, message, wParam, lParam);
    return HostDispatch(*state, window, message, wParam, lParam);
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
