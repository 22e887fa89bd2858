#include "ember/tree/container.h"

#include "ember/ber/exception.h"
#include "ember/ber/identifier.h"
#include "ember/ber/length.h"
#include "ember/ber/output_stream.h"
#include "ember/ber/types.h"
#include "ember/tree/node_arena.h"

#include <cstring>

namespace {

const uint8_t kTerminator[4] = {0, 0, 0, 0};

} // namespace

void CEmber_ChildList::Unlink(CEmber_Node* previous, CEmber_Node* node)
{
    if (previous)
        previous->m_nextSibling = node->m_nextSibling;
    else
        m_first = node->m_nextSibling;
    if (m_last == node)
        m_last = previous;
    node->m_nextSibling = nullptr;
    --m_count;
}

CEmber_Container::CEmber_Container(uint32_t classOctet, uint32_t number, CEmber_Container* parent,
                                   int32_t type, bool indefinite)
    : CEmber_Node(classOctet, number), m_type(type), m_indefinite(indefinite)
{
    // The header of the empty container is owed, not built: the first read
    // builds it (a container that gets children before anyone asks is built
    // once, with them). Encoded length 0 until then, which is what a parent
    // counts for it; the rebuild passes the difference on.
    m_pending = true;
    if (parent)
        parent->AddChild(this, true);
}

CEmber_Container::CEmber_Container() = default;

CEmber_Container::~CEmber_Container()
{
    CEmber_Node* child = m_children.First();
    while (child) {
        CEmber_Node* next = CEmber_ChildList::Next(child);
        Destroy(child);
        child = next;
    }
}

void CEmber_Node::SetTag(const CEmber_Tag& tag)
{
    // A pending header is rebuilt with the tag it was owed under.
    if (IsContainer())
        static_cast<const CEmber_Container*>(this)->Settle();
    m_tag = tag;
}

// Kept out of line so that RebuildHeader stays small.
[[gnu::noinline]] void CEmber_Container::CacheIdentifier()
{
    m_headerTag = GetTag();
    m_identifierLength =
        uint8_t(PutIdentifier(m_header, GetTag().ClassBits() | kBerConstructed, GetTag().Number()));
}

[[gnu::noinline]] void CEmber_Container::WriteLongHeader()
{
    const uint32_t type = uint32_t(m_type);
    const uint32_t outerLength =
        m_indefinite
            ? IndefiniteLength
            : uint32_t(HeaderSize(eeBerClass_Universal, type, m_contentLength)) + m_contentLength;
    const uint32_t innerLength = m_indefinite ? IndefiniteLength : m_contentLength;
    uint8_t* tail = m_header + m_identifierLength;
    if (type < 31) {
        // 6 + 5 + 1 + 5 octets at most: the whole header fits the cache.
        uint32_t n = uint32_t(PutLength(tail, outerLength));
        tail[n++] = uint8_t(kBerConstructed | type);
        n += uint32_t(PutLength(tail + n, innerLength));
        m_headerLength = m_identifierLength + n;
        return;
    }
    // Only a type of 31 or more (possible in plain mode) can exceed the 17
    // octets kept.
    uint8_t octets[16];
    uint32_t n = uint32_t(PutLength(octets, outerLength));
    n += uint32_t(PutIdentifier(octets + n, eeBerClass_Universal | kBerConstructed, type));
    n += uint32_t(PutLength(octets + n, innerLength));
    const uint32_t room = kHeaderCacheSize - m_identifierLength;
    const uint32_t kept = n < room ? n : room;
    std::memcpy(tail, octets, kept);
    m_headerLength = m_identifierLength + kept;
}

uint32_t CEmber_Container::RebuildHeader()
{
    const uint32_t oldLength = m_encodedLength;
    // The outer identifier only changes with the tag: it stays at the head
    // of the cache and only the octets behind it are rewritten.
    if (m_identifierLength == 0 || !(m_headerTag == GetTag()))
        CacheIdentifier();
    const uint32_t type = uint32_t(m_type);
    uint8_t* tail = m_header + m_identifierLength;
    if (type < 31 && (m_indefinite || m_contentLength <= 125)) {
        // The common headers: both lengths indefinite, or both short (the
        // outer one counts the two inner header octets).
        const uint8_t inner = m_indefinite ? 0x80 : uint8_t(m_contentLength);
        tail[0] = m_indefinite ? 0x80 : uint8_t(inner + 2);
        tail[1] = uint8_t(kBerConstructed | type);
        tail[2] = inner;
        m_headerLength = m_identifierLength + 3u;
    } else if (type < 31 && m_contentLength <= 0x7FFF - 4) {
        // Both lengths below 0x8000: the long form takes two octets (82 hi
        // lo); the outer length counts the inner tag and length octets.
        const uint32_t content = m_contentLength;
        const uint32_t outer = content + (content <= 127 ? 2 : 4);
        tail[0] = 0x82;
        tail[1] = uint8_t(outer >> 8);
        tail[2] = uint8_t(outer);
        tail[3] = uint8_t(kBerConstructed | type);
        uint32_t n = 4;
        if (content <= 127) {
            tail[n++] = uint8_t(content);
        } else {
            tail[n++] = 0x82;
            tail[n++] = uint8_t(content >> 8);
            tail[n++] = uint8_t(content);
        }
        m_headerLength = m_identifierLength + n;
    } else {
        WriteLongHeader();
    }
    m_encodedLength = m_headerLength + m_contentLength + (m_indefinite ? 4 : 0);
    return oldLength;
}

