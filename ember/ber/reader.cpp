#include "ember/ber/reader.h"

#include "ember/ber/exception.h"
#include "ember/ber/framing.h"
#include "ember/ber/identifier.h"
#include "ember/ber/length.h"
#include "ember/ber/text_list.h"
#include "ember/ber/types.h"

#include <algorithm>

namespace {

// Capacity kept by the collection buffer between elements.
constexpr size_t kBufferKeep = 1u << 20;

// The framing rules, each a predicate giving the error code of a breach or
// 0. The octet handlers raise the code; the block path leaves an element
// that breaks any rule to the octet handlers, so both apply the same rules.

// An identifier that has taken `count` octets and needs another.
inline int32_t IdentifierOctetsError(uint32_t count)
{
    return count >= CEmber_Reader::kMaxIdentifierOctets ? eeError_TooManyTagOctets : 0;
}

// A length field of `count` octets.
inline int32_t LengthOctetsError(uint32_t count)
{
    return count > CEmber_Reader::kMaxLengthOctets ? eeError_TooManyLengthOctets : 0;
}

// The outer identifier: application, context or private, constructed.
inline int32_t OuterTagError(const CEmber_Tag& tag)
{
    if (tag.ClassBits() == eeBerClass_Universal)
        return eeError_UniversalOuterTag;
    if (!tag.IsConstructed())
        return eeError_PrimitiveOuterTag;
    return 0;
}

inline int32_t OuterLengthError(uint32_t length)
{
    return length == 0 ? eeError_ZeroOuterLength : 0;
}

// The inner identifier: universal, a known type.
inline int32_t InnerTagError(const CEmber_Tag& tag)
{
    if (tag.ClassBits() != eeBerClass_Universal)
        return eeError_NonUniversalInnerTag;
    if (tag.Number() == 0 || tag.Number() > kMaxBerType)
        return eeError_InvalidType;
    return 0;
}

// A container opened with `depth` containers already open.
inline int32_t DepthError(size_t depth)
{
    return depth >= CEmber_Reader::kMaxDepth ? eeError_NestingTooDeep : 0;
}

// The content length of a primitive element.
inline int32_t PrimitiveLengthError(uint32_t length)
{
    if (length == IndefiniteLength)
        return eeError_IndefinitePrimitive;
    if (length > CEmber_Reader::kMaxContentLength)
        return eeError_ContentTooLong;
    return 0;
}

// The open container `top` (or none) would have consumed `used` octets once
// the element at hand is complete.
inline int32_t FitError(const CEmber_OpenContainer* top, uint64_t used)
{
    if (!top || top->declaredLength == IndefiniteLength)
        return 0;
    return used > top->declaredLength ? eeError_UnexpectedEndOfContainer : 0;
}

// Octets inside one outermost container.
inline int32_t MessageSizeError(uint64_t octets)
{
    return octets > CEmber_Reader::kMaxMessageOctets ? eeError_MessageTooLarge : 0;
}

// A terminator octet (`octet` nonzero when any of them is) under `top`.
inline int32_t TerminatorError(const CEmber_OpenContainer* top, uint8_t octet)
{
    if (!top || top->declaredLength != IndefiniteLength)
        return eeError_UnexpectedTerminator;
    return octet != 0x00 ? eeError_TerminatorNonZero : 0;
}

// Reads a whole length field at `at` into length and advances `at`; false
// (nothing changed) when the field does not end before `end` or has more
// octets than a length may.
inline bool ReadLengthField(const uint8_t*& at, const uint8_t* end, uint32_t& length)
{
    if (at >= end)
        return false;
    const uint8_t first = *at;
    if (first < 0x80) {
        length = first;
        ++at;
        return true;
    }
    const uint32_t count = uint32_t(first & 0x7F) + 1;
    if (LengthOctetsError(count) != 0 || uint32_t(end - at) < count)
        return false;
    length = LengthOf(at, count);
    at += count;
    return true;
}

} // namespace

CEmber_Reader::CEmber_Reader()
{
    m_buffer.reserve(64);
    m_stack.reserve(16);
}

CEmber_Reader::~CEmber_Reader() = default;

