// libFuzzer target for the console reader: any octets, fed in blocks of
// random sizes, in either node mode.
//
// Input layout: the first octet selects the mode (bit 0: 1 encodable, 0
// plain) and seeds the block splitting (bits 1-7); the remaining octets are
// the console stream. Every decoded node is described, and every finished
// message is dumped and encoded again, so the tree code runs on whatever the
// reader builds. The same octets are fed once more one Feed call at a time:
// block feeding reads whole elements in one step and must give exactly the
// same events, errors and encodings (the target aborts otherwise).
//
// Both readers also build the same tree in the eager reference model
// (tests/support/eager_tree.h) from their hooks: every completed node's
// encoded length and every finished message's encoding must agree with it.
// A third reader, the reference that builds its trees on the heap
// (tests/support/heap_tree_reader.h), takes the same blocks and must give
// the same log as the reader whose trees live in arenas.
#include "ember/ber/output_buffer.h"
#include "ember/ber/text_list.h"
#include "ember/tree/container.h"
#include "ember/tree/root.h"
#include "ember/tree/set.h"
#include "ember/tree/stream_reader.h"
#include "tests/support/eager_tree.h"
#include "tests/support/heap_tree_reader.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

template <typename Base>
class FuzzReader : public Base
{
public:
    explicit FuzzReader(uint8_t mode) : Base(mode) {}

    void OnNodeOpened(CEmber_Node* node) override
    {
        m_log += "open " + node->GetDescription() + "\n";
        MirrorOpened(node);
    }

    void OnNodeComplete(CEmber_Node* node) override
    {
        m_log += "done " + node->GetDescription() + " " + std::to_string(node->GetEncodedLength()) +
                 "\n";
        MirrorCompleted(node);
        if (node != this->GetRoot())
            return;
        CEmber_TextList dump;
        node->Dump(dump, 0);
        m_log += dump.Join();
        CEmber_OutputBuffer out;
        node->Encode(out);
        m_log.append(reinterpret_cast<const char*>(out.Data()), out.Used());
    }

    void OnError(const CEmber_Exception& error) override
    {
        m_log += "error " + std::to_string(error.GetCode()) + " " + error.GetMessage() + "\n";
    }

    void Reset() override
    {
        Base::Reset();
        m_refs.clear();
        m_open.clear();
        m_refRoot.reset();
    }

    const std::string& Log() const { return m_log; }

private:
    CEager_Container* MakeRef(const CEmber_Node* node) const
    {
        const CEmber_Tag tag = node->GetTag();
        const bool root = dynamic_cast<const CEmber_Root*>(node) != nullptr;
        const bool set = dynamic_cast<const CEmber_Set*>(node) != nullptr;
        if (this->GetMode()) {
            if (root)
                return new CEager_Root;
            if (set)
                return new CEager_Set(tag.Octet(), tag.Number(), nullptr, true);
            return new CEager_Sequence(tag.Octet(), tag.Number(), nullptr);
        }
        CEager_Container* ref = root  ? new CEager_Root
                                : set ? static_cast<CEager_Container*>(new CEager_Set)
                                      : new CEager_Sequence;
        ref->SetType(node->GetType());
        ref->SetTag(tag);
        return ref;
    }

    void MirrorAdd(CEmber_Node* node, CEager_Node* ref)
    {
        if (m_open.empty()) {
            m_refs.clear();
            m_refRoot.reset(ref);
        } else {
            static_cast<CEager_Container*>(m_refs.at(m_open.back()))
                ->AddChild(ref, this->GetMode() != 0);
        }
        m_refs[node] = ref;
    }

    void MirrorOpened(CEmber_Node* node)
    {
        MirrorAdd(node, MakeRef(node));
        m_open.push_back(node);
    }

    void MirrorCompleted(CEmber_Node* node)
    {
        if (node->IsContainer())
            m_open.pop_back();
        else
            MirrorAdd(node, new CEager_Leaf(*node));
        const CEager_Node* ref = m_refs.at(node);
        if (ref->GetEncodedLength() != node->GetEncodedLength()) {
            std::fprintf(stderr, "encoded length %u differs from the eager model's %u: %s\n",
                         node->GetEncodedLength(), ref->GetEncodedLength(),
                         node->GetDescription().c_str());
            std::abort();
        }
        if (node != this->GetRoot())
            return;
        std::vector<uint8_t> expected;
        ref->Encode(expected);
        CEmber_OutputBuffer out;
        node->Encode(out);
        if (expected != std::vector<uint8_t>(out.Data(), out.Data() + out.Used())) {
            std::fprintf(stderr, "encoding differs from the eager model's\n");
            std::abort();
        }
    }

    std::string m_log;
    // The eager mirror of the tree being read.
    std::unordered_map<const CEmber_Node*, CEager_Node*> m_refs;
    std::vector<CEmber_Node*> m_open;
    std::unique_ptr<CEager_Node> m_refRoot;
};

// Largest block for each seed class: single octets, small and large blocks.
constexpr uint32_t kMaxBlock[8] = {1, 2, 3, 7, 16, 64, 512, 4096};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t control = data[0];
    const uint32_t maxBlock = kMaxBlock[(control >> 1) & 7];
    uint32_t random = 0x9E3779B9u ^ control;

    FuzzReader<CEmber_StreamReader> reader(control & 1);
    FuzzReader<testing_support::HeapStreamReader> heap(control & 1);
    const uint8_t* octets = data + 1;
    size_t left = size - 1;
    while (left > 0) {
        random = random * 1664525u + 1013904223u;
        size_t block = 1 + (random >> 8) % maxBlock;
        if (block > left)
            block = left;
        reader.FeedBlock(octets, uint32_t(block));
        heap.FeedBlock(octets, uint32_t(block));
        octets += block;
        left -= block;
    }

    if (heap.Log() != reader.Log()) {
        std::fprintf(stderr, "arena trees differ from heap trees\n--- heap:\n%s\n--- arena:\n%s\n",
                     heap.Log().c_str(), reader.Log().c_str());
        std::abort();
    }

    FuzzReader<CEmber_StreamReader> byOctet(control & 1);
    for (size_t i = 1; i < size; ++i)
        byOctet.Feed(data[i]);
    if (byOctet.Log() != reader.Log()) {
        std::fprintf(stderr, "block feeding differs from Feed\n--- Feed:\n%s\n--- blocks:\n%s\n",
                     byOctet.Log().c_str(), reader.Log().c_str());
        std::abort();
    }
    return 0;
}
