#include "tests/support/korvane_exe_win32.h"

#include "ember/ber/tag.h"
#include "ember/ber/types.h"
#include "tests/support/ember_messages.h"

#include <tlhelp32.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace testing_support::korvane_exe {

// ---------------------------------------------------------------------------
// Console messages
// ---------------------------------------------------------------------------

Octets Cat(std::initializer_list<Octets> parts)
{
    Octets out;
    for (const Octets& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

Octets Bytes(const std::string& text)
{
    return Octets(text.begin(), text.end());
}

// The messages are the shared test builder's (tests/support/ember_messages.h).

Octets SetLevel(uint8_t classBits, uint32_t number, const Octets& content)
{
    return Framed(classBits, number, eeBerType_Set, content);
}

Octets Ctx(uint32_t number, const Octets& content)
{
    return SetLevel(eeBerClass_ContextSpecific, number, content);
}

Octets Prv(uint32_t number, const Octets& content)
{
    return SetLevel(eeBerClass_Private, number, content);
}

Octets IntegerValue(int32_t value)
{
    return Framed(eeBerClass_Application, 3, eeBerType_Integer, IntegerContent(value));
}

Octets TextValue(const std::string& text)
{
    return Framed(eeBerClass_Application, 3, eeBerType_UTF8String, Bytes(text));
}

Octets StartSequence()
{
    return testing_support::StartSequence();
}

Octets EmptyRoot()
{
    return MessageOf({});
}

Octets Message(const Octets& content)
{
    return MessageOf(content);
}

Octets ParameterMessage(uint32_t p1, uint32_t p2, uint32_t p3, uint32_t p4, uint32_t p5,
                        const Octets& value)
{
    return Message(Ctx(7, Ctx(p1, Ctx(p2, Ctx(p3, Ctx(p4, Prv(p5, value)))))));
}

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------

std::string WindowsPath(std::string path)
{
    if (!path.empty() && path[0] == '/')
        path = "Z:" + path;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

ScratchFolder::ScratchFolder()
{
    char base[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, base);
    if (length == 0 || length >= MAX_PATH)
        return;
    static int counter = 0;
    char name[MAX_PATH + 64];
    std::snprintf(name, sizeof name, "%skorvane-e2e-%lu-%d", base, GetCurrentProcessId(),
                  ++counter);
    if (CreateDirectoryA(name, nullptr))
        m_path = name;
}

ScratchFolder::~ScratchFolder()
{
    if (m_path.empty())
        return;
    for (const std::string& file : m_files)
        DeleteFileA(file.c_str());
    RemoveDirectoryA(m_path.c_str());
}

std::string ScratchFolder::File(const std::string& name)
{
    m_files.push_back(m_path + "\\" + name);
    return m_files.back();
}

bool WriteFileOctets(const std::string& path, const Octets& octets)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, octets.data(), DWORD(octets.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == octets.size();
}

namespace {

void Put16(Octets& image, size_t at, uint16_t value)
{
    image[at] = uint8_t(value);
    image[at + 1] = uint8_t(value >> 8);
}

void Put32(Octets& image, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        image[at + i] = uint8_t(value >> (8 * i));
}

void Put64(Octets& image, size_t at, uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        image[at + i] = uint8_t(value >> (8 * i));
}

} // namespace

Octets MinimalDll()
{
    Octets image(0x400, 0);
    image[0] = 'M';
    image[1] = 'Z';
    Put32(image, 0x3C, 0x40); // e_lfanew
    const size_t pe = 0x40;
    image[pe] = 'P';
    image[pe + 1] = 'E';
    const size_t file = pe + 4;      // IMAGE_FILE_HEADER
    Put16(image, file + 0, 0x8664);  // AMD64
    Put16(image, file + 2, 1);       // one section
    Put16(image, file + 16, 240);    // size of the optional header
    Put16(image, file + 18, 0x2022); // executable, large-address aware, DLL
    const size_t opt = file + 20;    // IMAGE_OPTIONAL_HEADER64
    Put16(image, opt + 0, 0x20B);
    Put32(image, opt + 4, 0x200);          // size of code
    Put32(image, opt + 16, 0x1000);        // entry point
    Put32(image, opt + 20, 0x1000);        // base of code
    Put64(image, opt + 24, 0x6C6F0000ull); // image base
    Put32(image, opt + 32, 0x1000);        // section alignment
    Put32(image, opt + 36, 0x200);         // file alignment
    Put16(image, opt + 40, 6);             // OS version 6.0
    Put16(image, opt + 48, 6);             // subsystem version 6.0
    Put32(image, opt + 56, 0x2000);        // size of image
    Put32(image, opt + 60, 0x200);         // size of headers
    Put16(image, opt + 68, 2);             // GUI subsystem
    Put64(image, opt + 72, 0x100000);      // stack reserve
    Put64(image, opt + 80, 0x1000);        // stack commit
    Put64(image, opt + 88, 0x100000);      // heap reserve
    Put64(image, opt + 96, 0x1000);        // heap commit
    Put32(image, opt + 108, 16);           // data directories (all empty)
    const size_t section = opt + 240;
    std::memcpy(&image[section], ".text", 5);
    Put32(image, section + 8, 0x10);                              // virtual size
    Put32(image, section + 12, 0x1000);                           // virtual address
    Put32(image, section + 16, 0x200);                            // size of raw data
    Put32(image, section + 20, 0x200);                            // pointer to raw data
    Put32(image, section + 36, 0x60000020);                       // code, execute, read
    const uint8_t entry[] = {0xB8, 0x01, 0x00, 0x00, 0x00, 0xC3}; // mov eax, 1; ret
    std::memcpy(&image[0x200], entry, sizeof entry);
    return image;
}

// ---------------------------------------------------------------------------
// Messages and windows
// ---------------------------------------------------------------------------

void PumpMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        PumpMessages();
        if (done())
            return true;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD(left < 20 ? left : 20), QS_ALLINPUT);
    }
}

