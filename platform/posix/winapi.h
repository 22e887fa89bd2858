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

#define LOWORD(l) ((uint16_t)(((uintptr_t)(l)) & 0xffff))
#define HIWORD(l) ((uint16_t)((((uintptr_t)(l)) >> 16) & 0xffff))

// Creates a window named `name` (at most 99 characters) whose messages go to
// `procedure`. Returns nullptr when the name is taken by a live window or
// the endpoint cannot be created.
HWND CreateMessageWindow(const char* name, WNDPROC procedure);

// Destroys the window: WM_DESTROY is delivered to its procedure first, then
// the endpoint is removed. Returns FALSE for an unknown handle.
BOOL DestroyWindow(HWND window);

// The window with that name (the class name is not used), in this process
// or a live one of another process; nullptr when there is none.
HWND FindWindowA(LPCSTR className, LPCSTR windowName);

// Delivers the message and returns the receiver's result. WM_COPYDATA
// carries the block (dwData, cbData and the octets) to the receiver, which
// sees it valid only while it handles the message. Returns 0 when the window
// is unknown, has gone away or does not answer in time.
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The default handling: does nothing, returns 0.
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Asks the message loop to end with exitCode.
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
// no limit), or the wait is interrupted by a signal (returns -1 then, so the
// caller can look at its signal flags and call again). Returns the exit code
// given to PostQuitMessage, or -2 on timeout.
int RunMessageLoop(int timeoutMs);

// True once PostQuitMessage has been called; the code is stored in exitCode.
bool QuitRequested(int* exitCode);
// Clears a pending quit request (for tools that run several loops).
void ClearQuitRequest();
