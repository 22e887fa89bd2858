// Builds a node tree from the elements the octet machine reads.
//
// Every container element becomes a node as soon as its inner length is
// complete, every value element a leaf when its content is complete, both
// made by the node factory in the mode fixed at construction (1 encodable,
// 0 plain; the same octet is the update flag of every AddChild). The reader
// owns the tree; a finished tree stays until the next outermost container
// has been made, so subclasses may keep pointers to its nodes until then.
//
// The nodes of a tree, and all they hold, live in one of the reader's two
// arenas (the next tree is made in the other while the finished one still
// stands), so dropping a tree is a rewind, not a walk: a tree to which a
// caller linked nodes of its own is destroyed node by node first.
#pragma once

#include "ember/ber/framing.h"
#include "ember/ber/reader.h"
#include "ember/tree/node.h"
#include "ember/tree/node_arena.h"

#include <cstdint>
#include <vector>

class CEmber_TreeReader : public CEmber_Reader
{
public:
    // Nodes in one tree (the framing's bound).
    static constexpr uint32_t kMaxMessageNodes = kEmberMaxMessageNodes;

    explicit CEmber_TreeReader(uint8_t mode);
    ~CEmber_TreeReader() override;

    void OnContainerOpened() override;
    void OnItemComplete() override;
    // Also deletes the tree.
    void Reset() override;

    // A container node was linked into the tree (or became its root).
    virtual void OnNodeOpened(CEmber_Node* /*node*/) {}
    // A leaf was added to its container, or a container closed; for the
    // root this means the whole tree has been read.
    virtual void OnNodeComplete(CEmber_Node* /*node*/) {}

    CEmber_Node* GetRoot() const { return m_root; }
    bool IsTreeComplete() const { return m_treeComplete; }
    uint8_t GetMode() const { return m_mode; }

protected:
    // Deletes the tree (finished or not): destroys it if a caller linked
    // nodes of its own into it, and rewinds its arena; the octet machine is
    // untouched. For a subclass that reads a message without building it.
    void DropTree() noexcept;

private:
    CEmber_Node* MakeNode(CEmber_NodeArena& arena);
    void LinkNode(CEmber_Node* node);

    // The arena of the tree being read or last read is m_arenas[m_arena].
    CEmber_NodeArena m_arenas[2];
    uint8_t m_arena = 0;
    CEmber_Node* m_root = nullptr;
    CEmber_Node* m_current = nullptr;
    uint8_t m_mode;
    bool m_treeComplete = false;
    uint32_t m_nodeCount = 0;
    // Containers that a root took aside (no parent link) return here when
    // they close: the container they were added to.
    std::vector<CEmber_Node*> m_asideReturns;
};
