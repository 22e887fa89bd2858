// End-to-end runs of the korvane binary's codec subcommands.
#include "tests/support/hex.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

struct Result
{
    int status = -1; // exit status, or -1 when the program did not exit
    std::string out;
    std::string err;
};

class TempDir
{
public:
    TempDir()
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/korvane-cli-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()))
            m_path = buffer.data();
    }
    ~TempDir()
    {
        for (const std::string& file : m_files)
            std::remove(file.c_str());
        if (!m_path.empty())
            rmdir(m_path.c_str());
    }

    std::string File(const std::string& name, const std::string& contents)
    {
        const std::string path = m_path + "/" + name;
        std::ofstream(path, std::ios::binary) << contents;
        m_files.push_back(path);
        return path;
    }

    std::string Path(const std::string& name)
    {
        m_files.push_back(m_path + "/" + name);
        return m_files.back();
    }

    bool Ok() const { return !m_path.empty(); }

private:
    std::string m_path;
    std::vector<std::string> m_files;
};

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs korvane with the arguments, standard input from `input`.
Result Korvane(const std::vector<std::string>& args, const std::string& input = "")
{
    TempDir dir;
    Result result;
    if (!dir.Ok()) {
        ADD_FAILURE() << "no temporary directory";
        return result;
    }
    const std::string in = dir.File("in", input);
    const std::string out = dir.Path("out");
    const std::string err = dir.Path("err");

    std::vector<std::string> all = {KORVANE_CLI_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot run " << KORVANE_CLI_PATH;
        return result;
    }
    int wait = 0;
    if (waitpid(pid, &wait, 0) == pid && WIFEXITED(wait))
        result.status = WEXITSTATUS(wait);
    result.out = ReadFile(out);
    result.err = ReadFile(err);
    return result;
}

size_t Lines(const std::string& text)
{
    size_t count = 0;
    for (char c : text)
        count += c == '\n';
    return count;
}

// Console messages (hex): each a root holding Ctx 7 › Ctx 1 › Ctx 2 ›
// Ctx 3 › Ctx 4 › Prv 5 › the value at application 3.
const std::string kValue100 = "7F8FFFFED95C803080 A71B3119 A1173115 A2133111 A30F310D A40B3109 "
                              "E5073105 6303020164 00000000";
const std::string kValue101 = "7F8FFFFED95C803080 A71B3119 A1173115 A2133111 A30F310D A40B3109 "
                              "E5073105 6303020165 00000000";
const std::string kMainOut = "7F8FFFFED95C803080 A7223120 A11E311C A21A3118 A3163114 A4123110 "
                             "E50E310C 630A0C08 4D61696E206F7574 00000000";
// A report of 30 characters: the host drops it.
const std::string kLongText = "7F8FFFFED95C803080 A72C312A A1283126 A2243122 A320311E A41C311A "
                              "E5183116 63140C12 6162636465666768696A6B6C6D6E6F7071 72 00000000";
// Errors: a zero outer length; two children with one tag in a Set.
const std::string kZeroLength = "7F8FFFFED95C803080 A100 00000000";
const std::string kDuplicate = "7F8FFFFED95C803080 A10C310A 6303020101 6303020102 00000000";
// Root › Ctx 1 Set › Integer 5 at application 3.
const std::string kSmall = "7F8FFFFED95C803080 A1073105 6303020105 00000000";

std::string Raw(const std::string& hex)
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

void Check(const Row& row)
{
    SCOPED_TRACE(row.name);
    const Result result = Korvane(row.args, row.input);
    EXPECT_EQ(result.status, row.status) << result.err;
    EXPECT_EQ(result.out, row.out);
    if (row.status == 0)
        EXPECT_EQ(result.err, "");
    else
        EXPECT_NE(result.err, "");
}

const std::string kBlock100 =
    "7F 8F FF FE D9 5C 80 30 80 00 00 00 00 7F 8F FF FE D9 5C 80 30 80 A1 17 31 15 A2 13 31 11 "
    "A3 0F 31 0D A4 0B 31 09 E5 07 31 05 63 03 02 01 64 00 00 00 00\n";

