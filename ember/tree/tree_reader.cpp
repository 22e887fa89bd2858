#include "ember/tree/tree_reader.h"

#include "ember/ber/exception.h"
#include "ember/tree/container.h"
#include "ember/tree/node_factory.h"

CEmber_TreeReader::CEmber_TreeReader(uint8_t mode) : m_mode(mode) {}

CEmber_TreeReader::~CEmber_TreeReader()
{
    CEmber_TreeReader::Reset();
}

void CEmber_TreeReader::DropTree() noexcept
{
    CEmber_NodeArena& arena = m_arenas[m_arena];
    if (arena.HasForeign())
        CEmber_Node::Destroy(m_root);
    arena.Rewind();
    m_root = nullptr;
    m_current = nullptr;
    m_treeComplete = false;
    m_nodeCount = 0;
    m_asideReturns.clear();
}

void CEmber_TreeReader::Reset()
{
    CEmber_Reader::Reset();
    DropTree();
}

CEmber_Node* CEmber_TreeReader::MakeNode(CEmber_NodeArena& arena)
{
    return m_mode ? CreateNodeInArena(*this, arena) : CreatePlainNodeInArena(*this, arena);
}

void CEmber_TreeReader::LinkNode(CEmber_Node* node)
{
    if (++m_nodeCount > kMaxMessageNodes)
        Raise(eeError_MessageTooLarge);
    m_current->AddChild(node, m_mode != 0);
}

void CEmber_TreeReader::OnContainerOpened()
{
    // A finished tree stands until the next one's first node is made.
    CEmber_Node* opened = MakeNode(m_arenas[m_treeComplete ? m_arena ^ 1 : m_arena]);
    if (m_treeComplete) {
        DropTree();
        m_arena ^= 1;
    }
    if (!m_root) {
        m_root = opened;
        m_nodeCount = 1;
    } else {
        LinkNode(opened);
        if (!opened->GetParent())
            m_asideReturns.push_back(m_current);
    }
    m_current = opened;
    OnNodeOpened(opened);
}

void CEmber_TreeReader::OnItemComplete()
{
    if (IsConstructed()) {
        CEmber_Node* closed = m_current;
        OnNodeComplete(closed);
        if (closed == m_root) {
            m_treeComplete = true;
            m_current = nullptr;
        } else if (closed->GetParent()) {
            m_current = closed->GetParent();
        } else {
            m_current = m_asideReturns.back();
            m_asideReturns.pop_back();
        }
        return;
    }

    if (!m_current)
        Raise(eeError_ValueOutsideContainer);
    CEmber_Node* added = MakeNode(m_arenas[m_arena]);
    if (!added)
        return;
    LinkNode(added);
    OnNodeComplete(added);
}
