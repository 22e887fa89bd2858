// The tool's one reader of hex text: whole and split anywhere.
#include "protocol/hex_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct HexCase
{
    std::string text;
    bool ok;
    std::vector<uint8_t> octets; // when ok
    std::string error;           // when not
};

const HexCase kCases[] = {
    {"", true, {}, ""},
    {"7f8F ff\n\tFE\r\n", true, {0x7F, 0x8F, 0xFF, 0xFE}, ""},
    {"# a comment 12 34\n01 # another: zz\n02", true, {0x01, 0x02}, ""},
    {"0# the digit pair is split by a comment\n1", true, {0x01}, ""},
    {"01 #no line end at the end", true, {0x01}, ""},
    {"01 G2", false, {}, "'G' at offset 3 is not a hexadecimal digit"},
    {"01\n\x01", false, {}, "octet 0x01 at offset 3 is not a hexadecimal digit"},
    {"01 \xFF", false, {}, "octet 0xFF at offset 3 is not a hexadecimal digit"},
    {"012", false, {}, "odd number of hexadecimal digits (3)"},
    {"01 # 2\n3", false, {}, "odd number of hexadecimal digits (3)"},
};

TEST(HexText, WholeText)
{
    for (const HexCase& c : kCases) {
        SCOPED_TRACE(c.text);
        std::vector<uint8_t> octets;
        std::string error;
        EXPECT_EQ(ParseHexText(c.text, octets, error), c.ok);
        if (c.ok)
            EXPECT_EQ(octets, c.octets);
        else
            EXPECT_EQ(error, c.error);
    }
}

TEST(HexText, SplitAnywhere)
{
    for (const HexCase& c : kCases) {
        for (size_t cut = 0; cut <= c.text.size(); ++cut) {
            SCOPED_TRACE(c.text + " cut at " + std::to_string(cut));
            CHexTextReader reader;
            std::vector<uint8_t> octets;
            std::string error;
            const bool ok = reader.Feed(c.text.data(), cut, octets, error) &&
                            reader.Feed(c.text.data() + cut, c.text.size() - cut, octets, error) &&
                            reader.Finish(error);
            EXPECT_EQ(ok, c.ok);
            if (c.ok)
                EXPECT_EQ(octets, c.octets);
            else
                EXPECT_EQ(error, c.error);
        }
    }
}

TEST(HexText, LooksLikeHex)
{
    const auto looks = [](const std::string& text) {
        return LooksLikeHexText(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    };
    EXPECT_TRUE(looks("7F8FFFFED95C803080 A1 03\n"));
    EXPECT_TRUE(looks("# capture\n7f 8f"));
    EXPECT_FALSE(looks(""));
    EXPECT_FALSE(looks("# only a comment\n"));
    EXPECT_FALSE(looks("7F8F\x7F"));
    EXPECT_FALSE(looks("hello"));
}

} // namespace
