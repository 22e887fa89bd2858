// The host's command path against the one it replaced (the parser of that
// time and the command tree, tests/support/tree_command_path.h): for every
// BLOCK_COMMAND the dispatch result, the trace lines and the blocks sent
// must be the same, with the Debug switch off (the block written straight
// from the record) and on (the block from the tree).
#include "host/command_block.h"
#include "host/command_parser.h"
#include "host/command_tree.h"
#include "host/loopback.h"
#include "host/report_reader.h"
#include "tests/support/command_lines.h"
#include "tests/support/tree_command_path.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using testing_support::CommandOutcome;
using testing_support::DescribeDifference;
using testing_support::HostCommandOutcome;
using testing_support::RandomCommandLine;
using testing_support::TreeCommandOutcome;

std::string Printable(const std::string& octets)
{
    std::string text;
    for (unsigned char c : octets) {
        if (c >= 0x20 && c < 0x7F) {
            text += char(c);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            text += escape;
        }
    }
    return "'" + text + "'";
}

class CommandPathDifferential : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(loopback.Ok()) << loopback.Error(); }

    // The block carries exactly these octets (cbData = their count, a NUL
    // only where they hold one), so that a read past them is the
    // sanitizers' to see. Returns the reference's outcome with Debug off.
    CommandOutcome ExpectSameOutcome(const std::string& octets)
    {
        const std::vector<char> exact(octets.begin(), octets.end());
        CommandOutcome quiet;
        for (const bool debug : {false, true}) {
            const CommandOutcome expected = TreeCommandOutcome(exact.data(), exact.size(), debug);
            const CommandOutcome actual =
                HostCommandOutcome(loopback, exact.data(), exact.size(), debug);
            EXPECT_EQ(DescribeDifference(expected, actual), "")
                << Printable(octets) << (debug ? ", Debug on" : ", Debug off");
            if (!debug)
                quiet = expected;
        }
        return quiet;
    }

    CReportReader reader;
    CLoopback loopback{reader};
};

// Every shape, and the corners of the line grammar and of the octets.
const char* const kLines[] = {
    // The eight shapes.
    "1,2,3,4,5,100",
    "1,2,3,4,5,Main~out",
    "1,2,3,4,5,-1",
    "1,2,3,0,0,-1",
    "1,2,3,0,0,Name",
    "1,2,3,9,0,-1",
    "1,2,3,4,0,Text",
    "1,2,3,4,0,7",
    // Tag numbers of one to five octets, negative ones read as huge tags.
    "30,31,127,128,16383,0",
    "16384,2097151,2097152,268435455,268435456,1",
    "-1,-2147483648,2147483647,-31,4294967295,Q",
    "4294967296,1,1,0,0,-1",
    // Integers of one to four octets; the value codes and what wraps onto
    // them (4294967295 is a poll, 4294967294 an empty text).
    "1,2,3,4,5,0",
    "1,2,3,4,5,127",
    "1,2,3,4,5,128",
    "1,2,3,4,5,32767",
    "1,2,3,4,5,32768",
    "1,2,3,4,5,8388607",
    "1,2,3,4,5,8388608",
    "1,2,3,4,5,2147483647",
    "1,2,3,4,5,2147483648",
    "1,2,3,4,5,4294967295",
    "1,2,3,4,5,4294967294",
    "1,2,3,4,0,-2",
    "1,2,3,4,5,-3",
    "1,2,3,4,5,-4",
    "1,2,3,0,0,5",
    // The line grammar: signs, blanks, a number followed by text, more
    // fields, a text with commas, the blank and empty texts.
    " +1, -2,\t3 ,4,5,7x",
    "1,2,3,4,5,+0",
    "1,2,3,4,5,-0",
    "1,2,3,4,5,6,7",
    "1,2,3,4,5,a,b,c",
    "1,2,3,0,0,~",
    "1,2,3,0,0,-",
    "1,2,3,4,0,--",
    "1,2,3,4,5, spaced out",
    "1,2,3,4,5,\t",
    "1,2,3,4,5,",
    "1,2,3,4,5",
    "1,2",
    "",
    " ",
    "-",
    "+,",
    "1,,3,4,5,6",
    "\xFF,2,3,4,5,6",
    "1,2,3,4,5,\x80\xA0\xFF",
    "1,2,3,4,5,a\nb",
};

