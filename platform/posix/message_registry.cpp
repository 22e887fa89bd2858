// The window records and the registry of this process.
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
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

namespace korvane_layer {

std::atomic<Registry*> g_registry{nullptr};

Registry& CreateRegistry()
{
    static Registry* registry = new Registry;
    g_registry.store(registry, std::memory_order_release);
    return *registry;
}

KorvaneWindow* Known(HWND window)
{
    Registry& registry = TheRegistry();
    const auto found = registry.handles.find(reinterpret_cast<uintptr_t>(window));
    if (found == registry.handles.end() || !found->second->alive)
        return nullptr;
    return found->second;
}

ThreadState& ThisThread()
{
    thread_local ThreadState state;
    return state;
}

ThreadState::~ThreadState()
{
    if (!registered)
        return;
    Registry& registry = TheRegistry();
    const Lock lock(registry.mutex);
    ForgetThread(*this);
}

void RegisterThread(ThreadState& thread)
{
    if (thread.registered)
        return;
    TheRegistry().threads.push_back(&thread);
    thread.registered = true;
}

bool OwnedHere(const KorvaneWindow* window)
{
    return !window->remote && window->owner == std::this_thread::get_id();
}

void RemoveLocal(KorvaneWindow* window)
{
    Registry& registry = TheRegistry();
    window->alive = false;
    window->procedure = nullptr;
    if (window->fd >= 0)
        close(window->fd);
    window->fd = -1;
    registry.handles.erase(window->handle);
    const auto found = std::find(registry.windows.begin(), registry.windows.end(), window);
    if (found != registry.windows.end())
        registry.windows.erase(found);
    if (window->busy == 0)
        delete window;
}

KorvaneWindow* AddRecord(KorvaneWindow* window)
{
    Registry& registry = TheRegistry();
    // Far above any number a message carries as a plain wParam, and
    // 16-aligned as an address would be.
    constexpr uintptr_t kFirstHandle = uintptr_t(0x4B56) << 32;
    registry.lastHandle = registry.lastHandle ? registry.lastHandle + 16 : kFirstHandle;
    window->handle = registry.lastHandle;
    registry.handles.emplace(window->handle, window);
    registry.windows.push_back(window);
    return window;
}

uint64_t NewIncarnation()
{
    uint64_t value = 0;
    if (getrandom(&value, sizeof value, GRND_NONBLOCK) != ssize_t(sizeof value)) {
        // Without the kernel's random numbers: the time, the process and a
        // counter, mixed.
        static std::atomic<uint64_t> counter{0};
        timespec now = {};
        clock_gettime(CLOCK_REALTIME, &now);
        value = (uint64_t(now.tv_sec) << 32) ^ uint64_t(now.tv_nsec) ^ (uint64_t(getpid()) << 16) ^
                (++counter * 0x9E3779B97F4A7C15ull);
    }
    return value ? value : 1;
}

void DropRemote(uintptr_t handle)
{
    Registry& registry = TheRegistry();
    const auto found = registry.handles.find(handle);
    if (found == registry.handles.end() || !found->second->remote)
        return;
    KorvaneWindow* window = found->second;
    registry.handles.erase(found);
    registry.windows.erase(std::find(registry.windows.begin(), registry.windows.end(), window));
    --registry.remoteWindows;
    delete window;
}

KorvaneWindow* LocalLive(HWND window)
{
    KorvaneWindow* known = Known(window);
    return known && !known->remote ? known : nullptr;
}

KorvaneWindow* LocalByName(const std::string& name)
{
    for (KorvaneWindow* window : TheRegistry().windows)
        if (window->alive && !window->remote && window->name == name)
            return window;
    return nullptr;
}

KorvaneWindow* RemoteByName(const std::string& name)
{
    for (KorvaneWindow* window : TheRegistry().windows)
        if (window->remote && window->name == name && window->incarnation == 0)
            return window;
    return nullptr;
}

KorvaneWindow* RemoteBySocket(const std::string& name, const struct stat& socket)
{
    for (KorvaneWindow* window : TheRegistry().windows)
        if (window->remote && window->incarnation != 0 && window->name == name &&
            window->inode == socket.st_ino && window->device == socket.st_dev &&
            window->made.tv_sec == socket.st_ctim.tv_sec &&
            window->made.tv_nsec == socket.st_ctim.tv_nsec)
            return window;
    return nullptr;
}

namespace {

// Drops the remote records whose endpoints are gone from the runtime folder,
// when their count has doubled since the last look.
void SweepRemoteRecords()
{
    Registry& registry = TheRegistry();
    if (registry.remoteWindows < registry.remoteSweepAt)
        return;
    std::vector<uintptr_t> gone;
    if (const std::string* folder = Folder()) {
        for (const KorvaneWindow* window : registry.windows) {
            if (!window->remote)
                continue;
            if (!FitsAddress(*folder + "/" + window->name) ||
                ProbeEndpoint(*folder + "/" + window->name) != Probe::Live)
                gone.push_back(window->handle);
        }
    }
    for (uintptr_t handle : gone)
        DropRemote(handle);
    registry.remoteSweepAt = std::max(kRemoteSweepFloor, 2 * registry.remoteWindows);
}

} // namespace

KorvaneWindow* WindowForName(const std::string& name, uint64_t incarnation)
{
    Registry& registry = TheRegistry();
    if (KorvaneWindow* local = LocalByName(name))
        if (incarnation == 0 || incarnation == local->incarnation)
            return local;
    std::vector<uintptr_t> older;
    for (KorvaneWindow* window : registry.windows) {
        if (!window->remote || window->name != name)
            continue;
        if (window->incarnation == incarnation)
            return window;
        // Whoever sent this had the name after them: they are gone.
        if (incarnation != 0 && window->incarnation != 0)
            older.push_back(window->handle);
    }
    for (uintptr_t handle : older)
        DropRemote(handle);
    SweepRemoteRecords();
    auto* window = new KorvaneWindow;
    window->name = name;
    window->incarnation = incarnation;
    window->remote = true;
    // The socket of that incarnation, as it is now: FindWindowA gives this
    // record for the name while that socket is the one bound there.
    struct stat seen = {};
    if (const std::string* folder = Folder())
        if (incarnation != 0 && lstat((*folder + "/" + name).c_str(), &seen) == 0) {
            window->device = seen.st_dev;
            window->inode = seen.st_ino;
            window->made = seen.st_ctim;
        }
    AddRecord(window);
    ++registry.remoteWindows;
    return window;
}

bool HasOpenEndpoint()
{
    const Registry& registry = TheRegistry();
    for (const ThreadState* thread : registry.threads)
        if (thread->processFd >= 0)
            return true;
    for (const KorvaneWindow* window : registry.windows)
        if (window->alive && !window->remote && window->fd >= 0)
            return true;
    return false;
}

bool Fail(DWORD code, const std::string& reason)
{
    ThreadState& thread = ThisThread();
    thread.lastError = code;
    thread.error = reason;
    return false;
}

int64_t NowMs()
{
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void SleepMs(int milliseconds)
{
    timespec pause = {0, long(milliseconds) * 1000000L};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

} // namespace korvane_layer
