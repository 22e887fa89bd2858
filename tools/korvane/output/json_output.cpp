#include "tools/korvane/output/json_output.h"

#include "ember/ber/text_list.h"
#include "ember/ber/types.h"
#include "ember/tree/leaf.h"
#include "ember/tree/string_leaf.h"
#include "protocol/hex_text.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

// Parses the whole text as a signed decimal number.
bool ParseNumber(const std::string& text, int64_t& value)
{
    if (text.empty() || text.size() > 20)
        return false;
    errno = 0;
    char* end = nullptr;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end != text.c_str() + text.size() || text[0] == '+' || text[0] == ' ')
        return false;
    value = parsed;
    return true;
}

const char* ClassName(uint8_t classBits)
{
    switch (classBits) {
    case eeBerClass_Application:
        return "application";
    case eeBerClass_ContextSpecific:
        return "context";
    case eeBerClass_Private:
        return "private";
    default:
        return "universal";
    }
}

KorvaneJson LeafValue(const CEmber_Node& node)
{
    if (const auto* leaf = dynamic_cast<const CEmber_Boolean*>(&node))
        return leaf->GetValue();
    if (const auto* leaf = dynamic_cast<const CEmber_Integer32*>(&node))
        return leaf->GetValue();
    if (const auto* leaf = dynamic_cast<const CEmber_Integer64*>(&node))
        return leaf->GetValue();
    if (const auto* leaf = dynamic_cast<const CEmber_Real*>(&node)) {
        if (!std::isfinite(leaf->GetValue()))
            return nullptr; // JSON has no infinities or NaN; "text" keeps it
        return leaf->GetValue();
    }
    if (const auto* leaf = dynamic_cast<const CEmber_RelativeObject*>(&node))
        return leaf->GetValue();
    if (const auto* leaf = dynamic_cast<const CEmber_GeneralizedTime*>(&node)) {
        if (!leaf->IsAsTime())
            return leaf->GetTime();
        return nullptr; // filled from the rendered text by the caller
    }
    if (const auto* leaf = dynamic_cast<const CEmber_UTF8String*>(&node))
        return leaf->GetText() ? std::string(leaf->GetText(), leaf->GetLength()) : std::string();
    if (const auto* leaf = dynamic_cast<const CEmber_OctetString*>(&node))
        return HexDigits(leaf->GetData(), leaf->GetLength());
    return nullptr;
}

} // namespace

void AddReportMembers(KorvaneJson& object, const std::string& report,
                      const std::string* consoleText)
{
    std::string line = report;
    const bool endsInLineFeed = !line.empty() && line.back() == '\n';
    if (endsInLineFeed)
        line.pop_back();

    KorvaneJson path = KorvaneJson::array();
    size_t at = 0;
    bool layout = true;
    for (int i = 0; i < 5 && layout; ++i) {
        const size_t comma = line.find(',', at);
        int64_t number = 0;
        if (comma == std::string::npos || !ParseNumber(line.substr(at, comma - at), number)) {
            layout = false;
            break;
        }
        path.push_back(number);
        at = comma + 1;
    }

    object["report"] = line;
    if (!layout) {
        object["path"] = KorvaneJson::array();
        object["value"] = nullptr;
        object["type"] = "unknown";
    } else {
        std::string rest = line.substr(at);
        int64_t number = 0;
        object["path"] = path;
        if (!endsInLineFeed && ParseNumber(rest, number) && number >= INT32_MIN &&
            number <= INT32_MAX) {
            object["value"] = number;
            object["type"] = "integer";
        } else {
            // A text report is "%s \n": the blank before the line feed is
            // the layout's, not the text's.
            if (endsInLineFeed && !rest.empty() && rest.back() == ' ')
                rest.pop_back();
            if (consoleText) {
                rest = *consoleText;
            } else {
                for (char& c : rest)
                    if (c == '~')
                        c = ' ';
            }
            object["value"] = rest;
            object["type"] = "text";
        }
    }
    if (!IsValidUtf8(line))
        object["reportOctets"] =
            HexDigits(reinterpret_cast<const uint8_t*>(line.data()), line.size());
}

KorvaneJson ReportJson(const std::string& report, uint64_t offset, const std::string* consoleText)
{
    KorvaneJson object;
    AddReportMembers(object, report, consoleText);
    object["offset"] = offset;
    return object;
}

bool IsValidUtf8(const std::string& text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    while (p != end) {
        const unsigned char c = *p++;
        if (c < 0x80)
            continue;
        int more = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            if (c == 0xE0)
                low = 0xA0; // no overlong forms
            if (c == 0xED)
                high = 0x9F; // no surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            if (c == 0xF0)
                low = 0x90;
            if (c == 0xF4)
                high = 0x8F; // nothing above U+10FFFF
        } else {
            return false;
        }
        for (int i = 0; i < more; ++i, ++p) {
            if (p == end || *p < (i == 0 ? low : 0x80) || *p > (i == 0 ? high : 0xBF))
                return false;
        }
    }
    return true;
}

KorvaneJson ErrorJson(int32_t code, const std::string& message, uint64_t offset)
{
    KorvaneJson object;
    object["error"] = code;
    object["message"] = message;
    object["offset"] = offset;
    return object;
}

KorvaneJson NodeJson(const CEmber_Node& node)
{
    KorvaneJson object;
    const CEmber_Tag& tag = node.GetTag();
    const int32_t type = node.GetType();
    const char* name = type >= 0 ? TypeName(uint32_t(type)) : nullptr;
    object["tag"] = tag.ToText();
    object["class"] = ClassName(tag.ClassBits());
    object["number"] = tag.Number();
    object["type"] = type;
    object["typeName"] = name ? KorvaneJson(name) : KorvaneJson(nullptr);
    if (node.IsContainer()) {
        KorvaneJson children = KorvaneJson::array();
        EmberPosition position = node.GetFirstChildPosition();
        while (position)
            if (const CEmber_Node* child = node.GetNextChild(position))
                children.push_back(NodeJson(*child));
        object["children"] = std::move(children);
        return object;
    }
    std::string text;
    if (const auto* leaf = dynamic_cast<const CEmber_Leaf*>(&node)) {
        CEmber_TextList list;
        leaf->RenderValue(list);
        text = list.Join();
    }
    KorvaneJson value = LeafValue(node);
    const auto* time = dynamic_cast<const CEmber_GeneralizedTime*>(&node);
    if (time && time->IsAsTime())
        value = text;
    object["value"] = std::move(value);
    object["text"] = text;
    if (!IsValidUtf8(text))
        object["octets"] = HexDigits(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    return object;
}

KorvaneJson MessageJson(const CEmber_Node& root, uint64_t index, uint64_t offset)
{
    KorvaneJson object;
    object["message"] = index;
    object["offset"] = offset;
    object["root"] = NodeJson(root);
    return object;
}

std::string JsonLine(const KorvaneJson& document)
{
    return document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}
