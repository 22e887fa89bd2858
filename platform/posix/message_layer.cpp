// The Win32-shaped calls of winapi.h over the registry, the endpoints and
// the exchange (see message_layer_internal.h).
#include "platform/posix/message_layer_internal.h"

#include "platform/posix/runtime_folder.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

using namespace korvane_layer;

namespace {

// Whether a window of this name may be made here; the reason is recorded
// (GetLastError, GetMessageLayerError) when not.
bool CanCreate(const char* name, WNDPROC procedure)
{
    if (!name || !procedure || !korvane_wire::IsValidWindowName(name, std::strlen(name))) {
        Fail(ERROR_INVALID_PARAMETER, "invalid endpoint name (1 to 99 characters, no '/', not "
                                      "beginning with '.')");
        return false;
    }
    if (LocalByName(name)) {
        Fail(ERROR_ALREADY_EXISTS,
             std::string("the endpoint ") + name + " is in use in this process");
        return false;
    }
    return true;
}

} // namespace

HWND CreateMessageWindow(const char* name, WNDPROC procedure)
{
    Registry& registry = TheRegistry();
    const Lock lock(registry.mutex);
    if (!CanCreate(name, procedure))
        return nullptr;
    const std::string* folder = Folder();
    if (!folder)
        return nullptr;
    std::string path;
    if (!EndpointPath(*folder, name, path))
        return nullptr;
    struct stat seen = {};
    switch (ProbeEndpoint(path, &seen)) {
    case Probe::Live:
        Fail(ERROR_ALREADY_EXISTS,
             std::string("the endpoint ") + name + " is in use by another process");
        return nullptr;
    case Probe::Stale:
        RemoveStale(path, seen);
        break;
    case Probe::Missing:
        break;
    case Probe::Other:
        Fail(ERROR_ACCESS_DENIED, path + " exists and is not an endpoint");
        return nullptr;
    case Probe::Failed:
        return nullptr;
    }
    InstallHooks();
    EnsureWakePipe();
    SweepStaleEndpoints(*folder);
    dev_t device = 0;
    ino_t inode = 0;
    const int fd = BindEndpoint(path, device, inode);
    if (fd < 0)
        return nullptr;
    auto* window = new KorvaneWindow;
    window->name = name;
    window->incarnation = NewIncarnation();
    window->procedure = procedure;
    window->fd = fd;
    window->path = path;
    window->device = device;
    window->inode = inode;
    window->owner = std::this_thread::get_id();
    AddRecord(window);
    ThreadState& thread = ThisThread();
    RegisterThread(thread);
    thread.lastError = ERROR_SUCCESS;
    thread.error.clear();
    return HandleOf(window);
}

HWND CreateLocalWindow(const char* name, WNDPROC procedure)
{
    const Lock lock(TheRegistry().mutex);
    if (!CanCreate(name, procedure))
        return nullptr;
    auto* window = new KorvaneWindow;
    window->name = name;
    window->incarnation = NewIncarnation();
    window->procedure = procedure;
    window->owner = std::this_thread::get_id();
    AddRecord(window);
    ThreadState& thread = ThisThread();
    RegisterThread(thread);
    thread.lastError = ERROR_SUCCESS;
    thread.error.clear();
    return HandleOf(window);
}

BOOL DestroyWindow(HWND window)
{
    Lock lock(TheRegistry().mutex);
    KorvaneWindow* live = LocalLive(window);
    if (!live || live->destroying) {
        Fail(ERROR_INVALID_WINDOW_HANDLE, "not an endpoint of this process");
        return FALSE;
    }
    if (!OwnedHere(live)) {
        Fail(ERROR_ACCESS_DENIED, "the window " + live->name + " belongs to another thread");
        return FALSE;
    }
    live->destroying = true;
    CallProcedure(lock, live, false, WM_DESTROY, 0, 0);
    // The handle is never handed out again, so a stale handle can never
    // reach a new window; the record goes now, or when a dispatch of it that
    // is still running ends.
    if (live->fd >= 0)
        UnlinkOwn(live->path, live->device, live->inode);
    RemoveLocal(live);
    CloseProcessEndpointIfIdle();
    return TRUE;
}

HWND FindWindowA(LPCSTR /*className*/, LPCSTR windowName)
{
    if (!windowName)
        return nullptr;
    const Lock lock(TheRegistry().mutex);
    if (KorvaneWindow* local = LocalByName(windowName))
        return HandleOf(local);
    if (!korvane_wire::IsValidWindowName(windowName, std::strlen(windowName))) {
        Fail(ERROR_INVALID_PARAMETER, "invalid endpoint name");
        return nullptr;
    }
    const std::string* folder = Folder();
    std::string path;
    if (!folder || !EndpointPath(*folder, windowName, path))
        return nullptr;
    struct stat seen = {};
    switch (ProbeEndpoint(path, &seen)) {
    case Probe::Live:
        // The handle a message from that very window gave, if there was
        // one; else the one that stands for the name.
        if (KorvaneWindow* known = RemoteBySocket(windowName, seen))
            return HandleOf(known);
        return HandleOf(WindowForName(windowName, 0));
    case Probe::Stale:
        RemoveStale(path, seen);
        break;
    case Probe::Failed:
        return nullptr; // the reason is recorded: not "no endpoint"
    case Probe::Missing:
    case Probe::Other:
        break;
    }
    Fail(ERROR_FILE_NOT_FOUND, std::string("no endpoint ") + windowName);
    return nullptr;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Lock lock(TheRegistry().mutex);
    KorvaneWindow* target = Known(window);
    if (!target) {
        Fail(ERROR_INVALID_WINDOW_HANDLE, "unknown endpoint (gone, or never known here)");
        return 0;
    }
    if (target->remote) {
        // The name may belong to a window of this very process by now: the
        // one meant, when the handle stands for the name or that very
        // incarnation.
        KorvaneWindow* local = LocalByName(target->name);
        if (!local)
            return SendThroughSocket(lock, target->name, target->incarnation, target->handle,
                                     message, wParam, lParam);
        if (target->incarnation != 0 && target->incarnation != local->incarnation) {
            Fail(ERROR_INVALID_WINDOW_HANDLE, target->name + " went away");
            DropRemote(target->handle);
            return 0;
        }
        target = local;
    }
    if (!OwnedHere(target)) {
        // Another thread's window: its procedure runs on that thread, when
        // it waits for messages.
        if (target->fd < 0) {
            Fail(ERROR_ACCESS_DENIED,
                 "the window " + target->name + " belongs to another thread and has no endpoint");
            return 0;
        }
        return SendThroughSocket(lock, target->name, target->incarnation, 0, message, wParam,
                                 lParam);
    }
    ThisThread().lastError = ERROR_SUCCESS;
    return CallProcedure(lock, target, false, message, wParam, lParam);
}

LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM)
{
    return 0;
}

void PostQuitMessage(int exitCode)
{
    ThreadState& thread = ThisThread();
    thread.quit = true;
    thread.exitCode = exitCode;
}

bool QuitRequested(int* exitCode)
{
    const ThreadState& thread = ThisThread();
    if (thread.quit && exitCode)
        *exitCode = thread.exitCode;
    return thread.quit;
}

void ClearQuitRequest()
{
    ThreadState& thread = ThisThread();
    thread.quit = false;
    thread.exitCode = 0;
}

void OutputDebugStringA(LPCSTR text)
{
    std::fputs(text, stderr);
    std::fflush(stderr);
}

BOOL InSendMessage()
{
    const std::vector<uint8_t>& dispatches = ThisThread().dispatches;
    return !dispatches.empty() && dispatches.back() ? TRUE : FALSE;
}

intptr_t SetWindowLongPtrA(HWND window, int index, intptr_t value)
{
    const Lock lock(TheRegistry().mutex);
    KorvaneWindow* live = LocalLive(window);
    if (!live || index != GWLP_USERDATA)
        return 0;
    const intptr_t old = live->userData;
    live->userData = value;
    return old;
}

intptr_t GetWindowLongPtrA(HWND window, int index)
{
    const Lock lock(TheRegistry().mutex);
    KorvaneWindow* live = LocalLive(window);
    return live && index == GWLP_USERDATA ? live->userData : 0;
}

const char* GetWindowName(HWND window)
{
    const Lock lock(TheRegistry().mutex);
    KorvaneWindow* known = Known(window);
    if (!known)
        return nullptr;
    std::string& copy = ThisThread().nameCopy;
    copy = known->name;
    return copy.c_str();
}

void SetSendTimeout(int milliseconds)
{
    ThisThread().sendTimeoutMs = milliseconds > 0 ? milliseconds : kDefaultSendTimeoutMs;
}

int GetSendTimeout()
{
    return SendTimeout();
}

const char* GetRuntimeFolder()
{
    const Lock lock(TheRegistry().mutex);
    const std::string* folder = Folder();
    if (!folder)
        return nullptr;
    std::string& copy = ThisThread().folderCopy;
    copy = *folder;
    return copy.c_str();
}

const char* GetMessageLayerError()
{
    return ThisThread().error.c_str();
}

size_t MaxWindowNameLength()
{
    const Lock lock(TheRegistry().mutex);
    const std::string* folder = Folder();
    if (!folder)
        return 0;
    const size_t room = korvane_runtime::MaxSocketPathLength();
    if (room <= folder->size() + 1)
        return 0;
    return std::min(korvane_wire::kMaxNameLength, room - folder->size() - 1);
}

int EnumWindowNames(const char* prefix, BOOL (*callback)(const char* name, void* context),
                    void* context)
{
    if (!callback)
        return 0;
    const std::string start = prefix ? prefix : "";
    std::vector<std::string> names;
    {
        const Lock lock(TheRegistry().mutex);
        for (const KorvaneWindow* window : TheRegistry().windows)
            if (window->alive && !window->remote &&
                window->name.compare(0, start.size(), start) == 0)
                names.push_back(window->name);
        const size_t local = names.size();

        if (const std::string* folder = Folder()) {
            std::vector<std::string> found;
            if (DIR* dir = opendir(folder->c_str())) {
                while (const dirent* entry = readdir(dir)) {
                    const std::string name = entry->d_name;
                    if (korvane_wire::IsValidWindowName(name.c_str(), name.size()) &&
                        name.compare(0, start.size(), start) == 0 && !LocalByName(name))
                        found.push_back(name);
                }
                closedir(dir);
            }
            std::sort(found.begin(), found.end());
            for (const std::string& name : found) {
                const std::string path = *folder + "/" + name;
                if (!FitsAddress(path))
                    continue; // no endpoint of ours can have that name
                struct stat seen = {};
                const Probe probe = ProbeEndpoint(path, &seen);
                if (probe == Probe::Live)
                    names.push_back(name);
                else if (probe == Probe::Stale)
                    RemoveStale(path, seen);
            }
        }
        std::sort(names.begin(), names.begin() + std::ptrdiff_t(local));
    }
    int passed = 0;
    for (const std::string& name : names) {
        ++passed;
        if (!callback(name.c_str(), context))
            break;
    }
    return passed;
}

unsigned long GetRejectedMessageCount()
{
    return TheRegistry().rejected.load();
}

DWORD GetLastError()
{
    return ThisThread().lastError;
}

void SetLastError(DWORD error)
{
    ThisThread().lastError = error;
}
