// The view's state: reports into parameters, labels, exports, and what each
// page is sent when (coalescing, bounds).
#include "view/view_state.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using nlohmann::json;

CViewTime At(int64_t ms)
{
    return {ms, 1700000000000 + ms};
}

struct ReportCase
{
    const char* name;
    std::vector<std::string> reports;
    std::string path;
    std::string type;
    std::string value;
    std::string report;
    uint64_t changes;
    std::vector<int32_t> history;
};

const ReportCase kReportCases[] = {
    {"FiveLevels", {"1,2,3,4,5,100"}, "1,2,3,4,5", "integer", "100", "1,2,3,4,5,100", 1, {100}},
    {"FourLevelsNamedByTheCommandPath",
     {"1,2,3,0,4,75"},
     "1,2,3,4",
     "integer",
     "75",
     "1,2,3,0,4,75",
     1,
     {75}},
    {"ThreeLevelText", {"1,2,3,0,0,Ch~1 \n"}, "1,2,3", "text", "Ch 1", "1,2,3,0,0,Ch~1", 1, {}},
    {"SameValueIsNoChange",
     {"1,2,3,4,5,7", "1,2,3,4,5,7"},
     "1,2,3,4,5",
     "integer",
     "7",
     "1,2,3,4,5,7",
     1,
     {7}},
    {"EveryChangeCountedWithItsHistory",
     {"1,2,3,4,5,7", "1,2,3,4,5,8", "1,2,3,4,5,-9"},
     "1,2,3,4,5",
     "integer",
     "-9",
     "1,2,3,4,5,-9",
     3,
     {7, 8, -9}},
    {"IntegerThenText",
     {"3,1,2,4,5,1", "3,1,2,4,5,Main~out \n"},
     "3,1,2,4,5",
     "text",
     "Main out",
     "3,1,2,4,5,Main~out",
     2,
     {1}},
};

class ViewReports : public testing::TestWithParam<ReportCase>
{};

TEST_P(ViewReports, BecomeParametersByCommandPath)
{
    const ReportCase& c = GetParam();
    CViewState state;
    int64_t t = 0;
    for (const std::string& report : c.reports)
        ASSERT_TRUE(state.ApplyReport(report, At(t += 10)));
    ASSERT_EQ(state.ParameterCount(), 1u);
    CViewParameter p;
    ASSERT_TRUE(state.Parameter(c.path, p));
    EXPECT_EQ(p.text ? "text" : "integer", c.type);
    EXPECT_EQ(p.value, c.value);
    EXPECT_EQ(p.report, c.report);
    EXPECT_EQ(p.changes, c.changes);
    EXPECT_EQ(std::vector<int32_t>(p.history.begin(), p.history.end()), c.history);
}

