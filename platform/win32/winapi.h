// The real Windows API for the Windows build, and the few calls the korvane
// tool needs beyond it, with the names and contracts of the POSIX message
// layer (platform/posix/winapi.h), so that the tool's sources are the same
// on both platforms. Everything here runs on one thread.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// Our code calls the A-suffixed functions by name; the generic-text macro
// GetMessage would otherwise rename CEmber_Exception::GetMessage wherever
// this header comes first.
#undef GetMessage

#include <cstddef>

// Creates a hidden top-level window named `name` whose messages go to
// `procedure`. Hidden rather than message-only: Korvane.exe and other
// partners find their peer with FindWindowA, which does not see
// message-only windows. The name has 1 to MaxWindowNameLength() characters.
// Returns nullptr (reason in GetMessageLayerError) when the name is invalid,
// already taken by a window of any process, or the window cannot be made.
HWND CreateMessageWindow(const char* name, WNDPROC procedure);

// Creates a window that only this process reaches: a message-only window,
// which FindWindowA of other processes does not see. Same name rules as
// CreateMessageWindow; the name must be free among this process's
// message-only windows. Returns nullptr (reason in GetMessageLayerError) for
// an invalid or taken name.
HWND CreateLocalWindow(const char* name, WNDPROC procedure);

// The window's title (its name); nullptr for a handle that is no window.
// The text stays valid until the next call from this thread.
const char* GetWindowName(HWND window);

// Dispatches this thread's messages (those sent by other processes among
// them) until WM_QUIT arrives or `timeoutMs` passes without it (negative: no
// limit), or until WakeMessageLoop is called (returns -1 then). Returns the
// quit code, or -2 on timeout.
int RunMessageLoop(int timeoutMs);

// Makes a waiting (or the next) RunMessageLoop return -1; callable from any
// thread.
void WakeMessageLoop();

// Marks sends as cancelled until ResumeSends (SendsCancelled tells); callers
// check it before sending. Windows has no way to end a SendMessageTimeoutA
// that is already waiting: that one ends at its answer or its timeout (on
// the POSIX layer it ends at once). Callable from any thread.
void CancelSends();
void ResumeSends();
bool SendsCancelled();

// Calls `callback` with the title of every top-level window whose title
// begins with `prefix`: those of this process first, then those of other
// processes, each group in the order of their names. Stops when the callback
// returns FALSE. Returns the number of names passed.
int EnumWindowNames(const char* prefix, BOOL (*callback)(const char* name, void* context),
                    void* context);

// How long a send waits for the receiver, in milliseconds (default 5000, or
// $KORVANE_SEND_TIMEOUT_MS). SendMessageTimeoutA is the bounded send; its
// timeout is this value when a caller has none of its own.
void SetSendTimeout(int milliseconds);
int GetSendTimeout();

// A readable reason for the error GetLastError() holds now, after a failed
// CreateMessageWindow or send ("" when it holds none).
const char* GetMessageLayerError();

// The largest block the tool sends with WM_COPYDATA (as on POSIX; Windows
// itself copies more).
constexpr DWORD kMaxCopyDataOctets = 64 * 1024;

// The longest window name: 99 characters, as Korvane.exe's name field holds.
size_t MaxWindowNameLength();

// Where the windows meet: on Windows there is no runtime folder, windows of
// one desktop find each other; the text says so.
const char* GetRuntimeFolder();
