// What the tests of the korvane tool share: running it, the console
// messages they feed it and the table row they check. The tool is `korvane`
// on Linux and `korvane-cli.exe` on Windows; the expectations are the same.
#pragma once

#include "tests/support/hex.h"
#include "tests/support/run_program.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifdef KORVANE_CLI_PATH

namespace korvane_cli_tests {

using testing_support::ProgramResult;

// Runs the tool with the arguments, standard input from `input`.
inline ProgramResult Korvane(const std::vector<std::string>& args, const std::string& input = "")
{
    ProgramResult result =
        testing_support::RunProgram(testing_support::KorvaneCliPath(), args, input);
    if (result.status == -1)
        ADD_FAILURE() << "cannot run " << testing_support::KorvaneCliPath() << " or it hung";
    return result;
}

// The tool's name as its usage lines give it: its file name without ".exe".
inline std::string ProgramName()
{
    std::string name = KORVANE_CLI_PATH;
    name = name.substr(name.find_last_of("/\\") + 1);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0)
        name.resize(name.size() - 4);
    return name;
}

inline size_t Lines(const std::string& text)
{
    size_t count = 0;
    for (char c : text)
        count += c == '\n';
    return count;
}

// Console messages (hex): each a root holding Ctx 7 › Ctx 1 › Ctx 2 ›
// Ctx 3 › Ctx 4 › Prv 5 › the value at application 3.
inline const std::string kValue100 =
    "7F8FFFFED95C803080 A71B3119 A1173115 A2133111 A30F310D A40B3109 "
    "E5073105 6303020164 00000000";
inline const std::string kValue101 =
    "7F8FFFFED95C803080 A71B3119 A1173115 A2133111 A30F310D A40B3109 "
    "E5073105 6303020165 00000000";
inline const std::string kMainOut =
    "7F8FFFFED95C803080 A7223120 A11E311C A21A3118 A3163114 A4123110 "
    "E50E310C 630A0C08 4D61696E206F7574 00000000";
// A report of 30 characters: the host drops it.
inline const std::string kLongText =
    "7F8FFFFED95C803080 A72C312A A1283126 A2243122 A320311E A41C311A "
    "E5183116 63140C12 6162636465666768696A6B6C6D6E6F7071 72 00000000";
// Texts "a~b c" (a real "~" and a blank) and "a", 0xFF, "b c" (not UTF-8).
inline const std::string kTildeText =
    "7F8FFFFED95C803080 A71F311D A11B3119 A2173115 A3133111 A40F310D "
    "E50B3109 63070C05 617E622063 00000000";
inline const std::string kNotUtf8 =
    "7F8FFFFED95C803080 A71F311D A11B3119 A2173115 A3133111 A40F310D "
    "E50B3109 63070C05 61FF622063 00000000";
// Errors: a zero outer length; two children with one tag in a Set.
inline const std::string kZeroLength = "7F8FFFFED95C803080 A100 00000000";
inline const std::string kDuplicate = "7F8FFFFED95C803080 A10C310A 6303020101 6303020102 00000000";
// Root › Ctx 1 Set › Integer 5 at application 3.
inline const std::string kSmall = "7F8FFFFED95C803080 A1073105 6303020105 00000000";

inline std::string Raw(const std::string& hex)
{
    const std::vector<uint8_t> octets = testing_support::Hex(hex);
    return std::string(octets.begin(), octets.end());
}

struct Row
{
    const char* name;
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string out;
};

inline void Check(const Row& row)
{
    SCOPED_TRACE(row.name);
    const ProgramResult result = Korvane(row.args, row.input);
    EXPECT_EQ(result.status, row.status) << result.err;
    EXPECT_EQ(result.out, row.out);
    if (row.status == 0)
        EXPECT_EQ(result.err, "");
    else
        EXPECT_NE(result.err, "");
}

inline const std::string kBlock100 =
    "7F 8F FF FE D9 5C 80 30 80 00 00 00 00 7F 8F FF FE D9 5C 80 30 80 A1 17 31 15 A2 13 31 11 "
    "A3 0F 31 0D A4 0B 31 09 E5 07 31 05 63 03 02 01 64 00 00 00 00\n";

} // namespace korvane_cli_tests

#endif // KORVANE_CLI_PATH