INSTANTIATE_TEST_SUITE_P(View, ViewReports, testing::ValuesIn(kReportCases),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(ViewReport, OutsideBothLayoutsIsLoggedAndDropped)
{
    CViewState state;
    EXPECT_FALSE(state.ApplyReport("hello", At(0)));
    EXPECT_EQ(state.ParameterCount(), 0u);
    const json s = state.StateJson();
    ASSERT_EQ(s["events"].size(), 1u);
    EXPECT_EQ(s["events"][0]["text"], "a report in neither layout: hello");
    EXPECT_EQ(s["counters"]["reports"], 1);
}

TEST(ViewReport, HistoryKeepsTheLastValuesOnly)
{
    CViewState state;
    for (int i = 0; i < int(kHistory) + 5; ++i)
        state.ApplyReport("1,2,3,4,5," + std::to_string(i), At(i));
    CViewParameter p;
    ASSERT_TRUE(state.Parameter("1,2,3,4,5", p));
    ASSERT_EQ(p.history.size(), kHistory);
    EXPECT_EQ(p.history.front(), 5);
    EXPECT_EQ(p.history.back(), int(kHistory) + 4);
}

TEST(ViewReport, ParametersBeyondTheLimitAreDroppedAndLoggedOnce)
{
    CViewOptions options;
    options.maxParameters = 2;
    CViewState state(options);
    EXPECT_TRUE(state.ApplyReport("1,2,3,4,1,0", At(0)));
    EXPECT_TRUE(state.ApplyReport("1,2,3,4,2,0", At(0)));
    EXPECT_FALSE(state.ApplyReport("1,2,3,4,3,0", At(0)));
    EXPECT_FALSE(state.ApplyReport("1,2,3,4,4,0", At(0)));
    EXPECT_TRUE(state.ApplyReport("1,2,3,4,1,5", At(0))); // a known one still changes
    EXPECT_EQ(state.ParameterCount(), 2u);
    EXPECT_EQ(state.StateJson()["events"].size(), 1u);
}

TEST(ViewPaths, CommandPathOfAReport)
{
    const std::pair<std::array<int32_t, 5>, const char*> cases[] = {
        {{1, 2, 3, 4, 5}, "1,2,3,4,5"}, {{1, 2, 3, 0, 4}, "1,2,3,4"},
        {{1, 2, 3, 0, 0}, "1,2,3"},     {{0, 0, 0, 0, 5}, "0,0,0,5"},
        {{7, 0, 0, 0, 0}, "7"},         {{1, -2, 3, 4, 5}, "1,-2,3,4,5"},
    };
    for (const auto& [path, text] : cases)
        EXPECT_EQ(CommandPathOf(path), text);
}

TEST(ViewPaths, WhatIsAPath)
{
    const std::pair<const char*, bool> cases[] = {
        {"1", true},     {"1,2,3,4,5", true},    {"2147483647", true}, {"", false},
        {"1,,2", false}, {"1,2,3,4,5,6", false}, {"0", false},         {"1,0", false},
        {"1,0,3", true}, {"2147483648", false},  {"a", false},         {"1,2,", false},
        {"-1,2", false}, {" 1", false},
    };
    for (const auto& [path, valid] : cases)
        EXPECT_EQ(IsViewPath(path), valid) << path;
}

TEST(ViewLabels, SetChangeAndRemove)
{
    CViewState state;
    std::string error;
    ASSERT_TRUE(state.SetLabel("1,2,3,4,5", "Ch 1 fader", error)) << error;
    ASSERT_TRUE(state.SetLabel("1,2", "Inputs", error)) << error;
    ASSERT_TRUE(state.SetLabel("1,2", "", error)) << error;
    EXPECT_EQ(state.LabelsJson(), json::parse(R"({"labels":{"1,2,3,4,5":"Ch 1 fader"}})"));
}

TEST(ViewLabels, BadOnesAreRefusedWithTheirReason)
{
    CViewOptions options;
    options.maxLabels = 1;
    CViewState state(options);
    const std::pair<std::string, std::string> cases[] = {
        {"1,2,x", "not a path: '1,2,x' (one to five numbers separated by commas)"},
        {"1,2,3", ""},
        {"1,2,4", "more than 1 labels"},
    };
    for (const auto& [path, reason] : cases) {
        std::string error;
        EXPECT_EQ(state.SetLabel(path, "x", error), reason.empty()) << path;
        EXPECT_EQ(error, reason);
    }
    std::string error;
    EXPECT_FALSE(state.SetLabel("1,2,3", std::string(kMaxLabelLength + 1, 'a'), error));
    EXPECT_TRUE(state.SetLabel("1,2,3", std::string(kMaxLabelLength, 'a'), error));
    EXPECT_FALSE(state.SetLabel("1,2,3", "\xff", error));
    EXPECT_EQ(error, "the label is not UTF-8");
}

TEST(ViewLabels, ImportIsAllOrNothing)
{
    CViewState state;
    std::string error;
    ASSERT_TRUE(state.SetLabel("1", "Desk", error));
    const std::pair<const char*, const char*> refused[] = {
        {R"({"labels":{"1,2":"a","x":"b"}})",
         "not a path: 'x' (one to five numbers separated by commas)"},
        {R"({"labels":{"1,2":"a","1,3":5}})", "the label of '1,3' is not a text"},
        {R"({"labels":[1]})", "labels must be an object of PATH: LABEL"},
        {R"("text")", "labels must be an object of PATH: LABEL"},
    };
    for (const auto& [document, reason] : refused) {
        EXPECT_FALSE(state.ImportLabels(json::parse(document), false, error)) << document;
        EXPECT_EQ(error, reason);
    }
    EXPECT_EQ(state.LabelsJson()["labels"], json::parse(R"({"1":"Desk"})"));
    ASSERT_TRUE(state.ImportLabels(json::parse(R"({"1,2":"a"})"), false, error)) << error;
    EXPECT_EQ(state.LabelsJson()["labels"], json::parse(R"({"1":"Desk","1,2":"a"})"));
    ASSERT_TRUE(state.ImportLabels(json::parse(R"({"labels":{"2":"b"}})"), true, error));
    EXPECT_EQ(state.LabelsJson()["labels"], json::parse(R"({"2":"b"})"));
}

TEST(ViewLabels, EveryChangeReachesTheHandler)
{
    CViewState state;
    std::vector<json> seen;
    state.OnLabelsChanged([&](const json& labels) { seen.push_back(labels); });
    std::string error;
    state.SetLabel("1,2", "a", error);
    state.SetLabel("1,2,x", "a", error); // refused: no call
    state.ImportLabels(json::parse(R"({"1,3":"b"})"), false, error);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1], json::parse(R"({"labels":{"1,2":"a","1,3":"b"}})"));
}

