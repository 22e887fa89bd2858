// The host inside the tool: an in-process host window whose procedure is the
// real dispatcher (HostDispatch over a CHostState with the given report
// reader bound to it) and an in-process partner window that receives the
// blocks the host sends. Blocks go from partner to host as WM_COPYDATA, so
// the tool sees exactly what a partner of the service would see.
#pragma once

#include "host/host_state.h"
#include "host/report_reader.h"
#include "winapi.h"

#include <cstdint>
#include <functional>
#include <string>

class ToolHost
{
public:
    // Only one ToolHost exists at a time; `command` names its windows.
    ToolHost(CReportReader& reader, const char* command);
    ~ToolHost();
    ToolHost(const ToolHost&) = delete;
    ToolHost& operator=(const ToolHost&) = delete;

    // False when the message layer refused a window; the reason in Error().
    bool Ok() const { return m_hostWindow && m_partnerWindow; }
    const std::string& Error() const { return m_error; }

    CHostState& State() { return m_state; }

    // Sends one block from the partner to the host; the dispatch result.
    LRESULT Send(uintptr_t dwData, const void* data, uint32_t cbData);

    // Called for every block the partner receives, while it is valid.
    std::function<void(const COPYDATASTRUCT& block)> onBlock;

private:
    static LRESULT CALLBACK HostProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK PartnerProcedure(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam);

    CHostState m_state;
    HWND m_hostWindow = nullptr;
    HWND m_partnerWindow = nullptr;
    std::string m_error;
};
