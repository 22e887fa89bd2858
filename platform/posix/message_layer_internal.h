// The parts of the message layer (winapi.h) and what they share: the
// window records, the registry of this process's windows and endpoints, and
// the functions each part offers the others.
//
//   message_registry.cpp   window records and handles, the registry, errors
//   message_endpoints.cpp  the runtime folder and the endpoints in it
//   message_exchange.cpp   datagrams between processes: requests, replies
//   message_pump.cpp       waiting for datagrams, the message loop, waking it
//   message_layer.cpp      the Win32-shaped calls of winapi.h
//
// The layer itself: a registry of named windows with their procedures,
// carried across processes by Unix domain datagram sockets.
//
// A window of this process is called directly. Every local window is also
// bound as a socket <runtime folder>/<name>, where requests from other
// processes arrive. A process sends its own requests from one private
// endpoint <runtime folder>/.p<pid>-<n> and receives the replies there, so a
// process needs no window to send. Windows of other processes are
// represented by records that hold their name and incarnation ("remote"
// windows).
//
// A handle is a number drawn from a counter, never a record's address and
// never handed out twice; the registry maps it to its record. Every
// endpoint has an incarnation, a random number drawn when it is created. A
// handle learnt from a message (wParam) stands for that incarnation only:
// once the endpoint is gone, sends to it fail, also when another endpoint
// has taken the name since (that one refuses them). A handle from
// FindWindowA stands for the name (incarnation 0) and stays valid while the
// process behind it restarts, unless a message from that very endpoint (the
// socket bound there now) gave a handle already: FindWindowA gives that one. Remote records are reclaimed: a record is
// dropped when a newer incarnation of its name is met, when a send finds its
// endpoint gone, and, once their count has doubled since the last look, when
// a look at the runtime folder finds its endpoint gone; so no number of past
// partners can fill the registry.
//
// While a send to another process waits for its reply, requests for the
// sending thread's windows are dispatched (nested), exactly as a synchronous
// send of the Windows message system does, up to kMaxNestedDispatches deep;
// a request past that depth is refused as busy. Replies are matched to their
// request by sequence number and sender address; a reply that comes after
// its request gave up is dropped.
//
// A request whose wParam is a window of the sending thread goes out from
// that window's own socket, so the receiver can check that the window named
// as sender is the address the request came from; a request that names a
// sender it did not come from, or the receiver itself, is dropped.
//
// Threads: as on Windows, a window belongs to the thread that made it. Its
// procedure runs on that thread only: a send from another thread of the
// process travels through the window's socket and is dispatched when the
// owner waits for messages (a window without a socket cannot be reached
// from another thread). Each thread sends from a private endpoint of its own
// and has its own pending sends, dispatch records, last error and quit
// request. The registry of windows is shared and guarded by one mutex, which
// is never held while a window procedure runs or while a thread waits.

#pragma once

#include "winapi.h"

#include "platform/message_timeout.h"
#include "platform/posix/message_wire.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <thread>
#include <time.h>
#include <unordered_map>
#include <vector>

struct KorvaneWindow
{
    // The number that stands for the window (HWND).
    uintptr_t handle = 0;
    // Local endpoints: drawn at creation. Remote: the one met, or 0 for
    // whoever owns the name.
    uint64_t incarnation = 0;
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
    // Remote windows of a known incarnation: when their socket file was
    // made (with device and inode: inode numbers are reused at once on some
    // file systems, the time of a new file is not the old one's).
    timespec made = {};
    bool destroying = false;
    // Local windows: the thread that made it, the only one that runs its
    // procedure and may destroy it.
    std::thread::id owner;
    // Dispatches of this window in progress: a record destroyed meanwhile is
    // freed when the last one ends.
    int busy = 0;
};

namespace korvane_layer {

using korvane_wire::Frame;

// Requests from other processes dispatched inside one another on one thread
// (each inside a send that waits for its answer); one more is refused as
// busy, so a peer that floods a waiting thread cannot exhaust its stack.
constexpr int kMaxNestedDispatches = 64;
// How often a waiting send checks that the receiver's process still lives.
constexpr int kProbeIntervalMs = 200;
// Remote records are looked over when their count reaches twice the count
// left by the last look, but not below this.
constexpr size_t kRemoteSweepFloor = 256;
constexpr int kSocketBufferOctets = 512 * 1024;

// A send to another process waiting for its reply.
struct PendingSend
{
    uint64_t sequence = 0;
    std::string path; // the receiver's address; the reply must come from it
    bool answered = false;
    bool gone = false; // the receiver refused: the incarnation is gone
    bool busy = false; // the receiver refused: too many dispatches nested
    LRESULT result = 0;
};

// What each thread has of its own.
struct ThreadState
{
    ThreadState() = default;
    // The thread's windows and endpoint go with it.
    ~ThreadState();
    ThreadState(const ThreadState&) = delete;
    ThreadState& operator=(const ThreadState&) = delete;

