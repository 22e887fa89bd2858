// The stream reader as it built its trees before they moved into arenas:
// every node made with new by the heap factory, held by a unique_ptr root,
// destroyed node by node when the tree is dropped. Kept as the reference
// the reader's arena trees are held to (hooks, dumps, encodings, errors).
#pragma once

#include "ember/ber/exception.h"
#include "ember/ber/reader.h"
#include "ember/tree/node.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace testing_support {

class HeapStreamReader : public CEmber_Reader
{
public:
    explicit HeapStreamReader(uint8_t mode) : m_mode(mode) {}
    ~HeapStreamReader() override { HeapStreamReader::Reset(); }

    void OnContainerOpened() override;
    void OnItemComplete() override;
    void Feed(uint8_t octet) override;
    void Reset() override;

    virtual void OnNodeOpened(CEmber_Node* /*node*/) {}
    virtual void OnNodeComplete(CEmber_Node* /*node*/) {}
    void OnError(const CEmber_Exception& /*error*/) override {}

    CEmber_Node* GetRoot() const { return m_root.get(); }
    bool IsTreeComplete() const { return m_treeComplete; }
    uint8_t GetMode() const { return m_mode; }

protected:
    void FeedOctets(const uint8_t* octets, uint32_t length) override;

private:
    std::unique_ptr<CEmber_Node> MakeNode();
    void LinkNode(CEmber_Node* node);
    void ResetTree();

    std::unique_ptr<CEmber_Node> m_root;
    CEmber_Node* m_current = nullptr;
    uint8_t m_mode;
    bool m_treeComplete = false;
    uint32_t m_nodeCount = 0;
    std::vector<CEmber_Node*> m_asideReturns;
    int32_t m_matchPosition = 0;
};

} // namespace testing_support
