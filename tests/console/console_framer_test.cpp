#include "tools/console/console_framer.h"

#include "tests/console/console_helpers.h"
#include "tests/support/ember_messages.h"
#include "tests/support/hex.h"
#include "tools/console/console_tree.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace testing_support;
using Block = CConsoleFramer::Block;

// Blocks as text: "K" for a keep-alive, "D:<hex>" for data.
std::vector<std::string> Describe(const std::vector<Block>& blocks)
{
    std::vector<std::string> text;
    for (const Block& block : blocks)
        text.push_back(block.keepAlive ? "K" : "D:" + ToHex(block.octets));
    return text;
}

std::vector<Block> PushInBlocks(const std::vector<uint8_t>& stream, size_t blockSize,
                                CConsoleFramer& framer)
{
    std::vector<Block> out;
    for (size_t at = 0; at < stream.size(); at += blockSize)
        framer.Push(stream.data() + at, std::min(blockSize, stream.size() - at), out);
    return out;
}

// Data octets in order, with a marker where each keep-alive stood.
std::vector<std::string> Flatten(const std::vector<Block>& blocks)
{
    std::vector<std::string> flat;
    std::vector<uint8_t> data;
    for (const Block& block : blocks) {
        if (block.keepAlive) {
            flat.push_back(ToHex(data));
            flat.push_back("K");
            data.clear();
        } else {
            data.insert(data.end(), block.octets.begin(), block.octets.end());
        }
    }
    flat.push_back(ToHex(data));
    return flat;
}

TEST(ConsoleFramer, KeepAlivesBetweenMessagesBecomeBlocksOfTheirOwn)
{
    const std::vector<uint8_t> message = Message({Ctx(7, {Ctx(1, {Prv(2, {IntValue(5)})})})});
    const std::vector<uint8_t> garbage = Hex("01 02 7F 8F 03");
    const std::vector<uint8_t> stream =
        Join({KeepAliveOctets(), message, garbage, KeepAliveOctets(), KeepAliveOctets(), message});
    const std::vector<std::string> expected = {
        "", "K", ToHex(Join({message, garbage})), "K", "", "K", ToHex(message)};
    for (size_t blockSize : {1, 2, 3, 5, 7, 13, 32, 4096}) {
        SCOPED_TRACE(blockSize);
        CConsoleFramer framer;
        const std::vector<Block> blocks = PushInBlocks(stream, blockSize, framer);
        EXPECT_EQ(Flatten(blocks), expected);
        EXPECT_EQ(framer.Held(), 0u);
        for (const Block& block : blocks) {
            EXPECT_LE(block.octets.size(), CConsoleFramer::kMaxBlock);
            EXPECT_EQ(block.keepAlive, block.octets.size() == 13u);
        }
    }
}

TEST(ConsoleFramer, AnEmptyRootInsideAMessageIsPartOfTheMessage)
{
    // A text value whose octets are those of the keep-alive.
    const std::string text(reinterpret_cast<const char*>(KeepAliveOctets().data()), 13);
    const std::vector<uint8_t> message = Message({Ctx(7, {Ctx(1, {Prv(2, {TextValue(text)})})})});
    CConsoleFramer framer;
    const std::vector<Block> blocks = PushInBlocks(message, 1, framer);
    EXPECT_EQ(Describe(blocks), std::vector<std::string>{"D:" + ToHex(message)});
}

TEST(ConsoleFramer, AMessageIsHeldUntilItEndsAndDroppedWhenTheLinkBreaks)
{
    const std::vector<uint8_t> message = console_testing::HostBlock("1,2,3,4,5,100");
    // The block is an empty root (a keep-alive to the framer) and a message.
    CConsoleFramer framer;
    std::vector<Block> out;
    framer.Push(message.data(), 20, out);
    EXPECT_EQ(Describe(out), std::vector<std::string>{"K"});
    EXPECT_EQ(framer.Held(), 7u);
    framer.Push(message.data() + 20, message.size() - 21, out);
    EXPECT_EQ(out.size(), 1u);
    EXPECT_EQ(framer.Held(), message.size() - 14);
    EXPECT_EQ(framer.Break(), message.size() - 14);
    EXPECT_EQ(framer.Held(), 0u);
    // A fresh start: the next message goes through whole.
    framer.Push(message.data() + 13, message.size() - 13, out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(ToHex(out[1].octets),
              ToHex(std::vector<uint8_t>(message.begin() + 13, message.end())));
}

TEST(ConsoleFramer, ABrokenMessageIsHandedOnWhereTheReaderGivesUp)
{
    // Zero outer length: the reader gives up at the second octet after the
    // start sequence; the octets after it are between messages again.
    const std::vector<uint8_t> broken = Hex("7F 8F FF FE D9 5C 80 30 80 A1 00 55 66");
    CConsoleFramer framer;
    std::vector<Block> out;
    framer.Push(broken.data(), broken.size(), out);
    EXPECT_EQ(Flatten(out), std::vector<std::string>{ToHex(broken)});
    EXPECT_EQ(framer.Held(), 0u);
}

TEST(ConsoleFramer, NoDataBlockHasThirteenOctets)
{
    struct Row
    {
        size_t size;
        std::vector<size_t> blocks;
    };
    const Row rows[] = {
        {12, {12}},
        {13, {12, 1}},
        {14, {14}},
        {65535, {65535}},
        {65536, {65535, 1}},
        {65535 + 13, {65535, 12, 1}},
        {2 * 65535 + 14, {65535, 65535, 14}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.size);
        const std::vector<uint8_t> octets(row.size, 0x11);
        std::vector<Block> out;
        CConsoleFramer::Split(octets.data(), octets.size(), out);
        std::vector<size_t> sizes;
        for (const Block& block : out) {
            EXPECT_FALSE(block.keepAlive);
            sizes.push_back(block.octets.size());
        }
        EXPECT_EQ(sizes, row.blocks);
    }
    // Garbage of 13 octets between messages is cut the same way.
    CConsoleFramer framer;
    std::vector<Block> out;
    const std::vector<uint8_t> garbage(13, 0x42);
    framer.Push(garbage.data(), garbage.size(), out);
    EXPECT_EQ(Describe(out),
              (std::vector<std::string>{"D:" + ToHex(std::vector<uint8_t>(12, 0x42)), "D:42"}));
}

} // namespace