    // The thread's endpoint for its own sends.
    int processFd = -1;
    std::string processPath;
    dev_t processDevice = 0;
    ino_t processInode = 0;

    uint64_t nextSequence = 0;
    std::vector<PendingSend> pending; // innermost last
    // One entry per dispatch in progress: 1 when the message came from
    // another process or thread (what InSendMessage tells), else 0. Not a
    // vector<bool>: GCC 12 at -O2 lost the pop of one pushed around a call
    // of the window procedure.
    std::vector<uint8_t> dispatches;
    int outsideDispatches = 0;
    int sendTimeoutMs = -1; // -1: the process's default
    size_t pollStart = 0;

    DWORD lastError = ERROR_SUCCESS;
    std::string error;
    bool quit = false;
    int exitCode = 0;
    std::string nameCopy;   // what GetWindowName hands out
    std::string folderCopy; // what GetRuntimeFolder hands out
    bool registered = false;
};

// The calling thread's state.
ThreadState& ThisThread();

struct Registry
{
    // Guards everything below but the atomics.
    std::mutex mutex;

    std::vector<KorvaneWindow*> windows;
    std::unordered_map<uintptr_t, KorvaneWindow*> handles;
    uintptr_t lastHandle = 0;

    // The runtime folder in use while any endpoint is open.
    std::string folder;
    unsigned processEndpoints = 0;
    // Threads that have an endpoint of their own or windows.
    std::vector<ThreadState*> threads;

    size_t remoteWindows = 0;
    size_t remoteSweepAt = kRemoteSweepFloor;

