// The partner's side of the Korvane.exe end-to-end tests (Windows only): a
// window that records the blocks Korvane.exe sends, Korvane.exe started
// under the Win32 debug API so that its OutputDebugStringA lines can be
// read, message pumping with timeouts, and console messages composed of
// octets (over the shared test builder, tests/support/ember_messages.h).
#pragma once

#include "winapi.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support::korvane_exe {

using Octets = std::vector<uint8_t>;

// Safety net of every wait; nothing here takes more than a fraction of it.
constexpr DWORD kExeTimeoutMs = 20000;

// Block kinds (high 16 bits of dwData) and messages of the partner protocol.
constexpr ULONG_PTR kBlockCommand = 0x0C67;
constexpr ULONG_PTR kBlockConsoleData = 0x0C68;
constexpr ULONG_PTR kBlockEncoded = 0x0C69;
constexpr ULONG_PTR kBlockReport = 0x0C6A;
constexpr UINT kParamReportMessage = 3179;

// Menu commands of Korvane.exe.
constexpr UINT kMenuAbout = 104;
constexpr UINT kMenuExit = 105;
constexpr UINT kMenuDebug = 32771;

// ---------------------------------------------------------------------------
// Console messages: definite lengths and the two-tag element framing.
// ---------------------------------------------------------------------------

Octets Cat(std::initializer_list<Octets> parts);
Octets Bytes(const std::string& text);
// A Set level of class 0x80 (context-specific) or 0xC0 (private).
Octets SetLevel(uint8_t classBits, uint32_t number, const Octets& content);
Octets Ctx(uint32_t number, const Octets& content);
Octets Prv(uint32_t number, const Octets& content);
// An Integer (minimal two's complement) or a UTF8String at application 3.
Octets IntegerValue(int32_t value);
Octets TextValue(const std::string& text);
// The nine octets every message begins with, and the 13-octet empty root.
Octets StartSequence();
Octets EmptyRoot();
// A whole message: the root holding content.
Octets Message(const Octets& content);
// The console's message for one parameter: one Set level (7) above the five
// the partner names, then the parameter container holding the value.
Octets ParameterMessage(uint32_t p1, uint32_t p2, uint32_t p3, uint32_t p4, uint32_t p5,
                        const Octets& value);

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------

// A host path as Wine sees it: the Unix root is drive Z:.
std::string WindowsPath(std::string path);

// A fresh folder under the temporary folder, removed with its files.
class ScratchFolder
{
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    bool Ok() const { return !m_path.empty(); }
    const std::string& Path() const { return m_path; }
    // Path of a file in the folder, remembered for removal.
    std::string File(const std::string& name);

private:
    std::string m_path;
    std::vector<std::string> m_files;
};

bool WriteFileOctets(const std::string& path, const Octets& octets);

// The smallest useful 64-bit DLL: no imports, no exports, an entry point
// that returns TRUE.
Octets MinimalDll();

// ---------------------------------------------------------------------------
// Messages and windows
// ---------------------------------------------------------------------------

void PumpMessages();

// Pumps this thread's messages (Korvane's sends to the partner window need
// that) until done() holds or the timeout passes; returns done().
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs = kExeTimeoutMs);

// A top-level window of the process with the exact title and class (an
// empty one matches any), or nullptr.
HWND FindProcessWindow(DWORD processId, const std::string& title, const std::string& className);

// A window's text through WM_GETTEXT, which is marshalled between processes.
std::string WindowText(HWND window);

// One WM_COPYDATA as the partner window received it.
struct Block
{
    HWND receiver = nullptr;
    HWND sender = nullptr;
    ULONG_PTR dwData = 0;
    DWORD cbData = 0;
    Octets data;

    ULONG_PTR Kind() const { return (dwData >> 16) & 0xFFFF; }
    ULONG_PTR Low() const { return dwData & 0xFFFF; }
    // The text of a report: the field up to its first NUL.
    std::string Text() const;
};

// A hidden top-level window (FindWindowA can see it) that records every
// WM_COPYDATA and answers 1.
class PartnerWindow
{
public:
    explicit PartnerWindow(const char* name);
    ~PartnerWindow();
    PartnerWindow(const PartnerWindow&) = delete;
    PartnerWindow& operator=(const PartnerWindow&) = delete;

    HWND Handle() const { return m_window; }

    // Every block received so far, in order.
    std::vector<Block> blocks;
    // Called with a copy of each block right after it has been recorded,
    // inside the handler of Korvane's SendMessageA; it may send in turn.
    std::function<void(const Block&)> onBlock;

    std::vector<Block> Take();

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_window = nullptr;
};

// ---------------------------------------------------------------------------
// Korvane.exe under the debug API
// ---------------------------------------------------------------------------

class KorvaneProcess
{
public:
    KorvaneProcess() = default;
    ~KorvaneProcess() { Stop(); }
    KorvaneProcess(const KorvaneProcess&) = delete;
    KorvaneProcess& operator=(const KorvaneProcess&) = delete;

    // Starts exe with the command line "exe arguments" (just "exe" when
    // arguments is null) in directory (null: ours), under the debugger.
    bool Start(const std::string& exe, const char* arguments, const char* directory = nullptr);

    DWORD Id() const { return m_processId; }
    HANDLE Process() const { return m_process; }
    bool Running() const;

    // The top-level window of this process with the title and class, once it
    // is shown: Korvane.exe finishes setting up (the crash-report library,
    // the reader) between creating its window and showing it.
    HWND WaitForWindow(const std::string& title, const std::string& className = "");

    // Waits (pumping messages) for the process to end; its exit code, or -1
    // if it still runs when the timeout passes.
    int64_t WaitForExit(DWORD timeoutMs = kExeTimeoutMs);

    // OutputDebugStringA lines written so far.
    std::vector<std::string> Traces();
    void ClearTraces();
    bool HasTrace(const std::string& line);

    // Exceptions the program did not handle itself (a crash).
    int UnhandledExceptions() const { return m_unhandled.load(); }

    // Ends the process if it still runs, and the debugger thread.
    void Stop();

private:
    void DebugLoop(const std::string& exe, const std::string& commandLine,
                   const std::string& folder);
    void ReadTrace(const OUTPUT_DEBUG_STRING_INFO& info);

    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_startDone = false;
    HANDLE m_process = nullptr;
    DWORD m_processId = 0;
    std::vector<std::string> m_traces;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_unhandled{0};
    bool m_sawBreakpoint = false;
};

// GetMenuState(GetMenu(window), id, MF_BYCOMMAND) evaluated inside the
// window's own process; 0xFFFFFFFF when it cannot be read. Menus belong to
// their process under Wine (GetMenuState on another process's menu fails
// there), so a few instructions run on a thread of that process make the
// two calls and hand back the result as the thread's exit code.
UINT MenuStateInProcess(HANDLE process, DWORD processId, HWND window, UINT id);

} // namespace testing_support::korvane_exe
