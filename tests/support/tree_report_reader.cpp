#include "tests/support/tree_report_reader.h"

#include "ember/ber/tag.h"
#include "ember/ber/types.h"
#include "ember/tree/container.h"
#include "host/host_trace.h"
#include "host/report_line.h"
#include "protocol/protocol.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

CTreeReportReader::CTreeReportReader() : CEmber_StreamReader(1) {}

CTreeReportReader::~CTreeReportReader() = default;

void CTreeReportReader::Trace(const char* format, ...)
{
    if (m_traceSwitch != 1)
        return;
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    HostWriteTrace(text);
}

void CTreeReportReader::OnNodeComplete(CEmber_Node* node)
{
    // Only a whole message is examined, once, when its root closes. A node
    // a root took aside has no parent either, but is not the message.
    if (node->GetParent() || node != GetRoot())
        return;
    m_setLevels = 0;
    for (int i = 1; i <= 5; ++i)
        m_slots[i] = 0;
    m_prefixValid = false;
    Walk(node);
}

void CTreeReportReader::Walk(CEmber_Node* container)
{
    EmberPosition position = container->GetFirstChildPosition();
    while (position) {
        CEmber_Node* child = container->GetNextChild(position);
        switch (child->GetTag().ClassBits()) {
        case eeBerClass_Application:
            if (Tracing())
                Trace("eeBerClass_Application:\n");
            PathStep(child);
            break;
        case eeBerClass_ContextSpecific:
            if (Tracing())
                Trace("eeBerClass_ContextSpecific:\n");
            PathStep(child);
            break;
        case eeBerClass_Private:
            if (Tracing())
                Trace("eeBerClass_Private:\n");
            ValueSearch(child);
            break;
        default:
            break;
        }
    }
}

void CTreeReportReader::PathStep(CEmber_Node* child)
{
    if (child->GetType() == eeBerType_Set) {
        ++m_setLevels;
        if (m_setLevels >= 1 && m_setLevels <= 6) {
            m_slots[m_setLevels] = child->GetTag().Number();
            if (m_setLevels >= 2 && m_setLevels <= 5)
                m_prefixValid = false;
        }
    }
    Walk(child);
}

void CTreeReportReader::ValueSearch(CEmber_Node* node)
{
    const CEmber_Tag& tag = node->GetTag();
    if (tag.ClassBits() == eeBerClass_Private) {
        EmberPosition position = node->GetFirstChildPosition();
        while (position)
            ValueSearch(node->GetNextChild(position));
        return;
    }
    if (tag.ClassBits() != kLeafClass || tag.Number() != TAG_VALUE)
        return;
    if (Tracing())
        Trace("Gettype= %d \n", node->GetType());
    CEmber_Node* container = node->GetParent();
    if (!container)
        return;
    if (node->GetType() == eeBerType_Integer)
        IntegerValue(container);
    else if (node->GetType() == eeBerType_UTF8String)
        TextValue(container);
}

void CTreeReportReader::IntegerValue(CEmber_Node* container)
{
    int32_t value = 0;
    if (!container->GetIntegerChild(kLeafClass, TAG_VALUE, value))
        return;
    if (Tracing())
        Trace("##VALUE #### = %d  \n", value);
    const CEmber_Node* parent = container->GetParent();
    if (!parent)
        return;
    if (parent->GetTag().ClassBits() == kLeafClass &&
        parent->GetTag().Number() == kUnreportedParentTag)
        return;
    m_slots[6] = container->GetTag().Number();
    // "%d,%d,%d,%d,%d,%d": the text of slots 2 to 5 (at most 48 octets, it
    // always fits) is formatted once while they stay unchanged.
    if (!m_prefixValid) {
        CReportLine prefix(m_prefix, kLineSize);
        for (int slot = 2; slot <= 5; ++slot)
            prefix.Integer(int32_t(m_slots[slot])).Char(',');
        m_prefixLength = uint32_t(prefix.Length());
        m_prefixValid = true;
    }
    std::memcpy(m_line, m_prefix, m_prefixLength);
    CReportLine line(m_line, kLineSize, m_prefixLength);
    line.Integer(int32_t(m_slots[6])).Char(',');
    if (line.Integer(value).Finish() < 0)
        return;
    SendReport(m_line);
}

void CTreeReportReader::TextValue(CEmber_Node* container)
{
    if (Tracing())
        Trace("Now we have detected  eeBerType_UTF8String \n");
    char* text = nullptr;
    if (!container->GetStringChild(kLeafClass, TAG_VALUE, text))
        return;
    for (char* c = text; *c; ++c)
        if (*c == ' ')
            *c = '~';
    if (Tracing())
        Trace("##VALUE 2#### =%s from %d \n", text, int32_t(container->GetTag().Number()));
    // Slots 2 to 5, then the parameter container's number, as the partner's
    // own text command has them. A three-level parameter (Sets up to slot 3
    // only) puts its container fourth, then 0 and 0. These numbers belong to
    // this report alone: slots 4 and 5 keep the Sets met, so a second
    // three-level parameter of the tree is reported under its own container.
    const uint32_t number = container->GetTag().Number();
    uint32_t numbers[5] = {m_slots[2], m_slots[3], m_slots[4], m_slots[5], number};
    if (m_slots[2] != 0 && m_slots[3] != 0 && m_slots[4] == 0) {
        numbers[2] = number;
        numbers[3] = 0;
        numbers[4] = 0;
    }
    m_slots[6] = numbers[4];
    // "%d,%d,%d,%d,%d,%s \n"
    CReportLine line(m_line, kLineSize);
    for (uint32_t value : numbers)
        line.Integer(int32_t(value)).Char(',');
    if (line.Text(text).Text(" \n").Finish() < 0)
        return;
    if (Tracing())
        Trace("%s", m_line);
    SendReport(m_line);
}
