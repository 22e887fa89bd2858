// The Win32 side of what the korvane tool needs from the platform: hidden
// named windows, the bounded message loop, the window list by prefix and the
// error texts.
#include "winapi.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> g_received;

LRESULT CALLBACK Record(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_USER + 1) {
        g_received.push_back(GetWindowName(window));
        return LRESULT(wParam + 1);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

BOOL Collect(const char* name, void* context)
{
    static_cast<std::vector<std::string>*>(context)->push_back(name);
    return TRUE;
}

BOOL StopAtFirst(const char* name, void* context)
{
    static_cast<std::vector<std::string>*>(context)->push_back(name);
    return FALSE;
}

TEST(MessageWindow, IsNamedHiddenFoundAndAnswers)
{
    HWND window = CreateMessageWindow("KorvaneTest_one", Record);
    ASSERT_NE(window, nullptr) << GetMessageLayerError();
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(FindWindowA(nullptr, "KorvaneTest_one"), window);
    EXPECT_STREQ(GetWindowName(window), "KorvaneTest_one");
    g_received.clear();
    EXPECT_EQ(SendMessageA(window, WM_USER + 1, 41, 0), 42);
    EXPECT_EQ(g_received, std::vector<std::string>{"KorvaneTest_one"});
    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_EQ(GetWindowName(window), nullptr);
    EXPECT_EQ(FindWindowA(nullptr, "KorvaneTest_one"), nullptr);
}

TEST(MessageWindow, RefusesTakenEmptyAndOverlongNames)
{
    HWND first = CreateMessageWindow("KorvaneTest_taken", Record);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(CreateMessageWindow("KorvaneTest_taken", Record), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_STREQ(GetMessageLayerError(), "a window of that name exists already");
    DestroyWindow(first);

    EXPECT_EQ(CreateMessageWindow("", Record), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    const std::string longest(MaxWindowNameLength(), 'n');
    EXPECT_EQ(CreateMessageWindow((longest + "n").c_str(), Record), nullptr);
    HWND fits = CreateMessageWindow(longest.c_str(), Record);
    ASSERT_NE(fits, nullptr) << GetMessageLayerError();
    EXPECT_EQ(GetWindowName(fits), longest);
    DestroyWindow(fits);
}

TEST(MessageWindow, LocalWindowIsHiddenFromFindWindowAndAnswers)
{
    HWND local = CreateLocalWindow("KorvaneTest_local", Record);
    ASSERT_NE(local, nullptr) << GetMessageLayerError();
    // Not in the list of windows other processes see (FindWindowA itself
    // sees message-only windows under Wine, not under Windows).
    std::vector<std::string> names;
    EnumWindowNames("KorvaneTest_local", Collect, &names);
    EXPECT_TRUE(names.empty());
    EXPECT_STREQ(GetWindowName(local), "KorvaneTest_local");
    g_received.clear();
    EXPECT_EQ(SendMessageA(local, WM_USER + 1, 1, 0), 2);
    EXPECT_EQ(g_received, std::vector<std::string>{"KorvaneTest_local"});
    EXPECT_EQ(CreateLocalWindow("KorvaneTest_local", Record), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    // A hidden window of the same name does not clash with it.
    HWND visibleToOthers = CreateMessageWindow("KorvaneTest_local", Record);
    EXPECT_NE(visibleToOthers, nullptr);
    EnumWindowNames("KorvaneTest_local", Collect, &names);
    EXPECT_EQ(names.size(), 1u);
    DestroyWindow(visibleToOthers);
    DestroyWindow(local);
}

TEST(MessageWindow, EnumeratesNamesByPrefixInOrder)
{
    HWND b = CreateMessageWindow("KorvaneEnum_b", Record);
    HWND a = CreateMessageWindow("KorvaneEnum_a", Record);
    HWND other = CreateMessageWindow("KorvaneOther", Record);
    ASSERT_TRUE(a && b && other);
    std::vector<std::string> names;
    EXPECT_EQ(EnumWindowNames("KorvaneEnum_", Collect, &names), 2);
    EXPECT_EQ(names, (std::vector<std::string>{"KorvaneEnum_a", "KorvaneEnum_b"}));
    names.clear();
    EXPECT_EQ(EnumWindowNames("KorvaneEnum_", StopAtFirst, &names), 1);
    EXPECT_EQ(names, std::vector<std::string>{"KorvaneEnum_a"});
    names.clear();
    EXPECT_EQ(EnumWindowNames("KorvaneNone_", Collect, &names), 0);
    for (HWND window : {a, b, other})
        DestroyWindow(window);
}

TEST(MessageWindow, LoopEndsOnQuitOrTimeout)
{
    EXPECT_EQ(RunMessageLoop(30), -2);
    PostQuitMessage(7);
    EXPECT_EQ(RunMessageLoop(5000), 7);

    // Posted messages are dispatched while the loop waits.
    HWND window = CreateMessageWindow("KorvaneTest_loop", Record);
    ASSERT_NE(window, nullptr);
    g_received.clear();
    PostMessageA(window, WM_USER + 1, 0, 0);
    EXPECT_EQ(RunMessageLoop(50), -2);
    EXPECT_EQ(g_received, std::vector<std::string>{"KorvaneTest_loop"});
    DestroyWindow(window);
}

TEST(MessageWindow, SendTimeoutDefaultsAndErrorsRead)
{
    const int before = GetSendTimeout();
    SetSendTimeout(1234);
    EXPECT_EQ(GetSendTimeout(), 1234);
    SetLastError(ERROR_TIMEOUT);
    EXPECT_STREQ(GetMessageLayerError(), "no answer within 1234 ms");
    SetSendTimeout(before);
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_STREQ(GetMessageLayerError(), "the window is gone");
    SetLastError(ERROR_SUCCESS);
    EXPECT_STREQ(GetMessageLayerError(), "");
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(std::string(GetMessageLayerError()).rfind("Windows error 8", 0), 0u);
}

} // namespace
