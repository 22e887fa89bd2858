#include "host/report_reader.h"

#include "ember/ber/tag.h"
#include "tests/support/ember_messages.h"
#include "tests/support/host_recorder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace testing_support;

Element Five(Element parameter)
{
    return Ctx(7, {Ctx(1, {Ctx(2, {Ctx(3, {Ctx(4, {parameter})})})})});
}

constexpr uint32_t kAside = 0xFFFFACDD;

struct WalkRow
{
    const char* name;
    std::vector<std::vector<uint8_t>> messages; // each sent as its own block
    std::vector<std::string> reports;           // as the reader produced them
};

std::vector<WalkRow> WalkRows()
{
    // Ctx 2 › Ctx 3 › Ctx 4 › Prv 5 › 100.
    const Element belowOne = Ctx(2, {Ctx(3, {Ctx(4, {Prv(5, {IntValue(100)})})})});
    return {
        {"five levels, integer", {Message({Five(Prv(5, {IntValue(100)}))})}, {"1,2,3,4,5,100"}},
        {"negative value", {Message({Five(Prv(5, {IntValue(-5)}))})}, {"1,2,3,4,5,-5"}},
        {"five levels, text: the container's number in fifth place",
         {Message({Five(Prv(5, {TextValue("Main out")}))})},
         {"1,2,3,4,5,Main~out \n"}},
        {"two parameters in one path container",
         {Message({Ctx(7, {Ctx(1, {Ctx(2, {Ctx(3, {Ctx(4, {Prv(5, {IntValue(100)}),
                                                           Prv(6, {IntValue(200)})})})})})})})},
         {"1,2,3,4,5,100", "1,2,3,4,6,200"}},
        {"sibling branches continue the count",
         {Message({Ctx(7, {Ctx(1, {Prv(5, {IntValue(100)})})}),
                   Ctx(8, {Ctx(2, {Prv(6, {IntValue(200)})})})})},
         {"1,0,0,0,5,100", "1,8,2,0,6,200"}},
        {"integer under application 34",
         {Message({Ctx(7, {Ctx(1, {Ctx(2, {Ctx(3, {App(34, {Prv(5, {IntValue(100)})})})})})})})},
         {}},
        {"text under application 34",
         {Message({Ctx(7, {Ctx(1, {Ctx(2, {Ctx(3, {App(34, {Prv(5, {TextValue("a b")})})})})})})})},
         {"1,2,3,34,5,a~b \n"}},
        {"application 34 higher up does not matter",
         {Message({Ctx(7, {Ctx(1, {App(34, {Ctx(2, {Prv(5, {IntValue(9)})})})})})})},
         {"1,34,2,0,5,9"}},
        {"another application number as parent",
         {Message({Ctx(7, {Ctx(1, {Ctx(2, {Ctx(3, {App(35, {Prv(5, {IntValue(1)})})})})})})})},
         {"1,2,3,35,5,1"}},
        {"private container under the top node",
         {Message({Prv(5, {IntValue(100)})})},
         {"0,0,0,0,5,100"}},
        {"three-level text",
         {Message({Ctx(7, {Ctx(1, {Ctx(2, {Prv(3, {TextValue("Main out")})})})})})},
         {"1,2,3,0,0,Main~out \n"}},
        {"two three-level texts side by side",
         {Message(
             {Ctx(7, {Ctx(1, {Ctx(2, {Prv(3, {TextValue("a")}), Prv(4, {TextValue("b")})})})})})},
         {"1,2,3,0,0,a \n", "1,2,4,0,0,b \n"}},
        {"an integer after a three-level text keeps the Sets met",
         {Message({Ctx(7, {Ctx(1, {Ctx(2, {Prv(3, {TextValue("a")}), Prv(4, {IntValue(5)})})})})})},
         {"1,2,3,0,0,a \n", "1,2,0,0,4,5"}},
        {"three-level integer has no rule of its own",
         {Message({Ctx(7, {Ctx(1, {Ctx(2, {Prv(3, {IntValue(5)})})})})})},
         {"1,2,0,0,3,5"}},
        {"two levels of text are not three-level",
         {Message({Ctx(7, {Ctx(1, {Prv(3, {TextValue("t")})})})})},
         {"1,0,0,0,3,t \n"}},
        {"four-level text",
         {Message({Ctx(7, {Ctx(1, {Ctx(2, {Ctx(3, {Prv(4, {TextValue("ab")})})})})})})},
         {"1,2,3,0,4,ab \n"}},
        {"a later tree's text does not carry the earlier slot 6",
         {Message({Five(Prv(9, {IntValue(1)}))}),
          Message({Ctx(7, {Ctx(1, {Ctx(2, {Ctx(3, {Prv(4, {TextValue("ab")})})})})})})},
         {"1,2,3,4,9,1", "1,2,3,0,4,ab \n"}},
        {"slots start over with each tree",
         {Message({Five(Prv(5, {IntValue(1)}))}),
          Message({Ctx(7, {Ctx(8, {Prv(5, {IntValue(2)})})})})},
         {"1,2,3,4,5,1", "8,0,0,0,5,2"}},
        {"context Sequence descended without counting",
         {Message({Ctx(7, {Ctx(1, {CtxSequence(9, {belowOne})})})})},
         {"1,2,3,4,5,100"}},
        {"context leaf beside the parameter",
         {Message({Ctx(7, {Ctx(1, {Ctx(2, {Ctx(3, {Ctx(4, {Leaf(eeBerClass_ContextSpecific, 8, 42),
                                                           Prv(5, {IntValue(100)})})})})})})})},
         {"1,2,3,4,5,100"}},
        {"nested private containers",
         {Message({Five(Prv(5, {Prv(6, {IntValue(100)})}))})},
         {"1,2,3,4,6,100"}},
        {"value and nested private container",
         {Message({Five(Prv(5, {IntValue(1), Prv(6, {IntValue(2)})}))})},
         {"1,2,3,4,5,1", "1,2,3,4,6,2"}},
        {"sixth and seventh Set",
         {Message({Five(Ctx(5, {Ctx(6, {Prv(9, {IntValue(1)})})}))})},
         {"1,2,3,4,9,1"}},
        {"tag numbers print as signed",
         {Message({Ctx(7, {Ctx(0xFFFFFFFF, {Prv(5, {IntValue(1)})})})})},
         {"-1,0,0,0,5,1"}},
        {"value not at application 3",
         {Message({Five(
             Prv(5, {Leaf(eeBerClass_Application, 4, 1), Leaf(eeBerClass_ContextSpecific, 3, 2),
                     Leaf(eeBerClass_Private, 3, 3)}))})},
         {}},
        {"64-bit integer", {Message({Five(Prv(5, {Int64Value(0x123456789LL)}))})}, {}},
        {"value outside a private container",
         {Message({Ctx(7, {Ctx(1, {Ctx(2, {Ctx(3, {Ctx(4, {IntValue(100)})})})})})})},
         {}},
        {"aside subtree is not walked",
         {SplicedMessage({App(kAside, {Five(Prv(5, {IntValue(100)}))})})},
         {}},
        {"aside subtree beside a parameter",
         {SplicedMessage(
             {App(kAside, {Five(Prv(5, {IntValue(100)}))}), Five(Prv(5, {IntValue(7)}))})},
         {"1,2,3,4,5,7"}},
        {"aside private container under the root",
         {SplicedMessage({Prv(5, {IntValue(1)}), App(kAside, {Prv(6, {IntValue(2)})})})},
         {"0,0,0,0,5,1"}},
        {"universal child refuses the message; the next one reports",
         {Message({Five(Prv(5, {Leaf(eeBerClass_Universal, 5, 1), IntValue(9)}))}),
          Message({Five(Prv(5, {IntValue(10)}))})},
         {"1,2,3,4,5,10"}},
    };
}

