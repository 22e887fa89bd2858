#include "console/console_simulator.h"

#include "tests/support/console_helpers.h"
#include "tests/support/ember_messages.h"
#include "tests/support/hex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

using namespace testing_support;
using console_testing::HostBlock;
using console_testing::RecordingSimulator;
using Kind = CConsoleSimulator::OutputKind;

// The answer the console gives for one parameter: the root, Ctx top, the
// path containers, the parameter container and the value.
std::vector<uint8_t> Answer(uint32_t top, const ParameterKey& key, const Element& value)
{
    Element level = Prv(key.back(), {value});
    for (size_t i = key.size() - 1; i-- > 0;)
        level = Ctx(key[i], {level});
    return Message({Ctx(top, {level})});
}

struct ShapeRow
{
    const char* command;
    ParameterKey key; // the parameter set, or the path polled
    bool poll;
    Element value; // of a set
};

const ShapeRow kShapes[] = {
    {"1,2,3,4,5,100", {1, 2, 3, 4, 5}, false, IntValue(100)},
    {"1,2,3,4,5,Main~out", {1, 2, 3, 4, 5}, false, TextValue("Main out")},
    {"1,2,3,4,5,-1", {1, 2, 3, 4}, true, {}},
    {"1,2,3,0,0,-1", {1, 2}, true, {}},
    {"1,2,3,0,0,Ch~1", {1, 2, 3}, false, TextValue("Ch 1")},
    {"1,2,3,9,0,-1", {1, 2, 3}, true, {}},
    {"1,2,3,4,0,Aux~2", {1, 2, 3, 4}, false, TextValue("Aux 2")},
    {"1,2,3,4,0,75", {1, 2, 3, 4}, false, IntValue(75)},
};

TEST(ConsoleSimulator, TheAnswerToTheWorkedCommandHasItsOctets)
{
    RecordingSimulator console;
    const auto client = console.simulator.Connect("");
    EXPECT_EQ(console.Feed(client, HostBlock("1,2,3,4,5,100")), 1u);
    ASSERT_EQ(console.sent.size(), 1u);
    EXPECT_EQ(ToHex(console.sent[0].message),
              "7F 8F FF FE D9 5C 80 30 80 A7 1B 31 19 A1 17 31 15 A2 13 31 11 A3 0F 31 0D "
              "A4 0B 31 09 E5 07 31 05 63 03 02 01 64 00 00 00 00");
    EXPECT_EQ(console.sent[0].kind, Kind::Answer);
}

TEST(ConsoleSimulator, EveryShapeSplitAnywhereGivesTheSameAnswer)
{
    for (const ShapeRow& row : kShapes) {
        for (size_t blockSize : {1, 2, 3, 5, 7, 13, 32, 4096}) {
            SCOPED_TRACE(std::string(row.command) + " in blocks of " + std::to_string(blockSize));
            RecordingSimulator console;
            // A poll finds one parameter below its path.
            ParameterKey polled = row.key;
            polled.push_back(8);
            if (row.poll)
                console.store.Set(polled, int32_t(42));
            const auto client = console.simulator.Connect("");
            const std::vector<uint8_t> block = HostBlock(row.command);
            ASSERT_FALSE(block.empty());
            size_t messages = 0;
            for (size_t at = 0; at < block.size(); at += blockSize) {
                const size_t part = std::min(blockSize, block.size() - at);
                messages += console.simulator.Receive(client, block.data() + at, part);
            }
            EXPECT_EQ(messages, 1u);
            ASSERT_EQ(console.sent.size(), 1u);
            EXPECT_EQ(console.sent[0].client, client);
            EXPECT_EQ(console.sent[0].kind, Kind::Answer);
            if (row.poll) {
                EXPECT_EQ(ToHex(console.sent[0].message), ToHex(Answer(7, polled, IntValue(42))));
                EXPECT_EQ(console.store.Size(), 1u);
            } else {
                EXPECT_EQ(ToHex(console.sent[0].message), ToHex(Answer(7, row.key, row.value)));
                ASSERT_NE(console.store.Find(row.key), nullptr);
                EXPECT_EQ(console.store.Size(), 1u);
            }
        }
    }
}

TEST(ConsoleSimulator, TopNumbersTheTopLevel)
{
    RecordingSimulator console(300);
    const auto client = console.simulator.Connect("");
    console.Feed(client, HostBlock("1,2,3,4,0,75"));
    ASSERT_EQ(console.sent.size(), 1u);
    EXPECT_EQ(ToHex(console.sent[0].message), ToHex(Answer(300, {1, 2, 3, 4}, IntValue(75))));
}

