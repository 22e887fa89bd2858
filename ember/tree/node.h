// The abstract node of an Ember tree.
//
// Every node has its own tag (class bits and number, never the constructed
// bit once stored) and a non-owning link to the container that holds it. The
// virtual operations below keep one slot order in every node class:
// destructor, Encode, GetEncodedLength, GetType, IsContainer, RemoveChild,
// FindChild, GetChildren, Dump, AddChild, GetFirstChildPosition,
// GetNextChild, GetChildAt, GetDescription, Describe. Container-only
// operations on a leaf raise code 3 "Not a container".
//
// Memory: a node made with new lives in the thread's node pool and is
// destroyed by delete (its container does this); a node of a decoded tree
// lives in its reader's arena (GetArena() not null) and goes with the tree.
// Destroy takes either kind.
//
// Iteration: pos = GetFirstChildPosition(); while (pos) child =
// GetNextChild(pos); visits children in insertion order, zero times on a
// leaf. Positions stay valid while the child list is not changed.
#pragma once

#include "ember/ber/tag.h"
#include "ember/tree/node_pool.h"

#include <cstdint>
#include <string>

class CEmber_Container;
class CEmber_OutputStream;
class CEmber_TextList;
class CEmber_ChildList;
class CEmber_NodeArena;

// Opaque place in a container's child list; nullptr means none.
using EmberPosition = void*;

class CEmber_Node
{
public:
    CEmber_Node(const CEmber_Node&) = delete;
    CEmber_Node& operator=(const CEmber_Node&) = delete;

    virtual ~CEmber_Node() = default;

    // Nodes live in the thread's node pool.
    static void* operator new(size_t size) { return CEmber_NodePool::AllocateNode(size); }
    static void operator delete(void* block, size_t size) noexcept
    {
        CEmber_NodePool::ReleaseNode(block, size);
    }

    // Destroys a node of either kind: delete for one made with new, the
    // destructor alone for one in an arena (its memory goes with the
    // arena). nullptr does nothing.
    static void Destroy(CEmber_Node* node) noexcept
    {
        if (!node)
            return;
        if (node->m_arena)
            node->~CEmber_Node();
        else
            delete node;
    }

    // Writes the node's encoding (cached octets only).
    virtual void Encode(CEmber_OutputStream& out) const = 0;
    virtual uint32_t GetEncodedLength() const = 0;
    // Universal type number of the node.
    virtual int32_t GetType() const = 0;
    virtual bool IsContainer() const = 0;
    // Removes and destroys the first child with that tag; false if none.
    virtual bool RemoveChild(uint32_t classOctet, uint32_t number) = 0;
    // The child with that tag, or nullptr.
    virtual CEmber_Node* FindChild(uint32_t classOctet, uint32_t number) = 0;
    virtual const CEmber_ChildList& GetChildren() const = 0;
    // Appends the XML-like dump of this node (and its children) at level.
    virtual void Dump(CEmber_TextList& list, int32_t level) const = 0;
    // Appends child and takes ownership; on a throw the child stays the
    // caller's. update = false leaves the cached header as it was.
    virtual void AddChild(CEmber_Node* child, bool update) = 0;
    virtual EmberPosition GetFirstChildPosition() const { return nullptr; }
    virtual CEmber_Node* GetNextChild(EmberPosition& /*position*/) const { return nullptr; }
    virtual CEmber_Node* GetChildAt(EmberPosition /*position*/) const { return nullptr; }
    // "Tag: C-1 Type: 17, Set" (without ", name" for a type without name).
    virtual std::string GetDescription() const;
    virtual void Describe(std::string& text) const;

    const CEmber_Tag& GetTag() const { return m_tag; }
    CEmber_Container* GetParent() const { return m_parent; }
    // The arena the node lives in (and takes its storage from), or nullptr.
    CEmber_NodeArena* GetArena() const { return m_arena; }

    // Only the factory's plain mode sets a tag after construction.
    void SetTag(const CEmber_Tag& tag);

    // Typed children: a CEmber_Integer32 / CEmber_UTF8String added with
    // update; exceptions of AddChild pass unchanged and nothing is added.
    void AddIntegerChild(uint32_t classOctet, uint32_t number, int32_t value);
    void AddStringChild(uint32_t classOctet, uint32_t number, const char* text);
    // True and the value when the child with that tag is a 32-bit Integer
    // leaf; false otherwise, the out value untouched.
    bool GetIntegerChild(uint32_t classOctet, uint32_t number, int32_t& value);
    // True and the leaf's own text (not a copy) when the child with that tag
    // is a UTF8String leaf holding text.
    bool GetStringChild(uint32_t classOctet, uint32_t number, char*& text);

protected:
    CEmber_Node() = default;
    CEmber_Node(uint32_t classOctet, uint32_t number)
        : m_tag(CEmber_Tag::FromClass(classOctet, number))
    {}

private:
    friend class CEmber_Container;
    friend class CEmber_ChildList;
    friend class CEmber_Set;
    friend class CEmber_AdaptiveSet;
    friend class CEmber_NodeArena;

    CEmber_Tag m_tag;
    CEmber_Container* m_parent = nullptr;
    CEmber_NodeArena* m_arena = nullptr;
    // Link owned by the holding container's child list.
    CEmber_Node* m_nextSibling = nullptr;
};

// The ordered, owning child list of a container, linked through the nodes.
class CEmber_ChildList
{
public:
    CEmber_Node* First() const { return m_first; }
    CEmber_Node* Last() const { return m_last; }
    static CEmber_Node* Next(const CEmber_Node* node) { return node->m_nextSibling; }
    uint32_t Count() const { return m_count; }
    bool IsEmpty() const { return m_count == 0; }

private:
    friend class CEmber_Container;

    void Append(CEmber_Node* node)
    {
        node->m_nextSibling = nullptr;
        if (m_last)
            m_last->m_nextSibling = node;
        else
            m_first = node;
        m_last = node;
        ++m_count;
    }
    // Unlinks node, whose predecessor is previous (nullptr for the first).
    void Unlink(CEmber_Node* previous, CEmber_Node* node);

    CEmber_Node* m_first = nullptr;
    CEmber_Node* m_last = nullptr;
    uint32_t m_count = 0;
};
