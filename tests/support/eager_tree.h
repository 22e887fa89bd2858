// The eager tree model, kept as the reference for the library's containers.
//
// These classes are the container bookkeeping as it was before lengths
// became lazy, renamed and trimmed to what the differential tests compare:
// every AddChild with update, RemoveChild and ChildLengthChanged re-encodes
// the header of the container and of every ancestor at once, and
// GetEncodedLength is a field read. Sets index their children in 31 chained
// buckets (bucket = ((tag octet << 24) ^ number) % 31). Leaves are the
// library's own (they never change once built): a CEager_Leaf holds the
// octets, type and tag of one.
#pragma once

#include "ember/ber/tag.h"

#include <cstdint>
#include <memory>
#include <vector>

class CEmber_Node;
class CEager_Container;

class CEager_Node
{
public:
    CEager_Node(const CEager_Node&) = delete;
    CEager_Node& operator=(const CEager_Node&) = delete;
    virtual ~CEager_Node() = default;

    // Appends the node's encoding (cached octets only).
    virtual void Encode(std::vector<uint8_t>& out) const = 0;
    virtual uint32_t GetEncodedLength() const = 0;
    virtual int32_t GetType() const = 0;
    virtual bool IsContainer() const = 0;

    const CEmber_Tag& GetTag() const { return m_tag; }
    CEager_Container* GetParent() const { return m_parent; }
    CEager_Node* GetNextSibling() const { return m_nextSibling; }
    void SetTag(const CEmber_Tag& tag) { m_tag = tag; }

protected:
    CEager_Node() = default;
    CEager_Node(uint32_t classOctet, uint32_t number)
        : m_tag(CEmber_Tag::FromClass(classOctet, number))
    {}

private:
    friend class CEager_Container;
    friend class CEager_Set;

    CEmber_Tag m_tag;
    CEager_Container* m_parent = nullptr;
    CEager_Node* m_nextSibling = nullptr;
    CEager_Node* m_nextInBucket = nullptr;
};

// The octets of one library leaf.
class CEager_Leaf : public CEager_Node
{
public:
    explicit CEager_Leaf(const CEmber_Node& leaf);

    void Encode(std::vector<uint8_t>& out) const override;
    uint32_t GetEncodedLength() const override { return uint32_t(m_octets.size()); }
    int32_t GetType() const override { return m_type; }
    bool IsContainer() const override { return false; }

private:
    std::vector<uint8_t> m_octets;
    int32_t m_type;
};

class CEager_Container : public CEager_Node
{
public:
    static constexpr uint32_t kHeaderCacheSize = 17;

    CEager_Container(uint32_t classOctet, uint32_t number, CEager_Container* parent, int32_t type,
                     bool indefinite);
    CEager_Container();
    ~CEager_Container() override;

    void Encode(std::vector<uint8_t>& out) const override;
    uint32_t GetEncodedLength() const override { return m_encodedLength; }
    int32_t GetType() const override { return m_type; }
    bool IsContainer() const override { return true; }
    virtual bool RemoveChild(uint32_t classOctet, uint32_t number);
    virtual CEager_Node* FindChild(uint32_t classOctet, uint32_t number);
    virtual void AddChild(CEager_Node* child, bool update);

    void UpdateLength();
    void ChildLengthChanged(CEager_Node* child, uint32_t oldLength, uint32_t newLength);

    CEager_Node* GetFirstChild() const { return m_first; }
    uint32_t GetContentLength() const { return m_contentLength; }
    bool IsIndefinite() const { return m_indefinite; }
    const uint8_t* GetHeader() const { return m_header; }
    uint32_t GetHeaderLength() const { return m_headerLength; }
    void SetType(int32_t type) { m_type = type; }

protected:
    void RebuildHeader();
    CEager_Node* FindInList(const CEmber_Tag& tag) const;
    static void Link(CEager_Node* child, CEager_Container* parent) { child->m_parent = parent; }

    CEager_Node* m_first = nullptr;
    CEager_Node* m_last = nullptr;
    uint32_t m_contentLength = 0;
    uint32_t m_encodedLength = 0;
    uint32_t m_headerLength = 0;
    int32_t m_type = 0;
    bool m_indefinite = false;
    uint8_t m_header[kHeaderCacheSize] = {};
};

class CEager_Sequence : public CEager_Container
{
public:
    CEager_Sequence(uint32_t classOctet, uint32_t number, CEager_Container* parent)
        : CEager_Container(classOctet, number, parent, 16, true)
    {}
    CEager_Sequence() = default;
};

class CEager_Set : public CEager_Container
{
public:
    static constexpr uint32_t kBucketCount = 31;

    CEager_Set(uint32_t classOctet, uint32_t number, CEager_Container* parent, bool indexEnabled);
    CEager_Set() = default;

    bool RemoveChild(uint32_t classOctet, uint32_t number) override;
    CEager_Node* FindChild(uint32_t classOctet, uint32_t number) override;
    void AddChild(CEager_Node* child, bool update) override;

    bool IsIndexEnabled() const { return m_indexEnabled; }

protected:
    static uint32_t BucketOf(const CEmber_Tag& tag)
    {
        return ((uint32_t(tag.Octet()) << 24) ^ tag.Number()) % kBucketCount;
    }
    CEager_Node* FindInIndex(const CEmber_Tag& tag) const;
    void EnterInIndex(CEager_Node* child);
    void RemoveFromIndex(const CEmber_Tag& tag);
    void DropIndex();

    bool m_indexEnabled = true;
    CEager_Node* m_buckets[kBucketCount] = {};
};

class CEager_AdaptiveSet : public CEager_Set
{
public:
    CEager_AdaptiveSet(uint32_t classOctet, uint32_t number, CEager_Container* parent)
        : CEager_Set(classOctet, number, parent, true)
    {}
    void AddChild(CEager_Node* child, bool update) override;
};

// The root of every message: application 0xFFFFACDC; a child with the aside
// tag (application 0xFFFFACDD) is held aside, unlisted and uncounted.
class CEager_Root : public CEager_Sequence
{
public:
    CEager_Root();
    void AddChild(CEager_Node* child, bool update) override;
    CEager_Node* GetAsideChild() const { return m_aside.get(); }

private:
    std::unique_ptr<CEager_Node> m_aside;
};
