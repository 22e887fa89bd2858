// End-to-end runs of the tool's codec subcommands: the same table on Linux
// (korvane) and Windows (korvane-cli.exe, under Wine), octet for octet.
#include "tests/tools/cli_cases.h"

#ifdef KORVANE_CLI_PATH

namespace korvane_cli_tests {
namespace {

TEST(KorvaneCli, Encode)
{
    const Row rows[] = {
        {"worked example", {"encode", "1,2,3,4,5,100"}, "", 0, kBlock100},
        {"poll",
         {"encode", "1,2,3,4,5,-1"},
         "",
         0,
         "7F 8F FF FE D9 5C 80 30 80 00 00 00 00 7F 8F FF FE D9 5C 80 30 80 "
         "A1 14 31 12 A2 10 31 0E A3 0C 31 0A A4 08 31 06 7F 20 03 02 01 01 00 00 00 00\n"},
        {"three-level text",
         {"encode", "--", "1,2,3,0,0,a~b"},
         "",
         0,
         "7F 8F FF FE D9 5C 80 30 80 00 00 00 00 7F 8F FF FE D9 5C 80 30 80 "
         "A1 11 31 0F A2 0D 31 0B E3 09 31 07 63 05 0C 03 61 20 62 00 00 00 00\n"},
        {"no three-level integer", {"encode", "1,2,3,0,0,5"}, "", 1, ""},
        {"no value", {"encode", "1,2,3"}, "", 1, ""},
        {"text too long", {"encode", "1,2,3,4,5," + std::string(64, 'x')}, "", 1, ""},
        {"no line", {"encode"}, "", 2, ""},
        {"two lines", {"encode", "1,2,3,4,5,1", "1,2,3,4,5,2"}, "", 2, ""},
        {"unknown option", {"encode", "--bogus", "1,2,3,4,5,1"}, "", 2, ""},
    };
    for (const Row& row : rows)
        Check(row);
}

TEST(KorvaneCli, EncodeSaysWhyNothingIsSentOnOneLine)
{
    const std::vector<std::string> lines[] = {{"encode", "1,2,3,0,0,5"},
                                              {"encode", "1,2,3"},
                                              {"encode", "0,2,3,4,5,5"},
                                              {"encode", "1,2,3,4,5," + std::string(70, 'x')}};
    for (const auto& args : lines) {
        SCOPED_TRACE(args[1]);
        const ProgramResult result = Korvane(args);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(Lines(result.err), 1u) << result.err;
        EXPECT_EQ(result.err.back(), '\n');
    }
}

TEST(KorvaneCli, EncodeTraceWritesTheHostTraces)
{
    const ProgramResult poll = Korvane({"encode", "--trace", "1,2,3,0,0,-1"});
    EXPECT_EQ(poll.status, 0);
    EXPECT_EQ(poll.err, "sscanf iError=6  \nNOT Full House create PART-3 container To POLL \n");
    EXPECT_EQ(Lines(poll.out), 1u);

    const ProgramResult quiet = Korvane({"encode", "1,2,3,0,0,-1"});
    EXPECT_EQ(quiet.err, "");
    EXPECT_EQ(quiet.out, poll.out);
}

TEST(KorvaneCli, Decode)
{
    const Row rows[] = {
        {"one report", {"decode", "--hex"}, kValue100, 0, "1,2,3,4,5,100\n"},
        {"lower-case hex, blanks anywhere",
         {"decode", "--hex"},
         "7f 8f ff fe d9 5c 80 30 8 0\na71b3119 a1173115 a2133111 a30f310d a40b3109 e5073105\t"
         "6303020164 0000 0000\n",
         0,
         "1,2,3,4,5,100\n"},
        {"raw octets", {"decode"}, Raw(kValue100), 0, "1,2,3,4,5,100\n"},
        {"repeats dropped",
         {"decode", "--hex"},
         kValue100 + kValue100 + kValue101 + kValue100,
         0,
         "1,2,3,4,5,100\n1,2,3,4,5,101\n1,2,3,4,5,100\n"},
        {"--all keeps repeats",
         {"decode", "--hex", "--all"},
         kValue100 + kValue100 + kValue101 + kValue100,
         0,
         "1,2,3,4,5,100\n1,2,3,4,5,100\n1,2,3,4,5,101\n1,2,3,4,5,100\n"},
        {"text report keeps its own line end",
         {"decode", "--hex"},
         kMainOut,
         0,
         "1,2,3,4,5,Main~out \n"},
        {"30 characters dropped", {"decode", "--hex"}, kLongText, 1, ""},
        {"json: the text as sent, the octets of a line that is not UTF-8",
         {"decode", "--hex", "--json"},
         kTildeText + kNotUtf8,
         0,
         "{\"report\":\"1,2,3,4,5,a~b~c \",\"path\":[1,2,3,4,5],\"value\":\"a~b c\","
         "\"type\":\"text\",\"offset\":45}\n"
         "{\"report\":\"1,2,3,4,5,a\xEF\xBF\xBD"
         "b~c \",\"path\":[1,2,3,4,5],\"value\":\"a\xEF\xBF\xBD"
         "b c\",\"type\":\"text\",\"reportOctets\":\"312C322C332C342C352C61FF627E6320\","
         "\"offset\":91}\n"},
        {"30 characters with --all",
         {"decode", "--all", "--hex"},
         kLongText,
         0,
         "1,2,3,4,5,abcdefghijklmnopqr \n"},
        {"errors among the reports",
         {"decode", "--hex", "--errors"},
         kValue100 + kZeroLength + kMainOut + kDuplicate + kValue101,
         0,
         "1,2,3,4,5,100\nerror 102: @A-4294946012/C-1: Zero outer length encountered\n"
         "1,2,3,4,5,Main~out \nerror 1001: A node with the specified tag already exists in "
         "this container\n1,2,3,4,5,101\n"},
        {"errors not asked for",
         {"decode", "--hex"},
         kZeroLength + kValue100,
         0,
         "1,2,3,4,5,100\n"},
        {"only errors",
         {"decode", "--hex", "--errors"},
         kZeroLength,
         1,
         "error 102: @A-4294946012/C-1: Zero outer length encountered\n"},
        {"no message", {"decode", "--hex"}, "0102 0304", 1, ""},
        {"empty input", {"decode"}, "", 1, ""},
        {"odd hex digits", {"decode", "--hex"}, "7F8", 2, ""},
        {"not hex", {"decode", "--hex"}, "7F 8G", 2, ""},
        {"no such file", {"decode", "/nonexistent/korvane/input"}, "", 2, ""},
        {"chunk zero", {"decode", "--chunk", "0"}, Raw(kValue100), 2, ""},
        {"chunk of 4 GiB", {"decode", "--chunk", "4294967296"}, Raw(kValue100), 2, ""},
        {"largest chunk",
         {"decode", "--chunk", "4294967295"},
         Raw(kValue100),
         0,
         "1,2,3,4,5,100\n"},
        {"chunk not a number", {"decode", "--chunk", "12x"}, Raw(kValue100), 2, ""},
        {"chunk negative", {"decode", "--chunk=-4"}, Raw(kValue100), 2, ""},
        {"chunk missing", {"decode", "--chunk"}, Raw(kValue100), 2, ""},
        {"dump option", {"decode", "--plain"}, Raw(kValue100), 2, ""},
        {"two files", {"decode", "a", "b"}, "", 2, ""},
    };
    for (const Row& row : rows)
        Check(row);
}

TEST(KorvaneCli, DecodeGivesTheSameReportsForEveryBlockSize)
{
    const std::string input = Raw("00 11 22" + kValue100 + kMainOut + kValue101 + kValue100);
    const std::string expected =
        "1,2,3,4,5,100\n1,2,3,4,5,Main~out \n1,2,3,4,5,101\n1,2,3,4,5,100\n";
    // 13 and 29 make blocks of 13 octets (the message of 42 octets is 29 + 13).
    for (const char* chunk : {"1", "2", "12", "13", "14", "29", "42", "4096", "1000000"}) {
        SCOPED_TRACE(chunk);
        const ProgramResult result = Korvane({"decode", "--chunk", chunk}, input);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, expected);
    }
    const ProgramResult alone = Korvane({"decode", "--chunk=13"}, Raw(kValue100));
    EXPECT_EQ(alone.out, "1,2,3,4,5,100\n");
}

TEST(KorvaneCli, DecodeSplitsBlocksBeyondTheLengthField)
{
    // 70000 octets before the message: a single block would have its length
    // field cut to 16 bits and the message would never be read.
    const testing_support::TempFile big(std::string(70000, '\0') + Raw(kValue100));
    ASSERT_NE(big.Path(), "");
    const std::string file = big.Path();
    for (const char* chunk : {"1000000", "65536", "65535"}) {
        SCOPED_TRACE(chunk);
        const ProgramResult result = Korvane({"decode", "--chunk", chunk, file});
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, "1,2,3,4,5,100\n");
    }
}

