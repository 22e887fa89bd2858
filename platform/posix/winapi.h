// Korvane's own message layer for builds without the Windows user
// interface: the subset of the window-system calls the host core uses,
// with the same names, types and semantics.
//
// A window is a named endpoint with a window procedure. SendMessageA is
// synchronous and re-entrant: the receiver's procedure runs before the call
// returns, and may itself send again. Windows of this process are called
// directly; windows of other processes are reached through the process's
// endpoint, and the sender keeps dispatching messages that arrive for its own
// windows while it waits for the answer. Trace output goes to standard error.
//
// Across processes every window is a Unix domain datagram socket named after
// the window in a per-user runtime folder: $KORVANE_RUNTIME_DIR when set,
// else $XDG_RUNTIME_DIR/korvane, else /tmp/korvane-<uid>. The folder is
// created with mode 0700 when missing and refused when it is not a real
// folder of this user or is writable by group or others. A handle of another
// process's window stands for its name: it stays valid while that process
// restarts, and sends to it fail while nobody owns the name. All processes
// that talk to each other must name the folder alike.
//
// Threads: as on Windows, a window belongs to the thread that made it: its
// procedure runs on that thread only, and only that thread may destroy it
// (its windows go when the thread ends). A send from another thread of the
// process is delivered through the window's endpoint and dispatched while
// the owner waits for messages (RunMessageLoop, or a send of its own); a
// window made with CreateLocalWindow has no endpoint and cannot be reached
// from another thread. GetLastError, GetMessageLayerError, the send timeout
// and the quit request are the calling thread's own. Every call may be made
// from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

struct KorvaneWindow;

typedef KorvaneWindow* HWND;
typedef unsigned int UINT;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef uint32_t DWORD;
typedef uintptr_t ULONG_PTR;
typedef void* PVOID;
typedef int BOOL;
typedef const char* LPCSTR;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define CALLBACK

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);

typedef struct tagCOPYDATASTRUCT
{
    ULONG_PTR dwData;
    DWORD cbData;
    PVOID lpData;
} COPYDATASTRUCT, *PCOPYDATASTRUCT;

#define WM_DESTROY 0x0002
#define WM_CLOSE 0x0010
#define WM_PAINT 0x000F
#define WM_QUIT 0x0012
#define WM_COPYDATA 0x004A
#define WM_COMMAND 0x0111
#define WM_USER 0x0400

#define GWLP_USERDATA (-21)

// GetLastError codes set by SendMessageA, CreateMessageWindow, FindWindowA.
#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_TOO_MANY_OPEN_FILES 4
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_PARAMETER 87
#define ERROR_BUSY 170
#define ERROR_ALREADY_EXISTS 183
#define ERROR_INVALID_WINDOW_HANDLE 1400
#define ERROR_TIMEOUT 1460
#define ERROR_CANCELLED 1223

#define LOWORD(l) ((uint16_t)(((uintptr_t)(l)) & 0xffff))
#define HIWORD(l) ((uint16_t)((((uintptr_t)(l)) >> 16) & 0xffff))

// Creates a window named `name` whose messages go to `procedure`. The name
// has 1 to MaxWindowNameLength() characters, no '/' and does not begin with
// '.'. Returns nullptr (reason in GetMessageLayerError) when the name is
// invalid or taken by a live window of any process, or the endpoint cannot
// be created; a stale endpoint left by a dead process is replaced.
HWND CreateMessageWindow(const char* name, WNDPROC procedure);

// Creates a window that only this process reaches: no endpoint, so it needs
// no runtime folder, and other processes cannot find it or send to it. Same
// name rules as CreateMessageWindow; the name must be free among this
// process's windows. Returns nullptr (reason in GetMessageLayerError) for an
// invalid or taken name.
HWND CreateLocalWindow(const char* name, WNDPROC procedure);

// Destroys the window: WM_DESTROY is delivered to its procedure first, then
// the endpoint is removed. Returns FALSE for an unknown handle, for a
// window of another process and for one of another thread.
BOOL DestroyWindow(HWND window);

// The window with that name (the class name is not used), in this process
// or a live one of another process; nullptr when there is none. A stale
// endpoint of that name, left by a dead process, is removed.
HWND FindWindowA(LPCSTR className, LPCSTR windowName);

