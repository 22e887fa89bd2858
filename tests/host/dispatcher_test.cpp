#include "host/dispatcher.h"

#include "protocol/protocol.h"
#include "tests/support/ember_messages.h"
#include "tests/support/hex.h"
#include "tests/support/host_recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace testing_support;

// A five-level integer parameter: the report is "p1,p2,p3,p4,p5,value".
std::vector<uint8_t> IntegerParameter(std::vector<uint32_t> path, int32_t value)
{
    Element element = Prv(path[4], {IntValue(value)});
    for (int i = 3; i >= 0; --i)
        element = Ctx(path[size_t(i)], {element});
    return Message({Ctx(7, {element})});
}

// A five-level text parameter: "1,2,3,4,5,text \n".
std::vector<uint8_t> TextParameter(const std::string& text)
{
    return Message({Ctx(7, {Ctx(1, {Ctx(2, {Ctx(3, {Ctx(4, {Prv(5, {TextValue(text)})})})})})})});
}

std::vector<uint8_t> Report(int32_t value)
{
    return IntegerParameter({1, 2, 3, 4, 5}, value);
}

TEST(Dispatcher, KeepAlivesAreEchoedUntouched)
{
    struct Row
    {
        const char* name;
        std::vector<uint8_t> octets;
        uint32_t cbData;
    };
    const Row rows[] = {
        // An empty message: fed, it would synchronise the reader.
        {"empty root", Hex("7F 8F FF FE D9 5C 80 30 80 00 00 00 00"), 13},
        {"start sequence", Hex("7F 8F FF FE D9 5C 80 30 80 A1 03 02 01"), 13},
        {"any octets", Hex("00 11 22 33 44 55 66 77 88 99 AA BB CC"), 13},
        {"more octets than the length field", Hex("7F 8F FF FE D9 5C 80 30 80 00 00 00 00 01 02"),
         15},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        HostWindow host;
        PartnerWindow partner;
        const uintptr_t dwData = MakeDwData(BLOCK_CONSOLE_DATA, 13);
        EXPECT_EQ(partner.Send(host.Handle(), dwData, row.octets.data(), row.cbData), 1);
        ASSERT_EQ(partner.blocks.size(), 1u);
        EXPECT_EQ(partner.blocks[0].dwData, dwData);
        EXPECT_EQ(partner.blocks[0].cbData, row.cbData);
        EXPECT_EQ(ToHex(partner.blocks[0].octets), ToHex(row.octets.data(), row.cbData));
        EXPECT_EQ(partner.blocks[0].sender, host.Handle());
        // The reader saw nothing: not even the start octets.
        EXPECT_EQ(host.reader.GetMatchPosition(), 0);
        EXPECT_TRUE(host.reader.produced.empty());
    }
}

TEST(Dispatcher, AThirteenOctetLengthIsAKeepAliveEvenForAWholeReport)
{
    HostWindow host;
    PartnerWindow partner;
    // The first 13 octets of a report's message are not decoded...
    const std::vector<uint8_t> message = Report(100);
    partner.Send(host.Handle(), MakeDwData(BLOCK_CONSOLE_DATA, 13), message.data(),
                 uint32_t(message.size()));
    EXPECT_TRUE(host.reader.produced.empty());
    // ...and the whole message, sent next, is.
    partner.SendConsole(host.Handle(), message);
    EXPECT_EQ(partner.Reports(), std::vector<std::string>{"1,2,3,4,5,100"});
}

TEST(Dispatcher, BlocksOfOtherKindsOnlyChangeThePartner)
{
    const uint32_t kinds[] = {BLOCK_ENCODED, BLOCK_REPORT, 0x0C66, 0x0C6B, 0x0000, 0xFFFF};
    for (uint32_t kind : kinds) {
        SCOPED_TRACE(kind);
        HostWindow host;
        PartnerWindow first;
        PartnerWindow other;
        const std::vector<uint8_t> message = Report(100);
        // Also with console octets and a command text inside: neither is read.
        EXPECT_EQ(other.Send(host.Handle(), MakeDwData(kind, uint32_t(message.size())),
                             message.data(), uint32_t(message.size())),
                  1);
        EXPECT_EQ(host.state.partnerWindow, other.Handle());
        EXPECT_EQ(host.reader.GetMatchPosition(), 0);
        EXPECT_TRUE(other.blocks.empty());

        // The next block's sender is the partner again.
        first.SendCommand(host.Handle(), "1,2,3,4,5,1");
        EXPECT_EQ(host.state.partnerWindow, first.Handle());
        EXPECT_EQ(first.blocks.size(), 1u);
        EXPECT_TRUE(other.blocks.empty());
    }
}

