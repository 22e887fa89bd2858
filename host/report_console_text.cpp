#include "host/report_console_text.h"

#include "ember/ber/types.h"
#include "ember/tree/container.h"
#include "protocol/protocol.h"

#include <utility>

void CReportConsoleTexts::Collect(CEmber_Node& root)
{
    m_texts.clear();
    m_next = 0;
    CollectIn(root);
}

// The walk's path steps descend into every application and context child,
// its value search into every private one.
void CReportConsoleTexts::CollectIn(CEmber_Node& container)
{
    EmberPosition position = container.GetFirstChildPosition();
    while (position) {
        CEmber_Node* child = container.GetNextChild(position);
        const uint8_t classBits = child->GetTag().ClassBits();
        if (classBits == eeBerClass_Application || classBits == eeBerClass_ContextSpecific)
            CollectIn(*child);
        else if (classBits == eeBerClass_Private)
            Search(*child);
    }
}

void CReportConsoleTexts::Search(CEmber_Node& node)
{
    const CEmber_Tag& tag = node.GetTag();
    if (tag.ClassBits() == kParameterClass) {
        EmberPosition position = node.GetFirstChildPosition();
        while (position)
            Search(*node.GetNextChild(position));
        return;
    }
    char* text = nullptr;
    if (tag.ClassBits() == kLeafClass && tag.Number() == TAG_VALUE &&
        node.GetType() == eeBerType_UTF8String && node.GetParent() &&
        node.GetParent()->GetStringChild(kLeafClass, TAG_VALUE, text))
        m_texts.emplace_back(text);
}

bool CReportConsoleTexts::Find(const char* line, std::string& text)
{
    const std::string report = line;
    if (report.size() < 2 || report.compare(report.size() - 2, 2, " \n") != 0)
        return false;
    size_t from = 0;
    for (int i = 0; i < 5; ++i) {
        const size_t comma = report.find(',', from);
        if (comma == std::string::npos || comma + 1 > report.size() - 2)
            return false;
        from = comma + 1;
    }
    const std::string reported = report.substr(from, report.size() - 2 - from);
    while (m_next < m_texts.size()) {
        std::string candidate = m_texts[m_next++];
        std::string tilded = candidate;
        for (char& c : tilded)
            if (c == ' ')
                c = '~';
        if (tilded == reported) {
            text = std::move(candidate);
            return true;
        }
    }
    return false;
}
