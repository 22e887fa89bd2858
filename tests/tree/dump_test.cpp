#include "ember/ber/text_list.h"
#include "ember/tree/leaf.h"
#include "ember/tree/root.h"
#include "ember/tree/set.h"
#include "ember/tree/string_leaf.h"
#include "tests/support/tree_helpers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using testing_support::Pieces;
using Lines = std::vector<std::string>;

std::string DumpOf(const CEmber_Node& node, int32_t level = 0)
{
    CEmber_TextList list;
    node.Dump(list, level);
    return list.Join();
}

TEST(Dump, RootSetAndLeafPieceByPiece)
{
    CEmber_Root root;
    auto* set = new CEmber_Set(0x80, 1, &root, true);
    set->AddIntegerChild(0x40, 3, 5);
    root.AddChild(new CEmber_Boolean(0x40, kAsideTag.Number(), true), true); // not dumped

    CEmber_TextList list;
    root.Dump(list, 0);
    EXPECT_EQ(Pieces(list), (Lines{"<A-4294946012 type=\"Sequence\">\r\n",
                                   "  <C-1 type=\"Set\">\r\n", "    <A-3 type=\"Integer\">", "5",
                                   "</A-3>\r\n", "  </C-1>\r\n", "</A-4294946012>\r\n"}));
    EXPECT_EQ(list.Join(), "<A-4294946012 type=\"Sequence\">\r\n"
                           "  <C-1 type=\"Set\">\r\n"
                           "    <A-3 type=\"Integer\">5</A-3>\r\n"
                           "  </C-1>\r\n"
                           "</A-4294946012>\r\n");

    EXPECT_EQ(root.GetDescription(), "Tag: A-4294946012 Type: 16, Sequence");
    EXPECT_EQ(set->GetDescription(), "Tag: C-1 Type: 17, Set");
    EXPECT_EQ(set->GetChildren().First()->GetDescription(), "Tag: A-3 Type: 2, Integer");
}

TEST(Dump, IndentationAndLineBreaks)
{
    CEmber_Sequence empty(0xC0, 9, nullptr);
    EXPECT_EQ(DumpOf(empty), "<P-9 type=\"Sequence\">\r\n</P-9>\r\n");
    EXPECT_EQ(DumpOf(empty, 3), "      <P-9 type=\"Sequence\">\r\n      </P-9>\r\n");
    EXPECT_EQ(DumpOf(CEmber_Boolean(0x80, 2, true), 1), "  <C-2 type=\"Boolean\">true</C-2>\r\n");
    EXPECT_EQ(DumpOf(CEmber_Boolean(0x80, 2, false), 1), "  <C-2 type=\"Boolean\">false</C-2>\r\n");

    // An OctetString's closing element begins a line of its own.
    CEmber_OctetString data(0x40, 4, EmberContentLength{3});
    std::memcpy(data.GetData(), "\x01\xAB\xFF", 3);
    CEmber_TextList list;
    data.Dump(list, 0);
    EXPECT_EQ(Pieces(list), (Lines{"<A-4 type=\"OctetString\">", "01ABFF", "\r\n", "</A-4>\r\n"}));
}

TEST(Dump, TypeLabelsAndDescriptions)
{
    const auto bare = [](int32_t type) { // as the factory's plain mode builds them
        auto* set = new CEmber_Set();
        set->SetTag(CEmber_Tag::FromClass(0x80, 1));
        set->SetType(type);
        return set;
    };
    const auto fallenBack = [] {
        auto* set = new CEmber_AdaptiveSet(0x80, 1, nullptr);
        set->AddIntegerChild(0x40, 3, 1);
        set->AddIntegerChild(0x40, 3, -2);
        return set;
    };
    const struct
    {
        std::function<CEmber_Node*()> make; // tag context 1
        const char* dump;
        const char* description;
    } cases[] = {
        {[] { return new CEmber_UTF8String(0x80, 1, "hi"); }, "<C-1 type=\"UTF8\">hi</C-1>\r\n",
         "Tag: C-1 Type: 12, UTF8"},
        {[] { return new CEmber_GeneralizedTime(0x80, 1, 0, true); },
         "<C-1 type=\"GeneralizedTime\">1601-01-01T00:00:00.0Z</C-1>\r\n",
         "Tag: C-1 Type: 24, GeneralizedTime"},
        {[] { return new CEmber_GeneralizedTime(0x80, 1, 0, false); },
         "<C-1 type=\"Integer\">1601-01-01T00:00:00.0Z</C-1>\r\n", "Tag: C-1 Type: 2, Integer"},
        {[] { return new CEmber_RelativeObject(0x80, 1, 0x100000002); },
         "<C-1 type=\"RelativeObject\">0000000100000002</C-1>\r\n",
         "Tag: C-1 Type: 13, RelativeObject"},
        {[] { return new CEmber_Real(0x80, 1, -0.25); }, "<C-1 type=\"Real\">-0.250000</C-1>\r\n",
         "Tag: C-1 Type: 9, Real"},
        {fallenBack,
         "<C-1 type=\"Sequence\">\r\n  <A-3 type=\"Integer\">1</A-3>\r\n"
         "  <A-3 type=\"Integer\">-2</A-3>\r\n</C-1>\r\n",
         "Tag: C-1 Type: 16, Sequence"},
        {[&] { return bare(8); }, "<C-1 type=\"External\">\r\n</C-1>\r\n",
         "Tag: C-1 Type: 8, External"},
        {[&] { return bare(14); }, "<C-1 type=\"14\">\r\n</C-1>\r\n", "Tag: C-1 Type: 14"},
        {[&] { return bare(31); }, "<C-1 type=\"31\">\r\n</C-1>\r\n", "Tag: C-1 Type: 31"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        std::unique_ptr<CEmber_Node> node(c.make());
        EXPECT_EQ(DumpOf(*node), c.dump);
        EXPECT_EQ(node->GetDescription(), c.description);
    }

    std::string text = "left over";
    CEmber_Integer64(0xC0, 0xFFFFFFFF, 1).Describe(text);
    EXPECT_EQ(text, "Tag: P-4294967295 Type: 2, Integer");
}

} // namespace