TEST(ReportReader, WalksTreesIntoReports)
{
    for (const WalkRow& row : WalkRows()) {
        SCOPED_TRACE(row.name);
        HostWindow host;
        PartnerWindow partner;
        for (const auto& message : row.messages)
            partner.SendConsole(host.Handle(), message);
        EXPECT_EQ(host.reader.produced, row.reports);
    }
}

TEST(ReportReader, AUniversalElementIsRefusedByTheReader)
{
    HostWindow host;
    PartnerWindow partner;
    partner.SendConsole(host.Handle(),
                        Message({Ctx(7, {Ctx(1, {Leaf(eeBerClass_Universal, 5, 1)})})}));
    ASSERT_EQ(host.reader.errors.size(), 1u);
    EXPECT_EQ(host.reader.errors[0].first, 107);
    EXPECT_TRUE(host.reader.produced.empty());
}

TEST(ReportReader, OnlyTheWholeTreeIsWalked)
{
    HostWindow host;
    PartnerWindow partner;
    const std::vector<uint8_t> message =
        Message({Five(Prv(5, {IntValue(1)})), Five(Prv(6, {IntValue(2)}))});
    // Everything but the root's end: every inner container has closed.
    const std::vector<uint8_t> head(message.begin(), message.end() - 4);
    partner.SendConsole(host.Handle(), head);
    EXPECT_TRUE(host.reader.produced.empty());
    EXPECT_EQ(host.reader.GetSetLevels(), 0);
    partner.SendConsole(host.Handle(), {0, 0, 0, 0});
    // The second branch meets five more Sets: slots 2..5 stay 1, 2, 3, 4.
    EXPECT_EQ(host.reader.produced, (std::vector<std::string>{"1,2,3,4,5,1", "1,2,3,4,6,2"}));
    EXPECT_EQ(host.reader.GetSetLevels(), 10);
}

