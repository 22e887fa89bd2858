// Keyed containers.
//
// CEmber_Set finds children by tag and refuses a second child with a tag it
// already holds (code 1001; the set is unchanged and the child stays the
// caller's). CEmber_AdaptiveSet instead gives up its index on the first
// duplicate and becomes a Sequence (type 16) for good.
//
// The index costs nothing to set up: up to kListLimit children it is the
// child list itself, walked; from the next child on it is an open-addressing
// table of the children (linear probing, at most half full, slots chosen by
// the high bits of a 64-bit mix of the tag), grown by doubling. Lookups and
// insertions stay constant-time on average however wide the set and
// whatever its tags. A table that cannot grow (allocation failure) leaves
// the set unchanged and the child the caller's, as a duplicate does. A Set
// in an arena takes its table from the arena.
#pragma once

#include "ember/tree/container.h"

class CEmber_Set : public CEmber_Container
{
public:
    // Children kept without a table.
    static constexpr uint32_t kListLimit = 8;

    CEmber_Set(uint32_t classOctet, uint32_t number, CEmber_Container* parent, bool indexEnabled);
    // Bare construction for the plain mode, index enabled.
    CEmber_Set();
    ~CEmber_Set() override;

    bool RemoveChild(uint32_t classOctet, uint32_t number) override;
    CEmber_Node* FindChild(uint32_t classOctet, uint32_t number) override;
    void AddChild(CEmber_Node* child, bool update) override;

    bool IsIndexEnabled() const { return m_indexEnabled; }

    // Slots of the index table (0 while the child list serves as index).
    uint32_t GetIndexCapacity() const { return m_table ? m_mask + 1 : 0; }
    // The longest run of slots a lookup in the table probes, for tests.
    uint32_t GetLongestProbe() const;

protected:
    CEmber_Node* FindInIndex(const CEmber_Tag& tag) const;
    // Makes room for one more child in the index (builds or grows the
    // table); throws std::bad_alloc with the index unchanged.
    void ReserveIndex();
    // Enters a child whose tag is not in the index; room was reserved.
    void EnterInIndex(CEmber_Node* child);
    void RemoveFromIndex(const CEmber_Tag& tag);
    // Empties the index and disables it.
    void DropIndex();

    bool m_indexEnabled = true;

private:
    uint32_t SlotOf(const CEmber_Tag& tag) const;
    void Insert(CEmber_Node* child);
    void FreeTable() noexcept;

    uint32_t m_mask = 0;
    // 64 - log2 of the table's capacity.
    uint8_t m_shift = 0;
    CEmber_Node** m_table = nullptr;
};

class CEmber_AdaptiveSet : public CEmber_Set
{
public:
    CEmber_AdaptiveSet(uint32_t classOctet, uint32_t number, CEmber_Container* parent)
        : CEmber_Set(classOctet, number, parent, true)
    {}

    // Never refuses: a duplicate tag turns the set into a Sequence.
    void AddChild(CEmber_Node* child, bool update) override;
};