TEST_F(CommandPathDifferential, EveryLineAndEveryCutOfItGivesTheSameOutcome)
{
    for (const char* line : kLines) {
        const std::string text(line);
        // The text with its NUL, as partners send it, and cut after every
        // octet (no NUL: cbData ends the text).
        ExpectSameOutcome(text + '\0');
        for (size_t cut = 0; cut <= text.size(); ++cut)
            ExpectSameOutcome(text.substr(0, cut));
    }
    // A NUL ends the text.
    ExpectSameOutcome(std::string("1,2,3,4,5,12\0"
                                  "34",
                                  15));
    ExpectSameOutcome(std::string("1,2,3,0,0,ab\0cd", 15));
}

TEST_F(CommandPathDifferential, TextsAtTheLimitOfTheField)
{
    const std::string path[] = {"1,2,3,4,5,", "268435456,268435457,268435458,268435459,268435460,",
                                "1,2,3,0,0,"};
    for (const std::string& head : path)
        for (size_t length = 60; length <= 66; ++length) {
            const CommandOutcome outcome = ExpectSameOutcome(head + std::string(length, 'w'));
            EXPECT_EQ(outcome.blocks.size(), length < CCommandRecord::kTextSize ? 1u : 0u);
        }
    // The largest block there is: five five-octet tags and 63 characters.
    const CommandOutcome largest = ExpectSameOutcome(path[1] + std::string(63, 'w'));
    ASSERT_EQ(largest.blocks.size(), 1u);
    EXPECT_EQ(largest.blocks[0].cbData, kMaxCommandBlock);
}

TEST_F(CommandPathDifferential, TheFuzzersSeedsGiveTheSameOutcome)
{
    const std::filesystem::path corpus =
        std::filesystem::path(KORVANE_SOURCE_DIR) / "fuzz/corpus/command";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string octets((std::istreambuf_iterator<char>(in)), {});
        SCOPED_TRACE(entry.path().filename().string());
        ExpectSameOutcome(octets);
        ++files;
    }
    EXPECT_GT(files, 0);
}

TEST_F(CommandPathDifferential, GeneratedLinesGiveTheSameOutcome)
{
    std::mt19937 random(20261209);
    // The lines must reach every shape and every way of sending nothing.
    std::set<size_t> blockSizes;
    std::set<ECommandShape> shapes;
    std::set<ParseResult> results;
    for (int n = 0; n < 10000; ++n) {
        const std::string line = RandomCommandLine(random);
        const CommandOutcome outcome = ExpectSameOutcome(line);
        CCommandRecord record;
        results.insert(ParseCommand(line.data(), line.size(), record, nullptr));
        shapes.insert(CommandShape(record));
        for (const auto& block : outcome.blocks)
            blockSizes.insert(block.cbData);
        if (HasFailure())
            break;
    }
    EXPECT_EQ(shapes.size(), 9u);
    EXPECT_EQ(results.size(), 3u);
    EXPECT_GT(blockSizes.size(), 40u);
}

TEST(CommandBlock, AppendsAfterWhatTheBufferHoldsAsTheTreeDoes)
{
    CCommandRecord record;
    ASSERT_EQ(ParseCommand("1,2,3,4,0,abc", 13, record, nullptr), ParseResult::Value);
    CEmber_OutputBuffer direct;
    CEmber_OutputBuffer tree;
    const uint8_t before[] = {1, 2, 3};
    direct.Write(before, 3);
    tree.Write(before, 3);
    EXPECT_TRUE(EncodeCommand(record, direct));
    EXPECT_TRUE(EncodeCommandTree(record, tree));
    ASSERT_EQ(direct.Used(), tree.Used());
    EXPECT_EQ(std::memcmp(direct.Data(), tree.Data(), tree.Used()), 0);
}

TEST(CommandBlock, ATextWithoutItsNulIsCutAtTheFieldsCharacters)
{
    // A record filled by hand, its text field full to the last octet: only
    // the 63 characters a record carries are written, nothing beyond.
    CCommandRecord record;
    record.p[0] = record.p[1] = record.p[2] = record.p[3] = record.p[4] = 1;
    record.value = VALUE_TEXT;
    std::memset(record.text, 'z', sizeof record.text);
    CCommandRecord terminated = record;
    terminated.text[CCommandRecord::kTextSize - 1] = '\0';
    CEmber_OutputBuffer cut;
    CEmber_OutputBuffer expected;
    EXPECT_TRUE(EncodeCommand(record, cut));
    EXPECT_TRUE(EncodeCommandTree(terminated, expected));
    ASSERT_EQ(cut.Used(), expected.Used());
    EXPECT_EQ(std::memcmp(cut.Data(), expected.Data(), cut.Used()), 0);
}

} // namespace
