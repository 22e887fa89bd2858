// The message layer: a registry of named windows with their procedures,
// carried across processes by Unix domain datagram sockets.
//
// A window of this process is called directly. Every local window is also
// bound as a socket <runtime folder>/<name>, where requests from other
// processes arrive. A process sends its own requests from one private
// endpoint <runtime folder>/.p<pid>-<n> and receives the replies there, so a
// process needs no window to send. Windows of other processes are
// represented by records that hold only their name ("remote" windows); such
// a handle is never dereferenced beyond the registry, and stays valid while
// the process behind the name comes and goes.
//
// While a send to another process waits for its reply, requests for this
// process's windows are dispatched (nested), exactly as a synchronous send of
// the Windows message system does. Replies are matched to their request by
// sequence number and sender address; a reply that comes after its request
// gave up is dropped.

#include "winapi.h"

#include "platform/posix/message_wire.h"
#include "platform/posix/runtime_folder.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>
#include <vector>

struct KorvaneWindow
{
    std::string name;
    WNDPROC procedure = nullptr;
    intptr_t userData = 0;
    bool alive = true;
    // Stands for the window of that name in another process.
    bool remote = false;
    // Local windows: the bound socket and where it is bound.
    int fd = -1;
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
    bool destroying = false;
};

namespace {

using korvane_wire::Frame;

constexpr int kDefaultSendTimeoutMs = 5000;
// How often a waiting send checks that the receiver's process still lives.
constexpr int kProbeIntervalMs = 200;
// Names of other processes' windows this process keeps handles for.
constexpr size_t kMaxRemoteWindows = 4096;
constexpr int kSocketBufferOctets = 512 * 1024;

// A send to another process waiting for its reply.
struct PendingSend
{
    uint64_t sequence = 0;
    std::string path; // the receiver's address; the reply must come from it
    bool answered = false;
    LRESULT result = 0;
};

struct Registry
{
    std::vector<KorvaneWindow*> windows;
    bool quit = false;
    int exitCode = 0;

    // One entry per dispatch in progress: true when the message came from
    // another process (what InSendMessage tells).
    std::vector<bool> dispatches;

    // The runtime folder in use while any endpoint is open.
    std::string folder;
    // This process's endpoint for its own sends.
    int processFd = -1;
    std::string processPath;
    dev_t processDevice = 0;
    ino_t processInode = 0;
    unsigned processEndpoints = 0;

    uint64_t nextSequence = 0;
    std::vector<PendingSend> pending; // innermost last
    int sendTimeoutMs = -1;           // -1: not set yet
    size_t remoteWindows = 0;
    size_t pollStart = 0;

