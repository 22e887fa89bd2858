#include "console/state_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

namespace {

TEST(StateFile, ParsesTheDocumentedFormat)
{
    CParameterStore store;
    std::string error;
    ASSERT_TRUE(ParseState(R"({"parameters": [
        {"path": [1, 2, 3, 4, 5], "value": 100},
        {"path": [1, 2, 3], "value": "Ch 1"},
        {"path": [4294967295], "value": -2147483648, "note": "ignored"},
        {"path": [1, 2, 3], "value": "later wins"}
    ], "other": true})",
                           store, error))
        << error;
    EXPECT_EQ(store.Size(), 3u);
    EXPECT_EQ(*store.Find({1, 2, 3, 4, 5}), ParameterValue(int32_t(100)));
    EXPECT_EQ(*store.Find({1, 2, 3}), ParameterValue(std::string("later wins")));
    EXPECT_EQ(*store.Find({4294967295u}), ParameterValue(int32_t(-2147483647 - 1)));
}

TEST(StateFile, RefusesWhatIsNotSuchADocumentAndKeepsTheStore)
{
    struct Row
    {
        const char* text;
        const char* error; // nullptr: accepted (control row)
    };
    const Row rows[] = {
        {R"({"parameters": [{"path": [1], "value": 2147483647}]})", nullptr},
        {"{", "not valid JSON"},
        {"[]", "expected an object with a \"parameters\" array"},
        {R"({"parameters": {}})", "expected an object with a \"parameters\" array"},
        {R"({"parameters": [5]})", "parameter 0: expected an object with \"path\" and \"value\""},
        {R"({"parameters": [{"path": [1]}]})",
         "parameter 0: expected an object with \"path\" and \"value\""},
        {R"({"parameters": [{"path": [], "value": 1}]})",
         "parameter 0: \"path\" must be an array of 1 to 16 numbers"},
        {R"({"parameters": [{"path": [1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17], "value": 1}]})",
         "parameter 0: \"path\" must be an array of 1 to 16 numbers"},
        {R"({"parameters": [{"path": [1], "value": 1}, {"path": [-1], "value": 1}]})",
         "parameter 1: path numbers must be integers from 0 to 4294967295"},
        {R"({"parameters": [{"path": [4294967296], "value": 1}]})",
         "parameter 0: path numbers must be integers from 0 to 4294967295"},
        {R"({"parameters": [{"path": [1.5], "value": 1}]})",
         "parameter 0: path numbers must be integers from 0 to 4294967295"},
        {R"({"parameters": [{"path": [1], "value": 2147483648}]})",
         "parameter 0: \"value\" must be a text or an integer from -2147483648 to 2147483647"},
        {R"({"parameters": [{"path": [1], "value": -2147483649}]})",
         "parameter 0: \"value\" must be a text or an integer from -2147483648 to 2147483647"},
        {R"({"parameters": [{"path": [1], "value": 1.0}]})",
         "parameter 0: \"value\" must be a text or an integer from -2147483648 to 2147483647"},
        {R"({"parameters": [{"path": [1], "value": null}]})",
         "parameter 0: \"value\" must be a text or an integer from -2147483648 to 2147483647"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        CParameterStore store;
        store.Set({9, 9}, int32_t(9));
        std::string error;
        const bool ok = ParseState(row.text, store, error);
        if (!row.error) {
            EXPECT_TRUE(ok) << error;
            EXPECT_EQ(store.Find({9, 9}), nullptr);
            continue;
        }
        EXPECT_FALSE(ok);
        EXPECT_EQ(error, row.error);
        ASSERT_NE(store.Find({9, 9}), nullptr);
        EXPECT_EQ(store.Size(), 1u);
    }
}

TEST(StateFile, FormatIsReadBackAndListsKeysInOrder)
{
    CParameterStore store;
    store.Set({1, 2, 3, 4, 5}, int32_t(100));
    store.Set({1, 2, 3}, std::string("Ch 1"));
    EXPECT_EQ(
        FormatState(store),
        "{\n"
        "  \"parameters\": [\n"
        "    {\n"
        "      \"path\": [\n        1,\n        2,\n        3\n      ],\n"
        "      \"value\": \"Ch 1\"\n"
        "    },\n"
        "    {\n"
        "      \"path\": [\n        1,\n        2,\n        3,\n        4,\n        5\n      ],\n"
        "      \"value\": 100\n"
        "    }\n"
        "  ]\n"
        "}\n");
    CParameterStore again;
    std::string error;
    ASSERT_TRUE(ParseState(FormatState(store), again, error)) << error;
    EXPECT_EQ(again.All(), store.All());
}

TEST(StateFile, SavedFileLoadsAgain)
{
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() /
        ("korvane-state-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "state.json").string();
    CParameterStore store;
    store.Set({1, 2, 3, 4, 0xFFFFFFFFu}, int32_t(-5));
    store.Set({1, 2, 3, 4}, std::string("Aux 2"));
    std::string error;
    ASSERT_TRUE(SaveStateFile(path, store, error)) << error;
    // Nothing else is left in the folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                            std::filesystem::directory_iterator()),
              1);
    CParameterStore loaded;
    ASSERT_TRUE(LoadStateFile(path, loaded, error)) << error;
    EXPECT_EQ(loaded.All(), store.All());

    EXPECT_FALSE(LoadStateFile((folder / "missing.json").string(), loaded, error));
    EXPECT_EQ(error.rfind("cannot read " + (folder / "missing.json").string() + ": ", 0), 0u)
        << error;
    EXPECT_FALSE(LoadStateFile(folder.string(), loaded, error));
    EXPECT_EQ(error, folder.string() + ": not a regular file (a directory)");
    {
        std::ofstream broken(path, std::ios::trunc);
        broken << "{\"parameters\": 3}";
    }
    EXPECT_FALSE(LoadStateFile(path, loaded, error));
    EXPECT_EQ(error, path + ": expected an object with a \"parameters\" array");
    std::filesystem::remove_all(folder);
}

} // namespace
