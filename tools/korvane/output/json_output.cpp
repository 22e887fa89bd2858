#include "tools/korvane/output/json_output.h"

#include "ember/ber/types.h"
#include "ember/values/leaf.h"
#include "ember/values/string_leaf.h"
#include "ember/values/text_list.h"

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

std::string HexText(const uint8_t* octets, uint32_t count)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(size_t(count) * 2);
    for (uint32_t i = 0; i < count; ++i) {
        text += kDigits[octets[i] >> 4];
        text += kDigits[octets[i] & 15];
    }
    return text;
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
        return HexText(leaf->GetData(), leaf->GetLength());
    return nullptr;
}

} // namespace

KorvaneJson ReportJson(const std::string& report, uint64_t offset)
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

    KorvaneJson object;
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
            object["value"] = rest;
            object["type"] = "text";
        }
    }
    object["offset"] = offset;
    return object;
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
