#include "host/command_parser.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct ParseRow
{
    const char* text;
    int firstCount;  // ScanIntegerCommand
    int secondCount; // ScanTextCommand
    ParseResult result;
    std::array<int32_t, 5> path;
    int32_t value;
    const char* parsedText;
};

// The counts follow sscanf: fields assigned, or -1 when the text ends before
// the first conversion.
const ParseRow kParseRows[] = {
    {"1,2,3,4,5,100", 6, 6, ParseResult::Value, {1, 2, 3, 4, 5}, 100, ""},
    {" 1, 2,\t3,\n4, +5, -7", 6, 6, ParseResult::Value, {1, 2, 3, 4, 5}, -7, ""},
    {"-1,-2,3,4,5,0", 6, 6, ParseResult::Value, {-1, -2, 3, 4, 5}, 0, ""},
    {"1,2,3,4,5,7x", 6, 6, ParseResult::Value, {1, 2, 3, 4, 5}, 7, ""},
    {"1,2,3,4,5,-1", 6, 6, ParseResult::Value, {1, 2, 3, 4, 5}, -1, ""},
    {"1,2,3,4,5,-2", 6, 6, ParseResult::Value, {1, 2, 3, 4, 5}, -2, ""},
    {"1,2,3,4,5,-3", 6, 6, ParseResult::None, {1, 2, 3, 4, 5}, -3, ""},
    {"1,2,3,4,5,-7", 6, 6, ParseResult::Value, {1, 2, 3, 4, 5}, -7, ""},
    {"1,2,3,4,5,hello~world", 5, 6, ParseResult::Value, {1, 2, 3, 4, 5}, -2, "hello world"},
    {"1,2,3,0,0,-", 5, 6, ParseResult::Value, {1, 2, 3, 0, 0}, -2, ""},
    {"1,2,3,4,5,--", 5, 6, ParseResult::Value, {1, 2, 3, 4, 5}, -2, "--"},
    {"1,2,3,4,5,+", 5, 6, ParseResult::Value, {1, 2, 3, 4, 5}, -2, "+"},
    {"1,2,3,4,5,~", 5, 6, ParseResult::Value, {1, 2, 3, 4, 5}, -2, " "},
    {"1,2,3,4,5,  a,b c", 5, 6, ParseResult::Value, {1, 2, 3, 4, 5}, -2, "a,b"},
    {"1,2,3,4,5,x9\n", 5, 6, ParseResult::Value, {1, 2, 3, 4, 5}, -2, "x9"},
    {"1,2,3,4,5,", 5, 5, ParseResult::None, {1, 2, 3, 4, 5}, -3, ""},
    {"1,2,3,4,5, \t", 5, 5, ParseResult::None, {1, 2, 3, 4, 5}, -3, ""},
    {"1,2,3", 3, 3, ParseResult::None, {1, 2, 3, 0, 0}, -3, ""},
    {"1 ,2,3,4,5,6", 1, 1, ParseResult::None, {1, 0, 0, 0, 0}, -3, ""},
    {"1,2;3,4,5,6", 2, 2, ParseResult::None, {1, 2, 0, 0, 0}, -3, ""},
    {"x,2,3,4,5,6", 0, 0, ParseResult::None, {0, 0, 0, 0, 0}, -3, ""},
    {"-,2,3,4,5,6", 0, 0, ParseResult::None, {0, 0, 0, 0, 0}, -3, ""},
    {"", -1, -1, ParseResult::None, {0, 0, 0, 0, 0}, -3, ""},
    {" \t\n ", -1, -1, ParseResult::None, {0, 0, 0, 0, 0}, -3, ""},
    // Beyond 32 bits the digits wrap, as the 32-bit conversion of the C
    // runtime does.
    {"2147483648,-2147483649,4294967297,1,99999999999999999999,-4294967295",
     6,
     6,
     ParseResult::Value,
     {INT32_MIN, INT32_MAX, 1, 1, 1661992959},
     1,
     ""},
    // Every white-space character of the "C" locale, and none beyond it.
    {"\v1,\f2,\r3,4,5,\v\f\r9", 6, 6, ParseResult::Value, {1, 2, 3, 4, 5}, 9, ""},
    {"1,2,3,4,5,a\vb", 5, 6, ParseResult::Value, {1, 2, 3, 4, 5}, -2, "a"},
    {"1,2,3,4,5,\xA0x", 5, 6, ParseResult::Value, {1, 2, 3, 4, 5}, -2, "\xA0x"},
    {"\xA0"
     "1,2,3,4,5,6",
     0,
     0,
     ParseResult::None,
     {0, 0, 0, 0, 0},
     -3,
     ""},
};

