#include "ember/ber/input_stream.h"

#include "tests/support/ber_helpers.h"

#include <gtest/gtest.h>

namespace {

using testing_support::RaisesEof;

TEST(MemoryStream, ReadsInOrderThenRaisesEofEveryTime)
{
    const uint8_t block[] = {0x01, 0x02, 0x03};
    CEmber_MemoryStream in(block, 3);
    EXPECT_EQ(in.ReadOctet(), 0x01);
    EXPECT_EQ(in.ReadOctet(), 0x02);
    EXPECT_EQ(in.ReadOctet(), 0x03);
    EXPECT_TRUE(RaisesEof([&] { in.ReadOctet(); }));
    EXPECT_TRUE(RaisesEof([&] { in.ReadOctet(); }));
    EXPECT_EQ(in.Position(), 3u);
}

TEST(MemoryStream, AttachStartsAgainAtTheFirstOctet)
{
    const uint8_t first[] = {0x01};
    const uint8_t second[] = {0xAA, 0xBB};
    CEmber_MemoryStream in(first, 1);
    in.ReadOctet();
    EXPECT_TRUE(RaisesEof([&] { in.ReadOctet(); }));
    in.Attach(second, 2);
    EXPECT_EQ(in.ReadOctet(), 0xAA);
    EXPECT_EQ(in.ReadOctet(), 0xBB);
    EXPECT_TRUE(RaisesEof([&] { in.ReadOctet(); }));
}

TEST(MemoryStream, EmptyStreamOverNoBlockRaisesEof)
{
    CEmber_MemoryStream in(nullptr, 0);
    EXPECT_TRUE(RaisesEof([&] { in.ReadOctet(); }));
}

} // namespace
