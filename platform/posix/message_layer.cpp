// In-process windows of the message layer: a registry of named windows with
// their procedures. SendMessageA to a window of this process calls its
// procedure directly, so receivers run before the call returns and may send
// again from inside.

#include "winapi.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

struct KorvaneWindow
{
    std::string name;
    WNDPROC procedure = nullptr;
    intptr_t userData = 0;
    bool alive = true;
};

namespace {

constexpr size_t kMaxNameLength = 99;

struct Registry
{
    std::vector<KorvaneWindow*> windows;
    bool quit = false;
    int exitCode = 0;
    int sendDepth = 0;
};

Registry& TheRegistry()
{
    static Registry registry;
    return registry;
}

KorvaneWindow* Live(HWND window)
{
    for (KorvaneWindow* known : TheRegistry().windows)
        if (known == window && known->alive)
            return known;
    return nullptr;
}

} // namespace

HWND CreateMessageWindow(const char* name, WNDPROC procedure)
{
    if (!name || std::strlen(name) > kMaxNameLength || !procedure)
        return nullptr;
    if (FindWindowA(nullptr, name))
        return nullptr;
    auto* window = new KorvaneWindow;
    window->name = name;
    window->procedure = procedure;
    TheRegistry().windows.push_back(window);
    return window;
}

BOOL DestroyWindow(HWND window)
{
    KorvaneWindow* live = Live(window);
    if (!live)
        return FALSE;
    live->procedure(live, WM_DESTROY, 0, 0);
    // The record stays (dead) for the life of the process, so its address is
    // never handed out again and a stale handle can never reach a new window.
    live->alive = false;
    live->procedure = nullptr;
    return TRUE;
}

HWND FindWindowA(LPCSTR /*className*/, LPCSTR windowName)
{
    if (!windowName)
        return nullptr;
    for (KorvaneWindow* window : TheRegistry().windows)
        if (window->alive && window->name == windowName)
            return window;
    return nullptr;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    KorvaneWindow* live = Live(window);
    if (!live)
        return 0;
    Registry& registry = TheRegistry();
    ++registry.sendDepth;
    const LRESULT result = live->procedure(live, message, wParam, lParam);
    --registry.sendDepth;
    return result;
}

LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM)
{
    return 0;
}

void PostQuitMessage(int exitCode)
{
    TheRegistry().quit = true;
    TheRegistry().exitCode = exitCode;
}

bool QuitRequested(int* exitCode)
{
    if (TheRegistry().quit && exitCode)
        *exitCode = TheRegistry().exitCode;
    return TheRegistry().quit;
}

void ClearQuitRequest()
{
    TheRegistry().quit = false;
    TheRegistry().exitCode = 0;
}

void OutputDebugStringA(LPCSTR text)
{
    std::fputs(text, stderr);
    std::fflush(stderr);
}

BOOL InSendMessage()
{
    // Every message of this process is a direct call.
    return FALSE;
}

intptr_t SetWindowLongPtrA(HWND window, int index, intptr_t value)
{
    KorvaneWindow* live = Live(window);
    if (!live || index != GWLP_USERDATA)
        return 0;
    const intptr_t old = live->userData;
    live->userData = value;
    return old;
}

intptr_t GetWindowLongPtrA(HWND window, int index)
{
    KorvaneWindow* live = Live(window);
    return live && index == GWLP_USERDATA ? live->userData : 0;
}

const char* GetWindowName(HWND window)
{
    KorvaneWindow* live = Live(window);
    return live ? live->name.c_str() : nullptr;
}

int RunMessageLoop(int /*timeoutMs*/)
{
    // Without other processes nothing can arrive while waiting.
    int code = 0;
    if (QuitRequested(&code))
        return code;
    return -2;
}