namespace {

struct WindowSearch
{
    DWORD processId;
    std::string title;     // exact title, or empty for any
    std::string className; // exact class, or empty for any
    HWND found = nullptr;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != search->processId)
        return TRUE;
    char text[256] = {};
    if (!search->title.empty()) {
        GetWindowTextA(window, text, sizeof text);
        if (search->title != text)
            return TRUE;
    }
    if (!search->className.empty()) {
        GetClassNameA(window, text, sizeof text);
        if (search->className != text)
            return TRUE;
    }
    search->found = window;
    return FALSE;
}

} // namespace

HWND FindProcessWindow(DWORD processId, const std::string& title, const std::string& className)
{
    WindowSearch search{processId, title, className};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string WindowText(HWND window)
{
    char text[256] = {};
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                        SMTO_NORMAL, kExeTimeoutMs, &ignored);
    return text;
}

std::string Block::Text() const
{
    const auto nul = std::find(data.begin(), data.end(), uint8_t(0));
    return std::string(data.begin(), nul);
}

PartnerWindow::PartnerWindow(const char* name)
{
    static const char kClass[] = "KorvaneTestPartner";
    static bool registered = false;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (!registered) {
        WNDCLASSEXA wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &PartnerWindow::Proc;
        wc.hInstance = instance;
        wc.lpszClassName = kClass;
        registered = RegisterClassExA(&wc) != 0;
    }
    m_window = CreateWindowExA(0, kClass, name, WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                               instance, nullptr);
    if (m_window)
        SetWindowLongPtrA(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

PartnerWindow::~PartnerWindow()
{
    if (m_window)
        DestroyWindow(m_window);
}

std::vector<Block> PartnerWindow::Take()
{
    std::vector<Block> out;
    out.swap(blocks);
    return out;
}

LRESULT CALLBACK PartnerWindow::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<PartnerWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self && message == WM_COPYDATA) {
        const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        Block block;
        block.receiver = window;
        block.sender = reinterpret_cast<HWND>(wParam);
        if (cds) {
            block.dwData = cds->dwData;
            block.cbData = cds->cbData;
            if (cds->lpData && cds->cbData)
                block.data.assign(static_cast<const uint8_t*>(cds->lpData),
                                  static_cast<const uint8_t*>(cds->lpData) + cds->cbData);
        }
        self->blocks.push_back(block);
        if (self->onBlock)
            self->onBlock(block);
        return 1;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// ---------------------------------------------------------------------------
// Korvane.exe under the debug API
// ---------------------------------------------------------------------------

bool KorvaneProcess::Start(const std::string& exe, const char* arguments, const char* directory)
{
    std::string commandLine = "\"" + exe + "\"";
    if (arguments) {
        commandLine += ' ';
        commandLine += arguments;
    }
    const std::string folder = directory ? directory : "";
    m_thread =
        std::thread([this, exe, commandLine, folder] { DebugLoop(exe, commandLine, folder); });
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_for(lock, std::chrono::milliseconds(kExeTimeoutMs),
                       [this] { return m_startDone; });
    return m_startDone && m_process != nullptr;
}

bool KorvaneProcess::Running() const
{
    return m_process && WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT;
}

HWND KorvaneProcess::WaitForWindow(const std::string& title, const std::string& className)
{
    HWND found = nullptr;
    WaitUntil([&] {
        found = FindProcessWindow(m_processId, title, className);
        return (found != nullptr && IsWindowVisible(found)) || !Running();
    });
    return found;
}

int64_t KorvaneProcess::WaitForExit(DWORD timeoutMs)
{
    if (!m_process)
        return -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        PumpMessages();
        if (WaitForSingleObject(m_process, 0) == WAIT_OBJECT_0)
            break;
        if (std::chrono::steady_clock::now() >= deadline)
            return -1;
        MsgWaitForMultipleObjects(1, &m_process, FALSE, 20, QS_ALLINPUT);
    }
    DWORD code = 0;
    if (!GetExitCodeProcess(m_process, &code))
        return -1;
    return int64_t(code);
}

std::vector<std::string> KorvaneProcess::Traces()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_traces;
}

