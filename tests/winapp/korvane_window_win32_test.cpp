// Korvane.exe end to end, its window and menu: the window name, start-up,
// the crash-report library, Exit, the Debug switch with its check mark, and
// the About box with its accelerators.
#include "tests/winapp/korvane_exe_fixture.h"

#include <algorithm>
#include <string>
#include <vector>

namespace testing_support::korvane_exe {
namespace {

// ---------------------------------------------------------------------------
// Start-up and the window
// ---------------------------------------------------------------------------

TEST_F(KorvaneExeTest, WindowIsNamedAfterTheArgumentAndStartsMinimised)
{
    Launch("T1");
    char className[64] = {};
    GetClassNameA(window, className, sizeof className);
    EXPECT_STREQ(className, "Korvane");
    EXPECT_TRUE(IsIconic(window));
    EXPECT_NE(GetMenu(window), nullptr);
    EXPECT_EQ(DebugItemState(), 0);
    EXPECT_TRUE(IsWindowVisible(window));

    const LONG style = GetWindowLongA(window, GWL_STYLE);
    const LONG wanted = WS_MINIMIZE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    EXPECT_EQ(style & wanted, wanted) << std::hex << style;
    EXPECT_EQ(style & (WS_MAXIMIZEBOX | WS_THICKFRAME | WS_CHILD), 0) << std::hex << style;
    EXPECT_EQ(GetWindowLongA(window, GWL_EXSTYLE) & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW), 0);

