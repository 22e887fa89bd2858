// Korvane.exe end to end, the partner protocol: the transport table
// (tests/support/transport_cases.h), replies to the latest sender, blocks
// sent from inside the partner's own handlers, and foreign report messages.
// The rules behind the answers are proven at the dispatcher (host_tests).
#include "tests/support/transport_cases.h"
#include "tests/winapp/korvane_exe_fixture.h"

#include <algorithm>

namespace testing_support::korvane_exe {
namespace {

TEST(ConsoleMessageWriter, MatchesTheWorkedExample)
{
    // The test builder against the octets worked out by hand.
    EXPECT_EQ(ToHex(ParameterMessage(1, 2, 3, 4, 5, IntegerValue(100))),
              "7F 8F FF FE D9 5C 80 30 80 A7 1B 31 19 A1 17 31 15 A2 13 31 11 A3 0F 31 0D "
              "A4 0B 31 09 E5 07 31 05 63 03 02 01 64 00 00 00 00");
    EXPECT_EQ(ToHex(IntegerValue(128)), "63 04 02 02 00 80");
    EXPECT_EQ(ToHex(IntegerValue(-1)), "63 03 02 01 FF");
    EXPECT_EQ(ToHex(TextValue("ab")), "63 04 0C 02 61 62");
}

// ---------------------------------------------------------------------------
// Blocks in, blocks out
// ---------------------------------------------------------------------------

// The transport table (tests/support/transport_cases.h) to Korvane.exe.
TEST_F(KorvaneExeTest, CarriesEveryTransportCase)
{
    Launch();
    RunTransportCases(
        [&](const TransportBlock& block) {
        return intptr_t(SendBlock(block.dwData, block.octets.data(), DWORD(block.octets.size())));
        },
        [&] {
        std::vector<TransportBlock> taken;
        for (const Block& block : partner->Take()) {
            EXPECT_EQ(block.sender, window);
            EXPECT_EQ(block.cbData, block.data.size());
            taken.push_back({block.dwData, block.data});
        }
        return taken;
    });
    ExpectAnswering();
}

TEST_F(KorvaneExeTest, RepliesGoToTheSenderOfTheLatestBlock)
{
    Launch();
    PartnerWindow other("KorvaneOtherPartner");
    ASSERT_NE(other.Handle(), nullptr);
    const std::string command = "1,2,3,4,5,100";
    ASSERT_EQ(
        SendBlock(kBlockCommand << 16, command.c_str(), DWORD(command.size() + 1), other.Handle()),
        1);
    EXPECT_TRUE(partner->Take().empty());
    ASSERT_EQ(other.blocks.size(), 1u);
    EXPECT_EQ(ToHex(other.blocks[0].data), kWorkedExampleHex);

    // A block of a kind the program does not take changes only the partner.
    partner->blocks.clear();
    EXPECT_EQ(SendBlock(kBlockEncoded << 16 | 4, "abcd", 4), 1);
    EXPECT_TRUE(partner->Take().empty());
    EXPECT_EQ(other.blocks.size(), 1u);
    ExpectAnswering();
}

// ---------------------------------------------------------------------------
// Console data and reports
// ---------------------------------------------------------------------------

TEST_F(KorvaneExeTest, ConsoleBlockSentFromInsideAReportHandler)
{
    Launch();
    const Octets hundredOne = ParameterMessage(1, 2, 3, 4, 5, IntegerValue(101));
    bool sent = false;
    LRESULT nestedResult = -1;
    partner->onBlock = [&](const Block& block) {
        if (!sent && block.Kind() == kBlockReport && block.Text() == "1,2,3,4,5,100") {
            sent = true;
            nestedResult = SendConsole(hundredOne);
        }
    };
    ASSERT_EQ(SendConsole(ParameterMessage(1, 2, 3, 4, 5, IntegerValue(100))), 1);
    partner->onBlock = nullptr;
    EXPECT_TRUE(sent);
    EXPECT_EQ(nestedResult, 1);
    EXPECT_EQ(TakeReports(), (std::vector<std::string>{"1,2,3,4,5,100", "1,2,3,4,5,101"}));
    ExpectAnswering();

    // A command from inside a report handler is answered at once.
    Octets nestedReply;
    partner->onBlock = [&](const Block& block) {
        if (block.Kind() == kBlockReport) {
            const size_t before = partner->blocks.size();
            EXPECT_EQ(SendCommand("1,2,3,4,0,7"), 1);
            if (partner->blocks.size() == before + 1)
                nestedReply = partner->blocks.back().data;
        }
    };
    ASSERT_EQ(SendConsole(ParameterMessage(1, 2, 3, 4, 5, IntegerValue(102))), 1);
    partner->onBlock = nullptr;
    EXPECT_EQ(ToHex(nestedReply),
              ToHex(Cat({EmptyRoot(), Message(Ctx(1, Ctx(2, Ctx(3, Prv(4, IntegerValue(7))))))})));
    EXPECT_TRUE(korvane.Running());
}

TEST_F(KorvaneExeTest, ForeignReportMessagesAreIgnored)
{
    Launch();
    static const char ourText[] = "1,2,3,4,5,100";
    const LPARAM pointers[] = {0, 1, LPARAM(0x12345678), LPARAM(-1),
                               reinterpret_cast<LPARAM>(ourText)};
    for (LPARAM lParam : pointers) {
        DWORD_PTR result = 0xDEAD;
        EXPECT_NE(SendMessageTimeoutA(window, kParamReportMessage, 3178, lParam, SMTO_NORMAL,
                                      kExeTimeoutMs, &result),
                  0);
        EXPECT_EQ(result, 0u);
        EXPECT_TRUE(PostMessageA(window, kParamReportMessage, 3178, lParam));
        EXPECT_TRUE(PostMessageA(window, kParamReportMessage, 0, lParam));
    }
    // Posted messages are taken in order: once the Debug switch posted
    // after them has flipped, Korvane has handled them all.
    ASSERT_TRUE(PostMessageA(window, WM_COMMAND, kMenuDebug, 0));
    ASSERT_TRUE(WaitUntil([&] { return DebugItemState() == 1; }));
    EXPECT_EQ(SendMenuCommand(kMenuDebug), 0);
    EXPECT_EQ(DebugItemState(), 0);
    ExpectAnswering();
    EXPECT_TRUE(partner->Take().empty());

    // Nothing of them became the last report: the real one still goes out.
    ASSERT_EQ(SendConsole(ParameterMessage(1, 2, 3, 4, 5, IntegerValue(100))), 1);
    EXPECT_EQ(TakeReports(), std::vector<std::string>{"1,2,3,4,5,100"});
}

} // namespace
} // namespace testing_support::korvane_exe