    DWORD lastError = ERROR_SUCCESS;
    std::string error;
    unsigned long rejected = 0;
    bool hooksInstalled = false;
    std::string sweptFolder;
    pid_t owner = 0; // the process whose endpoints these are
};

Registry& TheRegistry()
{
    // Never destroyed: window records live as long as the process (a handle
    // stays unique for good), and the clean-up at exit still needs them.
    static Registry* registry = new Registry;
    return *registry;
}

// The self-pipe that wakes RunMessageLoop; the write end is used from signal
// handlers.
std::atomic<int> g_wakeWrite{-1};
int g_wakeRead = -1;

static_assert(std::atomic<int>::is_always_lock_free, "the wake descriptor is read in signal handlers");

KorvaneWindow* Known(HWND window)
{
    // Newest first: the records of destroyed windows stay, and the windows
    // in use are mostly the recent ones.
    const std::vector<KorvaneWindow*>& windows = TheRegistry().windows;
    for (auto known = windows.rbegin(); known != windows.rend(); ++known)
        if (*known == window && (*known)->alive)
            return *known;
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

// The folder to use now: the one of the open endpoints, or freshly chosen
// and checked.
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

// True when path fits a socket address (with its NUL).
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

// The socket address of path; false, with nothing copied, when the path is
// too long for it.
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

enum class Probe
{
    Live,    // a socket someone has bound
    Stale,   // a socket nobody has bound: its process is gone
    Missing, // nothing there
    Other,   // something that is not an endpoint, or not reachable
};

Probe ProbeEndpoint(const std::string& path, struct stat* seen = nullptr)
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
    if (fd < 0)
        return Probe::Other;
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

void SleepMs(int milliseconds)
{
    timespec pause = {0, long(milliseconds) * 1000000L};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

// Removes the socket file at path if it is still the one probed and still
// nobody's. (A socket file appears an instant before its socket is bound;
// the second look keeps a process that is binding right now from losing its
// name.)
void RemoveStale(const std::string& path, const struct stat& seen)
{
    SleepMs(2);
    struct stat now = {};
    if (ProbeEndpoint(path, &now) == Probe::Stale && SameFile(now, seen))
        unlink(path.c_str());
}

// Unlinks a socket this process bound, unless someone replaced it since.
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
    if (registry.owner != getpid())
        return;
    for (KorvaneWindow* window : registry.windows)
        if (window->alive && !window->remote)
            UnlinkOwn(window->path, window->device, window->inode);
    if (registry.processFd >= 0)
        UnlinkOwn(registry.processPath, registry.processDevice, registry.processInode);
}

// After fork the child owns none of the parent's endpoints: it closes them
// (without removing them) and starts afresh.
void ForgetEndpointsInChild()
{
    Registry& registry = TheRegistry();
    for (KorvaneWindow* window : registry.windows) {
        if (window->alive && !window->remote) {
            if (window->fd >= 0)
                close(window->fd);
            window->fd = -1;
            window->alive = false;
            window->procedure = nullptr;
        }
    }
    if (registry.processFd >= 0)
        close(registry.processFd);
    registry.processFd = -1;
    registry.processPath.clear();
    registry.pending.clear();
    registry.dispatches.clear();
    registry.quit = false;
    registry.exitCode = 0;
    registry.owner = getpid();
    const int wakeWrite = g_wakeWrite.exchange(-1);
    if (wakeWrite >= 0)
        close(wakeWrite);
    if (g_wakeRead >= 0)
        close(g_wakeRead);
    g_wakeRead = -1;
}

void InstallHooks()
{
    Registry& registry = TheRegistry();
    if (registry.hooksInstalled)
        return;
    registry.hooksInstalled = true;
    registry.owner = getpid();
    std::atexit(CleanUpAtExit);
    pthread_atfork(nullptr, nullptr, ForgetEndpointsInChild);
}

void EnsureWakePipe()
{
    if (g_wakeRead >= 0)
        return;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    g_wakeRead = fds[0];
    g_wakeWrite.store(fds[1]);
}

// A bound, private datagram socket at path.
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
        Fail(ERROR_ACCESS_DENIED, std::string("socket: ") + std::strerror(errno));
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

// Removes the endpoints that dead processes left in the folder; once per
// folder and process, when the process opens its first endpoint there.
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
    if (registry.processFd >= 0)
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
        if (probe == Probe::Stale)
            RemoveStale(path, seen);
        else if (probe != Probe::Missing)
            continue;
        const int fd = BindEndpoint(path, registry.processDevice, registry.processInode);
        if (fd < 0)
            continue;
        registry.processFd = fd;
        registry.processPath = path;
        return true;
    }
    return false;
}

void CloseProcessEndpointIfIdle()
{
    Registry& registry = TheRegistry();
    if (registry.processFd < 0 || !registry.pending.empty())
        return;
    for (const KorvaneWindow* window : registry.windows)
        if (window->alive && !window->remote && window->fd >= 0)
            return;
    // Unlinked while still bound, so the file cannot be somebody else's yet.
    UnlinkOwn(registry.processPath, registry.processDevice, registry.processInode);
    close(registry.processFd);
    registry.processFd = -1;
    registry.processPath.clear();
}

// The handle this process uses for the window named `name`: its own window
// of that name, else the record standing for another process's window.
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

int SendTimeout()
{
    Registry& registry = TheRegistry();
    if (registry.sendTimeoutMs < 0) {
        registry.sendTimeoutMs = kDefaultSendTimeoutMs;
        if (const char* text = std::getenv("KORVANE_SEND_TIMEOUT_MS")) {
            char* end = nullptr;
            const long value = std::strtol(text, &end, 10);
            if (end != text && *end == '\0' && value > 0 && value <= 3600 * 1000)
                registry.sendTimeoutMs = int(value);
        }
    }
    return registry.sendTimeoutMs;
}

