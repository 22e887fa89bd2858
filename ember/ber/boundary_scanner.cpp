#include "ember/ber/boundary_scanner.h"

#include "ember/ber/framing.h"
#include "ember/ber/identifier.h"
#include "ember/ber/leaf_check.h"
#include "ember/ber/length.h"
#include "ember/ber/reader.h"
#include "ember/ber/types.h"

#include <algorithm>

namespace {

constexpr uint32_t kMaxIdentifierOctets = 7;
constexpr uint32_t kMaxLengthOctets = 5;
constexpr uint32_t kTerminatorOctets = 4;
// Children of a keyed container looked up by a walk; from here on a set.
constexpr size_t kListedKeys = 16;
// Capacity the collection keeps between contents.
constexpr size_t kCollectedKeep = 1u << 16;

uint64_t KeyOf(const CEmber_Tag& tag)
{
    return (uint64_t(tag.ClassBits()) << 32) | tag.Number();
}

} // namespace

CEmber_BoundaryScanner::CEmber_BoundaryScanner()
{
    m_stack.reserve(16);
}

CEmber_BoundaryScanner::~CEmber_BoundaryScanner() = default;

void CEmber_BoundaryScanner::RaiseError(int32_t code, const char* message)
{
    std::string text = "@";
    for (const Open& open : m_stack)
        text += open.tag.ToText() + "/";
    text += m_outerTag.ToText();
    text += ": ";
    text += message;
    throw CEmber_Exception(code, std::move(text));
}

size_t CEmber_BoundaryScanner::GetMessageOctets() const
{
    // The start sequence, then the octets counted inside the root.
    return IsWaiting() ? 0 : sizeof kEmberStartSequence + m_messageOctets;
}

void CEmber_BoundaryScanner::Reset()
{
    m_matchPosition = 0;
    m_stack.clear();
    ResetItem();
    StartField(State_Identifier);
    m_collect = false;
    m_collected.clear();
    if (m_collected.capacity() > kCollectedKeep)
        std::vector<uint8_t>().swap(m_collected);
    m_messageOctets = 0;
    m_nodeCount = 0;
    m_keys.clear();
    m_wideKeys.clear();
    m_wideOwner.clear();
}

void CEmber_BoundaryScanner::StartField(State state)
{
    m_state = state;
    m_fieldCount = 0;
    m_expected = 0;
}

size_t CEmber_BoundaryScanner::Scan(const uint8_t* octets, size_t size)
{
    size_t at = 0;
    while (at < size) {
        if (m_matchPosition < 0) {
            at += Run(octets + at, size - at);
            if (m_matchPosition >= 0)
                return at;
            continue;
        }
        const uint8_t octet = octets[at++];
        if (octet != kEmberStartSequence[m_matchPosition]) {
            m_matchPosition = 0;
            continue;
        }
        if (++m_matchPosition == int32_t(sizeof kEmberStartSequence)) {
            m_matchPosition = -1;
            Run(kEmberStartSequence, sizeof kEmberStartSequence);
        }
    }
    return at;
}

size_t CEmber_BoundaryScanner::Run(const uint8_t* octets, size_t size)
{
    size_t at = 0;
    try {
        while (at < size) {
            if (m_state == State_Content && m_contentLeft > 1) {
                // All but the last content octet in one step, as far as the
                // block and the message size bound allow; the last one goes
                // through the machine and completes the value.
                const size_t room = CEmber_Reader::kMaxMessageOctets - m_messageOctets;
                const size_t skip = std::min({size_t(m_contentLeft - 1), size - at, room});
                if (skip > 0) {
                    if (m_collect)
                        m_collected.insert(m_collected.end(), octets + at, octets + at + skip);
                    m_stack.back().consumed += uint32_t(skip);
                    m_messageOctets += uint32_t(skip);
                    m_contentLeft -= uint32_t(skip);
                    at += skip;
                    continue;
                }
            }
            Step(octets[at++]);
            if (m_matchPosition >= 0)
                break;
        }
    } catch (CEmber_Exception error) {
        OnError(error);
        Reset();
    }
    return at;
}