void CEmber_Container::MarkPending()
{
    CEmber_Container* node = this;
    while (!node->m_pending) {
        node->m_pending = true;
        CEmber_Container* parent = node->GetParent();
        if (!parent)
            break;
        if (!node->m_listedPending) {
            node->m_listedPending = true;
            node->m_nextPending = parent->m_pendingChildren;
            parent->m_pendingChildren = node;
        }
        node = parent;
    }
}

void CEmber_Container::SettlePending() const
{
    // Depth first through the pending lists, climbing back by the parent
    // links: a container is rebuilt once its list is empty, and its change
    // of length goes into its parent's content length. Only pending
    // containers are visited; the lists are empty afterwards.
    CEmber_Container* const top = const_cast<CEmber_Container*>(this);
    CEmber_Container* node = top;
    for (;;) {
        if (CEmber_Container* child = node->m_pendingChildren) {
            node->m_pendingChildren = child->m_nextPending;
            child->m_nextPending = nullptr;
            child->m_listedPending = false;
            // One settled on its own since it was listed is done.
            if (child->m_pending)
                node = child;
            continue;
        }
        const uint32_t oldLength = node->RebuildHeader();
        node->m_pending = false;
        CEmber_Container* parent = node->GetParent();
        if (parent)
            parent->m_contentLength += node->m_encodedLength - oldLength;
        if (node == top)
            return;
        node = parent;
    }
}

void CEmber_Container::UpdateLength()
{
    MarkPending();
}

void CEmber_Container::ChildLengthChanged(CEmber_Node* /*child*/, uint32_t oldLength,
                                          uint32_t newLength)
{
    m_contentLength += newLength - oldLength;
    MarkPending();
}

void CEmber_Container::AddChild(CEmber_Node* child, bool update)
{
    // A decoded tree that takes a node from elsewhere is destroyed node by
    // node when it is dropped.
    if (m_arena && child->m_arena != m_arena)
        m_arena->NoteForeign();
    // Without update the header stays as it stands now: owed rebuilds are
    // done first.
    if (!update) {
        Settle();
        m_contentLength += child->GetEncodedLength();
        child->m_parent = this;
        m_children.Append(child);
        return;
    }
    if (child->IsContainer()) {
        // A container whose header is owed joins this one's pending list as
        // it stands: this one counts its present encoded length, and its
        // rebuild passes the change on when someone asks.
        CEmber_Container* const container = static_cast<CEmber_Container*>(child);
        m_contentLength += container->m_encodedLength;
        child->m_parent = this;
        m_children.Append(child);
        if (container->m_pending && !container->m_listedPending) {
            container->m_listedPending = true;
            container->m_nextPending = m_pendingChildren;
            m_pendingChildren = container;
        }
    } else {
        m_contentLength += child->GetEncodedLength();
        child->m_parent = this;
        m_children.Append(child);
    }
    MarkPending();
}

CEmber_Node* CEmber_Container::FindInList(const CEmber_Tag& tag) const
{
    for (CEmber_Node* child = m_children.First(); child; child = CEmber_ChildList::Next(child))
        if (child->GetTag() == tag)
            return child;
    return nullptr;
}

CEmber_Node* CEmber_Container::FindChild(uint32_t classOctet, uint32_t number)
{
    return FindInList(CEmber_Tag::FromClass(classOctet, number));
}

bool CEmber_Container::RemoveChild(uint32_t classOctet, uint32_t number)
{
    const CEmber_Tag tag = CEmber_Tag::FromClass(classOctet, number);
    CEmber_Node* previous = nullptr;
    CEmber_Node* child = m_children.First();
    while (child && !(child->GetTag() == tag)) {
        previous = child;
        child = CEmber_ChildList::Next(child);
    }
    if (!child)
        return false;
    // Settled first: the child leaves the pending lists with it.
    Settle();
    m_contentLength -= child->GetEncodedLength();
    m_children.Unlink(previous, child);
    Destroy(child);
    MarkPending();
    return true;
}

CEmber_Node* CEmber_Container::GetNextChild(EmberPosition& position) const
{
    CEmber_Node* child = static_cast<CEmber_Node*>(position);
    if (!child)
        return nullptr;
    position = CEmber_ChildList::Next(child);
    return child;
}

CEmber_Node* CEmber_Container::GetChildAt(EmberPosition position) const
{
    return static_cast<CEmber_Node*>(position);
}

void CEmber_Container::Encode(CEmber_OutputStream& out) const
{
    Settle();
    out.Write(m_header, m_headerLength);
    for (const CEmber_Node* child = m_children.First(); child;
         child = CEmber_ChildList::Next(child))
        child->Encode(out);
    if (m_indefinite)
        out.Write(kTerminator, 4);
    if (!GetParent())
        out.Flush();
}
