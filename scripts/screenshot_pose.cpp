// Puts a running Korvane.exe into the poses of the pictures in docs/, for
// scripts/screenshots.sh (which builds and runs it under Wine):
//
//   screenshot_pose.exe restore WINDOW-NAME   restore the window, wait until painted
//   screenshot_pose.exe about WINDOW-NAME     open the About box, wait until shown
//   screenshot_pose.exe exit WINDOW-NAME      close the About box if open, then Exit
//
// Every wait gives up after ten seconds (exit code 1).
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr DWORD kTimeoutMs = 10000;

struct Search
{
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindAbout(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char title[32] = {};
    char cls[32] = {};
    GetWindowTextA(window, title, sizeof title);
    GetClassNameA(window, cls, sizeof cls);
    if (pid == search->processId && std::strcmp(title, "About") == 0 &&
        std::strcmp(cls, "#32770") == 0 && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND AboutBox(HWND owner)
{
    Search search = {0, nullptr};
    GetWindowThreadProcessId(owner, &search.processId);
    EnumWindows(FindAbout, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Waits for a window's thread to have handled everything before this call.
bool Settle(HWND window)
{
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, kTimeoutMs, &ignored) != 0;
}

template <typename Done>
bool WaitFor(Done done)
{
    for (DWORD waited = 0; waited < kTimeoutMs; waited += 50) {
        if (done())
            return true;
        Sleep(50);
    }
    return done();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s restore|about|exit WINDOW-NAME\n", argv[0]);
        return 2;
    }
    const char* action = argv[1];
    HWND window = nullptr;
    if (!WaitFor([&] { return (window = FindWindowA(nullptr, argv[2])) != nullptr; })) {
        std::fprintf(stderr, "no window named %s\n", argv[2]);
        return 1;
    }

    if (std::strcmp(action, "restore") == 0) {
        ShowWindow(window, SW_RESTORE);
        SetForegroundWindow(window);
        RedrawWindow(window, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW);
        return Settle(window) ? 0 : 1;
    }
    if (std::strcmp(action, "about") == 0) {
        PostMessageA(window, WM_COMMAND, 104, 0);
        HWND dialog = nullptr;
        if (!WaitFor([&] { return (dialog = AboutBox(window)) != nullptr; })) {
            std::fprintf(stderr, "the About box did not open\n");
            return 1;
        }
        RedrawWindow(dialog, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        return Settle(dialog) ? 0 : 1;
    }
    if (std::strcmp(action, "exit") == 0) {
        if (HWND dialog = AboutBox(window)) {
            PostMessageA(dialog, WM_COMMAND, IDOK, 0);
            WaitFor([&] { return !IsWindow(dialog); });
        }
        PostMessageA(window, WM_COMMAND, 105, 0);
        return WaitFor([&] { return !IsWindow(window); }) ? 0 : 1;
    }
    std::fprintf(stderr, "unknown action %s\n", action);
    return 2;
}
