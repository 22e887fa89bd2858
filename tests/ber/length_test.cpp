#include "ember/ber/length.h"

#include "ember/ber/types.h"
#include "tests/support/ber_helpers.h"

#include <gtest/gtest.h>

namespace {

using testing_support::EncodedHex;
using testing_support::Hex;
using testing_support::RaisesEof;

// Long forms count the octets of the length taken as a signed 32-bit value,
// so a top octet with bit 0x80 set gets a leading 0x00.
TEST(Length, EncodesAndDecodesAtEveryOctetCountBoundary)
{
    struct Row
    {
        uint32_t length;
        const char* octets;
    };
    const Row rows[] = {
        {0, "00"},
        {127, "7F"},
        {128, "82 00 80"},
        {200, "82 00 C8"},
        {255, "82 00 FF"},
        {256, "82 01 00"},
        {32767, "82 7F FF"},
        {32768, "83 00 80 00"},
        {65535, "83 00 FF FF"},
        {65536, "83 01 00 00"},
        {0x7FFFFF, "83 7F FF FF"},
        {0x800000, "84 00 80 00 00"},
        {0x7FFFFFFF, "84 7F FF FF FF"},
        {0x80000000, "84 80 00 00 00"},
        {0xFF7FFFFF, "84 FF 7F FF FF"},
        {0xFF800000, "84 FF 80 00 00"},
        {0xFFFFFF80, "84 FF FF FF 80"},
        {0xFFFFFFFE, "84 FF FF FF FE"},
        {IndefiniteLength, "80"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.length);
        int32_t count = 0;
        EXPECT_EQ(EncodedHex([&](auto& out) { count = EncodeLength(out, row.length); }),
                  row.octets);
        const auto octets = Hex(row.octets);
        EXPECT_EQ(size_t(count), octets.size());
        EXPECT_EQ(LengthSize(row.length), count);
        CEmber_MemoryStream in(octets.data(), uint32_t(octets.size()));
        EXPECT_EQ(DecodeLength(in), row.length);
        EXPECT_EQ(in.Position(), octets.size());
    }
}

TEST(Length, RoundTripsAcrossTheRange)
{
    for (uint64_t step = 0; step <= 0xFFFFFFFF; step = step * 3 + 1) {
        for (uint32_t length : {uint32_t(step), uint32_t(0xFFFFFFFF - step)}) {
            SCOPED_TRACE(length);
            CEmber_OutputBuffer out;
            const int32_t count = EncodeLength(out, length);
            EXPECT_EQ(uint32_t(count), out.Used());
            EXPECT_EQ(LengthSize(length), count);
            CEmber_MemoryStream in(out.Data(), out.Used());
            EXPECT_EQ(DecodeLength(in), length);
        }
    }
}

TEST(Length, HeaderSizeAddsIdentifierAndLengthOctets)
{
    EXPECT_EQ(HeaderSize(0x80, 1, 200), 4);
    EXPECT_EQ(HeaderSize(0x80, 1, 127), 2);
    EXPECT_EQ(HeaderSize(0x40, 31, 5), 3);
    EXPECT_EQ(HeaderSize(0x40, 0xFFFFACDC, 65536), 10);
    EXPECT_EQ(HeaderSize(0x80, 1, IndefiniteLength), 2);
}

TEST(Length, DecodesLenientFormsAndRaisesEofWhenTruncated)
{
    struct Row
    {
        const char* octets;
        uint32_t length;
    };
    const Row rows[] = {
        {"81 C8", 200},
        {"84 00 00 00 05", 5},
        {"84 FF FF FF FF", IndefiniteLength},
        {"05 FF", 5},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.octets);
        const auto octets = Hex(row.octets);
        CEmber_MemoryStream in(octets.data(), uint32_t(octets.size()));
        EXPECT_EQ(DecodeLength(in), row.length);
    }
    for (const char* octets : {"", "82 01", "84 00 00 00"}) {
        SCOPED_TRACE(octets);
        const auto bytes = Hex(octets);
        CEmber_MemoryStream in(bytes.data(), uint32_t(bytes.size()));
        EXPECT_TRUE(RaisesEof([&] { DecodeLength(in); }));
    }
}

} // namespace
