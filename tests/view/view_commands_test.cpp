// The command lines the page's edits and buttons become, and the check
// that warns about (or with --strict refuses) a line.
#include "view/view_commands.h"

#include <gtest/gtest.h>

namespace {

struct SetCase
{
    const char* path;
    bool text;
    const char* value;
    const char* line; // empty: refused with `error`
    const char* error;
};

const SetCase kSetCases[] = {
    {"1,2,3,4,5", false, "100", "1,2,3,4,5,100", ""},
    {"1,2,3,4,5", false, "0", "1,2,3,4,5,0", ""},
    {"1,2,3,4,5", true, "Main out", "1,2,3,4,5,Main~out", ""},
    {"1,2,3,4", false, "75", "1,2,3,4,0,75", ""},
    {"1,2,3,4", true, "Aux 2", "1,2,3,4,0,Aux~2", ""},
    {"1,2,3", true, "Ch 1", "1,2,3,0,0,Ch~1", ""},
    {"1,2,3", true, "", "1,2,3,0,0,-", ""},
    {"1,2,3,4,5", false, "2147483647", "1,2,3,4,5,2147483647", ""},
    {"1,2,3,4,5", false, "2147483648", "", "an integer value is 0 to 2147483647: '2147483648'"},
    {"1,2,3,4,5", false, "-1", "", "an integer value is 0 to 2147483647: '-1'"},
    {"1,2,3,4,5", false, "", "", "an integer value is 0 to 2147483647: ''"},
    {"1,2,3", false, "5", "", "no command line sets an integer at a path of 3 numbers"},
    {"1,2", true, "x", "", "no command line sets a text at a path of 2 numbers"},
    {"1,0,3", true, "x", "", "no command line names 1,0,3 (a zero inside the path)"},
    {"1,2,3", true, "a~b", "", "a text cannot carry '~' (it travels as a blank)"},
    {"x", true, "a", "", "not a path: 'x'"},
};

TEST(ViewCommands, SetLines)
{
    for (const SetCase& c : kSetCases) {
        std::string line;
        std::string error;
        const bool made = SetLineFor(c.path, c.text, c.value, line, error);
        EXPECT_EQ(made, *c.line != '\0') << c.path << " " << c.value;
        EXPECT_EQ(made ? line : error, made ? c.line : c.error);
    }
}

TEST(ViewCommands, PollLines)
{
    const std::pair<const char*, const char*> cases[] = {
        {"1,2", "1,2,1,0,0,-1"},     {"1,2,3", "1,2,3,1,0,-1"},
        {"1,2,3,4", "1,2,3,4,1,-1"}, {"1", ""},
        {"1,2,3,4,5", ""},           {"1,0,3", ""},
    };
    for (const auto& [level, expected] : cases) {
        std::string line;
        std::string error;
        EXPECT_EQ(PollLineFor(level, line, error), *expected != '\0') << level;
        EXPECT_EQ(line, expected);
    }
}

TEST(ViewCommands, LinesAreCheckedAsThePartnerChecksThem)
{
    const CViewLineCheck clean = CheckViewLine("1,2,3,4,5,100", true);
    EXPECT_FALSE(clean.refused);
    EXPECT_EQ(clean.warning, "");
    const CViewLineCheck sevenFields = CheckViewLine("1,2,3,4,5,6,7", false);
    EXPECT_FALSE(sevenFields.refused);
    EXPECT_NE(sevenFields.warning.find("more than six fields"), std::string::npos)
        << sevenFields.warning;
    EXPECT_TRUE(CheckViewLine("1,2,3,4,5,6,7", true).refused);
    const CViewLineCheck noValue = CheckViewLine("1,2,3", false);
    EXPECT_FALSE(noValue.warning.empty());
}

} // namespace
