// Korvane.exe end to end, the partner protocol: commands of every tree
// shape, console blocks and their reports, keep-alives, blocks sent from
// inside the partner's own handlers, and malformed input.
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
// Commands
// ---------------------------------------------------------------------------

struct CommandCase
{
    const char* command;
    const char* tree; // the octets between the two roots' headers and the end
};

TEST_F(KorvaneExeTest, CommandsOfEveryShapeGiveTheExactOctets)
{
    Launch();
    const char* kRoots = "7F 8F FF FE D9 5C 80 30 80 00 00 00 00 7F 8F FF FE D9 5C 80 30 80";
    const CommandCase cases[] = {
        // 1: four path levels, the parameter, an Integer.
        {"1,2,3,4,5,100",
         "A1 17 31 15 A2 13 31 11 A3 0F 31 0D A4 0B 31 09 E5 07 31 05 63 03 02 01 64"},
        {"1,2,3,4,5,0",
         "A1 17 31 15 A2 13 31 11 A3 0F 31 0D A4 0B 31 09 E5 07 31 05 63 03 02 01 00"},
        {"1,2,3,4,5,128",
         "A1 18 31 16 A2 14 31 12 A3 10 31 0E A4 0C 31 0A E5 08 31 06 63 04 02 02 00 80"},
        {"1,2,3,4,5,2147483647",
         "A1 1A 31 18 A2 16 31 14 A3 12 31 10 A4 0E 31 0C E5 0A 31 08 63 06 02 04 7F FF FF FF"},
        {" 1, 2, 3, 4, 5, 7x",
         "A1 17 31 15 A2 13 31 11 A3 0F 31 0D A4 0B 31 09 E5 07 31 05 63 03 02 01 07"},
        // Path numbers of more than one identifier octet.
        {"1,2,3,4,200,5",
         "A1 19 31 17 A2 15 31 13 A3 11 31 0F A4 0D 31 0B FF 81 48 07 31 05 63 03 02 01 05"},
        // 2: a text, "~" standing for a blank.
        {"1,2,3,4,5,hello~world", "A1 21 31 1F A2 1D 31 1B A3 19 31 17 A4 15 31 13 E5 11 31 0F "
                                  "63 0D 0C 0B 68 65 6C 6C 6F 20 77 6F 72 6C 64"},
        // An integer -2 selects the text shape; the text is empty.
        {"1,2,3,4,5,-2", "A1 16 31 14 A2 12 31 10 A3 0E 31 0C A4 0A 31 08 E5 06 31 04 63 02 0C 00"},
        // 3: the full poll.
        {"1,2,3,4,5,-1", "A1 14 31 12 A2 10 31 0E A3 0C 31 0A A4 08 31 06 7F 20 03 02 01 01"},
        // 4: a poll of three levels.
        {"1,2,3,0,0,-1", "A1 0C 31 0A A2 08 31 06 7F 20 03 02 01 01"},
        // 5: a text of three levels; "-" is the empty text.
        {"1,2,3,0,0,-", "A1 0E 31 0C A2 0A 31 08 E3 06 31 04 63 02 0C 00"},
        // 6: a poll of four levels; 9 appears nowhere.
        {"1,2,3,9,0,-1", "A1 10 31 0E A2 0C 31 0A A3 08 31 06 7F 20 03 02 01 01"},
        // 7: a text of four levels.
        {"1,2,3,4,0,Main~out",
         "A1 1A 31 18 A2 16 31 14 A3 12 31 10 E4 0E 31 0C 63 0A 0C 08 4D 61 69 6E 20 6F 75 74"},
        // 8: an integer of four levels.
        {"1,2,3,4,0,7", "A1 13 31 11 A2 0F 31 0D A3 0B 31 09 E4 07 31 05 63 03 02 01 07"},
    };
    for (const CommandCase& c : cases) {
        const Octets expected = Cat({Hex(kRoots), Hex(c.tree), {0, 0, 0, 0}});
        EXPECT_EQ(ToHex(EncodedReply(c.command)), ToHex(expected)) << c.command;
    }
}