TEST(KorvaneCli, Encode)
{
    const Row rows[] = {
        {"worked example", {"encode", "1,2,3,4,5,100"}, "", 0, kBlock100},
        {"poll", {"encode", "1,2,3,4,5,-1"}, "", 0,
         "7F 8F FF FE D9 5C 80 30 80 00 00 00 00 7F 8F FF FE D9 5C 80 30 80 "
         "A1 14 31 12 A2 10 31 0E A3 0C 31 0A A4 08 31 06 7F 20 03 02 01 01 00 00 00 00\n"},
        {"three-level text", {"encode", "--", "1,2,3,0,0,a~b"}, "", 0,
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
    const std::vector<std::string> lines[] = {
        {"encode", "1,2,3,0,0,5"}, {"encode", "1,2,3"}, {"encode", "0,2,3,4,5,5"},
        {"encode", "1,2,3,4,5," + std::string(70, 'x')}};
    for (const auto& args : lines) {
        SCOPED_TRACE(args[1]);
        const Result result = Korvane(args);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(Lines(result.err), 1u) << result.err;
        EXPECT_EQ(result.err.back(), '\n');
    }
}

TEST(KorvaneCli, EncodeTraceWritesTheHostTraces)
{
    const Result poll = Korvane({"encode", "--trace", "1,2,3,0,0,-1"});
    EXPECT_EQ(poll.status, 0);
    EXPECT_EQ(poll.err, "sscanf iError=6  \nNOT Full House create PART-3 container To POLL \n");
    EXPECT_EQ(Lines(poll.out), 1u);

    const Result quiet = Korvane({"encode", "1,2,3,0,0,-1"});
    EXPECT_EQ(quiet.err, "");
    EXPECT_EQ(quiet.out, poll.out);
}

TEST(KorvaneCli, Decode)
{
    const Row rows[] = {
        {"one report", {"decode", "--hex"}, kValue100, 0, "1,2,3,4,5,100\n"},
        {"lower-case hex, blanks anywhere", {"decode", "--hex"},
         "7f 8f ff fe d9 5c 80 30 8 0\na71b3119 a1173115 a2133111 a30f310d a40b3109 e5073105\t"
         "6303020164 0000 0000\n",
         0, "1,2,3,4,5,100\n"},
        {"raw octets", {"decode"}, Raw(kValue100), 0, "1,2,3,4,5,100\n"},
        {"repeats dropped", {"decode", "--hex"}, kValue100 + kValue100 + kValue101 + kValue100, 0,
         "1,2,3,4,5,100\n1,2,3,4,5,101\n1,2,3,4,5,100\n"},
        {"--all keeps repeats", {"decode", "--hex", "--all"},
         kValue100 + kValue100 + kValue101 + kValue100, 0,
         "1,2,3,4,5,100\n1,2,3,4,5,100\n1,2,3,4,5,101\n1,2,3,4,5,100\n"},
        {"text report keeps its own line end", {"decode", "--hex"}, kMainOut, 0,
         "1,2,3,4,5,Main~out \n"},
        {"30 characters dropped", {"decode", "--hex"}, kLongText, 1, ""},
        {"30 characters with --all", {"decode", "--all", "--hex"}, kLongText, 0,
         "1,2,3,4,5,abcdefghijklmnopqr \n"},
        {"errors among the reports", {"decode", "--hex", "--errors"},
         kValue100 + kZeroLength + kMainOut + kDuplicate + kValue101, 0,
         "1,2,3,4,5,100\nerror 102: @A-4294946012/C-1: Zero outer length encountered\n"
         "1,2,3,4,5,Main~out \nerror 1001: A node with the specified tag already exists in "
         "this container\n1,2,3,4,5,101\n"},
        {"errors not asked for", {"decode", "--hex"}, kZeroLength + kValue100, 0,
         "1,2,3,4,5,100\n"},
        {"only errors", {"decode", "--hex", "--errors"}, kZeroLength, 1,
         "error 102: @A-4294946012/C-1: Zero outer length encountered\n"},
        {"no message", {"decode", "--hex"}, "0102 0304", 1, ""},
        {"empty input", {"decode"}, "", 1, ""},
        {"odd hex digits", {"decode", "--hex"}, "7F8", 2, ""},
        {"not hex", {"decode", "--hex"}, "7F 8G", 2, ""},
        {"no such file", {"decode", "/nonexistent/korvane/input"}, "", 2, ""},
        {"chunk zero", {"decode", "--chunk", "0"}, Raw(kValue100), 2, ""},
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
        const Result result = Korvane({"decode", "--chunk", chunk}, input);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, expected);
    }
    const Result alone = Korvane({"decode", "--chunk=13"}, Raw(kValue100));
    EXPECT_EQ(alone.out, "1,2,3,4,5,100\n");
}

TEST(KorvaneCli, DecodeSplitsBlocksBeyondTheLengthField)
{
    // 70000 octets before the message: a single block would have its length
    // field cut to 16 bits and the message would never be read.
    TempDir dir;
    ASSERT_TRUE(dir.Ok());
    const std::string file = dir.File("big", std::string(70000, '\0') + Raw(kValue100));
    for (const char* chunk : {"1000000", "65536", "65535"}) {
        SCOPED_TRACE(chunk);
        const Result result = Korvane({"decode", "--chunk", chunk, file});
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, "1,2,3,4,5,100\n");
    }
}

