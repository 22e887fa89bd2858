#include "partner/console_framer.h"

#include "console/console_tree.h"
#include "tests/support/console_helpers.h"
#include "tests/support/ember_messages.h"
#include "tests/support/hex.h"
#include "tests/support/tree_framer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

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

// ---------------------------------------------------------------------------
// The framer against the framer as it was (the tree-building reader as its
// tracker): the same blocks, the same octets held and the same octets
// dropped at a break, on console traffic of every kind split anywhere.

namespace {

std::vector<uint8_t> Piece(std::mt19937& random)
{
    static const std::vector<std::vector<uint8_t>> pieces = {
        KeepAliveOctets(),
        Message({Ctx(7, {Ctx(1, {Prv(2, {IntValue(5)})})})}),
        Message({Ctx(7, {Ctx(1, {Prv(2, {TextValue("Ch 1")}), Prv(3, {IntValue(-1)})})})}),
        Message({Ctx(7, {Ctx(1, {Prv(2, {TextValue(std::string(
                                            reinterpret_cast<const char*>(KeepAliveOctets().data()),
                                            13))})})})}),
        console_testing::HostBlock("1,2,3,4,5,100"),
        console_testing::HostBlock("1,2,3,4,5,?"),
        // Broken off by the framing, by a value's content and by a repeated
        // tag in a Set; the rest of each is octets between messages.
        Hex("7F 8F FF FE D9 5C 80 30 80 A1 00 55 66"),
        Hex("7F 8F FF FE D9 5C 80 30 80 A1 02 02 00 7F 8F FF FE D9 5C 80 30 80 00 00 00 00 00 00 "
            "00 00"),
        Hex("7F 8F FF FE D9 5C 80 30 80 A2 0C 31 0A A1 03 02 01 05 A1 03 02 01 06 00 00 00 00"),
        Hex("7F 8F FF FE D9 5C 80 30 80 A1 03 0D 01 81 00 00 00 00"),
        Hex("01 02 7F 8F 03"),
        Hex("7F 7F 8F FF FE D9 5C 80 30 80 00 00 00 00"),
        std::vector<uint8_t>(70000, 0x5A),
    };
    return pieces[random() % pieces.size()];
}

std::vector<uint8_t> Traffic(std::mt19937& random)
{
    std::vector<uint8_t> octets;
    for (int i = 1 + int(random() % 12); i > 0; --i) {
        const std::vector<uint8_t> piece = Piece(random);
        octets.insert(octets.end(), piece.begin(), piece.end());
    }
    for (int i = int(random() % 4); i > 0 && !octets.empty(); --i) {
        const size_t at = random() % octets.size();
        if (random() % 2)
            octets[at] = uint8_t(random());
        else
            octets.erase(octets.begin() + long(at));
    }
    return octets;
}

TEST(ConsoleFramer, CutsExactlyAsTheTreeReaderFramerDid)
{
    std::mt19937 random(20261208);
    for (int round = 0; round < 150; ++round) {
        SCOPED_TRACE(round);
        const std::vector<uint8_t> octets = Traffic(random);
        CConsoleFramer framer;
        testing_support::TreeFramer reference;
        std::vector<Block> got, expected;
        for (size_t at = 0; at < octets.size();) {
            const size_t size = std::min<size_t>(
                random() % 3 == 0 ? 1 + random() % 4 : 1 + random() % 5000, octets.size() - at);
            got.clear();
            expected.clear();
            framer.Push(octets.data() + at, size, got);
            reference.Push(octets.data() + at, size, expected);
            at += size;
            ASSERT_EQ(got.size(), expected.size()) << "after " << at << " octets";
            for (size_t i = 0; i < got.size(); ++i) {
                ASSERT_EQ(got[i].keepAlive, expected[i].keepAlive) << "after " << at << " octets";
                ASSERT_EQ(got[i].octets, expected[i].octets) << "after " << at << " octets";
            }
            ASSERT_EQ(framer.Held(), reference.Held());
            if (random() % 50 == 0) {
                ASSERT_EQ(framer.Break(), reference.Break());
            }
        }
    }
}

} // namespace