TEST(ViewExport, JsonAndCsvCarryValuesAndLabels)
{
    CViewState state;
    state.ApplyReport("1,2,3,4,5,100", At(1));
    state.ApplyReport("1,2,3,0,0,Say~\"hi\",~you \n", At(2));
    std::string error;
    state.SetLabel("1,2,3,4,5", "Ch 1, fader", error);
    const json exported = state.ExportJson();
    ASSERT_EQ(exported["parameters"].size(), 2u);
    EXPECT_EQ(exported["parameters"][0]["path"], "1,2,3");
    EXPECT_EQ(exported["parameters"][0]["value"], "Say \"hi\", you");
    EXPECT_EQ(exported["parameters"][1]["label"], "Ch 1, fader");
    EXPECT_EQ(exported["parameters"][1]["value"], 100);
    EXPECT_EQ(state.ExportCsv(), "path,label,type,value,changed,changes\r\n"
                                 "\"1,2,3\",,text,\"Say \"\"hi\"\", you\",1700000000002,1\r\n"
                                 "\"1,2,3,4,5\",\"Ch 1, fader\",integer,100,1700000000001,1\r\n");
}

// What one page gets, step by step: (time, action) then the events taken.
TEST(ViewPages, ANewPageGetsTheWholeStateFirst)
{
    CViewState state;
    state.ApplyReport("1,2,3,4,5,1", At(0));
    const uint64_t page = state.OpenPage();
    const CViewBatch batch = state.TakePage(page, At(1000));
    ASSERT_EQ(batch.events.size(), 1u);
    EXPECT_EQ(batch.events[0].name, "state");
    EXPECT_EQ(batch.events[0].Json()["parameters"].size(), 1u);
    EXPECT_TRUE(state.TakePage(page, At(1001)).events.empty());
}

TEST(ViewPages, PagesOpenedAtOnceShareOneStateTextUntilTheStateChanges)
{
    CViewState state;
    state.ApplyReport("1,2,3,4,5,1", At(0));
    const uint64_t first = state.OpenPage();
    const uint64_t second = state.OpenPage();
    const CViewBatch a = state.TakePage(first, At(1000));
    const CViewBatch b = state.TakePage(second, At(1000));
    ASSERT_EQ(a.events.size(), 1u);
    ASSERT_EQ(b.events.size(), 1u);
    EXPECT_EQ(a.events[0].data, b.events[0].data);
    EXPECT_EQ(a.events[0].data, state.StateText(At(1000)));

    state.ApplyReport("1,2,3,4,5,2", At(1000));
    const auto after = state.StateText(At(1000));
    EXPECT_NE(after, a.events[0].data);
    EXPECT_EQ(json::parse(*after)["parameters"][0]["value"], 2);
    // The reports-a-second counter moves with the clock alone.
    EXPECT_NE(state.StateText(At(2000)), after);
}

