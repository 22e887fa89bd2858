#include "tests/support/eager_tree.h"

#include "ember/ber/exception.h"
#include "ember/ber/identifier.h"
#include "ember/ber/length.h"
#include "ember/ber/output_stream.h"
#include "ember/ber/types.h"
#include "ember/tree/node.h"

#include <cstring>

namespace {

class VectorStream : public CEmber_OutputStream
{
public:
    explicit VectorStream(std::vector<uint8_t>& octets) : m_octets(octets) {}
    void WriteByte(uint8_t octet) override { m_octets.push_back(octet); }
    uint32_t Write(const uint8_t* data, uint32_t count) override
    {
        m_octets.insert(m_octets.end(), data, data + count);
        return count;
    }
    void Flush() override {}

private:
    std::vector<uint8_t>& m_octets;
};

const CEmber_Tag kEagerRootTag = CEmber_Tag::FromClass(eeBerClass_Application, 0xFFFFACDC);
const CEmber_Tag kEagerAsideTag = CEmber_Tag::FromClass(eeBerClass_Application, 0xFFFFACDD);

} // namespace

CEager_Leaf::CEager_Leaf(const CEmber_Node& leaf) : m_type(leaf.GetType())
{
    SetTag(leaf.GetTag());
    VectorStream out(m_octets);
    leaf.Encode(out);
}

void CEager_Leaf::Encode(std::vector<uint8_t>& out) const
{
    out.insert(out.end(), m_octets.begin(), m_octets.end());
}

CEager_Container::CEager_Container(uint32_t classOctet, uint32_t number, CEager_Container* parent,
                                   int32_t type, bool indefinite)
    : CEager_Node(classOctet, number), m_type(type), m_indefinite(indefinite)
{
    RebuildHeader();
    if (parent)
        parent->AddChild(this, true);
}

CEager_Container::CEager_Container() = default;

CEager_Container::~CEager_Container()
{
    CEager_Node* child = m_first;
    while (child) {
        CEager_Node* next = child->m_nextSibling;
        delete child;
        child = next;
    }
}

// The header written through the general writers, as it always was: outer
// identifier, outer length, inner identifier, inner length, at most 17
// octets kept.
void CEager_Container::RebuildHeader()
{
    const uint32_t type = uint32_t(m_type);
    const uint32_t outerLength =
        m_indefinite
            ? IndefiniteLength
            : uint32_t(HeaderSize(eeBerClass_Universal, type, m_contentLength)) + m_contentLength;
    const uint32_t innerLength = m_indefinite ? IndefiniteLength : m_contentLength;
    uint8_t octets[32];
    uint32_t n =
        uint32_t(PutIdentifier(octets, GetTag().ClassBits() | kBerConstructed, GetTag().Number()));
    n += uint32_t(PutLength(octets + n, outerLength));
    n += uint32_t(PutIdentifier(octets + n, eeBerClass_Universal | kBerConstructed, type));
    n += uint32_t(PutLength(octets + n, innerLength));
    const uint32_t kept = n < kHeaderCacheSize ? n : kHeaderCacheSize;
    std::memcpy(m_header, octets, kept);
    m_headerLength = kept;
    m_encodedLength = kept + m_contentLength + (m_indefinite ? 4 : 0);
}

void CEager_Container::UpdateLength()
{
    const uint32_t oldLength = m_encodedLength;
    RebuildHeader();
    if (CEager_Container* parent = GetParent())
        parent->ChildLengthChanged(this, oldLength, m_encodedLength);
}

void CEager_Container::ChildLengthChanged(CEager_Node* /*child*/, uint32_t oldLength,
                                          uint32_t newLength)
{
    m_contentLength += newLength - oldLength;
    UpdateLength();
}

void CEager_Container::AddChild(CEager_Node* child, bool update)
{
    m_contentLength += child->GetEncodedLength();
    child->m_parent = this;
    child->m_nextSibling = nullptr;
    if (m_last)
        m_last->m_nextSibling = child;
    else
        m_first = child;
    m_last = child;
    if (update)
        UpdateLength();
}

CEager_Node* CEager_Container::FindInList(const CEmber_Tag& tag) const
{
    for (CEager_Node* child = m_first; child; child = child->m_nextSibling)
        if (child->GetTag() == tag)
            return child;
    return nullptr;
}

