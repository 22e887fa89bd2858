// The message layer between processes: the peers are forked children that
// use the layer themselves, or raw sockets standing in for foreign and
// broken peers.
#include "platform/posix/message_layer_internal.h"
#include "platform/posix/message_wire.h"
#include "tests/support/posix_endpoints.h"
#include "winapi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace testing_support;

constexpr UINT kMsgAdd = WM_USER + 1;     // returns wParam + lParam
constexpr UINT kMsgInSend = WM_USER + 2;  // returns InSendMessage()
constexpr UINT kMsgQuit = WM_USER + 3;    // PostQuitMessage(lParam)
constexpr UINT kMsgBounce = WM_USER + 4;  // lParam more sends back and forth
constexpr UINT kMsgDie = WM_USER + 5;     // the process ends without answering
constexpr UINT kMsgIsFound = WM_USER + 6; // wParam is what FindWindowA gives for "parent"
constexpr UINT kMsgProbe = WM_USER + 7;   // asks the parent to record InSendMessage

// The procedure of every peer window, in the child and in the parent.
LRESULT CALLBACK PeerProcedure(HWND self, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case kMsgAdd:
        return LRESULT(wParam) + lParam;
    case kMsgInSend:
        return InSendMessage();
    case kMsgQuit:
        PostQuitMessage(int(lParam));
        return 1;
    case kMsgBounce:
        if (lParam <= 0)
            return 0;
        return SendMessageA(reinterpret_cast<HWND>(wParam), kMsgBounce,
                            reinterpret_cast<WPARAM>(self), lParam - 1) +
               1;
    case kMsgDie:
        _exit(0);
    case kMsgIsFound:
        return FindWindowA(nullptr, "parent") == reinterpret_cast<HWND>(wParam);
    case WM_COPYDATA: {
        // Answers with the octets reversed, sent back to the sender.
        const auto* block = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (!block)
            return -1;
        const auto* octets = static_cast<const uint8_t*>(block->lpData);
        std::vector<uint8_t> reversed(octets, octets + block->cbData);
        std::reverse(reversed.begin(), reversed.end());
        COPYDATASTRUCT answer = {block->dwData, block->cbData, reversed.data()};
        SendMessageA(reinterpret_cast<HWND>(wParam), WM_COPYDATA, reinterpret_cast<WPARAM>(self),
                     reinterpret_cast<LPARAM>(&answer));
        return LRESULT(block->cbData) + (block->lpData ? 0 : 1000);
    }
    default:
        return DefWindowProcA(self, message, wParam, lParam);
    }
}

// A child that serves one window until it is told to quit.
int ServeWindow(const char* name)
{
    HWND window = CreateMessageWindow(name, PeerProcedure);
    if (!window)
        return 90;
    int code = -1;
    while (code == -1)
        code = RunMessageLoop(kSafetyTimeoutMs);
    DestroyWindow(window);
    return code < 0 ? 91 : code;
}

// What the parent's windows saw.
struct Seen
{
    std::vector<uint8_t> octets;
    uintptr_t dwData = 0;
    std::string sender;
    HWND senderHandle = nullptr;
    BOOL inSend = FALSE;
    int copies = 0;
    std::vector<BOOL> probes;
};
Seen g_seen;

LRESULT CALLBACK LocalProbeProcedure(HWND, UINT, WPARAM, LPARAM)
{
    g_seen.probes.push_back(InSendMessage());
    return 0;
}

LRESULT CALLBACK ParentProcedure(HWND self, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COPYDATA) {
        const auto* block = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        const auto* octets = static_cast<const uint8_t*>(block->lpData);
        g_seen.octets.assign(octets, octets + block->cbData);
        g_seen.dwData = block->dwData;
        const char* sender = GetWindowName(reinterpret_cast<HWND>(wParam));
        g_seen.sender = sender ? sender : "";
        g_seen.senderHandle = reinterpret_cast<HWND>(wParam);
        g_seen.inSend = InSendMessage();
        ++g_seen.copies;
        return 1;
    }
    if (message == kMsgProbe) {
        g_seen.probes.push_back(InSendMessage());
        SendMessageA(FindWindowA(nullptr, "local"), kMsgProbe, 0, 0);
        g_seen.probes.push_back(InSendMessage());
        return 5;
    }
    return PeerProcedure(self, message, wParam, lParam);
}

