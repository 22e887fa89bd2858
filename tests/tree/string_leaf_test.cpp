#include "ember/tree/string_leaf.h"

#include "ember/ber/text_list.h"
#include "tests/support/tree_helpers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using testing_support::EncodeToHex;
using testing_support::ToHex;
using Pieces = std::vector<std::string>;

Pieces Rendered(const CEmber_Leaf& leaf)
{
    CEmber_TextList list;
    leaf.RenderValue(list);
    return testing_support::Pieces(list);
}

TEST(StringLeaf, TextIsCopiedAndOnlyTheHeaderIsCached)
{
    char text[] = "ab";
    CEmber_UTF8String leaf(0x40, 3, text);
    text[0] = 'X';
    EXPECT_EQ(EncodeToHex(leaf), "63 04 0C 02 61 62");
    EXPECT_EQ(ToHex(leaf.GetCache(), 4), "63 04 0C 02");
    EXPECT_EQ(leaf.GetEncodedLength(), 6u);
    EXPECT_EQ(leaf.GetType(), 12);
    EXPECT_EQ(Rendered(leaf), Pieces{"ab"});

    // Octets pass unchanged: no escaping, no UTF-8 check.
    const char raw[] = "<&>\xFF";
    EXPECT_EQ(Rendered(CEmber_UTF8String(0x80, 1, raw)), Pieces{raw});
    EXPECT_EQ(EncodeToHex(CEmber_UTF8String(0x80, 1, raw)), "A1 06 0C 04 3C 26 3E FF");
}

TEST(StringLeaf, EmptyAndMissingTextEncodeTheHeaderAlone)
{
    CEmber_UTF8String empty(0x40, 3, "");
    EXPECT_EQ(EncodeToHex(empty), "63 02 0C 00");
    ASSERT_NE(empty.GetText(), nullptr);

    CEmber_UTF8String none(0x40, 3, nullptr);
    EXPECT_EQ(EncodeToHex(none), "63 02 0C 00");
    EXPECT_EQ(none.GetEncodedLength(), 4u);
    EXPECT_EQ(none.GetText(), nullptr);
    EXPECT_EQ(Rendered(none), Pieces{""});

    EXPECT_EQ(EncodeToHex(CEmber_OctetString(0x40, 4, EmberContentLength{0})), "64 02 04 00");
}

TEST(StringLeaf, HeaderFromTheLengthCoversStorageFilledLater)
{
    const struct
    {
        uint32_t number, length;
        const char* header;
    } cases[] = {
        {3, 2, "63 04 0C 02"},
        {3, 127, "63 82 00 81 0C 7F"},
        {3, 128, "63 82 00 84 0C 82 00 80"},
        {3, 200, "63 82 00 CC 0C 82 00 C8"},
        {0xFFFFFFFF, 0x800000, "7F 8F FF FF FF 7F 84 00 80 00 06 0C 84 00 80 00 00"}, // 17 octets
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        CEmber_UTF8String leaf(0x40, c.number, EmberContentLength{c.length});
        EXPECT_EQ(leaf.GetText()[c.length], '\0');
        std::memset(leaf.GetText(), 'a', c.length);
        testing_support::RecordingStream out;
        leaf.Encode(out);
        const size_t header = testing_support::Hex(c.header).size();
        ASSERT_EQ(out.octets.size(), header + c.length);
        EXPECT_EQ(leaf.GetEncodedLength(), out.octets.size());
        EXPECT_EQ(ToHex(out.octets.data(), header), c.header);
        EXPECT_EQ(out.octets.back(), 'a');
    }

    CEmber_OctetString data(0x40, 4, EmberContentLength{3});
    std::memcpy(data.GetData(), "\x01\xAB\xFF", 3);
    EXPECT_EQ(EncodeToHex(data), "64 05 04 03 01 AB FF");
    EXPECT_EQ(data.GetType(), 4);
}

TEST(StringLeaf, OctetStringRendersRunsOf32Octets)
{
    // Octet i holds i * 7, so every run reads differently.
    auto digits = [](uint32_t from, uint32_t to) {
        std::string text;
        for (uint32_t i = from; i < to; ++i)
            text += ToHex(std::vector<uint8_t>{uint8_t(i * 7)});
        return text;
    };
    ASSERT_EQ(digits(0, 3), "00070E");
    const struct
    {
        uint32_t length;
        Pieces pieces;
    } cases[] = {
        {0, {"\r\n"}},
        {3, {digits(0, 3), "\r\n"}},
        {32, {digits(0, 32), "\r\n"}},
        {40, {"\r\n", digits(0, 32), digits(32, 40), "\r\n"}},
        {64, {"\r\n", digits(0, 32), digits(32, 64), "\r\n"}},
        {65, {"\r\n", digits(0, 32), "\r\n", digits(32, 64), digits(64, 65), "\r\n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        CEmber_OctetString leaf(0x40, 4, EmberContentLength{c.length});
        for (uint32_t i = 0; i < c.length; ++i)
            leaf.GetData()[i] = uint8_t(i * 7);
        EXPECT_EQ(Rendered(leaf), c.pieces);
    }
}

} // namespace