TEST(KorvaneCli, DecodeReadsAFile)
{
    const testing_support::TempFile hexFile(kValue100 + "\n" + kValue101 + "\n");
    ASSERT_NE(hexFile.Path(), "");
    const std::string hex = hexFile.Path();
    Check({"hex file", {"decode", "--hex", hex}, "", 0, "1,2,3,4,5,100\n1,2,3,4,5,101\n"});
    const testing_support::TempFile rawFile(Raw(kMainOut));
    const std::string raw = rawFile.Path();
    Check({"raw file", {"decode", raw}, "", 0, "1,2,3,4,5,Main~out \n"});
    Check({"dash is standard input", {"decode", "--hex", "-"}, kValue100, 0, "1,2,3,4,5,100\n"});
}

const std::string kSmallDump = "<A-4294946012 type=\"Sequence\">\r\n"
                               "  <C-1 type=\"Set\">\r\n"
                               "    <A-3 type=\"Integer\">5</A-3>\r\n"
                               "  </C-1>\r\n"
                               "</A-4294946012>\r\n";

TEST(KorvaneCli, Dump)
{
    const Row rows[] = {
        {"one message", {"dump", "--hex"}, kSmall, 0, kSmallDump},
        {"plain mode", {"dump", "--hex", "--plain"}, kSmall, 0, kSmallDump},
        {"after junk and a broken message",
         {"dump", "--hex", "--chunk", "3"},
         "FF 7F 8F" + kZeroLength + kSmall,
         0,
         kSmallDump},
        {"two messages", {"dump", "--hex"}, kSmall + kSmall, 0, kSmallDump + kSmallDump},
        {"text keeps its blank",
         {"dump", "--hex"},
         kMainOut,
         0,
         "<A-4294946012 type=\"Sequence\">\r\n"
         "  <C-7 type=\"Set\">\r\n"
         "    <C-1 type=\"Set\">\r\n"
         "      <C-2 type=\"Set\">\r\n"
         "        <C-3 type=\"Set\">\r\n"
         "          <C-4 type=\"Set\">\r\n"
         "            <P-5 type=\"Set\">\r\n"
         "              <A-3 type=\"UTF8\">Main out</A-3>\r\n"
         "            </P-5>\r\n"
         "          </C-4>\r\n"
         "        </C-3>\r\n"
         "      </C-2>\r\n"
         "    </C-1>\r\n"
         "  </C-7>\r\n"
         "</A-4294946012>\r\n"},
        {"no complete message", {"dump", "--hex"}, kZeroLength, 1, ""},
        {"decode option", {"dump", "--all"}, Raw(kSmall), 2, ""},
    };
    for (const Row& row : rows)
        Check(row);
}

