#include "ember/tree/node.h"

#include "ember/tree/leaf.h"
#include "ember/tree/set.h"
#include "ember/tree/string_leaf.h"
#include "tests/support/ber_helpers.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

namespace {

using testing_support::Raises;

// The values of the Integer children, walked with the iteration protocol.
std::vector<int32_t> Walk(const CEmber_Node& node)
{
    std::vector<int32_t> values;
    for (EmberPosition p = node.GetFirstChildPosition(); p;)
        values.push_back(static_cast<CEmber_Integer32*>(node.GetNextChild(p))->GetValue());
    return values;
}

TEST(Node, IterationVisitsChildrenInInsertionOrder)
{
    CEmber_Set set(0x80, 1, nullptr, true);
    EXPECT_TRUE(Walk(set).empty());
    for (int32_t v : {30, 10, 20})
        set.AddChild(new CEmber_Integer32(0x40, uint32_t(v), v), true);
    EXPECT_EQ(Walk(set), (std::vector<int32_t>{30, 10, 20}));

    // GetChildAt reads without moving; GetNextChild moves on, to null at the end.
    EmberPosition p = set.GetFirstChildPosition();
    CEmber_Node* first = set.GetChildAt(p);
    EXPECT_EQ(first, set.GetChildren().First());
    EXPECT_EQ(set.GetChildAt(p), first);
    EXPECT_EQ(set.GetNextChild(p), first);
    set.GetNextChild(p);
    EXPECT_EQ(set.GetChildAt(p), set.GetChildren().Last());
    set.GetNextChild(p);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(set.GetNextChild(p), nullptr);

    set.RemoveChild(0x40, 10);
    set.AddChild(new CEmber_Integer32(0x40, 10, 10), true);
    EXPECT_EQ(Walk(set), (std::vector<int32_t>{30, 20, 10}));
}

TEST(Node, IterationOverALeafRunsZeroTimes)
{
    CEmber_Boolean leaf(0x40, 1, true);
    EXPECT_TRUE(Walk(leaf).empty());
    int marker = 0;
    EmberPosition p = &marker;
    EXPECT_EQ(leaf.GetNextChild(p), nullptr);
    EXPECT_EQ(p, &marker);
    EXPECT_EQ(leaf.GetChildAt(p), nullptr);
}

TEST(Node, ChildOperationsOnEveryLeafClassRaiseNotAContainer)
{
    const std::function<CEmber_Leaf*()> makers[] = {
        [] { return new CEmber_Boolean(0x40, 1, false); },
        [] { return new CEmber_Integer32(0x40, 1, 1); },
        [] { return new CEmber_Integer64(0x40, 1, 1); },
        [] { return new CEmber_Real(0x40, 1, 1.0); },
        [] { return new CEmber_UTF8String(0x40, 1, "a"); },
        [] { return new CEmber_OctetString(0x40, 1, EmberContentLength{1}); },
        [] { return new CEmber_RelativeObject(0x40, 1, 1); },
        [] { return new CEmber_GeneralizedTime(0x40, 1, 1, true); },
        [] { return new CEmber_Integer32(); }, // bare
    };
    for (const auto& make : makers) {
        std::unique_ptr<CEmber_Leaf> leaf(make());
        SCOPED_TRACE(leaf->GetType());
        EXPECT_FALSE(leaf->IsContainer());
        CEmber_Integer32 child(0x40, 2, 2);
        EXPECT_TRUE(Raises([&] { leaf->AddChild(&child, true); }, 3, "Not a container"));
        EXPECT_EQ(child.GetParent(), nullptr);
        EXPECT_TRUE(Raises([&] { leaf->FindChild(0x40, 2); }, 3, "Not a container"));
        EXPECT_TRUE(Raises([&] { leaf->RemoveChild(0x40, 2); }, 3, "Not a container"));
        EXPECT_TRUE(Raises([&] { leaf->GetChildren(); }, 3, "Not a container"));
    }
}

} // namespace
