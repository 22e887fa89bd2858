#include "host/host_window.h"

#include "host/dispatcher.h"
#include "protocol/protocol.h"

LRESULT CALLBACK HostWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* state = reinterpret_cast<CHostState*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!state)
        return DefWindowProcA(window, message, wParam, lParam);
    return HostDispatch(*state, window, message, wParam, lParam);
}

void HostAttach(CHostState& state, CReportReader& reader, HWND window)
{
    state.hostWindow = window;
    state.reader = &reader;
    state.directReports = true;
    reader.Bind(window);
    reader.BindHandler(&HostReportHandler, &state);
    HostAddStartupConsole(state, reader);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<intptr_t>(&state));
}

void HostDetach(CHostState& state)
{
    if (state.hostWindow)
        SetWindowLongPtrA(state.hostWindow, GWLP_USERDATA, 0);
    state.directReports = false;
    if (state.reader)
        state.reader->Bind(nullptr);
    for (const auto& console : state.consoles)
        console->reader->Bind(nullptr);
}

HWND HostFindPartner()
{
    return FindWindowA(nullptr, kPartnerWindowName);
}

std::string HostWindowName(const std::string& arguments, size_t room)
{
    std::string name = kHostWindowPrefix + arguments;
    if (name.size() > room)
        name.resize(room);
    return name;
}
