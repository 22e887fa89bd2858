#include "ember/ber/raw_item.h"

#include "ember/ber/types.h"
#include "tests/support/ber_helpers.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace {

using testing_support::Hex;
using testing_support::Raises;

// Stands in for the reader: its RaiseError adds a location to the message,
// which shows that a getter went through the virtual slot.
class LocatingItem : public CEmber_RawItem
{
public:
    [[noreturn]] void RaiseError(int32_t code, const char* message) override
    {
        ++raised;
        throw CEmber_Exception(code, std::string("@C-1/C-2: ") + message);
    }

    void Hold(const std::string& hex, bool constructed = false)
    {
        content = Hex(hex);
        SetHeader(CEmber_Tag::FromClass(eeBerClass_ContextSpecific, 2), eeBerType_Integer,
                  constructed, uint32_t(content.size()));
        SetContent(content.empty() ? nullptr : content.data(), uint32_t(content.size()));
    }

    // Raise, which the getters use, for any number.
    void RaiseCode(int32_t code) { Raise(code); }

    int raised = 0;
    std::vector<uint8_t> content;
};

TEST(RawItem, RaisingAnUnregisteredCodeGivesTheFallbackMessage)
{
    LocatingItem item;
    EXPECT_TRUE(Raises([&] { item.RaiseCode(150); }, 150, "@C-1/C-2: Unregistered error"));
    EXPECT_TRUE(Raises([&] { item.RaiseCode(eeError_InvalidReal); }, 204,
                       "@C-1/C-2: Invalid Real encoding"));
}

using Getter = std::function<void(CEmber_RawItem&)>;

TEST(RawItem, GettersRaiseTheirCodesThroughRaiseError)
{
    char text[64];
    uint8_t octets[64];
    const Getter boolean = [](CEmber_RawItem& item) { item.GetBoolean(); };
    const Getter integer = [](CEmber_RawItem& item) { item.GetInteger(); };
    const Getter integer64 = [](CEmber_RawItem& item) { item.GetInteger64(); };
    const Getter real = [](CEmber_RawItem& item) { item.GetReal(); };
    const Getter string = [&](CEmber_RawItem& item) { item.GetString(text); };
    const Getter octetString = [&](CEmber_RawItem& item) { item.GetOctetString(octets); };
    const Getter oid = [](CEmber_RawItem& item) { item.GetObjectIdentifier(); };
    const Getter time = [](CEmber_RawItem& item) { item.GetGeneralizedTime(); };
    struct Row
    {
        const char* name;
        Getter get;
        const char* content;
        bool constructed;
        int code;
    };
    const Row rows[] = {
        {"control: valid integer", integer, "05", false, 0},
        {"constructed Boolean", boolean, "01", true, 201},
        {"empty Boolean", boolean, "", false, 201},
        {"constructed Integer", integer, "05", true, 202},
        {"empty Integer", integer, "", false, 202},
        {"constructed Integer64", integer64, "05", true, 203},
        {"empty Integer64", integer64, "", false, 203},
        {"constructed Real", real, "80 00 01", true, 204},
        {"Real with zero mantissa", real, "80 00", false, 204},
        {"Real with 54-bit mantissa", real, "80 00 3F FF FF FF FF FF FF", false, 204},
        {"Real with exponent 1025", real, "81 04 01 01", false, 204},
        {"constructed String", string, "41", true, 205},
        {"constructed OctetString", octetString, "41", true, 206},
        {"constructed ObjectIdentifier", oid, "01 02", true, 207},
        {"empty ObjectIdentifier", oid, "", false, 207},
        {"constructed GeneralizedTime", time, "30", true, 208},
        {"empty GeneralizedTime", time, "", false, 208},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LocatingItem item;
        item.Hold(row.content, row.constructed);
        if (row.code == 0)
            EXPECT_NO_THROW(row.get(item));
        else
            EXPECT_TRUE(Raises([&] { row.get(item); }, row.code,
                               std::string("@C-1/C-2: ") + EmberErrorMessage(row.code)));
        EXPECT_EQ(item.raised, row.code == 0 ? 0 : 1);
    }

    // Reading past the content is "EOF" from the stream, without a location.
    for (const auto& [content, get] : {std::pair{"42", real}, {"81 00", real}, {"01", oid}}) {
        SCOPED_TRACE(content);
        LocatingItem item;
        item.Hold(content);
        EXPECT_TRUE(testing_support::RaisesEof([&] { get(item); }));
        EXPECT_EQ(item.raised, 0);
    }

    CEmber_RawItem plain; // throws the message unchanged
    EXPECT_TRUE(Raises([&] { plain.GetInteger(); }, 202, "Invalid Integer encoding"));
}

TEST(RawItem, GettersDecodeTheWholeContent)
{
    LocatingItem item;
    item.Hold("00 FF");
    EXPECT_FALSE(item.GetBoolean()); // only the first octet counts
    item.Hold("01 00 00 00 05");
    EXPECT_EQ(item.GetInteger(), 5);
    EXPECT_EQ(item.GetInteger64(), 0x100000005);
    item.Hold("");
    EXPECT_EQ(item.GetReal(), 0.0);
    char text[8] = "x";
    item.GetString(text);
    EXPECT_STREQ(text, "");
    item.Hold("41");
    EXPECT_EQ(item.GetReal(), -std::numeric_limits<double>::infinity());
    uint8_t octets[3] = {0x55, 0x55, 0x55};
    item.Hold("00 FF");
    item.GetOctetString(octets);
    EXPECT_EQ(testing_support::ToHex(octets, 3), "00 FF 55");
    item.Hold("01 82 2C 7F"); // octets after the second sub-identifier ignored
    EXPECT_EQ(item.GetObjectIdentifier(), (uint64_t(1) << 32) | 300);
    item.Hold("32 30 31 31 31 30 32 37 31 32 33 34 35 36 2E 37 38 39 5A");
    EXPECT_EQ(item.GetGeneralizedTime(), 129641924967890000u);
    EXPECT_EQ(item.raised, 0);

    item.ResetItem(); // an empty primitive item again
    EXPECT_TRUE(item.GetOuterTag().IsEmpty());
    EXPECT_EQ(item.GetItemType(), 0u);
    EXPECT_EQ(item.GetContent(), nullptr);
    EXPECT_TRUE(Raises([&] { item.GetInteger(); }, 202, "@C-1/C-2: Invalid Integer encoding"));
}

} // namespace
