// The datagram format between processes and the runtime folder checks.
#include "platform/posix/message_wire.h"
#include "platform/posix/runtime_folder.h"
#include "tests/support/posix_endpoints.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace korvane_wire;
using testing_support::RuntimeSandbox;

Frame CopyDataRequest(const std::vector<uint8_t>& block)
{
    Frame frame;
    frame.kind = kRequest;
    frame.flags = kFlagWindow | kFlagBlock;
    frame.sequence = 0x0102030405060708ull;
    frame.message = kCopyDataMessage;
    frame.windowName = "TEST_RX";
    frame.dwData = 0x0C680005;
    frame.receiverIncarnation = 0x1122334455667788ull;
    frame.windowIncarnation = 0x8877665544332211ull;
    frame.cbData = uint32_t(block.size());
    frame.block = block.data();
    return frame;
}

bool Decodes(const std::vector<uint8_t>& datagram)
{
    Frame frame;
    return DecodeFrame(datagram.data(), datagram.size(), frame);
}

TEST(MessageWire, RequestWithWindowAndBlockSurvivesTheRoundTrip)
{
    const std::vector<uint8_t> block = {1, 2, 3, 0, 5};
    const std::vector<uint8_t> datagram = EncodeFrame(CopyDataRequest(block));
    ASSERT_EQ(datagram.size(), kHeaderSize + 7 + block.size());
    EXPECT_EQ(datagram[0], 'K');
    EXPECT_EQ(datagram[3], '2');

    Frame frame;
    ASSERT_TRUE(DecodeFrame(datagram.data(), datagram.size(), frame));
    EXPECT_EQ(frame.kind, kRequest);
    EXPECT_EQ(frame.sequence, 0x0102030405060708ull);
    EXPECT_EQ(frame.message, kCopyDataMessage);
    EXPECT_EQ(frame.windowName, "TEST_RX");
    EXPECT_EQ(frame.dwData, 0x0C680005u);
    EXPECT_EQ(frame.receiverIncarnation, 0x1122334455667788ull);
    EXPECT_EQ(frame.windowIncarnation, 0x8877665544332211ull);
    ASSERT_EQ(frame.cbData, block.size());
    EXPECT_EQ(std::vector<uint8_t>(frame.block, frame.block + frame.cbData), block);
}

TEST(MessageWire, NumbersAndResultsKeepAllTheirBits)
{
    Frame request;
    request.message = 0x8001;
    request.wParam = 0xFEDCBA9876543210ull;
    request.lParam = -2;
    Frame decoded;
    std::vector<uint8_t> datagram = EncodeFrame(request);
    ASSERT_TRUE(DecodeFrame(datagram.data(), datagram.size(), decoded));
    EXPECT_EQ(decoded.wParam, 0xFEDCBA9876543210ull);
    EXPECT_EQ(decoded.lParam, -2);
    EXPECT_TRUE(decoded.windowName.empty());
    EXPECT_EQ(decoded.block, nullptr);

    Frame reply;
    reply.kind = kReply;
    reply.sequence = 9;
    reply.lParam = INT64_MIN;
    datagram = EncodeFrame(reply);
    ASSERT_TRUE(DecodeFrame(datagram.data(), datagram.size(), decoded));
    EXPECT_EQ(decoded.kind, kReply);
    EXPECT_EQ(decoded.lParam, INT64_MIN);
    EXPECT_EQ(decoded.flags, 0);

    // The refusal of a request meant for an earlier owner of the name.
    Frame refusal;
    refusal.kind = kReply;
    refusal.flags = kFlagGone;
    refusal.sequence = 10;
    datagram = EncodeFrame(refusal);
    ASSERT_TRUE(DecodeFrame(datagram.data(), datagram.size(), decoded));
    EXPECT_EQ(decoded.flags, kFlagGone);
    EXPECT_EQ(decoded.sequence, 10u);
}

TEST(MessageWire, TruncatedOrPaddedDatagramsAreRefused)
{
    const std::vector<uint8_t> good = EncodeFrame(CopyDataRequest({1, 2, 3}));
    ASSERT_TRUE(Decodes(good));
    for (size_t size = 0; size < good.size(); ++size)
        EXPECT_FALSE(
            Decodes(std::vector<uint8_t>(good.begin(), good.begin() + std::ptrdiff_t(size))))
            << "cut to " << size;
    std::vector<uint8_t> padded = good;
    padded.push_back(0);
    EXPECT_FALSE(Decodes(padded));
}

TEST(MessageWire, FieldsOutOfRangeAreRefused)
{
    const std::vector<uint8_t> good = EncodeFrame(CopyDataRequest({1, 2, 3}));
    auto broken = [&](size_t offset, uint8_t value) {
        std::vector<uint8_t> copy = good;
        copy[offset] = value;
        return copy;
    };
    EXPECT_FALSE(Decodes(broken(0, 'X')));               // magic
    EXPECT_FALSE(Decodes(broken(4, 3)));                 // kind
    EXPECT_FALSE(Decodes(broken(5, 0x07)));              // a reply's flag in a request
    EXPECT_FALSE(Decodes(broken(5, kFlagBlock)));        // name present, flag clear
    EXPECT_FALSE(Decodes(broken(21, 0x01)));             // cbData larger than the datagram
    EXPECT_FALSE(Decodes(broken(kHeaderSize, '.')));     // name beginning with '.'
    EXPECT_FALSE(Decodes(broken(kHeaderSize + 2, '/'))); // name with '/'
    EXPECT_FALSE(Decodes(broken(kHeaderSize + 2, 0)));   // name with NUL

    // A block only travels with WM_COPYDATA.
    std::vector<uint8_t> block = {1};
    Frame other = CopyDataRequest(block);
    other.message = 0x8001;
    EXPECT_FALSE(Decodes(EncodeFrame(other)));
    // WM_COPYDATA without a block has no pointer to carry.
    Frame noBlock;
    noBlock.message = kCopyDataMessage;
    noBlock.lParam = 0x1234;
    EXPECT_FALSE(Decodes(EncodeFrame(noBlock)));
    // A reply carries nothing but its sequence and result.
    Frame reply = CopyDataRequest(block);
    reply.kind = kReply;
    EXPECT_FALSE(Decodes(EncodeFrame(reply)));
    Frame incarnated;
    incarnated.kind = kReply;
    incarnated.receiverIncarnation = 1;
    EXPECT_FALSE(Decodes(EncodeFrame(incarnated)));
    // An incarnation for a wParam that is no window.
    Frame plain;
    plain.message = 0x8001;
    std::vector<uint8_t> datagram = EncodeFrame(plain);
    datagram[56] = 1;
    EXPECT_FALSE(Decodes(datagram));
}