class MessageLayer : public ::testing::Test
{
protected:
    void SetUp() override { g_seen = Seen(); }
    void TearDown() override
    {
        for (HWND window : m_windows)
            DestroyWindow(window);
        for (pid_t child : m_children)
            WaitChild(child, 0);
        ClearQuitRequest();
        SetSendTimeout(5000);
    }

    HWND Create(const char* name, WNDPROC procedure)
    {
        HWND window = CreateMessageWindow(name, procedure);
        if (window)
            m_windows.push_back(window);
        return window;
    }

    // Starts a child serving `name` and waits until the parent can find it.
    HWND StartPeer(const char* name, pid_t* pid = nullptr)
    {
        const std::string copy = name;
        const pid_t child = ForkChild([copy] { return ServeWindow(copy.c_str()); });
        m_children.push_back(child);
        if (pid)
            *pid = child;
        HWND found = nullptr;
        WaitUntil([&] { return (found = FindWindowA(nullptr, name)) != nullptr; });
        return found;
    }

    int EndChild(pid_t child, HWND window, int code)
    {
        SendMessageA(window, kMsgQuit, 0, code);
        const int status = WaitChild(child);
        m_children.erase(std::remove(m_children.begin(), m_children.end(), child),
                         m_children.end());
        return status;
    }

    RuntimeSandbox m_sandbox;
    std::vector<HWND> m_windows;
    std::vector<pid_t> m_children;
};

