// Datagrams between processes: requests out and in, replies matched to
// their request.
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

int SendTimeout()
{
    ThreadState& thread = ThisThread();
    if (thread.sendTimeoutMs > 0)
        return thread.sendTimeoutMs;
    Registry& registry = TheRegistry();
    int timeout = registry.defaultSendTimeoutMs.load();
    if (timeout < 0) {
        timeout = kDefaultSendTimeoutMs;
        if (const char* text = std::getenv("KORVANE_SEND_TIMEOUT_MS")) {
            char* end = nullptr;
            const long value = std::strtol(text, &end, 10);
            if (end != text && *end == '\0' && value > 0 && value <= 3600 * 1000)
                timeout = int(value);
        }
        registry.defaultSendTimeoutMs.store(timeout);
    }
    return timeout;
}

int SendDatagram(int fd, const std::string& path, const std::vector<uint8_t>& datagram,
                 int budgetMs, Lock* lock)
{
    sockaddr_un address = {};
    socklen_t length = 0;
    if (!Address(path, address, length))
        return ENAMETOOLONG;
    const int64_t deadline = NowMs() + budgetMs;
    for (;;) {
        const ssize_t sent =
            sendto(fd, datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
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
        if (lock)
            lock->unlock();
        SleepMs(1);
        if (lock)
            lock->lock();
    }
}

void Reject()
{
    ++TheRegistry().rejected;
}

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

namespace {

// Holds a window record for the length of a dispatch: a record destroyed
// meanwhile is freed when the last dispatch of it ends. Made and ended with
// the lock held.
class BusyWindow
{
public:
    explicit BusyWindow(KorvaneWindow* window) : m_window(window) { ++m_window->busy; }
    ~BusyWindow()
    {
        if (--m_window->busy == 0 && !m_window->alive)
            delete m_window;
    }
    BusyWindow(const BusyWindow&) = delete;
    BusyWindow& operator=(const BusyWindow&) = delete;

private:
    KorvaneWindow* m_window;
};

// Sends a reply frame from the window's socket back to the request's source.
void Answer(Lock& lock, KorvaneWindow* window, const std::string& source, const Frame& request,
            uint8_t flags, LRESULT result)
{
    Frame reply;
    reply.kind = korvane_wire::kReply;
    reply.flags = flags;
    reply.sequence = request.sequence;
    reply.lParam = int64_t(result);
    const int fd = window->fd;
    SendDatagram(fd, source, korvane_wire::EncodeFrame(reply), SendTimeout(), &lock);
}

} // namespace

LRESULT CallProcedure(Lock& lock, KorvaneWindow* window, bool fromOutside, UINT message,
                      WPARAM wParam, LPARAM lParam)
{
    ThreadState& thread = ThisThread();
    const WNDPROC procedure = window->procedure;
    const HWND handle = HandleOf(window);
    if (!procedure)
        return 0;
    // The record of this dispatch goes when it ends, also when the
    // procedure throws; the lock is held again by then.
    struct DispatchRecord
    {
        DispatchRecord(Lock& held, ThreadState& state, KorvaneWindow* record, bool fromOutsideHere)
            : lock(held), thread(state), busy(record), outside(fromOutsideHere)
        {
            thread.dispatches.push_back(outside ? 1 : 0);
            if (outside)
                ++thread.outsideDispatches;
            lock.unlock();
        }
        ~DispatchRecord()
        {
            lock.lock();
            // (A child forked during the dispatch starts with none.)
            if (!thread.dispatches.empty()) {
                thread.dispatches.pop_back();
                if (outside && thread.outsideDispatches > 0)
                    --thread.outsideDispatches;
            }
        }
        Lock& lock;
        ThreadState& thread;
        BusyWindow busy;
        bool outside;
        DispatchRecord(const DispatchRecord&) = delete;
        DispatchRecord& operator=(const DispatchRecord&) = delete;
    };
    const DispatchRecord record(lock, thread, window, fromOutside);
    return procedure(handle, message, wParam, lParam);
}

void DispatchRequest(Lock& lock, KorvaneWindow* window, const Frame& frame,
                     const std::string& source)
{
    const BusyWindow busy(window);
    // A request for an earlier owner of this window's name is refused: it
    // never reaches this window.
    if (frame.receiverIncarnation != 0 && frame.receiverIncarnation != window->incarnation) {
        Answer(lock, window, source, frame, korvane_wire::kFlagGone, 0);
        return;
    }
    WPARAM wParam = WPARAM(frame.wParam);
    if (frame.flags & korvane_wire::kFlagWindow) {
        // The sender names itself: it must be the endpoint the request came
        // from, of a known incarnation, and not this window.
        const std::string& folder = TheRegistry().folder;
        const bool fromThere =
            source.size() == folder.size() + 1 + frame.windowName.size() &&
            source.compare(folder.size() + 1, std::string::npos, frame.windowName) == 0;
        if (!fromThere || frame.windowIncarnation == 0 || (frame.windowName == window->name)) {
            Reject();
            return;
        }
        wParam = reinterpret_cast<WPARAM>(
            HandleOf(WindowForName(frame.windowName, frame.windowIncarnation)));
    }
    if (ThisThread().outsideDispatches >= kMaxNestedDispatches) {
        Answer(lock, window, source, frame, korvane_wire::kFlagBusy, 0);
        return;
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
    const LRESULT result = CallProcedure(lock, window, true, UINT(frame.message), wParam, lParam);

    // The answer goes back from the address the request was sent to; a
    // window destroyed meanwhile no longer answers.
    if (!window->alive || window->fd < 0)
        return;
    Answer(lock, window, source, frame, 0, result);
}

void AcceptReply(const Frame& frame, const std::string& source)
{
    for (PendingSend& pending : ThisThread().pending) {
        if (pending.sequence != frame.sequence)
            continue;
        if (pending.path != source || pending.answered) {
            Reject();
            return;
        }
        pending.answered = true;
        pending.gone = (frame.flags & korvane_wire::kFlagGone) != 0;
        pending.busy = (frame.flags & korvane_wire::kFlagBusy) != 0;
        pending.result = pending.gone || pending.busy ? 0 : LRESULT(frame.lParam);
        return;
    }
    // The answer to a send that gave up already: dropped.
}

void ReceiveOne(Lock& lock, int fd, KorvaneWindow* window)
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
    for (cmsghdr* message = CMSG_FIRSTHDR(&header); message;
         message = CMSG_NXTHDR(&header, message)) {
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
    // Replies come to whichever endpoint of the thread the request went out
    // from; requests only to windows.
    if (frame.kind == korvane_wire::kReply) {
        AcceptReply(frame, source);
    } else if (window) {
        DispatchRequest(lock, window, frame, source);
    } else {
        Reject();
    }
}

LRESULT SendThroughSocket(Lock& lock, std::string name, uint64_t incarnation, uintptr_t handle,
                          UINT message, WPARAM wParam, LPARAM lParam)
{
    Registry& registry = TheRegistry();
    ThreadState& thread = ThisThread();
    std::string path;
    if (!EnsureProcessEndpoint() || !EndpointPath(registry.folder, name, path))
        return 0;

    Frame frame;
    frame.kind = korvane_wire::kRequest;
    frame.sequence = ++thread.nextSequence;
    frame.message = message;
    frame.receiverIncarnation = incarnation;
    // A window of this thread named as wParam sends the request from its own
    // socket: the receiver sees that the sender is who it says.
    int from = thread.processFd;
    if (KorvaneWindow* named = Known(reinterpret_cast<HWND>(wParam))) {
        frame.flags |= korvane_wire::kFlagWindow;
        frame.windowName = named->name;
        frame.windowIncarnation = named->incarnation;
        if (OwnedHere(named) && named->fd >= 0)
            from = named->fd;
    } else {
        frame.wParam = wParam;
    }
    if (message == WM_COPYDATA) {
        if (lParam) {
            const auto* block = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            if (block->cbData > kMaxCopyDataOctets || (block->cbData && !block->lpData)) {
                Fail(ERROR_INVALID_PARAMETER, "the block is too large or has no octets");
                CloseProcessEndpointIfIdle();
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

    EnsureWakePipe();
    if (g_sendsCancelled.load()) {
        if (receiverFd >= 0)
            close(receiverFd);
        Fail(ERROR_CANCELLED, "sends to " + name + " are cancelled");
        CloseProcessEndpointIfIdle();
        return 0;
    }
    const int timeout = SendTimeout();
    const int error = SendDatagram(from, path, korvane_wire::EncodeFrame(frame), timeout, &lock);
    if (error != 0) {
        if (receiverFd >= 0)
            close(receiverFd);
        struct stat seen = {};
        if (error == ECONNREFUSED && ProbeEndpoint(path, &seen) == Probe::Stale)
            RemoveStale(path, seen);
        if (error == ETIMEDOUT) {
            Fail(ERROR_TIMEOUT, name + " does not take messages");
        } else {
            Fail(ERROR_INVALID_WINDOW_HANDLE, "no endpoint " + name + ": " + std::strerror(error));
            // That incarnation is gone for good.
            if (incarnation != 0)
                DropRemote(handle);
        }
        CloseProcessEndpointIfIdle();
        return 0;
    }

    // The sequence names this send; the slot of a nested send below it may
    // move, so it is looked up by its sequence each time.
    thread.pending.push_back({frame.sequence, path, false, false, false, 0});
    const uint64_t sequence = frame.sequence;
    auto mine = [&thread, sequence]() -> PendingSend& {
        for (PendingSend& pending : thread.pending)
            if (pending.sequence == sequence)
                return pending;
        return thread.pending.back(); // not reached: popped only below
    };
    int64_t waited = 0;
    int64_t sinceProbe = 0;
    LRESULT result = 0;
    DWORD outcome = ERROR_TIMEOUT;
    for (;;) {
        if (mine().answered) {
            result = mine().result;
            outcome = mine().gone   ? ERROR_INVALID_WINDOW_HANDLE
                      : mine().busy ? ERROR_BUSY
                                    : ERROR_SUCCESS;
            break;
        }
        if (waited >= timeout)
            break;
        const int slice = int(std::min<int64_t>(timeout - waited, kProbeIntervalMs - sinceProbe));
        int64_t spent = 0;
        const PumpResult pumped = Pump(lock, std::max(slice, 0), false, &spent, true);
        if (pumped == PumpResult::Cancelled) {
            outcome = ERROR_CANCELLED;
            break;
        }
        waited += spent;
        sinceProbe += spent;
        if (pumped == PumpResult::TimedOut || sinceProbe >= kProbeIntervalMs) {
            sinceProbe = 0;
            if (!mine().answered) {
                struct stat now = {};
                const Probe probe = ProbeEndpoint(path, &now);
                const bool replaced = knowReceiver && (now.st_ino != receiver.st_ino ||
                                                       now.st_dev != receiver.st_dev);
                if (probe == Probe::Failed)
                    continue; // no look possible now: the timeout still ends the wait
                if (probe != Probe::Live || replaced) {
                    outcome = ERROR_INVALID_WINDOW_HANDLE;
                    break;
                }
            }
        }
    }
    for (auto it = thread.pending.begin(); it != thread.pending.end(); ++it)
        if (it->sequence == sequence) {
            thread.pending.erase(it);
            break;
        }
    if (receiverFd >= 0)
        close(receiverFd);
    if (outcome == ERROR_TIMEOUT) {
        Fail(ERROR_TIMEOUT, name + " did not answer in time");
    } else if (outcome == ERROR_CANCELLED) {
        // Delivered: the receiver may still handle it.
        Fail(ERROR_CANCELLED, "the wait for " + name + " was cancelled");
    } else if (outcome == ERROR_BUSY) {
        Fail(ERROR_BUSY, name + " is busy: too many requests nested inside one another");
    } else if (outcome != ERROR_SUCCESS) {
        Fail(outcome, name + " went away before answering");
        if (incarnation != 0)
            DropRemote(handle);
    } else {
        thread.lastError = ERROR_SUCCESS;
    }
    CloseProcessEndpointIfIdle();
    return result;
}

} // namespace korvane_layer