std::string CEmber_Reader::LocatedText(const char* message) const
{
    CEmber_TextList path;
    for (const CEmber_OpenContainer& open : m_stack)
        path.AppendFormat("%s/", open.tag.ToText().c_str());
    CEmber_TextList text;
    text.AppendFormat("@%s%s: %s", path.Join().c_str(), m_outerTag.ToText().c_str(), message);
    return text.Join();
}

void CEmber_Reader::RaiseError(int32_t code, const char* message)
{
    throw CEmber_Exception(code, LocatedText(message));
}

void CEmber_Reader::Reset()
{
    m_stack.clear();
    ResetItem();
    m_buffer.clear();
    if (m_buffer.capacity() > kBufferKeep)
        std::vector<uint8_t>().swap(m_buffer);
    StartField(State_Identifier);
    m_messageOctets = 0;
    m_contentLeft = 0;
    m_matchPosition = 0;
}

void CEmber_Reader::StartField(State state)
{
    m_buffer.clear();
    m_state = state;
    m_fieldCount = 0;
    m_expected = 0;
}

void CEmber_Reader::FeedBlock(const uint8_t* octets, uint32_t length)
{
    if (length > 0)
        FeedOctets(octets, length);
}

void CEmber_Reader::FeedOctets(const uint8_t* octets, uint32_t length)
{
    while (length > 0) {
        const uint32_t taken = FeedRun(octets, length);
        octets += taken;
        length -= taken;
    }
}

uint32_t CEmber_Reader::FeedRun(const uint8_t* octets, uint32_t length)
{
    const uint8_t* at = octets;
    const uint8_t* const end = octets + length;
    m_stopRun = false;
    try {
        while (at < end && !m_stopRun) {
            if (m_state == State_Content && m_contentLeft > 1) {
                // All but the last content octet in one step, as far as the
                // block and the message bound allow: none of them can break
                // a rule (the element was checked to fit its container), the
                // last one goes through the machine and completes the value.
                uint32_t skip = std::min(m_contentLeft - 1, uint32_t(end - at));
                if (!m_stack.empty())
                    skip = std::min(skip, kMaxMessageOctets - m_messageOctets);
                if (skip > 0) {
                    if (m_keepContent)
                        m_buffer.insert(m_buffer.end(), at, at + skip);
                    if (!m_stack.empty()) {
                        m_stack.back().consumed += skip;
                        m_messageOctets += skip;
                    }
                    m_contentLeft -= skip;
                    at += skip;
                    continue;
                }
            }
            if (m_state == State_Identifier && m_fieldCount == 0 && m_outerTag.IsEmpty() &&
                FeedElement(at, end))
                continue;
            // Counted before the machine runs, so that a throw includes it.
            ++at;
            CEmber_Reader::Feed(at[-1]);
        }
    } catch (...) {
        m_runConsumed = uint32_t(at - octets);
        throw;
    }
    return uint32_t(at - octets);
}