TEST(ReportReader, BlanksBecomeTildesTheConsoleTextKeepsThem)
{
    // From the octets (trace off): no tree, the console's text beside the
    // report. Two text values in one Sequence both report the first.
    HostWindow direct;
    PartnerWindow partner;
    Element privateSequence = Prv(6, {TextValue("c d"), TextValue("e")});
    privateSequence.kind = Element::Sequence;
    partner.SendConsole(direct.Handle(), Message({Five(Prv(5, {TextValue(" a  b ")})),
                                                  Ctx(8, {CtxSequence(2, {privateSequence})})}));
    EXPECT_EQ(
        direct.reader.produced,
        (std::vector<std::string>{"1,2,3,4,5,~a~~b~ \n", "1,2,3,4,6,c~d \n", "1,2,3,4,6,c~d \n"}));
    EXPECT_EQ(direct.reader.consoleTexts, (std::vector<std::string>{" a  b ", "c d", "c d"}));
    EXPECT_EQ(direct.reader.GetRoot(), nullptr);
}

TEST(ReportReader, BlanksBecomeTildesInTheDecodedTree)
{
    // The tree is built while the trace switch is on.
    HostWindow host;
    PartnerWindow partner;
    TraceCapture trace;
    host.reader.SetTraceSwitch(1);
    partner.SendConsole(host.Handle(), Message({Five(Prv(5, {TextValue(" a  b ")}))}));
    EXPECT_EQ(host.reader.produced, std::vector<std::string>{"1,2,3,4,5,~a~~b~ \n"});
    EXPECT_EQ(host.reader.consoleTexts, std::vector<std::string>{" a  b "});

    CEmber_Node* node = host.reader.GetRoot();
    ASSERT_NE(node, nullptr);
    for (int depth = 0; depth < 6; ++depth) {
        ASSERT_TRUE(node->GetFirstChildPosition());
        node = node->GetChildren().First();
    }
    char* text = nullptr;
    ASSERT_TRUE(node->GetStringChild(eeBerClass_Application, 3, text));
    EXPECT_STREQ(text, "~a~~b~");
}