// Sends one datagram; waits (up to budgetMs) while the receiver's queue is
// full. Returns 0 or the errno of the failure (ETIMEDOUT when the queue
// stayed full).
int SendDatagram(int fd, const std::string& path, const std::vector<uint8_t>& datagram, int budgetMs)
{
    sockaddr_un address = {};
    socklen_t length = 0;
    if (!Address(path, address, length))
        return ENAMETOOLONG;
    const int64_t deadline = NowMs() + budgetMs;
    for (;;) {
        const ssize_t sent = sendto(fd, datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                                    reinterpret_cast<const sockaddr*>(&address), length);
        if (sent == ssize_t(datagram.size()))
            return 0;
        if (sent >= 0)
            return EMSGSIZE;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ENOBUFS)
            return errno;
        if (NowMs() >= deadline)
            return ETIMEDOUT;
        SleepMs(1);
    }
}

void Reject()
{
    ++TheRegistry().rejected;
}

// The sender's address, if it is an endpoint in the runtime folder.
bool SourceInFolder(const sockaddr_un& from, socklen_t fromLength, std::string& source)
{
    const size_t offset = offsetof(sockaddr_un, sun_path);
    if (fromLength <= offset || from.sun_path[0] == '\0')
        return false; // unbound or abstract: not one of ours
    const size_t room = std::min(size_t(fromLength) - offset, sizeof from.sun_path);
    source.assign(from.sun_path, strnlen(from.sun_path, room));
    const std::string& folder = TheRegistry().folder;
    if (source.size() <= folder.size() + 1 || source.compare(0, folder.size(), folder) != 0 ||
        source[folder.size()] != '/')
        return false;
    return source.find('/', folder.size() + 1) == std::string::npos;
}

LRESULT CallProcedure(KorvaneWindow* window, bool fromOutside, UINT message, WPARAM wParam,
                      LPARAM lParam)
{
    // The record of this dispatch goes when it ends, also when the
    // procedure throws.
    struct DispatchRecord
    {
        explicit DispatchRecord(bool outside) { TheRegistry().dispatches.push_back(outside); }
        ~DispatchRecord()
        {
            // (A child forked during the dispatch starts with none.)
            if (!TheRegistry().dispatches.empty())
                TheRegistry().dispatches.pop_back();
        }
        DispatchRecord(const DispatchRecord&) = delete;
        DispatchRecord& operator=(const DispatchRecord&) = delete;
    };
    const DispatchRecord record(fromOutside);
    return window->procedure(window, message, wParam, lParam);
}

void DispatchRequest(KorvaneWindow* window, const Frame& frame, const std::string& source)
{
    WPARAM wParam = WPARAM(frame.wParam);
    if (frame.flags & korvane_wire::kFlagWindow) {
        KorvaneWindow* named = WindowForName(frame.windowName);
        if (!named) {
            Reject();
            return;
        }
        wParam = reinterpret_cast<WPARAM>(named);
    }
    COPYDATASTRUCT block = {};
    LPARAM lParam = LPARAM(frame.lParam);
    if (frame.message == WM_COPYDATA) {
        lParam = 0;
        if (frame.flags & korvane_wire::kFlagBlock) {
            block.dwData = ULONG_PTR(frame.dwData);
            block.cbData = frame.cbData;
            block.lpData = frame.cbData ? const_cast<uint8_t*>(frame.block) : nullptr;
            lParam = reinterpret_cast<LPARAM>(&block);
        }
    }
    const LRESULT result = CallProcedure(window, true, UINT(frame.message), wParam, lParam);

    // The answer goes back from the address the request was sent to; a
    // window destroyed meanwhile no longer answers.
    if (!window->alive || window->fd < 0)
        return;
    Frame reply;
    reply.kind = korvane_wire::kReply;
    reply.sequence = frame.sequence;
    reply.lParam = int64_t(result);
    SendDatagram(window->fd, source, korvane_wire::EncodeFrame(reply), SendTimeout());
}