bool CEmber_Reader::FeedElement(const uint8_t*& at, const uint8_t* end)
{
    const uint8_t* q = at;
    const size_t available = size_t(end - q);
    CEmber_OpenContainer* top = m_stack.empty() ? nullptr : &m_stack.back();

    if (*q == 0x00) {
        // A whole terminator of an indefinite top container.
        if (available < kTerminatorOctets || TerminatorError(top, q[1] | q[2] | q[3]) != 0 ||
            MessageSizeError(uint64_t(m_messageOctets) + kTerminatorOctets) != 0)
            return false;
        top->consumed += kTerminatorOctets;
        m_messageOctets += kTerminatorOctets;
        top->declaredLength = top->consumed;
        at = q + kTerminatorOctets;
        CloseFinished();
        return true;
    }

    // Outer identifier: application, context or private, constructed.
    size_t count = 1;
    if ((q[0] & 0x1F) == 0x1F) {
        for (;;) {
            if (count >= available || IdentifierOctetsError(uint32_t(count)) != 0)
                return false;
            if (!(q[count++] & 0x80))
                break;
        }
    }
    const CEmber_Tag outer = IdentifierOf(q, count);
    if (OuterTagError(outer) != 0)
        return false;
    q += count;
    uint32_t outerLength = 0;
    if (!ReadLengthField(q, end, outerLength) || OuterLengthError(outerLength) != 0)
        return false;

    // Inner identifier: one octet, universal, a known type.
    if (q >= end)
        return false;
    const uint8_t inner = *q;
    const uint32_t type = inner & 0x1Fu;
    if (InnerTagError(IdentifierOf(q, 1)) != 0)
        return false;
    const bool constructed = (inner & kBerConstructed) != 0;
    ++q;
    uint32_t length = 0;
    if (!ReadLengthField(q, end, length))
        return false;

    const uint32_t header = uint32_t(q - at);
    uint32_t needed = length;
    if (constructed) {
        if (length == IndefiniteLength)
            needed = kTerminatorOctets;
        if (DepthError(m_stack.size()) != 0)
            return false;
    } else if (PrimitiveLengthError(length) != 0 || length > available - header) {
        return false;
    }
    const uint32_t taken = header + (constructed ? 0 : length);
    if (top) {
        if (FitError(top, uint64_t(top->consumed) + header + needed) != 0)
            return false;
        if (MessageSizeError(uint64_t(m_messageOctets) + taken) != 0)
            return false;
        top->consumed += taken;
        m_messageOctets += taken;
    }

    m_outerTag = outer.WithoutConstructed();
    m_outerLength = outerLength;
    m_type = type;
    m_constructed = constructed;
    m_contentLength = length;
    if (constructed) {
        at = q;
        OnContainerOpened();
        m_stack.push_back(CEmber_OpenContainer{m_outerTag, m_type, length, 0});
        ResetItem();
        if (length == 0)
            CloseFinished();
        return true;
    }
    at = q + length;
    if (length > 0)
        m_content = q;
    OnItemComplete();
    ResetItem();
    CloseFinished();
    return true;
}

uint32_t CEmber_Reader::FeedSynchronised(const uint8_t* octets, uint32_t length,
                                         bool stopAtMessageEnd)
{
    m_synchronised = true;
    uint32_t at = 0;
    while (at < length) {
        if (m_matchPosition < 0) {
            at += RunMessage(octets + at, length - at);
            if (stopAtMessageEnd && m_matchPosition >= 0)
                break;
            continue;
        }
        const uint8_t octet = octets[at++];
        if (octet != kEmberStartSequence[m_matchPosition]) {
            m_matchPosition = 0;
            continue;
        }
        if (++m_matchPosition == int32_t(sizeof kEmberStartSequence)) {
            m_matchPosition = -1;
            RunMessage(kEmberStartSequence, sizeof kEmberStartSequence);
        }
    }
    return at;
}

uint32_t CEmber_Reader::RunMessage(const uint8_t* octets, uint32_t length)
{
    try {
        return FeedRun(octets, length);
    } catch (CEmber_Exception error) {
        const uint32_t taken = GetRunConsumed();
        OnError(error);
        Reset();
        return taken;
    }
}

void CEmber_Reader::CloseFinished()
{
    while (!m_stack.empty() && m_stack.back().consumed >= m_stack.back().declaredLength)
        CloseTop();
}