void KorvaneProcess::ClearTraces()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_traces.clear();
}

bool KorvaneProcess::HasTrace(const std::string& line)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::find(m_traces.begin(), m_traces.end(), line) != m_traces.end();
}

void KorvaneProcess::Stop()
{
    if (m_thread.joinable()) {
        m_stop = true;
        m_thread.join();
    }
    if (m_process) {
        CloseHandle(m_process);
        m_process = nullptr;
    }
}

// Runs on its own thread: the debugger of a process is the thread that
// created it.
void KorvaneProcess::DebugLoop(const std::string& exe, const std::string& commandLine,
                               const std::string& folder)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    const BOOL created =
        CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS,
                       nullptr, folder.empty() ? nullptr : folder.c_str(), &startup, &info);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_startDone = true;
        if (created) {
            m_process = info.hProcess;
            m_processId = info.dwProcessId;
        }
    }
    m_changed.notify_all();
    if (!created)
        return;
    CloseHandle(info.hThread);

    bool terminated = false;
    int idleAfterStop = 0;
    for (;;) {
        DEBUG_EVENT event = {};
        if (!WaitForDebugEvent(&event, 50)) {
            if (m_stop) {
                if (!terminated) {
                    TerminateProcess(m_process, 1);
                    terminated = true;
                } else if (++idleAfterStop > 200) {
                    break; // leaving the thread ends the process too
                }
            }
            continue;
        }
        DWORD status = DBG_CONTINUE;
        bool done = false;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            if (event.u.CreateProcessInfo.hFile)
                CloseHandle(event.u.CreateProcessInfo.hFile);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            if (event.u.LoadDll.hFile)
                CloseHandle(event.u.LoadDll.hFile);
            break;
        case OUTPUT_DEBUG_STRING_EVENT:
            ReadTrace(event.u.DebugString);
            break;
        case EXCEPTION_DEBUG_EVENT:
            // The loader's first breakpoint is the debugger's; everything
            // else (the codec's C++ exceptions among them) goes to the program.
            if (event.u.Exception.ExceptionRecord.ExceptionCode == EXCEPTION_BREAKPOINT &&
                !m_sawBreakpoint) {
                m_sawBreakpoint = true;
            } else {
                status = DBG_EXCEPTION_NOT_HANDLED;
                if (!event.u.Exception.dwFirstChance)
                    ++m_unhandled;
            }
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            done = true;
            break;
        default:
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
        if (done)
            break;
    }
}