// Delivers the message and returns the receiver's result. WM_COPYDATA
// carries the block (dwData, cbData and the octets) to the receiver, which
// sees it valid only while it handles the message. Returns 0 when the window
// is unknown, has gone away or does not answer in time; GetLastError then
// tells which (it is ERROR_SUCCESS after a delivered message).
//
// To a window of another process: wParam travels as a window handle when it
// is one (the receiver gets its own handle for that window, one it can send
// back to), else as a number; lParam of WM_COPYDATA travels as the block (at
// most kMaxCopyDataOctets octets), lParam of any other message as a plain
// number; a window of the calling thread named as wParam sends the request
// from its own endpoint, and a request naming a sender it did not come from,
// or the receiver itself, is dropped unanswered. While waiting, messages for
// the calling thread's windows are dispatched, up to 64 requests nested
// inside one another; the receiver refuses one more (ERROR_BUSY). The wait
// fails after the send timeout without any answer, or at once when the
// receiver's process is found gone. A window of another thread of this
// process is reached the same way, through its endpoint.
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The largest block WM_COPYDATA carries to another process.
constexpr DWORD kMaxCopyDataOctets = 64 * 1024;

// The error of the last failed call of this layer on the calling thread.
DWORD GetLastError();
void SetLastError(DWORD error);

// The default handling: does nothing, returns 0.
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Asks the calling thread's message loop to end with exitCode.
void PostQuitMessage(int exitCode);

// Writes text to standard error unchanged.
void OutputDebugStringA(LPCSTR text);

// TRUE while the current message was sent by another process (or thread).
BOOL InSendMessage();

// Per-window user value (only GWLP_USERDATA is supported).
intptr_t SetWindowLongPtrA(HWND window, int index, intptr_t value);
intptr_t GetWindowLongPtrA(HWND window, int index);

// The window's name; nullptr for an unknown handle.
const char* GetWindowName(HWND window);

// Waits for messages from other processes and dispatches them until
// PostQuitMessage is called, `timeoutMs` passes without the quit (negative:
// no limit), or the wait is interrupted by a signal or WakeMessageLoop
// (returns -1 then, so the caller can look at its signal flags and call
// again). Returns the exit code given to PostQuitMessage, or -2 on timeout.
int RunMessageLoop(int timeoutMs);

// True once PostQuitMessage has been called; the code is stored in exitCode.
bool QuitRequested(int* exitCode);
// Clears a pending quit request (for tools that run several loops).
void ClearQuitRequest();

// Makes a waiting (or the next) RunMessageLoop return -1. Safe to call from
// a signal handler once the layer has an endpoint.
void WakeMessageLoop();

// Cancels sends until ResumeSends: a send waiting for its answer returns at
// once, and later sends fail without being made, both with ERROR_CANCELLED (a
// send cancelled while waiting was delivered: the receiver may handle it).
// Messages for this process's own windows are not affected. CancelSends is
// safe to call from a signal handler and from other threads.
void CancelSends();
void ResumeSends();
bool SendsCancelled();

// How long SendMessageA waits for an answer from another process, in
// milliseconds (default 5000, or $KORVANE_SEND_TIMEOUT_MS). Time spent
// handling messages for this process's own windows meanwhile is not counted.
void SetSendTimeout(int milliseconds);
int GetSendTimeout();

// SendMessageA with a time limit of its own for this one send, in the shape
// of the Win32 call (flags are not used). Nonzero once the message was
// delivered, its result in *result; 0 otherwise, the reason in GetLastError.
#define SMTO_NORMAL 0x0000
typedef uintptr_t DWORD_PTR;
inline LRESULT SendMessageTimeoutA(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                   UINT /*flags*/, UINT timeoutMs, DWORD_PTR* result)
{
    const int saved = GetSendTimeout();
    SetSendTimeout(int(timeoutMs));
    const LRESULT answer = SendMessageA(window, message, wParam, lParam);
    const DWORD error = GetLastError();
    SetSendTimeout(saved);
    SetLastError(error);
    if (result)
        *result = DWORD_PTR(answer);
    return error == ERROR_SUCCESS ? 1 : 0;
}

// The runtime folder in use (resolved and checked now when no endpoint is
// open); nullptr when it is refused, with the reason in GetMessageLayerError.
const char* GetRuntimeFolder();

// A readable reason for the last failure of CreateMessageWindow,
// FindWindowA or GetRuntimeFolder ("" when there is none).
const char* GetMessageLayerError();

// The longest window name the runtime folder allows (at most 99; 0 when the
// folder is refused).
size_t MaxWindowNameLength();

// Calls `callback` with the name of every live window whose name begins with
// `prefix`: those of this process, then those of other processes (stale
// endpoints of dead processes are removed on the way). Stops when the
// callback returns FALSE. Returns the number of names passed.
int EnumWindowNames(const char* prefix, BOOL (*callback)(const char* name, void* context),
                    void* context);

// Datagrams that arrived at this process's endpoints and were dropped:
// malformed, truncated, oversized, or from a sender outside the runtime
// folder or of another user.
unsigned long GetRejectedMessageCount();
