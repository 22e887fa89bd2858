// The JSON documents of decode --json and dump --json.
#include "tools/korvane/output/json_output.h"

#include "ember/ber/text_list.h"
#include "ember/tree/leaf.h"
#include "ember/tree/set.h"
#include "ember/tree/string_leaf.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ReportCase
{
    const char* name;
    std::string report;
    std::string json; // JsonLine of ReportJson(report, 57), without the line feed
};

const ReportCase kReports[] = {
    {"Integer", "1,2,3,4,5,100",
     R"({"report":"1,2,3,4,5,100","path":[1,2,3,4,5],"value":100,"type":"integer","offset":57})"},
    {"NegativeInteger", "1,2,3,4,5,-3",
     R"({"report":"1,2,3,4,5,-3","path":[1,2,3,4,5],"value":-3,"type":"integer","offset":57})"},
    {"NegativePath", "-1,2,3,4,-5,7",
     R"({"report":"-1,2,3,4,-5,7","path":[-1,2,3,4,-5],"value":7,"type":"integer","offset":57})"},
    {"Text", "1,2,3,0,0,Ch~1 \n",
     R"({"report":"1,2,3,0,0,Ch~1 ","path":[1,2,3,0,0],"value":"Ch 1","type":"text","offset":57})"},
    {"NotUtf8", "1,2,3,4,5,a\xFF~b \n",
     "{\"report\":\"1,2,3,4,5,a\xEF\xBF\xBD~b \",\"path\":[1,2,3,4,5],\"value\":\"a\xEF\xBF\xBD b\","
     "\"type\":\"text\",\"reportOctets\":\"312C322C332C342C352C61FF7E6220\",\"offset\":57}"},
    {"Overlong", "1,2,3,4,5,\xC0\xAF \n",
     "{\"report\":\"1,2,3,4,5,\xEF\xBF\xBD\xEF\xBF\xBD \",\"path\":[1,2,3,4,5],\"value\":"
     "\"\xEF\xBF\xBD\xEF\xBF\xBD\",\"type\":\"text\",\"reportOctets\":\"312C322C332C342C352CC0AF20\","
     "\"offset\":57}"},
    {"Utf8Kept", "1,2,3,4,5,\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\x9A \n",
     "{\"report\":\"1,2,3,4,5,\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\x9A \",\"path\":[1,2,3,4,5],"
     "\"value\":\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\x9A\",\"type\":\"text\",\"offset\":57}"},
    {"DigitsText", "1,2,3,4,5,42 \n",
     R"({"report":"1,2,3,4,5,42 ","path":[1,2,3,4,5],"value":"42","type":"text","offset":57})"},
    {"EmptyText", "1,2,3,4,5, \n",
     R"({"report":"1,2,3,4,5, ","path":[1,2,3,4,5],"value":"","type":"text","offset":57})"},
    {"TextWithComma", "1,2,3,4,5,a,b \n",
     R"({"report":"1,2,3,4,5,a,b ","path":[1,2,3,4,5],"value":"a,b","type":"text","offset":57})"},
    {"TextWithoutLineEnd", "1,2,3,4,5,abc",
     R"({"report":"1,2,3,4,5,abc","path":[1,2,3,4,5],"value":"abc","type":"text","offset":57})"},
    {"IntegerOutOfRange", "1,2,3,4,5,2147483648",
     R"({"report":"1,2,3,4,5,2147483648","path":[1,2,3,4,5],"value":"2147483648","type":"text","offset":57})"},
    {"QuoteAndControl", "1,2,3,4,5,\"x\"\t \n",
     R"({"report":"1,2,3,4,5,\"x\"\t ","path":[1,2,3,4,5],"value":"\"x\"\t","type":"text","offset":57})"},
    {"NotAReport", "hello",
     R"({"report":"hello","path":[],"value":null,"type":"unknown","offset":57})"},
    {"FourNumbers", "1,2,3,4",
     R"({"report":"1,2,3,4","path":[],"value":null,"type":"unknown","offset":57})"},
    {"BadNumber", "1,x,3,4,5,6",
     R"({"report":"1,x,3,4,5,6","path":[],"value":null,"type":"unknown","offset":57})"},
};

class ReportJsonTest : public testing::TestWithParam<ReportCase>
{};

TEST_P(ReportJsonTest, Line)
{
    EXPECT_EQ(JsonLine(ReportJson(GetParam().report, 57)), GetParam().json + "\n");
}

INSTANTIATE_TEST_SUITE_P(Reports, ReportJsonTest, testing::ValuesIn(kReports),
                         [](const testing::TestParamInfo<ReportCase>& param) {
    return std::string(param.param.name);
});

TEST(ReportJsonTest, ConsoleTextIsTheValue)
{
    const std::string text = "a~b c";
    EXPECT_EQ(JsonLine(ReportJson("1,2,3,4,5,a~b~c \n", 9, &text)),
              R"({"report":"1,2,3,4,5,a~b~c ","path":[1,2,3,4,5],"value":"a~b c","type":"text",)"
              R"("offset":9})"
              "\n");
}

