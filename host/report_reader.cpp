#include "host/report_reader.h"

#include "ember/ber/leaf_check.h"
#include "ember/ber/tag.h"
#include "ember/ber/types.h"
#include "ember/tree/container.h"
#include "ember/tree/root.h"
#include "host/host_trace.h"
#include "host/report_line.h"
#include "protocol/protocol.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

constexpr CEmber_Tag kValueTag = CEmber_Tag::FromClass(kLeafClass, TAG_VALUE);
constexpr CEmber_Tag kUnreportedParent = CEmber_Tag::FromClass(kLeafClass, kUnreportedParentTag);

} // namespace

CReportReader::CReportReader() : CEmber_StreamReader(1) {}

CReportReader::~CReportReader() = default;

void CReportReader::Bind(HWND window)
{
    m_reportWindow = window;
    m_traceSwitch = 0;
    m_handler = nullptr;
    m_handlerContext = nullptr;
}

void CReportReader::Trace(const char* format, ...)
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

void CReportReader::OnNodeComplete(CEmber_Node* node)
{
    // Only a whole message is examined, once, when its root closes. A node
    // a root took aside has no parent either, but is not the message.
    if (node->GetParent() || node != GetRoot())
        return;
    OnMessageComplete();
    m_setLevels = 0;
    for (int i = 1; i <= 5; ++i)
        m_slots[i] = 0;
    m_prefixValid = false;
    Walk(node);
}

void CReportReader::Walk(CEmber_Node* container)
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

void CReportReader::PathStep(CEmber_Node* child)
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

void CReportReader::ValueSearch(CEmber_Node* node)
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

void CReportReader::IntegerValue(CEmber_Node* container)
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

void CReportReader::TextValue(CEmber_Node* container)
{
    if (Tracing())
        Trace("Now we have detected  eeBerType_UTF8String \n");
    char* text = nullptr;
    if (!container->GetStringChild(kLeafClass, TAG_VALUE, text))
        return;
    m_treeConsoleText = text;
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
    m_consoleText = m_treeConsoleText.c_str();
    SendReport(m_line);
    m_consoleText = nullptr;
}

void CReportReader::SendReport(const char* line)
{
    // Cleared on every way out, a throwing report handler included: a stale
    // mark would make a later foreign MSG_PARAM_REPORT pass for our own.
    struct SendingMark
    {
        bool& sending;
        explicit SendingMark(bool& flag) : sending(flag) { sending = true; }
        ~SendingMark() { sending = false; }
    } mark(m_sending);
    if (m_handler) {
        m_handler(m_handlerContext, line);
        return;
    }
    SendMessageA(m_reportWindow, MSG_PARAM_REPORT, REPORT_WPARAM, reinterpret_cast<LPARAM>(line));
}

// The report sink: the walk's decisions made as the elements pass. The walk
// visits the children of the root and of every application and context
// container it meets in list order, which is the order their elements
// start in; a report's slots are those of the Set levels met before it, and
// the value a typed child getter finds is the container's first child at
// TAG_VALUE, which precedes (or is) the leaf that asks for it.

void CReportReader::Reset()
{
    CEmber_StreamReader::Reset();
    m_checks.Reset();
    m_open.clear();
    m_held.clear();
    m_lines.clear();
    m_texts.clear();
    m_consoleText = nullptr;
}

bool CReportReader::KeepsContent(uint32_t type) const
{
    if (!m_direct)
        return true;
    if (LeafReadsContent(type))
        return true;
    return type == eeBerType_UTF8String && !m_open.empty() && m_open.back().mode == Mode_Search &&
           GetOuterTag() == kValueTag;
}

void CReportReader::OnContainerOpened()
{
    if (GetDepth() == 0) {
        m_direct = !Tracing();
        if (m_direct) {
            DropTree();
            m_checks.Reset();
            m_open.clear();
            m_held.clear();
            m_lines.clear();
            m_texts.clear();
            m_walkSetLevels = 0;
            for (int i = 1; i <= 5; ++i)
                m_walkSlots[i] = 0;
            m_walkSlots[6] = m_slots[6];
        }
    }
    if (!m_direct) {
        CEmber_StreamReader::OnContainerOpened();
        return;
    }
    m_checks.Opened(*this);
    OpenDirect();
}

