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
// While a send to another process waits for its reply, requests for this
// process's windows are dispatched (nested), exactly as a synchronous send of
// the Windows message system does. Replies are matched to their request by
// sequence number and sender address; a reply that comes after its request
// gave up is dropped.

#pragma once

#include "winapi.h"

#include "platform/posix/message_wire.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
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
};

namespace korvane_layer {

using korvane_wire::Frame;

constexpr int kDefaultSendTimeoutMs = 5000;
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
    LRESULT result = 0;
};

struct Registry
{
    std::vector<KorvaneWindow*> windows;
    std::unordered_map<uintptr_t, KorvaneWindow*> handles;
    uintptr_t lastHandle = 0;
    bool quit = false;
    int exitCode = 0;

    // One entry per dispatch in progress: 1 when the message came from
    // another process (what InSendMessage tells), else 0. Not a
    // vector<bool>: GCC 12 at -O2 lost the pop of one pushed around a call
    // of the window procedure.
    std::vector<uint8_t> dispatches;

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
    size_t remoteSweepAt = kRemoteSweepFloor;
    size_t pollStart = 0;

    DWORD lastError = ERROR_SUCCESS;
    std::string error;
    unsigned long rejected = 0;
    bool hooksInstalled = false;
    std::string sweptFolder;
    pid_t owner = 0; // the process whose endpoints these are
};

// The registry, created on first use and never destroyed: the records of
// local windows live as long as the process, and the clean-up at exit still
// needs them.
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
extern int g_wakeRead;

// The latch of CancelSends: a pipe that stays readable while sends are
// cancelled (the write end is used from signal handlers), and its flag.
extern std::atomic<int> g_cancelWrite;
extern int g_cancelRead;
extern std::atomic<bool> g_sendsCancelled;

enum class Probe
{
    Live,    // a socket someone has bound
    Stale,   // a socket nobody has bound: its process is gone
    Missing, // nothing there
    Other,   // something that is not an endpoint, or not reachable
};

enum class PumpResult
{
    Handled,     // one datagram was read (and handled or dropped)
    TimedOut,    // nothing arrived in time
    Interrupted, // a signal or WakeMessageLoop
    Cancelled,   // CancelSends (only when asked to watch for it)
};

// message_registry.cpp

KorvaneWindow* Known(HWND window);

// The handle of a record.
inline HWND HandleOf(const KorvaneWindow* window)
{
    return reinterpret_cast<HWND>(window->handle);
}

// Adds a new record to the registry, with a fresh handle.
KorvaneWindow* AddRecord(KorvaneWindow* window);

// A fresh incarnation for a local endpoint (never 0).
uint64_t NewIncarnation();

// Drops the remote record of this handle, if there is one; its handle is
// unknown from then on.
void DropRemote(uintptr_t handle);

KorvaneWindow* LocalLive(HWND window);

KorvaneWindow* LocalByName(const std::string& name);

KorvaneWindow* RemoteByName(const std::string& name);

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

bool Fail(DWORD code, const std::string& reason);

int64_t NowMs();

void SleepMs(int milliseconds);

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

// After fork the child owns none of the parent's endpoints: it closes them
// (without removing them) and starts afresh.
void ForgetEndpointsInChild();

void InstallHooks();

// A bound, private datagram socket at path.
int BindEndpoint(const std::string& path, dev_t& device, ino_t& inode);

// Removes the endpoints that dead processes left in the folder; once per
// folder and process, when the process opens its first endpoint there.
void SweepStaleEndpoints(const std::string& folder);

bool EnsureProcessEndpoint();

void CloseProcessEndpointIfIdle();

// message_exchange.cpp

int SendTimeout();

// Sends one datagram; waits (up to budgetMs) while the receiver's queue is
// full. Returns 0 or the errno of the failure (ETIMEDOUT when the queue
// stayed full).
int SendDatagram(int fd, const std::string& path, const std::vector<uint8_t>& datagram,
                 int budgetMs);

void Reject();

// The sender's address, if it is an endpoint in the runtime folder.
bool SourceInFolder(const sockaddr_un& from, socklen_t fromLength, std::string& source);

LRESULT CallProcedure(KorvaneWindow* window, bool fromOutside, UINT message, WPARAM wParam,
                      LPARAM lParam);

void DispatchRequest(KorvaneWindow* window, const Frame& frame, const std::string& source);

void AcceptReply(const Frame& frame, const std::string& source);

// Reads one datagram from fd and handles it: a request for `window`, or a
// reply when window is nullptr (the process endpoint).
void ReceiveOne(int fd, KorvaneWindow* window);

LRESULT SendToOtherProcess(KorvaneWindow* target, UINT message, WPARAM wParam, LPARAM lParam);

// message_pump.cpp

// Makes the wake and cancel pipes (once).
void EnsureWakePipe();
// Closes them (the layer is reset).
void CloseWakePipes();

// Waits up to timeoutMs (negative: no limit) for a datagram at any of this
// process's endpoints and handles one. waitedMs gets the time spent waiting
// (not handling). withWake: WakeMessageLoop ends the wait (Interrupted);
// withCancel: CancelSends ends it (Cancelled).
PumpResult Pump(int timeoutMs, bool withWake, int64_t* waitedMs = nullptr, bool withCancel = false);

} // namespace korvane_layer
