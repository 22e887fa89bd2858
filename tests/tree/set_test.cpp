#include "ember/tree/set.h"

#include "ember/tree/leaf.h"
#include "tests/support/ber_helpers.h"
#include "tests/support/tree_helpers.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using testing_support::Counted;
using testing_support::EncodeToHex;
using testing_support::Raises;

const char* const kDuplicate = "A node with the specified tag already exists in this container";

CEmber_Integer32* Leaf(uint32_t number, int32_t value)
{
    return new CEmber_Integer32(0x40, number, value);
}

int32_t ValueOf(CEmber_Node* node)
{
    return static_cast<CEmber_Integer32*>(node)->GetValue();
}

TEST(Set, RefusesASecondChildWithTheSameTagAndStaysAsItWas)
{
    CEmber_Set set(0x80, 1, nullptr, true);
    EXPECT_EQ(EncodeToHex(set), "A1 02 31 00");
    EXPECT_EQ(set.GetEncodedLength(), 4u);
    CEmber_Node* first = Leaf(3, 5);
    set.AddChild(first, true);
    EXPECT_EQ(EncodeToHex(set), "A1 07 31 05 63 03 02 01 05");
    EXPECT_EQ(set.GetEncodedLength(), 9u);

    std::unique_ptr<CEmber_Node> second(Leaf(3, 6)); // stays ours
    EXPECT_TRUE(Raises([&] { set.AddChild(second.get(), true); }, 1001, kDuplicate));
    EXPECT_EQ(second->GetParent(), nullptr);
    EXPECT_EQ(set.GetChildren().Count(), 1u);
    EXPECT_EQ(set.FindChild(0x40, 3), first);
    EXPECT_EQ(EncodeToHex(set), "A1 07 31 05 63 03 02 01 05");

    // Without its index a set takes duplicates and stays a Set.
    CEmber_Set plain(0x80, 1, nullptr, false);
    plain.AddChild(Leaf(3, 5), true);
    plain.AddChild(Leaf(3, 6), true);
    EXPECT_EQ(EncodeToHex(plain), "A1 0C 31 0A 63 03 02 01 05 63 03 02 01 06");
    EXPECT_EQ(ValueOf(plain.FindChild(0x40, 3)), 5);
}

TEST(Set, AdaptiveSetFallsBackToADefiniteSequenceForGood)
{
    CEmber_AdaptiveSet set(0x80, 1, nullptr);
    set.AddChild(Leaf(3, 5), true);
    set.AddChild(Leaf(3, 6), true);
    EXPECT_FALSE(set.IsIndexEnabled());
    EXPECT_EQ(set.GetType(), 16);
    EXPECT_EQ(EncodeToHex(set), "A1 0C 30 0A 63 03 02 01 05 63 03 02 01 06");
    EXPECT_EQ(set.GetEncodedLength(), 14u);
    EXPECT_EQ(ValueOf(set.FindChild(0x40, 3)), 5);

    set.AddChild(Leaf(4, 7), true);
    EXPECT_EQ(set.GetType(), 16);
    EXPECT_TRUE(set.RemoveChild(0x40, 3)); // the first of the two goes
    EXPECT_EQ(ValueOf(set.FindChild(0x40, 3)), 6);
    EXPECT_EQ(EncodeToHex(set), "A1 0C 30 0A 63 03 02 01 06 64 03 02 01 07");
}

TEST(Set, FallbackWithoutUpdateReachesTheHeaderAtTheNextUpdate)
{
    CEmber_AdaptiveSet set(0x80, 1, nullptr);
    set.AddChild(Leaf(3, 5), true);
    set.AddChild(Leaf(3, 6), false);
    EXPECT_EQ(EncodeToHex(set), "A1 07 31 05 63 03 02 01 05 63 03 02 01 06");
    set.UpdateLength();
    EXPECT_EQ(EncodeToHex(set), "A1 0C 30 0A 63 03 02 01 05 63 03 02 01 06");
}

TEST(Set, TagsThatCollidedInTheOldBucketsStayApart)
{
    // Numbers 31 apart shared a bucket of the former 31-bucket index;
    // another class makes another tag.
    CEmber_Set set(0x80, 1, nullptr, true);
    for (uint32_t number : {3u, 34u, 65u})
        set.AddChild(Leaf(number, int32_t(number)), true);
    set.AddChild(new CEmber_Integer32(0x80, 3, -3), true);

    EXPECT_EQ(ValueOf(set.FindChild(0x40, 34)), 34);
    EXPECT_EQ(ValueOf(set.FindChild(0x40 | 0x20, 65)), 65); // constructed bit ignored
    EXPECT_EQ(ValueOf(set.FindChild(0x80, 3)), -3);
    EXPECT_EQ(set.FindChild(0x40, 96), nullptr);

    EXPECT_TRUE(set.RemoveChild(0x40, 34));
    EXPECT_FALSE(set.RemoveChild(0x40, 34));
    EXPECT_EQ(set.FindChild(0x40, 34), nullptr);
    EXPECT_EQ(ValueOf(set.FindChild(0x40, 3)), 3);
    EXPECT_EQ(ValueOf(set.FindChild(0x40, 65)), 65);
    set.AddChild(Leaf(34, 9), true); // the tag is free again
    EXPECT_EQ(ValueOf(set.FindChild(0x40, 34)), 9);
}

TEST(Set, RemovingTheOnlyChildRestoresTheEmptyHeader)
{
    int live = 0;
    CEmber_Set set(0x80, 1, nullptr, true);
    set.AddChild(new Counted<CEmber_Integer32>(live, 0x40, 3, 5), true);
    EXPECT_TRUE(set.RemoveChild(0x40, 3));
    EXPECT_EQ(live, 0);
    EXPECT_EQ(EncodeToHex(set), "A1 02 31 00");
    EXPECT_EQ(set.FindChild(0x40, 3), nullptr);
}

TEST(Set, ConstructorWithAParentIsRefusedLikeAnyChild)
{
    CEmber_Set outer(0x80, 1, nullptr, true);
    auto* inner = new CEmber_Set(0x80, 2, &outer, true);
    EXPECT_EQ(outer.FindChild(0x80, 2), inner);
    EXPECT_EQ(EncodeToHex(outer), "A1 06 31 04 A2 02 31 00");
    // The constructor throws and leaves nothing behind (LeakSanitizer).
    EXPECT_TRUE(Raises([&] { new CEmber_AdaptiveSet(0x80, 2, &outer); }, 1001, kDuplicate));
    EXPECT_EQ(EncodeToHex(outer), "A1 06 31 04 A2 02 31 00");
}

} // namespace
