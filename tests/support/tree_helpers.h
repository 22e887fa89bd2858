// Helpers shared by the tree and value tests: an output stream that records
// octets and flushes, node classes that count their live instances, and the
// usual "encode this node as hex text" shortcut.
#pragma once

#include "ember/tree/node.h"
#include "ember/values/output_stream.h"
#include "ember/values/text_list.h"
#include "tests/support/hex.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

// Keeps every octet and counts Flush calls, remembering how many octets had
// been written at the last one.
class RecordingStream : public CEmber_OutputStream
{
public:
    void WriteByte(uint8_t octet) override { octets.push_back(octet); }
    uint32_t Write(const uint8_t* data, uint32_t count) override
    {
        octets.insert(octets.end(), data, data + count);
        return count;
    }
    void Flush() override
    {
        ++flushes;
        flushedAt = octets.size();
    }

    std::vector<uint8_t> octets;
    int flushes = 0;
    size_t flushedAt = 0;
};

inline std::string EncodeToHex(const CEmber_Node& node)
{
    RecordingStream out;
    node.Encode(out);
    return ToHex(out.octets);
}

// A node class that adds one to `live` when built and takes one away when
// destroyed; with ASan a second destruction is caught as well.
template <typename Base>
class Counted : public Base
{
public:
    template <typename... Args>
    explicit Counted(int& live, Args&&... args) : Base(std::forward<Args>(args)...), m_live(live)
    {
        ++m_live;
    }
    ~Counted() override { --m_live; }

private:
    int& m_live;
};

// The pieces a text list holds, in order.
inline std::vector<std::string> Pieces(const CEmber_TextList& list)
{
    std::vector<std::string> pieces;
    for (size_t i = 0; i < list.PieceCount(); ++i)
        pieces.push_back(list.Piece(i));
    return pieces;
}

} // namespace testing_support