CEager_Node* CEager_Container::FindChild(uint32_t classOctet, uint32_t number)
{
    return FindInList(CEmber_Tag::FromClass(classOctet, number));
}

bool CEager_Container::RemoveChild(uint32_t classOctet, uint32_t number)
{
    const CEmber_Tag tag = CEmber_Tag::FromClass(classOctet, number);
    CEager_Node* previous = nullptr;
    CEager_Node* child = m_first;
    while (child && !(child->GetTag() == tag)) {
        previous = child;
        child = child->m_nextSibling;
    }
    if (!child)
        return false;
    m_contentLength -= child->GetEncodedLength();
    if (previous)
        previous->m_nextSibling = child->m_nextSibling;
    else
        m_first = child->m_nextSibling;
    if (m_last == child)
        m_last = previous;
    delete child;
    UpdateLength();
    return true;
}

void CEager_Container::Encode(std::vector<uint8_t>& out) const
{
    out.insert(out.end(), m_header, m_header + m_headerLength);
    for (const CEager_Node* child = m_first; child; child = child->m_nextSibling)
        child->Encode(out);
    if (m_indefinite)
        out.insert(out.end(), 4, uint8_t(0));
}

CEager_Set::CEager_Set(uint32_t classOctet, uint32_t number, CEager_Container* parent,
                       bool indexEnabled)
    : CEager_Container(classOctet, number, nullptr, 17, false), m_indexEnabled(indexEnabled)
{
    if (parent)
        parent->AddChild(this, true);
}

CEager_Node* CEager_Set::FindInIndex(const CEmber_Tag& tag) const
{
    for (CEager_Node* node = m_buckets[BucketOf(tag)]; node; node = node->m_nextInBucket)
        if (node->GetTag() == tag)
            return node;
    return nullptr;
}

void CEager_Set::EnterInIndex(CEager_Node* child)
{
    CEager_Node*& head = m_buckets[BucketOf(child->GetTag())];
    child->m_nextInBucket = head;
    head = child;
}

void CEager_Set::RemoveFromIndex(const CEmber_Tag& tag)
{
    CEager_Node** link = &m_buckets[BucketOf(tag)];
    while (*link) {
        if ((*link)->GetTag() == tag) {
            *link = (*link)->m_nextInBucket;
            return;
        }
        link = &(*link)->m_nextInBucket;
    }
}

void CEager_Set::DropIndex()
{
    for (CEager_Node*& head : m_buckets)
        head = nullptr;
    m_indexEnabled = false;
}

void CEager_Set::AddChild(CEager_Node* child, bool update)
{
    if (m_indexEnabled) {
        if (FindInIndex(child->GetTag()))
            throw CEmber_Exception(eeError_DuplicateTag);
        EnterInIndex(child);
    }
    CEager_Container::AddChild(child, update);
}

CEager_Node* CEager_Set::FindChild(uint32_t classOctet, uint32_t number)
{
    const CEmber_Tag tag = CEmber_Tag::FromClass(classOctet, number);
    return m_indexEnabled ? FindInIndex(tag) : FindInList(tag);
}

bool CEager_Set::RemoveChild(uint32_t classOctet, uint32_t number)
{
    if (m_indexEnabled)
        RemoveFromIndex(CEmber_Tag::FromClass(classOctet, number));
    return CEager_Container::RemoveChild(classOctet, number);
}

void CEager_AdaptiveSet::AddChild(CEager_Node* child, bool update)
{
    if (m_indexEnabled) {
        if (FindInIndex(child->GetTag())) {
            DropIndex();
            m_type = 16;
        } else {
            EnterInIndex(child);
        }
    }
    CEager_Container::AddChild(child, update);
}

CEager_Root::CEager_Root() : CEager_Sequence(kEagerRootTag.Octet(), kEagerRootTag.Number(), nullptr)
{}

void CEager_Root::AddChild(CEager_Node* child, bool update)
{
    if (child->GetTag().WithoutConstructed() == kEagerAsideTag) {
        if (child != m_aside.get())
            m_aside.reset(child);
        return;
    }
    CEager_Sequence::AddChild(child, update);
}
