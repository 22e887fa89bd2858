// `korvane serve` and `korvane partner` end to end: the service runs as its
// own process (the real binary); the partner is this test process on the
// message layer, raw sockets standing in for broken peers, or the real
// `korvane partner`.
#include "host/command_parser.h"
#include "host/command_tree.h"
#include "protocol/protocol.h"
#include "tests/support/ember_messages.h"
#include "tests/support/hex.h"
#include "tests/support/posix_endpoints.h"
#include "tests/support/transport_cases.h"
#include "winapi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#ifdef KORVANE_CLI_PATH

namespace {

using namespace testing_support;

// ---------------------------------------------------------------------------
// A child process running the korvane binary, its output collected.
// ---------------------------------------------------------------------------
class Process
{
public:
    explicit Process(const std::vector<std::string>& args, const std::string& input = "")
    {
        int outPipe[2], errPipe[2], inPipe[2];
        if (pipe2(outPipe, O_CLOEXEC) || pipe2(errPipe, O_CLOEXEC) || pipe2(inPipe, O_CLOEXEC))
            return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(inPipe[0], 0);
            dup2(outPipe[1], 1);
            dup2(errPipe[1], 2);
            std::vector<char*> argv;
            std::string path = KORVANE_CLI_PATH;
            argv.push_back(path.data());
            std::vector<std::string> copies = args;
            for (std::string& arg : copies)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            execv(path.c_str(), argv.data());
            _exit(127);
        }
        close(outPipe[1]);
        close(errPipe[1]);
        close(inPipe[0]);
        if (!input.empty() && write(inPipe[1], input.data(), input.size()) != ssize_t(input.size()))
            ADD_FAILURE() << "standard input not written";
        close(inPipe[1]);
        m_out = outPipe[0];
        m_err = errPipe[0];
        fcntl(m_out, F_SETFL, O_NONBLOCK);
        fcntl(m_err, F_SETFL, O_NONBLOCK);
    }
    ~Process()
    {
        if (m_pid > 0 && !m_ended) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0)
            close(m_out);
        if (m_err >= 0)
            close(m_err);
    }

    // Reads what the process has written so far.
    void Collect()
    {
        char chunk[4096];
        ssize_t got;
        while (m_out >= 0 && (got = read(m_out, chunk, sizeof chunk)) > 0)
            out.append(chunk, size_t(got));
        while (m_err >= 0 && (got = read(m_err, chunk, sizeof chunk)) > 0)
            err.append(chunk, size_t(got));
    }

    // Waits until standard error holds text after offset `from`.
    bool WaitForError(const std::string& text, size_t from = 0)
    {
        return WaitUntil([&] {
            Collect();
            return err.find(text, from) != std::string::npos;
        });
    }

    void Signal(int signal) { kill(m_pid, signal); }

    // Waits for the end (collecting output); the wait status, -1 if killed.
    int Wait()
    {
        int status = 0;
        const bool ended = WaitUntil([&] {
            Collect();
            return waitpid(m_pid, &status, WNOHANG) == m_pid;
        });
        m_ended = true;
        if (!ended) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            return -1;
        }
        Collect();
        return status;
    }

    // The exit code, or -1 when it did not exit normally.
    int ExitCode()
    {
        const int status = Wait();
        return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string out;
    std::string err;

private:
    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    bool m_ended = false;
};

// ---------------------------------------------------------------------------
// Console messages as the console sends them.
// ---------------------------------------------------------------------------
using Octets = std::vector<uint8_t>;

// Root > C-7 > C-p1..C-p4 > P-p5 > Integer value at A-3.
Octets IntegerMessage(const int (&path)[5], int32_t value)
{
    return SplicedMessage(
        {Ctx(7, {Ctx(uint32_t(path[0]),
                     {Ctx(uint32_t(path[1]),
                          {Ctx(uint32_t(path[2]),
                               {Ctx(uint32_t(path[3]),
                                    {Prv(uint32_t(path[4]), {IntValue(value)})})})})})})});
}

// ---------------------------------------------------------------------------
// The partner in this process.
// ---------------------------------------------------------------------------
struct Block
{
    uintptr_t dwData = 0;
    Octets octets;
    std::string sender;
};

std::vector<Block> g_blocks;
std::function<void(HWND sender, const Block&)> g_onBlock;

