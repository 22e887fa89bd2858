#include "tests/support/command_lines.h"

#include <iterator>

namespace testing_support {

namespace {

// Path numbers: zero (a level left out), the edges of the one- to
// five-octet tag numbers, the 32-bit edges and beyond, signs and blanks.
const char* const kPathNumbers[] = {
    "0",         "1",          "5",     "30",          "31",         "127",
    "128",       "16383",      "16384", "2097151",     "2097152",    "268435455",
    "268435456", "2147483647", "-1",    "-2147483648", "4294967295", "4294967296",
    "+7",        " 9",         "\t12",  "00042",       "99999999999"};

// Integer values: the one- to four-octet edges, the value codes and what
// wraps onto them.
const char* const kValues[] = {"0",          "1",
                               "100",        "127",
                               "128",        "255",
                               "256",        "32767",
                               "32768",      "8388607",
                               "8388608",    "2147483647",
                               "-1",         "-2",
                               "-3",         "-4",
                               "-7",         "4294967295",
                               "4294967294", "4294967293",
                               "2147483648", "+5",
                               "7x",         " 3",
                               "-0",         "18446744073709551615"};

const char kTextCharacters[] = "abcXYZ019~-,.;+\x80\xA0\xFF";
const char kNoise[] = {'0', '5', ',', '-', '+', ' ', '\t', '\n', '~', 'a', '\0', '\xFF'};

std::string Pick(std::mt19937& random, const char* const* list, size_t count)
{
    return list[std::uniform_int_distribution<size_t>(0, count - 1)(random)];
}

std::string RandomText(std::mt19937& random)
{
    switch (std::uniform_int_distribution<int>(0, 7)(random)) {
    case 0:
        return "-";
    case 1:
        return "~";
    case 2:
        // Around the 63 characters the text field holds.
        return std::string(std::uniform_int_distribution<size_t>(60, 66)(random), 'w');
    default:
        break;
    }
    std::string text(std::uniform_int_distribution<size_t>(1, 20)(random), 'a');
    for (char& c : text)
        c = kTextCharacters[std::uniform_int_distribution<size_t>(0, sizeof kTextCharacters -
                                                                         2)(random)];
    return text;
}

} // namespace

std::string RandomCommandLine(std::mt19937& random)
{
    // Three, four or five path numbers given, the rest zero (or not).
    const int levels = std::uniform_int_distribution<int>(1, 5)(random);
    std::string line;
    for (int i = 0; i < 5; ++i) {
        if (i < levels || std::uniform_int_distribution<int>(0, 7)(random) == 0)
            line += Pick(random, kPathNumbers, std::size(kPathNumbers));
        else
            line += "0";
        line += ',';
    }
    switch (std::uniform_int_distribution<int>(0, 2)(random)) {
    case 0:
        line += Pick(random, kValues, std::size(kValues));
        break;
    case 1:
        line += "-1";
        break;
    default:
        line += RandomText(random);
        break;
    }
    switch (std::uniform_int_distribution<int>(0, 9)(random)) {
    case 0:
        // Anything after the value.
        for (int i = std::uniform_int_distribution<int>(1, 6)(random); i > 0; --i)
            line += kNoise[std::uniform_int_distribution<size_t>(0, sizeof kNoise - 1)(random)];
        break;
    case 1:
        // A character changed anywhere.
        line[std::uniform_int_distribution<size_t>(0, line.size() - 1)(random)] =
            kNoise[std::uniform_int_distribution<size_t>(0, sizeof kNoise - 1)(random)];
        break;
    case 2:
        line.resize(std::uniform_int_distribution<size_t>(0, line.size())(random));
        break;
    default:
        break;
    }
    return line;
}

} // namespace testing_support