void KorvaneProcess::ReadTrace(const OUTPUT_DEBUG_STRING_INFO& info)
{
    if (info.fUnicode || info.nDebugStringLength == 0)
        return;
    std::vector<char> text(std::min<size_t>(info.nDebugStringLength, 1u << 16), '\0');
    SIZE_T read = 0;
    if (!ReadProcessMemory(m_process, info.lpDebugStringData, text.data(), text.size(), &read))
        return;
    std::string line(text.data(), strnlen(text.data(), read));
    std::lock_guard<std::mutex> lock(m_mutex);
    m_traces.push_back(line);
}

// ---------------------------------------------------------------------------
// The Debug item's check mark
// ---------------------------------------------------------------------------

namespace {

// Base address of a module in another process, or 0.
uintptr_t RemoteModuleBase(DWORD processId, const char* name)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    uintptr_t base = 0;
    MODULEENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Module32First(snapshot, &entry); more; more = Module32Next(snapshot, &entry)) {
        if (lstrcmpiA(entry.szModule, name) == 0) {
            base = reinterpret_cast<uintptr_t>(entry.modBaseAddr);
            break;
        }
    }
    CloseHandle(snapshot);
    return base;
}

} // namespace

UINT MenuStateInProcess(HANDLE process, DWORD processId, HWND window, UINT id)
{
    HMODULE user32 = GetModuleHandleA("user32.dll");
    const uintptr_t remoteUser32 = RemoteModuleBase(processId, "user32.dll");
    if (!user32 || !remoteUser32)
        return 0xFFFFFFFFu;
    auto remote = [&](const char* function) -> uint64_t {
        const uintptr_t local = reinterpret_cast<uintptr_t>(GetProcAddress(user32, function));
        return local ? remoteUser32 + (local - reinterpret_cast<uintptr_t>(user32)) : 0;
    };
    const uint64_t getMenu = remote("GetMenu");
    const uint64_t getMenuState = remote("GetMenuState");
    if (!getMenu || !getMenuState)
        return 0xFFFFFFFFu;

    Octets code;
    auto emit = [&code](std::initializer_list<uint8_t> octets) { code.insert(code.end(), octets); };
    auto emit64 = [&code](uint64_t value) {
        for (int i = 0; i < 8; ++i)
            code.push_back(uint8_t(value >> (8 * i)));
    };
    emit({0x48, 0x83, 0xEC, 0x28}); // sub rsp, 40
    emit({0x48, 0xB9});             // mov rcx, window
    emit64(reinterpret_cast<uintptr_t>(window));
    emit({0x48, 0xB8}); // mov rax, GetMenu
    emit64(getMenu);
    emit({0xFF, 0xD0});       // call rax
    emit({0x48, 0x89, 0xC1}); // mov rcx, rax
    emit({0xBA});             // mov edx, id
    for (int i = 0; i < 4; ++i)
        code.push_back(uint8_t(id >> (8 * i)));
    emit({0x41, 0xB8, 0x00, 0x00, 0x00, 0x00}); // mov r8d, MF_BYCOMMAND
    emit({0x48, 0xB8});                         // mov rax, GetMenuState
    emit64(getMenuState);
    emit({0xFF, 0xD0});             // call rax
    emit({0x48, 0x83, 0xC4, 0x28}); // add rsp, 40
    emit({0xC3});                   // ret

    void* memory =
        VirtualAllocEx(process, nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
    if (!memory)
        return 0xFFFFFFFFu;
    DWORD state = 0xFFFFFFFFu;
    SIZE_T written = 0;
    if (WriteProcessMemory(process, memory, code.data(), code.size(), &written) &&
        written == code.size()) {
        FlushInstructionCache(process, memory, code.size());
        HANDLE thread = CreateRemoteThread(process, nullptr, 0,
                                           reinterpret_cast<LPTHREAD_START_ROUTINE>(memory),
                                           nullptr, 0, nullptr);
        if (thread) {
            if (WaitForSingleObject(thread, kExeTimeoutMs) != WAIT_OBJECT_0 ||
                !GetExitCodeThread(thread, &state))
                state = 0xFFFFFFFFu;
            CloseHandle(thread);
        }
    }
    VirtualFreeEx(process, memory, 0, MEM_RELEASE);
    return state;
}

} // namespace testing_support::korvane_exe