TEST(CommandParser, ScansWithTheCRules)
{
    for (const ParseRow& row : kParseRows) {
        SCOPED_TRACE(row.text);
        const size_t length = std::strlen(row.text);

        CCommandRecord first;
        EXPECT_EQ(ScanIntegerCommand(row.text, length, first), row.firstCount);
        CCommandRecord second;
        size_t textLength = 0;
        EXPECT_EQ(ScanTextCommand(row.text, length, second, textLength), row.secondCount);

        CCommandRecord record;
        EXPECT_EQ(ParseCommand(row.text, length, record, nullptr), row.result);
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(record.p[i], row.path[size_t(i)]) << "p" << i + 1;
        EXPECT_EQ(record.value, row.value);
        EXPECT_STREQ(record.text, row.parsedText);
    }
}

TEST(CommandParser, ReadsNoFurtherThanTheGivenLength)
{
    struct Row
    {
        std::string text; // may hold a NUL
        size_t length;
        ParseResult result;
        int32_t value;
        const char* parsedText;
    };
    const Row rows[] = {
        {"1,2,3,4,5,100", 11, ParseResult::Value, 1, ""},
        {"1,2,3,4,5,100", 10, ParseResult::None, -3, ""},
        {"1,2,3,4,5,abcdef", 13, ParseResult::Value, -2, "abc"},
        {std::string("1,2,3\0,4,5,6", 12), 12, ParseResult::None, -3, ""},
        {std::string("1,2,3,4,5,ab\0cd", 15), 15, ParseResult::Value, -2, "ab"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text.substr(0, row.length));
        // Only the given octets exist: anything read past them is caught.
        std::vector<char> exact(row.text.begin(), row.text.begin() + long(row.length));
        CCommandRecord record;
        EXPECT_EQ(ParseCommand(exact.data(), exact.size(), record, nullptr), row.result);
        EXPECT_EQ(record.value, row.value);
        EXPECT_STREQ(record.text, row.parsedText);
    }
}

TEST(CommandParser, TextsOfSixtyFourCharactersAreRefused)
{
    struct Row
    {
        size_t length;
        ParseResult result;
        int32_t value;
    };
    const Row rows[] = {
        {62, ParseResult::Value, VALUE_TEXT},         {63, ParseResult::Value, VALUE_TEXT},
        {64, ParseResult::TextTooLong, VALUE_NONE},   {65, ParseResult::TextTooLong, VALUE_NONE},
        {4000, ParseResult::TextTooLong, VALUE_NONE},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.length);
        const std::string text = "1,2,3,4,5," + std::string(row.length, 'w');
        CCommandRecord record;
        EXPECT_EQ(ParseCommand(text.c_str(), text.size(), record, nullptr), row.result);
        EXPECT_EQ(record.value, row.value);
        if (row.result == ParseResult::Value)
            EXPECT_EQ(std::string(record.text), std::string(row.length, 'w'));
        else
            EXPECT_STREQ(record.text, "");
    }
}

TEST(CommandParser, TracesEachScan)
{
    struct Row
    {
        std::string text;
        std::vector<std::string> lines;
    };
    const Row rows[] = {
        {"1,2,3,4,5,100", {"sscanf iError=6  \n"}},
        {"1,2,3,4,5,-3", {"sscanf iError=6  \n"}},
        {"1,2,3,4,5,hello~world",
         {"sscanf iError=5  \n", "sscanf iError=6 text=hello~world \n",
          "sscanf iError=6 text=hello world \n"}},
        {"1,2,3,0,0,-",
         {"sscanf iError=5  \n", "sscanf iError=6 text=- \n", "sscanf iError=6 text= \n"}},
        {"1,2", {"sscanf iError=2  \n", "sscanf iError=2 text= \n", "sscanf iError=2 text= \n"}},
        {"", {"sscanf iError=-1  \n", "sscanf iError=-1 text= \n", "sscanf iError=-1 text= \n"}},
        {"1,2,3,4,5," + std::string(64, 'w'),
         {"sscanf iError=5  \n", "command text of 64 characters refused: the field holds 63 \n"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        std::vector<std::string> lines;
        CCommandRecord record;
        ParseCommand(row.text.c_str(), row.text.size(), record,
                     [&lines](const char* line) { lines.emplace_back(line); });
        EXPECT_EQ(lines, row.lines);
    }
}

} // namespace