TEST_F(KorvaneExeTest, WorkedExampleBlockLayout)
{
    Launch();
    ASSERT_EQ(SendCommand("1,2,3,4,5,100"), 1);
    const std::vector<Block> blocks = partner->Take();
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].receiver, partner->Handle());
    EXPECT_EQ(blocks[0].sender, window);
    EXPECT_EQ(blocks[0].dwData, ULONG_PTR(0x0C690033));
    EXPECT_EQ(blocks[0].cbData, 51u);
    EXPECT_EQ(ToHex(blocks[0].data), kWorkedExampleHex);
}

TEST_F(KorvaneExeTest, CommandsThatSendNothingGiveTheDispatchResult)
{
    Launch();
    const struct
    {
        const char* command;
        LRESULT result;
    } cases[] = {
        {"1,2,3,4,5,-3", 0}, // VALUE_NONE
        {"1,2,3", 0},        // fewer than six fields
        {"", 0},             // nothing at all
        {"x,2,3,4,5,6", 0},  // no number
        {"1,2,3,4,5,-7", 1}, // a value code below -3
        {"1,2,3,0,0,5", 1},  // no three-level integer command
        {"1,2,0,4,5,5", 1},  // a level missing in the middle
        {"0,2,3,4,5,5", 1},  // no first level
        {"1,2,3,0,7,-1", 1}, // p4 zero while p5 is not
    };
    for (const auto& c : cases) {
        partner->blocks.clear();
        EXPECT_EQ(SendCommand(c.command), c.result) << c.command;
        EXPECT_TRUE(partner->Take().empty()) << c.command;
    }
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

TEST_F(KorvaneExeTest, TextOfSixtyThreeCharactersIsSentAndLongerIsRefused)
{
    Launch();
    const std::string text63(63, 'q');
    const Octets expected =
        Cat({EmptyRoot(), Message(Ctx(1, Ctx(2, Ctx(3, Ctx(4, Prv(5, TextValue(text63)))))))});
    EXPECT_EQ(ToHex(EncodedReply("1,2,3,4,5," + text63)), ToHex(expected));

    partner->blocks.clear();
    EXPECT_EQ(SendCommand("1,2,3,4,5," + std::string(64, 'q')), 0);
    EXPECT_EQ(SendCommand("1,2,3,4,5," + std::string(5000, 'q')), 0);
    EXPECT_TRUE(partner->Take().empty());
    ExpectAnswering();
}

TEST_F(KorvaneExeTest, CommandWithoutNulIsReadOnlyUpToCbData)
{
    Launch();
    // "1,2,3,4,5,10" and "1,2,3,4,5,hello", 12 and 15 octets, no NUL.
    partner->blocks.clear();
    EXPECT_EQ(SendBlock(kBlockCommand << 16, "1,2,3,4,5,10", 12), 1);
    EXPECT_EQ(SendBlock(kBlockCommand << 16, "1,2,3,4,5,hello", 15), 1);
    const std::vector<Block> blocks = partner->Take();
    ASSERT_EQ(blocks.size(), 2u);
    auto fullCommand = [](const Octets& value) {
        return ToHex(Cat({EmptyRoot(), Message(Ctx(1, Ctx(2, Ctx(3, Ctx(4, Prv(5, value))))))}));
    };
    EXPECT_EQ(ToHex(blocks[0].data), fullCommand(IntegerValue(10)));
    EXPECT_EQ(ToHex(blocks[1].data), fullCommand(TextValue("hello")));

    // A command that fills a long block without any NUL.
    const std::string filler(20000, '7');
    EXPECT_EQ(SendBlock(kBlockCommand << 16, filler.data(), DWORD(filler.size())), 0);
    // No data at all.
    EXPECT_EQ(SendBlock(kBlockCommand << 16, nullptr, 0), 0);
    EXPECT_TRUE(partner->Take().empty());
    ExpectAnswering();
}

// ---------------------------------------------------------------------------
// Console data and reports
// ---------------------------------------------------------------------------

TEST_F(KorvaneExeTest, ConsoleMessageGivesAReportInTheBlockLayout)
{
    Launch();
    ASSERT_EQ(SendConsole(ParameterMessage(1, 2, 3, 4, 5, IntegerValue(100))), 1);
    std::vector<Block> blocks = partner->Take();
    ASSERT_EQ(blocks.size(), 1u);
    const std::string text = "1,2,3,4,5,100";
    EXPECT_EQ(blocks[0].sender, window);
    EXPECT_EQ(blocks[0].dwData, ULONG_PTR(0x0C6A0000 | (text.size() + 1)));
    EXPECT_EQ(blocks[0].cbData, 513u);
    ASSERT_EQ(blocks[0].data.size(), 513u);
    EXPECT_EQ(std::string(blocks[0].data.begin(), blocks[0].data.begin() + text.size() + 1),
              std::string(text.c_str(), text.size() + 1));

    // A text value: blanks travel as "~", the line ends in a blank and a
    // line feed.
    ASSERT_EQ(SendConsole(ParameterMessage(1, 2, 3, 4, 5, TextValue("Main out"))), 1);
    blocks = partner->Take();
    ASSERT_EQ(blocks.size(), 1u);
    const std::string line = "1,2,3,4,5,Main~out \n";
    EXPECT_EQ(blocks[0].dwData, ULONG_PTR(0x0C6A0000 | (line.size() + 1)));
    EXPECT_EQ(blocks[0].cbData, 513u);
    EXPECT_EQ(blocks[0].Text(), line);
}

TEST_F(KorvaneExeTest, SiblingParametersGiveOneReportEach)
{
    Launch();
    const Octets message =
        Message(Ctx(7, Ctx(1, Ctx(2, Ctx(3, Ctx(4, Cat({Prv(5, IntegerValue(11)),
                                                        Prv(6, IntegerValue(-12))})))))));
    ASSERT_EQ(SendConsole(message), 1);
    EXPECT_EQ(TakeReports(), (std::vector<std::string>{"1,2,3,4,5,11", "1,2,3,4,6,-12"}));
}

TEST_F(KorvaneExeTest, SplitBlocksAndGarbageAroundMessages)
{
    Launch();
    const Octets first = ParameterMessage(1, 2, 3, 4, 5, IntegerValue(100));
    const Octets second = ParameterMessage(9, 8, 7, 6, 5, TextValue("fader"));

    // One octet per block: the report comes with the last octet.
    for (size_t i = 0; i + 1 < first.size(); ++i) {
        ASSERT_EQ(SendConsole(Octets{first[i]}), 1);
        ASSERT_TRUE(partner->blocks.empty()) << "report before octet " << i + 1;
    }
    ASSERT_EQ(SendConsole(Octets{first.back()}), 1);
    EXPECT_EQ(TakeReports(), std::vector<std::string>{"1,2,3,4,5,100"});

    // Garbage, a message, garbage, a message, garbage, cut into blocks of
    // seven octets.
    const Octets garbage = Hex("00 11 7F 8F FF 22 A1 05 31 03 33 44 55");
    const Octets third = ParameterMessage(1, 2, 3, 4, 5, IntegerValue(101));
    const Octets stream = Cat({garbage, second, garbage, third, garbage});
    for (size_t at = 0; at < stream.size(); at += 7) {
        const size_t n = std::min<size_t>(7, stream.size() - at);
        ASSERT_EQ(SendConsole(Octets(stream.begin() + at, stream.begin() + at + n)), 1);
    }
    EXPECT_EQ(TakeReports(), (std::vector<std::string>{"9,8,7,6,5,fader \n", "1,2,3,4,5,101"}));

    // A broken message (a terminator where none may stand) is dropped; the
    // next one is read.
    const Octets broken = Message(Ctx(7, Ctx(1, Hex("00 00 00 00"))));
    ASSERT_EQ(SendConsole(Cat({broken, ParameterMessage(1, 2, 3, 4, 5, IntegerValue(102))})), 1);
    EXPECT_EQ(TakeReports(), std::vector<std::string>{"1,2,3,4,5,102"});
}

TEST_F(KorvaneExeTest, RepeatedReportsAreDropped)
{
    Launch();
    const Octets hundred = ParameterMessage(1, 2, 3, 4, 5, IntegerValue(100));
    const Octets hundredOne = ParameterMessage(1, 2, 3, 4, 5, IntegerValue(101));
    ASSERT_EQ(SendConsole(hundred), 1);
    ASSERT_EQ(SendConsole(hundred), 1);
    EXPECT_EQ(TakeReports(), std::vector<std::string>{"1,2,3,4,5,100"});

    ASSERT_EQ(SendConsole(hundredOne), 1);
    ASSERT_EQ(SendConsole(hundred), 1);
    ASSERT_EQ(SendConsole(hundred), 1);
    EXPECT_EQ(TakeReports(), (std::vector<std::string>{"1,2,3,4,5,101", "1,2,3,4,5,100"}));

    // Commands in between do not clear the last report.
    ExpectAnswering();
    ASSERT_EQ(SendConsole(hundred), 1);
    EXPECT_TRUE(TakeReports().empty());
}

TEST_F(KorvaneExeTest, KeepAliveIsEchoedUnchangedAndNotDecoded)
{
    Launch();
    const Octets keepAlive = Hex("01 02 03 04 05 06 07 08 09 0A 0B 0C 0D");
    ASSERT_EQ(SendConsole(keepAlive), 1);
    std::vector<Block> blocks = partner->Take();
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].sender, window);
    EXPECT_EQ(blocks[0].dwData, ULONG_PTR(0x0C68000D));
    EXPECT_EQ(blocks[0].cbData, 13u);
    EXPECT_EQ(ToHex(blocks[0].data), ToHex(keepAlive));

    // In the middle of a message a keep-alive is echoed and leaves the
    // message whole, even when its octets would break it.
    const Octets message = ParameterMessage(1, 2, 3, 4, 5, IntegerValue(100));
    ASSERT_EQ(SendConsole(Octets(message.begin(), message.begin() + 20)), 1);
    const Octets breaking(13, 0x00);
    ASSERT_EQ(SendConsole(breaking), 1);
    ASSERT_EQ(SendConsole(Octets(message.begin() + 20, message.end())), 1);
    blocks = partner->Take();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].dwData, ULONG_PTR(0x0C68000D));
    EXPECT_EQ(ToHex(blocks[0].data), ToHex(breaking));
    EXPECT_EQ(blocks[1].Kind(), kBlockReport);
    EXPECT_EQ(blocks[1].Text(), "1,2,3,4,5,100");

    // The empty root itself, 13 octets, is a keep-alive too.
    ASSERT_EQ(SendConsole(EmptyRoot()), 1);
    blocks = partner->Take();
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(ToHex(blocks[0].data), ToHex(EmptyRoot()));
}

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

