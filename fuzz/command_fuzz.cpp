// Command lines from anywhere: parse, build and encode the tree, then read
// the block back and check that re-encoding the decoded tree gives the same
// octets (the encoder and the reader must agree on every shape).

#include "ember/ber/output_buffer.h"
#include "ember/tree/stream_reader.h"
#include "host/command_parser.h"
#include "host/command_tree.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

class CapturingReader : public CEmber_StreamReader
{
public:
    CapturingReader() : CEmber_StreamReader(1) {}
    void OnNodeComplete(CEmber_Node* node) override
    {
        if (node == GetRoot()) {
            CEmber_OutputBuffer buffer;
            node->Encode(buffer);
            encoded.assign(buffer.Data(), buffer.Data() + buffer.Used());
            ++trees;
        }
    }
    void OnError(const CEmber_Exception&) override { ++errors; }
    std::vector<uint8_t> encoded;
    int trees = 0;
    int errors = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CCommandRecord record;
    const ParseResult result =
        ParseCommand(reinterpret_cast<const char*>(data), size, record, nullptr);
    if (result != ParseResult::Value)
        return 0;
    CEmber_OutputBuffer block;
    if (!EncodeCommand(record, block))
        return 0;

    CapturingReader reader;
    reader.FeedBlock(block.Data(), block.Used());
    constexpr uint32_t kEmptyRoot = KEEP_ALIVE_LENGTH;
    if (reader.errors != 0 || reader.trees != 2 || block.Used() <= kEmptyRoot ||
        reader.encoded.size() != block.Used() - kEmptyRoot ||
        std::memcmp(reader.encoded.data(), block.Data() + kEmptyRoot, reader.encoded.size()) != 0)
        std::abort();
    return 0;
}