TEST(Dispatcher, AConsoleBlockIsCutToTheOctetsItCarries)
{
    const std::vector<uint8_t> message = Report(100);
    const uint32_t size = uint32_t(message.size());
    struct Row
    {
        const char* name;
        uint32_t lengthField;
        uint32_t cbData;
        bool hasData;
        std::vector<std::string> reports;
    };
    const Row rows[] = {
        {"exact", size, size, true, {"1,2,3,4,5,100"}},
        {"length field beyond cbData", 0xFFFF, size, true, {"1,2,3,4,5,100"}},
        {"length field one beyond", size + 1, size, true, {"1,2,3,4,5,100"}},
        {"length field short of the message", size - 1, size, true, {}},
        {"no octets", size, 0, true, {}},
        {"no data pointer", size, size, false, {}},
        {"zero length field", 0, size, true, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        HostWindow host;
        PartnerWindow partner;
        // Exactly cbData octets exist: a read beyond them is caught.
        std::vector<uint8_t> exact(message.begin(), message.begin() + row.cbData);
        EXPECT_EQ(partner.Send(host.Handle(), MakeDwData(BLOCK_CONSOLE_DATA, row.lengthField),
                               row.hasData ? exact.data() : nullptr, row.cbData),
                  1);
        EXPECT_EQ(partner.Reports(), row.reports);
        EXPECT_EQ(host.reader.produced, row.reports);
    }
}

TEST(Dispatcher, TheRestOfACutMessageCompletesIt)
{
    HostWindow host;
    PartnerWindow partner;
    const std::vector<uint8_t> message = Report(100);
    const std::vector<uint8_t> head(message.begin(), message.end() - 1);
    partner.Send(host.Handle(), MakeDwData(BLOCK_CONSOLE_DATA, uint32_t(message.size() - 1)),
                 message.data(), uint32_t(message.size()));
    EXPECT_TRUE(partner.Reports().empty());
    partner.SendConsole(host.Handle(), {message.back()});
    EXPECT_EQ(partner.Reports(), std::vector<std::string>{"1,2,3,4,5,100"});
}

TEST(Dispatcher, ReportBlocksCarryTheTextInA513OctetField)
{
    HostWindow host;
    PartnerWindow partner;
    // The longer report first: its octets must not show behind the shorter.
    partner.SendConsole(host.Handle(), TextParameter("Main out"));
    partner.SendConsole(host.Handle(), Report(7));
    const std::string texts[] = {"1,2,3,4,5,Main~out \n", "1,2,3,4,5,7"};
    ASSERT_EQ(partner.blocks.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(texts[i]);
        const ReceivedBlock& block = partner.blocks[i];
        EXPECT_EQ(block.dwData, (uintptr_t(BLOCK_REPORT) << 16) | (texts[i].size() + 1));
        EXPECT_EQ(block.cbData, 513u);
        ASSERT_EQ(block.octets.size(), 513u);
        EXPECT_EQ(std::string(block.octets.begin(), block.octets.begin() + long(texts[i].size())),
                  texts[i]);
        for (size_t k = texts[i].size(); k < 513; ++k)
            ASSERT_EQ(block.octets[k], 0) << "octet " << k;
        EXPECT_EQ(block.sender, host.Handle());
    }
}

TEST(Dispatcher, RepeatedReportsAreDropped)
{
    struct Row
    {
        std::vector<int32_t> values; // one message each, in separate blocks
        std::vector<std::string> forwarded;
    };
    const Row rows[] = {
        {{100, 100}, {"1,2,3,4,5,100"}},
        {{100, 101, 100}, {"1,2,3,4,5,100", "1,2,3,4,5,101", "1,2,3,4,5,100"}},
        {{5, 5, 5, 6, 6}, {"1,2,3,4,5,5", "1,2,3,4,5,6"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.forwarded.size());
        HostWindow host;
        PartnerWindow partner;
        for (int32_t value : row.values)
            partner.SendConsole(host.Handle(), Report(value));
        EXPECT_EQ(partner.Reports(), row.forwarded);
        EXPECT_EQ(host.reader.produced.size(), row.values.size());
        EXPECT_STREQ(host.state.consoles[0]->lastReport, row.forwarded.back().c_str());
    }
}

TEST(Dispatcher, RepeatsWithinOneBlockAreDroppedToo)
{
    HostWindow host;
    PartnerWindow partner;
    partner.SendConsole(host.Handle(), Join({Report(1), Report(1), Report(2), Report(2)}));
    EXPECT_EQ(partner.Reports(), (std::vector<std::string>{"1,2,3,4,5,1", "1,2,3,4,5,2"}));
}

TEST(Dispatcher, ReportsOfThirtyCharactersOrMoreAreNotForwarded)
{
    struct Row
    {
        const char* name;
        std::vector<uint8_t> message;
        std::string report;
        bool forwarded;
    };
    const Row rows[] = {
        {"integer of 29", IntegerParameter({1000, 2000, 3000, 4000, 5000}, 1234),
         "1000,2000,3000,4000,5000,1234", true},
        {"integer of 30", IntegerParameter({1000, 2000, 3000, 4000, 5000}, 12345),
         "1000,2000,3000,4000,5000,12345", false},
        {"text of 29", TextParameter(std::string(17, 'm')),
         "1,2,3,4,5," + std::string(17, 'm') + " \n", true},
        {"text of 30", TextParameter(std::string(18, 'm')),
         "1,2,3,4,5," + std::string(18, 'm') + " \n", false},
        {"text of 63", TextParameter(std::string(51, 'm')),
         "1,2,3,4,5," + std::string(51, 'm') + " \n", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        HostWindow host;
        PartnerWindow partner;
        partner.SendConsole(host.Handle(), row.message);
        EXPECT_EQ(host.reader.produced, std::vector<std::string>{row.report});
        const std::vector<std::string> forwarded =
            row.forwarded ? std::vector<std::string>{row.report} : std::vector<std::string>{};
        EXPECT_EQ(partner.Reports(), forwarded);
        // A dropped report leaves the last report alone.
        EXPECT_STREQ(host.state.consoles[0]->lastReport, row.forwarded ? row.report.c_str() : "");
    }
}

TEST(Dispatcher, ADroppedLongReportDoesNotBreakTheRepeatCheck)
{
    HostWindow host;
    PartnerWindow partner;
    partner.SendConsole(host.Handle(), Report(100));
    partner.SendConsole(host.Handle(), TextParameter(std::string(25, 'z')));
    partner.SendConsole(host.Handle(), Report(100));
    EXPECT_EQ(host.reader.produced.size(), 3u);
    EXPECT_EQ(partner.Reports(), std::vector<std::string>{"1,2,3,4,5,100"});
}

TEST(Dispatcher, ReportsThatDoNotFitTheLineAreNeverSent)
{
    struct Row
    {
        size_t textLength;
        bool produced;
    };
    // "1,2,3,4,5," + text + " \n" and its NUL in 64 octets.
    const Row rows[] = {{51, true}, {52, false}, {60, false}, {500, false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.textLength);
        HostWindow host;
        PartnerWindow partner;
        partner.SendConsole(host.Handle(), TextParameter(std::string(row.textLength, 'n')));
        EXPECT_EQ(host.reader.produced.size(), row.produced ? 1u : 0u);
        EXPECT_TRUE(partner.Reports().empty());
    }
}

TEST(Dispatcher, ForgedReportMessagesAreIgnored)
{
    static const char kValidText[] = "9,9,9,9,9,9";
    struct Row
    {
        const char* name;
        WPARAM wParam;
        LPARAM lParam;
    };
    const Row rows[] = {
        // Never dereferenced: ASan would catch a read at these addresses.
        {"garbage pointer", REPORT_WPARAM, LPARAM(0x10)},
        {"null pointer", REPORT_WPARAM, 0},
        {"high garbage", REPORT_WPARAM, LPARAM(-64)},
        {"a readable text", REPORT_WPARAM, reinterpret_cast<LPARAM>(kValidText)},
        {"wrong wParam", 0, reinterpret_cast<LPARAM>(kValidText)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        HostWindow host;
        PartnerWindow partner;
        host.state.partnerWindow = partner.Handle();
        EXPECT_EQ(SendMessageA(host.Handle(), MSG_PARAM_REPORT, row.wParam, row.lParam), 0);
        EXPECT_TRUE(partner.blocks.empty());
        EXPECT_STREQ(host.state.consoles[0]->lastReport, "");
        EXPECT_FALSE(host.reader.IsSendingReport(row.lParam));
    }
}

TEST(Dispatcher, AForgedReportDuringARealOneIsIgnored)
{
    static const char kForged[] = "6,6,6,6,6,6";
    HostWindow host;
    PartnerWindow partner;
    LRESULT forgedResult = -1;
    partner.onBlock = [&](const ReceivedBlock& block) {
        if (BlockKind(block.dwData) != BLOCK_REPORT || forgedResult != -1)
            return;
        // The reader is sending right now, but this is not its line.
        forgedResult = SendMessageA(host.Handle(), MSG_PARAM_REPORT, REPORT_WPARAM,
                                    reinterpret_cast<LPARAM>(kForged));
    };
    partner.SendConsole(host.Handle(), Join({Report(1), Report(2)}));
    EXPECT_EQ(forgedResult, 0);
    EXPECT_EQ(partner.Reports(), (std::vector<std::string>{"1,2,3,4,5,1", "1,2,3,4,5,2"}));
}

TEST(Dispatcher, BlocksSentFromInsideAReportAreFedAfterTheOuterBlock)
{
    HostWindow host;
    PartnerWindow partner;
    size_t reportsWhenNestedSendReturned = 0;
    std::vector<LRESULT> nestedResults;
    partner.onBlock = [&](const ReceivedBlock& block) {
        if (block.ReportText() != "1,2,3,4,5,1")
            return;
        nestedResults.push_back(partner.SendConsole(host.Handle(), Report(3)));
        nestedResults.push_back(partner.SendConsole(host.Handle(), Report(4)));
        reportsWhenNestedSendReturned = partner.Reports().size();
    };
    // Two messages in one block; the partner answers the first report with
    // two more blocks.
    EXPECT_EQ(partner.SendConsole(host.Handle(), Join({Report(1), Report(2)})), 1);
    EXPECT_EQ(partner.Reports(), (std::vector<std::string>{"1,2,3,4,5,1", "1,2,3,4,5,2",
                                                           "1,2,3,4,5,3", "1,2,3,4,5,4"}));
    EXPECT_EQ(nestedResults, (std::vector<LRESULT>{1, 1}));
    // Nothing of the nested blocks had been decoded when their sends returned.
    EXPECT_EQ(reportsWhenNestedSendReturned, 1u);
    EXPECT_TRUE(host.state.consoles[0]->pendingBlocks.empty());
    EXPECT_EQ(host.state.consoles[0]->pendingOctets, 0u);
    EXPECT_FALSE(host.state.consoles[0]->feeding);
}

TEST(Dispatcher, ANestedBlockCanFinishTheMessageTheOuterOneBegan)
{
    HostWindow host;
    PartnerWindow partner;
    const std::vector<uint8_t> second = Report(2);
    const std::vector<uint8_t> head(second.begin(), second.begin() + 20);
    const std::vector<uint8_t> tail(second.begin() + 20, second.end());
    partner.onBlock = [&](const ReceivedBlock& block) {
        if (block.ReportText() == "1,2,3,4,5,1")
            partner.SendConsole(host.Handle(), tail);
    };
    partner.SendConsole(host.Handle(), Join({Report(1), head}));
    EXPECT_EQ(partner.Reports(), (std::vector<std::string>{"1,2,3,4,5,1", "1,2,3,4,5,2"}));
}

TEST(Dispatcher, AKeepAliveFromInsideAReportIsEchoedAtOnce)
{
    HostWindow host;
    PartnerWindow partner;
    const std::vector<uint8_t> keepAlive = Hex("01 02 03 04 05 06 07 08 09 0A 0B 0C 0D");
    partner.onBlock = [&](const ReceivedBlock& block) {
        if (block.ReportText() == "1,2,3,4,5,1")
            partner.SendConsole(host.Handle(), keepAlive);
    };
    partner.SendConsole(host.Handle(), Join({Report(1), Report(2)}));
    ASSERT_EQ(partner.blocks.size(), 3u);
    EXPECT_EQ(partner.blocks[0].ReportText(), "1,2,3,4,5,1");
    EXPECT_EQ(ToHex(partner.blocks[1].octets), ToHex(keepAlive));
    EXPECT_EQ(partner.blocks[2].ReportText(), "1,2,3,4,5,2");
}

// A reader whose memory runs out when it opens a container numbered 9: the
// kind of failure the codec does not catch itself.
class FailingReader : public RecordingReader
{
public:
    // On both report paths (the tree's and the octets').
    void OnContainerOpened() override
    {
        if (GetOuterTag().Number() == 9 && failures-- > 0)
            throw std::bad_alloc();
        RecordingReader::OnContainerOpened();
    }
    int failures = 1;
};

TEST(Dispatcher, AFailureWhileReadingDropsOnlyThatMessage)
{
    const std::vector<uint8_t> failing = IntegerParameter({1, 2, 3, 4, 9}, 1);
    const std::vector<uint8_t> head(failing.begin(), failing.begin() + 36);
    const std::vector<uint8_t> tail(failing.begin() + 36, failing.end());
    struct Row
    {
        const char* name;
        std::vector<std::vector<uint8_t>> blocks;
        std::vector<std::string> reports;
    };
    const Row rows[] = {
        {"the failing message in a block of its own", {failing, Report(2)}, {"1,2,3,4,5,2"}},
        {"the rest of the failing message is skipped",
         {head, Join({tail, Report(2)}), Report(3)},
         {"1,2,3,4,5,2", "1,2,3,4,5,3"}},
        {"a failure in a later block",
         {Report(1), failing, Report(1), Report(2)},
         {"1,2,3,4,5,1", "1,2,3,4,5,2"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FailingReader reader;
        HostWindow host;
        PartnerWindow partner;
        host.state.reader = &reader;
        HostAddStartupConsole(host.state, reader);
        reader.Bind(host.Handle());
        HostToggleDebug(host.state);
        TraceCapture capture;
        for (const std::vector<uint8_t>& block : row.blocks)
            EXPECT_EQ(partner.SendConsole(host.Handle(), block), 1);
        EXPECT_EQ(partner.Reports(), row.reports);
        EXPECT_EQ(reader.failures, 0);
        EXPECT_FALSE(host.state.consoles[0]->feeding);
        EXPECT_EQ(std::count(capture.lines.begin(), capture.lines.end(),
                             "console message dropped: std::bad_alloc \n"),
                  1);
    }
}

TEST(Dispatcher, AFailureInABlockHeldBackGoesOnWithTheNextOne)
{
    FailingReader reader;
    HostWindow host;
    PartnerWindow partner;
    host.state.reader = &reader;
    HostAddStartupConsole(host.state, reader);
    reader.Bind(host.Handle());
    partner.onBlock = [&](const ReceivedBlock& block) {
        if (block.ReportText() != "1,2,3,4,5,1")
            return;
        partner.SendConsole(host.Handle(), IntegerParameter({1, 2, 3, 4, 9}, 3));
        partner.SendConsole(host.Handle(), Report(4));
    };
    EXPECT_EQ(partner.SendConsole(host.Handle(), Join({Report(1), Report(2)})), 1);
    EXPECT_EQ(partner.Reports(),
              (std::vector<std::string>{"1,2,3,4,5,1", "1,2,3,4,5,2", "1,2,3,4,5,4"}));
    EXPECT_FALSE(host.state.consoles[0]->feeding);
    EXPECT_TRUE(host.state.consoles[0]->pendingBlocks.empty());
    // Later blocks are fed at once again, not held back.
    EXPECT_EQ(partner.SendConsole(host.Handle(), Report(5)), 1);
    EXPECT_EQ(partner.Reports().back(), "1,2,3,4,5,5");
}

struct TraceRow
{
    const char* name;
    std::function<void(HostWindow&, PartnerWindow&)> action;
    std::vector<std::string> lines;
};

std::vector<TraceRow> TraceRows()
{
    const auto command = [](std::string text) {
        return [text](HostWindow& host, PartnerWindow& partner) {
            partner.SendCommand(host.Handle(), text);
        };
    };
    const auto console = [](std::vector<uint8_t> octets) {
        return [octets](HostWindow& host, PartnerWindow& partner) {
            partner.SendConsole(host.Handle(), octets);
        };
    };
    const std::vector<uint8_t> topValue = Message({Prv(5, {IntValue(100)})});
    const std::vector<uint8_t> threeLevel =
        Message({Ctx(7, {Ctx(1, {Ctx(2, {Prv(3, {TextValue("Main out")})})})})});
    const std::vector<uint8_t> application =
        Message({App(9, {Leaf(eeBerClass_Application, 4, 1)})});
    return {
        {"full integer", command("1,2,3,4,5,100"), {"sscanf iError=6  \n"}},
        {"no shape", command("1,2,3,4,5,-7"), {"sscanf iError=6  \n"}},
        {"three-level poll",
         command("1,2,3,0,0,-1"),
         {"sscanf iError=6  \n", "NOT Full House create PART-3 container To POLL \n"}},
        {"three-level text",
         command("1,2,3,0,0,a~b"),
         {"sscanf iError=5  \n", "sscanf iError=6 text=a~b \n", "sscanf iError=6 text=a b \n",
          "NOT Full House create PART-3 container To Send TEXT \n"}},
        {"four-level poll",
         command("1,2,3,4,0,-1"),
         {"sscanf iError=6  \n", "NOT Full House create PART-4 container To POLL \n"}},
        {"four-level text",
         command("1,2,3,4,0,-"),
         {"sscanf iError=5  \n", "sscanf iError=6 text=- \n", "sscanf iError=6 text= \n",
          "NOT Full House create PART container To Send TXT \n"}},
        {"four-level integer",
         command("1,2,3,4,0,5"),
         {"sscanf iError=6  \n", "NOT Full House create PART container To Send INT \n"}},
        {"text too long",
         command("1,2,3,4,5," + std::string(70, 'x')),
         {"sscanf iError=5  \n", "command text of 70 characters refused: the field holds 63 \n"}},
        {"keep-alive",
         console(Hex("00 01 02 03 04 05 06 07 08 09 0A 0B 0C")),
         {"LIB:~~~~Data to be DE_Coded lenght=13 \n", "Korvane Keep Alive Rxd"}},
        {"integer value",
         console(topValue),
         {"LIB:~~~~Data to be DE_Coded lenght=" + std::to_string(topValue.size()) + " \n",
          "eeBerClass_Private:\n", "Gettype= 2 \n", "##VALUE #### = 100  \n"}},
        {"text value",
         console(threeLevel),
         {"LIB:~~~~Data to be DE_Coded lenght=" + std::to_string(threeLevel.size()) + " \n",
          "eeBerClass_ContextSpecific:\n", "eeBerClass_ContextSpecific:\n",
          "eeBerClass_ContextSpecific:\n", "eeBerClass_Private:\n", "Gettype= 12 \n",
          "Now we have detected  eeBerType_UTF8String \n", "##VALUE 2#### =Main~out from 3 \n",
          "1,2,3,0,0,Main~out \n"}},
        {"application child",
         console(application),
         {"LIB:~~~~Data to be DE_Coded lenght=" + std::to_string(application.size()) + " \n",
          "eeBerClass_Application:\n", "eeBerClass_Application:\n"}},
    };
}

TEST(Dispatcher, TracesAreWrittenOnlyWhileDebugIsOn)
{
    for (const TraceRow& row : TraceRows()) {
        SCOPED_TRACE(row.name);
        for (const bool debug : {true, false}) {
            HostWindow host;
            PartnerWindow partner;
            if (debug) {
                EXPECT_EQ(HostToggleDebug(host.state), 1);
            }
            TraceCapture capture;
            row.action(host, partner);
            EXPECT_EQ(capture.lines, debug ? row.lines : std::vector<std::string>{});
        }
    }
}

TEST(Dispatcher, TheDebugSwitchCarriesTheReaderTraceWithIt)
{
    HostWindow host;
    EXPECT_EQ(host.reader.GetTraceSwitch(), 0);
    EXPECT_EQ(HostToggleDebug(host.state), 1);
    EXPECT_EQ(host.state.debugFlag, 1);
    EXPECT_EQ(host.reader.GetTraceSwitch(), 1);
    EXPECT_EQ(HostToggleDebug(host.state), 0);
    EXPECT_EQ(host.state.debugFlag, 0);
    EXPECT_EQ(host.reader.GetTraceSwitch(), 0);

    // Off again: a whole exchange writes nothing.
    PartnerWindow partner;
    TraceCapture capture;
    partner.SendCommand(host.Handle(), "1,2,3,0,0,-1");
    partner.SendConsole(host.Handle(), Report(1));
    EXPECT_TRUE(capture.lines.empty());
    EXPECT_EQ(partner.blocks.size(), 2u);
}

} // namespace

namespace {

// Two partners of one host: whatever the host sends while it handles a
// block goes to that block's sender, also after the other partner's blocks
// were handled inside its sends.
TEST(DispatcherPartners, ReportsStayWithTheirSenderWhileAnotherPartnerSendsCommands)
{
    HostWindow host;
    PartnerWindow a;
    PartnerWindow b;
    std::vector<std::vector<uint8_t>> messages;
    for (int32_t value = 0; value < 40; ++value)
        messages.push_back(Report(value));
    size_t commands = 0;
    a.onBlock = [&](const ReceivedBlock& block) {
        if (BlockKind(block.dwData) == BLOCK_REPORT && commands < 10) {
            ++commands;
            EXPECT_EQ(b.SendCommand(host.Handle(), "1,2,3,4,5,100"), 1);
        }
    };
    a.SendConsole(host.Handle(), Join(messages));
    EXPECT_EQ(a.Reports().size(), 40u);
    for (const ReceivedBlock& block : a.blocks)
        EXPECT_EQ(BlockKind(block.dwData), BLOCK_REPORT);
    ASSERT_EQ(b.blocks.size(), 10u);
    for (const ReceivedBlock& block : b.blocks)
        EXPECT_EQ(BlockKind(block.dwData), BLOCK_ENCODED);
    // The partner window still follows the latest sender.
    EXPECT_EQ(host.state.partnerWindow, b.Handle());
}

// Another partner's console block that arrives while one partner's block
// is fed (inside a send's wait) is decoded at once with that partner's own
// reader: its reports reach it during its own send.
TEST(DispatcherPartners, AnotherPartnersBlockGetsItsReportsDuringItsOwnSend)
{
    HostWindow host;
    PartnerWindow a;
    PartnerWindow b;
    const std::vector<uint8_t> keepAlive(kKeepAliveOctets.begin(), kKeepAliveOctets.end());
    size_t reportsOfBWhenItsSendReturned = 0;
    a.onBlock = [&](const ReceivedBlock& block) {
        if (block.ReportText() != "1,2,3,4,5,1")
            return;
        EXPECT_EQ(b.SendConsole(host.Handle(), Report(7)), 1);
        reportsOfBWhenItsSendReturned = b.Reports().size();
        b.SendConsole(host.Handle(), keepAlive);
    };
    a.SendConsole(host.Handle(), Join({Report(1), Report(2)}));
    EXPECT_EQ(a.Reports(), (std::vector<std::string>{"1,2,3,4,5,1", "1,2,3,4,5,2"}));
    EXPECT_EQ(reportsOfBWhenItsSendReturned, 1u);
    ASSERT_EQ(b.blocks.size(), 2u);
    EXPECT_EQ(b.blocks[0].ReportText(), "1,2,3,4,5,7");
    EXPECT_EQ(ToHex(b.blocks[1].octets), ToHex(keepAlive));
}

// Each partner's octets are read on their own: a message one partner left
// unfinished neither swallows nor mangles another's, and the duplicate rule
// is each partner's own.
TEST(DispatcherPartners, EachPartnerHasItsOwnReaderStateAndLastReport)
{
    HostWindow host;
    PartnerWindow a;
    PartnerWindow b;
    const std::vector<uint8_t> message = IntegerParameter({1, 2, 3, 0, 4}, 22);
    const std::vector<uint8_t> head(message.begin(), message.end() - 4);
    const std::vector<uint8_t> tail(message.end() - 4, message.end());
    a.SendConsole(host.Handle(), head);
    b.SendConsole(host.Handle(), IntegerParameter({1, 2, 3, 7, 4}, 21));
    a.SendConsole(host.Handle(), tail);
    EXPECT_EQ(a.Reports(), std::vector<std::string>{"1,2,3,0,4,22"});
    EXPECT_EQ(b.Reports(), std::vector<std::string>{"1,2,3,7,4,21"});
    // The same report to both: each gets it once.
    a.SendConsole(host.Handle(), Report(5));
    b.SendConsole(host.Handle(), Report(5));
    a.SendConsole(host.Handle(), Report(5));
    EXPECT_EQ(a.Reports().back(), "1,2,3,4,5,5");
    EXPECT_EQ(a.Reports().size(), 2u);
    EXPECT_EQ(b.Reports(), (std::vector<std::string>{"1,2,3,7,4,21", "1,2,3,4,5,5"}));
}

// The partners whose reader state is kept are bounded: the one idle for
// longest gives its place to a newcomer (with a trace line), and loses what
// it had begun.
TEST(DispatcherPartners, TheIdlestPartnerGivesItsPlaceToANewOne)
{
    HostWindow host;
    HostToggleDebug(host.state);
    std::vector<std::unique_ptr<PartnerWindow>> partners;
    for (size_t i = 0; i <= kMaxPartnerConsoles; ++i)
        partners.push_back(std::make_unique<PartnerWindow>());
    const std::vector<uint8_t> message = Report(9);
    const std::vector<uint8_t> head(message.begin(), message.end() - 4);
    const std::vector<uint8_t> tail(message.end() - 4, message.end());
    TraceCapture capture;
    for (size_t i = 0; i < kMaxPartnerConsoles; ++i)
        partners[i]->SendConsole(host.Handle(), head);
    EXPECT_EQ(host.state.consoles.size(), kMaxPartnerConsoles);
    partners[kMaxPartnerConsoles]->SendConsole(host.Handle(), Report(3));
    EXPECT_EQ(host.state.consoles.size(), kMaxPartnerConsoles);
    EXPECT_EQ(
        std::count_if(
            capture.lines.begin(), capture.lines.end(),
            [](const std::string& line) { return line.find("console data of partner") == 0; }),
        1);
    for (size_t i = 1; i < kMaxPartnerConsoles; ++i)
        partners[i]->SendConsole(host.Handle(), tail);
    // The first, idle for longest, lost its head; the others finish theirs.
    partners[0]->SendConsole(host.Handle(), tail);
    EXPECT_TRUE(partners[0]->Reports().empty());
    for (size_t i = 1; i < kMaxPartnerConsoles; ++i)
        EXPECT_EQ(partners[i]->Reports(), std::vector<std::string>{"1,2,3,4,5,9"}) << i;
    EXPECT_EQ(partners[kMaxPartnerConsoles]->Reports(), std::vector<std::string>{"1,2,3,4,5,3"});
}

// With one partner every block goes where it went when the partner window
// alone chose the target: checked at every send over random conversations
// in which the partner also sends from inside its own handlers.
TEST(DispatcherPartners, WithOnePartnerEverySendGoesToThePartnerWindowAsBefore)
{
    std::mt19937 random(20261208);
    for (int round = 0; round < 40; ++round) {
        HostWindow host;
        PartnerWindow partner;
        size_t sends = 0;
        host.state.onBlock = [&](bool sent, HWND target, const COPYDATASTRUCT&) {
            if (!sent)
                return;
            ++sends;
            EXPECT_EQ(target, host.state.partnerWindow);
        };
        int nestedLeft = 20;
        auto randomBlock = [&](PartnerWindow& from) {
            switch (random() % 4) {
            case 0:
                from.SendCommand(host.Handle(), "1,2,3,4," + std::to_string(1 + random() % 9) +
                                                    "," + std::to_string(random() % 5));
                break;
            case 1:
                from.SendConsole(host.Handle(), std::vector<uint8_t>(kKeepAliveOctets.begin(),
                                                                     kKeepAliveOctets.end()));
                break;
            default: {
                std::vector<uint8_t> octets;
                for (int i = 0, n = 1 + int(random() % 4); i < n; ++i) {
                    const std::vector<uint8_t> next = Report(int32_t(random() % 6));
                    octets.insert(octets.end(), next.begin(), next.end());
                }
                const size_t cut = random() % octets.size();
                const std::vector<uint8_t> head(octets.begin(), octets.begin() + long(cut));
                const std::vector<uint8_t> tail(octets.begin() + long(cut), octets.end());
                if (head.size() != KEEP_ALIVE_LENGTH && !head.empty())
                    from.SendConsole(host.Handle(), head);
                if (tail.size() != KEEP_ALIVE_LENGTH)
                    from.SendConsole(host.Handle(), tail);
                break;
            }
            }
        };
        partner.onBlock = [&](const ReceivedBlock&) {
            if (nestedLeft > 0 && random() % 3 == 0) {
                --nestedLeft;
                randomBlock(partner);
            }
        };
        for (int i = 0; i < 10; ++i)
            randomBlock(partner);
        EXPECT_GT(sends, 0u);
        EXPECT_EQ(partner.blocks.size(), sends);
    }
}

} // namespace
