// Korvane-<version>-setup.exe end to end: a silent install into a temporary
// folder, for all users and for the current user; the files, the Start-menu
// shortcut and the Add or Remove Programs entry; the installed Korvane.exe
// answering the installed korvane-cli.exe partner; a silent uninstall that
// leaves nothing behind. Every wait is bounded.
#include "protocol/protocol.h"
#include "tests/support/korvane_exe_win32.h"
#include "tests/support/run_program.h"

#include "korvane_version.h"
#include "winapi.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifndef KORVANE_SETUP_PATH
#error "KORVANE_SETUP_PATH must name the installer"
#endif

namespace {

using testing_support::NativePath;
using testing_support::RunProgram;
using testing_support::korvane_exe::WaitUntil;

constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Korvane";
constexpr DWORD kInstallTimeoutMs = 60000;

const char* const kInstalledFiles[] = {"Korvane.exe",
                                       "korvane-cli.exe",
                                       "README.txt",
                                       "wireshark\\korvane.lua",
                                       "SDK\\include\\korvane_partner.h",
                                       "SDK\\include\\korvane_partner.hpp",
                                       "SDK\\lib\\libkorvane-partner.dll.a",
                                       "SDK\\bin\\korvane-partner.dll",
                                       "uninstall.exe"};

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A value of the uninstall entry ("" when absent); DWORDs as decimal text.
std::string EntryValue(HKEY root, const char* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, kUninstallKey, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return "";
    char data[1024] = {};
    DWORD type = 0;
    DWORD size = sizeof data - 1;
    std::string value;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) ==
        ERROR_SUCCESS) {
        if (type == REG_SZ)
            value = data;
        else if (type == REG_DWORD)
            value = std::to_string(*reinterpret_cast<const DWORD*>(data));
    }
    RegCloseKey(key);
    return value;
}

bool EntryExists(HKEY root)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, kUninstallKey, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::string ProgramsFolder(bool allUsers)
{
    char path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, allUsers ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS, nullptr,
                                SHGFP_TYPE_CURRENT, path)))
        return "";
    return path;
}

// A folder under the temporary folder that does not exist yet.
std::string FreshFolder(const char* tag)
{
    char base[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, base);
    return std::string(base) + "korvane-setup-" + tag + "-" + std::to_string(GetCurrentProcessId());
}

struct Scope
{
    const char* name;
    const char* option; // nullptr: the installer's own choice
    bool allUsers;
};

class Installer : public ::testing::TestWithParam<Scope>
{
protected:
    void TearDown() override
    {
        if (m_korvane.hProcess) {
            TerminateProcess(m_korvane.hProcess, 1);
            WaitForSingleObject(m_korvane.hProcess, 5000);
            CloseHandle(m_korvane.hProcess);
        }
    }

    bool StartInstalledKorvane(const std::string& folder, const char* argument)
    {
        const std::string exe = folder + "\\Korvane.exe";
        std::string line = "\"" + exe + "\" " + argument;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        if (!CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &m_korvane))
            return false;
        CloseHandle(m_korvane.hThread);
        m_korvane.hThread = nullptr;
        const std::string title = std::string(kHostWindowPrefix) + argument;
        return WaitUntil([&] { return FindWindowA("Korvane", title.c_str()) != nullptr; },
                         kInstallTimeoutMs);
    }

    // Exit through the menu; the process ends with code 0.
    DWORD StopInstalledKorvane(const char* argument)
    {
        HWND window = FindWindowA("Korvane", (std::string(kHostWindowPrefix) + argument).c_str());
        if (!window || !PostMessageA(window, WM_COMMAND, 105, 0))
            return DWORD(-1);
        if (WaitForSingleObject(m_korvane.hProcess, kInstallTimeoutMs) != WAIT_OBJECT_0)
            return DWORD(-1);
        DWORD code = DWORD(-1);
        GetExitCodeProcess(m_korvane.hProcess, &code);
        CloseHandle(m_korvane.hProcess);
        m_korvane.hProcess = nullptr;
        return code;
    }

    PROCESS_INFORMATION m_korvane = {};
};

