#include "ember/tree/tree_reader.h"

#include "ember/ber/exception.h"
#include "ember/tree/container.h"
#include "ember/tree/node_factory.h"

CEmber_TreeReader::CEmber_TreeReader(uint8_t mode) : m_mode(mode) {}

CEmber_TreeReader::~CEmber_TreeReader()
{
    CEmber_TreeReader::Reset();
}

void CEmber_TreeReader::Reset()
{
    CEmber_Reader::Reset();
    DropTree();
}

void CEmber_TreeReader::DropTree()
{
    m_root.reset();
    m_current = nullptr;
    m_treeComplete = false;
    m_nodeCount = 0;
    m_asideReturns.clear();
}

std::unique_ptr<CEmber_Node> CEmber_TreeReader::MakeNode()
{
    return m_mode ? CreateNode(*this) : CreatePlainNode(*this);
}

void CEmber_TreeReader::LinkNode(CEmber_Node* node)
{
    if (++m_nodeCount > kMaxMessageNodes)
        Raise(eeError_MessageTooLarge);
    m_current->AddChild(node, m_mode != 0);
}

void CEmber_TreeReader::OnContainerOpened()
{
    std::unique_ptr<CEmber_Node> node = MakeNode();
    if (m_treeComplete)
        DropTree();
    CEmber_Node* opened = node.get();
    if (!m_root) {
        m_root = std::move(node);
        m_nodeCount = 1;
    } else {
        LinkNode(opened);
        node.release();
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
        if (closed == m_root.get()) {
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
    std::unique_ptr<CEmber_Node> leaf = MakeNode();
    if (!leaf)
        return;
    CEmber_Node* added = leaf.get();
    LinkNode(added);
    leaf.release();
    OnNodeComplete(added);
}
