// "Did you mean": the edit distance and the choice of a suggestion.
#include "tools/korvane/output/suggest.h"

#include <gtest/gtest.h>

namespace {

TEST(Suggest, EditDistance)
{
    const struct
    {
        const char* a;
        const char* b;
        size_t distance;
    } rows[] = {
        {"", "", 0},
        {"", "abc", 3},
        {"decode", "decode", 0},
        {"decod", "decode", 1},
        {"decdoe", "decode", 1},
        {"dekode", "decode", 1},
        {"xdecode", "decode", 1},
        {"serve", "reencode", 6},
        {"ca", "abc", 3},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.a) + " / " + row.b);
        EXPECT_EQ(EditDistance(row.a, row.b), row.distance);
        EXPECT_EQ(EditDistance(row.b, row.a), row.distance);
    }
}

TEST(Suggest, NearEnoughOnly)
{
    const std::vector<std::string> commands = {"encode", "decode",  "dump",   "reencode",
                                               "serve",  "partner", "console"};
    EXPECT_EQ(Suggest("decod", commands), "decode");
    EXPECT_EQ(Suggest("dupm", commands), "dump");
    EXPECT_EQ(Suggest("partenr", commands), "partner");
    EXPECT_EQ(Suggest("encoed", commands), "encode");
    EXPECT_EQ(Suggest("frobnicate", commands), "");
    EXPECT_EQ(Suggest("x", commands), "");
    EXPECT_EQ(Suggest("dmp", {"dump", "dup"}), "dump");
    EXPECT_EQ(Suggest("--jsn", {"--help", "--hex", "--json"}), "--json");
}

} // namespace
