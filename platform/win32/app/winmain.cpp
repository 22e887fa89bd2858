// Start-up of Korvane.exe: registers and creates the host window, binds the
// host core to it and runs the message loop.
#include "korvane_app.h"

#include "host/host_window.h"
#include "resource.h"

#include <cstdio>

namespace {

ATOM RegisterMainClass(const CKorvaneApp& app)
{
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = HostWindowProcedure;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = app.instance;
    wc.hIcon = LoadIconA(app.instance, MAKEINTRESOURCEA(IDI_KORVANE));
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszMenuName = MAKEINTRESOURCEA(IDR_MAINFRAME);
    wc.lpszClassName = app.className;
    wc.hIconSm = LoadIconA(app.instance, MAKEINTRESOURCEA(IDI_SMALL));
    return RegisterClassExA(&wc);
}

int RunMessageLoop(HINSTANCE instance)
{
    HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME));
    MSG msg = {};
    // GetMessageA gives -1 on failure: that ends the loop as well.
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (!TranslateAcceleratorA(msg.hwnd, accelerators, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return int(msg.wParam);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR commandLine, int /*show*/)
{
    CKorvaneApp app;
    app.instance = instance;
    FormatWindowName(app.windowName, commandLine);
    LoadStringA(instance, IDS_APP_CLASS, app.className, kNameFieldSize);

    RegisterMainClass(app);
    HWND window = CreateWindowExA(0, app.className, app.windowName,
                                  WS_MINIMIZE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, 600,
                                  80, nullptr, nullptr, instance, nullptr);
    if (!window) {
        // Without its window the program can do nothing: a failure, said once.
        char line[160];
        std::snprintf(line, sizeof line,
                      "Korvane: the window %s could not be created (error %lu); exiting\n",
                      app.windowName, static_cast<unsigned long>(GetLastError()));
        OutputDebugStringA(line);
        return kExitNoWindow;
    }

    app.host.partnerWindow = HostFindPartner();
    app.host.onPaint = OnMainPaint;
    app.host.onCommand = OnMainCommand;
    app.host.owner = &app;
    app.menu = GetMenu(window);
    app.title = kTitleText;

    LoadCrashReportLibrary();

    app.reader = std::make_unique<CReportReader>();
    HostAttach(app.host, *app.reader, window);

    // Minimised whatever show command the program was started with.
    ShowWindow(window, SW_SHOWMINIMIZED);
    UpdateWindow(window);

    return RunMessageLoop(instance);
}
