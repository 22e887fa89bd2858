// The command parser against the C library's sscanf, an oracle written by
// others: over many generated texts, the scan counts, the records and the
// text lengths must be what sscanf gives for "%d,%d,%d,%d,%d,%d" and
// "%d,%d,%d,%d,%d,%s" on the text up to its first NUL or its length. Only
// texts whose numbers all fit 32 bits are compared: beyond that the C
// conversion is undefined (the parser wraps, as the C runtime the partners
// were built with does; command_parser_test.cpp holds those cases).
#include "host/command_parser.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
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

const char* const kNumbers[] = {"0",     "1",          "-1",          "-2",     "-3", "+7",
                                "00012", "2147483647", "-2147483648", "-",      "+",  "--1",
                                "+-1",   "",           " 5",          "\t\n-4", "7x", "3,"};

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

// True when every run of digits in `text` (with the sign before it) is a
// value of 32 bits, so that sscanf's "%d" is defined on it.
bool NumbersFit(const std::string& text)
{
    for (size_t i = 0; i < text.size();) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) {
            ++i;
            continue;
        }
        const bool negative = i > 0 && text[i - 1] == '-';
        uint64_t value = 0;
        for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
            value = value * 10 + uint64_t(text[i] - '0');
            if (value > (uint64_t(1) << 31))
                return false;
        }
        if (value == (uint64_t(1) << 31) && !negative)
            return false;
    }
    return true;
}

// The text the parser sees: up to the first NUL or `length`, NUL-terminated.
std::string Bounded(const char* text, size_t length)
{
    const void* nul = std::memchr(text, '\0', length);
    return std::string(text, nul ? size_t(static_cast<const char*>(nul) - text) : length);
}

int OracleIntegerCommand(const std::string& text, CCommandRecord& record)
{
    int v[6] = {};
    const int count =
        std::sscanf(text.c_str(), "%d,%d,%d,%d,%d,%d", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
    for (int i = 0; i < count && i < 5; ++i)
        record.p[i] = v[i];
    if (count == 6)
        record.value = v[5];
    return count;
}

// "%d,%d,%d,%d,%d,%s" without letting sscanf write an unbounded word: the
// word is found with "%*s" between two "%n".
int OracleTextCommand(const std::string& text, CCommandRecord& record, size_t& textLength)
{
    textLength = 0;
    int v[5] = {};
    int afterComma = -1;
    const int count = std::sscanf(text.c_str(), "%d,%d,%d,%d,%d,%n", &v[0], &v[1], &v[2], &v[3],
                                  &v[4], &afterComma);
    for (int i = 0; i < count && i < 5; ++i)
        record.p[i] = v[i];
    if (count != 5 || afterComma < 0)
        return count;
    int start = -1;
    int end = -1;
    const char* rest = text.c_str() + afterComma;
    std::sscanf(rest, " %n%*s%n", &start, &end);
    if (end < 0)
        return 5;
    textLength = size_t(end - start);
    if (textLength < CCommandRecord::kTextSize) {
        std::memcpy(record.text, rest + start, textLength);
        record.text[textLength] = '\0';
    }
    return 6;
}

TEST(CommandParserDifferential, ScansAsSscanfDoesOnGeneratedTexts)
{
    std::mt19937 random(20261208);
    int compared = 0;
    // The texts must reach every outcome, or the comparison proves little.
    std::set<int> firstCounts;
    std::set<int> secondCounts;
    bool longText = false;
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
        const std::string bounded = Bounded(text, length);
        if (!NumbersFit(bounded))
            continue;
        SCOPED_TRACE(::testing::PrintToString(std::string(text, length)));

        const uint32_t seed = uint32_t(n);
        CCommandRecord expected = Prefilled(seed);
        CCommandRecord actual = Prefilled(seed);
        const int first = ScanIntegerCommand(text, length, actual);
        EXPECT_EQ(OracleIntegerCommand(bounded, expected), first);
        firstCounts.insert(first);
        ExpectSameRecord(expected, actual);

        expected = Prefilled(seed);
        actual = Prefilled(seed);
        size_t expectedLength = 12345;
        size_t actualLength = 54321;
        const int second = ScanTextCommand(text, length, actual, actualLength);
        EXPECT_EQ(OracleTextCommand(bounded, expected, expectedLength), second);
        secondCounts.insert(second);
        EXPECT_EQ(expectedLength, actualLength);
        longText = longText || actualLength >= CCommandRecord::kTextSize;
        ExpectSameRecord(expected, actual);
        if (::testing::Test::HasFailure())
            return;
        ++compared;
    }
    EXPECT_GT(compared, 40000);
    EXPECT_EQ((std::set<int>{-1, 0, 1, 2, 3, 4, 5, 6}), firstCounts);
    EXPECT_EQ((std::set<int>{-1, 0, 1, 2, 3, 4, 5, 6}), secondCounts);
    EXPECT_TRUE(longText);
}

} // namespace