TEST(ConsoleSimulator, ASetIsAnsweredToTheSenderAndAnnouncedToEveryOtherClient)
{
    RecordingSimulator console;
    const auto a = console.simulator.Connect("a");
    const auto b = console.simulator.Connect("b");
    const auto c = console.simulator.Connect("c");
    console.simulator.Disconnect(c, "gone");
    const auto d = console.simulator.Connect("d");
    console.Feed(b, HostBlock("1,2,3,4,5,7"));
    const std::vector<uint8_t> answer = Answer(7, {1, 2, 3, 4, 5}, IntValue(7));
    ASSERT_EQ(console.sent.size(), 3u);
    EXPECT_EQ(console.sent[0].client, b);
    EXPECT_EQ(console.sent[0].kind, Kind::Answer);
    EXPECT_EQ(console.sent[1].client, a);
    EXPECT_EQ(console.sent[1].kind, Kind::Announce);
    EXPECT_EQ(console.sent[2].client, d);
    EXPECT_EQ(console.sent[2].kind, Kind::Announce);
    for (const auto& sent : console.sent)
        EXPECT_EQ(sent.message, answer);
    // The same value again is answered and announced again.
    console.Feed(b, HostBlock("1,2,3,4,5,7"));
    EXPECT_EQ(console.sent.size(), 6u);
    EXPECT_EQ(std::count(console.log.begin(), console.log.end(),
                         "client 2: message: set 1/2/3/4/5 = 7 (unchanged)"),
              1);
}

TEST(ConsoleSimulator, APollAnswersEverythingBelowThePathInOneTree)
{
    RecordingSimulator console;
    console.store.Set({1, 2, 3, 4, 5}, int32_t(100));
    console.store.Set({1, 2, 3, 4, 6}, std::string("Ch 2"));
    console.store.Set({1, 2, 3, 4}, int32_t(75));
    console.store.Set({1, 2, 3}, std::string("Ch 1"));
    console.store.Set({1, 7, 3}, int32_t(1));
    const auto client = console.simulator.Connect("");
    struct Row
    {
        const char* command;
        std::vector<Element> expected; // under Ctx 7; empty: no answer
    };
    const std::vector<Row> rows = {
        // Five-level poll: the two parameters in Ctx 4.
        {"1,2,3,4,5,-1",
         {Ctx(1, {Ctx(2, {Ctx(3, {Ctx(4, {Prv(5, {IntValue(100)}),
                                          Prv(6, {TextValue("Ch 2")})})})})})}},
        // Four-level poll of 1,2,3: the four-level parameter and the five-level ones below.
        {"1,2,3,9,0,-1",
         {Ctx(1, {Ctx(2, {Ctx(3, {Prv(4, {IntValue(75)}),
                                  Ctx(4, {Prv(5, {IntValue(100)}),
                                          Prv(6, {TextValue("Ch 2")})})})})})}},
        // Three-level poll of 1,7: one parameter.
        {"1,7,3,0,0,-1", {Ctx(1, {Ctx(7, {Prv(3, {IntValue(1)})})})}},
        // Nothing below 1,8 or 1,2,3,5.
        {"1,8,3,0,0,-1", {}},
        {"1,2,3,5,6,-1", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.command);
        console.sent.clear();
        EXPECT_EQ(console.Feed(client, HostBlock(row.command)), 1u);
        if (row.expected.empty()) {
            EXPECT_TRUE(console.sent.empty());
            continue;
        }
        ASSERT_EQ(console.sent.size(), 1u);
        EXPECT_EQ(ToHex(console.sent[0].message), ToHex(Message({Ctx(7, row.expected)})));
    }
    EXPECT_EQ(console.store.Size(), 5u);
    EXPECT_NE(std::find(console.log.begin(), console.log.end(),
                        "client 1: message: poll 1/8: 0 parameters"),
              console.log.end());
}