LRESULT CALLBACK PartnerProcedure(HWND, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_COPYDATA)
        return 0;
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    Block block;
    block.dwData = data->dwData;
    const auto* octets = static_cast<const uint8_t*>(data->lpData);
    block.octets.assign(octets, octets + data->cbData);
    const char* sender = GetWindowName(reinterpret_cast<HWND>(wParam));
    block.sender = sender ? sender : "";
    g_blocks.push_back(block);
    if (g_onBlock)
        g_onBlock(reinterpret_cast<HWND>(wParam), block);
    return 1;
}

std::vector<std::string> Reports()
{
    std::vector<std::string> reports;
    for (const Block& block : g_blocks)
        if (BlockKind(block.dwData) == BLOCK_REPORT)
            reports.emplace_back(reinterpret_cast<const char*>(block.octets.data()));
    return reports;
}

class Serve : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_blocks.clear();
        g_onBlock = nullptr;
    }
    void TearDown() override
    {
        g_onBlock = nullptr;
        if (m_partner)
            DestroyWindow(m_partner);
        m_service.reset();
        ClearQuitRequest();
        SetSendTimeout(5000);
    }

    // Starts `korvane serve ARGS` and waits for its ready line.
    bool Start(std::vector<std::string> args = {"t"})
    {
        args.insert(args.begin(), "serve");
        m_service = std::make_unique<Process>(args);
        return m_service->WaitForError("korvane serve: ready");
    }

    bool OpenPartner()
    {
        m_partner = CreateMessageWindow(kPartnerWindowName, PartnerProcedure);
        m_host = FindWindowA(nullptr, "Korvane_t");
        return m_partner && m_host;
    }

    LRESULT Send(uint32_t kind, const Octets& octets)
    {
        COPYDATASTRUCT block = {MakeDwData(kind, uint32_t(octets.size())), DWORD(octets.size()),
                                const_cast<uint8_t*>(octets.data())};
        return SendMessageA(m_host, WM_COPYDATA, reinterpret_cast<WPARAM>(m_partner),
                            reinterpret_cast<LPARAM>(&block));
    }

    LRESULT Command(const std::string& line)
    {
        Octets text(line.begin(), line.end());
        text.push_back(0);
        return Send(BLOCK_COMMAND, text);
    }

    RuntimeSandbox m_sandbox;
    std::unique_ptr<Process> m_service;
    HWND m_partner = nullptr;
    HWND m_host = nullptr;
};

TEST_F(Serve, HelpSaysWhatEachCommandDoesWithExamples)
{
    Process main({"--help"});
    EXPECT_EQ(main.ExitCode(), 0);
    EXPECT_NE(main.out.find("korvane serve demo"), std::string::npos) << main.out;
    EXPECT_NE(main.out.find("korvane partner 1,2,3,4,5,100"), std::string::npos) << main.out;
    Process serve({"serve", "--help"});
    EXPECT_EQ(serve.ExitCode(), 0);
    EXPECT_NE(serve.out.find("SIGUSR1"), std::string::npos);
    EXPECT_NE(serve.out.find("example:\n  korvane serve demo"), std::string::npos) << serve.out;
    Process partner({"partner", "--help"});
    EXPECT_EQ(partner.ExitCode(), 0);
    EXPECT_NE(partner.out.find("examples:\n  korvane partner"), std::string::npos) << partner.out;
    Process wrong({"serve", "--bogus"});
    EXPECT_EQ(wrong.ExitCode(), 2);
    EXPECT_NE(serve.out.find("exit status:\n  0  "), std::string::npos) << serve.out;
}

TEST_F(Serve, ASecondServiceOfTheSameNameSaysTheEndpointIsInUse)
{
    ASSERT_TRUE(Start());
    Process second({"serve", "t"});
    EXPECT_EQ(second.ExitCode(), 1);
    EXPECT_EQ(second.err, "korvane serve: the endpoint Korvane_t is in use by another process\n");
}

TEST_F(Serve, VerboseGivesALinePerBlockAndTracesATimeStamp)
{
    ASSERT_TRUE(Start({"--verbose", "--debug", "t"}));
    ASSERT_TRUE(OpenPartner());
    EXPECT_EQ(Command("1,2,3,4,5,100"), 1);
    ASSERT_TRUE(m_service->WaitForError("sent encoded 51 to TEST_RX\n"));
    EXPECT_NE(m_service->err.find("korvane serve: received command 14 from TEST_RX\n"),
              std::string::npos)
        << m_service->err;
    // hh:mm:ss.mmm, then the trace exactly as it is written.
    const size_t trace = m_service->err.find("sscanf iError=6  \n");
    ASSERT_NE(trace, std::string::npos) << m_service->err;
    ASSERT_GE(trace, 13u);
    const std::string stamp = m_service->err.substr(trace - 13, 13);
    for (size_t i : {2u, 5u})
        EXPECT_EQ(stamp[i], ':') << stamp;
    EXPECT_EQ(stamp[8], '.') << stamp;
    EXPECT_EQ(stamp[12], ' ') << stamp;
}