void CEmber_BoundaryScanner::Step(uint8_t octet)
{
    if (!m_stack.empty()) {
        ++m_stack.back().consumed;
        if (++m_messageOctets > CEmber_Reader::kMaxMessageOctets)
            Raise(eeError_MessageTooLarge);
    }

    bool done = false;
    switch (m_state) {
    case State_Identifier:
        done = OnIdentifierOctet(octet);
        break;
    case State_Length:
        done = OnLengthOctet(octet);
        break;
    case State_Content:
        done = OnContentOctet(octet);
        break;
    case State_Terminator:
        done = OnTerminatorOctet(octet);
        break;
    }

    if (!done && !m_stack.empty() && m_stack.back().consumed >= m_stack.back().declaredLength)
        Raise(eeError_UnexpectedEndOfContainer);
    CloseFinished();
}

bool CEmber_BoundaryScanner::OnIdentifierOctet(uint8_t octet)
{
    if (octet == 0x00 && m_fieldCount == 0 && m_outerTag.IsEmpty()) {
        StartField(State_Terminator);
        return false;
    }
    if (m_fieldCount >= kMaxIdentifierOctets)
        Raise(eeError_TooManyTagOctets);
    m_field[m_fieldCount] = octet;
    const bool complete = m_fieldCount == 0 ? (octet & 0x1F) != 0x1F : (octet & 0x80) == 0;
    if (!complete) {
        ++m_fieldCount;
        return false;
    }

    const CEmber_Tag tag = IdentifierOf(m_field, m_fieldCount + 1);
    if (m_outerTag.IsEmpty()) {
        m_outerTag = tag;
        if (tag.ClassBits() == eeBerClass_Universal)
            Raise(eeError_UniversalOuterTag);
        if (!tag.IsConstructed())
            Raise(eeError_PrimitiveOuterTag);
        m_outerTag = tag.WithoutConstructed();
    } else {
        m_type = tag.Number();
        m_constructed = tag.IsConstructed();
        if (tag.ClassBits() != eeBerClass_Universal)
            Raise(eeError_NonUniversalInnerTag);
        if (tag.Number() == 0 || tag.Number() > kMaxBerType)
            Raise(eeError_InvalidType);
    }
    StartField(State_Length);
    return false;
}

void CEmber_BoundaryScanner::CheckFitsInTop(uint32_t needed)
{
    if (m_stack.empty())
        return;
    const Open& top = m_stack.back();
    if (top.declaredLength != IndefiniteLength &&
        uint64_t(top.consumed) + needed > top.declaredLength)
        Raise(eeError_UnexpectedEndOfContainer);
}

void CEmber_BoundaryScanner::LinkNode(const CEmber_Tag& tag)
{
    if (m_stack.empty()) {
        m_nodeCount = 1;
        return;
    }
    if (++m_nodeCount > kEmberMaxMessageNodes)
        Raise(eeError_MessageTooLarge);
    const Open& parent = m_stack.back();
    if (!parent.keyed)
        return;
    const uint64_t key = KeyOf(tag);
    const size_t depth = m_stack.size();
    if (!m_wideOwner.empty() && m_wideOwner.back() == depth) {
        if (!m_wideKeys.back().insert(key).second)
            throw CEmber_Exception(eeError_DuplicateTag);
        return;
    }
    const auto begin = m_keys.begin() + parent.keysBegin;
    if (std::find(begin, m_keys.end(), key) != m_keys.end())
        throw CEmber_Exception(eeError_DuplicateTag);
    if (m_keys.size() - parent.keysBegin < kListedKeys) {
        m_keys.push_back(key);
        return;
    }
    // Wide: its keys move into a set of their own.
    m_wideKeys.emplace_back(m_keys.begin() + parent.keysBegin, m_keys.end());
    m_wideKeys.back().insert(key);
    m_wideOwner.push_back(uint32_t(depth));
    m_keys.resize(parent.keysBegin);
}

