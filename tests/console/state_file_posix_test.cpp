// The state file on a POSIX file system: what --state refuses to read, and
// what --save keeps (permissions, symbolic links, the old file when the
// write fails).
#include "console/state_file.h"
#include "console/state_storage.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class StateFilePosix : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/korvane-state-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        store.Set({1, 2, 3}, int32_t(42));
    }
    void TearDown() override { fs::remove_all(folder); }

    static std::string Text(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static void Write(const fs::path& path, const std::string& text)
    {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    }
    size_t Entries() const
    {
        return size_t(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
    }

    fs::path folder;
    CParameterStore store;
};

TEST_F(StateFilePosix, RefusesAnythingButARegularFileOfBoundedSize)
{
    const std::string fifo = (folder / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string large = (folder / "large.json").string();
    Write(large, "");
    fs::resize_file(large, kMaxStateFileOctets + 1);
    struct Row
    {
        std::string path;
        std::string error;
    };
    const Row rows[] = {
        {folder.string(), folder.string() + ": not a regular file (a directory)"},
        {"/dev/zero", "/dev/zero: not a regular file (a character device)"},
        {fifo, fifo + ": not a regular file (a FIFO)"},
        {large, large + ": larger than 67108864 octets"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        CParameterStore loaded;
        std::string error;
        EXPECT_FALSE(LoadStateFile(row.path, loaded, error));
        EXPECT_EQ(error, row.error);
    }
}

TEST_F(StateFilePosix, SaveKeepsThePermissions)
{
    const fs::path path = folder / "state.json";
    Write(path, "{\"parameters\": []}");
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    std::string error;
    ASSERT_TRUE(SaveStateFile(path.string(), store, error)) << error;
    struct stat status;
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    EXPECT_EQ(Text(path), FormatState(store));
    EXPECT_EQ(Entries(), 1u);
}

TEST_F(StateFilePosix, SaveWritesThroughSymbolicLinksToTheirTarget)
{
    fs::create_directory(folder / "real");
    const fs::path target = folder / "real" / "state.json";
    Write(target, "{\"parameters\": []}");
    // A relative link to a relative link.
    fs::create_symlink("real/state.json", folder / "inner");
    fs::create_symlink("inner", folder / "state.json");
    std::string error;
    ASSERT_TRUE(SaveStateFile((folder / "state.json").string(), store, error)) << error;
    EXPECT_TRUE(fs::is_symlink(folder / "state.json"));
    EXPECT_TRUE(fs::is_symlink(folder / "inner"));
    EXPECT_EQ(Text(target), FormatState(store));
    CParameterStore loaded;
    ASSERT_TRUE(LoadStateFile((folder / "state.json").string(), loaded, error)) << error;
    EXPECT_EQ(loaded.All(), store.All());
    EXPECT_EQ(Entries(), 3u);
    EXPECT_EQ(
        size_t(std::distance(fs::directory_iterator(folder / "real"), fs::directory_iterator())),
        1u);
}

TEST_F(StateFilePosix, AFailedSaveLeavesTheOldFileAndNoTemporaryFile)
{
    const fs::path path = folder / "state.json";
    Write(path, "{\"parameters\": []}");
    // Files may not grow past 16 octets: the write fails as on a full disk.
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 16;
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string error;
    const bool saved_ok = SaveStateFile(path.string(), store, error);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(saved_ok);
    EXPECT_EQ(error, "cannot write " + path.string() + ".tmp-" + std::to_string(getpid()) +
                         ": File too large");
    EXPECT_EQ(Text(path), "{\"parameters\": []}");
    EXPECT_EQ(Entries(), 1u);
}

} // namespace
