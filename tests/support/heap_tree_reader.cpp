#include "tests/support/heap_tree_reader.h"

#include "ember/ber/framing.h"
#include "ember/tree/container.h"
#include "ember/tree/node_factory.h"

namespace testing_support {

void HeapStreamReader::ResetTree()
{
    m_root.reset();
    m_current = nullptr;
    m_treeComplete = false;
    m_nodeCount = 0;
    m_asideReturns.clear();
}

void HeapStreamReader::Reset()
{
    CEmber_Reader::Reset();
    ResetTree();
    m_matchPosition = 0;
}

std::unique_ptr<CEmber_Node> HeapStreamReader::MakeNode()
{
    return m_mode ? CreateNode(*this) : CreatePlainNode(*this);
}

void HeapStreamReader::LinkNode(CEmber_Node* node)
{
    if (++m_nodeCount > kEmberMaxMessageNodes)
        Raise(eeError_MessageTooLarge);
    m_current->AddChild(node, m_mode != 0);
}

void HeapStreamReader::OnContainerOpened()
{
    std::unique_ptr<CEmber_Node> node = MakeNode();
    if (m_treeComplete)
        ResetTree();
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

void HeapStreamReader::OnItemComplete()
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
    } else {
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
    if (m_treeComplete) {
        m_matchPosition = 0;
        StopRun();
    }
}

void HeapStreamReader::Feed(uint8_t octet)
{
    if (m_matchPosition >= 0) {
        if (octet != kEmberStartSequence[m_matchPosition]) {
            m_matchPosition = 0;
            return;
        }
        if (++m_matchPosition == int32_t(sizeof kEmberStartSequence)) {
            m_matchPosition = -1;
            FeedBlock(kEmberStartSequence, sizeof kEmberStartSequence);
        }
        return;
    }
    try {
        CEmber_Reader::Feed(octet);
    } catch (CEmber_Exception error) {
        OnError(error);
        Reset();
    }
}

void HeapStreamReader::FeedOctets(const uint8_t* octets, uint32_t length)
{
    while (length > 0) {
        uint32_t taken = 1;
        if (m_matchPosition >= 0) {
            HeapStreamReader::Feed(*octets);
        } else {
            try {
                taken = FeedRun(octets, length);
            } catch (CEmber_Exception error) {
                taken = GetRunConsumed();
                OnError(error);
                Reset();
            }
        }
        octets += taken;
        length -= taken;
    }
}

} // namespace testing_support