TEST(KorvaneCli, Reencode)
{
    const std::string small = "7F 8F FF FE D9 5C 80 30 80 A1 07 31 05 63 03 02 01 05 00 00 00 00\n";
    const std::string mainOut =
        "7F 8F FF FE D9 5C 80 30 80 A7 22 31 20 A1 1E 31 1C A2 1A 31 18 A3 16 31 14 A4 12 31 10 "
        "E5 0E 31 0C 63 0A 0C 08 4D 61 69 6E 20 6F 75 74 00 00 00 00\n";
    const Row rows[] = {
        {"one message", {"reencode", "--hex"}, kSmall, 0, small},
        {"raw input in small blocks",
         {"reencode", "--chunk", "5"},
         Raw(kSmall + kMainOut),
         0,
         small + mainOut},
        {"text keeps its blank", {"reencode", "--hex"}, kMainOut, 0, mainOut},
        {"junk only", {"reencode", "--hex"}, "00 01 02", 1, ""},
        {"plain is not offered", {"reencode", "--plain"}, Raw(kSmall), 2, ""},
    };
    for (const Row& row : rows)
        Check(row);
}

// The first line a person sees: an invocation, its exit status and the
// first lines of its standard output and standard error ("" for none), and
// where it matters the second line of standard error.
struct FirstLines
{
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string out;
    std::string err;
    std::string errSecond = "";
};

