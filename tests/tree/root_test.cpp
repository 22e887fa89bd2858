#include "ember/tree/root.h"

#include "ember/ber/output_buffer.h"
#include "ember/tree/leaf.h"
#include "ember/tree/set.h"
#include "tests/support/tree_helpers.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using testing_support::Counted;
using testing_support::EncodeToHex;
using testing_support::ToHex;

const std::string kEmptyRoot = "7F 8F FF FE D9 5C 80 30 80 00 00 00 00";

TEST(Root, EmptyAndWithTheWorkedExampleTree)
{
    CEmber_Root root;
    EXPECT_EQ(root.GetEncodedLength(), 13u);
    EXPECT_EQ(root.GetType(), 16);
    EXPECT_EQ(EncodeToHex(root), kEmptyRoot);

    auto* set = new CEmber_Set(0x80, 1, nullptr, true);
    set->AddChild(new CEmber_Integer32(0x40, 3, 5), true);
    root.AddChild(set, true);
    EXPECT_EQ(root.GetEncodedLength(), 22u);
    // Each Encode appends a full copy and flushes once, after the zeros.
    testing_support::RecordingStream out;
    root.Encode(out);
    EXPECT_EQ(ToHex(out.octets),
              "7F 8F FF FE D9 5C 80 30 80 A1 07 31 05 63 03 02 01 05 00 00 00 00");
    EXPECT_EQ(out.flushedAt, 22u);
    root.Encode(out);
    EXPECT_EQ(out.flushes, 2);
    EXPECT_EQ(out.flushedAt, 44u);
}

// Host command trees: context levels 1 to 4 and a private parameter level 5
// holding the value, or a poll leaf in level 4; linked top-down (the host's
// order) or bottom-up. The buffer first gets the empty root.
TEST(Root, HostCommandTreesFromAdaptiveSetLevels)
{
    const std::string head = "7F 8F FF FE D9 5C 80 30 80 ";
    const std::string value5 = head + "A1 17 31 15 A2 13 31 11 A3 0F 31 0D A4 0B 31 09 "
                                      "E5 07 31 05 63 03 02 01 05 00 00 00 00";
    const struct
    {
        bool poll, bottomUp;
        int32_t value;
        std::string tree;
    } cases[] = {
        {false, false, 5, value5},
        {false, true, 5, value5},
        {false, false, 100,
         head + "A1 17 31 15 A2 13 31 11 A3 0F 31 0D A4 0B 31 09 "
                "E5 07 31 05 63 03 02 01 64 00 00 00 00"},
        {true, false, 1,
         head + "A1 14 31 12 A2 10 31 0E A3 0C 31 0A A4 08 31 06 "
                "7F 20 03 02 01 01 00 00 00 00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tree);
        CEmber_OutputBuffer buffer;
        CEmber_Root root;
        root.Encode(buffer);
        CEmber_AdaptiveSet* levels[5];
        for (uint32_t i = 0; i < 5; ++i)
            levels[i] = new CEmber_AdaptiveSet(i < 4 ? 0x80 : 0xC0, i + 1, nullptr);
        if (c.poll)
            delete levels[4];
        else
            levels[4]->AddIntegerChild(0x40, 3, c.value);
        const int last = c.poll ? 3 : 4;
        for (int step = 0; step < last; ++step) {
            const int i = c.bottomUp ? last - 1 - step : step;
            levels[i]->AddChild(levels[i + 1], true);
        }
        if (c.poll)
            levels[3]->AddIntegerChild(0x40, 32, 1);
        root.AddChild(levels[0], true);
        root.Encode(buffer);

        EXPECT_EQ(root.GetEncodedLength(), testing_support::Hex(c.tree).size());
        EXPECT_EQ(ToHex(buffer.Data(), buffer.Used()), kEmptyRoot + " " + c.tree);
    }
}

TEST(Root, AsideChildIsHeldApartAndALaterOneReplacesIt)
{
    int live = 0;
    {
        CEmber_Root root;
        root.AddIntegerChild(0x40, 3, 5);
        root.AddIntegerChild(0x40, 3, 6);                  // no duplicate check
        root.AddIntegerChild(0x80, kAsideTag.Number(), 1); // other class: listed
        const std::string before = EncodeToHex(root);
        EXPECT_EQ(before, "7F 8F FF FE D9 5C 80 30 80 63 03 02 01 05 63 03 02 01 06 "
                          "BF 8F FF FE D9 5D 03 02 01 01 00 00 00 00");

        auto* first = new Counted<CEmber_Set>(live, 0x40, kAsideTag.Number(), nullptr, true);
        root.AddChild(first, false);
        root.AddChild(first, true); // the same node again: kept once
        EXPECT_EQ(root.GetAsideChild(), first);
        EXPECT_EQ(first->GetParent(), nullptr);
        EXPECT_EQ(root.FindChild(0x40, kAsideTag.Number()), nullptr);
        EXPECT_EQ(root.GetChildren().Count(), 3u);
        EXPECT_EQ(EncodeToHex(root), before);

        auto* second = new Counted<CEmber_Boolean>(live, 0x40, kAsideTag.Number(), true);
        root.AddChild(second, true);
        EXPECT_EQ(live, 1); // the first is gone
        EXPECT_EQ(root.GetAsideChild(), second);
        EXPECT_EQ(root.GetEncodedLength(), testing_support::Hex(before).size());
        EXPECT_EQ(EncodeToHex(root), before);
    }
    EXPECT_EQ(live, 0); // the second went with the root
}

} // namespace
