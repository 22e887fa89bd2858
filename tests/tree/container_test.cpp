#include "ember/tree/container.h"

#include "ember/tree/leaf.h"
#include "ember/tree/set.h"
#include "ember/tree/string_leaf.h"
#include "tests/support/tree_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

using testing_support::Counted;
using testing_support::EncodeToHex;
using testing_support::Hex;
using testing_support::RecordingStream;
using testing_support::ToHex;

// The leaf most vectors use: application 3, Integer 5 = 63 03 02 01 05.
CEmber_Node* Five()
{
    return new CEmber_Integer32(0x40, 3, 5);
}

// An OctetString leaf whose whole encoding is `total` octets.
CEmber_OctetString* LeafOfLength(uint32_t total)
{
    for (uint32_t size = total > 17 ? total - 17 : 0; size <= total; ++size) {
        auto leaf = std::make_unique<CEmber_OctetString>(0x40, 4, EmberContentLength{size});
        std::fill_n(leaf->GetData(), size, uint8_t(0xAA));
        if (leaf->GetEncodedLength() == total)
            return leaf.release();
    }
    ADD_FAILURE() << "no OctetString leaf of " << total << " octets";
    return nullptr;
}

TEST(Container, SequenceIsIndefiniteAndOnlyTheTopFlushes)
{
    CEmber_Sequence sequence(0x80, 2, nullptr);
    EXPECT_EQ(EncodeToHex(sequence), "A2 80 30 80 00 00 00 00");
    sequence.AddChild(Five(), true);
    RecordingStream out;
    sequence.Encode(out);
    EXPECT_EQ(ToHex(out.octets), "A2 80 30 80 63 03 02 01 05 00 00 00 00");
    EXPECT_EQ(sequence.GetEncodedLength(), 13u);
    EXPECT_EQ(out.flushes, 1);
    EXPECT_EQ(out.flushedAt, 13u);

    CEmber_Set outer(0x80, 1, nullptr, true);
    auto* inner = new CEmber_Sequence(0x80, 2, &outer); // linked by its constructor
    inner->AddChild(Five(), true);
    RecordingStream whole, part;
    outer.Encode(whole);
    inner->Encode(part);
    EXPECT_EQ(ToHex(whole.octets), "A1 0F 31 0D A2 80 30 80 63 03 02 01 05 00 00 00 00");
    EXPECT_EQ(whole.flushes, 1);
    EXPECT_EQ(part.flushes, 0);
}

TEST(Container, GrowthOfANestedContainerReachesEveryAncestor)
{
    CEmber_Set outer(0x80, 1, nullptr, true);
    auto* inner = new CEmber_Set(0x80, 2, nullptr, true);
    outer.AddChild(inner, true);
    EXPECT_EQ(EncodeToHex(outer), "A1 06 31 04 A2 02 31 00");
    inner->AddChild(Five(), true);
    EXPECT_EQ(EncodeToHex(outer), "A1 0B 31 09 A2 07 31 05 63 03 02 01 05");
    EXPECT_EQ(outer.GetEncodedLength(), 13u);
}

TEST(Container, DefiniteHeaderAcrossLengthBoundaries)
{
    const struct
    {
        uint32_t content;
        const char* header;
    } cases[] = {
        {125, "A1 7F 31 7D"},
        {126, "A1 82 00 80 31 7E"},
        {127, "A1 82 00 81 31 7F"},
        {128, "A1 82 00 84 31 82 00 80"},
        {255, "A1 82 01 03 31 82 00 FF"},
        {256, "A1 82 01 04 31 82 01 00"},
        {32763, "A1 82 7F FF 31 82 7F FB"},
        {32764, "A1 83 00 80 00 31 82 7F FC"},
        {32767, "A1 83 00 80 03 31 82 7F FF"},
        {32768, "A1 83 00 80 05 31 83 00 80 00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        CEmber_Set set(0x80, 1, nullptr, true);
        set.AddChild(LeafOfLength(c.content), true);
        const size_t headerLength = Hex(c.header).size();
        EXPECT_EQ(set.GetEncodedLength(), headerLength + c.content);
        RecordingStream out;
        set.Encode(out);
        ASSERT_EQ(out.octets.size(), set.GetEncodedLength());
        EXPECT_EQ(ToHex(out.octets.data(), headerLength), c.header);
    }
}

TEST(Container, LargestHeaderFillsTheSeventeenOctetCache)
{
    CEmber_Set set(0x80, 0xFFFFFFFF, nullptr, true);
    set.AddChild(new CEmber_OctetString(0x40, 4, EmberContentLength{0x800000}), true);
    EXPECT_EQ(ToHex(set.GetHeader(), set.GetHeaderLength()),
              "BF 8F FF FF FF 7F 84 00 80 00 12 31 84 00 80 00 0C");
    EXPECT_EQ(set.GetEncodedLength(), 17u + 0x80000Cu);
}

TEST(Container, AddWithoutUpdateKeepsTheOldHeaderUntilTheNextUpdate)
{
    CEmber_Set set(0x80, 1, nullptr, true);
    set.AddChild(Five(), false);
    EXPECT_EQ(set.GetEncodedLength(), 4u);
    // The stale header is written as it is, followed by the child.
    EXPECT_EQ(EncodeToHex(set), "A1 02 31 00 63 03 02 01 05");
    set.AddChild(new CEmber_Integer32(0x40, 4, 6), true);
    EXPECT_EQ(set.GetEncodedLength(), 14u);
    EXPECT_EQ(EncodeToHex(set), "A1 0C 31 0A 63 03 02 01 05 64 03 02 01 06");
}

TEST(Container, RemoveChildTakesTheFirstMatchAndShrinksEveryAncestor)
{
    int live = 0;
    CEmber_Sequence top(0x80, 1, nullptr);
    auto* list = new CEmber_Container(0x80, 2, &top, 16, false);
    list->AddChild(new Counted<CEmber_Integer32>(live, 0x40, 3, 5), true);
    list->AddChild(new Counted<CEmber_Integer32>(live, 0x40, 3, 6), true);
    EXPECT_FALSE(list->RemoveChild(0x40, 4));
    EXPECT_EQ(top.GetEncodedLength(), 22u);

    EXPECT_TRUE(list->RemoveChild(0x60, 3)); // the constructed bit does not matter
    EXPECT_EQ(live, 1);
    EXPECT_EQ(EncodeToHex(top), "A1 80 30 80 A2 07 30 05 63 03 02 01 06 00 00 00 00");
    EXPECT_TRUE(list->RemoveChild(0x40, 3));
    EXPECT_EQ(live, 0);
    EXPECT_EQ(EncodeToHex(top), "A1 80 30 80 A2 02 30 00 00 00 00 00");
}

TEST(Container, DestroyingTheTopDestroysEveryNodeOnce)
{
    int live = 0;
    auto* top = new Counted<CEmber_Sequence>(live, 0x80, 1, nullptr);
    auto* a = new Counted<CEmber_Set>(live, 0x80, 2, top, true);
    auto* b = new Counted<CEmber_AdaptiveSet>(live, 0x80, 3, a);
    b->AddChild(new Counted<CEmber_Integer32>(live, 0x40, 3, 1), true);
    b->AddChild(new Counted<CEmber_Integer32>(live, 0x40, 3, 2), true);
    a->AddChild(new Counted<CEmber_Boolean>(live, 0x40, 4, true), true);
    top->AddChild(new Counted<CEmber_Container>(live, 0x80, 4, nullptr, 17, false), true);
    ASSERT_EQ(live, 7);
    delete top;
    EXPECT_EQ(live, 0);
}

} // namespace