    // Restored, it is 600 x 80 at (0, 0), and it still answers. The restore
    // is asked again while waiting: on a loaded machine the program's own
    // start-up minimising can land after the first request.
    RECT rect = {};
    EXPECT_TRUE(WaitUntil([&] {
        if (IsIconic(window))
            ShowWindow(window, SW_RESTORE);
        GetWindowRect(window, &rect);
        return !IsIconic(window) && rect.left == 0 && rect.top == 0 && rect.right == 600 &&
               rect.bottom == 80;
    })) << rect.left
        << "," << rect.top << " " << rect.right << "," << rect.bottom;
    ExpectAnswering();
}

TEST_F(KorvaneExeTest, WithoutArgumentsTheNameEndsInTheUnderscore)
{
    ASSERT_TRUE(korvane.Start(KorvaneExePath(), nullptr));
    window = korvane.WaitForWindow(kHostWindowPrefix, "Korvane");
    EXPECT_NE(window, nullptr);
}

TEST_F(KorvaneExeTest, LongCommandLineIsCutToFitTheName)
{
    std::string argument;
    for (int i = 0; i < 150; ++i)
        argument += char('A' + i % 26);
    ASSERT_TRUE(korvane.Start(KorvaneExePath(), argument.c_str()));
    // 99 characters: "Korvane_" and the first 91 of the command line.
    const std::string name = kHostWindowPrefix + argument.substr(0, 91);
    window = korvane.WaitForWindow(name, "Korvane");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(WindowText(window), name);
    ExpectAnswering();
}

TEST_F(KorvaneExeTest, ExitEndsTheProgramWithCodeZero)
{
    Launch();
    ExitWithCodeZero();
    EXPECT_EQ(korvane.UnhandledExceptions(), 0);
}

TEST_F(KorvaneExeTest, ClosingTheWindowEndsTheProgramWithCodeZero)
{
    Launch();
    ASSERT_TRUE(PostMessageA(window, WM_CLOSE, 0, 0));
    EXPECT_EQ(korvane.WaitForExit(), 0);
}

// Under Wine a process started without DISPLAY cannot create windows; the
// test `winapp_no_display` runs this so (KORVANE_NO_DISPLAY set), the
// ordinary run skips it.
TEST(KorvaneExeWithoutDisplay, SaysWhyAndExitsWithCodeOne)
{
    HWND probe = CreateWindowExA(0, "STATIC", "probe", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                 nullptr, nullptr);
    if (probe) {
        DestroyWindow(probe);
        if (GetEnvironmentVariableA("KORVANE_NO_DISPLAY", nullptr, 0) != 0)
            FAIL() << "windows can still be created";
        GTEST_SKIP() << "windows can be created here";
    }
    KorvaneProcess korvane;
    ASSERT_TRUE(korvane.Start(KorvaneExePath(), "T9"));
    EXPECT_EQ(korvane.WaitForExit(), 1);
    const std::vector<std::string> traces = korvane.Traces();
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_EQ(traces[0].rfind("Korvane: the window Korvane_T9 could not be created (error ", 0), 0u)
        << traces[0];
    EXPECT_EQ(korvane.UnhandledExceptions(), 0);
}

TEST_F(KorvaneExeTest, CrashReportLibraryBesideTheProgramIsLoadedAndTraced)
{
    ScratchFolder folder;
    ASSERT_TRUE(folder.Ok());
    const std::string exe = folder.File("Korvane.exe");
    ASSERT_TRUE(CopyFileA(KorvaneExePath().c_str(), exe.c_str(), FALSE));
    ASSERT_TRUE(WriteFileOctets(folder.File("exchndl.dll"), MinimalDll()));

    ASSERT_TRUE(korvane.Start(exe, "T1"));
    window = korvane.WaitForWindow("Korvane_T1", "Korvane");
    ASSERT_NE(window, nullptr);
    // Written whatever the Debug switch says (it is off). The library is
    // loaded after the window is created, so the trace may still be coming.
    EXPECT_TRUE(
        WaitUntil([&] { return korvane.HasTrace("Exception handler dll loaded byKorvane."); }));
    EXPECT_EQ(DebugItemState(), 0);
    ExpectAnswering();

    ExitWithCodeZero();
}

TEST_F(KorvaneExeTest, CrashReportLibraryOnlyInTheCurrentDirectoryIsNotLoaded)
{
    ScratchFolder folder;
    ASSERT_TRUE(folder.Ok());
    ASSERT_TRUE(WriteFileOctets(folder.File("exchndl.dll"), MinimalDll()));

    ASSERT_TRUE(korvane.Start(KorvaneExePath(), "T1", folder.Path().c_str()));
    window = korvane.WaitForWindow("Korvane_T1", "Korvane");
    ASSERT_NE(window, nullptr);
    ExpectAnswering();
    EXPECT_FALSE(korvane.HasTrace("Exception handler dll loaded byKorvane."));
    EXPECT_TRUE(korvane.Traces().empty());

    ExitWithCodeZero();
}

// ---------------------------------------------------------------------------
// The Debug switch
// ---------------------------------------------------------------------------

bool Contains(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST_F(KorvaneExeTest, DebugSwitchTurnsTracesOnAndOff)
{
    Launch();
    const Octets message = ParameterMessage(1, 2, 3, 4, 5, IntegerValue(100));

    // Off at start: nothing is written.
    ExpectAnswering();
    ASSERT_EQ(SendConsole(message), 1);
    EXPECT_TRUE(korvane.Traces().empty());
    EXPECT_EQ(DebugItemState(), 0);

    // On (sent): checked, and the traces come.
    EXPECT_EQ(SendMenuCommand(kMenuDebug), 0);
    EXPECT_EQ(DebugItemState(), 1);
    ExpectAnswering();
    ASSERT_EQ(SendConsole(ParameterMessage(1, 2, 3, 4, 5, IntegerValue(101))), 1);
    ASSERT_EQ(SendConsole(Octets(13, 0x42)), 1);
    const std::vector<std::string> traces = korvane.Traces();
    EXPECT_TRUE(Contains(traces, "sscanf iError=6  \n"));
    EXPECT_TRUE(Contains(traces, "LIB:~~~~Data to be DE_Coded lenght=42 \n"));
    EXPECT_TRUE(Contains(traces, "eeBerClass_ContextSpecific:\n"));
    EXPECT_TRUE(Contains(traces, "eeBerClass_Private:\n"));
    EXPECT_TRUE(Contains(traces, "##VALUE #### = 101  \n"));
    EXPECT_TRUE(Contains(traces, "LIB:~~~~Data to be DE_Coded lenght=13 \n"));
    EXPECT_TRUE(Contains(traces, "Korvane Keep Alive Rxd"));

    // Off again (posted, as the menu does): unchecked and silent.
    ASSERT_TRUE(PostMessageA(window, WM_COMMAND, kMenuDebug, 0));
    EXPECT_TRUE(WaitUntil([&] { return DebugItemState() == 0; }));
    korvane.ClearTraces();
    ExpectAnswering();
    ASSERT_EQ(SendConsole(ParameterMessage(1, 2, 3, 4, 5, IntegerValue(102))), 1);
    ASSERT_EQ(SendConsole(Octets(13, 0x42)), 1);
    EXPECT_TRUE(korvane.Traces().empty());
    EXPECT_EQ(partner->Take().size(), 2u); // the report and the keep-alive

    // And on once more.
    EXPECT_EQ(SendMenuCommand(kMenuDebug), 0);
    EXPECT_EQ(DebugItemState(), 1);
    ExpectAnswering();
    EXPECT_TRUE(Contains(korvane.Traces(), "sscanf iError=6  \n"));
}

// ---------------------------------------------------------------------------
// The About box
// ---------------------------------------------------------------------------

TEST_F(KorvaneExeTest, AboutBoxKeepsAnsweringAndClosesWithOk)
{
    Launch();
    ASSERT_TRUE(PostMessageA(window, WM_COMMAND, kMenuAbout, 0));
    HWND dialog = WaitForAboutBox();
    ASSERT_NE(dialog, nullptr);

    // Its controls.
    HWND version = nullptr;
    EnumChildWindows(
        dialog,
        [](HWND child, LPARAM param) -> BOOL {
            if (WindowText(child) == "Korvane Version 1.15") {
                *reinterpret_cast<HWND*>(param) = child;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&version));
    EXPECT_NE(version, nullptr);
    HWND ok = GetDlgItem(dialog, IDOK);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(WindowText(ok), "OK");
    HWND icon = GetDlgItem(dialog, 2);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(GetWindowLongA(icon, GWL_STYLE) & SS_TYPEMASK, SS_ICON);

    // Blocks are still answered while it is open.
    ExpectAnswering();
    ASSERT_EQ(SendConsole(ParameterMessage(1, 2, 3, 4, 5, IntegerValue(100))), 1);
    EXPECT_EQ(TakeReports(), std::vector<std::string>{"1,2,3,4,5,100"});
    ASSERT_EQ(SendConsole(Octets(13, 0x42)), 1);
    EXPECT_EQ(partner->Take().size(), 1u);
    EXPECT_TRUE(IsWindow(dialog));

    // OK closes it; Exit then ends the program with code 0.
    EXPECT_TRUE(CloseDialog(dialog, WM_COMMAND, IDOK));
    ExpectAnswering();
    ExitWithCodeZero();
}

TEST_F(KorvaneExeTest, SecondAboutCommandWhileTheBoxIsOpenOpensNoSecondBox)
{
    Launch();
    ASSERT_TRUE(PostMessageA(window, WM_COMMAND, kMenuAbout, 0));
    HWND dialog = WaitForAboutBox();
    ASSERT_NE(dialog, nullptr);

    // Posted messages are taken in order: once the Debug switch behind the
    // second About command has flipped, that command has been handled.
    ASSERT_TRUE(PostMessageA(window, WM_COMMAND, kMenuAbout, 0));
    ASSERT_TRUE(PostMessageA(window, WM_COMMAND, kMenuDebug, 0));
    EXPECT_TRUE(WaitUntil([&] { return DebugItemState() == 1; }));

    struct Count
    {
        DWORD processId;
        int boxes;
    } count{korvane.Id(), 0};
    EnumWindows(
        [](HWND candidate, LPARAM param) -> BOOL {
            auto* c = reinterpret_cast<Count*>(param);
            DWORD owner = 0;
            GetWindowThreadProcessId(candidate, &owner);
            char name[16] = {};
            GetClassNameA(candidate, name, sizeof name);
            if (owner == c->processId && std::string(name) == "#32770")
                ++c->boxes;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    EXPECT_EQ(count.boxes, 1);

    EXPECT_TRUE(CloseDialog(dialog, WM_COMMAND, IDOK));
    ExpectAnswering();
    ExitWithCodeZero();
}

TEST_F(KorvaneExeTest, AboutBoxClosesWithCancelAndTheCloseBox)
{
    Launch();
    ASSERT_TRUE(PostMessageA(window, WM_COMMAND, kMenuAbout, 0));
    HWND dialog = WaitForAboutBox();
    ASSERT_NE(dialog, nullptr);
    // Cancel (also the Escape key).
    EXPECT_TRUE(CloseDialog(dialog, WM_COMMAND, IDCANCEL));

    ASSERT_TRUE(PostMessageA(window, WM_COMMAND, kMenuAbout, 0));
    dialog = WaitForAboutBox();
    ASSERT_NE(dialog, nullptr);
    // The close box.
    EXPECT_TRUE(CloseDialog(dialog, WM_CLOSE, 0));
    ExpectAnswering();
}

// The keys that type a character with Alt held, on the keyboard layout in
// use: Alt, Shift if the character needs it, the key, then all released.
std::vector<INPUT> AltCharacterKeys(char character)
{
    const SHORT scan = VkKeyScanA(character);
    std::vector<INPUT> keys;
    if (scan == -1)
        return keys;
    const bool shifted = (scan >> 8) & 1;
    auto key = [&keys](WORD vk, bool up) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = vk;
        input.ki.wScan = WORD(MapVirtualKeyA(vk, MAPVK_VK_TO_VSC));
        input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        keys.push_back(input);
    };
    key(VK_MENU, false);
    if (shifted)
        key(VK_SHIFT, false);
    key(WORD(scan & 0xFF), false);
    key(WORD(scan & 0xFF), true);
    if (shifted)
        key(VK_SHIFT, true);
    key(VK_MENU, true);
    return keys;
}

TEST_F(KorvaneExeTest, AltQuestionMarkAndAltSlashOpenTheAboutBox)
{
    Launch();
    ShowWindow(window, SW_RESTORE);
    for (char character : {'?', '/'}) {
        // Korvane's window takes the keyboard; then the keys are typed.
        SetForegroundWindow(window);
        ASSERT_TRUE(WaitUntil([&] { return GetForegroundWindow() == window; }));
        std::vector<INPUT> keys = AltCharacterKeys(character);
        ASSERT_FALSE(keys.empty()) << "no key types " << character;
        ASSERT_EQ(SendInput(UINT(keys.size()), keys.data(), sizeof(INPUT)), keys.size());
        HWND dialog = WaitForAboutBox();
        ASSERT_NE(dialog, nullptr) << "Alt+" << character;
        EXPECT_TRUE(CloseDialog(dialog, WM_COMMAND, IDOK));
    }
    ExpectAnswering();
}

TEST_F(KorvaneExeTest, ExitWhileTheAboutBoxIsOpenEndsWithCodeZero)
{
    Launch();
    ASSERT_TRUE(PostMessageA(window, WM_COMMAND, kMenuAbout, 0));
    ASSERT_NE(WaitForAboutBox(), nullptr);
    ExitWithCodeZero();
}

} // namespace
} // namespace testing_support::korvane_exe