TEST_P(Installer, InstallsAnswersAndUninstallsWithoutTrace)
{
    const Scope& scope = GetParam();
    const HKEY root = scope.allUsers ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    const std::string folder = FreshFolder(scope.name) + "\\Korvane";
    const std::string shortcut = ProgramsFolder(scope.allUsers) + "\\Korvane.lnk";
    ASSERT_NE(ProgramsFolder(scope.allUsers), "");
    ASSERT_FALSE(Exists(folder));

    // Silent install; /D= comes last and unquoted.
    std::vector<std::string> args = {"/S"};
    if (scope.option)
        args.push_back(scope.option);
    args.push_back("/D=" + folder);
    const auto installed = RunProgram(NativePath(KORVANE_SETUP_PATH), args, "", kInstallTimeoutMs);
    ASSERT_EQ(installed.status, 0) << installed.err;

    for (const char* file : kInstalledFiles)
        EXPECT_TRUE(Exists(folder + "\\" + file)) << file;
    EXPECT_TRUE(Exists(shortcut)) << shortcut;
    EXPECT_EQ(EntryValue(root, "DisplayName"), "Korvane");
    EXPECT_EQ(EntryValue(root, "DisplayVersion"), KORVANE_VERSION);
    EXPECT_NE(EntryValue(root, "Publisher"), "");
    EXPECT_EQ(EntryValue(root, "InstallLocation"), folder);
    EXPECT_EQ(EntryValue(root, "UninstallString"), "\"" + folder + "\\uninstall.exe\"");
    EXPECT_EQ(EntryValue(root, "QuietUninstallString"), "\"" + folder + "\\uninstall.exe\" /S");
    EXPECT_EQ(EntryValue(root, "DisplayIcon"), folder + "\\Korvane.exe,0");
    EXPECT_EQ(EntryValue(root, "NoModify"), "1");
    EXPECT_NE(EntryValue(root, "EstimatedSize"), "");
    // The other scope got nothing.
    EXPECT_NE(
        EntryValue(scope.allUsers ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, "InstallLocation"),
        folder);

    // The installed programs talk to each other.
    ASSERT_TRUE(StartInstalledKorvane(folder, "Installed"));
    const auto partner =
        RunProgram(folder + "\\korvane-cli.exe",
                   {"partner", "--service", "Installed", "--wait", "0", "1,2,3,4,5,100"}, "",
                   kInstallTimeoutMs);
    EXPECT_EQ(partner.status, 0) << partner.err;
    EXPECT_EQ(partner.out,
              "> command 1,2,3,4,5,100\n"
              "encoded 51: 7F 8F FF FE D9 5C 80 30 80 00 00 00 00 7F 8F FF FE D9 5C 80 30 80 A1 17 "
              "31 15 A2 13 31 11 A3 0F 31 0D A4 0B 31 09 E5 07 31 05 63 03 02 01 64 00 00 00 00\n");
    const auto version = RunProgram(folder + "\\korvane-cli.exe", {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_NE(version.out.find(KORVANE_VERSION), std::string::npos) << version.out;
    EXPECT_EQ(StopInstalledKorvane("Installed"), 0u);

    // The uninstaller runs from a copy of itself and returns at once: wait
    // for its work to be done.
    const auto uninstalled = RunProgram(folder + "\\uninstall.exe", {"/S"}, "", kInstallTimeoutMs);
    EXPECT_EQ(uninstalled.status, 0);
    EXPECT_TRUE(
        WaitUntil([&] { return !Exists(folder) && !EntryExists(root) && !Exists(shortcut); },
                  kInstallTimeoutMs))
        << "left behind:" << (Exists(folder) ? " the folder" : "")
        << (EntryExists(root) ? " the entry" : "") << (Exists(shortcut) ? " the shortcut" : "");
    RemoveDirectoryA(FreshFolder(scope.name).c_str());
}

INSTANTIATE_TEST_SUITE_P(Scopes, Installer,
                         ::testing::Values(Scope{"machine", nullptr, true},
                                           Scope{"user", "/CurrentUser", false}),
                         [](const auto& scope) { return std::string(scope.param.name); });

TEST(InstallerRefuses, WhileKorvaneRuns)
{
    // A window of class Korvane stands for a running Korvane.exe.
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "Korvane";
    ASSERT_TRUE(RegisterClassExA(&wc));
    HWND window = CreateWindowExA(0, "Korvane", "Korvane_Running", WS_POPUP, 0, 0, 0, 0, nullptr,
                                  nullptr, wc.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    const std::string folder = FreshFolder("running") + "\\Korvane";
    const auto result =
        RunProgram(NativePath(KORVANE_SETUP_PATH), {"/S", "/D=" + folder}, "", kInstallTimeoutMs);
    EXPECT_EQ(result.status, 2);
    EXPECT_FALSE(Exists(folder));
    DestroyWindow(window);
    UnregisterClassA("Korvane", wc.hInstance);
}

} // namespace