std::string FirstLine(const std::string& text, size_t index = 0)
{
    size_t start = 0;
    for (size_t i = 0; i < index && start != std::string::npos; ++i) {
        start = text.find('\n', start);
        start = start == std::string::npos ? start : start + 1;
    }
    if (start == std::string::npos || start >= text.size())
        return "";
    return text.substr(start, text.find('\n', start) - start);
}

TEST(KorvaneCli, WhatAPersonSeesFirst)
{
    const std::string p = ProgramName();
    const std::string hexText = "# one message\n" + kValue100 + " # the value 100\n";
    const std::string block100 = kBlock100.substr(0, kBlock100.size() - 1);
    const FirstLines rows[] = {
        {{"-V"}, "", 0, p + " 1.0.0.15", ""},
        {{"help", "dump"},
         "",
         0,
         "usage: " + p + " dump [--hex] [--chunk N] [--plain] [--json] [FILE]",
         ""},
        {{"decod"},
         "",
         2,
         "",
         p + ": unknown command 'decod'; did you mean 'decode'?",
         "Try '" + p + " --help'."},
        {{"--verison"}, "", 2, "", p + ": unknown option '--verison'; did you mean '--version'?"},
        {{"decode", "--jsn"},
         "",
         2,
         "",
         p + " decode: unknown option '--jsn'; did you mean '--json'?",
         "Try '" + p + " decode --help'."},
        {{"partner", "--consol", "x"},
         "",
         2,
         "",
         p + " partner: unknown option '--consol'; did you mean '--console'?"},
        {{"encode"},
         "",
         2,
         "",
         p + " encode: LINE is missing ('-' reads lines from standard input)",
         "Try '" + p + " encode --help'."},
        {{"decode", "--chunk", "0"},
         "",
         2,
         "",
         p + " decode: --chunk: Value 0 not in range 1 to 4294967295"},
        {{"dump", "--chunk", "4294967296"},
         "",
         2,
         "",
         p + " dump: --chunk: Value 4294967296 not in range 1 to 4294967295"},
        {{"decode", "/nonexistent/korvane/input"},
         "",
         2,
         "",
         p + " decode: cannot read /nonexistent/korvane/input: No such file or directory"},
        {{"decode"},
         hexText,
         1,
         "",
         p + " decode: no report (" + std::to_string(hexText.size()) +
             " octets read, 0 decoding errors, 0 complete messages)",
         p + " decode: the input looks like hexadecimal text: try --hex"},
        {{"decode", "--hex"}, hexText, 0, "1,2,3,4,5,100", ""},
        {{"decode", "--hex"},
         "7F 8# G\nF",
         1,
         "",
         p + " decode: no report (2 octets read, 0 decoding errors, 0 complete messages)"},
        {{"encode", "1,2,3,4,5,6,7"},
         "",
         0,
         "7F 8F FF FE D9 5C 80 30 80 00 00 00 00 7F 8F FF FE D9 5C 80 30 80 A1 17 31 15 A2 13 31 11 A3 0F 31 0D A4 0B 31 09 E5 07 31 05 63 03 02 01 06 00 00 00 00",
         p + " encode: warning: more than six fields: the service reads value 6 and ignores ',7'"},
        {{"encode", "--strict", "1,2,3,4,5,6,7"},
         "",
         2,
         "",
         p + " encode: refused: more than six fields: the service reads value 6 and ignores ',7'"},
        {{"encode", "1,2,3,4,5,99999999999"},
         "",
         0,
         "7F 8F FF FE D9 5C 80 30 80 00 00 00 00 7F 8F FF FE D9 5C 80 30 80 A1 1A 31 18 A2 16 31 14 A3 12 31 10 A4 0E 31 0C E5 0A 31 08 63 06 02 04 48 76 E7 FF 00 00 00 00",
         p + " encode: warning: 99999999999 is outside the signed 32-bit range: the service reads 1215752191"},
        {{"encode", "--strict", "1,2,3,4,5,Main out"},
         "",
         2,
         "",
         p + " encode: refused: the service reads the text 'Main' and ignores ' out' (write a blank as ~)"},
        {{"encode", "--strict", "1,2,3"},
         "",
         2,
         "",
         p + " encode: refused: no value (five path numbers and an integer, -1 or a text are needed): the service sends nothing"},
        {{"encode", "-"},
         "1,2,3,4,5,100\r\n1,2,3,4,5,6,7",
         0,
         block100,
         p + " encode: warning: more than six fields: the service reads value 6 and ignores ',7'"},
    };
    for (const FirstLines& row : rows) {
        SCOPED_TRACE(row.args.front() + (row.args.size() > 1 ? " " + row.args[1] : ""));
        const ProgramResult result = Korvane(row.args, row.input);
        EXPECT_EQ(result.status, row.status) << result.err;
        EXPECT_EQ(FirstLine(result.out), row.out);
        EXPECT_EQ(FirstLine(result.err), row.err);
        if (!row.errSecond.empty()) {
            EXPECT_EQ(FirstLine(result.err, 1), row.errSecond);
        }
    }
}

