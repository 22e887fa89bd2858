#include "ember/ber/identifier.h"

#include "tests/support/ber_helpers.h"

#include <gtest/gtest.h>

namespace {

using testing_support::EncodedHex;
using testing_support::Hex;
using testing_support::RaisesEof;

TEST(Identifier, EncodesKnownVectors)
{
    struct Row
    {
        const char* name;
        uint32_t bits;
        uint32_t number;
        const char* octets;
    };
    const Row rows[] = {
        {"number 0", 0xA0, 0, "A0"},
        {"number 30 still short", 0xA0, 30, "BE"},
        {"number 31 takes the long form", 0xA0, 31, "BF 1F"},
        {"number 127", 0xA0, 127, "BF 7F"},
        {"number 128", 0xA0, 128, "BF 81 00"},
        {"largest number", 0xA0, 0xFFFFFFFF, "BF 8F FF FF FF 7F"},
        {"root tag", 0x60, 0xFFFFACDC, "7F 8F FF FE D9 5C"},
        {"low five bits of the class dropped", 0x7F, 1, "61"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        int32_t count = 0;
        const auto write = [&](auto& out) { count = EncodeIdentifier(out, row.bits, row.number); };
        EXPECT_EQ(EncodedHex(write), row.octets);
        EXPECT_EQ(size_t(count), Hex(row.octets).size());
        EXPECT_EQ(IdentifierSize(row.bits, row.number), count);
    }
}

TEST(Identifier, RoundTripsEveryOctetCountBoundary)
{
    const uint32_t numbers[] = {0,        30,
                                31,       127,
                                128,      (1u << 14) - 1,
                                1u << 14, (1u << 21) - 1,
                                1u << 21, (1u << 28) - 1,
                                1u << 28, 0xFFFFFFFF};
    const int32_t sizes[] = {1, 1, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5};
    for (size_t i = 0; i < std::size(numbers); ++i) {
        const uint32_t number = numbers[i];
        SCOPED_TRACE(number);
        EXPECT_EQ(TagNumberSize(number), sizes[i]);
        CEmber_OutputBuffer plain;
        EXPECT_EQ(EncodeTagNumber(plain, number), sizes[i]);
        CEmber_MemoryStream plainIn(plain.Data(), plain.Used());
        EXPECT_EQ(DecodeTagNumber(plainIn), number);
        EXPECT_EQ(plainIn.Position(), plain.Used());

        for (uint32_t bits : {0x00u, 0x20u, 0x40u, 0x60u, 0x80u, 0xA0u, 0xC0u, 0xE0u}) {
            CEmber_OutputBuffer out;
            const int32_t count = EncodeIdentifier(out, bits, number);
            EXPECT_EQ(count, IdentifierSize(bits, number));
            EXPECT_EQ(uint32_t(count), out.Used());
            CEmber_MemoryStream in(out.Data(), out.Used());
            EXPECT_EQ(DecodeIdentifier(in), CEmber_Tag::FromIdentifier(bits, number));
            EXPECT_EQ(in.Position(), out.Used());
        }
    }
}

TEST(Identifier, DecodesLenientFormsAndRaisesEofWhenTruncated)
{
    struct Row
    {
        const char* name;
        const char* octets;
        uint8_t bits;
        uint32_t number;
    };
    const Row rows[] = {
        {"long form of a small number", "5F 05", 0x40, 5},
        {"leading 0x80 group", "5F 80 05", 0x40, 5},
        {"more than 32 bits keeps the low 32", "1F 81 80 80 80 80 05", 0x00, 5},
        {"octets after the identifier are left", "A3 A4", 0xA0, 3},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto octets = Hex(row.octets);
        CEmber_MemoryStream in(octets.data(), uint32_t(octets.size()));
        EXPECT_EQ(DecodeIdentifier(in), CEmber_Tag::FromIdentifier(row.bits, row.number));
    }
    for (const char* octets : {"", "BF", "BF 81", "BF 8F FF FF FF"}) {
        SCOPED_TRACE(octets);
        const auto bytes = Hex(octets);
        CEmber_MemoryStream in(bytes.data(), uint32_t(bytes.size()));
        EXPECT_TRUE(RaisesEof([&] { DecodeIdentifier(in); }));
    }
}

} // namespace
