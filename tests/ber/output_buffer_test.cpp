#include "ember/ber/output_buffer.h"

#include "tests/support/hex.h"

#include <gtest/gtest.h>

#include <new>
#include <vector>

namespace {

using testing_support::ToHex;

TEST(OutputBuffer, GrowsByHalfItsCapacityUpTo16384)
{
    const std::vector<uint32_t> expected = {256,   384,   576,   864,   1296,  1944,
                                            2916,  4374,  6561,  9841,  14761, 22141,
                                            33211, 49595, 65979, 82363, 98747};
    CEmber_OutputBuffer buffer;
    std::vector<uint32_t> capacities;
    for (uint32_t i = 0; i < 90000; ++i) {
        buffer.WriteByte(uint8_t(i * 7));
        if (capacities.empty() || capacities.back() != buffer.Capacity())
            capacities.push_back(buffer.Capacity());
    }
    EXPECT_EQ(capacities, expected);
    ASSERT_EQ(buffer.Used(), 90000u);
    for (uint32_t i = 0; i < 90000; ++i)
        ASSERT_EQ(buffer.Data()[i], uint8_t(i * 7)) << i; // kept through every move
}

TEST(OutputBuffer, CapacityExamples)
{
    const std::vector<uint8_t> block(40000, 0xAB);
    CEmber_OutputBuffer small;
    EXPECT_EQ(small.Write(block.data(), 13), 13u);
    EXPECT_EQ(small.Capacity(), 256u);
    small.Write(block.data(), 243);
    EXPECT_EQ(small.Capacity(), 256u); // exactly full is enough
    small.WriteByte(0x01);
    EXPECT_EQ(small.Capacity(), 384u);
    EXPECT_EQ(small.Used(), 257u);

    CEmber_OutputBuffer large;
    large.Write(block.data(), 300);
    EXPECT_EQ(large.Capacity(), 300u);
    large.WriteByte(0x01);
    EXPECT_EQ(large.Capacity(), 450u);

    CEmber_OutputBuffer capped;
    capped.Write(block.data(), 40000);
    capped.WriteByte(0x01);
    EXPECT_EQ(capped.Capacity(), 56384u); // the step is at most 16384

    CEmber_OutputBuffer jump;
    jump.WriteByte(0x01);
    jump.Write(block.data(), 999);
    EXPECT_EQ(jump.Capacity(), 1128u); // 1000 + 128
    jump.Write(block.data(), 20000);
    EXPECT_EQ(jump.Capacity(), 21564u); // 21000 + 564

    CEmber_OutputBuffer empty;
    EXPECT_EQ(empty.Write(block.data(), 0), 0u);
    EXPECT_EQ(empty.Used(), 0u);
    EXPECT_EQ(empty.Capacity(), 0u);
    EXPECT_EQ(empty.Data(), nullptr);
}

TEST(OutputBuffer, CopyOut)
{
    uint8_t destination[6] = {0, 0, 0, 0, 0, 0};
    CEmber_OutputBuffer never;
    EXPECT_EQ(never.CopyOut(destination, 6), 0u);

    CEmber_OutputBuffer buffer;
    const uint8_t octets[] = {0x0A, 0x0B, 0x0C};
    buffer.Write(octets, 2);
    buffer.WriteByte(octets[2]);
    EXPECT_EQ(buffer.CopyOut(destination, 6), 3u);
    EXPECT_EQ(ToHex(destination, 6), "0A 0B 0C 00 00 00");

    uint8_t two[3] = {0xEE, 0xEE, 0xEE};
    EXPECT_EQ(buffer.CopyOut(two, 2), 2u);
    EXPECT_EQ(ToHex(two, 3), "0A 0B EE");
    EXPECT_EQ(ToHex(buffer.Data(), buffer.Used()), "0A 0B 0C"); // unchanged
}

TEST(OutputBuffer, WriteBeyond32BitsFailsAndKeepsTheOctets)
{
    CEmber_OutputBuffer buffer;
    buffer.WriteByte(0x11);
    const uint8_t octet = 0x22;
    EXPECT_THROW(buffer.Write(&octet, UINT32_MAX), std::bad_alloc);
    EXPECT_EQ(buffer.Used(), 1u);
    EXPECT_EQ(buffer.Capacity(), 256u);
    EXPECT_EQ(buffer.Data()[0], 0x11);
}

} // namespace
