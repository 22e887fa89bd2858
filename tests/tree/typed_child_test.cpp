#include "ember/ber/text_list.h"
#include "ember/tree/leaf.h"
#include "ember/tree/set.h"
#include "ember/tree/string_leaf.h"
#include "tests/support/ber_helpers.h"
#include "tests/support/tree_helpers.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using testing_support::EncodeToHex;
using testing_support::Raises;

const char* const kDuplicate = "A node with the specified tag already exists in this container";

TEST(TypedChild, ChildrenGoInEncodedAndComeBack)
{
    CEmber_Set set(0xC0, 5, nullptr, true);
    set.AddIntegerChild(0x40, 3, 100);
    char text[] = "hi";
    set.AddStringChild(0x40, 4, text);
    text[0] = 'X'; // the leaf holds its own copy
    EXPECT_EQ(EncodeToHex(set), "E5 0D 31 0B 63 03 02 01 64 64 04 0C 02 68 69");

    int32_t value = 0;
    EXPECT_TRUE(set.GetIntegerChild(0x40, 3, value));
    EXPECT_EQ(value, 100);
    char* got = nullptr;
    ASSERT_TRUE(set.GetStringChild(0x40, 4, got));
    got[1] = 'o'; // the leaf's own text
    CEmber_TextList list;
    static_cast<CEmber_Leaf*>(set.FindChild(0x40, 4))->RenderValue(list);
    EXPECT_EQ(list.Join(), "ho");

    // A missing child (other number, other class) leaves the out values alone.
    value = 42;
    EXPECT_FALSE(set.GetIntegerChild(0x40, 5, value));
    EXPECT_FALSE(set.GetIntegerChild(0x80, 3, value));
    EXPECT_EQ(value, 42);
    EXPECT_FALSE(set.GetStringChild(0x40, 5, got));
    EXPECT_EQ(got[0], 'h');
}

CEmber_Node* Bare(int32_t type) // a plain-mode container with tag A-3
{
    auto* set = new CEmber_Set();
    set->SetTag(CEmber_Tag::FromClass(0x40, 3));
    set->SetType(type);
    return set;
}

struct WrongChild
{
    const char* name;
    std::function<CEmber_Node*()> make; // tag application 3
    bool isText;
};

TEST(TypedChild, OnlyAnInteger32OrATextLeafIsRead)
{
    const WrongChild cases[] = {
        {"Integer64 whose value fits", [] { return new CEmber_Integer64(0x40, 3, 7); }, false},
        {"Boolean", [] { return new CEmber_Boolean(0x40, 3, true); }, false},
        {"Real", [] { return new CEmber_Real(0x40, 3, 7.0); }, false},
        {"time written as Integer", [] { return new CEmber_GeneralizedTime(0x40, 3, 7, false); },
         false},
        {"time", [] { return new CEmber_GeneralizedTime(0x40, 3, 7, true); }, false},
        {"bare container of type 2", [] { return Bare(2); }, false},
        {"OctetString", [] { return new CEmber_OctetString(0x40, 3, EmberContentLength{0}); },
         false},
        {"bare container of type 12", [] { return Bare(12); }, false},
        {"UTF8String without text", [] { return new CEmber_UTF8String(0x40, 3, nullptr); }, false},
        {"UTF8String", [] { return new CEmber_UTF8String(0x40, 3, "7"); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CEmber_Set set(0x80, 1, nullptr, true);
        set.AddChild(c.make(), true);
        int32_t value = -99;
        EXPECT_FALSE(set.GetIntegerChild(0x40, 3, value));
        EXPECT_EQ(value, -99);
        char* text = nullptr;
        EXPECT_EQ(set.GetStringChild(0x40, 3, text), c.isText);
        EXPECT_EQ(text != nullptr, c.isText);
    }
}

TEST(TypedChild, OnALeafEveryOperationRaisesNotAContainer)
{
    CEmber_Integer32 leaf(0x40, 3, 5);
    int32_t value = 0;
    char* text = nullptr;
    // The leaves the Add operations made are freed again (LeakSanitizer).
    EXPECT_TRUE(Raises([&] { leaf.AddIntegerChild(0x40, 4, 1); }, 3, "Not a container"));
    EXPECT_TRUE(Raises([&] { leaf.AddStringChild(0x40, 4, "x"); }, 3, "Not a container"));
    EXPECT_TRUE(Raises([&] { leaf.GetIntegerChild(0x40, 4, value); }, 3, "Not a container"));
    EXPECT_TRUE(Raises([&] { leaf.GetStringChild(0x40, 4, text); }, 3, "Not a container"));
}

TEST(TypedChild, SameTagTwiceFallsBackOnAnAdaptiveSetAndIsRefusedByASet)
{
    CEmber_AdaptiveSet adaptive(0x80, 1, nullptr);
    adaptive.AddIntegerChild(0x40, 3, 5);
    adaptive.AddIntegerChild(0x40, 3, 6);
    EXPECT_EQ(EncodeToHex(adaptive), "A1 0C 30 0A 63 03 02 01 05 63 03 02 01 06");
    int32_t value = 0;
    EXPECT_TRUE(adaptive.GetIntegerChild(0x40, 3, value));
    EXPECT_EQ(value, 5);

    CEmber_Set set(0x80, 1, nullptr, true);
    set.AddIntegerChild(0x40, 3, 5);
    EXPECT_TRUE(Raises([&] { set.AddIntegerChild(0x40, 3, 6); }, 1001, kDuplicate));
    EXPECT_TRUE(Raises([&] { set.AddStringChild(0x40, 3, "six"); }, 1001, kDuplicate));
    EXPECT_EQ(EncodeToHex(set), "A1 07 31 05 63 03 02 01 05");
}

} // namespace
