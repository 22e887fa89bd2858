// The command parser against the parser it replaced (tests/support/
// reference_command_parser.*): over many generated texts, both must give the
// same scan counts, records, text lengths, results and trace lines.
#include "host/command_parser.h"
#include "tests/support/reference_command_parser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

// Characters that matter to the formats, and some that do not.
const char kAlphabet[] = {'0',  '1',  '5', '9', ',', ',', '-', '+',  ' ',    '\t',   '\n',   '\v',
                          '\f', '\r', '~', 'a', 'x', 'Z', ';', '\0', '\x80', '\xA0', '\xFF', '.'};

const char* const kNumbers[] = {"0",
                                "1",
                                "-1",
                                "-2",
                                "-3",
                                "+7",
                                "00012",
                                "2147483647",
                                "2147483648",
                                "-2147483648",
                                "-2147483649",
                                "4294967295",
                                "4294967296",
                                "99999999999999999999",
                                "-",
                                "+",
                                "--1",
                                "+-1",
                                "",
                                " 5",
                                "\t\n-4",
                                "7x",
                                "3,"};

std::string RandomNoise(std::mt19937& random, size_t maxLength)
{
    std::string text(std::uniform_int_distribution<size_t>(0, maxLength)(random), '\0');
    for (char& c : text)
        c = kAlphabet[std::uniform_int_distribution<size_t>(0, sizeof kAlphabet - 1)(random)];
    return text;
}

std::string RandomWord(std::mt19937& random)
{
    switch (std::uniform_int_distribution<int>(0, 5)(random)) {
    case 0:
        return "-";
    case 1:
        // Around the 63 characters the text field holds.
        return std::string(std::uniform_int_distribution<size_t>(60, 66)(random), 'w');
    case 2:
        return "hello~world";
    default:
        return RandomNoise(random, 12);
    }
}

// Mostly command-shaped texts, with random damage.
std::string RandomLine(std::mt19937& random)
{
    if (std::uniform_int_distribution<int>(0, 9)(random) == 0)
        return RandomNoise(random, 40);
    std::string text;
    const int fields = std::uniform_int_distribution<int>(0, 6)(random);
    for (int i = 0; i < fields; ++i) {
        if (i == 5 && std::uniform_int_distribution<int>(0, 1)(random))
            text += RandomWord(random);
        else
            text +=
                kNumbers[std::uniform_int_distribution<size_t>(0, std::size(kNumbers) - 1)(random)];
        if (i < 5)
            text +=
                std::uniform_int_distribution<int>(0, 15)(random) ? "," : RandomNoise(random, 2);
    }
    if (std::uniform_int_distribution<int>(0, 3)(random) == 0)
        text += RandomNoise(random, 6);
    // A character changed anywhere.
    if (!text.empty() && std::uniform_int_distribution<int>(0, 4)(random) == 0)
        text[std::uniform_int_distribution<size_t>(0, text.size() - 1)(random)] =
            kAlphabet[std::uniform_int_distribution<size_t>(0, sizeof kAlphabet - 1)(random)];
    return text;
}

void ExpectSameRecord(const CCommandRecord& expected, const CCommandRecord& actual)
{
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(expected.p[i], actual.p[i]) << "p" << (i + 1);
    EXPECT_EQ(expected.value, actual.value);
    EXPECT_EQ(0, std::memcmp(expected.text, actual.text, sizeof expected.text));
}

CCommandRecord Prefilled(uint32_t seed)
{
    CCommandRecord record;
    for (int i = 0; i < 5; ++i)
        record.p[i] = int32_t(seed * 2654435761u + uint32_t(i));
    record.value = int32_t(seed);
    for (size_t i = 0; i < sizeof record.text; ++i)
        record.text[i] = char('A' + (seed + i) % 26);
    return record;
}

TEST(CommandParserDifferential, AgreesWithThePreviousParserOnGeneratedTexts)
{
    std::mt19937 random(20261208);
    int compared = 0;
    // The texts must reach every outcome, or the comparison proves little.
    std::set<int> firstCounts;
    std::set<int> secondCounts;
    std::set<ParseResult> results;
    for (int n = 0; n < 60000; ++n) {
        const std::string line = RandomLine(random);
        // The octets exactly, without a NUL behind them, so that reading
        // past the given length would be seen by the sanitizers.
        const std::vector<char> octets(line.begin(), line.end());
        const char* text = octets.empty() ? nullptr : octets.data();
        size_t length = octets.size();
        if (length && std::uniform_int_distribution<int>(0, 4)(random) == 0)
            length = std::uniform_int_distribution<size_t>(0, length)(random);
        if (!text)
            text = "";
        SCOPED_TRACE(::testing::PrintToString(std::string(text, length)));

        const uint32_t seed = uint32_t(n);
        CCommandRecord expected = Prefilled(seed);
        CCommandRecord actual = Prefilled(seed);
        const int first = ScanIntegerCommand(text, length, actual);
        EXPECT_EQ(ReferenceScanIntegerCommand(text, length, expected), first);
        firstCounts.insert(first);
        ExpectSameRecord(expected, actual);

        expected = Prefilled(seed);
        actual = Prefilled(seed);
        size_t expectedLength = 12345;
        size_t actualLength = 54321;
        const int second = ScanTextCommand(text, length, actual, actualLength);
        EXPECT_EQ(ReferenceScanTextCommand(text, length, expected, expectedLength), second);
        secondCounts.insert(second);
        EXPECT_EQ(expectedLength, actualLength);
        ExpectSameRecord(expected, actual);

        std::vector<std::string> expectedTrace;
        std::vector<std::string> actualTrace;
        expected = Prefilled(seed);
        actual = Prefilled(seed);
        const ParseResult expectedResult = ReferenceParseCommand(
            text, length, expected, [&](const char* l) { expectedTrace.emplace_back(l); });
        const ParseResult actualResult =
            ParseCommand(text, length, actual, [&](const char* l) { actualTrace.emplace_back(l); });
        EXPECT_EQ(expectedResult, actualResult);
        results.insert(actualResult);
        ExpectSameRecord(expected, actual);
        EXPECT_EQ(expectedTrace, actualTrace);

        // Without a trace sink too.
        expected = Prefilled(seed);
        actual = Prefilled(seed);
        EXPECT_EQ(ReferenceParseCommand(text, length, expected, TraceSink()),
                  ParseCommand(text, length, actual, TraceSink()));
        ExpectSameRecord(expected, actual);
        if (::testing::Test::HasFailure())
            return;
        ++compared;
    }
    EXPECT_EQ(60000, compared);
    EXPECT_EQ((std::set<int>{-1, 0, 1, 2, 3, 4, 5, 6}), firstCounts);
    EXPECT_EQ((std::set<int>{-1, 0, 1, 2, 3, 4, 5, 6}), secondCounts);
    EXPECT_EQ(
        (std::set<ParseResult>{ParseResult::Value, ParseResult::None, ParseResult::TextTooLong}),
        results);
}

} // namespace
