// The tag index of wide sets: every child found, duplicates refused, removal
// and re-adding, and probe runs that stay short for tag patterns chosen to
// collide (multiples of large powers of two, numbers 31 apart, every class).

#include "ember/tree/set.h"

#include "ember/ber/exception.h"
#include "ember/tree/leaf.h"
#include "tests/support/tree_helpers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

namespace {

struct TagPattern
{
    const char* name;
    std::function<CEmber_Tag(uint32_t)> tag;
};

const TagPattern kPatterns[] = {
    {"consecutive", [](uint32_t i) { return CEmber_Tag::FromClass(0x80, i + 1); }},
    {"step 31", [](uint32_t i) { return CEmber_Tag::FromClass(0x80, i * 31 + 3); }},
    {"high bits", [](uint32_t i) { return CEmber_Tag::FromClass(0x40, i << 16); }},
    {"step 2^12", [](uint32_t i) { return CEmber_Tag::FromClass(0xC0, i << 12); }},
    {"top bits only",
     [](uint32_t i) { return CEmber_Tag::FromClass(0x80, (i & 0xFF) << 24 | (i >> 8)); }},
    {"classes", [](uint32_t i) { return CEmber_Tag::FromClass((i & 3) << 6, i >> 2); }},
};

int32_t ValueOf(const CEmber_Node* node)
{
    return static_cast<const CEmber_Integer32*>(node)->GetValue();
}

CEmber_Integer32* Leaf(const CEmber_Tag& tag, int32_t value)
{
    return new CEmber_Integer32(tag.Octet(), tag.Number(), value);
}

TEST(SetIndex, WideSetsFindEveryChildAndRefuseDuplicates)
{
    for (const TagPattern& pattern : kPatterns) {
        SCOPED_TRACE(pattern.name);
        constexpr uint32_t kWidth = 20000;
        CEmber_Set set(0x80, 1, nullptr, true);
        for (uint32_t i = 0; i < kWidth; ++i) {
            set.AddChild(Leaf(pattern.tag(i), int32_t(i)), i % 3 != 0);
            if (i == CEmber_Set::kListLimit - 1) {
                EXPECT_EQ(0u, set.GetIndexCapacity());
            }
        }
        EXPECT_GE(set.GetIndexCapacity(), 2 * kWidth);
        // A well mixed table keeps runs short at half load; a weak mix of
        // these patterns gives runs in the thousands.
        EXPECT_LT(set.GetLongestProbe(), 64u);
        for (uint32_t i = 0; i < kWidth; i += 7) {
            const CEmber_Tag tag = pattern.tag(i);
            ASSERT_EQ(int32_t(i), ValueOf(set.FindChild(tag.Octet(), tag.Number()))) << i;
        }
        const CEmber_Tag taken = pattern.tag(kWidth / 2);
        auto* duplicate = Leaf(taken, -1);
        EXPECT_THROW(set.AddChild(duplicate, true), CEmber_Exception);
        EXPECT_EQ(nullptr, duplicate->GetParent());
        delete duplicate;
        EXPECT_EQ(kWidth, set.GetChildren().Count());
        EXPECT_EQ(nullptr, set.FindChild(0x80, 0xFFFFFFFE));
    }
}

// Removal from the table (backward shift) never loses a child of the same
// run; the freed tag can be added again.
TEST(SetIndex, RandomRemovalsAndAddsAgreeWithAPlainMap)
{
    std::mt19937 rng(13);
    for (const TagPattern& pattern : kPatterns) {
        SCOPED_TRACE(pattern.name);
        CEmber_Set set(0x80, 1, nullptr, true);
        std::vector<int32_t> present(4096, -1);
        for (int step = 0; step < 40000; ++step) {
            const uint32_t i = rng() % present.size();
            const CEmber_Tag tag = pattern.tag(i);
            if (present[i] < 0 || rng() % 2) {
                auto* leaf = Leaf(tag, step);
                if (present[i] >= 0) {
                    EXPECT_THROW(set.AddChild(leaf, true), CEmber_Exception);
                    delete leaf;
                } else {
                    set.AddChild(leaf, true);
                    present[i] = step;
                }
            } else {
                ASSERT_TRUE(set.RemoveChild(tag.Octet(), tag.Number()));
                present[i] = -1;
            }
            if (step % 97 == 0) {
                for (uint32_t j = 0; j < present.size(); ++j) {
                    const CEmber_Tag probe = pattern.tag(j);
                    const CEmber_Node* found = set.FindChild(probe.Octet(), probe.Number());
                    if (present[j] < 0) {
                        ASSERT_EQ(nullptr, found) << j;
                    } else {
                        ASSERT_NE(nullptr, found) << j;
                        ASSERT_EQ(present[j], ValueOf(found)) << j;
                    }
                }
            }
        }
    }
}

TEST(SetIndex, AdaptiveSetFallsBackFromTheTableAndFindsTheFirstChild)
{
    CEmber_AdaptiveSet set(0x80, 1, nullptr);
    for (uint32_t i = 1; i <= 100; ++i)
        set.AddIntegerChild(0x40, i, int32_t(i));
    EXPECT_GT(set.GetIndexCapacity(), 0u);
    set.AddIntegerChild(0x40, 50, -50);
    EXPECT_FALSE(set.IsIndexEnabled());
    EXPECT_EQ(0u, set.GetIndexCapacity());
    EXPECT_EQ(16, set.GetType());
    EXPECT_EQ(50, ValueOf(set.FindChild(0x40, 50)));
    EXPECT_EQ(101u, set.GetChildren().Count());
}

} // namespace
