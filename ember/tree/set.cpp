#include "ember/tree/set.h"

#include "ember/ber/exception.h"
#include "ember/ber/types.h"

CEmber_Set::CEmber_Set(uint32_t classOctet, uint32_t number, CEmber_Container* parent,
                       bool indexEnabled)
    : CEmber_Container(classOctet, number, nullptr, eeBerType_Set, false), m_indexEnabled(indexEnabled)
{
    // Linked to the parent only once the index is set up.
    if (parent)
        parent->AddChild(this, true);
}

CEmber_Set::CEmber_Set() = default;

// The index holds no storage of its own: its chains run through the
// children, which the container destroys.
CEmber_Set::~CEmber_Set() = default;

CEmber_Node* CEmber_Set::FindInIndex(const CEmber_Tag& tag) const
{
    for (CEmber_Node* node = m_buckets[BucketOf(tag)]; node; node = node->m_nextInBucket)
        if (node->GetTag() == tag)
            return node;
    return nullptr;
}

void CEmber_Set::EnterInIndex(CEmber_Node* child)
{
    CEmber_Node*& head = m_buckets[BucketOf(child->GetTag())];
    child->m_nextInBucket = head;
    head = child;
}

void CEmber_Set::RemoveFromIndex(const CEmber_Tag& tag)
{
    CEmber_Node** link = &m_buckets[BucketOf(tag)];
    while (*link) {
        if ((*link)->GetTag() == tag) {
            CEmber_Node* found = *link;
            *link = found->m_nextInBucket;
            found->m_nextInBucket = nullptr;
            return;
        }
        link = &(*link)->m_nextInBucket;
    }
}

void CEmber_Set::DropIndex()
{
    for (CEmber_Node*& head : m_buckets) {
        for (CEmber_Node* node = head; node;) {
            CEmber_Node* next = node->m_nextInBucket;
            node->m_nextInBucket = nullptr;
            node = next;
        }
        head = nullptr;
    }
    m_indexEnabled = false;
}

void CEmber_Set::AddChild(CEmber_Node* child, bool update)
{
    if (m_indexEnabled) {
        if (FindInIndex(child->GetTag()))
            throw CEmber_Exception(eeError_DuplicateTag);
        EnterInIndex(child);
    }
    CEmber_Container::AddChild(child, update);
}

CEmber_Node* CEmber_Set::FindChild(uint32_t classOctet, uint32_t number)
{
    const CEmber_Tag tag = CEmber_Tag::FromClass(classOctet, number);
    return m_indexEnabled ? FindInIndex(tag) : FindInList(tag);
}

bool CEmber_Set::RemoveChild(uint32_t classOctet, uint32_t number)
{
    if (m_indexEnabled)
        RemoveFromIndex(CEmber_Tag::FromClass(classOctet, number));
    return CEmber_Container::RemoveChild(classOctet, number);
}

void CEmber_AdaptiveSet::AddChild(CEmber_Node* child, bool update)
{
    if (m_indexEnabled) {
        if (FindInIndex(child->GetTag())) {
            DropIndex();
            m_type = eeBerType_Sequence;
        } else {
            EnterInIndex(child);
        }
    }
    CEmber_Container::AddChild(child, update);
}
