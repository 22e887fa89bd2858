// Waiting for datagrams at this process's endpoints, the message loop and
// waking it.
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

std::atomic<int> g_wakeWrite{-1};
std::atomic<int> g_wakeRead{-1};

static_assert(std::atomic<int>::is_always_lock_free,
              "the wake descriptor is read in signal handlers");

std::atomic<int> g_cancelWrite{-1};
std::atomic<int> g_cancelRead{-1};
std::atomic<bool> g_sendsCancelled{false};

namespace {

// True when the pipe was made now.
bool MakePipe(std::atomic<int>& readEnd, std::atomic<int>& writeEnd)
{
    if (readEnd.load() >= 0)
        return false;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    writeEnd.store(fds[1]);
    readEnd.store(fds[0]);
    return true;
}

void ClosePipe(std::atomic<int>& readEnd, std::atomic<int>& writeEnd)
{
    const int write = writeEnd.exchange(-1);
    if (write >= 0)
        close(write);
    const int read = readEnd.exchange(-1);
    if (read >= 0)
        close(read);
}

void Drain(int fd)
{
    char drain[64];
    while (read(fd, drain, sizeof drain) > 0) {
    }
}

} // namespace

void EnsureWakePipe()
{
    MakePipe(g_wakeRead, g_wakeWrite);
    // Cancelled before the pipe existed: it is readable from the start.
    if (MakePipe(g_cancelRead, g_cancelWrite) && g_sendsCancelled.load())
        CancelSends();
}

void CloseWakePipes()
{
    ClosePipe(g_wakeRead, g_wakeWrite);
    ClosePipe(g_cancelRead, g_cancelWrite);
    g_sendsCancelled.store(false);
}

PumpResult Pump(Lock& lock, int timeoutMs, bool withWake, int64_t* waitedMs, bool withCancel)
{
    Registry& registry = TheRegistry();
    ThreadState& thread = ThisThread();
    std::vector<pollfd> fds;
    std::vector<KorvaneWindow*> owners;
    const int wakeRead = g_wakeRead.load();
    const int cancelRead = g_cancelRead.load();
    const bool watchWake = withWake && wakeRead >= 0;
    const bool watchCancel = withCancel && cancelRead >= 0;
    if (watchWake) {
        fds.push_back({wakeRead, POLLIN, 0});
        owners.push_back(nullptr);
    }
    if (watchCancel) {
        fds.push_back({cancelRead, POLLIN, 0});
        owners.push_back(nullptr);
    }
    const size_t first = fds.size();
    if (thread.processFd >= 0) {
        fds.push_back({thread.processFd, POLLIN, 0});
        owners.push_back(nullptr);
    }
    for (KorvaneWindow* window : registry.windows) {
        if (window->alive && OwnedHere(window) && window->fd >= 0) {
            fds.push_back({window->fd, POLLIN, 0});
            owners.push_back(window);
        }
    }
    const int64_t start = NowMs();
    lock.unlock();
    const int rc = poll(fds.data(), nfds_t(fds.size()), timeoutMs);
    const int error = errno;
    lock.lock();
    if (waitedMs)
        *waitedMs = NowMs() - start;
    if (rc < 0)
        return error == EINTR ? PumpResult::Interrupted : PumpResult::TimedOut;
    if (rc == 0)
        return PumpResult::TimedOut;
    // The cancel latch stays readable: it is not drained here.
    if (watchCancel && (fds[first - 1].revents & POLLIN))
        return PumpResult::Cancelled;
    if (watchWake && (fds[0].revents & POLLIN)) {
        Drain(wakeRead);
        return PumpResult::Interrupted;
    }
    // Endpoints take turns, so a busy one cannot starve the others. Only
    // this thread destroys its windows, so the records polled are still
    // there; their sockets too, unless one was closed by a dispatch.
    const size_t count = fds.size() - first;
    for (size_t i = 0; i < count; ++i) {
        const size_t index = first + (thread.pollStart + i) % count;
        if (!(fds[index].revents & (POLLIN | POLLERR)))
            continue;
        thread.pollStart = (thread.pollStart + i + 1) % count;
        ReceiveOne(lock, fds[index].fd, owners[index]);
        return PumpResult::Handled;
    }
    return PumpResult::Handled;
}

} // namespace korvane_layer

using namespace korvane_layer;

int RunMessageLoop(int timeoutMs)
{
    int code = 0;
    if (QuitRequested(&code))
        return code;
    Lock lock(TheRegistry().mutex);
    EnsureWakePipe();
    const int64_t deadline = timeoutMs >= 0 ? NowMs() + timeoutMs : 0;
    ThreadState& thread = ThisThread();
    for (;;) {
        int remaining = -1;
        if (timeoutMs >= 0)
            remaining = int(std::max<int64_t>(deadline - NowMs(), 0));
        const PumpResult pumped = Pump(lock, remaining, true);
        if (thread.quit)
            return thread.exitCode;
        if (pumped == PumpResult::Interrupted)
            return -1;
        if (timeoutMs >= 0 && (pumped == PumpResult::TimedOut || NowMs() >= deadline))
            return -2;
    }
}

void CancelSends()
{
    // The flag first: a send that makes the pipe afterwards sees it.
    g_sendsCancelled.store(true);
    const int fd = g_cancelWrite.load();
    if (fd >= 0) {
        const char octet = 1;
        const ssize_t written = write(fd, &octet, 1);
        (void)written;
    }
}

bool SendsCancelled()
{
    return g_sendsCancelled.load();
}

void ResumeSends()
{
    g_sendsCancelled.store(false);
    const int fd = g_cancelRead.load();
    if (fd >= 0)
        Drain(fd);
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
