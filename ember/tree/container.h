// Containers: nodes holding an ordered, owned list of children, encoded as
// an Ember constructed element (own tag around a universal Sequence or Set).
//
// A container built with a tag keeps its header octets and its encoded
// length current at every change: AddChild with update, RemoveChild and
// ChildLengthChanged re-encode the headers of every ancestor, so Encode only
// writes cached octets. Containers built bare (the factory's plain mode)
// never compute a header and are for reading only.
#pragma once

#include "ember/ber/types.h"
#include "ember/tree/node.h"

#include <cstdint>

class CEmber_Container : public CEmber_Node
{
public:
    // Largest header: 6 identifier + 5 length octets, outer and inner.
    static constexpr uint32_t kHeaderCacheSize = 17;

    // Tag from the class bits, no children, header computed; then, if a
    // parent is given, parent->AddChild(this, true).
    CEmber_Container(uint32_t classOctet, uint32_t number, CEmber_Container* parent, int32_t type,
                     bool indefinite);
    // Bare construction for the plain mode: empty tag, nothing computed.
    CEmber_Container();
    // Destroys every child in list order.
    ~CEmber_Container() override;

    void Encode(CEmber_OutputStream& out) const override;
    uint32_t GetEncodedLength() const override { return m_encodedLength; }
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

    // Rebuilds the header cache and encoded length from tag, type, flag and
    // content length, then does the same for every ancestor.
    void UpdateLength();
    // A child's encoded length went from oldLength to newLength.
    void ChildLengthChanged(CEmber_Node* child, uint32_t oldLength, uint32_t newLength);

    uint32_t GetContentLength() const { return m_contentLength; }
    bool IsIndefinite() const { return m_indefinite; }
    // The cached header octets (outer and inner identifier and length).
    const uint8_t* GetHeader() const { return m_header; }
    // Octets in the header cache (0 until a header was computed). Kept apart
    // from the lengths because after AddChild without update the content
    // length already counts children the cached header does not describe.
    uint32_t GetHeaderLength() const { return m_headerLength; }

    // Only the factory's plain mode sets the type after construction.
    void SetType(int32_t type) { m_type = type; }

protected:
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
    uint32_t m_contentLength = 0;
    uint32_t m_encodedLength = 0;
    uint32_t m_headerLength = 0;
    int32_t m_type = 0;
    bool m_indefinite = false;
    uint8_t m_header[kHeaderCacheSize] = {};
    // Octets of the outer identifier at the head of the cache, and the tag
    // they were written for.
    uint8_t m_identifierLength = 0;
    CEmber_Tag m_headerTag;
};

// A container of type Sequence written with indefinite lengths.
class CEmber_Sequence : public CEmber_Container
{
public:
    CEmber_Sequence(uint32_t classOctet, uint32_t number, CEmber_Container* parent)
        : CEmber_Container(classOctet, number, parent, eeBerType_Sequence, true) {}
    CEmber_Sequence() = default;
};
