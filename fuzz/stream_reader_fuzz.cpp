// libFuzzer target for the console reader: any octets, fed in blocks of
// random sizes, in either node mode.
//
// Input layout: the first octet selects the mode (bit 0: 1 encodable, 0
// plain) and seeds the block splitting (bits 1-7); the remaining octets are
// the console stream. Every decoded node is described, and every finished
// message is dumped and encoded again, so the tree code runs on whatever the
// reader builds. Nothing is asserted: the sanitizers judge.
#include "ember/ber/stream_reader.h"
#include "ember/tree/node.h"
#include "ember/values/output_buffer.h"
#include "ember/values/text_list.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

class FuzzReader : public CEmber_StreamReader
{
public:
    explicit FuzzReader(uint8_t mode) : CEmber_StreamReader(mode) {}

    void OnNodeOpened(CEmber_Node* node) override { m_sink += node->GetDescription().size(); }

    void OnNodeComplete(CEmber_Node* node) override
    {
        m_sink += node->GetDescription().size();
        if (node != GetRoot())
            return;
        CEmber_TextList dump;
        node->Dump(dump, 0);
        m_sink += dump.Join().size();
        CEmber_OutputBuffer out;
        node->Encode(out);
        m_sink += out.Used() + node->GetEncodedLength();
    }

    void OnError(const CEmber_Exception& error) override
    {
        m_sink += uint32_t(error.GetCode()) + error.GetMessage().size();
    }

    size_t Sink() const { return m_sink; }

private:
    size_t m_sink = 0;
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

    FuzzReader reader(control & 1);
    const uint8_t* octets = data + 1;
    size_t left = size - 1;
    while (left > 0) {
        random = random * 1664525u + 1013904223u;
        size_t block = 1 + (random >> 8) % maxBlock;
        if (block > left)
            block = left;
        reader.FeedBlock(octets, uint32_t(block));
        octets += block;
        left -= block;
    }
    // Keeps the work above from being optimised away.
    return reader.Sink() == size_t(-1) ? 1 : 0;
}
