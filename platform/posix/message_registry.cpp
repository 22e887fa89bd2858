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
    // A handle is compared before it is read: only one of the records
    // themselves is ever dereferenced.
    if (window && (window == registry.recent[0] || window == registry.recent[1]))
        return window->alive ? window : nullptr;
    // Newest first: the records of destroyed windows stay, and the windows
    // in use are mostly the recent ones.
    const std::vector<KorvaneWindow*>& windows = registry.windows;
    for (auto known = windows.rbegin(); known != windows.rend(); ++known)
        if (*known == window && (*known)->alive) {
            registry.recent[1] = registry.recent[0];
            registry.recent[0] = *known;
            return *known;
        }
    return nullptr;
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
        if (window->remote && window->name == name)
            return window;
    return nullptr;
}

KorvaneWindow* WindowForName(const std::string& name)
{
    if (KorvaneWindow* local = LocalByName(name))
        return local;
    if (KorvaneWindow* remote = RemoteByName(name))
        return remote;
    Registry& registry = TheRegistry();
    if (registry.remoteWindows >= kMaxRemoteWindows)
        return nullptr;
    auto* window = new KorvaneWindow;
    window->name = name;
    window->remote = true;
    registry.windows.push_back(window);
    ++registry.remoteWindows;
    return window;
}

bool HasOpenEndpoint()
{
    const Registry& registry = TheRegistry();
    if (registry.processFd >= 0)
        return true;
    for (const KorvaneWindow* window : registry.windows)
        if (window->alive && !window->remote && window->fd >= 0)
            return true;
    return false;
}

bool Fail(DWORD code, const std::string& reason)
{
    TheRegistry().lastError = code;
    TheRegistry().error = reason;
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
