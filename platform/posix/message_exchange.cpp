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

int SendDatagram(int fd, const std::string& path, const std::vector<uint8_t>& datagram,
                 int budgetMs)
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
        SleepMs(1);
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

LRESULT CallProcedure(KorvaneWindow* window, bool fromOutside, UINT message, WPARAM wParam,
                      LPARAM lParam)
{
    // The record of this dispatch goes when it ends, also when the
    // procedure throws.
    struct DispatchRecord
    {
        explicit DispatchRecord(bool outside) : dispatches(TheRegistry().dispatches)
        {
            dispatches.push_back(outside ? 1 : 0);
        }
        ~DispatchRecord()
        {
            // (A child forked during the dispatch starts with none.)
            if (!dispatches.empty())
                dispatches.pop_back();
        }
        // The registry is never destroyed, so its member outlives any record.
        std::vector<uint8_t>& dispatches;
        DispatchRecord(const DispatchRecord&) = delete;
        DispatchRecord& operator=(const DispatchRecord&) = delete;
    };
    const DispatchRecord record(fromOutside);
    return window->procedure(HandleOf(window), message, wParam, lParam);
}

void DispatchRequest(KorvaneWindow* window, const Frame& frame, const std::string& source)
{
    // A request for an earlier owner of this window's name is refused: it
    // never reaches this window.
    if (frame.receiverIncarnation != 0 && frame.receiverIncarnation != window->incarnation) {
        Frame refusal;
        refusal.kind = korvane_wire::kReply;
        refusal.flags = korvane_wire::kFlagGone;
        refusal.sequence = frame.sequence;
        SendDatagram(window->fd, source, korvane_wire::EncodeFrame(refusal), SendTimeout());
        return;
    }
    WPARAM wParam = WPARAM(frame.wParam);
    if (frame.flags & korvane_wire::kFlagWindow)
        wParam = reinterpret_cast<WPARAM>(
            HandleOf(WindowForName(frame.windowName, frame.windowIncarnation)));
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
        pending.gone = (frame.flags & korvane_wire::kFlagGone) != 0;
        pending.result = pending.gone ? 0 : LRESULT(frame.lParam);
        return;
    }
    // The answer to a send that gave up already: dropped.
}

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

LRESULT SendToOtherProcess(KorvaneWindow* target, UINT message, WPARAM wParam, LPARAM lParam)
{
    Registry& registry = TheRegistry();
    if (!EnsureProcessEndpoint())
        return 0;
    // The record may be dropped while this send waits (messages dispatched
    // meanwhile): what is needed of it is taken now.
    const std::string name = target->name;
    const uint64_t incarnation = target->incarnation;
    const uintptr_t handle = target->handle;
    target = nullptr;
    std::string path;
    if (!EndpointPath(registry.folder, name, path))
        return 0;

    Frame frame;
    frame.kind = korvane_wire::kRequest;
    frame.sequence = ++registry.nextSequence;
    frame.message = message;
    frame.receiverIncarnation = incarnation;
    if (KorvaneWindow* named = Known(reinterpret_cast<HWND>(wParam))) {
        frame.flags |= korvane_wire::kFlagWindow;
        frame.windowName = named->name;
        frame.windowIncarnation = named->incarnation;
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

    EnsureWakePipe();
    if (g_sendsCancelled.load()) {
        if (receiverFd >= 0)
            close(receiverFd);
        Fail(ERROR_CANCELLED, "sends to " + name + " are cancelled");
        CloseProcessEndpointIfIdle();
        return 0;
    }
    const int timeout = SendTimeout();
    const int error =
        SendDatagram(registry.processFd, path, korvane_wire::EncodeFrame(frame), timeout);
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

    registry.pending.push_back({frame.sequence, path, false, 0});
    const size_t slot = registry.pending.size() - 1;
    int64_t waited = 0;
    int64_t sinceProbe = 0;
    LRESULT result = 0;
    DWORD outcome = ERROR_TIMEOUT;
    for (;;) {
        if (registry.pending[slot].answered) {
            result = registry.pending[slot].result;
            outcome = registry.pending[slot].gone ? ERROR_INVALID_WINDOW_HANDLE : ERROR_SUCCESS;
            break;
        }
        if (waited >= timeout)
            break;
        const int slice = int(std::min<int64_t>(timeout - waited, kProbeIntervalMs - sinceProbe));
        int64_t spent = 0;
        const PumpResult pumped = Pump(std::max(slice, 0), false, &spent, true);
        if (pumped == PumpResult::Cancelled) {
            outcome = ERROR_CANCELLED;
            break;
        }
        waited += spent;
        sinceProbe += spent;
        if (pumped == PumpResult::TimedOut || sinceProbe >= kProbeIntervalMs) {
            sinceProbe = 0;
            if (!registry.pending[slot].answered) {
                struct stat now = {};
                const Probe probe = ProbeEndpoint(path, &now);
                const bool replaced = knowReceiver && (now.st_ino != receiver.st_ino ||
                                                       now.st_dev != receiver.st_dev);
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
    if (outcome == ERROR_TIMEOUT) {
        Fail(ERROR_TIMEOUT, name + " did not answer in time");
    } else if (outcome == ERROR_CANCELLED) {
        // Delivered: the receiver may still handle it.
        Fail(ERROR_CANCELLED, "the wait for " + name + " was cancelled");
    } else if (outcome != ERROR_SUCCESS) {
        Fail(outcome, name + " went away before answering");
        if (incarnation != 0)
            DropRemote(handle);
    } else {
        registry.lastError = ERROR_SUCCESS;
    }
    CloseProcessEndpointIfIdle();
    return result;
}

} // namespace korvane_layer
