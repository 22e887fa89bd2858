#include "ember/tree/node_factory.h"

#include "ember/ber/exception.h"
#include "ember/ber/raw_item.h"
#include "ember/ber/text_list.h"
#include "ember/tree/leaf.h"
#include "ember/tree/root.h"
#include "ember/tree/set.h"
#include "ember/tree/string_leaf.h"
#include "tests/support/tree_helpers.h"

#include <gtest/gtest.h>

#include <typeinfo>
#include <vector>

namespace {

using testing_support::EncodeToHex;
using testing_support::Hex;

const CEmber_Tag kApp3 = CEmber_Tag::FromClass(0x40, 3);

// An item as the reader leaves it: header fields plus a view of the content.
struct Item
{
    Item(const CEmber_Tag& tag, uint32_t type, bool constructed, const char* content = "")
        : octets(Hex(content))
    {
        raw.SetHeader(tag, type, constructed, uint32_t(octets.size()));
        raw.SetContent(octets.data(), uint32_t(octets.size()));
    }
    std::vector<uint8_t> octets;
    CEmber_RawItem raw;
};

std::string Rendered(const CEmber_Node& node)
{
    CEmber_TextList list;
    static_cast<const CEmber_Leaf&>(node).RenderValue(list);
    return list.Join();
}

using Factory = std::unique_ptr<CEmber_Node> (*)(CEmber_RawItem&);

struct LeafRow
{
    const char* name;
    uint32_t type;
    const char* content;
    const std::type_info& leafClass;
    int32_t reportedType;
    const char* render;
    const char* encoding; // encodable mode, tag application 3
};

const LeafRow kLeafRows[] = {
    {"Boolean", 1, "FF", typeid(CEmber_Boolean), 1, "true", "63 03 01 01 FF"},
    {"Integer, 4 octets", 2, "00 00 00 05", typeid(CEmber_Integer32), 2, "5", "63 03 02 01 05"},
    {"Integer 00 05 normalised", 2, "00 05", typeid(CEmber_Integer32), 2, "5", "63 03 02 01 05"},
    {"Integer, 5 octets", 2, "00 00 00 00 05", typeid(CEmber_Integer64), 2, "5", "63 03 02 01 05"},
    {"Integer64 negative", 2, "FF 7F FF FF FF FF", typeid(CEmber_Integer64), 2, "-549755813889",
     "63 08 02 06 FF 7F FF FF FF FF"},
    {"OctetString", 4, "01 AB FF", typeid(CEmber_OctetString), 4, "01ABFF\r\n",
     "63 05 04 03 01 AB FF"},
    {"Real 3.0", 9, "80 01 03", typeid(CEmber_Real), 9, "3.000000", "63 05 09 03 80 01 03"},
    {"Real 0.0", 9, "", typeid(CEmber_Real), 9, "0.000000", "63 02 09 00"},
    {"UTF8String", 12, "61 62", typeid(CEmber_UTF8String), 12, "ab", "63 04 0C 02 61 62"},
    {"UTF8String empty", 12, "", typeid(CEmber_UTF8String), 12, "", "63 02 0C 00"},
    {"RelativeObject", 13, "01 02", typeid(CEmber_RelativeObject), 13, "0000000100000002",
     "63 04 0D 02 01 02"},
    {"GeneralizedTime", 24, "31 36 30 31 30 31 30 31 30 30 30 30 30 30 2E 30 5A",
     typeid(CEmber_GeneralizedTime), 24, "1601-01-01T00:00:00.0Z",
     "63 13 18 11 31 36 30 31 30 31 30 31 30 30 30 30 30 30 2E 30 5A"},
};

// Encodable mode builds from the values (the encoding is the node classes'
// own); plain mode stores value and tag as the item has them, encodes nothing.
TEST(NodeFactory, LeavesInBothModes)
{
    const CEmber_Tag plainTag = CEmber_Tag::FromClass(0xC0, 0xFFFFFFF0);
    for (const auto& row : kLeafRows) {
        SCOPED_TRACE(row.name);
        Item encodableItem(kApp3, row.type, false, row.content);
        Item plainItem(plainTag, row.type, false, row.content);
        const auto encodable = CreateNode(encodableItem.raw);
        const auto plain = CreatePlainNode(plainItem.raw);
        ASSERT_TRUE(encodable && plain);
        for (const CEmber_Node* node : {encodable.get(), plain.get()}) {
            EXPECT_EQ(typeid(*node), row.leafClass);
            EXPECT_EQ(node->GetType(), row.reportedType);
            EXPECT_EQ(Rendered(*node), row.render);
        }
        EXPECT_EQ(encodable->GetTag(), kApp3);
        EXPECT_EQ(EncodeToHex(*encodable), row.encoding);
        EXPECT_EQ(encodable->GetEncodedLength(), Hex(row.encoding).size());
        EXPECT_EQ(plain->GetTag(), plainTag);
        EXPECT_EQ(plain->GetEncodedLength(), 0u);
        EXPECT_EQ(EncodeToHex(*plain), "");
    }
}

TEST(NodeFactory, EmptyTextIsZeroTerminatedInBothModes)
{
    for (Factory create : {&CreateNode, &CreatePlainNode}) {
        Item item(kApp3, 12, false);
        const auto node = create(item.raw);
        const char* text = dynamic_cast<const CEmber_UTF8String&>(*node).GetText();
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(text[0], '\0');
    }
}

// Encodable mode keeps only Sequence (16); every other type becomes a Set.
TEST(NodeFactory, ConstructedItemsAlwaysGiveContainers)
{
    const CEmber_Tag c1 = CEmber_Tag::FromClass(0x80, 1);
    const struct
    {
        CEmber_Tag tag;
        uint32_t type;
        const std::type_info& containerClass;
        int32_t encodableType;
        const char* emptyEncoding;
    } rows[] = {
        {c1, 16, typeid(CEmber_Sequence), 16, "A1 80 30 80 00 00 00 00"},
        {c1, 17, typeid(CEmber_Set), 17, "A1 02 31 00"},
        {c1, 8, typeid(CEmber_Set), 17, "A1 02 31 00"},
        {kRootTag, 16, typeid(CEmber_Root), 16, "7F 8F FF FE D9 5C 80 30 80 00 00 00 00"},
        {kRootTag, 17, typeid(CEmber_Set), 17, "7F 8F FF FE D9 5C 02 31 00"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.emptyEncoding);
        Item item(row.tag, row.type, true);
        const auto encodable = CreateNode(item.raw);
        const auto plain = CreatePlainNode(item.raw);
        ASSERT_TRUE(encodable && plain);
        EXPECT_EQ(typeid(*encodable), row.containerClass);
        EXPECT_EQ(typeid(*plain), row.containerClass);
        EXPECT_EQ(encodable->GetType(), row.encodableType);
        EXPECT_EQ(plain->GetType(), int32_t(row.type));
        EXPECT_EQ(encodable->GetTag(), row.tag);
        EXPECT_EQ(plain->GetTag(), row.tag);
        EXPECT_EQ(EncodeToHex(*encodable), row.emptyEncoding);
        if (auto* set = dynamic_cast<CEmber_Set*>(plain.get())) {
            EXPECT_TRUE(set->IsIndexEnabled());
        }
    }
}

// Unsupported types give no node; bad content raises and leaves no node
// (LeakSanitizer covers leaves whose construction had begun).
TEST(NodeFactory, UnsupportedTypesAndInvalidContent)
{
    for (uint32_t type : {3u, 5u, 6u, 10u, 16u, 23u, 30u}) {
        Item item(kApp3, type, false, "00");
        EXPECT_FALSE(CreateNode(item.raw)) << type;
        EXPECT_FALSE(CreatePlainNode(item.raw)) << type;
    }
    const struct
    {
        uint32_t type;
        const char* content;
        int32_t code;
    } rows[] = {{1, "", 201}, {2, "", 202}, {9, "80 00 00", 204}, {13, "", 207}, {24, "", 208}};
    for (const auto& row : rows) {
        for (Factory create : {&CreateNode, &CreatePlainNode}) {
            Item item(kApp3, row.type, false, row.content);
            try {
                create(item.raw);
                ADD_FAILURE() << "no exception for " << row.code;
            } catch (const CEmber_Exception& e) {
                EXPECT_EQ(e.GetCode(), row.code);
            }
        }
    }
}

TEST(NodeFactory, EncodableTreesReEncodeInTheirOwnForm)
{
    // Received: a definite Sequence holding Integer 00 05, inside an
    // indefinite Set. Written again: indefinite Sequence, definite Set,
    // single content octet.
    Item setItem(CEmber_Tag::FromClass(0x80, 1), 17, true);
    Item sequenceItem(CEmber_Tag::FromClass(0x80, 2), 16, true);
    Item integerItem(kApp3, 2, false, "00 05");

    auto top = CreateNode(setItem.raw);
    auto sequence = CreateNode(sequenceItem.raw);
    sequence->AddChild(CreateNode(integerItem.raw).release(), true);
    top->AddChild(sequence.release(), true);
    EXPECT_EQ(EncodeToHex(*top), "A1 0F 31 0D A2 80 30 80 63 03 02 01 05 00 00 00 00");

    // A repeated tag in a decoded Set is refused when the second one joins.
    auto again = CreateNode(sequenceItem.raw);
    EXPECT_THROW(top->AddChild(again.get(), true), CEmber_Exception);
}

TEST(NodeFactory, PlainTreesEncodeOnlyWhatWasComputed)
{
    // A root tag nested in a plain container still gives a CEmber_Root, whose
    // header (unlike those of the plain containers) is computed.
    Item setItem(CEmber_Tag::FromClass(0x80, 1), 17, true);
    Item rootItem(kRootTag, 16, true);
    Item integerItem(kApp3, 2, false, "05");

    auto top = CreatePlainNode(setItem.raw);
    auto root = CreatePlainNode(rootItem.raw);
    root->AddChild(CreatePlainNode(integerItem.raw).release(), false);
    top->AddChild(root.release(), false);
    EXPECT_EQ(EncodeToHex(*top), "7F 8F FF FE D9 5C 80 30 80 00 00 00 00");
}

} // namespace
