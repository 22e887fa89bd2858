// The runtime folder and the endpoints in it: probing, binding, sweeping
// and removing sockets.
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

const std::string* Folder()
{
    Registry& registry = TheRegistry();
    if (!HasOpenEndpoint()) {
        std::string reason;
        registry.folder = korvane_runtime::ChooseRuntimeFolder();
        if (!korvane_runtime::PrepareRuntimeFolder(registry.folder, reason)) {
            Fail(ERROR_ACCESS_DENIED, reason);
            return nullptr;
        }
    }
    return &registry.folder;
}

bool FitsAddress(const std::string& path)
{
    return path.size() <= korvane_runtime::MaxSocketPathLength();
}

bool EndpointPath(const std::string& folder, const std::string& name, std::string& path)
{
    path = folder + "/" + name;
    if (!FitsAddress(path))
        return Fail(ERROR_INVALID_PARAMETER,
                    "the name " + name + " is too long for the runtime folder " + folder);
    return true;
}

bool Address(const std::string& path, sockaddr_un& address, socklen_t& length)
{
    address = {};
    address.sun_family = AF_UNIX;
    if (!FitsAddress(path))
        return false;
    std::memcpy(address.sun_path, path.data(), path.size());
    length = socklen_t(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    return true;
}

Probe ProbeEndpoint(const std::string& path, struct stat* seen)
{
    // A path no address can hold is nobody's endpoint: never probed.
    sockaddr_un address = {};
    socklen_t length = 0;
    if (!Address(path, address, length))
        return Probe::Other;
    struct stat info = {};
    if (lstat(path.c_str(), &info) != 0)
        return errno == ENOENT ? Probe::Missing : Probe::Other;
    if (seen)
        *seen = info;
    if (!S_ISSOCK(info.st_mode))
        return Probe::Other;
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        Fail(ERROR_TOO_MANY_OPEN_FILES,
             std::string("cannot look at ") + path + ": socket: " + std::strerror(errno));
        return Probe::Failed;
    }
    const int rc = connect(fd, reinterpret_cast<const sockaddr*>(&address), length);
    const int error = errno;
    close(fd);
    if (rc == 0)
        return Probe::Live;
    if (error == ECONNREFUSED)
        return Probe::Stale;
    if (error == ENOENT)
        return Probe::Missing;
    return Probe::Other;
}

bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_ino == b.st_ino && a.st_dev == b.st_dev && a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
           a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

void RemoveStale(const std::string& path, const struct stat& seen)
{
    SleepMs(2);
    struct stat now = {};
    if (ProbeEndpoint(path, &now) == Probe::Stale && SameFile(now, seen))
        unlink(path.c_str());
}

void UnlinkOwn(const std::string& path, dev_t device, ino_t inode)
{
    struct stat now = {};
    if (!path.empty() && lstat(path.c_str(), &now) == 0 && now.st_ino == inode &&
        now.st_dev == device)
        unlink(path.c_str());
}

void CleanUpAtExit()
{
    Registry& registry = TheRegistry();
    const Lock lock(registry.mutex);
    if (registry.owner != getpid())
        return;
    for (KorvaneWindow* window : registry.windows)
        if (window->alive && !window->remote)
            UnlinkOwn(window->path, window->device, window->inode);
    for (const ThreadState* thread : registry.threads)
        if (thread->processFd >= 0)
            UnlinkOwn(thread->processPath, thread->processDevice, thread->processInode);
}

void LockForFork()
{
    TheRegistry().mutex.lock();
}

void UnlockAfterFork()
{
    TheRegistry().mutex.unlock();
}

void ForgetEndpointsInChild()
{
    // The forking thread holds the mutex (LockForFork) and is the child's
    // only thread: the other threads' states are left as they are, unused.
    Registry& registry = TheRegistry();
    const std::vector<KorvaneWindow*> windows = registry.windows;
    for (KorvaneWindow* window : windows)
        if (!window->remote)
            RemoveLocal(window);
    for (ThreadState* thread : registry.threads) {
        if (thread->processFd >= 0)
            close(thread->processFd);
        thread->processFd = -1;
        thread->processPath.clear();
        thread->registered = false;
    }
    registry.threads.clear();
    ThreadState& self = ThisThread();
    self.pending.clear();
    self.dispatches.clear();
    self.outsideDispatches = 0;
    self.quit = false;
    self.exitCode = 0;
    registry.owner = getpid();
    CloseWakePipes();
    registry.mutex.unlock();
}

