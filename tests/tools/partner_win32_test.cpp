// korvane-cli.exe partner driving the real Korvane.exe over real WM_COPYDATA:
// a console block that arrives while Korvane.exe is still sending the
// reports of another, no service, a service that does not answer, and the
// choice among several services. Every wait is bounded. (What the blocks
// carry is the transport table's, run on Korvane.exe in winapp_tests.)
#include "ember/ber/output_buffer.h"
#include "host/command_parser.h"
#include "host/command_tree.h"
#include "tests/support/hex.h"
#include "tests/support/korvane_exe_win32.h"
#include "tests/support/run_program.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#if defined(KORVANE_CLI_PATH) && defined(KORVANE_EXE_PATH)

namespace {

using namespace testing_support;
using namespace testing_support::korvane_exe;

constexpr int kPartnerTimeoutMs = 30000;

// The line the partner prints for the block a command gives.
std::string EncodedLine(const std::string& line)
{
    CCommandRecord record;
    if (ParseCommand(line.c_str(), line.size(), record, nullptr) != ParseResult::Value)
        return "";
    CEmber_OutputBuffer octets;
    if (!EncodeCommand(record, octets))
        return "";
    return "encoded " + std::to_string(octets.Used()) + ": " + ToHex(octets.Data(), octets.Used()) +
           "\n";
}

class PartnerTool : public ::testing::Test
{
protected:
    // Starts Korvane.exe ARG and waits for its window Korvane_ARG.
    HWND StartService(KorvaneProcess& service, const char* argument)
    {
        if (!service.Start(NativePath(KORVANE_EXE_PATH), argument))
            return nullptr;
        return service.WaitForWindow(std::string(kHostWindowPrefix) + argument, "Korvane");
    }

    ProgramResult Partner(std::vector<std::string> args, const std::string& input = "")
    {
        args.insert(args.begin(), "partner");
        return RunProgram(KorvaneCliPath(), args, input, kPartnerTimeoutMs);
    }

    KorvaneProcess korvane;
};

TEST_F(PartnerTool, AnotherPartnersBlockWhileKorvaneSendsReportsIsDecodedInItsOwnSend)
{
    ASSERT_NE(StartService(korvane, "P"), nullptr);
    HWND service = FindWindowA("Korvane", "Korvane_P");
    ASSERT_NE(service, nullptr);
    PartnerWindow outer("OUTER_RX");
    ASSERT_NE(outer.Handle(), nullptr);

    // One message with two parameters. On the first report (Korvane.exe is
    // inside its SendMessageA to us) the partner tool sends the next console
    // block and a keep-alive: the keep-alive's echo shows that the block has
    // been taken while Korvane.exe was still in the middle of the first.
    const Octets two = Message(Ctx(
        7,
        Ctx(1, Ctx(2, Ctx(3, Ctx(4, Cat({Prv(5, IntegerValue(1)), Prv(6, IntegerValue(2))})))))));
    const Octets next = ParameterMessage(1, 9, 3, 4, 5, IntegerValue(33));
    std::unique_ptr<RunningProgram> inner;
    bool echoedInside = false;
    outer.onBlock = [&](const Block&) {
        if (inner)
            return;
        inner = std::make_unique<RunningProgram>(
            KorvaneCliPath(),
            std::vector<std::string>{"partner", "--name", "INNER_RX", "--service", "P", "--wait",
                                     "3000", "--console", "-", "--keep-alive"},
            std::string(next.begin(), next.end()));
        echoedInside = WaitUntil(
            [&] { return inner->OutputSoFar().find("keep-alive echoed\n") != std::string::npos; },
            kExeTimeoutMs);
    };
    COPYDATASTRUCT block = {(kBlockConsoleData << 16) | two.size(), DWORD(two.size()),
                            const_cast<uint8_t*>(two.data())};
    DWORD_PTR result = 0;
    ASSERT_NE(SendMessageTimeoutA(service, WM_COPYDATA, reinterpret_cast<WPARAM>(outer.Handle()),
                                  reinterpret_cast<LPARAM>(&block), SMTO_NORMAL, kExeTimeoutMs,
                                  &result),
              0);
    EXPECT_EQ(result, 1u);
    ASSERT_TRUE(inner);
    EXPECT_TRUE(echoedInside);
    const ProgramResult innerResult = inner->Wait(kPartnerTimeoutMs);
    EXPECT_EQ(innerResult.status, 0) << innerResult.err;

    // Both reports of our message went to us, its sender, although the
    // tool's block arrived in between; the tool's block, read with its own
    // reader state, was decoded at once: its report came during its own send,
    // before its keep-alive.
    std::vector<std::string> outerReports;
    for (const Block& received : outer.blocks)
        outerReports.push_back(received.Text());
    EXPECT_EQ(outerReports, (std::vector<std::string>{"1,2,3,4,5,1", "1,2,3,4,6,2"}));
    EXPECT_EQ(innerResult.out,
              "> console " + std::to_string(next.size()) +
                  " octets (standard input at 0)\nreport: 1,9,3,4,5,33\n> keep-alive\n"
                  "keep-alive echoed\n");
}

TEST_F(PartnerTool, NoServiceIsAClearErrorAtOnce)
{
    const ProgramResult none = Partner({"1,2,3,4,5,1"});
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.err.find("no Korvane service is running"), std::string::npos) << none.err;
    EXPECT_NE(none.err.find("Korvane.exe"), std::string::npos) << none.err;
    EXPECT_EQ(none.out, "");

