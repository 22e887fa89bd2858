#include "tests/support/run_program.h"

#include "winapi.h"

#include <cstdio>

namespace testing_support {

namespace {

// One argument quoted the way the C runtime's command-line parser reads it
// back: backslashes are literal unless they precede a quote.
std::string Quote(const std::string& arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos)
        return arg;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"')
            quoted.append(backslashes * 2 + 1, '\\');
        else
            quoted.append(backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    quoted += '"';
    return quoted;
}

HANDLE OpenInherited(const std::string& path, DWORD access, DWORD disposition)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

TempFile::TempFile(const std::string& contents)
{
    char folder[MAX_PATH];
    char name[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH || !GetTempFileNameA(folder, "kvt", 0, name))
        return;
    HANDLE file =
        CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    const bool ok = contents.empty() ||
                    (WriteFile(file, contents.data(), DWORD(contents.size()), &written, nullptr) &&
                     written == contents.size());
    CloseHandle(file);
    if (ok)
        m_path = name;
    else
        DeleteFileA(name);
}

TempFile::~TempFile()
{
    if (!m_path.empty())
        DeleteFileA(m_path.c_str());
}

std::string TempFile::Read() const
{
    std::string text;
    HANDLE file = CreateFileA(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return text;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        text.append(buffer, got);
    CloseHandle(file);
    return text;
}

std::string NativePath(const std::string& buildPath)
{
    std::string path = buildPath;
    if (!path.empty() && path[0] == '/')
        path.insert(0, "Z:");
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

struct RunningProgram::Parts
{
    TempFile in, out, err;
    HANDLE process = nullptr;

    explicit Parts(const std::string& input) : in(input) {}
};

RunningProgram::RunningProgram(const std::string& program, const std::vector<std::string>& args,
                               const std::string& input)
    : m_parts(new Parts(input))
{
    Parts& p = *m_parts;
    if (p.in.Path().empty() || p.out.Path().empty() || p.err.Path().empty())
        return;
    std::string line = Quote(program);
    for (const std::string& arg : args) {
        line += ' ';
        line += Quote(arg);
    }
    std::vector<char> commandLine(line.begin(), line.end());
    commandLine.push_back('\0');

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = OpenInherited(p.in.Path(), GENERIC_READ, OPEN_EXISTING);
    startup.hStdOutput = OpenInherited(p.out.Path(), GENERIC_WRITE, TRUNCATE_EXISTING);
    startup.hStdError = OpenInherited(p.err.Path(), GENERIC_WRITE, TRUNCATE_EXISTING);
    PROCESS_INFORMATION info = {};
    const BOOL created = startup.hStdInput != INVALID_HANDLE_VALUE &&
                         startup.hStdOutput != INVALID_HANDLE_VALUE &&
                         startup.hStdError != INVALID_HANDLE_VALUE &&
                         CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info);
    for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError})
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    if (!created)
        return;
    CloseHandle(info.hThread);
    p.process = info.hProcess;
}

RunningProgram::~RunningProgram()
{
    if (m_parts->process) {
        TerminateProcess(m_parts->process, 1);
        WaitForSingleObject(m_parts->process, 5000);
        CloseHandle(m_parts->process);
    }
    delete m_parts;
}

bool RunningProgram::Started() const
{
    return m_parts->process != nullptr;
}

unsigned long RunningProgram::Id() const
{
    return m_parts->process ? GetProcessId(m_parts->process) : 0;
}

std::string RunningProgram::OutputSoFar() const
{
    return m_parts->out.Read();
}

std::string RunningProgram::ErrorSoFar() const
{
    return m_parts->err.Read();
}

ProgramResult RunningProgram::Wait(int timeoutMs)
{
    ProgramResult result;
    Parts& p = *m_parts;
    if (!p.process)
        return result;
    if (WaitForSingleObject(p.process, DWORD(timeoutMs)) == WAIT_OBJECT_0) {
        DWORD code = 0;
        if (GetExitCodeProcess(p.process, &code))
            result.status = int(code);
    } else {
        TerminateProcess(p.process, 1);
        WaitForSingleObject(p.process, 5000);
    }
    CloseHandle(p.process);
    p.process = nullptr;
    result.out = p.out.Read();
    result.err = p.err.Read();
    return result;
}

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input, int timeoutMs)
{
    RunningProgram running(program, args, input);
    return running.Wait(timeoutMs);
}

} // namespace testing_support
