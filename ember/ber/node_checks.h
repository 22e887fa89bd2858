// What the tree builder refuses beyond the framing, checked without nodes.
//
// A sink of the octet machine that makes no nodes, but must break a message
// off exactly where the tree-building reader does (the boundary scanner,
// the host's report extractor), keeps one of these beside the machine's
// open containers: it counts the nodes the factory would make (at most
// kEmberMaxMessageNodes, 114 located), keeps the tags of the children of
// every open keyed container (all but Sequences; a second child with a tag
// already there is 1001, unlocated, as CEmber_Set raises it) and runs the
// leaves' content rules (CheckLeaf, 201 to 208 and "EOF"). Each check is
// made at the hook, and in the order, where the tree builder makes it.
//
// Memory: one entry per open container and at most one tag per node of the
// open keyed containers.
#pragma once

#include "ember/ber/raw_item.h"

#include <cstddef>
#include <cstdint>
#include <unordered_set>
#include <vector>

class CEmber_NodeChecks
{
public:
    CEmber_NodeChecks();

    // From OnContainerOpened: the item's container becomes a node of the
    // open container (or the message's first node).
    void Opened(CEmber_RawItem& item);
    // From OnItemComplete of a value: the factory's checks; returns whether
    // it makes a leaf (then counted and its tag checked).
    bool ValueComplete(CEmber_RawItem& item);
    // From OnItemComplete of a container: the innermost open one closed.
    void Closed();
    void Reset();

    // Open containers.
    size_t GetDepth() const { return m_open.size(); }

private:
    struct Open
    {
        // Tags of its children numbered below 16, a bit for each of the
        // four classes' sixteen (most containers' children have such tags).
        uint64_t smallKeys;
        uint32_t keysBegin; // its other children's tags start here in m_keys
        bool keyed;         // refuses a second child with the same tag
    };

    void Link(CEmber_RawItem& item);
    // A tag numbered 16 or above: the list, or the set of a wide container.
    void LinkListed(const Open& parent, uint64_t key);
    [[noreturn]] static void RaiseDuplicate();

    std::vector<Open> m_open;
    uint32_t m_nodeCount = 0;
    // Child tags (numbered 16 and above) of the open keyed containers,
    // innermost last; with a set for the wide ones, one per open keyed
    // container that has grown that wide.
    std::vector<uint64_t> m_keys;
    std::vector<std::unordered_set<uint64_t>> m_wideKeys;
    std::vector<uint32_t> m_wideOwner; // depth of each set's container
};