    const ProgramResult named = Partner({"--service", "Nope", "1,2,3,4,5,1"});
    EXPECT_EQ(named.status, 2);
    EXPECT_NE(named.err.find("no service Korvane_Nope is running"), std::string::npos) << named.err;
}

TEST_F(PartnerTool, ServiceThatDoesNotAnswerFailsTheSendInBoundedTime)
{
    // A window named like a service on a thread that never handles messages.
    std::atomic<HWND> window{nullptr};
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread owner([&] {
        window = CreateWindowExA(0, "Static", "Korvane_Hung", WS_POPUP, 0, 0, 0, 0, nullptr,
                                 nullptr, GetModuleHandleA(nullptr), nullptr);
        WaitForSingleObject(release, kPartnerTimeoutMs);
        DestroyWindow(window);
    });
    ASSERT_TRUE(WaitUntil([&] { return window.load() != nullptr; }, kExeTimeoutMs));
    const ProgramResult result = Partner({"--service", "Hung", "--timeout", "300", "1,2,3,4,5,1"});
    SetEvent(release);
    owner.join();
    CloseHandle(release);
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("the service Korvane_Hung did not answer within 300 ms"),
              std::string::npos)
        << result.err;
}

TEST_F(PartnerTool, SeveralServicesNeedAChoice)
{
    KorvaneProcess other;
    ASSERT_NE(StartService(korvane, "A"), nullptr);
    ASSERT_NE(StartService(other, "B"), nullptr);
    const ProgramResult two = Partner({"1,2,3,4,5,1"});
    EXPECT_EQ(two.status, 2);
    EXPECT_NE(two.err.find("several services are running (Korvane_A, Korvane_B)"),
              std::string::npos)
        << two.err;
    EXPECT_EQ(two.out, "");

    const ProgramResult chosen = Partner({"--service", "B", "--wait", "0", "1,2,3,4,5,100"});
    EXPECT_EQ(chosen.status, 0) << chosen.err;
    EXPECT_EQ(chosen.out, "> command 1,2,3,4,5,100\n" + EncodedLine("1,2,3,4,5,100"));

    // With one left, it is the default.
    other.Stop();
    ASSERT_TRUE(WaitUntil([] { return FindWindowA("Korvane", "Korvane_B") == nullptr; }));
    const ProgramResult only = Partner({"--wait", "0", "1,2,3,4,5,100"});
    EXPECT_EQ(only.status, 0) << only.err;
    EXPECT_EQ(only.out, chosen.out);
}

TEST_F(PartnerTool, OwnWindowIsTestRxUnlessNamed)
{
    ASSERT_NE(StartService(korvane, "P"), nullptr);
    PartnerWindow taken(kPartnerWindowName);
    ASSERT_NE(taken.Handle(), nullptr);
    const ProgramResult clash = Partner({"--wait", "0", "1,2,3,4,5,100"});
    EXPECT_EQ(clash.status, 2);
    EXPECT_NE(
        clash.err.find("cannot open the endpoint TEST_RX: a window of that name exists already"),
        std::string::npos)
        << clash.err;
    const ProgramResult named = Partner({"--name", "OTHER_RX", "--wait", "0", "1,2,3,4,5,100"});
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(named.out, "> command 1,2,3,4,5,100\n" + EncodedLine("1,2,3,4,5,100"));
    EXPECT_TRUE(taken.blocks.empty());
}

TEST(KorvaneCliOnWindows, ServeSaysKorvaneExeIsTheService)
{
    const ProgramResult serve = RunProgram(KorvaneCliPath(), {"serve", "demo"});
    EXPECT_EQ(serve.status, 2);
    EXPECT_EQ(serve.out, "");
    EXPECT_EQ(serve.err.rfind("korvane-cli serve: on Windows the service is Korvane.exe", 0), 0u)
        << serve.err;
    EXPECT_EQ(serve.err.find('\n'), serve.err.size() - 1) << "one line";
}

} // namespace

#endif