TEST(ViewPages, ChangesAreCoalescedToOneUpdatePerParameterPerWindow)
{
    CViewState state; // coalesceMs 100
    const uint64_t page = state.OpenPage();
    state.TakePage(page, At(1000)); // the state
    for (int i = 0; i < 50; ++i) {
        state.ApplyReport("1,2,3,4,5," + std::to_string(i), At(1010 + i));
        state.ApplyReport("1,2,3,4,6," + std::to_string(i), At(1010 + i));
    }
    CViewBatch early = state.TakePage(page, At(1060));
    EXPECT_TRUE(early.events.empty());
    EXPECT_EQ(early.waitMs, 40);
    CViewBatch due = state.TakePage(page, At(1100));
    ASSERT_EQ(due.events.size(), 1u);
    EXPECT_EQ(due.events[0].name, "update");
    const json parameters = due.events[0].Json()["parameters"];
    ASSERT_EQ(parameters.size(), 2u);
    EXPECT_EQ(parameters[0]["value"], 49);
    EXPECT_EQ(parameters[0]["changes"], 50);
    EXPECT_TRUE(state.TakePage(page, At(1100)).events.empty());

    // After a quiet spell a change goes at once.
    state.ApplyReport("1,2,3,4,5,99", At(1500));
    EXPECT_EQ(state.TakePage(page, At(1500)).events.size(), 1u);
}

TEST(ViewPages, LinkStateLabelsAndLogReachThePage)
{
    CViewState state;
    const uint64_t page = state.OpenPage();
    state.TakePage(page, At(0));
    state.SetConsoleState("lost", "connection reset");
    std::string error;
    state.SetLabel("1,2", "Inputs", error);
    state.Log("link", "console lost", At(5));
    const CViewBatch batch = state.TakePage(page, At(200));
    ASSERT_EQ(batch.events.size(), 1u);
    const json update = batch.events[0].Json();
    EXPECT_EQ(update["link"]["console"]["state"], "lost");
    EXPECT_EQ(update["labels"], json::parse(R"([{"path":"1,2","label":"Inputs"}])"));
    EXPECT_EQ(update["events"][0]["text"], "console lost");
}

TEST(ViewPages, APageTooFarBehindGetsTheWholeStateAgain)
{
    CViewOptions options;
    options.maxPageEvents = 4;
    CViewState state(options);
    const uint64_t page = state.OpenPage();
    state.TakePage(page, At(0));
    for (int i = 0; i < 4; ++i)
        state.Log("link", "line", At(1));
    EXPECT_EQ(state.TakePage(page, At(200)).events.at(0).name, "update");
    for (int i = 0; i < 5; ++i)
        state.Log("link", "line", At(300));
    EXPECT_EQ(state.TakePage(page, At(400)).events.at(0).name, "state");
}

TEST(ViewPages, AtMostMaxPagesAtOnce)
{
    CViewOptions options;
    options.maxPages = 2;
    CViewState state(options);
    const uint64_t first = state.OpenPage();
    EXPECT_NE(first, 0u);
    EXPECT_NE(state.OpenPage(), 0u);
    EXPECT_EQ(state.OpenPage(), 0u);
    state.ClosePage(first);
    EXPECT_NE(state.OpenPage(), 0u);
    EXPECT_EQ(state.PageCount(), 2u);
}

TEST(ViewPages, ShutdownEndsAWaitAndRefusesNewPages)
{
    CViewState state;
    const uint64_t page = state.OpenPage();
    state.TakePage(page);
    state.Shutdown();
    EXPECT_TRUE(state.WaitPage(page, 60000).events.empty());
    EXPECT_EQ(state.OpenPage(), 0u);
}

} // namespace