void InstallHooks()
{
    Registry& registry = TheRegistry();
    if (registry.hooksInstalled)
        return;
    registry.hooksInstalled = true;
    registry.owner = getpid();
    std::atexit(CleanUpAtExit);
    pthread_atfork(LockForFork, UnlockAfterFork, ForgetEndpointsInChild);
}

int BindEndpoint(const std::string& path, dev_t& device, ino_t& inode)
{
    sockaddr_un address = {};
    socklen_t length = 0;
    if (!Address(path, address, length)) {
        Fail(ERROR_INVALID_PARAMETER, "the endpoint path " + path + " is too long");
        return -1;
    }
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        const int error = errno;
        Fail(error == EMFILE || error == ENFILE ? ERROR_TOO_MANY_OPEN_FILES : ERROR_ACCESS_DENIED,
             std::string("cannot make an endpoint: socket: ") + std::strerror(error));
        return -1;
    }
    const int on = 1;
    const int size = kSocketBufferOctets;
    setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        const int error = errno;
        close(fd);
        Fail(error == EADDRINUSE ? ERROR_ALREADY_EXISTS : ERROR_ACCESS_DENIED,
             "cannot bind " + path + ": " + std::strerror(error));
        return -1;
    }
    // No chmod: the private folder is what keeps others out, and the socket's
    // change time must stay its creation time (see SameFile).
    struct stat info = {};
    lstat(path.c_str(), &info);
    device = info.st_dev;
    inode = info.st_ino;
    return fd;
}

void SweepStaleEndpoints(const std::string& folder)
{
    Registry& registry = TheRegistry();
    if (registry.sweptFolder == folder)
        return;
    registry.sweptFolder = folder;
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return;
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    closedir(dir);
    for (const std::string& name : names) {
        const std::string path = folder + "/" + name;
        if (!FitsAddress(path))
            continue; // no endpoint of ours can have that name
        struct stat seen = {};
        if (ProbeEndpoint(path, &seen) == Probe::Stale)
            RemoveStale(path, seen);
    }
}

bool EnsureProcessEndpoint()
{
    Registry& registry = TheRegistry();
    ThreadState& thread = ThisThread();
    if (thread.processFd >= 0)
        return true;
    const std::string* folder = Folder();
    if (!folder)
        return false;
    InstallHooks();
    EnsureWakePipe();
    SweepStaleEndpoints(*folder);
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string path = *folder + "/.p" + std::to_string(long(getpid())) + "-" +
                           std::to_string(++registry.processEndpoints);
        if (!FitsAddress(path))
            return Fail(ERROR_INVALID_PARAMETER, "the runtime folder name is too long");
        struct stat seen = {};
        const Probe probe = ProbeEndpoint(path, &seen);
        if (probe == Probe::Failed)
            return false;
        if (probe == Probe::Stale)
            RemoveStale(path, seen);
        else if (probe != Probe::Missing)
            continue;
        const int fd = BindEndpoint(path, thread.processDevice, thread.processInode);
        if (fd < 0) {
            if (ThisThread().lastError == ERROR_TOO_MANY_OPEN_FILES)
                return false;
            continue;
        }
        thread.processFd = fd;
        thread.processPath = path;
        RegisterThread(thread);
        return true;
    }
    return false;
}

void CloseProcessEndpointIfIdle()
{
    ThreadState& thread = ThisThread();
    if (thread.processFd < 0 || !thread.pending.empty())
        return;
    for (const KorvaneWindow* window : TheRegistry().windows)
        if (window->alive && OwnedHere(window) && window->fd >= 0)
            return;
    // Unlinked while still bound, so the file cannot be somebody else's yet.
    UnlinkOwn(thread.processPath, thread.processDevice, thread.processInode);
    close(thread.processFd);
    thread.processFd = -1;
    thread.processPath.clear();
}

void ForgetThread(ThreadState& thread)
{
    Registry& registry = TheRegistry();
    if (TheRegistry().owner == getpid()) {
        const std::thread::id self = std::this_thread::get_id();
        const std::vector<KorvaneWindow*> windows = registry.windows;
        for (KorvaneWindow* window : windows) {
            if (window->remote || window->owner != self)
                continue;
            if (window->fd >= 0)
                UnlinkOwn(window->path, window->device, window->inode);
            RemoveLocal(window);
        }
        if (thread.processFd >= 0) {
            UnlinkOwn(thread.processPath, thread.processDevice, thread.processInode);
            close(thread.processFd);
        }
    }
    thread.processFd = -1;
    const auto found = std::find(registry.threads.begin(), registry.threads.end(), &thread);
    if (found != registry.threads.end())
        registry.threads.erase(found);
    thread.registered = false;
}

} // namespace korvane_layer