TEST_F(KorvaneExeTest, BadConsoleBlocksLeaveKorvaneAnswering)
{
    Launch();
    const Octets message = ParameterMessage(1, 2, 3, 4, 5, IntegerValue(100));

    // No data, whatever the length field says.
    EXPECT_EQ(SendBlock(kBlockConsoleData << 16 | 42, nullptr, 0), 1);
    EXPECT_EQ(SendBlock(kBlockConsoleData << 16, message.data(), 0), 1);
    EXPECT_TRUE(partner->Take().empty());

    // A length field above cbData: only the octets that came are read, so
    // the rest of the message completes it.
    EXPECT_EQ(SendBlock(kBlockConsoleData << 16 | 0xFFFF, message.data(), 20), 1);
    EXPECT_TRUE(partner->Take().empty());
    ASSERT_EQ(SendConsole(Octets(message.begin() + 20, message.end())), 1);
    EXPECT_EQ(TakeReports(), std::vector<std::string>{"1,2,3,4,5,100"});

    // A long block (far beyond a few kilobytes) of garbage with a message at
    // its end.
    Octets big(60000, 0x5A);
    const Octets tail = ParameterMessage(1, 2, 3, 4, 5, IntegerValue(103));
    std::copy(tail.begin(), tail.end(), big.end() - Octets::difference_type(tail.size()));
    ASSERT_EQ(SendConsole(big), 1);
    EXPECT_EQ(TakeReports(), std::vector<std::string>{"1,2,3,4,5,103"});

    // Deep nesting and absurd lengths, each ended by a length field of
    // more than five octets, which makes the reader drop the message.
    Octets deep;
    for (int i = 0; i < 5000; ++i)
        deep.insert(deep.end(), {0xA1, 0x80, 0x31, 0x80});
    ASSERT_EQ(SendConsole(Cat({StartSequence(), deep, Hex("E5 85")})), 1);
    const Octets huge = Hex("A1 84 FF FF FF F0 31 84 FF FF FF F0 E5 85");
    ASSERT_EQ(SendConsole(Cat({StartSequence(), huge})), 1);
    ASSERT_EQ(SendConsole(ParameterMessage(1, 2, 3, 4, 5, IntegerValue(104))), 1);
    EXPECT_EQ(TakeReports(), std::vector<std::string>{"1,2,3,4,5,104"});
    ExpectAnswering();
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
