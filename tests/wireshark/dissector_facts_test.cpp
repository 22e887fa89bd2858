// The dissector's copy of the octet format's facts against the codec's own:
// the start sequence, the reader limits, the root and aside tags, the report
// line's size, the type names and the error registry (codes and texts). The
// dissector is Lua and cannot include the C++ tables, so this test reads its
// source and fails on any difference.

#include "ember/ber/exception.h"
#include "ember/ber/framing.h"
#include "ember/ber/reader.h"
#include "ember/ber/types.h"
#include "ember/tree/root.h"
#include "host/report_reader.h"
#include "protocol/protocol.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <string>

namespace {

std::string DissectorSource()
{
    std::ifstream in(std::string(KORVANE_SOURCE_DIR) + "/wireshark/korvane.lua");
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The value of "local NAME = <integer expression>" (products of integers),
// or of NAME in "local A, B = 16, 17"; -1 when there is none.
int64_t Constant(const std::string& source, const std::string& name)
{
    std::smatch match;
    const std::regex line("\\nlocal " + name + " = ([0-9x* A-F]+)");
    if (!std::regex_search(source, match, line)) {
        const std::regex multiple("\\nlocal ([A-Z_]+(?:, [A-Z_]+)+) = ([0-9x]+(?:, [0-9x]+)+)");
        for (auto it = std::sregex_iterator(source.begin(), source.end(), multiple);
             it != std::sregex_iterator(); ++it) {
            const std::string names = (*it)[1].str() + ",";
            const std::string values = (*it)[2].str() + ",";
            size_t nameAt = 0;
            size_t valueAt = 0;
            while (nameAt < names.size() && valueAt < values.size()) {
                const size_t nameEnd = names.find(',', nameAt);
                const size_t valueEnd = values.find(',', valueAt);
                if (names.substr(nameAt, nameEnd - nameAt) == name)
                    return std::stoll(values.substr(valueAt, valueEnd - valueAt), nullptr, 0);
                nameAt = nameEnd + 2;
                valueAt = valueEnd + 2;
            }
        }
        return -1;
    }
    int64_t value = 1;
    const std::string expression = match[1];
    const std::regex factor("0x[0-9A-F]+|[0-9]+");
    for (auto it = std::sregex_iterator(expression.begin(), expression.end(), factor);
         it != std::sregex_iterator(); ++it)
        value *= std::stoll(it->str(), nullptr, 0);
    return value;
}

// The rows "[n] = "text"" of the table "local NAME = { ... }".
std::map<int64_t, std::string> Table(const std::string& source, const std::string& name)
{
    std::map<int64_t, std::string> rows;
    const size_t begin = source.find("\nlocal " + name + " = {");
    if (begin == std::string::npos)
        return rows;
    const size_t end = source.find("\n}", begin);
    const std::string body = source.substr(begin, end - begin);
    const std::regex row("\\[([0-9]+)\\] = \"([^\"]*)\"");
    for (auto it = std::sregex_iterator(body.begin(), body.end(), row);
         it != std::sregex_iterator(); ++it)
        rows[std::stoll((*it)[1])] = (*it)[2];
    return rows;
}

TEST(DissectorFacts, MatchTheCodec)
{
    const std::string source = DissectorSource();
    ASSERT_FALSE(source.empty());

    std::string start = "{ ";
    for (size_t i = 0; i < sizeof kEmberStartSequence; ++i) {
        char octet[8];
        std::snprintf(octet, sizeof octet, "0x%02X", kEmberStartSequence[i]);
        start += std::string(octet) + (i + 1 < sizeof kEmberStartSequence ? ", " : " }");
    }
    EXPECT_NE(source.find("\nlocal START = " + start), std::string::npos) << start;

    const std::map<std::string, int64_t> constants = {
        {"MAX_IDENTIFIER_OCTETS", CEmber_Reader::kMaxIdentifierOctets},
        {"MAX_LENGTH_OCTETS", CEmber_Reader::kMaxLengthOctets},
        {"MAX_DEPTH", CEmber_Reader::kMaxDepth},
        {"MAX_CONTENT", CEmber_Reader::kMaxContentLength},
        {"MAX_MESSAGE_OCTETS", CEmber_Reader::kMaxMessageOctets},
        {"MAX_MESSAGE_NODES", kEmberMaxMessageNodes},
        {"MAX_BER_TYPE", kMaxBerType},
        {"INDEFINITE", IndefiniteLength},
        {"ROOT_NUMBER", kRootTag.Number()},
        {"ASIDE_NUMBER", kAsideTag.Number()},
        {"LINE_SIZE", CReportReader::kLineSize},
        {"TYPE_SEQUENCE", eeBerType_Sequence},
        {"TYPE_SET", eeBerType_Set},
        {"TAG_VALUE", TAG_VALUE},
        {"TAG_NO_INTEGER_REPORT", kUnreportedParentTag},
    };
    for (const auto& [name, value] : constants)
        EXPECT_EQ(Constant(source, name), value) << name;

    std::map<int64_t, std::string> names;
    for (uint32_t type = 0; type <= kMaxBerType; ++type)
        if (TypeName(type))
            names[type] = TypeName(type);
    EXPECT_EQ(Table(source, "TYPE_NAMES"), names);

    std::map<int64_t, std::string> errors;
    for (int i = 0; i < EmberErrorCount(); ++i)
        errors[EmberErrorCodeAt(i)] = EmberErrorMessage(EmberErrorCodeAt(i));
    EXPECT_EQ(Table(source, "ERRORS"), errors);
}

} // namespace
