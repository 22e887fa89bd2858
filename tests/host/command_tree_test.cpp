#include "host/command_tree.h"

#include "host/command_parser.h"
#include "protocol/protocol.h"
#include "tests/support/hex.h"
#include "tests/support/host_recorder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using testing_support::Hex;
using testing_support::HostWindow;
using testing_support::PartnerWindow;
using testing_support::ToHex;

constexpr char kEmptyRoot[] = "7F 8F FF FE D9 5C 80 30 80 00 00 00 00";
constexpr char kRootHeader[] = "7F 8F FF FE D9 5C 80 30 80";
constexpr char kRootEnd[] = "00 00 00 00";

// The whole block: empty root, root header, the tree, the root's end.
std::string Block(const std::string& tree)
{
    return std::string(kEmptyRoot) + " " + kRootHeader + " " + tree + " " + kRootEnd;
}

struct ShapeRow
{
    const char* command;
    int shape;
    const char* tree; // octets between root header and root end
};

const ShapeRow kShapeRows[] = {
    // 1: five levels, integer value.
    {"1,2,3,4,5,100", 1,
     "A1 17 31 15 A2 13 31 11 A3 0F 31 0D A4 0B 31 09 E5 07 31 05 63 03 02 01 64"},
    {"1,2,3,4,5,0", 1,
     "A1 17 31 15 A2 13 31 11 A3 0F 31 0D A4 0B 31 09 E5 07 31 05 63 03 02 01 00"},
    {"1,2,3,4,31,1000", 1,
     "A1 19 31 17 A2 15 31 13 A3 11 31 0F A4 0D 31 0B FF 1F 08 31 06 63 04 02 02 03 E8"},
    // 2: five levels, text (and -2 given as a number: the empty text).
    {"1,2,3,4,5,hello~world", 2,
     "A1 21 31 1F A2 1D 31 1B A3 19 31 17 A4 15 31 13 E5 11 31 0F "
     "63 0D 0C 0B 68 65 6C 6C 6F 20 77 6F 72 6C 64"},
    {"1,2,3,4,5,-2", 2, "A1 16 31 14 A2 12 31 10 A3 0E 31 0C A4 0A 31 08 E5 06 31 04 63 02 0C 00"},
    // 3: five-level poll; the poll leaf sits in Ctx 4, p5 is nowhere.
    {"1,2,3,4,5,-1", 3, "A1 14 31 12 A2 10 31 0E A3 0C 31 0A A4 08 31 06 7F 20 03 02 01 01"},
    // 4: three-level poll.
    {"1,2,3,0,0,-1", 4, "A1 0C 31 0A A2 08 31 06 7F 20 03 02 01 01"},
    // 5: three-level text.
    {"1,2,3,0,0,-", 5, "A1 0E 31 0C A2 0A 31 08 E3 06 31 04 63 02 0C 00"},
    // 6: four-level poll.
    {"1,2,3,9,0,-1", 6, "A1 10 31 0E A2 0C 31 0A A3 08 31 06 7F 20 03 02 01 01"},
    // 7: four-level text.
    {"1,2,3,4,0,abc", 7, "A1 15 31 13 A2 11 31 0F A3 0D 31 0B E4 09 31 07 63 05 0C 03 61 62 63"},
    // 8: four-level integer.
    {"1,2,3,4,0,77", 8, "A1 13 31 11 A2 0F 31 0D A3 0B 31 09 E4 07 31 05 63 03 02 01 4D"},
};

TEST(CommandTree, EverySendsOneEncodedBlockToTheSender)
{
    for (const ShapeRow& row : kShapeRows) {
        SCOPED_TRACE(row.command);
        HostWindow host;
        PartnerWindow partner;
        EXPECT_EQ(partner.SendCommand(host.Handle(), row.command), 1);

        ASSERT_EQ(partner.blocks.size(), 1u);
        const auto& block = partner.blocks[0];
        const std::string expected = Block(row.tree);
        const size_t length = Hex(expected).size();
        EXPECT_EQ(ToHex(block.octets), expected);
        EXPECT_EQ(block.cbData, length);
        EXPECT_EQ(block.dwData, (uintptr_t(BLOCK_ENCODED) << 16) | length);
        EXPECT_EQ(block.sender, host.Handle());

        CCommandRecord record;
        ASSERT_EQ(ParseCommand(row.command, std::strlen(row.command), record, nullptr),
                  ParseResult::Value);
        EXPECT_EQ(CommandShape(record), row.shape);
    }
}

TEST(CommandTree, WorkedExamplesHaveTheirLengths)
{
    struct Row
    {
        const char* command;
        uintptr_t dwData;
        uint32_t cbData;
    };
    const Row rows[] = {
        {"1,2,3,4,5,100", 0x0C690033, 51},
        {"1,2,3,4,5,-1", 0x0C690030, 48},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.command);
        HostWindow host;
        PartnerWindow partner;
        partner.SendCommand(host.Handle(), row.command);
        ASSERT_EQ(partner.blocks.size(), 1u);
        EXPECT_EQ(partner.blocks[0].dwData, row.dwData);
        EXPECT_EQ(partner.blocks[0].cbData, row.cbData);
        EXPECT_EQ(partner.blocks[0].octets.size(), row.cbData);
    }
}