TEST(ConsoleSimulator, OtherTreesAreLoggedAndIgnored)
{
    struct Row
    {
        std::vector<uint8_t> message;
        const char* log;
    };
    const Row rows[] = {
        {Message({Ctx(1, {Ctx(2, {Prv(3, {Int64Value(int64_t(1) << 40)})})})}),
         "client 1: message: ignored: parameter 1/2/3 holds Tag: A-3 Type: 2, Integer at A-3"},
        {Message({Ctx(1, {Prv(3, {Leaf(eeBerClass_Application, 4, 1)})})}),
         "client 1: message: ignored: parameter 1/3 has no value at A-3"},
        {Message({Prv(3, {IntValue(1)})}),
         "client 1: message: ignored: Tag: P-3 Type: 17, Set in the root"},
        {Message({Leaf(eeBerClass_Application, 32, 1)}),
         "client 1: message: ignored: Tag: A-32 Type: 2, Integer in the root"},
        {Message({App(1, {Prv(3, {IntValue(1)})})}),
         "client 1: message: ignored: Tag: A-1 Type: 17, Set in the root"},
        {Message({Ctx(1, {Leaf(eeBerClass_ContextSpecific, 9, 1)})}),
         "client 1: message: ignored: Tag: C-9 Type: 2, Integer in 1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.log);
        RecordingSimulator console;
        const auto client = console.simulator.Connect("");
        EXPECT_EQ(console.Feed(client, row.message), 1u);
        EXPECT_TRUE(console.sent.empty());
        EXPECT_EQ(console.store.Size(), 0u);
        ASSERT_EQ(console.log.size(), 2u);
        EXPECT_EQ(console.log[1], row.log);
    }
}

TEST(ConsoleSimulator, MalformedOctetsAreLoggedWithTheReadersErrorAndTheClientCarriesOn)
{
    RecordingSimulator console;
    const auto client = console.simulator.Connect("");
    // The Set's inner length runs out inside the leaf.
    console.Feed(client, Hex("7F 8F FF FE D9 5C 80 30 80 A2 07 31 04 A1 03 02 01 05 00 00 00 00"));
    console.Feed(client, Hex("7F 8F FF FE D9 5C 80 30 80 A1 00"));
    console.Feed(client, HostBlock("1,2,3,4,5,1"));
    const std::vector<std::string> expected = {
        "client 1: connected",
        "client 1: error 106: @A-4294946012/C-2/C-1: Unexpected end of container",
        "client 1: error 102: @A-4294946012/C-1: Zero outer length encountered",
        "client 1: message: set 1/2/3/4/5 = 1",
        "client 1: answer 42 octets",
    };
    EXPECT_EQ(console.log, expected);
    EXPECT_EQ(console.sent.size(), 1u);
}

TEST(ConsoleSimulator, KeepAlivesAreCountedBackByTheEmptyRoots)
{
    RecordingSimulator console;
    const auto client = console.simulator.Connect("");
    EXPECT_EQ(console.simulator.KeepAlive(client), KeepAliveOctets());
    console.Feed(client, KeepAliveOctets());
    // An empty root without a keep-alive out: the head of a host block.
    console.Feed(client, KeepAliveOctets());
    console.simulator.KeepAlive(client);
    console.simulator.KeepAlive(client);
    EXPECT_TRUE(console.simulator.KeepAlive(7).empty());
    const std::vector<std::string> expected = {
        "client 1: connected",
        "client 1: keep-alive sent",
        "client 1: keep-alive came back",
        "client 1: keep-alive sent",
        "client 1: keep-alive not answered (1 outstanding)",
        "client 1: keep-alive sent",
    };
    EXPECT_EQ(console.log, expected);
    EXPECT_TRUE(console.sent.empty());
}

TEST(ConsoleSimulator, OctetsOfAnUnknownClientAreDropped)
{
    RecordingSimulator console;
    const auto client = console.simulator.Connect("x");
    console.simulator.Disconnect(client, "closed");
    EXPECT_EQ(console.Feed(client, HostBlock("1,2,3,4,5,1")), 0u);
    EXPECT_TRUE(console.sent.empty());
    EXPECT_EQ(console.log.back(), "client 1: disconnected (closed)");
    EXPECT_EQ(console.simulator.ClientCount(), 0u);
}

} // namespace

namespace {

// The stream reader's fuzz corpus, each file whole and in small blocks, then
// one command: the simulator logs what it met and still answers.
TEST(ConsoleSimulator, TheReaderFuzzCorpusIsLoggedAndTheClientCarriesOn)
{
    const std::filesystem::path folder =
        std::filesystem::path(KORVANE_SOURCE_DIR) / "fuzz/corpus/stream_reader";
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        files.push_back(entry.path());
    ASSERT_GE(files.size(), 5u);
    std::sort(files.begin(), files.end());
    size_t errors = 0;
    size_t logged = 0;
    for (const auto& file : files) {
        for (size_t blockSize : {size_t(3), size_t(4096)}) {
            SCOPED_TRACE(file.filename().string() + " in blocks of " + std::to_string(blockSize));
            std::ifstream in(file, std::ios::binary);
            std::vector<uint8_t> octets((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
            // The whole file, then its first 24 octets again with some of
            // those after the start sequence flipped.
            for (size_t i = 0; i < 24 && i < octets.size(); ++i)
                octets.push_back(i >= 10 && i % 4 == 2 ? uint8_t(~octets[i]) : octets[i]);
            RecordingSimulator console;
            const auto client = console.simulator.Connect("");
            for (size_t at = 0; at < octets.size(); at += blockSize)
                console.simulator.Receive(client, octets.data() + at,
                                          std::min(blockSize, octets.size() - at));
            logged += console.log.size();
            errors += size_t(std::count_if(console.log.begin(), console.log.end(),
                                           [](const std::string& line) {
                return line.rfind("client 1: error ", 0) == 0;
            }));
            // A fresh start sequence after whatever came before.
            console.sent.clear();
            console.Feed(client,
                         Join({Hex("00 00 00 00 00 00 00 00"), HostBlock("1,2,3,4,5,100")}));
            ASSERT_EQ(console.sent.size(), 1u);
            EXPECT_EQ(console.sent.back().message, Answer(7, {1, 2, 3, 4, 5}, IntValue(100)));
        }
    }
    EXPECT_GT(errors, 0u);
    EXPECT_GT(logged, 2 * 2 * files.size());
}

} // namespace
