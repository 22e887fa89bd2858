#include "ember/ber/tag.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Tag, TextForm)
{
    struct Row
    {
        const char* name;
        CEmber_Tag tag;
        const char* text;
    };
    const Row rows[] = {
        {"application", CEmber_Tag::FromIdentifier(0x40, 1), "A-1"},
        {"context-specific", CEmber_Tag::FromClass(0x80, 0), "C-0"},
        {"constructed universal", CEmber_Tag::FromIdentifier(0x20, 16), "U-16!C"},
        {"empty tag", CEmber_Tag(), "U-0"},
        {"identifier bits keep the constructed bit", CEmber_Tag::FromIdentifier(0x60, 5), "A-5!C"},
        {"class bits drop the constructed bit", CEmber_Tag::FromClass(0x60, 5), "A-5"},
        {"low five bits dropped", CEmber_Tag::FromIdentifier(0xFF, 7), "P-7!C"},
        {"root tag", CEmber_Tag::FromClass(0x40, 0xFFFFACDC), "A-4294946012"},
        {"largest private tag", CEmber_Tag::FromIdentifier(0xE0, 0xFFFFFFFF), "P-4294967295!C"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.tag.ToText(), row.text);
        char buffer[32];
        EXPECT_EQ(row.tag.ToText(buffer, sizeof buffer), int(std::string(row.text).size()));
        EXPECT_STREQ(buffer, row.text);
    }
}

TEST(Tag, ClassLetterLooksOnlyAtTheClassBits)
{
    EXPECT_STREQ(ClassLetter(eeBerClass_Universal), "U");
    EXPECT_STREQ(ClassLetter(eeBerClass_Application), "A");
    EXPECT_STREQ(ClassLetter(eeBerClass_ContextSpecific), "C");
    EXPECT_STREQ(ClassLetter(eeBerClass_Private), "P");
    EXPECT_STREQ(ClassLetter(0x3F), "U");
    EXPECT_STREQ(ClassLetter(0xFFFFFFBF), "C");
}

TEST(Tag, EqualityIncludesTheConstructedBit)
{
    const CEmber_Tag primitive = CEmber_Tag::FromIdentifier(0x80, 3);
    const CEmber_Tag constructed = CEmber_Tag::FromIdentifier(0xA0, 3);
    EXPECT_FALSE(primitive == constructed);
    EXPECT_TRUE(primitive == constructed.WithoutConstructed());
    EXPECT_TRUE(primitive == CEmber_Tag::FromClass(0xA0, 3));
    EXPECT_FALSE(primitive == CEmber_Tag::FromIdentifier(0x80, 4));
    EXPECT_FALSE(primitive == CEmber_Tag::FromIdentifier(0x40, 3));
    EXPECT_TRUE(CEmber_Tag().IsEmpty());
    EXPECT_FALSE(CEmber_Tag::FromIdentifier(0x20, 0).IsEmpty());
}

} // namespace
