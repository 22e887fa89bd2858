// decode --json and dump --json of the korvane tool (korvane-cli.exe on
// Windows), parsed back and
// compared with the text outputs of the same inputs: every report and
// error in the same order, every message's dump, and offsets that agree.
#include "tests/support/run_program.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Json = nlohmann::ordered_json;

struct Output
{
    int status = -1;
    std::string out;
};

// Runs the tool with ARGS, split at blanks (no argument holds one); standard
// error is not looked at.
Output Korvane(const std::string& args)
{
    std::vector<std::string> words;
    std::istringstream in(args);
    for (std::string word; in >> word;)
        words.push_back(word);
    const testing_support::ProgramResult result =
        testing_support::RunProgram(testing_support::KorvaneCliPath(), words);
    return Output{result.status, result.out};
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The inputs, written once into temporary files.
class Inputs
{
public:
    Inputs()
    {
        const std::string capture = ReadFile(testing_support::NativePath(
            std::string(KORVANE_SOURCE_DIR) + "/data/console_capture.bin"));
        Write("capture.bin", capture);
        // Broken messages: octets changed all over the second half.
        std::string broken = capture;
        for (size_t i = broken.size() / 2; i < broken.size(); i += 29)
            broken[i] = char(broken[i] ^ 0x5A);
        Write("broken.bin", broken + "garbage" + capture);
        Write("one.hex", "7F8FFFFED95C803080 A71B3119 A1173115 A2133111 A30F310D A40B3109\n"
                         "E5073105 6303020164 00000000\n");
        // A text parameter and a repeated report.
        Write("text.hex", "7F8FFFFED95C803080 A71E311C A11A3118 A2163114 A3123110 A40E310C"
                          " E50A3108 6306 0C04 4368 2031 00000000"
                          " 7F8FFFFED95C803080 A71E311C A11A3118 A2163114 A3123110 A40E310C"
                          " E50A3108 6306 0C04 4368 2031 00000000");
        Write("empty.bin", "");
    }
    std::string Path(const std::string& name) const { return m_files.at(name)->Path(); }

private:
    void Write(const std::string& name, const std::string& contents)
    {
        m_files[name] = std::make_unique<testing_support::TempFile>(contents);
    }

    std::map<std::string, std::unique_ptr<testing_support::TempFile>> m_files;
};

const Inputs& TheInputs()
{
    static const Inputs inputs;
    return inputs;
}

struct Case
{
    const char* name;
    const char* file;
    const char* options; // besides --json / --errors
};

const Case kCases[] = {
    {"Capture", "capture.bin", ""},
    {"CaptureAll", "capture.bin", "--all"},
    {"CaptureOctetBlocks", "capture.bin", "--chunk 1"},
    {"CaptureSevenOctetBlocks", "capture.bin", "--chunk 7 --all"},
    {"CaptureThirteenOctetBlocks", "capture.bin", "--chunk 13"},
    {"Broken", "broken.bin", ""},
    {"BrokenAll", "broken.bin", "--all --chunk 5"},
    {"OneMessage", "one.hex", "--hex"},
    {"TextAndRepeat", "text.hex", "--hex"},
    {"TextAndRepeatAll", "text.hex", "--hex --all"},
    {"Empty", "empty.bin", ""},
};

class JsonCliTest : public testing::TestWithParam<Case>
{
protected:
    std::string Input() const { return TheInputs().Path(GetParam().file); }
    size_t InputSize() const { return ReadFile(Input()).size(); }
};

// The text line decode --errors prints for a JSON object.
std::string TextLine(const Json& object)
{
    if (object.contains("error"))
        return "error " + std::to_string(object.at("error").get<int>()) + ": " +
               object.at("message").get<std::string>();
    return object.at("report").get<std::string>();
}

TEST_P(JsonCliTest, DecodeJsonMatchesTheTextOutput)
{
    const std::string options = GetParam().options;
    const Output text = Korvane("decode --errors " + options + " " + Input());
    const Output json = Korvane("decode --json " + options + " " + Input());
    EXPECT_EQ(json.status, text.status);

    const std::vector<std::string> textLines = Lines(text.out);
    std::vector<std::string> fromJson;
    uint64_t lastOffset = 0;
    const size_t size = InputSize();
    for (const std::string& line : Lines(json.out)) {
        const Json object = Json::parse(line);
        fromJson.push_back(TextLine(object));
        const uint64_t offset = object.at("offset").get<uint64_t>();
        EXPECT_GE(offset, lastOffset) << line;
        EXPECT_LT(offset, size) << line;
        lastOffset = offset;
        if (object.contains("report")) {
            ASSERT_EQ(object.at("path").size(), 5u) << line;
            const std::string type = object.at("type").get<std::string>();
            if (type == "integer")
                EXPECT_TRUE(object.at("value").is_number_integer()) << line;
            else
                EXPECT_EQ(type, "text") << line;
        }
    }
    EXPECT_EQ(fromJson, textLines);
    if (GetParam().file == std::string("broken.bin")) {
        // The case must exercise errors and reports both.
        EXPECT_NE(json.out.find("{\"error\":"), std::string::npos);
        EXPECT_NE(json.out.find("{\"report\":"), std::string::npos);
    }
}

// The XML-like dump rebuilt from a node's JSON alone.
std::string DumpFromJson(const Json& node, int level)
{
    const std::string indent(size_t(level) * 2, ' ');
    const std::string tag = node.at("tag").get<std::string>();
    const std::string label = node.at("typeName").is_null()
                                  ? std::to_string(node.at("type").get<int>())
                                  : node.at("typeName").get<std::string>();
    std::string text = indent + "<" + tag + " type=\"" + label + "\">";
    if (node.contains("children")) {
        text += "\r\n";
        for (const Json& child : node.at("children"))
            text += DumpFromJson(child, level + 1);
        return text + indent + "</" + tag + ">\r\n";
    }
    return text + node.at("text").get<std::string>() + "</" + tag + ">\r\n";
}

TEST_P(JsonCliTest, DumpJsonMatchesTheTextDump)
{
    std::string options = GetParam().options;
    // dump has no --all; it reads every message the same way.
    if (const size_t all = options.find("--all"); all != std::string::npos)
        options.erase(all, 5);
    for (const std::string mode : {"", "--plain "}) {
        const Output text = Korvane("dump " + mode + options + " " + Input());
        const Output json = Korvane("dump --json " + mode + options + " " + Input());
        EXPECT_EQ(json.status, text.status);
        std::string rebuilt;
        uint64_t index = 0;
        for (const std::string& line : Lines(json.out)) {
            const Json message = Json::parse(line);
            EXPECT_EQ(message.at("message").get<uint64_t>(), ++index) << line;
            rebuilt += DumpFromJson(message.at("root"), 0);
        }
        EXPECT_EQ(rebuilt, text.out) << "dump " << mode;
    }
}

TEST_P(JsonCliTest, ReportsEndWhereTheirMessageEnds)
{
    const Output decode =
        Korvane("decode --json --all " + std::string(GetParam().options) + " " + Input());
    const bool hex = std::string(GetParam().options).find("--hex") != std::string::npos;
    const Output dump = Korvane(std::string("dump --json ") + (hex ? "--hex " : "") + Input());
    std::set<uint64_t> messageEnds;
    for (const std::string& line : Lines(dump.out))
        messageEnds.insert(Json::parse(line).at("offset").get<uint64_t>());
    for (const std::string& line : Lines(decode.out)) {
        const Json object = Json::parse(line);
        if (object.contains("report")) {
            EXPECT_EQ(messageEnds.count(object.at("offset").get<uint64_t>()), 1u) << line;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Inputs, JsonCliTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& param) {
    return std::string(param.param.name);
});

TEST(JsonCliCaseTest, OffsetOfAOneMessageInputIsItsLastOctet)
{
    // 42 octets: the message ends at offset 41.
    const Output decode = Korvane("decode --json --hex " + TheInputs().Path("one.hex"));
    EXPECT_EQ(decode.status, 0);
    EXPECT_EQ(decode.out, "{\"report\":\"1,2,3,4,5,100\",\"path\":[1,2,3,4,5],\"value\":100,"
                          "\"type\":\"integer\",\"offset\":41}\n");
    const Output dump = Korvane("dump --json --hex " + TheInputs().Path("one.hex"));
    EXPECT_EQ(Json::parse(dump.out).at("offset"), 41);
}

TEST(JsonCliCaseTest, TextReportKeepsItsLayout)
{
    const Output decode = Korvane("decode --json --hex " + TheInputs().Path("text.hex"));
    EXPECT_EQ(decode.status, 0);
    const std::vector<std::string> lines = Lines(decode.out);
    ASSERT_EQ(lines.size(), 1u) << decode.out; // the repeat is dropped by the host
    const Json report = Json::parse(lines[0]);
    EXPECT_EQ(report.at("type"), "text");
    EXPECT_EQ(report.at("report"), "1,2,3,4,5,Ch~1 ");
    EXPECT_EQ(report.at("value"), "Ch 1"); // as the console sent it
    EXPECT_EQ(report.at("path"), Json::parse("[1,2,3,4,5]"));
}

TEST(JsonCliCaseTest, JsonIsRefusedWhereItIsNotOffered)
{
    EXPECT_EQ(Korvane("reencode --json " + TheInputs().Path("capture.bin")).status, 2);
    EXPECT_EQ(Korvane("encode --json 1,2,3,4,5,100").status, 2);
}

} // namespace