    std::atomic<unsigned long> rejected{0};
    std::atomic<int> defaultSendTimeoutMs{-1}; // -1: not read yet
    bool hooksInstalled = false;
    std::string sweptFolder;
    pid_t owner = 0; // the process whose endpoints these are
};

using Lock = std::unique_lock<std::mutex>;

// The registry, created on first use and never destroyed: the clean-up at
// exit and the threads' own clean-up still need it.
// It is made once (thread-safe), then read through g_registry.
extern std::atomic<Registry*> g_registry;
Registry& CreateRegistry();

inline Registry& TheRegistry()
{
    if (Registry* registry = g_registry.load(std::memory_order_acquire))
        return *registry;
    return CreateRegistry();
}

// The self-pipe that wakes RunMessageLoop; the write end is used from signal
// handlers.
extern std::atomic<int> g_wakeWrite;
extern std::atomic<int> g_wakeRead;

// The latch of CancelSends: a pipe that stays readable while sends are
// cancelled (the write end is used from signal handlers), and its flag.
extern std::atomic<int> g_cancelWrite;
extern std::atomic<int> g_cancelRead;
extern std::atomic<bool> g_sendsCancelled;

enum class Probe
{
    Live,    // a socket someone has bound
    Stale,   // a socket nobody has bound: its process is gone
    Missing, // nothing there
    Other,   // something that is not an endpoint, or not reachable
    Failed,  // no look could be made (no descriptor left, say)
};

enum class PumpResult
{
    Handled,     // one datagram was read (and handled or dropped)
    TimedOut,    // nothing arrived in time
    Interrupted, // a signal or WakeMessageLoop
    Cancelled,   // CancelSends (only when asked to watch for it)
};

// Unless said otherwise, the functions below are called with the registry's
// mutex held; those given the Lock release it while they wait or call a
// window procedure, and hold it again when they return.

// message_registry.cpp

KorvaneWindow* Known(HWND window);

// The handle of a record.
inline HWND HandleOf(const KorvaneWindow* window)
{
    return reinterpret_cast<HWND>(window->handle);
}

// Adds a new record to the registry, with a fresh handle.
KorvaneWindow* AddRecord(KorvaneWindow* window);

// Takes a local window out of the registry; the record is freed now, or
// when its last dispatch ends.
void RemoveLocal(KorvaneWindow* window);

// A fresh incarnation for a local endpoint (never 0).
uint64_t NewIncarnation();

// Drops the remote record of this handle, if there is one; its handle is
// unknown from then on.
void DropRemote(uintptr_t handle);

KorvaneWindow* LocalLive(HWND window);

KorvaneWindow* LocalByName(const std::string& name);

KorvaneWindow* RemoteByName(const std::string& name);

// True when the calling thread made this local window.
bool OwnedHere(const KorvaneWindow* window);

// The record of the incarnation of `name` whose socket this is, if one is
// known.
KorvaneWindow* RemoteBySocket(const std::string& name, const struct stat& socket);

// The record this process uses for the window named `name` of that
// incarnation (0: whoever owns the name): its own window of that name and
// incarnation, else the record standing for another process's window
// (made when missing; a newer incarnation of a name drops the records of
// older ones).
KorvaneWindow* WindowForName(const std::string& name, uint64_t incarnation);

bool HasOpenEndpoint();

// Records the calling thread's error (GetLastError, GetMessageLayerError);
// returns false. Needs no lock.
bool Fail(DWORD code, const std::string& reason);

int64_t NowMs();

void SleepMs(int milliseconds);

// Enters the thread into the registry's list (for the clean-up at exit and
// after fork), once.
void RegisterThread(ThreadState& thread);

// message_endpoints.cpp

// The folder to use now: the one of the open endpoints, or freshly chosen
// and checked.
const std::string* Folder();

// True when path fits a socket address (with its NUL).
bool FitsAddress(const std::string& path);

bool EndpointPath(const std::string& folder, const std::string& name, std::string& path);

// The socket address of path; false, with nothing copied, when the path is
// too long for it.
bool Address(const std::string& path, sockaddr_un& address, socklen_t& length);

// Looks at path. Failed: the look itself could not be made (no descriptor
// left, say); the reason is recorded with Fail.
Probe ProbeEndpoint(const std::string& path, struct stat* seen = nullptr);

bool SameFile(const struct stat& a, const struct stat& b);

// Removes the socket file at path if it is still the one probed and still
// nobody's. (A socket file appears an instant before its socket is bound;
// the second look keeps a process that is binding right now from losing its
// name.)
void RemoveStale(const std::string& path, const struct stat& seen);

// Unlinks a socket this process bound, unless someone replaced it since.
void UnlinkOwn(const std::string& path, dev_t device, ino_t inode);

void CleanUpAtExit();

// The fork handlers: the parent's mutex is held across fork; the child owns
// none of the parent's endpoints: it closes them (without removing them) and
// starts afresh.
void LockForFork();
void UnlockAfterFork();
void ForgetEndpointsInChild();

void InstallHooks();

// A bound, private datagram socket at path.
int BindEndpoint(const std::string& path, dev_t& device, ino_t& inode);

// Removes the endpoints that dead processes left in the folder; once per
// folder and process, when the process opens its first endpoint there.
void SweepStaleEndpoints(const std::string& folder);

// The calling thread's endpoint for its sends.
bool EnsureProcessEndpoint();

void CloseProcessEndpointIfIdle();

// Closes the thread's endpoint and removes its windows (the thread ends).
void ForgetThread(ThreadState& thread);

// message_exchange.cpp

// The calling thread's send timeout. Needs no lock.
int SendTimeout();

// Sends one datagram; waits (up to budgetMs) while the receiver's queue is
// full, without the lock when one is given. Returns 0 or the errno of the
// failure (ETIMEDOUT when the queue stayed full).
int SendDatagram(int fd, const std::string& path, const std::vector<uint8_t>& datagram,
                 int budgetMs, Lock* lock = nullptr);

// Counts a dropped datagram. Needs no lock.
void Reject();

// The sender's address, if it is an endpoint in the runtime folder.
bool SourceInFolder(const sockaddr_un& from, socklen_t fromLength, std::string& source);

LRESULT CallProcedure(Lock& lock, KorvaneWindow* window, bool fromOutside, UINT message,
                      WPARAM wParam, LPARAM lParam);

void DispatchRequest(Lock& lock, KorvaneWindow* window, const Frame& frame,
                     const std::string& source);

void AcceptReply(const Frame& frame, const std::string& source);

// Reads one datagram from fd and handles it: a request for `window` (none
// arrive at the thread's own endpoint), or a reply to one of the thread's
// sends.
void ReceiveOne(Lock& lock, int fd, KorvaneWindow* window);

// Sends through the receiver's socket: to another process, or to a window of
// another thread of this one (`name`, `incarnation` and `handle` of the
// record meant, copied: the record may go while the send waits).
LRESULT SendThroughSocket(Lock& lock, std::string name, uint64_t incarnation, uintptr_t handle,
                          UINT message, WPARAM wParam, LPARAM lParam);

// message_pump.cpp

// Makes the wake and cancel pipes (once).
void EnsureWakePipe();
// Closes them (the layer is reset).
void CloseWakePipes();

// Waits up to timeoutMs (negative: no limit) for a datagram at any of the
// calling thread's endpoints and handles one. waitedMs gets the time spent
// waiting (not handling). withWake: WakeMessageLoop ends the wait
// (Interrupted); withCancel: CancelSends ends it (Cancelled).
PumpResult Pump(Lock& lock, int timeoutMs, bool withWake, int64_t* waitedMs = nullptr,
                bool withCancel = false);

} // namespace korvane_layer