TEST_F(Serve, StopsCleanlyOnSigtermAndSigint)
{
    for (int signal : {SIGTERM, SIGINT}) {
        ASSERT_TRUE(Start());
        EXPECT_TRUE(m_sandbox.HasEndpoint("Korvane_t"));
        EXPECT_NE(m_service->err.find("endpoint Korvane_t in " + m_sandbox.Path()),
                  std::string::npos);
        m_service->Signal(signal);
        const int status = m_service->Wait();
        ASSERT_TRUE(status >= 0 && WIFEXITED(status)) << m_service->err;
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_FALSE(m_sandbox.HasEndpoint("Korvane_t"));
        EXPECT_NE(
            m_service->err.find(signal == SIGTERM ? "stopping (SIGTERM)" : "stopping (SIGINT)"),
            std::string::npos);
    }
}

TEST_F(Serve, EndpointNameIsCutToFit)
{
    ASSERT_TRUE(Start({std::string(200, 'x')}));
    const std::string name =
        (kHostWindowPrefix + std::string(200, 'x')).substr(0, MaxWindowNameLength());
    EXPECT_TRUE(m_sandbox.HasEndpoint(name)) << m_service->err;
    m_service->Signal(SIGTERM);
    EXPECT_EQ(m_service->ExitCode(), 0);

    ASSERT_TRUE(Start({}));
    EXPECT_TRUE(m_sandbox.HasEndpoint("Korvane_"));
}

// The transport table (tests/support/transport_cases.h) between two
// processes, over the POSIX message layer.
TEST_F(Serve, CarriesEveryTransportCase)
{
    ASSERT_TRUE(Start());
    ASSERT_TRUE(OpenPartner());
    RunTransportCases(
        [&](const TransportBlock& block) {
        COPYDATASTRUCT data = {block.dwData, DWORD(block.octets.size()),
                               const_cast<uint8_t*>(block.octets.data())};
        return intptr_t(SendMessageA(m_host, WM_COPYDATA, reinterpret_cast<WPARAM>(m_partner),
                                     reinterpret_cast<LPARAM>(&data)));
        },
        [&] {
        std::vector<TransportBlock> taken;
        for (const Block& block : std::exchange(g_blocks, {})) {
            EXPECT_EQ(block.sender, "Korvane_t");
            taken.push_back({block.dwData, block.octets});
        }
        return taken;
    });
}

TEST_F(Serve, PartnerMaySendFromInsideItsReportHandler)
{
    ASSERT_TRUE(Start());
    ASSERT_TRUE(OpenPartner());
    // One message with two parameters (P-5 and P-6 in C-4); on the first
    // report the partner sends the next console block from inside its handler.
    const Octets two = SplicedMessage({Ctx(
        7,
        {Ctx(1, {Ctx(2, {Ctx(3, {Ctx(4, {Prv(5, {IntValue(1)}), Prv(6, {IntValue(2)})})})})})})});

    LRESULT nested = -1;
    BOOL inSend = FALSE;
    g_onBlock = [&](HWND sender, const Block& block) {
        if (nested != -1 || BlockKind(block.dwData) != BLOCK_REPORT)
            return;
        inSend = InSendMessage();
        const Octets next = IntegerMessage({1, 9, 3, 4, 5}, 33);
        COPYDATASTRUCT data = {MakeDwData(BLOCK_CONSOLE_DATA, uint32_t(next.size())),
                               DWORD(next.size()), const_cast<uint8_t*>(next.data())};
        nested = SendMessageA(sender, WM_COPYDATA, reinterpret_cast<WPARAM>(m_partner),
                              reinterpret_cast<LPARAM>(&data));
    };
    EXPECT_EQ(Send(BLOCK_CONSOLE_DATA, two), 1);
    EXPECT_EQ(nested, 1);
    EXPECT_EQ(inSend, TRUE);
    // The nested block waits until the reader is done with the first.
    EXPECT_EQ(Reports(), std::vector<std::string>({"1,2,3,4,5,1", "1,2,3,4,6,2", "1,9,3,4,5,33"}));
}