TEST(ReportReader, SlotsFollowTheSetsMet)
{
    HostWindow host;
    PartnerWindow partner;
    const Element path = Ctx(7, {Ctx(1, {CtxSequence(9, {Ctx(2, {Prv(5, {IntValue(1)})})})})});
    partner.SendConsole(host.Handle(), Message({path}));
    EXPECT_EQ(host.reader.GetSetLevels(), 3);
    const uint32_t slots[] = {7, 1, 2, 0, 0, 5};
    for (int i = 1; i <= 6; ++i)
        EXPECT_EQ(host.reader.GetSlot(i), slots[i - 1]) << "slot " << i;
}

TEST(ReportReader, BindClearsTheTraceSwitchAndNamesTheWindow)
{
    HostWindow host;
    PartnerWindow partner;
    host.reader.SetTraceSwitch(1);
    host.reader.Bind(host.Handle());
    EXPECT_EQ(host.reader.GetTraceSwitch(), 0);
    EXPECT_FALSE(host.reader.IsSendingReport(0));

    // Bound to the partner instead, reports go there as MSG_PARAM_REPORT,
    // which the partner does not treat as a block.
    host.reader.Bind(partner.Handle());
    partner.SendConsole(host.Handle(), Message({Five(Prv(5, {IntValue(1)}))}));
    EXPECT_EQ(host.reader.produced.size(), 1u);
    EXPECT_TRUE(partner.blocks.empty());
}

} // namespace

// Integer reports of random trees (Sets, Sequences and private containers
// mixed, many parameters, numbers of every size) carry the path slots as
// printf writes them at the moment of sending: the kept text of slots 2..5
// never goes stale.
class SlotCheckingReader : public CReportReader
{
public:
    int integerReports = 0;
    std::vector<std::string> mismatches;

protected:
    void SendReport(const char* line) override
    {
        const std::string text(line);
        if (!text.empty() && text.back() == '\n')
            return;
        char expected[80];
        std::snprintf(expected, sizeof expected, "%d,%d,%d,%d,%d,", int32_t(GetSlot(2)),
                      int32_t(GetSlot(3)), int32_t(GetSlot(4)), int32_t(GetSlot(5)),
                      int32_t(GetSlot(6)));
        ++integerReports;
        if (text.compare(0, std::strlen(expected), expected) != 0)
            mismatches.push_back(text + " / " + expected);
    }
};

// Siblings get distinct numbers (a Set refuses a repeated tag).
Element RandomBranch(std::mt19937& rng, int depth, uint32_t number)
{
    static const uint32_t kNumbers[] = {1,     2,          9,           127,        128,
                                        65535, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu};
    if (depth == 0 || rng() % 4 == 0)
        return Prv(number, {IntValue(int32_t(rng()))});
    std::vector<Element> children;
    const uint32_t first = rng() % 9;
    for (uint32_t i = rng() % 4 + 1; i > 0; --i)
        children.push_back(RandomBranch(rng, depth - 1, kNumbers[(first + i) % 9]));
    return rng() % 5 == 0 ? CtxSequence(number, std::move(children))
                          : Ctx(number, std::move(children));
}

TEST(ReportReader, IntegerReportsCarryTheSlotsAsPrintfWritesThem)
{
    std::mt19937 rng(31);
    SlotCheckingReader reader;
    for (int tree = 0; tree < 400; ++tree) {
        std::vector<Element> top;
        for (uint32_t i = rng() % 3 + 1; i > 0; --i)
            top.push_back(RandomBranch(rng, 7, i));
        const std::vector<uint8_t> message = Message(top);
        reader.FeedBlock(message.data(), uint32_t(message.size()));
    }
    EXPECT_GT(reader.integerReports, 2000);
    EXPECT_EQ(reader.mismatches, std::vector<std::string>{});
}