void CReportReader::OpenDirect()
{
    const CEmber_Tag tag = GetOuterTag();
    const bool root = GetItemType() == eeBerType_Sequence && tag == kRootTag;
    Mode mode = Mode_Skip;
    if (m_open.empty()) {
        mode = Mode_Walk;
    } else {
        Open& parent = m_open.back();
        if (parent.root && tag == kAsideTag) {
            mode = Mode_Skip;
        } else if (parent.mode == Mode_Walk) {
            switch (tag.ClassBits()) {
            case eeBerClass_Application:
            case eeBerClass_ContextSpecific:
                mode = Mode_Walk;
                // Every container but a Sequence is a Set node.
                if (GetItemType() != eeBerType_Sequence) {
                    ++m_walkSetLevels;
                    if (m_walkSetLevels >= 1 && m_walkSetLevels <= 6)
                        m_walkSlots[m_walkSetLevels] = tag.Number();
                }
                break;
            case eeBerClass_Private:
                mode = Mode_Search;
                break;
            default:
                break;
            }
        } else if (parent.mode == Mode_Search) {
            if (tag.ClassBits() == eeBerClass_Private)
                mode = Mode_Search;
            else if (tag == kValueTag && parent.first == First_None)
                parent.first = First_Other;
        }
    }
    m_open.push_back(Open{tag, mode, root, First_None, 0, 0});
}

void CReportReader::OnItemComplete()
{
    if (!m_direct) {
        CEmber_StreamReader::OnItemComplete();
        return;
    }
    if (IsConstructed()) {
        m_checks.Closed();
        m_open.pop_back();
        if (m_open.empty())
            CompleteDirect();
        return;
    }
    if (!m_checks.ValueComplete(*this))
        return;
    Open& container = m_open.back();
    if (container.mode == Mode_Search && GetOuterTag() == kValueTag)
        ValueDirect(container);
}

void CReportReader::ValueDirect(Open& container)
{
    const uint32_t type = GetItemType();
    if (container.first == First_None) {
        if (type == eeBerType_Integer && GetContentLength() <= 4) {
            container.first = First_Integer;
            container.value = GetInteger();
        } else if (type == eeBerType_UTF8String) {
            container.first = First_Text;
            container.text = uint32_t(m_texts.size());
            const char* content = reinterpret_cast<const char*>(GetContent());
            const size_t length =
                content ? strnlen(content, std::min<size_t>(GetContentLength(), kLineSize)) : 0;
            m_texts.emplace_back(content ? content : "", length);
        } else {
            container.first = First_Other;
        }
    }
    if (type == eeBerType_Integer) {
        if (container.first != First_Integer || m_open.size() < 2)
            return;
        if (m_open[m_open.size() - 2].tag == kUnreportedParent)
            return;
        m_walkSlots[6] = container.tag.Number();
        char line[kLineSize];
        CReportLine text(line, kLineSize);
        for (int slot = 2; slot <= 6; ++slot)
            text.Integer(int32_t(m_walkSlots[slot])).Char(',');
        const int length = text.Integer(container.value).Finish();
        if (length >= 0)
            Hold(line, size_t(length), -1);
        return;
    }
    if (type != eeBerType_UTF8String || container.first != First_Text)
        return;
    // As TextValue: the three-level rule, slot 6 left as the report has it.
    const uint32_t number = container.tag.Number();
    uint32_t numbers[5] = {m_walkSlots[2], m_walkSlots[3], m_walkSlots[4], m_walkSlots[5], number};
    if (m_walkSlots[2] != 0 && m_walkSlots[3] != 0 && m_walkSlots[4] == 0) {
        numbers[2] = number;
        numbers[3] = 0;
        numbers[4] = 0;
    }
    m_walkSlots[6] = numbers[4];
    char line[kLineSize];
    CReportLine text(line, kLineSize);
    for (uint32_t value : numbers)
        text.Integer(int32_t(value)).Char(',');
    const std::string& console = m_texts[container.text];
    for (char c : console)
        text.Char(c == ' ' ? '~' : c);
    const int length = text.Text(" \n").Finish();
    if (length >= 0)
        Hold(line, size_t(length), int32_t(container.text));
}

void CReportReader::Hold(const char* line, size_t length, int32_t text)
{
    Held held{uint32_t(m_lines.size()), uint32_t(length), text, m_walkSetLevels, {}};
    std::memcpy(held.slots, m_walkSlots, sizeof held.slots);
    m_lines.append(line, length);
    m_held.push_back(held);
}

void CReportReader::CompleteDirect()
{
    OnMessageComplete();
    m_setLevels = 0;
    for (int i = 1; i <= 5; ++i)
        m_slots[i] = 0;
    m_prefixValid = false;
    SendHeld();
    m_setLevels = m_walkSetLevels;
    std::memcpy(m_slots, m_walkSlots, sizeof m_slots);
    m_held.clear();
    m_lines.clear();
    m_texts.clear();
}

void CReportReader::SendHeld()
{
    // Each with the walk's state at its sending; a handler that throws ends
    // the sending there, as it ends the walk.
    for (const Held& held : m_held) {
        m_setLevels = held.setLevels;
        std::memcpy(m_slots, held.slots, sizeof m_slots);
        std::memcpy(m_line, m_lines.data() + held.lineBegin, held.lineLength);
        m_line[held.lineLength] = '\0';
        m_consoleText = held.text >= 0 ? m_texts[size_t(held.text)].c_str() : nullptr;
        SendReport(m_line);
        m_consoleText = nullptr;
    }
}
