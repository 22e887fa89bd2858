#include "console/parameter_store.h"

#include <gtest/gtest.h>

namespace {

TEST(ParameterStore, SetTellsWhetherTheStoreChanged)
{
    CParameterStore store;
    EXPECT_TRUE(store.Set({1, 2, 3}, int32_t(5)));
    EXPECT_FALSE(store.Set({1, 2, 3}, int32_t(5)));
    EXPECT_TRUE(store.Set({1, 2, 3}, int32_t(6)));
    // The same digits as a text are another value.
    EXPECT_TRUE(store.Set({1, 2, 3}, std::string("6")));
    ASSERT_NE(store.Find({1, 2, 3}), nullptr);
    EXPECT_EQ(*store.Find({1, 2, 3}), ParameterValue(std::string("6")));
    EXPECT_EQ(store.Find({1, 2}), nullptr);
    EXPECT_EQ(store.Size(), 1u);
}

TEST(ParameterStore, BelowIsEveryLongerKeyWithThatBeginningInOrder)
{
    CParameterStore store;
    for (const ParameterKey& key : std::vector<ParameterKey>{{1, 2, 3, 4, 5},
                                                             {1, 2, 3},
                                                             {1, 2, 3, 4},
                                                             {1, 2, 9, 4, 5},
                                                             {1, 3, 3},
                                                             {1, 2},
                                                             {0, 2, 3},
                                                             {1, 2, 3, 4, 6}})
        store.Set(key, int32_t(key.size()));
    struct Row
    {
        ParameterKey path;
        std::vector<ParameterKey> expected;
    };
    const Row rows[] = {
        {{1, 2, 3, 4}, {{1, 2, 3, 4, 5}, {1, 2, 3, 4, 6}}},
        {{1, 2, 3}, {{1, 2, 3, 4}, {1, 2, 3, 4, 5}, {1, 2, 3, 4, 6}}},
        {{1, 2}, {{1, 2, 3}, {1, 2, 3, 4}, {1, 2, 3, 4, 5}, {1, 2, 3, 4, 6}, {1, 2, 9, 4, 5}}},
        {{1, 2, 3, 4, 5}, {}},
        {{7}, {}},
        {{}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(KeyText(row.path));
        std::vector<ParameterKey> keys;
        for (const ParameterEntry& entry : store.Below(row.path))
            keys.push_back(entry.first);
        EXPECT_EQ(keys, row.expected);
    }
}

TEST(ParameterStore, TextsForTheLog)
{
    EXPECT_EQ(KeyText({1, 2, 4294967295u}), "1/2/4294967295");
    EXPECT_EQ(ValueText(int32_t(-7)), "-7");
    EXPECT_EQ(ValueText(std::string("Main out")), "\"Main out\"");
    EXPECT_EQ(ValueText(std::string("a\"b\n")), "\"a\\x22b\\x0A\"");
}

} // namespace
