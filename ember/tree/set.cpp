#include "ember/tree/set.h"

#include "ember/ber/exception.h"
#include "ember/ber/types.h"
#include "ember/tree/node_arena.h"

#include <cstring>
#include <new>

namespace {

constexpr uint32_t kFirstCapacity = 32;

// A 64-bit finaliser mix of the tag; its high bits choose the slot, so tags
// that differ only in high or only in low bits spread alike.
inline uint64_t MixTag(const CEmber_Tag& tag)
{
    uint64_t x = (uint64_t(tag.Octet()) << 32) | tag.Number();
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDull;
    x ^= x >> 33;
    x *= 0xC4CEB9FE1A85EC53ull;
    x ^= x >> 33;
    return x;
}

inline uint32_t Log2(uint32_t capacity)
{
    uint32_t bits = 0;
    while ((1u << bits) < capacity)
        ++bits;
    return bits;
}

} // namespace

CEmber_Set::CEmber_Set(uint32_t classOctet, uint32_t number, CEmber_Container* parent,
                       bool indexEnabled)
    : CEmber_Container(classOctet, number, nullptr, eeBerType_Set, false),
      m_indexEnabled(indexEnabled)
{
    // Linked to the parent only once the index is set up.
    if (parent)
        parent->AddChild(this, true);
}

CEmber_Set::CEmber_Set() = default;

// The table only points at children, which the container destroys.
CEmber_Set::~CEmber_Set()
{
    FreeTable();
}

void CEmber_Set::FreeTable() noexcept
{
    if (CEmber_NodeArena* arena = GetArena())
        arena->Release(m_table, m_table ? (size_t(m_mask) + 1) * sizeof(CEmber_Node*) : 0);
    else
        delete[] m_table;
    m_table = nullptr;
}

uint32_t CEmber_Set::SlotOf(const CEmber_Tag& tag) const
{
    return uint32_t(MixTag(tag) >> m_shift);
}

CEmber_Node* CEmber_Set::FindInIndex(const CEmber_Tag& tag) const
{
    if (!m_table)
        return FindInList(tag);
    for (uint32_t slot = SlotOf(tag);; slot = (slot + 1) & m_mask) {
        CEmber_Node* node = m_table[slot];
        if (!node || node->GetTag() == tag)
            return node;
    }
}

void CEmber_Set::Insert(CEmber_Node* child)
{
    uint32_t slot = SlotOf(child->GetTag());
    while (m_table[slot])
        slot = (slot + 1) & m_mask;
    m_table[slot] = child;
}

void CEmber_Set::ReserveIndex()
{
    const uint32_t count = m_children.Count() + 1;
    if (!m_table) {
        if (count <= kListLimit)
            return;
    } else if (uint64_t(count) * 2 <= uint64_t(m_mask) + 1) {
        return;
    }
    uint32_t capacity = m_table ? (m_mask + 1) * 2 : kFirstCapacity;
    while (uint64_t(count) * 2 > capacity)
        capacity *= 2;
    // Allocated before anything changes: a failure leaves the index as it was.
    CEmber_Node** table;
    if (CEmber_NodeArena* arena = GetArena()) {
        table = static_cast<CEmber_Node**>(arena->Allocate(capacity * sizeof(CEmber_Node*)));
        std::memset(static_cast<void*>(table), 0, capacity * sizeof(CEmber_Node*));
    } else {
        table = new CEmber_Node*[capacity]();
    }
    FreeTable();
    m_table = table;
    m_mask = capacity - 1;
    m_shift = uint8_t(64 - Log2(capacity));
    for (CEmber_Node* node = m_children.First(); node; node = CEmber_ChildList::Next(node))
        Insert(node);
}

void CEmber_Set::EnterInIndex(CEmber_Node* child)
{
    if (m_table)
        Insert(child);
}

void CEmber_Set::RemoveFromIndex(const CEmber_Tag& tag)
{
    if (!m_table)
        return;
    uint32_t slot = SlotOf(tag);
    while (m_table[slot] && !(m_table[slot]->GetTag() == tag))
        slot = (slot + 1) & m_mask;
    if (!m_table[slot])
        return;
    // Backward-shift deletion: later entries of the run move up into the
    // hole unless they already sit at or after their own home slot.
    uint32_t hole = slot;
    for (uint32_t next = (hole + 1) & m_mask; m_table[next]; next = (next + 1) & m_mask) {
        const uint32_t home = SlotOf(m_table[next]->GetTag());
        // The entry may fill the hole when its home is not in (hole, next].
        const bool homeInRange =
            hole <= next ? (hole < home && home <= next) : (hole < home || home <= next);
        if (!homeInRange) {
            m_table[hole] = m_table[next];
            hole = next;
        }
    }
    m_table[hole] = nullptr;
}

void CEmber_Set::DropIndex()
{
    FreeTable();
    m_mask = 0;
    m_shift = 0;
    m_indexEnabled = false;
}

uint32_t CEmber_Set::GetLongestProbe() const
{
    if (!m_table)
        return m_children.Count();
    uint32_t longest = 0;
    for (uint32_t slot = 0; slot <= m_mask; ++slot) {
        if (!m_table[slot])
            continue;
        const uint32_t home = SlotOf(m_table[slot]->GetTag());
        const uint32_t probe = ((slot - home) & m_mask) + 1;
        if (probe > longest)
            longest = probe;
    }
    return longest;
}

void CEmber_Set::AddChild(CEmber_Node* child, bool update)
{
    if (m_indexEnabled) {
        if (!m_table && m_children.Count() < kListLimit) {
            // The list is the index and stays so with this child.
            if (FindInList(child->GetTag()))
                throw CEmber_Exception(eeError_DuplicateTag);
        } else {
            if (FindInIndex(child->GetTag()))
                throw CEmber_Exception(eeError_DuplicateTag);
            ReserveIndex();
            EnterInIndex(child);
        }
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
            // The new type reaches the header at the next rebuild; owed
            // rebuilds keep the old one.
            Settle();
            DropIndex();
            m_type = eeBerType_Sequence;
        } else {
            ReserveIndex();
            EnterInIndex(child);
        }
    }
    CEmber_Container::AddChild(child, update);
}
