#include "host/command_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct CheckRow
{
    std::string line;
    std::vector<std::string> findings;
};

const CheckRow kRows[] = {
    {"1,2,3,4,5,100", {}},
    {"1,2,3,4,5,100\n", {}},
    {"1,2,3,4,5,-1", {}},
    {"1,2,3,0,0,Main~out", {}},
    {"1,2,3,0,0,-", {}},
    {"1,2,3,4,5,a,b", {}},
    {" 1, 2, 3, 4, +5, 7 \r\n", {}},
    {"1,2,3,4,5,2147483647", {}},
    {"1,2,3,4,5,6,7", {"more than six fields: the service reads value 6 and ignores ',7'"}},
    {"1,2,3,4,5,7x", {"the service reads value 7 and ignores 'x'"}},
    {"1,2,3,4,5,99999999999",
     {"99999999999 is outside the signed 32-bit range: the service reads 1215752191"}},
    {"1,2,3,4,5,2147483648",
     {"2147483648 is outside the signed 32-bit range: the service reads -2147483648"}},
    {"1,2,3,4,5,-2147483648", {}},
    {"4294967297,2,3,4,5,1",
     {"4294967297 is outside the signed 32-bit range: the service reads 1"}},
    {"-1,2,3,4,5,1", {"path number -1 is read as tag number 4294967295"}},
    {"1,2,3,4,-2147483649,1",
     {"-2147483649 is outside the signed 32-bit range: the service reads 2147483647"}},
    {"1,2,3,4,5,Main out",
     {"the service reads the text 'Main' and ignores ' out' (write a blank "
      "as ~)"}},
    {"1,2,3,4,5," + std::string(63, 'x'), {}},
    {"1,2,3,4,5," + std::string(64, 'x'),
     {"the text has 64 characters, more than the 63 that travel: the service sends nothing"}},
    {"1,2,3,4,5,-2", {"value -2 is read as an empty text"}},
    {"1,2,3,4,5,-3", {"value -3 means no value: the service sends nothing"}},
    {"1,2,3",
     {"no value (five path numbers and an integer, -1 or a text are needed): the service sends "
      "nothing"}},
    {"",
     {"no value (five path numbers and an integer, -1 or a text are needed): the service "
      "sends nothing"}},
    {"-1,2,3,4,5,a b c",
     {"path number -1 is read as tag number 4294967295",
      "the service reads the text 'a' and ignores ' b c' (write a blank as ~)"}},
};

TEST(CommandCheck, FindsWhatTheServiceReadsDifferently)
{
    for (const CheckRow& row : kRows) {
        SCOPED_TRACE(row.line);
        std::vector<std::string> texts;
        for (const CommandFinding& finding : CheckCommandLine(row.line))
            texts.push_back(finding.text);
        EXPECT_EQ(texts, row.findings);
    }
}

TEST(CommandCheck, KindsTellWhetherAnythingIsSent)
{
    const auto kinds = [](const std::string& line) {
        std::vector<CommandFinding::Kind> out;
        for (const CommandFinding& finding : CheckCommandLine(line))
            out.push_back(finding.kind);
        return out;
    };
    using K = CommandFinding::Kind;
    EXPECT_EQ(kinds("1,2,3,4,5,6,7"), std::vector<K>{K::IgnoredText});
    EXPECT_EQ(kinds("1,2,3,4,5," + std::string(70, 'x')), std::vector<K>{K::TextTooLong});
    EXPECT_EQ(kinds("1,2"), std::vector<K>{K::NoValue});
    EXPECT_TRUE(SendsNothing({K::NoValue, ""}));
    EXPECT_FALSE(SendsNothing({K::OutOfRange, ""}));
    // The line ends at its length or its first NUL, as the service reads it.
    EXPECT_TRUE(CheckCommandLine("1,2,3,4,5,1,9", 11).empty());
    EXPECT_TRUE(CheckCommandLine(std::string("1,2,3,4,5,1\0,9", 14)).empty());
}

} // namespace