TEST(KorvaneCli, EncodeReadsOneLinePerBlock)
{
    const ProgramResult result = Korvane({"encode", "-"}, "1,2,3,4,5,100\n1,2,3\n1,2,3,4,5,100\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, kBlock100 + kBlock100);
    EXPECT_EQ(Lines(result.err), 1u) << result.err;
}

TEST(KorvaneCli, VersionAndUsage)
{
    const ProgramResult version = Korvane({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, ProgramName() + " 1.0.0.15\n");
    EXPECT_EQ(version.err, "");
    const ProgramResult none = Korvane({});
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.err.rfind("usage: " + ProgramName() + " <command>", 0), 0u) << none.err;
    const ProgramResult unknown = Korvane({"frobnicate"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.err.rfind(ProgramName() + ": unknown command 'frobnicate'", 0), 0u)
        << unknown.err;
    const ProgramResult help = Korvane({"help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("  partner [LINE...]  talk to a running service"), std::string::npos);
}

TEST(KorvaneCli, EverySubcommandExplainsItself)
{
    for (const char* command : {"encode", "decode", "dump", "reencode"}) {
        SCOPED_TRACE(command);
        const ProgramResult result = Korvane({command, "--help"});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out.rfind("usage: " + ProgramName() + " " + command, 0), 0u);
        EXPECT_NE(result.out.find("example"), std::string::npos);
        EXPECT_EQ(result.err, "");
    }
}

} // namespace
} // namespace korvane_cli_tests

#endif // KORVANE_CLI_PATH