TEST(CommandTree, APollLeavesItsLastNumberOut)
{
    HostWindow host;
    PartnerWindow partner;
    partner.SendCommand(host.Handle(), "1,2,3,9,0,-1");
    ASSERT_EQ(partner.blocks.size(), 1u);
    for (uint8_t octet : partner.blocks[0].octets) {
        EXPECT_NE(octet, 0x09);
        EXPECT_NE(octet, 0xA9); // context 9
        EXPECT_NE(octet, 0xE9); // private 9
    }
}

TEST(CommandTree, CommandsWithoutShapeSendNothing)
{
    struct Row
    {
        std::string command;
        LRESULT result;
    };
    const Row rows[] = {
        // No value: the dispatch ends with 0.
        {"1,2,3,4,5,-3", 0},
        {"1,2,3", 0},
        {"", 0},
        {"1,2,3,4,5,", 0},
        {"1,2,3,4,5," + std::string(64, 't'), 0},
        // A value but no shape: 1.
        {"1,2,3,4,5,-7", 1},
        {"1,2,3,4,5,-4", 1},
        {"1,2,3,0,0,5", 1},
        {"1,2,3,0,0,0", 1},
        {"1,2,0,4,5,5", 1},
        {"0,2,3,4,5,5", 1},
        {"1,0,3,4,5,-1", 1},
        {"1,2,3,0,5,5", 1},
        {"1,2,3,0,5,-1", 1},
        {"1,2,0,0,0,-1", 1},
        {"1,2,0,0,0,text", 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.command);
        HostWindow host;
        PartnerWindow partner;
        EXPECT_EQ(partner.SendCommand(host.Handle(), row.command), row.result);
        EXPECT_TRUE(partner.blocks.empty());
    }
}

TEST(CommandTree, TheLongestTextFitsAndIsSent)
{
    HostWindow host;
    PartnerWindow partner;
    const std::string text(63, 'q');
    EXPECT_EQ(partner.SendCommand(host.Handle(), "1,2,3,4,5," + text), 1);
    ASSERT_EQ(partner.blocks.size(), 1u);
    const auto& octets = partner.blocks[0].octets;
    EXPECT_EQ(partner.blocks[0].cbData, 113u);
    const std::string all(octets.begin(), octets.end());
    EXPECT_NE(all.find(std::string("\x0C\x3F", 2) + text), std::string::npos);
}

TEST(CommandTree, TheCommandTextIsReadOnlyWithinTheBlock)
{
    struct Row
    {
        std::string octets; // no NUL: cbData ends the text
        const char* tree;
    };
    const Row rows[] = {
        {"1,2,3,4,5,100",
         "A1 17 31 15 A2 13 31 11 A3 0F 31 0D A4 0B 31 09 E5 07 31 05 63 03 02 01 64"},
        {"1,2,3,0,0,ab", "A1 10 31 0E A2 0C 31 0A E3 08 31 06 63 04 0C 02 61 62"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.octets);
        HostWindow host;
        PartnerWindow partner;
        const std::vector<char> exact(row.octets.begin(), row.octets.end());
        EXPECT_EQ(partner.Send(host.Handle(), MakeDwData(BLOCK_COMMAND, 0), exact.data(),
                               uint32_t(exact.size())),
                  1);
        ASSERT_EQ(partner.blocks.size(), 1u);
        EXPECT_EQ(ToHex(partner.blocks[0].octets), Block(row.tree));
    }
}

TEST(CommandTree, ACommandBlockWithoutTextHasNoValue)
{
    static const char kText[] = "1,2,3,4,5,1";
    struct Row
    {
        const char* name;
        const void* data;
        uint32_t cbData;
    };
    const Row rows[] = {
        {"no pointer, no octets", nullptr, 0},
        {"no pointer", nullptr, 12},
        {"no octets", kText, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        HostWindow host;
        PartnerWindow partner;
        EXPECT_EQ(partner.Send(host.Handle(), MakeDwData(BLOCK_COMMAND, 12), row.data, row.cbData),
                  0);
        EXPECT_TRUE(partner.blocks.empty());
        EXPECT_EQ(host.state.partnerWindow, partner.Handle());
    }
    // A WM_COPYDATA without a block at all only names the partner.
    HostWindow host;
    PartnerWindow partner;
    const WPARAM sender = reinterpret_cast<WPARAM>(partner.Handle());
    EXPECT_EQ(SendMessageA(host.Handle(), WM_COPYDATA, sender, 0), 1);
    EXPECT_EQ(host.state.partnerWindow, partner.Handle());
    EXPECT_TRUE(partner.blocks.empty());
}

TEST(CommandTree, EncodeCommandWritesTheSameOctetsAsTheHost)
{
    for (const ShapeRow& row : kShapeRows) {
        SCOPED_TRACE(row.command);
        CCommandRecord record;
        ParseCommand(row.command, std::strlen(row.command), record, nullptr);
        CEmber_OutputBuffer out;
        EXPECT_TRUE(EncodeCommand(record, out));
        EXPECT_EQ(ToHex(out.Data(), out.Used()), Block(row.tree));
    }
    CCommandRecord none;
    none.p[0] = 1;
    none.value = 5;
    CEmber_OutputBuffer out;
    EXPECT_FALSE(EncodeCommand(none, out));
    EXPECT_EQ(out.Used(), 0u);
}

} // namespace
