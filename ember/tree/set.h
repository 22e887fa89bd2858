// Keyed containers.
//
// CEmber_Set finds children by tag through a 31-bucket index (bucket =
// ((tag octet << 24) ^ number) % 31) and refuses a second child with a tag
// it already holds (code 1001; the set is unchanged and the child stays the
// caller's). CEmber_AdaptiveSet instead gives up its index on the first
// duplicate and becomes a Sequence (type 16) for good.
#pragma once

#include "ember/tree/container.h"

class CEmber_Set : public CEmber_Container
{
public:
    static constexpr uint32_t kBucketCount = 31;

    CEmber_Set(uint32_t classOctet, uint32_t number, CEmber_Container* parent, bool indexEnabled);
    // Bare construction for the plain mode, index enabled.
    CEmber_Set();
    ~CEmber_Set() override;

    bool RemoveChild(uint32_t classOctet, uint32_t number) override;
    CEmber_Node* FindChild(uint32_t classOctet, uint32_t number) override;
    void AddChild(CEmber_Node* child, bool update) override;

    bool IsIndexEnabled() const { return m_indexEnabled; }

    static uint32_t BucketOf(const CEmber_Tag& tag)
    {
        return ((uint32_t(tag.Octet()) << 24) ^ tag.Number()) % kBucketCount;
    }

protected:
    CEmber_Node* FindInIndex(const CEmber_Tag& tag) const;
    void EnterInIndex(CEmber_Node* child);
    void RemoveFromIndex(const CEmber_Tag& tag);
    // Empties the index and disables it.
    void DropIndex();

    bool m_indexEnabled = true;
    CEmber_Node* m_buckets[kBucketCount] = {};
};

class CEmber_AdaptiveSet : public CEmber_Set
{
public:
    CEmber_AdaptiveSet(uint32_t classOctet, uint32_t number, CEmber_Container* parent)
        : CEmber_Set(classOctet, number, parent, true) {}

    // Never refuses: a duplicate tag turns the set into a Sequence.
    void AddChild(CEmber_Node* child, bool update) override;
};