TEST_F(MessageLayer, SendsToAWindowOfAnotherProcessAndGetsItsResult)
{
    pid_t child = 0;
    HWND peer = StartPeer("peer", &child);
    ASSERT_NE(peer, nullptr);
    EXPECT_STREQ(GetWindowName(peer), "peer");
    EXPECT_TRUE(m_sandbox.HasEndpoint("peer"));

    EXPECT_EQ(SendMessageA(peer, kMsgAdd, 40, 2), 42);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
    EXPECT_EQ(SendMessageA(peer, kMsgAdd, 0, -50), -50);
    EXPECT_EQ(SendMessageA(peer, kMsgInSend, 0, 0), TRUE);
    EXPECT_EQ(DestroyWindow(peer), FALSE) << "another process's window";

    const int status = EndChild(child, peer, 7);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 7);
    EXPECT_FALSE(m_sandbox.HasEndpoint("peer"));
    EXPECT_EQ(FindWindowA(nullptr, "peer"), nullptr);
    EXPECT_EQ(SendMessageA(peer, kMsgAdd, 1, 1), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(MessageLayer, CopyDataCarriesTheBlockAndTheSenderAsAHandleToAnswer)
{
    HWND parent = Create("parent", ParentProcedure);
    ASSERT_NE(parent, nullptr);
    // The child is forked while the parent owns a window: it must not take
    // over the parent's endpoint.
    pid_t child = 0;
    HWND peer = StartPeer("peer", &child);
    ASSERT_NE(peer, nullptr);
    EXPECT_EQ(SendMessageA(peer, kMsgIsFound, reinterpret_cast<WPARAM>(parent), 0), 1);

    std::vector<uint8_t> octets(300);
    for (size_t i = 0; i < octets.size(); ++i)
        octets[i] = uint8_t(i * 7);
    COPYDATASTRUCT block = {0x0C680123, DWORD(octets.size()), octets.data()};
    EXPECT_EQ(SendMessageA(peer, WM_COPYDATA, reinterpret_cast<WPARAM>(parent),
                           reinterpret_cast<LPARAM>(&block)),
              300);
    ASSERT_EQ(g_seen.copies, 1);
    std::vector<uint8_t> reversed(octets.rbegin(), octets.rend());
    EXPECT_EQ(g_seen.octets, reversed);
    EXPECT_EQ(g_seen.dwData, 0x0C680123u);
    EXPECT_EQ(g_seen.sender, "peer");
    EXPECT_EQ(g_seen.inSend, TRUE);

    COPYDATASTRUCT empty = {0x0C670000, 0, nullptr};
    EXPECT_EQ(SendMessageA(peer, WM_COPYDATA, reinterpret_cast<WPARAM>(parent),
                           reinterpret_cast<LPARAM>(&empty)),
              1000);
    EXPECT_EQ(g_seen.copies, 2);

    std::vector<uint8_t> largest(kMaxCopyDataOctets, 0x5A);
    COPYDATASTRUCT big = {1, DWORD(largest.size()), largest.data()};
    EXPECT_EQ(SendMessageA(peer, WM_COPYDATA, reinterpret_cast<WPARAM>(parent),
                           reinterpret_cast<LPARAM>(&big)),
              LRESULT(kMaxCopyDataOctets));
    EXPECT_EQ(g_seen.octets.size(), size_t(kMaxCopyDataOctets));

    largest.push_back(0);
    COPYDATASTRUCT tooBig = {1, DWORD(largest.size()), largest.data()};
    EXPECT_EQ(SendMessageA(peer, WM_COPYDATA, reinterpret_cast<WPARAM>(parent),
                           reinterpret_cast<LPARAM>(&tooBig)),
              0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(g_seen.copies, 3);

    const int status = EndChild(child, peer, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(MessageLayer, NestedSendsRunBothWays)
{
    HWND parent = Create("parent", ParentProcedure);
    pid_t child = 0;
    HWND peer = StartPeer("peer", &child);
    ASSERT_NE(peer, nullptr);
    // Each side answers by sending to the other from inside its procedure.
    EXPECT_EQ(SendMessageA(peer, kMsgBounce, reinterpret_cast<WPARAM>(parent), 9), 9);
    EXPECT_EQ(SendMessageA(peer, kMsgAdd, 1, 2), 3);
    EndChild(child, peer, 0);
}

TEST_F(MessageLayer, InProcessSendsStayDirectCallsInsideARemoteDispatch)
{
    ASSERT_NE(Create("parent", ParentProcedure), nullptr);
    ASSERT_NE(Create("local", LocalProbeProcedure), nullptr);
    SendMessageA(FindWindowA(nullptr, "local"), kMsgProbe, 0, 0);
    ASSERT_EQ(g_seen.probes, std::vector<BOOL>({FALSE}));
    g_seen.probes.clear();

    const pid_t child = ForkChild([] {
        HWND parent = FindWindowA(nullptr, "parent");
        return parent ? int(SendMessageA(parent, kMsgProbe, 0, 0)) : 99;
    });
    m_children.push_back(child);
    ASSERT_TRUE(WaitUntil([] {
        RunMessageLoop(10);
        return g_seen.probes.size() == 3;
    }));
    // Outside, then the local send inside it, then outside again.
    EXPECT_EQ(g_seen.probes, std::vector<BOOL>({TRUE, FALSE, TRUE}));
    const int status = WaitChild(child);
    m_children.clear();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 5);
}

TEST_F(MessageLayer, StaleEndpointOfAKilledProcessIsRemoved)
{
    pid_t child = 0;
    ASSERT_NE(StartPeer("stale", &child), nullptr);
    kill(child, SIGKILL);
    WaitChild(child);
    m_children.clear();
    ASSERT_TRUE(m_sandbox.HasEndpoint("stale")) << "a killed process leaves its socket";

    EXPECT_EQ(FindWindowA(nullptr, "stale"), nullptr);
    EXPECT_FALSE(m_sandbox.HasEndpoint("stale"));
    EXPECT_NE(Create("stale", PeerProcedure), nullptr);
}

TEST_F(MessageLayer, NameOfALiveStaleOrForeignEndpoint)
{
    pid_t child = 0;
    HWND peer = StartPeer("taken", &child);
    ASSERT_NE(peer, nullptr);
    EXPECT_EQ(CreateMessageWindow("taken", PeerProcedure), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));

    // A killed process's socket is replaced.
    {
        RawSocket dead(m_sandbox.Endpoint("dead"));
        ASSERT_TRUE(dead.Bound());
    }
    ASSERT_TRUE(m_sandbox.HasEndpoint("dead"));
    EXPECT_NE(Create("dead", PeerProcedure), nullptr);

    // Something that is not an endpoint is left alone.
    FILE* file = std::fopen(m_sandbox.Endpoint("file").c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    EXPECT_EQ(CreateMessageWindow("file", PeerProcedure), nullptr);
    EXPECT_EQ(FindWindowA(nullptr, "file"), nullptr);
    EndChild(child, peer, 0);
}

TEST_F(MessageLayer, HandleOfAnotherProcessServesItsSuccessor)
{
    pid_t first = 0;
    HWND peer = StartPeer("peer", &first);
    ASSERT_NE(peer, nullptr);
    EXPECT_EQ(SendMessageA(peer, kMsgAdd, 1, 1), 2);
    EndChild(first, peer, 0);
    EXPECT_EQ(SendMessageA(peer, kMsgAdd, 1, 1), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));

    pid_t second = 0;
    EXPECT_EQ(StartPeer("peer", &second), peer) << "the same name gives the same handle";
    EXPECT_EQ(SendMessageA(peer, kMsgAdd, 20, 3), 23);
    EndChild(second, peer, 0);
}

TEST_F(MessageLayer, ReceiverThatDiesWhileHandlingFailsWithoutWaitingOut)
{
    // Found gone by the liveness check, long before this timeout.
    SetSendTimeout(kSafetyTimeoutMs);
    pid_t child = 0;
    HWND peer = StartPeer("peer", &child);
    ASSERT_NE(peer, nullptr);
    EXPECT_EQ(SendMessageA(peer, kMsgDie, 0, 0), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
    WaitChild(child);
    m_children.clear();
}

TEST_F(MessageLayer, ReceiverThatNeverAnswersFailsAfterTheTimeout)
{
    RawSocket mute(m_sandbox.Endpoint("mute"));
    ASSERT_TRUE(mute.Bound());
    HWND window = FindWindowA(nullptr, "mute");
    ASSERT_NE(window, nullptr);
    SetSendTimeout(300);
    EXPECT_EQ(SendMessageA(window, kMsgAdd, 7, 8), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_TIMEOUT));

    std::vector<uint8_t> datagram;
    ASSERT_TRUE(mute.Receive(datagram, 0));
    korvane_wire::Frame frame;
    ASSERT_TRUE(korvane_wire::DecodeFrame(datagram.data(), datagram.size(), frame));
    EXPECT_EQ(frame.message, kMsgAdd);
    EXPECT_EQ(frame.wParam, 7u);
    EXPECT_EQ(frame.lParam, 8);
}

TEST_F(MessageLayer, MalformedAndForeignDatagramsAreDropped)
{
    static std::vector<UINT> messages;
    messages.clear();
    HWND target = Create("target", [](HWND, UINT message, WPARAM, LPARAM lParam) -> LRESULT {
        messages.push_back(message);
        if (message == WM_COPYDATA) {
            // The octets of a block are followed by a NUL that is not theirs.
            const auto* block = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            return block && std::strlen(static_cast<const char*>(block->lpData)) == block->cbData;
        }
        return 77;
    });
    ASSERT_NE(target, nullptr);
    const std::string to = m_sandbox.Endpoint("target");
    const unsigned long before = GetRejectedMessageCount();

    RawSocket inside(m_sandbox.Endpoint("raw"));
    RuntimeSandbox elsewhere;
    setenv("KORVANE_RUNTIME_DIR", m_sandbox.Path().c_str(), 1);
    RawSocket outside(elsewhere.Endpoint("raw"));
    RawSocket unbound;
    ASSERT_TRUE(inside.Bound() && outside.Bound());

    const std::vector<uint8_t> valid = RequestFrame(1, WM_USER + 10, "");
    std::vector<uint8_t> truncated =
        RequestFrame(2, WM_COPYDATA, "raw", 0x0C680003, {1, 2, 3}, true);
    truncated.pop_back();
    std::vector<uint8_t> oversized(korvane_wire::kMaxFrameSize + 100, 0);
    std::copy(valid.begin(), valid.end(), oversized.begin());
    std::vector<uint8_t> reply = valid;
    reply[4] = korvane_wire::kReply;
    const std::vector<uint8_t> junk = {'h', 'e', 'l', 'l', 'o'};

    ASSERT_TRUE(outside.SendTo(to, valid));
    ASSERT_TRUE(unbound.SendTo(to, valid));
    ASSERT_TRUE(inside.SendTo(to, truncated));
    ASSERT_TRUE(inside.SendTo(to, oversized));
    ASSERT_TRUE(inside.SendTo(to, reply));
    ASSERT_TRUE(inside.SendTo(to, junk));
    ASSERT_TRUE(inside.SendTo(to, {}));
    // A sender named as the receiver itself, for whoever owns the name (a
    // keep-alive the receiver would echo to itself for ever), and a sender
    // named other than the address the request came from.
    ASSERT_TRUE(inside.SendTo(
        to, RequestFrame(5, WM_COPYDATA, "target", 0x0C68000D, std::vector<uint8_t>(13), true, 0)));
    ASSERT_TRUE(inside.SendTo(to, RequestFrame(6, WM_USER + 12, "somebody")));
    // The good ones, after all the bad.
    ASSERT_TRUE(
        inside.SendTo(to, RequestFrame(3, WM_COPYDATA, "raw", 0x0C670003, {'a', 'b', 'c'}, true)));
    ASSERT_TRUE(inside.SendTo(to, RequestFrame(4, WM_USER + 11, "")));

    ASSERT_TRUE(WaitUntil([&] {
        RunMessageLoop(10);
        return !messages.empty() && messages.back() == WM_USER + 11;
    }));
    EXPECT_EQ(messages, std::vector<UINT>({WM_COPYDATA, WM_USER + 11}));
    EXPECT_EQ(GetRejectedMessageCount() - before, 9u);

    // Only the good ones were answered, to their sender.
    for (uint64_t sequence : {3u, 4u}) {
        std::vector<uint8_t> answer;
        ASSERT_TRUE(inside.Receive(answer));
        korvane_wire::Frame frame;
        ASSERT_TRUE(korvane_wire::DecodeFrame(answer.data(), answer.size(), frame));
        EXPECT_EQ(frame.kind, korvane_wire::kReply);
        EXPECT_EQ(frame.sequence, sequence);
        EXPECT_EQ(frame.lParam, sequence == 3 ? 1 : 77);
    }
    EXPECT_FALSE(inside.HasDatagram());
    EXPECT_FALSE(outside.HasDatagram());
}

// A window procedure that throws for a message from another process, and
// one in this process, leaves InSendMessage telling the truth afterwards.
TEST_F(MessageLayer, AThrowingProcedureLeavesNoDispatchBehind)
{
    constexpr UINT kMsgThrow = WM_USER + 20;
    HWND window =
        Create("thrower", [](HWND self, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
            if (message == kMsgThrow)
                throw std::runtime_error("thrown by the procedure");
            return PeerProcedure(self, message, wParam, lParam);
        });
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(InSendMessage(), FALSE);

    RawSocket outside(m_sandbox.Endpoint("outside"));
    ASSERT_TRUE(outside.Bound());
    ASSERT_TRUE(outside.SendTo(m_sandbox.Endpoint("thrower"), RequestFrame(1, kMsgThrow, "")));
    EXPECT_THROW(RunMessageLoop(kSafetyTimeoutMs), std::runtime_error);
    EXPECT_EQ(InSendMessage(), FALSE) << "no message is being handled now";

    EXPECT_THROW(SendMessageA(window, kMsgThrow, 0, 0), std::runtime_error);
    // A message from outside still sees itself as one.
    ASSERT_TRUE(outside.SendTo(m_sandbox.Endpoint("thrower"), RequestFrame(2, kMsgInSend, "")));
    ASSERT_TRUE(WaitUntil([&] {
        RunMessageLoop(10);
        return outside.HasDatagram();
    }));
    std::vector<uint8_t> answer;
    ASSERT_TRUE(outside.Receive(answer));
    korvane_wire::Frame frame;
    ASSERT_TRUE(korvane_wire::DecodeFrame(answer.data(), answer.size(), frame));
    EXPECT_EQ(frame.lParam, TRUE);
    EXPECT_EQ(SendMessageA(window, kMsgInSend, 0, 0), FALSE);
}

TEST_F(MessageLayer, LoopReturnsOnWakeSignalTimeoutAndQuit)
{
    ASSERT_NE(Create("looper", PeerProcedure), nullptr);
    WakeMessageLoop();
    EXPECT_EQ(RunMessageLoop(kSafetyTimeoutMs), -1);

    struct sigaction action = {}, old = {};
    action.sa_handler = [](int) { WakeMessageLoop(); };
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR2, &action, &old), 0);
    raise(SIGUSR2);
    EXPECT_EQ(RunMessageLoop(kSafetyTimeoutMs), -1);
    sigaction(SIGUSR2, &old, nullptr);

    EXPECT_EQ(RunMessageLoop(0), -2);
    PostQuitMessage(3);
    EXPECT_EQ(RunMessageLoop(kSafetyTimeoutMs), 3);
}

