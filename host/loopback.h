// The host and a partner inside one process: what the korvane tool, the
// benchmarks and the tests run instead of a service and its partner.
//
// CLoopbackHost is a host window bound to its own CHostState as every host
// window is (host_window.h), with a report reader bound to it;
// CLoopbackPartner a window that hands every block it receives to a
// callback. Both are windows of this process only: they need no runtime
// folder and no other process can reach them. Each procedure finds its
// object through the window's user value, so any number of them may live at
// once. Blocks travel as WM_COPYDATA through SendMessageA, exactly as a
// partner's would. One thread only.
#pragma once

#include "host/host_state.h"
#include "host/report_reader.h"
#include "protocol/protocol.h"
#include "winapi.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

class CLoopbackHost
{
public:
    // Creates the host window and binds reader to it; the partner window is
    // none until the first block arrives. Check Ok().
    explicit CLoopbackHost(CReportReader& reader);
    // Destroys the window without the dispatcher (no quit message) and
    // unbinds the reader given here, which must still exist.
    ~CLoopbackHost();
    CLoopbackHost(const CLoopbackHost&) = delete;
    CLoopbackHost& operator=(const CLoopbackHost&) = delete;

    // False when the window could not be created; the reason in Error().
    bool Ok() const { return m_window != nullptr; }
    const std::string& Error() const { return m_error; }

    HWND Handle() const { return m_window; }
    CHostState& State() { return m_state; }
    const CHostState& State() const { return m_state; }

private:
    CHostState m_state;
    HWND m_window = nullptr;
    std::string m_error;
};

class CLoopbackPartner
{
public:
    // Creates the partner window. Check Ok().
    CLoopbackPartner();
    ~CLoopbackPartner();
    CLoopbackPartner(const CLoopbackPartner&) = delete;
    CLoopbackPartner& operator=(const CLoopbackPartner&) = delete;

    bool Ok() const { return m_window != nullptr; }
    const std::string& Error() const { return m_error; }
    HWND Handle() const { return m_window; }

    // Sends one WM_COPYDATA block from this window to `to`; the dispatch
    // result.
    LRESULT Send(HWND to, uintptr_t dwData, const void* data, uint32_t cbData);
    // A BLOCK_COMMAND carrying the text and its NUL.
    LRESULT SendCommand(HWND to, const std::string& text);
    // The octets as BLOCK_CONSOLE_DATA blocks whose lengths come from
    // ConsoleBlockLength; nothing for no octets.
    void SendConsole(HWND to, const uint8_t* octets, size_t size, size_t chunk);

    // Called for every WM_COPYDATA block this window receives (the block is
    // valid only during the call); the window answers 1.
    std::function<void(HWND sender, const COPYDATASTRUCT& block)> onBlock;

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_window = nullptr;
    std::string m_error;
};

// A host with its own partner: the host's partner window is the partner
// from the start.
class CLoopback
{
public:
    explicit CLoopback(CReportReader& reader);

    bool Ok() const { return m_host.Ok() && m_partner.Ok(); }
    const std::string& Error() const { return m_host.Ok() ? m_partner.Error() : m_host.Error(); }

    CHostState& State() { return m_host.State(); }
    CLoopbackHost& Host() { return m_host; }
    CLoopbackPartner& Partner() { return m_partner; }

    // From the partner to the host.
    LRESULT Send(uintptr_t dwData, const void* data, uint32_t cbData)
    {
        return m_partner.Send(m_host.Handle(), dwData, data, cbData);
    }
    LRESULT SendCommand(const std::string& text)
    {
        return m_partner.SendCommand(m_host.Handle(), text);
    }
    void SendConsole(const uint8_t* octets, size_t size, size_t chunk)
    {
        m_partner.SendConsole(m_host.Handle(), octets, size, chunk);
    }

private:
    CLoopbackHost m_host;
    CLoopbackPartner m_partner;
};
