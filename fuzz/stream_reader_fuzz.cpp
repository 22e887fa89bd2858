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
#include "ember/ber/stream_reader.h"
#include "ember/tree/node.h"
#include "ember/values/output_buffer.h"
#include "ember/values/text_list.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

class FuzzReader : public CEmber_StreamReader
{
public:
    explicit FuzzReader(uint8_t mode) : CEmber_StreamReader(mode) {}

    void OnNodeOpened(CEmber_Node* node) override
    {
        m_log += "open " + node->GetDescription() + "\n";
    }

    void OnNodeComplete(CEmber_Node* node) override
    {
        m_log += "done " + node->GetDescription() + " " + std::to_string(node->GetEncodedLength()) + "\n";
        if (node != GetRoot())
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

    const std::string& Log() const { return m_log; }

private:
    std::string m_log;
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

    FuzzReader byOctet(control & 1);
    for (size_t i = 1; i < size; ++i)
        byOctet.Feed(data[i]);
    if (byOctet.Log() != reader.Log()) {
        std::fprintf(stderr, "block feeding differs from Feed\n--- Feed:\n%s\n--- blocks:\n%s\n",
                     byOctet.Log().c_str(), reader.Log().c_str());
        std::abort();
    }
    return 0;
}