TEST_F(MessageLayer, EnumeratesLiveWindowsByPrefix)
{
    ASSERT_NE(Create("Korvane_local", PeerProcedure), nullptr);
    pid_t child = 0;
    HWND peer = StartPeer("Korvane_child", &child);
    ASSERT_NE(peer, nullptr);
    ASSERT_NE(Create("Other", PeerProcedure), nullptr);
    {
        RawSocket dead(m_sandbox.Endpoint("Korvane_dead"));
    }

    std::vector<std::string> names;
    const int count = EnumWindowNames(
        "Korvane_",
        [](const char* name, void* context) -> BOOL {
            static_cast<std::vector<std::string>*>(context)->push_back(name);
            return TRUE;
        },
        &names);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(names, std::vector<std::string>({"Korvane_local", "Korvane_child"}));
    EXPECT_FALSE(m_sandbox.HasEndpoint("Korvane_dead"));
    EndChild(child, peer, 0);
}

// Any process of the user can bind a name by a relative path from inside the
// folder, longer than a full path there can be. Such a socket is nobody's
// endpoint: the sweep and the enumeration skip it without probing it.
TEST_F(MessageLayer, SocketsWithNamesTooLongForAnAddressAreSkipped)
{
    const std::string live = "Korvane_" + std::string(91, 'L');
    const std::string stale = "Korvane_" + std::string(91, 'S');
    ASSERT_GT(m_sandbox.Endpoint(live).size(), sizeof(sockaddr_un::sun_path));
    const int here = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(here, 0);
    ASSERT_EQ(chdir(m_sandbox.Path().c_str()), 0);
    RawSocket liveSocket(live);
    {
        RawSocket staleSocket(stale);
        EXPECT_TRUE(staleSocket.Bound());
    }
    ASSERT_EQ(fchdir(here), 0);
    close(here);
    ASSERT_TRUE(liveSocket.Bound());

    // The first window in the folder sweeps it.
    ASSERT_NE(Create("Korvane_short", PeerProcedure), nullptr);
    std::vector<std::string> names;
    EnumWindowNames(
        "Korvane_",
        [](const char* name, void* context) -> BOOL {
            static_cast<std::vector<std::string>*>(context)->push_back(name);
            return TRUE;
        },
        &names);
    EXPECT_EQ(names, std::vector<std::string>({"Korvane_short"}));
    EXPECT_TRUE(m_sandbox.HasEndpoint(live));
    EXPECT_TRUE(m_sandbox.HasEndpoint(stale)) << "never probed, so never taken for stale";
    EXPECT_EQ(FindWindowA(nullptr, live.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST_F(MessageLayer, NamesMustFitTheFolder)
{
    EXPECT_EQ(CreateMessageWindow("", PeerProcedure), nullptr);
    EXPECT_EQ(CreateMessageWindow("a/b", PeerProcedure), nullptr);
    EXPECT_EQ(CreateMessageWindow(".p1-1", PeerProcedure), nullptr);
    const size_t room = MaxWindowNameLength();
    EXPECT_EQ(room, std::min<size_t>(99, 107 - m_sandbox.Path().size() - 1));
    EXPECT_EQ(CreateMessageWindow(std::string(room + 1, 'n').c_str(), PeerProcedure), nullptr);
    EXPECT_NE(Create(std::string(room, 'n').c_str(), PeerProcedure), nullptr);
}

TEST_F(MessageLayer, UnsafeFolderIsRefused)
{
    ASSERT_EQ(chmod(m_sandbox.Path().c_str(), 0777), 0);
    EXPECT_EQ(CreateMessageWindow("any", PeerProcedure), nullptr);
    EXPECT_NE(std::string(GetMessageLayerError()).find("writable"), std::string::npos);
    EXPECT_EQ(GetRuntimeFolder(), nullptr);
    EXPECT_EQ(MaxWindowNameLength(), 0u);
    ASSERT_EQ(chmod(m_sandbox.Path().c_str(), 0700), 0);
    EXPECT_STREQ(GetRuntimeFolder(), m_sandbox.Path().c_str());
}

// Windows only this process reaches: no endpoint, so a refused folder does
// not matter and nothing appears in it.
TEST_F(MessageLayer, LocalWindowsNeedNoRuntimeFolder)
{
    ASSERT_EQ(chmod(m_sandbox.Path().c_str(), 0777), 0);
    HWND local = CreateLocalWindow("local-only", PeerProcedure);
    ASSERT_NE(local, nullptr) << GetMessageLayerError();
    EXPECT_EQ(CreateLocalWindow("local-only", PeerProcedure), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(CreateLocalWindow("a/b", PeerProcedure), nullptr);
    EXPECT_EQ(FindWindowA(nullptr, "local-only"), local);
    EXPECT_EQ(SendMessageA(local, kMsgAdd, 2, 3), 5);
    EXPECT_EQ(SendMessageA(local, kMsgInSend, 0, 0), FALSE);
    EXPECT_FALSE(m_sandbox.HasEndpoint("local-only"));
    EXPECT_EQ(DestroyWindow(local), TRUE);
    EXPECT_EQ(SendMessageA(local, kMsgAdd, 2, 3), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_TRUE(std::filesystem::is_empty(m_sandbox.Path()));

    // A local window does not stand for an open endpoint: once the folder
    // is safe again, a real window is created there.
    HWND other = CreateLocalWindow("other-local", PeerProcedure);
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(chmod(m_sandbox.Path().c_str(), 0700), 0);
    ASSERT_NE(Create("real", PeerProcedure), nullptr);
    EXPECT_TRUE(m_sandbox.HasEndpoint("real"));
    DestroyWindow(other);
}

} // namespace

namespace {

// Dispatches the parent's messages until the child ends; its wait status, or
// -1 when it is still running after the safety timeout.
int PumpUntilChildEnds(pid_t child)
{
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kSafetyTimeoutMs * 4);
    int status = 0;
    while (waitpid(child, &status, WNOHANG) != child) {
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return -1;
        }
        RunMessageLoop(20);
    }
    return status;
}

int SendOneOctet(HWND to, HWND from)
{
    uint8_t octet = 1;
    COPYDATASTRUCT block = {0x0C680001, 1, &octet};
    return int(SendMessageA(to, WM_COPYDATA, reinterpret_cast<WPARAM>(from),
                            reinterpret_cast<LPARAM>(&block)));
}

// Partners come and go, each under a name of its own (raw sockets that
// send as the layer does, one incarnation each): every one is answered,
// TEST_RX after all of them too, and the records of the gone are reclaimed.
TEST_F(MessageLayer, NoNumberOfPastPartnersLocksOutANewOne)
{
    HWND service = Create("service", ParentProcedure);
    ASSERT_NE(service, nullptr);
    const std::string to = m_sandbox.Endpoint("service");
    constexpr int kPartners = 4200; // more than the 4,096 names that once filled the registry
    const std::vector<uint8_t> octet = {1};
    for (int i = 0; i <= kPartners; ++i) {
        const std::string name = i < kPartners ? "partner-" + std::to_string(i) : "TEST_RX";
        RawSocket partner(m_sandbox.Endpoint(name));
        ASSERT_TRUE(partner.Bound());
        korvane_wire::Frame frame;
        frame.kind = korvane_wire::kRequest;
        frame.flags = korvane_wire::kFlagWindow | korvane_wire::kFlagBlock;
        frame.sequence = uint64_t(i) + 1;
        frame.message = WM_COPYDATA;
        frame.windowName = name;
        frame.windowIncarnation = uint64_t(i) + 1;
        frame.dwData = 0x0C680001;
        frame.cbData = 1;
        frame.block = octet.data();
        ASSERT_TRUE(partner.SendTo(to, korvane_wire::EncodeFrame(frame)));
        // The datagram is there already: one turn of the loop handles it.
        RunMessageLoop(0);
        ASSERT_EQ(g_seen.copies, i + 1) << name;
        std::vector<uint8_t> reply;
        ASSERT_TRUE(partner.Receive(reply));
        partner.Close();
    }
    EXPECT_EQ(g_seen.sender, "TEST_RX");
    EXPECT_LE(korvane_layer::TheRegistry().remoteWindows, korvane_layer::kRemoteSweepFloor + 1);
}

TEST_F(MessageLayer, ABlockForAGoneWindowNeverReachesTheNextOwnerOfItsName)
{
    HWND service = Create("service", ParentProcedure);
    ASSERT_NE(service, nullptr);
    // The first owner of "partner" sends once and ends without a word.
    const pid_t first = ForkChild([] {
        HWND self = CreateMessageWindow("partner", PeerProcedure);
        return self && SendOneOctet(FindWindowA(nullptr, "service"), self) == 1 ? 0 : 1;
    });
    const int status = PumpUntilChildEnds(first);
    ASSERT_TRUE(status >= 0 && WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    HWND gone = g_seen.senderHandle;
    ASSERT_NE(gone, nullptr);
    ASSERT_EQ(g_seen.copies, 1);

    // A second process takes the name; it answers every block by sending
    // the octets back.
    pid_t second = 0;
    HWND byName = StartPeer("partner", &second);
    ASSERT_NE(byName, nullptr);
    EXPECT_NE(byName, gone);

    EXPECT_EQ(SendOneOctet(gone, service), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(g_seen.copies, 1) << "the new owner got the block meant for the old one";
    // Once found gone, the handle stays unknown.
    EXPECT_EQ(SendOneOctet(gone, service), 0);
    EXPECT_EQ(GetWindowName(gone), nullptr);

    // The name itself reaches the new owner.
    EXPECT_EQ(SendOneOctet(byName, service), 1);
    EXPECT_EQ(g_seen.copies, 2);
    EndChild(second, byName, 0);
}

} // namespace