void AcceptReply(const Frame& frame, const std::string& source)
{
    Registry& registry = TheRegistry();
    for (PendingSend& pending : registry.pending) {
        if (pending.sequence != frame.sequence)
            continue;
        if (pending.path != source || pending.answered) {
            Reject();
            return;
        }
        pending.answered = true;
        pending.result = LRESULT(frame.lParam);
        return;
    }
    // The answer to a send that gave up already: dropped.
}

// Reads one datagram from fd and handles it: a request for `window`, or a
// reply when window is nullptr (the process endpoint).
void ReceiveOne(int fd, KorvaneWindow* window)
{
    uint8_t peek = 0;
    iovec peekVector = {&peek, 1};
    msghdr peekHeader = {};
    peekHeader.msg_iov = &peekVector;
    peekHeader.msg_iovlen = 1;
    const ssize_t size = recvmsg(fd, &peekHeader, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
    if (size < 0)
        return;
    if (size_t(size) > korvane_wire::kMaxFrameSize) {
        recv(fd, &peek, 1, MSG_DONTWAIT); // drops the whole datagram
        Reject();
        return;
    }

    // One octet more than the frame, kept 0, so a block read as text ends.
    std::vector<uint8_t> buffer(size_t(size) + 1, 0);
    iovec vector = {buffer.data(), size_t(size)};
    sockaddr_un from = {};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))] = {};
    msghdr header = {};
    header.msg_name = &from;
    header.msg_namelen = sizeof from;
    header.msg_iov = &vector;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    const ssize_t got = recvmsg(fd, &header, MSG_DONTWAIT);
    if (got < 0)
        return;
    if (header.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) {
        Reject();
        return;
    }

    bool sameUser = false;
    for (cmsghdr* message = CMSG_FIRSTHDR(&header); message; message = CMSG_NXTHDR(&header, message)) {
        if (message->cmsg_level == SOL_SOCKET && message->cmsg_type == SCM_CREDENTIALS &&
            message->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
            ucred credentials = {};
            std::memcpy(&credentials, CMSG_DATA(message), sizeof credentials);
            sameUser = credentials.uid == geteuid();
        }
    }
    std::string source;
    Frame frame;
    if (!sameUser || !SourceInFolder(from, header.msg_namelen, source) ||
        !korvane_wire::DecodeFrame(buffer.data(), size_t(got), frame)) {
        Reject();
        return;
    }
    if (window) {
        if (frame.kind != korvane_wire::kRequest) {
            Reject();
            return;
        }
        DispatchRequest(window, frame, source);
    } else {
        if (frame.kind != korvane_wire::kReply) {
            Reject();
            return;
        }
        AcceptReply(frame, source);
    }
}

enum class PumpResult
{
    Handled,     // one datagram was read (and handled or dropped)
    TimedOut,    // nothing arrived in time
    Interrupted, // a signal or WakeMessageLoop
};

// Waits up to timeoutMs (negative: no limit) for a datagram at any of this
// process's endpoints and handles one. waitedMs gets the time spent waiting
// (not handling).
PumpResult Pump(int timeoutMs, bool withWake, int64_t* waitedMs = nullptr)
{
    Registry& registry = TheRegistry();
    std::vector<pollfd> fds;
    std::vector<KorvaneWindow*> owners;
    if (withWake && g_wakeRead >= 0) {
        fds.push_back({g_wakeRead, POLLIN, 0});
        owners.push_back(nullptr);
    }
    const size_t first = fds.size();
    if (registry.processFd >= 0) {
        fds.push_back({registry.processFd, POLLIN, 0});
        owners.push_back(nullptr);
    }
    for (KorvaneWindow* window : registry.windows) {
        if (window->alive && !window->remote && window->fd >= 0) {
            fds.push_back({window->fd, POLLIN, 0});
            owners.push_back(window);
        }
    }
    const int64_t start = NowMs();
    const int rc = poll(fds.data(), nfds_t(fds.size()), timeoutMs);
    if (waitedMs)
        *waitedMs = NowMs() - start;
    if (rc < 0)
        return errno == EINTR ? PumpResult::Interrupted : PumpResult::TimedOut;
    if (rc == 0)
        return PumpResult::TimedOut;
    if (first == 1 && (fds[0].revents & POLLIN)) {
        char drain[64];
        while (read(g_wakeRead, drain, sizeof drain) > 0) {
        }
        return PumpResult::Interrupted;
    }
    // Endpoints take turns, so a busy one cannot starve the others.
    const size_t count = fds.size() - first;
    for (size_t i = 0; i < count; ++i) {
        const size_t index = first + (registry.pollStart + i) % count;
        if (!(fds[index].revents & (POLLIN | POLLERR)))
            continue;
        registry.pollStart = (registry.pollStart + i + 1) % count;
        ReceiveOne(fds[index].fd, owners[index]);
        return PumpResult::Handled;
    }
    return PumpResult::Handled;
}