void CEmber_Reader::Feed(uint8_t octet)
{
    if (!m_stack.empty()) {
        ++m_stack.back().consumed;
        if (const int32_t error = MessageSizeError(++m_messageOctets))
            Raise(error);
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

    // One octet can close several containers, but only an octet that
    // completes its element may close any.
    if (!done && !m_stack.empty() && m_stack.back().consumed >= m_stack.back().declaredLength)
        Raise(eeError_UnexpectedEndOfContainer);
    CloseFinished();
}

bool CEmber_Reader::OnIdentifierOctet(uint8_t octet)
{
    // Only where an outer identifier is expected does 0x00 begin a
    // terminator; as an inner identifier it is universal type 0 (109).
    if (octet == 0x00 && m_fieldCount == 0 && m_outerTag.IsEmpty()) {
        StartField(State_Terminator);
        return false;
    }
    if (const int32_t error = IdentifierOctetsError(m_fieldCount))
        Raise(error);
    m_buffer.push_back(octet);
    const bool complete = m_fieldCount == 0 ? (octet & 0x1F) != 0x1F : (octet & 0x80) == 0;
    if (!complete) {
        ++m_fieldCount;
        return false;
    }

    const CEmber_Tag tag = IdentifierOf(m_buffer.data(), m_buffer.size());
    if (m_outerTag.IsEmpty()) {
        m_outerTag = tag;
        if (const int32_t error = OuterTagError(tag))
            Raise(error);
        m_outerTag = tag.WithoutConstructed();
    } else {
        m_type = tag.Number();
        m_constructed = tag.IsConstructed();
        if (const int32_t error = InnerTagError(tag))
            Raise(error);
    }
    StartField(State_Length);
    return false;
}

void CEmber_Reader::CheckFitsInTop(uint32_t needed)
{
    // The handlers run before a container overruns (Feed raises 106 at the
    // octet that reaches its end unfinished), so consumed <= declared here.
    if (m_stack.empty())
        return;
    if (const int32_t error = FitError(&m_stack.back(), uint64_t(m_stack.back().consumed) + needed))
        Raise(error);
}

bool CEmber_Reader::OnLengthOctet(uint8_t octet)
{
    if (m_expected == 0) {
        m_expected = (octet & 0x80) ? uint32_t(octet & 0x7F) + 1 : 1;
        if (const int32_t error = LengthOctetsError(m_expected))
            Raise(error);
    }
    m_buffer.push_back(octet);
    ++m_fieldCount;
    if (m_fieldCount != m_expected)
        return false;

    const uint32_t length = LengthOf(m_buffer.data(), m_buffer.size());

    if (m_type == 0) {
        m_outerLength = length;
        if (const int32_t error = OuterLengthError(length))
            Raise(error);
        StartField(State_Identifier);
        return false;
    }

    m_contentLength = length;
    if (m_constructed) {
        CheckFitsInTop(length == IndefiniteLength ? kTerminatorOctets : length);
        if (const int32_t error = DepthError(m_stack.size()))
            Raise(error);
        StartField(State_Identifier);
        OnContainerOpened();
        m_stack.push_back(CEmber_OpenContainer{m_outerTag, m_type, length, 0});
        ResetItem();
        return length == 0;
    }
    if (length == 0)
        return CompleteValue();
    if (const int32_t error = PrimitiveLengthError(length))
        Raise(error);
    CheckFitsInTop(length);
    StartField(State_Content);
    m_contentLeft = length;
    m_keepContent = KeepsContent(m_type);
    if (m_keepContent)
        m_buffer.reserve(std::min(length, kContentReserve));
    return false;
}

bool CEmber_Reader::OnContentOctet(uint8_t octet)
{
    if (m_keepContent)
        m_buffer.push_back(octet);
    if (--m_contentLeft > 0)
        return false;
    return CompleteValue();
}

bool CEmber_Reader::CompleteValue()
{
    // The content is handed over as a view of the collection buffer, which
    // stays untouched until the item has been reset.
    if (m_contentLength > 0 && m_keepContent)
        m_content = m_buffer.data();
    m_state = State_Identifier;
    m_fieldCount = 0;
    m_expected = 0;
    OnItemComplete();
    ResetItem();
    m_buffer.clear();
    if (m_buffer.capacity() > kBufferKeep)
        std::vector<uint8_t>().swap(m_buffer);
    return true;
}

bool CEmber_Reader::OnTerminatorOctet(uint8_t octet)
{
    if (const int32_t error = TerminatorError(m_stack.empty() ? nullptr : &m_stack.back(), octet))
        Raise(error);
    ++m_fieldCount;
    if (m_fieldCount < kTerminatorOctets - 1)
        return false;
    m_stack.back().declaredLength = m_stack.back().consumed;
    return true;
}

void CEmber_Reader::CloseTop()
{
    StartField(State_Identifier);
    const CEmber_OpenContainer closed = m_stack.back();
    m_stack.pop_back();
    m_outerTag = closed.tag;
    m_type = closed.type;
    m_contentLength = closed.declaredLength;
    m_constructed = true;

    if (!m_stack.empty()) {
        const CEmber_OpenContainer& parent = m_stack.back();
        // The child's octets were counted only in the child: a parent whose
        // own end lies inside them is broken.
        if (const int32_t error =
                FitError(&parent, uint64_t(parent.consumed) + closed.declaredLength))
            Raise(error);
    }

    OnItemComplete();
    if (!m_stack.empty()) {
        m_stack.back().consumed += closed.declaredLength;
    } else {
        m_messageOctets = 0;
        if (m_synchronised) {
            // The octets after a message wait for the next start sequence.
            m_matchPosition = 0;
            StopRun();
        }
    }
    ResetItem();
}