TEST(MessageWire, BlocksAreLimited)
{
    std::vector<uint8_t> largest(kMaxBlockOctets, 0xAB);
    EXPECT_TRUE(Decodes(EncodeFrame(CopyDataRequest(largest))));
    std::vector<uint8_t> tooLarge(kMaxBlockOctets + 1, 0xAB);
    EXPECT_FALSE(Decodes(EncodeFrame(CopyDataRequest(tooLarge))));
}

TEST(MessageWire, WindowNames)
{
    EXPECT_TRUE(IsValidWindowName("Korvane_A", 9));
    EXPECT_TRUE(IsValidWindowName(std::string(99, 'x').c_str(), 99));
    EXPECT_FALSE(IsValidWindowName(std::string(100, 'x').c_str(), 100));
    EXPECT_FALSE(IsValidWindowName("", 0));
    EXPECT_FALSE(IsValidWindowName(".p12-1", 6));
    EXPECT_FALSE(IsValidWindowName("a/b", 3));
}

TEST(RuntimeFolder, ChosenFromTheEnvironment)
{
    RuntimeSandbox sandbox;
    EXPECT_EQ(korvane_runtime::ChooseRuntimeFolder(), sandbox.Path());
    setenv("KORVANE_RUNTIME_DIR", (sandbox.Path() + "//").c_str(), 1);
    EXPECT_EQ(korvane_runtime::ChooseRuntimeFolder(), sandbox.Path());

    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    const std::string oldXdg = xdg ? xdg : "";
    unsetenv("KORVANE_RUNTIME_DIR");
    setenv("XDG_RUNTIME_DIR", "/run/user/4711", 1);
    EXPECT_EQ(korvane_runtime::ChooseRuntimeFolder(), "/run/user/4711/korvane");
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(korvane_runtime::ChooseRuntimeFolder(), "/tmp/korvane-" + std::to_string(geteuid()));
    if (xdg)
        setenv("XDG_RUNTIME_DIR", oldXdg.c_str(), 1);
}

TEST(RuntimeFolder, MissingFolderIsCreatedPrivate)
{
    RuntimeSandbox sandbox;
    const std::string folder = sandbox.Path() + "/endpoints";
    std::string error;
    ASSERT_TRUE(korvane_runtime::PrepareRuntimeFolder(folder, error)) << error;
    struct stat info = {};
    ASSERT_EQ(lstat(folder.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST(RuntimeFolder, FolderOthersCanWriteIsRefused)
{
    RuntimeSandbox sandbox;
    std::string error;
    ASSERT_TRUE(korvane_runtime::PrepareRuntimeFolder(sandbox.Path(), error)) << error;
    for (mode_t mode : {mode_t(0777), mode_t(0720), mode_t(0702), mode_t(01777)}) {
        ASSERT_EQ(chmod(sandbox.Path().c_str(), mode), 0);
        error.clear();
        EXPECT_FALSE(korvane_runtime::PrepareRuntimeFolder(sandbox.Path(), error))
            << std::oct << mode;
        EXPECT_NE(error.find("writable by group or others"), std::string::npos) << error;
    }
    // Readable by others is not a risk to the endpoints' owner.
    ASSERT_EQ(chmod(sandbox.Path().c_str(), 0755), 0);
    EXPECT_TRUE(korvane_runtime::PrepareRuntimeFolder(sandbox.Path(), error)) << error;
}

TEST(RuntimeFolder, FolderOfAnotherUserIsRefused)
{
    RuntimeSandbox sandbox;
    std::string folder = "/";
    if (geteuid() == 0) {
        folder = sandbox.Path() + "/theirs";
        ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
        ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
    }
    std::string error;
    EXPECT_FALSE(korvane_runtime::PrepareRuntimeFolder(folder, error));
    EXPECT_NE(error.find("belongs to user"), std::string::npos) << error;
}

TEST(RuntimeFolder, LinksAndFilesAreRefused)
{
    RuntimeSandbox sandbox;
    const std::string real = sandbox.Path() + "/real";
    const std::string link = sandbox.Path() + "/link";
    const std::string file = sandbox.Path() + "/file";
    ASSERT_EQ(mkdir(real.c_str(), 0700), 0);
    ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
    FILE* out = std::fopen(file.c_str(), "w");
    ASSERT_NE(out, nullptr);
    std::fclose(out);
    std::string error;
    EXPECT_FALSE(korvane_runtime::PrepareRuntimeFolder(link, error));
    EXPECT_NE(error.find("not a folder"), std::string::npos) << error;
    EXPECT_FALSE(korvane_runtime::PrepareRuntimeFolder(file, error));
    EXPECT_TRUE(korvane_runtime::PrepareRuntimeFolder(real, error)) << error;
}

} // namespace