LRESULT SendToOtherProcess(KorvaneWindow* target, UINT message, WPARAM wParam, LPARAM lParam)
{
    Registry& registry = TheRegistry();
    if (!EnsureProcessEndpoint())
        return 0;
    std::string path;
    if (!EndpointPath(registry.folder, target->name, path))
        return 0;

    Frame frame;
    frame.kind = korvane_wire::kRequest;
    frame.sequence = ++registry.nextSequence;
    frame.message = message;
    if (KorvaneWindow* named = Known(reinterpret_cast<HWND>(wParam))) {
        frame.flags |= korvane_wire::kFlagWindow;
        frame.windowName = named->name;
    } else {
        frame.wParam = wParam;
    }
    if (message == WM_COPYDATA) {
        if (lParam) {
            const auto* block = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            if (block->cbData > kMaxCopyDataOctets || (block->cbData && !block->lpData)) {
                Fail(ERROR_INVALID_PARAMETER, "the block is too large or has no octets");
                return 0;
            }
            frame.flags |= korvane_wire::kFlagBlock;
            frame.dwData = uint64_t(block->dwData);
            frame.cbData = block->cbData;
            frame.block = static_cast<const uint8_t*>(block->lpData);
        }
    } else {
        frame.lParam = int64_t(lParam);
    }

    // The receiver is the socket bound there as the request goes out; if
    // another one takes its place (its process died and a new one took the
    // name), this request will never be answered. A handle on the socket's
    // inode, taken before the request can reach anybody, keeps its number
    // from being given to a successor while we wait.
    const int receiverFd = open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    struct stat receiver = {};
    const bool knowReceiver = receiverFd >= 0 && fstat(receiverFd, &receiver) == 0;

    const int timeout = SendTimeout();
    const int error = SendDatagram(registry.processFd, path, korvane_wire::EncodeFrame(frame), timeout);
    if (error != 0) {
        if (receiverFd >= 0)
            close(receiverFd);
        struct stat seen = {};
        if (error == ECONNREFUSED && ProbeEndpoint(path, &seen) == Probe::Stale)
            RemoveStale(path, seen);
        if (error == ETIMEDOUT)
            Fail(ERROR_TIMEOUT, target->name + " does not take messages");
        else
            Fail(ERROR_INVALID_WINDOW_HANDLE, "no window " + target->name + ": " + std::strerror(error));
        CloseProcessEndpointIfIdle();
        return 0;
    }


    registry.pending.push_back({frame.sequence, path, false, 0});
    const size_t slot = registry.pending.size() - 1;
    int64_t waited = 0;
    int64_t sinceProbe = 0;
    LRESULT result = 0;
    DWORD outcome = ERROR_TIMEOUT;
    for (;;) {
        if (registry.pending[slot].answered) {
            result = registry.pending[slot].result;
            outcome = ERROR_SUCCESS;
            break;
        }
        if (waited >= timeout)
            break;
        const int slice = int(std::min<int64_t>(timeout - waited, kProbeIntervalMs - sinceProbe));
        int64_t spent = 0;
        const PumpResult pumped = Pump(std::max(slice, 0), false, &spent);
        waited += spent;
        sinceProbe += spent;
        if (pumped == PumpResult::TimedOut || sinceProbe >= kProbeIntervalMs) {
            sinceProbe = 0;
            if (!registry.pending[slot].answered) {
                struct stat now = {};
                const Probe probe = ProbeEndpoint(path, &now);
                const bool replaced =
                    knowReceiver && (now.st_ino != receiver.st_ino || now.st_dev != receiver.st_dev);
                if (probe != Probe::Live || replaced) {
                    outcome = ERROR_INVALID_WINDOW_HANDLE;
                    break;
                }
            }
        }
    }
    registry.pending.pop_back();
    if (receiverFd >= 0)
        close(receiverFd);
    if (outcome == ERROR_TIMEOUT)
        Fail(ERROR_TIMEOUT, target->name + " did not answer in time");
    else if (outcome != ERROR_SUCCESS)
        Fail(outcome, target->name + " went away before answering");
    else
        registry.lastError = ERROR_SUCCESS;
    CloseProcessEndpointIfIdle();
    return result;
}

} // namespace