TEST(KorvaneCli, DecodeReadsAFile)
{
    TempDir dir;
    ASSERT_TRUE(dir.Ok());
    const std::string hex = dir.File("messages.hex", kValue100 + "\n" + kValue101 + "\n");
    Check({"hex file", {"decode", "--hex", hex}, "", 0, "1,2,3,4,5,100\n1,2,3,4,5,101\n"});
    const std::string raw = dir.File("messages.bin", Raw(kMainOut));
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
        {"after junk and a broken message", {"dump", "--hex", "--chunk", "3"},
         "FF 7F 8F" + kZeroLength + kSmall, 0, kSmallDump},
        {"two messages", {"dump", "--hex"}, kSmall + kSmall, 0, kSmallDump + kSmallDump},
        {"text keeps its blank", {"dump", "--hex"}, kMainOut, 0,
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
        {"raw input in small blocks", {"reencode", "--chunk", "5"}, Raw(kSmall + kMainOut), 0,
         small + mainOut},
        {"text keeps its blank", {"reencode", "--hex"}, kMainOut, 0, mainOut},
        {"junk only", {"reencode", "--hex"}, "00 01 02", 1, ""},
        {"plain is not offered", {"reencode", "--plain"}, Raw(kSmall), 2, ""},
    };
    for (const Row& row : rows)
        Check(row);
}

// encode, decode, dump and reencode talk to no other process: they work
// when the runtime folder is refused (here one that others can write to)
// and leave nothing in it.
TEST(KorvaneCli, CodecCommandsNeedNoRuntimeFolder)
{
    TempDir folder;
    ASSERT_TRUE(folder.Ok());
    const std::string path = folder.Path("");
    ASSERT_EQ(chmod(path.c_str(), 0777), 0);
    const char* old = std::getenv("KORVANE_RUNTIME_DIR");
    const std::string saved = old ? old : "";
    setenv("KORVANE_RUNTIME_DIR", path.c_str(), 1);
    const Row rows[] = {
        {"encode", {"encode", "1,2,3,4,5,100"}, "", 0, kBlock100},
        {"decode", {"decode", "--hex"}, kValue100, 0, "1,2,3,4,5,100\n"},
        {"decode in small blocks", {"decode", "--hex", "--chunk", "3"}, kValue100 + kValue101, 0,
         "1,2,3,4,5,100\n1,2,3,4,5,101\n"},
        {"reencode", {"reencode", "--hex"}, kSmall, 0,
         "7F 8F FF FE D9 5C 80 30 80 A1 07 31 05 63 03 02 01 05 00 00 00 00\n"},
    };
    for (const Row& row : rows)
        Check(row);
    const Result dump = Korvane({"dump", "--hex"}, kSmall);
    EXPECT_EQ(dump.status, 0) << dump.err;
    if (old)
        setenv("KORVANE_RUNTIME_DIR", saved.c_str(), 1);
    else
        unsetenv("KORVANE_RUNTIME_DIR");
    EXPECT_EQ(rmdir(path.c_str()), 0) << "the folder must stay empty";
}

TEST(KorvaneCli, VersionAndUsage)
{
    const Result version = Korvane({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "korvane 1.0.0.15\n");
    EXPECT_EQ(version.err, "");
    const Result none = Korvane({});
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.err.rfind("usage: korvane <command>", 0), 0u) << none.err;
    const Result unknown = Korvane({"frobnicate"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.err.rfind("korvane: unknown command 'frobnicate'", 0), 0u) << unknown.err;
    const Result help = Korvane({"help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("  partner [LINE...]  talk to a running service"), std::string::npos);
}

TEST(KorvaneCli, EverySubcommandExplainsItself)
{
    for (const char* command : {"encode", "decode", "dump", "reencode"}) {
        SCOPED_TRACE(command);
        const Result result = Korvane({command, "--help"});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out.rfind(std::string("usage: korvane ") + command, 0), 0u);
        EXPECT_NE(result.out.find("example"), std::string::npos);
        EXPECT_EQ(result.err, "");
    }
}

} // namespace
