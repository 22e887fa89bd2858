// Start-up of Korvane.exe: registers and creates the host window, binds the
// report reader to it and runs the message loop.
#include "korvane_app.h"

#include "resource.h"

namespace {

ATOM RegisterMainClass(const CKorvaneApp& app)
{
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = MainWindowProc;
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
    if (!window)
        return 0;

    app.host.hostWindow = window;
    app.host.partnerWindow = FindWindowA(nullptr, "TEST_RX");
    app.host.onPaint = OnMainPaint;
    app.host.onCommand = OnMainCommand;
    app.menu = GetMenu(window);
    app.title = kTitleText;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&app));

    LoadCrashReportLibrary();

    app.reader = std::make_unique<CReportReader>();
    app.reader->Bind(window);
    app.host.reader = app.reader.get();

    // Minimised whatever show command the program was started with.
    ShowWindow(window, SW_SHOWMINIMIZED);
    UpdateWindow(window);

    return RunMessageLoop(instance);
}