bool CEmber_BoundaryScanner::OnLengthOctet(uint8_t octet)
{
    if (m_expected == 0) {
        m_expected = (octet & 0x80) ? uint32_t(octet & 0x7F) + 1 : 1;
        if (m_expected > kMaxLengthOctets)
            Raise(eeError_TooManyLengthOctets);
    }
    m_field[m_fieldCount++] = octet;
    if (m_fieldCount != m_expected)
        return false;

    const uint32_t length = LengthOf(m_field, m_fieldCount);

    if (m_type == 0) {
        m_outerLength = length;
        if (length == 0)
            Raise(eeError_ZeroOuterLength);
        StartField(State_Identifier);
        return false;
    }

    m_contentLength = length;
    if (m_constructed) {
        CheckFitsInTop(length == IndefiniteLength ? kTerminatorOctets : length);
        if (m_stack.size() >= CEmber_Reader::kMaxDepth)
            Raise(eeError_NestingTooDeep);
        StartField(State_Identifier);
        // Every container becomes a node; all but Sequences (the root
        // included) are keyed sets.
        LinkNode(m_outerTag);
        m_stack.push_back(Open{m_outerTag, m_type, length, 0, m_type != eeBerType_Sequence,
                               uint32_t(m_keys.size())});
        ResetItem();
        return length == 0;
    }
    if (length == 0)
        return CompleteValue();
    if (length == IndefiniteLength)
        Raise(eeError_IndefinitePrimitive);
    if (length > CEmber_Reader::kMaxContentLength)
        Raise(eeError_ContentTooLong);
    CheckFitsInTop(length);
    StartField(State_Content);
    m_contentLeft = length;
    m_collect = LeafReadsContent(m_type);
    if (m_collect)
        m_collected.reserve(std::min(length, CEmber_Reader::kContentReserve));
    return false;
}

bool CEmber_BoundaryScanner::OnContentOctet(uint8_t octet)
{
    if (m_collect)
        m_collected.push_back(octet);
    if (--m_contentLeft > 0)
        return false;
    return CompleteValue();
}

bool CEmber_BoundaryScanner::CompleteValue()
{
    if (m_collect && m_contentLength > 0)
        m_content = m_collected.data();
    StartField(State_Identifier);
    if (CheckLeaf(*this))
        LinkNode(m_outerTag);
    ResetItem();
    m_collect = false;
    m_collected.clear();
    if (m_collected.capacity() > kCollectedKeep)
        std::vector<uint8_t>().swap(m_collected);
    return true;
}

bool CEmber_BoundaryScanner::OnTerminatorOctet(uint8_t octet)
{
    if (m_stack.empty() || m_stack.back().declaredLength != IndefiniteLength)
        Raise(eeError_UnexpectedTerminator);
    if (octet != 0x00)
        Raise(eeError_TerminatorNonZero);
    ++m_fieldCount;
    if (m_fieldCount < kTerminatorOctets - 1)
        return false;
    m_stack.back().declaredLength = m_stack.back().consumed;
    return true;
}

void CEmber_BoundaryScanner::CloseFinished()
{
    while (!m_stack.empty() && m_stack.back().consumed >= m_stack.back().declaredLength)
        CloseTop();
}

void CEmber_BoundaryScanner::CloseTop()
{
    StartField(State_Identifier);
    const Open closed = m_stack.back();
    const size_t depth = m_stack.size();
    m_stack.pop_back();
    m_keys.resize(std::min(m_keys.size(), size_t(closed.keysBegin)));
    if (!m_wideOwner.empty() && m_wideOwner.back() == depth) {
        m_wideOwner.pop_back();
        m_wideKeys.pop_back();
    }
    m_outerTag = closed.tag;
    m_type = closed.type;
    m_contentLength = closed.declaredLength;
    m_constructed = true;

    if (!m_stack.empty()) {
        const Open& parent = m_stack.back();
        if (parent.declaredLength != IndefiniteLength &&
            uint64_t(parent.consumed) + closed.declaredLength > parent.declaredLength)
            Raise(eeError_UnexpectedEndOfContainer);
        m_stack.back().consumed += closed.declaredLength;
    } else {
        m_messageOctets = 0;
        m_matchPosition = 0;
        OnMessageComplete();
    }
    ResetItem();
}