HWND CreateMessageWindow(const char* name, WNDPROC procedure)
{
    Registry& registry = TheRegistry();
    if (!name || !procedure || !korvane_wire::IsValidWindowName(name, std::strlen(name))) {
        Fail(ERROR_INVALID_PARAMETER, "invalid window name (1 to 99 characters, no '/', not "
                                      "beginning with '.')");
        return nullptr;
    }
    if (LocalByName(name)) {
        Fail(ERROR_ALREADY_EXISTS, std::string("a window named ") + name + " exists already");
        return nullptr;
    }
    const std::string* folder = Folder();
    if (!folder)
        return nullptr;
    std::string path;
    if (!EndpointPath(*folder, name, path))
        return nullptr;
    struct stat seen = {};
    switch (ProbeEndpoint(path, &seen)) {
    case Probe::Live:
        Fail(ERROR_ALREADY_EXISTS, std::string("a window named ") + name +
                                       " is open in another process");
        return nullptr;
    case Probe::Stale:
        RemoveStale(path, seen);
        break;
    case Probe::Missing:
        break;
    case Probe::Other:
        Fail(ERROR_ACCESS_DENIED, path + " exists and is not a window's endpoint");
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
    window->procedure = procedure;
    window->fd = fd;
    window->path = path;
    window->device = device;
    window->inode = inode;
    registry.windows.push_back(window);
    registry.lastError = ERROR_SUCCESS;
    registry.error.clear();
    return window;
}

HWND CreateLocalWindow(const char* name, WNDPROC procedure)
{
    Registry& registry = TheRegistry();
    if (!name || !procedure || !korvane_wire::IsValidWindowName(name, std::strlen(name))) {
        Fail(ERROR_INVALID_PARAMETER, "invalid window name (1 to 99 characters, no '/', not "
                                      "beginning with '.')");
        return nullptr;
    }
    if (LocalByName(name)) {
        Fail(ERROR_ALREADY_EXISTS, std::string("a window named ") + name + " exists already");
        return nullptr;
    }
    auto* window = new KorvaneWindow;
    window->name = name;
    window->procedure = procedure;
    registry.windows.push_back(window);
    registry.lastError = ERROR_SUCCESS;
    registry.error.clear();
    return window;
}

BOOL DestroyWindow(HWND window)
{
    KorvaneWindow* live = LocalLive(window);
    if (!live || live->destroying) {
        Fail(ERROR_INVALID_WINDOW_HANDLE, "not a window of this process");
        return FALSE;
    }
    live->destroying = true;
    CallProcedure(live, false, WM_DESTROY, 0, 0);
    // The record stays (dead) for the life of the process, so its address is
    // never handed out again and a stale handle can never reach a new window.
    live->alive = false;
    live->procedure = nullptr;
    if (live->fd >= 0) {
        UnlinkOwn(live->path, live->device, live->inode);
        close(live->fd);
    }
    live->fd = -1;
    CloseProcessEndpointIfIdle();
    return TRUE;
}

HWND FindWindowA(LPCSTR /*className*/, LPCSTR windowName)
{
    if (!windowName)
        return nullptr;
    if (KorvaneWindow* local = LocalByName(windowName))
        return local;
    if (!korvane_wire::IsValidWindowName(windowName, std::strlen(windowName))) {
        Fail(ERROR_INVALID_PARAMETER, "invalid window name");
        return nullptr;
    }
    const std::string* folder = Folder();
    std::string path;
    if (!folder || !EndpointPath(*folder, windowName, path))
        return nullptr;
    struct stat seen = {};
    switch (ProbeEndpoint(path, &seen)) {
    case Probe::Live:
        if (KorvaneWindow* remote = WindowForName(windowName))
            return remote;
        Fail(ERROR_ACCESS_DENIED, "too many windows of other processes");
        return nullptr;
    case Probe::Stale:
        RemoveStale(path, seen);
        break;
    case Probe::Missing:
    case Probe::Other:
        break;
    }
    Fail(ERROR_FILE_NOT_FOUND, std::string("no window named ") + windowName);
    return nullptr;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Registry& registry = TheRegistry();
    KorvaneWindow* target = Known(window);
    if (!target) {
        Fail(ERROR_INVALID_WINDOW_HANDLE, "unknown window");
        return 0;
    }
    if (target->remote) {
        // The name may belong to a window of this very process by now.
        if (KorvaneWindow* local = LocalByName(target->name))
            target = local;
        else
            return SendToOtherProcess(target, message, wParam, lParam);
    }
    registry.lastError = ERROR_SUCCESS;
    return CallProcedure(target, false, message, wParam, lParam);
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
    const std::vector<bool>& dispatches = TheRegistry().dispatches;
    return !dispatches.empty() && dispatches.back() ? TRUE : FALSE;
}

intptr_t SetWindowLongPtrA(HWND window, int index, intptr_t value)
{
    KorvaneWindow* live = LocalLive(window);
    if (!live || index != GWLP_USERDATA)
        return 0;
    const intptr_t old = live->userData;
    live->userData = value;
    return old;
}

intptr_t GetWindowLongPtrA(HWND window, int index)
{
    KorvaneWindow* live = LocalLive(window);
    return live && index == GWLP_USERDATA ? live->userData : 0;
}

const char* GetWindowName(HWND window)
{
    KorvaneWindow* known = Known(window);
    return known ? known->name.c_str() : nullptr;
}

int RunMessageLoop(int timeoutMs)
{
    int code = 0;
    if (QuitRequested(&code))
        return code;
    EnsureWakePipe();
    const int64_t deadline = timeoutMs >= 0 ? NowMs() + timeoutMs : 0;
    for (;;) {
        int remaining = -1;
        if (timeoutMs >= 0)
            remaining = int(std::max<int64_t>(deadline - NowMs(), 0));
        const PumpResult pumped = Pump(remaining, true);
        if (QuitRequested(&code))
            return code;
        if (pumped == PumpResult::Interrupted)
            return -1;
        if (timeoutMs >= 0 && (pumped == PumpResult::TimedOut || NowMs() >= deadline))
            return -2;
    }
}

void WakeMessageLoop()
{
    const int fd = g_wakeWrite.load();
    if (fd >= 0) {
        const char octet = 1;
        const ssize_t written = write(fd, &octet, 1);
        (void)written;
    }
}

void SetSendTimeout(int milliseconds)
{
    TheRegistry().sendTimeoutMs = milliseconds > 0 ? milliseconds : kDefaultSendTimeoutMs;
}

int GetSendTimeout()
{
    return SendTimeout();
}

const char* GetRuntimeFolder()
{
    const std::string* folder = Folder();
    return folder ? folder->c_str() : nullptr;
}

const char* GetMessageLayerError()
{
    return TheRegistry().error.c_str();
}

size_t MaxWindowNameLength()
{
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
    for (const KorvaneWindow* window : TheRegistry().windows)
        if (window->alive && !window->remote && window->name.compare(0, start.size(), start) == 0)
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
    return TheRegistry().rejected;
}

DWORD GetLastError()
{
    return TheRegistry().lastError;
}

void SetLastError(DWORD error)
{
    TheRegistry().lastError = error;
}
