#include "ember/ber/integer_codec.h"

#include "tests/support/ber_helpers.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using testing_support::EncodedHex;
using testing_support::Hex;
using testing_support::RaisesEof;

TEST(IntegerCodec, EncodesInTheFewestOctets)
{
    struct Row
    {
        int32_t value;
        int32_t size;
        const char* octets;
    };
    const Row rows[] = {
        {0, 1, "00"},
        {127, 1, "7F"},
        {-1, 1, "FF"},
        {-128, 1, "80"},
        {128, 2, "00 80"},
        {255, 2, "00 FF"},
        {-129, 2, "FF 7F"},
        {-32768, 2, "80 00"},
        {32768, 3, "00 80 00"},
        {-32769, 3, "FF 7F FF"},
        {0x800000, 4, "00 80 00 00"},
        {-8388609, 4, "FF 7F FF FF"},
        {std::numeric_limits<int32_t>::min(), 4, "80 00 00 00"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.value);
        EXPECT_EQ(IntegerSize(row.value), row.size);
        EXPECT_EQ(Integer64Size(row.value), row.size);
        EXPECT_EQ(EncodedHex([&](auto& out) { EncodeInteger(out, row.value, row.size); }),
                  row.octets);
        EXPECT_EQ(EncodedHex([&](auto& out) { EncodeInteger64(out, row.value, row.size); }),
                  row.octets);
    }
}

// For every octet count n: the largest and the smallest value of n octets
// take n, the values just outside them n + 1; all of them read back.
TEST(IntegerCodec, RoundTripsAtEverySizeBoundary)
{
    for (int32_t n = 1; n <= 8; ++n) {
        const uint64_t half = uint64_t(1) << (8 * n - 1);
        const int64_t top = int64_t(half - 1), bottom = int64_t(0 - half);
        const int64_t values[] = {top, bottom, int64_t(half), int64_t(0 - half - 1)};
        for (int i = 0; i < (n == 8 ? 2 : 4); ++i) {
            const int64_t value = values[i];
            SCOPED_TRACE(value);
            const int32_t size = i < 2 ? n : n + 1;
            EXPECT_EQ(Integer64Size(value), size);
            CEmber_OutputBuffer out64;
            EXPECT_EQ(EncodeInteger64(out64, value, size), size);
            CEmber_MemoryStream in64(out64.Data(), out64.Used());
            EXPECT_EQ(DecodeInteger64(in64, out64.Used()), value);
            if (value != int32_t(value))
                continue;
            EXPECT_EQ(IntegerSize(int32_t(value)), size);
            CEmber_OutputBuffer out;
            EXPECT_EQ(EncodeInteger(out, int32_t(value), size), size);
            CEmber_MemoryStream in(out.Data(), out.Used());
            EXPECT_EQ(DecodeInteger(in, out.Used()), value);
        }
    }
}

TEST(IntegerCodec, DecodesBigEndianTwosComplement)
{
    struct Row
    {
        const char* octets;
        int32_t value32;
        int64_t value64;
    };
    const Row rows[] = {
        {"FF", -1, -1},
        {"00 FF", 255, 255},
        {"80 00", -32768, -32768},
        // Longer than the result: only the low-order bits stay.
        {"01 00 00 00 05", 5, 0x100000005},
        {"FF 80 00 00 00", std::numeric_limits<int32_t>::min(), -0x80000000LL},
        {"01 80 00 00 00 00 00 00 00", 0, std::numeric_limits<int64_t>::min()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.octets);
        const auto octets = Hex(row.octets);
        CEmber_MemoryStream in(octets.data(), uint32_t(octets.size()));
        EXPECT_EQ(DecodeInteger(in, uint32_t(octets.size())), row.value32);
        in.Attach(octets.data(), uint32_t(octets.size()));
        EXPECT_EQ(DecodeInteger64(in, uint32_t(octets.size())), row.value64);
        in.Attach(octets.data(), uint32_t(octets.size()) - 1);
        EXPECT_TRUE(RaisesEof([&] { DecodeInteger(in, uint32_t(octets.size())); }));
    }
}

TEST(IntegerCodec, Boolean)
{
    EXPECT_EQ(EncodedHex([](auto& out) { EXPECT_EQ(EncodeBoolean(out, true), 1); }), "FF");
    EXPECT_EQ(EncodedHex([](auto& out) { EXPECT_EQ(EncodeBoolean(out, false), 1); }), "00");
    const auto octets = Hex("00 01 80");
    CEmber_MemoryStream in(octets.data(), uint32_t(octets.size()));
    EXPECT_FALSE(DecodeBoolean(in));
    EXPECT_TRUE(DecodeBoolean(in));
    EXPECT_TRUE(DecodeBoolean(in));
    EXPECT_TRUE(RaisesEof([&] { DecodeBoolean(in); }));
}

} // namespace
