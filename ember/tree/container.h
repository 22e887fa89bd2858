// Containers: nodes holding an ordered, owned list of children, encoded as
// an Ember constructed element (own tag around a universal Sequence or Set).
//
// A container built with a tag answers every length and header read as if
// its header and encoded length were brought up to date at every change
// (AddChild with update, RemoveChild, ChildLengthChanged and UpdateLength
// reach every ancestor). The work is paid when asked for: a change marks the
// container and its ancestors pending, stopping at the first that already
// is, and a read of GetEncodedLength, GetContentLength, GetHeader,
// GetHeaderLength or Encode settles the pending part of the container's
// subtree in one bottom-up pass (each pending container rebuilt once, after
// its pending children, without recursion). Operations that would freeze a
// header as it stands (AddChild without update, SetType, SetTag, the
// AdaptiveSet fall-back, RemoveChild) settle first, so AddChild(child,
// false) keeps its documented result: the content length grows, header
// and encoded length stay as they were until a later update. Reads that
// settle write to the tree: a tree belongs to one thread.
//
// Containers built bare (the factory's plain mode) never compute a header
// and are for reading only.
#pragma once

#include "ember/ber/types.h"
#include "ember/tree/node.h"

#include <cstdint>

class CEmber_Container : public CEmber_Node
{
public:
    // Largest header: 6 identifier + 5 length octets, outer and inner.
    static constexpr uint32_t kHeaderCacheSize = 17;

    // Tag from the class bits, no children, the header of an empty
    // container owed (built when first read); then, if a parent is given,
    // parent->AddChild(this, true).
    CEmber_Container(uint32_t classOctet, uint32_t number, CEmber_Container* parent, int32_t type,
                     bool indefinite);
    // Bare construction for the plain mode: empty tag, nothing computed.
    CEmber_Container();
    // Destroys every child in list order.
    ~CEmber_Container() override;

    void Encode(CEmber_OutputStream& out) const override;
    uint32_t GetEncodedLength() const override
    {
        Settle();
        return m_encodedLength;
    }
    int32_t GetType() const override { return m_type; }
    bool IsContainer() const override { return true; }
    bool RemoveChild(uint32_t classOctet, uint32_t number) override;
    CEmber_Node* FindChild(uint32_t classOctet, uint32_t number) override;
    const CEmber_ChildList& GetChildren() const override { return m_children; }
    void Dump(CEmber_TextList& list, int32_t level) const override;
    void AddChild(CEmber_Node* child, bool update) override;
    EmberPosition GetFirstChildPosition() const override { return m_children.First(); }
    CEmber_Node* GetNextChild(EmberPosition& position) const override;
    CEmber_Node* GetChildAt(EmberPosition position) const override;

    // The header cache and encoded length are rebuilt from tag, type, flag
    // and content length, then the same for every ancestor (when next read).
    void UpdateLength();
    // A child's encoded length went from oldLength to newLength.
    void ChildLengthChanged(CEmber_Node* child, uint32_t oldLength, uint32_t newLength);

    uint32_t GetContentLength() const
    {
        Settle();
        return m_contentLength;
    }
    bool IsIndefinite() const { return m_indefinite; }
    // The cached header octets (outer and inner identifier and length).
    const uint8_t* GetHeader() const
    {
        Settle();
        return m_header;
    }
    // Octets in the header cache (0 until a header was computed). Kept apart
    // from the lengths because after AddChild without update the content
    // length already counts children the cached header does not describe.
    uint32_t GetHeaderLength() const
    {
        Settle();
        return m_headerLength;
    }

    // Only the factory's plain mode sets the type after construction.
    void SetType(int32_t type)
    {
        Settle();
        m_type = type;
    }

    // Brings the pending part of this subtree up to date.
    void Settle() const
    {
        if (m_pending)
            SettlePending();
    }

protected:
    // Marks this container and its ancestors pending, up to the first that
    // already is; each newly pending one joins its parent's pending list.
    void MarkPending();
    // Re-encodes this container's header alone; returns the old length.
    uint32_t RebuildHeader();
    // Writes the outer identifier at the head of the header cache.
    void CacheIdentifier();
    // The header behind the identifier when a length takes the long form or
    // the type needs more than one octet.
    void WriteLongHeader();
    // The first child whose tag matches, walking the list.
    CEmber_Node* FindInList(const CEmber_Tag& tag) const;

    CEmber_ChildList m_children;
    // The bookkeeping below is brought up to date by reads, hence mutable.
    // The parent's content length always counts this container's
    // m_encodedLength; a pending container's rebuild passes the change on.
    mutable uint32_t m_contentLength = 0;
    mutable uint32_t m_encodedLength = 0;
    mutable uint32_t m_headerLength = 0;
    int32_t m_type = 0;
    bool m_indefinite = false;
    // A header rebuild is owed (then the parent is pending too).
    mutable bool m_pending = false;
    // In the parent's pending list (may outlive m_pending until the parent
    // settles).
    mutable bool m_listedPending = false;
    // Octets of the outer identifier at the head of the cache, and the tag
    // they were written for.
    mutable uint8_t m_identifierLength = 0;
    mutable uint8_t m_header[kHeaderCacheSize] = {};
    mutable CEmber_Tag m_headerTag;
    // Children that were marked pending, most recent first, linked through
    // m_nextPending.
    mutable CEmber_Container* m_pendingChildren = nullptr;
    mutable CEmber_Container* m_nextPending = nullptr;

private:
    void SettlePending() const;
};

// A container of type Sequence written with indefinite lengths.
class CEmber_Sequence : public CEmber_Container
{
public:
    CEmber_Sequence(uint32_t classOctet, uint32_t number, CEmber_Container* parent)
        : CEmber_Container(classOctet, number, parent, eeBerType_Sequence, true)
    {}
    CEmber_Sequence() = default;
};
