#include "winapi.h"

#include "platform/message_timeout.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kWindowClass[] = "KorvaneMessageWindow";
constexpr size_t kMaxName = 99;

int InitialSendTimeout()
{
    const char* text = std::getenv("KORVANE_SEND_TIMEOUT_MS");
    if (!text || !*text)
        return kDefaultSendTimeoutMs;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return (*end || value <= 0 || value > 3600L * 1000) ? kDefaultSendTimeoutMs : int(value);
}

int& SendTimeout()
{
    static int timeout = InitialSendTimeout();
    return timeout;
}

bool RegisterWindowClass(HINSTANCE instance)
{
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = instance;
    wc.lpszClassName = kWindowClass;
    return RegisterClassExA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

struct Listing
{
    std::string prefix;
    std::vector<std::string> own;
    std::vector<std::string> others;
};

BOOL CALLBACK ListWindow(HWND window, LPARAM param)
{
    auto* listing = reinterpret_cast<Listing*>(param);
    char title[kMaxName + 2] = {};
    const int length = GetWindowTextA(window, title, int(sizeof title));
    if (length <= 0 || std::strncmp(title, listing->prefix.c_str(), listing->prefix.size()) != 0)
        return TRUE;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    (process == GetCurrentProcessId() ? listing->own : listing->others).emplace_back(title);
    return TRUE;
}

struct NameSearch
{
    const char* name;
    bool found = false;
};

BOOL CALLBACK MatchName(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<NameSearch*>(param);
    char title[kMaxName + 2] = {};
    GetWindowTextA(window, title, int(sizeof title));
    search->found = std::strcmp(title, search->name) == 0;
    return !search->found;
}

// A top-level window of that name in any process. Not FindWindowA: Wine's
// also finds message-only windows, which Windows' does not.
bool TopLevelWindowExists(const char* name)
{
    NameSearch search{name};
    EnumWindows(MatchName, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

} // namespace

HWND CreateMessageWindow(const char* name, WNDPROC procedure)
{
    if (!name || !*name || std::strlen(name) > kMaxName || !procedure) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (TopLevelWindowExists(name)) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return nullptr;
    }
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (!RegisterWindowClass(instance))
        return nullptr;
    // WS_POPUP without WS_VISIBLE: never shown, no taskbar button.
    HWND window = CreateWindowExA(WS_EX_TOOLWINDOW, kWindowClass, name, WS_POPUP, 0, 0, 0, 0,
                                  nullptr, nullptr, instance, nullptr);
    if (!window) {
        // Without a desktop (no display under Wine) the failure has no code.
        if (GetLastError() == ERROR_SUCCESS)
            SetLastError(ERROR_CAN_NOT_COMPLETE);
        return nullptr;
    }
    // From now on every message goes to the caller's procedure.
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure));
    SetLastError(ERROR_SUCCESS);
    return window;
}

HWND CreateLocalWindow(const char* name, WNDPROC procedure)
{
    if (!name || !*name || std::strlen(name) > kMaxName || !procedure) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    for (HWND other = FindWindowExA(HWND_MESSAGE, nullptr, nullptr, name); other;
         other = FindWindowExA(HWND_MESSAGE, other, nullptr, name)) {
        DWORD process = 0;
        GetWindowThreadProcessId(other, &process);
        if (process == GetCurrentProcessId()) {
            SetLastError(ERROR_ALREADY_EXISTS);
            return nullptr;
        }
    }
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (!RegisterWindowClass(instance))
        return nullptr;
    HWND window = CreateWindowExA(0, kWindowClass, name, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  instance, nullptr);
    if (!window) {
        // Without a desktop (no display under Wine) the failure has no code.
        if (GetLastError() == ERROR_SUCCESS)
            SetLastError(ERROR_CAN_NOT_COMPLETE);
        return nullptr;
    }
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure));
    SetLastError(ERROR_SUCCESS);
    return window;
}

const char* GetWindowName(HWND window)
{
    static thread_local char name[kMaxName + 2];
    if (!window || !IsWindow(window))
        return nullptr;
    name[0] = '\0';
    GetWindowTextA(window, name, int(sizeof name));
    return name;
}

namespace {

// Set by WakeMessageLoop; a waiting RunMessageLoop returns -1 on it.
HANDLE WakeEvent()
{
    static const HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    return event;
}

std::atomic<bool> g_sendsCancelled{false};

} // namespace

void CancelSends()
{
    g_sendsCancelled.store(true);
}

void ResumeSends()
{
    g_sendsCancelled.store(false);
}

bool SendsCancelled()
{
    return g_sendsCancelled.load();
}

void WakeMessageLoop()
{
    SetEvent(WakeEvent());
}

int RunMessageLoop(int timeoutMs)
{
    const HANDLE wake = WakeEvent();
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT)
                return int(msg.wParam);
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        DWORD wait = INFINITE;
        if (timeoutMs >= 0) {
            const ULONGLONG passed = GetTickCount64() - start;
            if (passed >= ULONGLONG(timeoutMs))
                return -2;
            wait = DWORD(ULONGLONG(timeoutMs) - passed);
        }
        // Sent messages are dispatched inside the wait; posted ones above.
        if (MsgWaitForMultipleObjectsEx(1, &wake, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE) ==
            WAIT_OBJECT_0)
            return -1;
    }
}

int EnumWindowNames(const char* prefix, BOOL (*callback)(const char* name, void* context),
                    void* context)
{
    Listing listing;
    listing.prefix = prefix ? prefix : "";
    EnumWindows(ListWindow, reinterpret_cast<LPARAM>(&listing));
    std::sort(listing.own.begin(), listing.own.end());
    std::sort(listing.others.begin(), listing.others.end());
    int passed = 0;
    for (const auto* group : {&listing.own, &listing.others}) {
        for (const std::string& name : *group) {
            ++passed;
            if (!callback(name.c_str(), context))
                return passed;
        }
    }
    return passed;
}

void SetSendTimeout(int milliseconds)
{
    SendTimeout() = milliseconds > 0 ? milliseconds : kDefaultSendTimeoutMs;
}

int GetSendTimeout()
{
    return SendTimeout();
}

const char* GetMessageLayerError()
{
    static thread_local char text[256];
    const DWORD error = GetLastError();
    switch (error) {
    case ERROR_SUCCESS:
        return "";
    case ERROR_TIMEOUT:
        std::snprintf(text, sizeof text, "no answer within %d ms", GetSendTimeout());
        return text;
    case ERROR_INVALID_WINDOW_HANDLE:
        return "the window is gone";
    case ERROR_ALREADY_EXISTS:
        return "a window of that name exists already";
    case ERROR_INVALID_PARAMETER:
        return "the name is empty or longer than 99 characters";
    case ERROR_CAN_NOT_COMPLETE:
        return "the window cannot be created (is there a desktop?)";
    default:
        break;
    }
    char message[200] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, message, DWORD(sizeof message), nullptr);
    std::string reason(message, length);
    while (!reason.empty() &&
           (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.'))
        reason.pop_back();
    std::snprintf(text, sizeof text, "Windows error %lu%s%s", static_cast<unsigned long>(error),
                  reason.empty() ? "" : ": ", reason.c_str());
    return text;
}

size_t MaxWindowNameLength()
{
    return kMaxName;
}

const char* GetRuntimeFolder()
{
    return "the desktop";
}
