// The offline view of a capture, and the labels file.
#include "view/view_capture.h"
#include "view/view_labels_file.h"

#include "partner/console_source.h"
#include "tests/support/ember_messages.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

namespace {

TEST(ViewCapture, TheCaptureGivesItsTwelveReports)
{
    std::vector<uint8_t> octets;
    std::string error;
    ASSERT_EQ(ReadConsoleSource(std::string(KORVANE_SOURCE_DIR) + "/data/console_capture.bin",
                                EConsoleSourceFormat::Binary, octets, error),
              EPartnerStatus::Ok)
        << error;
    CViewOptions options;
    options.readOnly = true;
    CViewState state(options);
    ASSERT_TRUE(DecodeCaptureInto(octets, state, error)) << error;
    const nlohmann::json s = state.StateJson();
    EXPECT_EQ(s["mode"], "offline");
    EXPECT_EQ(s["counters"]["reports"], 12);
    EXPECT_EQ(s["counters"]["octets"], octets.size());
    // 1,20,4,1,5,-30 comes twice: eleven parameters.
    ASSERT_EQ(state.ParameterCount(), 11u);
    CViewParameter p;
    ASSERT_TRUE(state.Parameter("2,2,3", p));
    EXPECT_EQ(p.value, "Kick In");
    ASSERT_TRUE(state.Parameter("1,20,4,1,5", p));
    EXPECT_EQ(p.integer, -30);
    EXPECT_EQ(p.changes, 1u);
    ASSERT_EQ(s["events"].size(), 1u);
    EXPECT_EQ(s["events"][0]["kind"], "error");
    EXPECT_EQ(s["events"][0]["text"].get<std::string>().rfind("error 102: ", 0), 0u);
}

TEST(ViewCapture, CountsMessagesNotTheContainersARootTakesAside)
{
    using namespace testing_support;
    const Element five = Ctx(7, {Ctx(1, {Ctx(2, {Ctx(3, {Ctx(4, {Prv(5, {IntValue(100)})})})})})});
    const std::vector<uint8_t> octets =
        Join({SplicedMessage({App(0xFFFFACDD, {Prv(5, {IntValue(1)})}), five}), Message({five})});
    CViewState state;
    std::string error;
    ASSERT_TRUE(DecodeCaptureInto(octets, state, error)) << error;
    const nlohmann::json s = state.StateJson();
    EXPECT_EQ(s["counters"]["messages"], 2);
    EXPECT_EQ(s["counters"]["reports"], 2);
}

class ViewLabelsFile : public testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = std::filesystem::temp_directory_path() /
                ("korvane-view-test-" + std::to_string(uintptr_t(this)));
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::string File(const char* name) const { return (m_dir / name).string(); }
    void Write(const char* name, const std::string& text) const
    {
        std::FILE* out = std::fopen(File(name).c_str(), "wb");
        ASSERT_NE(out, nullptr);
        std::fwrite(text.data(), 1, text.size(), out);
        std::fclose(out);
    }

    std::filesystem::path m_dir;
};

TEST_F(ViewLabelsFile, WrittenAndReadBack)
{
    CViewState first;
    std::string error;
    ASSERT_TRUE(first.SetLabel("1,2,3,4,5", "Ch 1 fader", error));
    ASSERT_TRUE(SaveLabelsFile(File("labels.json"), first.LabelsJson(), error)) << error;
    EXPECT_FALSE(std::filesystem::exists(File("labels.json.new")));
    CViewState second;
    ASSERT_TRUE(LoadLabelsFile(File("labels.json"), second, error)) << error;
    EXPECT_EQ(second.LabelsJson(), first.LabelsJson());
}

TEST_F(ViewLabelsFile, AMissingFileIsNoLabels)
{
    CViewState state;
    std::string error;
    EXPECT_TRUE(LoadLabelsFile(File("none.json"), state, error)) << error;
    EXPECT_EQ(state.LabelCount(), 0u);
}

TEST_F(ViewLabelsFile, ABadFileIsRefusedAndChangesNothing)
{
    const std::pair<const char*, const char*> cases[] = {
        {"{not json", "not JSON"},
        {R"({"labels":{"1,x":"a"}})",
         "not a path: '1,x' (one to five numbers separated by commas)"},
    };
    for (const auto& [text, reason] : cases) {
        Write("bad.json", text);
        CViewState state;
        std::string error;
        ASSERT_TRUE(state.SetLabel("1", "kept", error));
        EXPECT_FALSE(LoadLabelsFile(File("bad.json"), state, error));
        EXPECT_EQ(error, File("bad.json") + ": " + reason);
        EXPECT_EQ(state.LabelCount(), 1u);
    }
}

} // namespace