TEST_F(Serve, DebugSignalTurnsTracesOnAndOff)
{
    ASSERT_TRUE(Start());
    ASSERT_TRUE(OpenPartner());
    ASSERT_EQ(Command("1,2,3,4,5,1"), 1);
    m_service->Collect();
    EXPECT_EQ(m_service->err.find("sscanf iError"), std::string::npos);

    m_service->Signal(SIGUSR1);
    ASSERT_TRUE(m_service->WaitForError("korvane serve: debug on"));
    ASSERT_EQ(Command("1,2,3,4,0,-1"), 1);
    m_service->Collect();
    EXPECT_NE(m_service->err.find("sscanf iError=6"), std::string::npos) << m_service->err;
    EXPECT_NE(m_service->err.find("NOT Full House create PART-4 container To POLL"),
              std::string::npos);

    m_service->Signal(SIGUSR1);
    ASSERT_TRUE(m_service->WaitForError("korvane serve: debug off"));
    const size_t mark = m_service->err.size();
    ASSERT_EQ(Command("1,2,3,4,0,-1"), 1);
    ASSERT_EQ(Send(BLOCK_CONSOLE_DATA, IntegerMessage({1, 2, 3, 4, 5}, 3)), 1);
    m_service->Collect();
    EXPECT_EQ(m_service->err.size(), mark) << m_service->err.substr(mark);
    m_service->Signal(SIGTERM);
    EXPECT_EQ(m_service->ExitCode(), 0);

    // --debug starts with the switch on.
    ASSERT_TRUE(Start({"--debug", "t"}));
    EXPECT_NE(m_service->err.find("debug on"), std::string::npos);
    ASSERT_EQ(Send(BLOCK_CONSOLE_DATA, IntegerMessage({1, 2, 3, 4, 5}, 4)), 1);
    m_service->Collect();
    EXPECT_NE(m_service->err.find("LIB:~~~~Data to be DE_Coded lenght="), std::string::npos);
    EXPECT_NE(m_service->err.find("##VALUE #### = 4"), std::string::npos) << m_service->err;
}

TEST_F(Serve, PartnerThatDiesMidConversationAndComesBack)
{
    ASSERT_TRUE(Start({"--timeout", "3000", "t"}));
    // A partner that sends a console block and dies while the service sends
    // it the report.
    auto dying = std::make_unique<RawSocket>(m_sandbox.Endpoint(kPartnerWindowName));
    ASSERT_TRUE(dying->Bound());
    const Octets message = IntegerMessage({1, 2, 3, 4, 5}, 50);
    ASSERT_TRUE(dying->SendTo(m_sandbox.Endpoint("Korvane_t"),
                              RequestFrame(1, WM_COPYDATA, kPartnerWindowName,
                                           MakeDwData(BLOCK_CONSOLE_DATA, uint32_t(message.size())),
                                           message, true)));
    Octets datagram;
    ASSERT_TRUE(dying->Receive(datagram));
    korvane_wire::Frame frame;
    ASSERT_TRUE(korvane_wire::DecodeFrame(datagram.data(), datagram.size(), frame));
    EXPECT_EQ(BlockKind(frame.dwData), BLOCK_REPORT);
    dying.reset(); // gone without an answer; its socket file stays

    // The partner comes back under the same name and carries on.
    ASSERT_TRUE(OpenPartner());
    ASSERT_EQ(Command("1,2,3,4,5,100"), 1);
    ASSERT_EQ(g_blocks.size(), 1u);
    EXPECT_EQ(BlockKind(g_blocks[0].dwData), BLOCK_ENCODED);
    ASSERT_EQ(Send(BLOCK_CONSOLE_DATA, IntegerMessage({1, 2, 3, 4, 5}, 51)), 1);
    ASSERT_TRUE(WaitUntil([] {
        RunMessageLoop(10);
        return !Reports().empty();
    }));
    EXPECT_EQ(Reports(), std::vector<std::string>({"1,2,3,4,5,51"}));
}

// Each partner's console octets are read on their own: half a message left
// by one partner process is not finished by another's octets.
TEST_F(Serve, HalfAMessageOfOnePartnerProcessIsNotFinishedByAnother)
{
    ASSERT_TRUE(Start());
    const Octets message = IntegerMessage({1, 2, 3, 4, 5}, 77);
    const size_t half = message.size() / 2;
    Process first({"partner", "--wait", "0", "--console", "-"},
                  std::string(message.begin(), message.begin() + std::ptrdiff_t(half)));
    ASSERT_EQ(first.ExitCode(), 0) << first.err;

    ASSERT_TRUE(OpenPartner());
    ASSERT_EQ(
        Send(BLOCK_CONSOLE_DATA, Octets(message.begin() + std::ptrdiff_t(half), message.end())), 1);
    EXPECT_TRUE(Reports().empty());
    ASSERT_EQ(Send(BLOCK_CONSOLE_DATA, message), 1);
    EXPECT_EQ(Reports(), std::vector<std::string>({"1,2,3,4,5,77"}));
}

