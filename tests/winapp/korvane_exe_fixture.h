// The fixture of the Korvane.exe end-to-end tests: one partner window named
// "TEST_RX" and one Korvane.exe per test, talking only through window
// messages, as the real partner does. Every wait has a timeout, so a
// Korvane.exe that hangs or dies fails a test instead of stopping the run.
#pragma once

#include "protocol/protocol.h"
#include "tests/support/hex.h"
#include "tests/support/korvane_exe_win32.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#ifndef KORVANE_EXE_PATH
#error "KORVANE_EXE_PATH must name Korvane.exe"
#endif

namespace testing_support::korvane_exe {

// Korvane.exe as this (Windows) program reaches it.
inline std::string KorvaneExePath()
{
    return WindowsPath(KORVANE_EXE_PATH);
}

// The block the command 1,2,3,4,5,100 gives: 51 octets.
inline const char* const kWorkedExampleHex =
    "7F 8F FF FE D9 5C 80 30 80 00 00 00 00 7F 8F FF FE D9 5C 80 30 80 A1 17 31 15 "
    "A2 13 31 11 A3 0F 31 0D A4 0B 31 09 E5 07 31 05 63 03 02 01 64 00 00 00 00";

class KorvaneExeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        partner = std::make_unique<PartnerWindow>(kPartnerWindowName);
        ASSERT_NE(partner->Handle(), nullptr);
    }

    void TearDown() override
    {
        EXPECT_EQ(korvane.UnhandledExceptions(), 0);
        korvane.Stop();
        partner.reset();
    }

    // Starts Korvane.exe with the argument and finds "Korvane_<argument>".
    void Launch(const char* argument = "T1")
    {
        ASSERT_TRUE(korvane.Start(KorvaneExePath(), argument)) << KorvaneExePath();
        window = korvane.WaitForWindow(std::string(kHostWindowPrefix) + argument, "Korvane");
        ASSERT_NE(window, nullptr) << "no window Korvane_" << argument;
    }

    // Sends one WM_COPYDATA from the partner window (or from); the result of
    // Korvane's dispatch.
    LRESULT SendBlock(ULONG_PTR dwData, const void* data, DWORD size, HWND from = nullptr)
    {
        COPYDATASTRUCT cds = {};
        cds.dwData = dwData;
        cds.cbData = size;
        cds.lpData = const_cast<void*>(data);
        DWORD_PTR result = 0xDEAD;
        const WPARAM sender = reinterpret_cast<WPARAM>(from ? from : partner->Handle());
        const LRESULT sent =
            SendMessageTimeoutA(window, WM_COPYDATA, sender, reinterpret_cast<LPARAM>(&cds),
                                SMTO_NORMAL, kExeTimeoutMs, &result);
        EXPECT_NE(sent, 0) << "Korvane.exe did not answer WM_COPYDATA (error " << GetLastError()
                           << ")";
        return LRESULT(result);
    }

    // A command line, sent with its NUL.
    LRESULT SendCommand(const std::string& text)
    {
        return SendBlock(kBlockCommand << 16, text.c_str(), DWORD(text.size() + 1));
    }

    // Console octets; the low 16 bits of dwData carry their number.
    LRESULT SendConsole(const Octets& octets, HWND from = nullptr)
    {
        return SendBlock((kBlockConsoleData << 16) | (octets.size() & 0xFFFF), octets.data(),
                         DWORD(octets.size()), from);
    }

    LRESULT SendMenuCommand(UINT id)
    {
        DWORD_PTR result = 0xDEAD;
        EXPECT_NE(
            SendMessageTimeoutA(window, WM_COMMAND, id, 0, SMTO_NORMAL, kExeTimeoutMs, &result), 0);
        return LRESULT(result);
    }

    // The texts of the blocks received since the last call, all reports.
    std::vector<std::string> TakeReports()
    {
        std::vector<std::string> texts;
        for (const Block& block : partner->Take()) {
            EXPECT_EQ(block.Kind(), kBlockReport) << std::hex << block.dwData;
            texts.push_back(block.Text());
        }
        return texts;
    }

    // The one BLOCK_ENCODED a command gives, checked for its layout.
    Octets EncodedReply(const std::string& command)
    {
        partner->blocks.clear();
        EXPECT_EQ(SendCommand(command), 1) << command;
        const std::vector<Block> blocks = partner->Take();
        if (blocks.size() != 1) {
            ADD_FAILURE() << command << ": " << blocks.size() << " blocks instead of one";
            return {};
        }
        const Block& block = blocks[0];
        EXPECT_EQ(block.sender, window) << command;
        EXPECT_EQ(block.Kind(), kBlockEncoded) << command;
        EXPECT_EQ(block.Low(), block.data.size() & 0xFFFF) << command;
        EXPECT_EQ(block.cbData, block.data.size()) << command;
        return block.data;
    }

    // Korvane still runs and answers the worked example command.
    void ExpectAnswering()
    {
        EXPECT_TRUE(korvane.Running());
        EXPECT_EQ(ToHex(EncodedReply("1,2,3,4,5,100")), kWorkedExampleHex);
    }

    // Chooses Exit (posted, as the menu does) and expects the program to
    // end with code 0.
    void ExitWithCodeZero()
    {
        ASSERT_TRUE(PostMessageA(window, WM_COMMAND, kMenuExit, 0));
        EXPECT_EQ(korvane.WaitForExit(), 0);
    }

    HWND WaitForAboutBox()
    {
        HWND dialog = nullptr;
        // The box is found by its title as soon as it exists, while its
        // controls may still be in the making; it is shown once they are
        // all there.
        WaitUntil([&] {
            dialog = FindProcessWindow(korvane.Id(), "About", "#32770");
            return dialog != nullptr && IsWindowVisible(dialog);
        });
        return dialog;
    }

    // Sends IDOK, IDCANCEL or WM_CLOSE to a dialog and waits until it is gone.
    bool CloseDialog(HWND dialog, UINT message, WPARAM wParam)
    {
        DWORD_PTR ignored = 0;
        if (!SendMessageTimeoutA(dialog, message, wParam, 0, SMTO_NORMAL, kExeTimeoutMs, &ignored))
            return false;
        return WaitUntil([&] { return !IsWindow(dialog); });
    }

    // The Debug item's state: 1 checked, 0 unchecked, -1 unreadable.
    int DebugItemState()
    {
        const UINT state = MenuStateInProcess(korvane.Process(), korvane.Id(), window, kMenuDebug);
        if (state == 0xFFFFFFFFu)
            return -1;
        return (state & MF_CHECKED) ? 1 : 0;
    }

    std::unique_ptr<PartnerWindow> partner;
    KorvaneProcess korvane;
    HWND window = nullptr;
};

} // namespace testing_support::korvane_exe
