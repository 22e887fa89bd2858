#include "ember/tree/tree_reader.h"

#include "ember/ber/text_list.h"
#include "ember/tree/container.h"
#include "ember/tree/root.h"
#include "ember/tree/set.h"
#include "tests/support/ber_helpers.h"
#include "tests/support/event_log_reader.h"
#include "tests/support/tree_helpers.h"

#include <gtest/gtest.h>

#include <string>
#include <typeinfo>
#include <vector>

namespace {

using testing_support::EncodeToHex;
using testing_support::Hex;
using testing_support::kEndHex;
using testing_support::kStartHex;
using testing_support::Raises;

const std::string S = kStartHex;
const std::string kEnd = kEndHex;

// A tree reader on its own: no start sequence, errors reach the caller.
class TreeReader : public CEmber_TreeReader
{
public:
    explicit TreeReader(uint8_t mode = 1) : CEmber_TreeReader(mode) {}
    void OnNodeComplete(CEmber_Node* node) override { done.push_back(node->GetDescription()); }
    void Feed(const std::string& hex)
    {
        const std::vector<uint8_t> octets = Hex(hex);
        FeedBlock(octets.data(), uint32_t(octets.size()));
    }
    std::vector<std::string> done;
};

std::string DumpOf(const CEmber_Node& node)
{
    CEmber_TextList list;
    node.Dump(list, 0);
    return list.Join();
}

TEST(TreeReader, ValueWithNoOpenContainer)
{
    TreeReader reader;
    EXPECT_TRUE(Raises([&] { reader.Feed("A1 03 02 01 05"); }, 115,
                       "@C-1: Value element outside any container"));
    EXPECT_EQ(nullptr, reader.GetRoot());
    EXPECT_TRUE(reader.done.empty());

    // After a root closed, a value has no container either; the finished
    // tree stays as it was.
    reader.Reset();
    reader.Feed("A1 80 31 80 A2 03 02 01 05" + kEnd);
    ASSERT_TRUE(reader.IsTreeComplete());
    EXPECT_TRUE(Raises([&] { reader.Feed("A3 03 02 01 06"); }, 115,
                       "@C-3: Value element outside any container"));
    EXPECT_EQ(1u, reader.GetRoot()->GetChildren().Count());
    EXPECT_EQ(2u, reader.done.size());
}

TEST(TreeReader, DuplicateTagInSetIsRaisedWithoutLocation)
{
    for (uint8_t mode : {0, 1}) {
        TreeReader reader(mode);
        EXPECT_TRUE(Raises([&] { reader.Feed(S + " A2 0C 31 0A A1 03 02 01 05 A1 03 02 01 06"); },
                           1001, "A node with the specified tag already exists in this container"))
            << "mode " << int(mode);
    }
}

TEST(TreeReader, AsideContainerInRootLeavesTheRootCurrent)
{
    TreeReader reader;
    reader.Feed(S + " 7F 8F FF FE D9 5D 80 30 80 A1 03 02 01 05" + kEnd + " A2 03 02 01 06" + kEnd);
    ASSERT_TRUE(reader.IsTreeComplete());
    auto* root = dynamic_cast<CEmber_Root*>(reader.GetRoot());
    ASSERT_NE(nullptr, root);
    ASSERT_NE(nullptr, root->GetAsideChild());
    EXPECT_EQ(nullptr, root->GetAsideChild()->GetParent());
    EXPECT_NE(nullptr, root->GetAsideChild()->FindChild(0x80, 1));
    ASSERT_EQ(1u, root->GetChildren().Count());
    EXPECT_EQ(CEmber_Tag::FromClass(0x80, 2), root->GetChildren().First()->GetTag());
    // Encoding leaves the aside container out.
    EXPECT_EQ(S + " A2 03 02 01 06" + kEnd, EncodeToHex(*root));
}

TEST(TreeReader, ResetAndDestructionDeleteTheTree)
{
    int live = 0;
    {
        TreeReader reader;
        reader.Feed(S + " A1 80 31 80");
        reader.GetRoot()->AddChild(
            new testing_support::Counted<CEmber_Sequence>(live, 0x80, 7, nullptr), true);
        reader.Reset();
        EXPECT_EQ(0, live);
        EXPECT_EQ(nullptr, reader.GetRoot());

        reader.Feed(S + kEnd);
        reader.GetRoot()->AddChild(
            new testing_support::Counted<CEmber_Sequence>(live, 0x80, 7, nullptr), true);
        EXPECT_EQ(1, live);
    }
    EXPECT_EQ(0, live);
}

struct Reencoding
{
    const char* name;
    std::string received; // elements inside the root
    std::string encoded;
};

const Reencoding kReencodings[] = {
    {"definite Sequence becomes indefinite", " A1 0C 30 0A A2 03 02 01 05 A3 03 02 01 06",
     " A1 80 30 80 A2 03 02 01 05 A3 03 02 01 06 00 00 00 00"},
    {"indefinite Set becomes definite", " A1 80 31 80 A2 03 02 01 05" + kEnd,
     " A1 07 31 05 A2 03 02 01 05"},
    {"Integer 00 05 becomes 05", " A1 04 02 02 00 05", " A1 03 02 01 05"},
    {"long-form lengths become short", " A1 84 00 00 00 05 02 81 01 05", " A1 03 02 01 05"},
    {"other constructed types become Sets", " A1 80 28 80 A2 03 02 01 05" + kEnd,
     " A1 07 31 05 A2 03 02 01 05"},
    {"written form is kept",
     " A2 07 31 05 A1 03 02 01 05 A3 80 30 80 A4 04 0C 02 61 62 00 00 00 00",
     " A2 07 31 05 A1 03 02 01 05 A3 80 30 80 A4 04 0C 02 61 62 00 00 00 00"},
};

TEST(TreeReader, EncodableTreesReencodeInTheirOwnForm)
{
    for (const Reencoding& row : kReencodings) {
        TreeReader reader(1);
        reader.Feed(S + row.received + kEnd);
        ASSERT_TRUE(reader.IsTreeComplete()) << row.name;
        EXPECT_EQ(S + row.encoded + kEnd, EncodeToHex(*reader.GetRoot())) << row.name;
    }
}

TEST(TreeReader, PlainModeBuildsTheSameShapeWithTheDecodedTypes)
{
    const std::string message = S +
                                " A1 80 31 80 A2 03 02 01 05 A3 0A 30 08 A4 06 0C 04 41 42 43 44" +
                                kEnd + " A5 02 28 00" + kEnd;
    TreeReader encodable(1);
    TreeReader plain(0);
    encodable.Feed(message);
    plain.Feed(message);
    ASSERT_TRUE(encodable.IsTreeComplete());
    ASSERT_TRUE(plain.IsTreeComplete());

    // Only the type-8 container differs: Set in one mode, as received in the other.
    std::string dump = DumpOf(*plain.GetRoot());
    const size_t external = dump.find("<C-5 type=\"External\">");
    ASSERT_NE(std::string::npos, external) << dump;
    dump.replace(external, 21, "<C-5 type=\"Set\">");
    EXPECT_EQ(DumpOf(*encodable.GetRoot()), dump);
    EXPECT_EQ(encodable.done,
              std::vector<std::string>({"Tag: C-2 Type: 2, Integer", "Tag: C-4 Type: 12, UTF8",
                                        "Tag: C-3 Type: 16, Sequence", "Tag: C-1 Type: 17, Set",
                                        "Tag: C-5 Type: 17, Set",
                                        "Tag: A-4294946012 Type: 16, Sequence"}));

    CEmber_Node* plainSet = plain.GetRoot()->FindChild(0x80, 5);
    CEmber_Node* encodableSet = encodable.GetRoot()->FindChild(0x80, 5);
    ASSERT_NE(nullptr, plainSet);
    ASSERT_NE(nullptr, encodableSet);
    EXPECT_EQ(typeid(CEmber_Set), typeid(*plainSet));
    EXPECT_EQ(typeid(CEmber_Set), typeid(*encodableSet));
    EXPECT_EQ(8, plainSet->GetType());
    EXPECT_EQ(17, encodableSet->GetType());

    // Plain nodes carry no encoding; encodable ones do.
    const CEmber_Node* plainLeaf = plain.GetRoot()->FindChild(0x80, 1)->FindChild(0x80, 2);
    const CEmber_Node* encodableLeaf = encodable.GetRoot()->FindChild(0x80, 1)->FindChild(0x80, 2);
    EXPECT_EQ(0u, plainLeaf->GetEncodedLength());
    EXPECT_EQ(5u, encodableLeaf->GetEncodedLength());
    // Children are added without updating a plain container's header.
    const auto* plainParent = static_cast<const CEmber_Container*>(plainLeaf->GetParent());
    const auto* encodableParent = static_cast<const CEmber_Container*>(encodableLeaf->GetParent());
    EXPECT_EQ(0u, plainParent->GetHeaderLength());
    EXPECT_EQ(25u, encodableParent->GetEncodedLength());
}

} // namespace
