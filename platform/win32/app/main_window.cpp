#include "korvane_app.h"

#include "protocol/protocol.h"
#include "resource.h"

#include <cstdio>
#include <cstring>

namespace {

CKorvaneApp* AppOf(const CHostState& host)
{
    return static_cast<CKorvaneApp*>(host.owner);
}

constexpr char kCrashReportLibrary[] = "exchndl.dll";

} // namespace

void FormatWindowName(char (&name)[kNameFieldSize], const char* commandLine)
{
    // snprintf cuts what does not fit: "Korvane_" and the first 91
    // characters of a longer command line.
    std::snprintf(name, sizeof name, "%s%s", kHostWindowPrefix, commandLine ? commandLine : "");
}

void LoadCrashReportLibrary()
{
    // Only the copy beside the program is taken: a bare name would also be
    // looked for in the current directory and along PATH.
    char path[MAX_PATH + sizeof kCrashReportLibrary];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    char* slash = std::strrchr(path, '\\');
    char* name = slash ? slash + 1 : path;
    std::memcpy(name, kCrashReportLibrary, sizeof kCrashReportLibrary);
    // Loaded, never called, never unloaded.
    if (LoadLibraryA(path))
        OutputDebugStringA("Exception handler dll loaded byKorvane.");
}

LRESULT OnMainPaint(CHostState& host, HWND window)
{
    const CKorvaneApp* app = AppOf(host);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    if (app && app->title)
        DrawTextA(dc, app->title, -1, &client, DT_CENTER);
    EndPaint(window, &paint);
    return 0;
}

LRESULT OnMainCommand(CHostState& host, HWND window, WPARAM wParam, LPARAM lParam)
{
    CKorvaneApp* app = AppOf(host);
    switch (LOWORD(wParam)) {
    case IDM_ABOUT:
        // The box's modal loop still dispatches this window's messages: a
        // second About command while it is open does not stack another box.
        if (app && app->aboutOpen)
            return 0;
        if (app)
            app->aboutOpen = true;
        DialogBoxParamA(app ? app->instance : nullptr, MAKEINTRESOURCEA(IDD_ABOUTBOX), window,
                        AboutDialogProc, 0);
        if (app)
            app->aboutOpen = false;
        return 0;
    case IDM_EXIT:
        DestroyWindow(window);
        return 0;
    case IDM_DEBUG: {
        const int32_t on = HostToggleDebug(host);
        if (app)
            CheckMenuItem(app->menu, IDM_DEBUG, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
        return 0;
    }
    default:
        return DefWindowProcA(window, WM_COMMAND, wParam, lParam);
    }
}