TEST_F(Serve, ServiceRestartedWhileThePartnerLives)
{
    ASSERT_TRUE(Start());
    ASSERT_TRUE(OpenPartner());
    ASSERT_EQ(Command("1,2,3,4,5,1"), 1);
    m_service->Signal(SIGKILL);
    m_service->Wait();
    ASSERT_TRUE(m_sandbox.HasEndpoint("Korvane_t"));
    EXPECT_EQ(Command("1,2,3,4,5,2"), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));

    ASSERT_TRUE(Start());
    EXPECT_NE(m_service->err.find("partner TEST_RX found"), std::string::npos);
    g_blocks.clear();
    EXPECT_EQ(Command("1,2,3,4,5,3"), 1) << "the old handle reaches the new service";
    ASSERT_EQ(g_blocks.size(), 1u);
    EXPECT_EQ(g_blocks[0].octets.back(), 0x00);
    EXPECT_EQ(g_blocks[0].octets[g_blocks[0].octets.size() - 5], 0x03);
}

TEST_F(Serve, GarbageAndStrangersDoNotDisturbTheService)
{
    ASSERT_TRUE(Start());
    ASSERT_TRUE(OpenPartner());
    const std::string service = m_sandbox.Endpoint("Korvane_t");
    RuntimeSandbox elsewhere;
    setenv("KORVANE_RUNTIME_DIR", m_sandbox.Path().c_str(), 1);
    RawSocket stranger(elsewhere.Endpoint(kPartnerWindowName));
    RawSocket inside(m_sandbox.Endpoint("raw"));
    ASSERT_TRUE(stranger.Bound() && inside.Bound());

    const Octets line = {'1', ',', '2', ',', '3', ',', '4', ',', '5', ',', '6', 0};
    const Octets command =
        RequestFrame(1, WM_COPYDATA, kPartnerWindowName, MakeDwData(BLOCK_COMMAND, 0), line, true);
    ASSERT_TRUE(stranger.SendTo(service, command));
    Octets truncated = command;
    truncated.resize(truncated.size() - 3);
    ASSERT_TRUE(inside.SendTo(service, truncated));
    Octets oversized(korvane_wire::kMaxFrameSize + 1, 0xEE);
    ASSERT_TRUE(inside.SendTo(service, oversized));
    ASSERT_TRUE(inside.SendTo(service, Octets(200, 0x7F)));

    g_blocks.clear();
    ASSERT_EQ(Command("1,2,3,4,5,7"), 1);
    ASSERT_EQ(g_blocks.size(), 1u) << "only the partner's own command was answered";
    EXPECT_EQ(g_blocks[0].octets[g_blocks[0].octets.size() - 5], 0x07);
    EXPECT_FALSE(stranger.HasDatagram());
    EXPECT_FALSE(inside.HasDatagram());
    m_service->Signal(SIGTERM);
    EXPECT_EQ(m_service->ExitCode(), 0);
}

TEST_F(Serve, UnsafeRuntimeFolderIsRefused)
{
    ASSERT_EQ(chmod(m_sandbox.Path().c_str(), 0777), 0);
    Process open({"serve", "t"});
    EXPECT_EQ(open.ExitCode(), 2);
    EXPECT_NE(open.err.find("writable by group or others"), std::string::npos) << open.err;
    EXPECT_FALSE(m_sandbox.HasEndpoint("Korvane_t"));

    if (geteuid() == 0) {
        ASSERT_EQ(chmod(m_sandbox.Path().c_str(), 0700), 0);
        ASSERT_EQ(chown(m_sandbox.Path().c_str(), 65534, 65534), 0);
        Process theirs({"serve", "t"});
        EXPECT_EQ(theirs.ExitCode(), 2);
        EXPECT_NE(theirs.err.find("belongs to user 65534"), std::string::npos) << theirs.err;
        ASSERT_EQ(chown(m_sandbox.Path().c_str(), 0, 0), 0);
    }
}

} // namespace

#endif // KORVANE_CLI_PATH
