// Runs a program to its end with the given standard input and collects its
// exit status and both output streams, octet for octet (files in between, no
// text-mode translation). The platform parts live in run_program_posix.cpp
// (posix_spawn) and run_program_win32.cpp (CreateProcessA).
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct ProgramResult
{
    int status = -1; // exit status; -1 when it did not start, crashed or ran too long
    std::string out;
    std::string err;
};

// Longest a program may run before it is stopped and the result is -1.
constexpr int kProgramTimeoutMs = 60000;

// A program started with `args` (not including the program itself) and its
// standard input from `input`; it is stopped if it still runs when the
// object goes.
class RunningProgram
{
public:
    RunningProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::string& input = "");
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    bool Started() const;
    // Its process id (0 before it started).
    unsigned long Id() const;
    // What it has written to standard output so far.
    std::string OutputSoFar() const;
    // What it has written to standard error so far.
    std::string ErrorSoFar() const;
    // Waits for its end; stops it after timeoutMs (status -1 then).
    ProgramResult Wait(int timeoutMs = kProgramTimeoutMs);

private:
    struct Parts;
    Parts* m_parts;
};

// Runs the program to its end (see RunningProgram).
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input = "", int timeoutMs = kProgramTimeoutMs);

// A path of the build host as this program opens it: unchanged on POSIX; on
// Windows (under Wine) the Unix root is drive Z: and '/' becomes '\'.
std::string NativePath(const std::string& buildPath);

#ifdef KORVANE_CLI_PATH
// The korvane tool: `korvane` on Linux, `korvane-cli.exe` on Windows.
inline std::string KorvaneCliPath()
{
    return NativePath(KORVANE_CLI_PATH);
}
#endif

// A fresh file name in the temporary folder; the file is removed with the
// object.
class TempFile
{
public:
    explicit TempFile(const std::string& contents = "");
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::string& Path() const { return m_path; }
    std::string Read() const;

private:
    std::string m_path;
};

} // namespace testing_support