TEST(Utf8Test, Validity)
{
    for (const char* good : {"", "abc", "\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xED\x9F\xBF",
                             "\xEE\x80\x80", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF"})
        EXPECT_TRUE(IsValidUtf8(good)) << good;
    for (const char* bad : {"\x80", "\xC1\xBF", "\xC2", "\xE0\x9F\xBF", "\xED\xA0\x80",
                            "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "a\xFF"})
        EXPECT_FALSE(IsValidUtf8(bad)) << bad;
}

TEST(ErrorJsonTest, Line)
{
    EXPECT_EQ(
        JsonLine(ErrorJson(106, "@A-0/C-1: \"length\" too long", 4096)),
        "{\"error\":106,\"message\":\"@A-0/C-1: \\\"length\\\" too long\",\"offset\":4096}\n");
}

TEST(JsonLineTest, InvalidUtf8IsReplaced)
{
    EXPECT_EQ(JsonLine(ErrorJson(1,
                                 std::string("a\xFF"
                                             "b"),
                                 0)),
              "{\"error\":1,\"message\":\"a\xEF\xBF\xBD"
              "b\",\"offset\":0}\n");
}

// The XML-like dump rebuilt from a node's JSON alone.
std::string DumpFromJson(const KorvaneJson& node, int level)
{
    const std::string indent(size_t(level) * 2, ' ');
    const std::string tag = node.at("tag").get<std::string>();
    const std::string label = node.at("typeName").is_null()
                                  ? std::to_string(node.at("type").get<int>())
                                  : node.at("typeName").get<std::string>();
    std::string text = indent + "<" + tag + " type=\"" + label + "\">";
    if (node.contains("children")) {
        text += "\r\n";
        for (const KorvaneJson& child : node.at("children"))
            text += DumpFromJson(child, level + 1);
        return text + indent + "</" + tag + ">\r\n";
    }
    return text + node.at("text").get<std::string>() + "</" + tag + ">\r\n";
}

// A set holding one leaf of every kind and a nested set.
CEmber_AdaptiveSet* MakeTree()
{
    auto* top = new CEmber_AdaptiveSet(eeBerClass_ContextSpecific, 1, nullptr);
    top->AddIntegerChild(eeBerClass_Application, 3, -42);
    top->AddStringChild(eeBerClass_Application, 4, "Main out");
    top->AddChild(new CEmber_Boolean(eeBerClass_Application, 5, true), true);
    top->AddChild(new CEmber_Integer64(eeBerClass_Application, 6, int64_t(1) << 40), true);
    top->AddChild(new CEmber_Real(eeBerClass_Application, 7, 2.5), true);
    top->AddChild(new CEmber_RelativeObject(eeBerClass_Application, 8, 0x1234), true);
    top->AddChild(new CEmber_GeneralizedTime(eeBerClass_Application, 9, 0, true), true);
    top->AddChild(new CEmber_GeneralizedTime(eeBerClass_Application, 10, 77, false), true);
    auto* inner = new CEmber_AdaptiveSet(eeBerClass_Private, 2, nullptr);
    inner->AddIntegerChild(eeBerClass_Universal, 0, 7);
    top->AddChild(inner, true);
    return top;
}

TEST(NodeJsonTest, EveryLeafKind)
{
    CEmber_AdaptiveSet* top = MakeTree();
    const KorvaneJson json = NodeJson(*top);
    EXPECT_EQ(json.at("tag"), "C-1");
    EXPECT_EQ(json.at("class"), "context");
    EXPECT_EQ(json.at("number"), 1);
    EXPECT_EQ(json.at("type"), 17);
    EXPECT_EQ(json.at("typeName"), "Set");
    const KorvaneJson& c = json.at("children");
    ASSERT_EQ(c.size(), 9u);
    EXPECT_EQ(JsonLine(c[0]), "{\"tag\":\"A-3\",\"class\":\"application\",\"number\":3,\"type\":2,"
                              "\"typeName\":\"Integer\",\"value\":-42,\"text\":\"-42\"}\n");
    EXPECT_EQ(c[1].at("value"), "Main out");
    EXPECT_EQ(c[1].at("typeName"), "UTF8");
    EXPECT_EQ(c[2].at("value"), true);
    EXPECT_EQ(c[3].at("value"), int64_t(1) << 40);
    EXPECT_EQ(c[4].at("value"), 2.5);
    EXPECT_EQ(c[4].at("text"), "2.500000");
    EXPECT_EQ(c[5].at("value"), 0x1234);
    EXPECT_EQ(c[5].at("text"), "0000000000001234");
    EXPECT_EQ(c[6].at("value"), c[6].at("text"));
    EXPECT_EQ(c[6].at("type"), 24);
    EXPECT_EQ(c[7].at("value"), 77);
    EXPECT_EQ(c[7].at("type"), 2);
    EXPECT_EQ(c[8].at("class"), "private");
    EXPECT_EQ(c[8].at("children").at(0).at("class"), "universal");
    for (const KorvaneJson& child : c)
        EXPECT_FALSE(child.contains("octets"));

    CEmber_TextList list;
    top->Dump(list, 0);
    EXPECT_EQ(DumpFromJson(json, 0), list.Join());
    delete top;
}

TEST(NodeJsonTest, TextNotUtf8KeepsItsOctets)
{
    CEmber_AdaptiveSet top(eeBerClass_ContextSpecific, 1, nullptr);
    top.AddStringChild(eeBerClass_Application, 3, "a\xFE");
    const KorvaneJson json = NodeJson(top);
    EXPECT_EQ(JsonLine(json.at("children").at(0)),
              "{\"tag\":\"A-3\",\"class\":\"application\",\"number\":3,\"type\":12,"
              "\"typeName\":\"UTF8\",\"value\":\"a\xEF\xBF\xBD\",\"text\":\"a\xEF\xBF\xBD\","
              "\"octets\":\"61FE\"}\n");
}

TEST(MessageJsonTest, WrapsTheRoot)
{
    CEmber_AdaptiveSet* top = MakeTree();
    const KorvaneJson json = MessageJson(*top, 3, 99);
    EXPECT_EQ(json.at("message"), 3);
    EXPECT_EQ(json.at("offset"), 99);
    EXPECT_EQ(json.at("root"), NodeJson(*top));
    EXPECT_EQ(JsonLine(json).substr(0, 34), "{\"message\":3,\"offset\":99,\"root\":{\"");
    delete top;
}

} // namespace
