// The tool on POSIX only: the codec subcommands with a runtime folder that
// the message layer refuses.
#include "tests/tools/cli_cases.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#ifdef KORVANE_CLI_PATH

namespace korvane_cli_tests {
namespace {

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
        {"decode in small blocks",
         {"decode", "--hex", "--chunk", "3"},
         kValue100 + kValue101,
         0,
         "1,2,3,4,5,100\n1,2,3,4,5,101\n"},
        {"reencode",
         {"reencode", "--hex"},
         kSmall,
         0,
         "7F 8F FF FE D9 5C 80 30 80 A1 07 31 05 63 03 02 01 05 00 00 00 00\n"},
    };
    for (const Row& row : rows)
        Check(row);
    const ProgramResult dump = Korvane({"dump", "--hex"}, kSmall);
    EXPECT_EQ(dump.status, 0) << dump.err;
    if (old)
        setenv("KORVANE_RUNTIME_DIR", saved.c_str(), 1);
    else
        unsetenv("KORVANE_RUNTIME_DIR");
    EXPECT_EQ(rmdir(path.c_str()), 0) << "the folder must stay empty";
}

// Runs a shell command line with the tool as $0 and the arguments after it.
ProgramResult Shell(const std::string& line, const std::vector<std::string>& args,
                    const std::string& input = "")
{
    std::vector<std::string> all = {"-c", line, testing_support::KorvaneCliPath()};
    all.insert(all.end(), args.begin(), args.end());
    // Far above what a run takes, also on a loaded machine under the sanitizers.
    return testing_support::RunProgram("/bin/sh", all, input, 300000);
}

// An input that cannot be read says why, in the system's words.
TEST(KorvaneCli, UnreadableInputSaysWhy)
{
    for (const char* command : {"decode", "dump", "reencode"}) {
        const ProgramResult result = Korvane({command, "."});
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.err, ProgramName() + " " + command + ": cannot read .: Is a directory\n");
    }
}

// A full standard output is an I/O error, not a success.
TEST(KorvaneCli, WriteErrorsAreIoErrors)
{
    const struct
    {
        std::vector<std::string> args;
        std::string input;
    } runs[] = {
        {{"decode", "--hex"}, kValue100},     {{"decode", "--hex", "--json"}, kValue100},
        {{"dump", "--hex"}, kSmall},          {{"dump", "--hex", "--json"}, kSmall},
        {{"reencode", "--hex"}, kSmall},      {{"encode", "1,2,3,4,5,100"}, ""},
        {{"encode", "-"}, "1,2,3,4,5,100\n"},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(run.args.front() + " " + run.args.back());
        const ProgramResult result = Shell("exec \"$0\" \"$@\" >/dev/full", run.args, run.input);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.err, ProgramName() + " " + run.args.front() +
                                  ": cannot write standard output: No space left on device\n");
    }
}

// The input is read in blocks as it is decoded: the peak memory of 24 MiB
// of input is that of 2 MiB (the whole input held would add 22 MiB or more).
TEST(KorvaneCli, MemoryDoesNotGrowWithTheInput)
{
    const auto peakKiB = [](const char* command, const char* mebibytes) {
        const ProgramResult result =
            Shell("head -c \"$2\"M /dev/zero | /usr/bin/time -f 'peak %M' \"$0\" \"$1\"",
                  {command, mebibytes});
        const size_t at = result.err.rfind("peak ");
        EXPECT_NE(at, std::string::npos) << result.err;
        return at == std::string::npos ? 0L : std::stol(result.err.substr(at + 5));
    };
    for (const char* command : {"decode", "dump", "reencode"}) {
        SCOPED_TRACE(command);
        const long small = peakKiB(command, "2");
        const long large = peakKiB(command, "24");
        EXPECT_GT(small, 0);
        EXPECT_LT(large - small, 11L << 10) << small << " KiB, then " << large << " KiB";
    }
}

} // namespace
} // namespace korvane_cli_tests

#endif // KORVANE_CLI_PATH
