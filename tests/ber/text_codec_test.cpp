#include "ember/ber/text_codec.h"

#include "tests/support/ber_helpers.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using testing_support::EncodedHex;
using testing_support::Hex;
using testing_support::RaisesEof;

TEST(TextCodec, EncodesCharactersWithoutTerminator)
{
    int32_t count = -1;
    EXPECT_EQ(EncodedHex([&](auto& out) { count = EncodeString(out, "Gain"); }), "47 61 69 6E");
    EXPECT_EQ(count, 4);
    EXPECT_EQ(EncodedHex([&](auto& out) { count = EncodeString(out, ""); }), "");
    EXPECT_EQ(count, 0);
    // Octets are carried as they are, with no character-set conversion.
    EXPECT_EQ(EncodedHex([](auto& out) { EncodeString(out, "\xC3\xA9\xFF"); }), "C3 A9 FF");
}

TEST(TextCodec, DecodesIntoTheCallersBuffer)
{
    const auto octets = Hex("61 00 62 63");
    char text[6];
    std::memset(text, 0x55, sizeof text);
    CEmber_MemoryStream in(octets.data(), uint32_t(octets.size()));
    DecodeString(in, text, 4);
    EXPECT_EQ(std::memcmp(text, "a\0bc\0\x55", 6), 0); // terminated, nothing written past it
    EXPECT_TRUE(RaisesEof([&] { DecodeString(in, text, 1); }));

    uint8_t raw[5] = {0x55, 0x55, 0x55, 0x55, 0x55};
    in.Attach(octets.data(), uint32_t(octets.size()));
    DecodeOctetString(in, raw, 4);
    EXPECT_EQ(testing_support::ToHex(raw, 5), "61 00 62 63 55"); // nothing added
    in.Attach(octets.data(), 2);
    EXPECT_TRUE(RaisesEof([&] { DecodeOctetString(in, raw, 3); }));
}

TEST(TextCodec, ObjectIdentifierPairRoundTrips)
{
    struct Row
    {
        uint32_t high;
        uint32_t low;
        const char* octets;
    };
    const Row rows[] = {
        {1, 300, "01 82 2C"},
        {0, 0, "00 00"},
        {127, 128, "7F 81 00"},
        {0x0FFFFFFF, 0x10000000, "FF FF FF 7F 81 80 80 80 00"},
        {0xFFFFFFFF, 0xFFFFFFFF, "8F FF FF FF 7F 8F FF FF FF 7F"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.octets);
        const uint64_t pair = (uint64_t(row.high) << 32) | row.low;
        int32_t count = 0;
        EXPECT_EQ(EncodedHex([&](auto& out) { count = EncodeObjectIdentifier(out, pair); }),
                  row.octets);
        const auto octets = Hex(row.octets);
        EXPECT_EQ(size_t(count), octets.size());
        CEmber_MemoryStream in(octets.data(), uint32_t(octets.size()));
        EXPECT_EQ(DecodeObjectIdentifier(in), pair);
    }
}

TEST(TextCodec, ObjectIdentifierReadsTwoSubIdentifiersOnly)
{
    const auto octets = Hex("01 82 2C 05");
    CEmber_MemoryStream in(octets.data(), uint32_t(octets.size()));
    EXPECT_EQ(DecodeObjectIdentifier(in), (uint64_t(1) << 32) | 300);
    EXPECT_EQ(in.Position(), 3u);
    for (const char* truncated : {"", "01", "81 82", "01 82"}) {
        SCOPED_TRACE(truncated);
        const auto bytes = Hex(truncated);
        CEmber_MemoryStream shortIn(bytes.data(), uint32_t(bytes.size()));
        EXPECT_TRUE(RaisesEof([&] { DecodeObjectIdentifier(shortIn); }));
    }
}

} // namespace
