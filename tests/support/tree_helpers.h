// Helpers shared by the tree and value tests.
#pragma once

#include "ember/ber/output_stream.h"
#include "ember/ber/text_list.h"
#include "ember/tree/node.h"
#include "tests/support/hex.h"

#include <string>
#include <utility>
#include <vector>

namespace testing_support {

// Keeps every octet; counts Flush calls and where the last one happened.
class RecordingStream : public CEmber_OutputStream
{
public:
    void WriteByte(uint8_t octet) override { octets.push_back(octet); }
    uint32_t Write(const uint8_t* data, uint32_t count) override
    {
        octets.insert(octets.end(), data, data + count);
        return count;
    }
    void Flush() override { ++flushes, flushedAt = octets.size(); }

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

// A node class that counts its live instances in `live`.
template <typename Base>
class Counted : public Base
{
public:
    template <typename... Args>
    explicit Counted(int& live, Args&&... args) : Base(std::forward<Args>(args)...), m_live(++live)
    {}
    ~Counted() override { --m_live; }

private:
    int& m_live;
};

inline std::vector<std::string> Pieces(const CEmber_TextList& list)
{
    std::vector<std::string> pieces;
    for (size_t i = 0; i < list.PieceCount(); ++i)
        pieces.push_back(list.Piece(i));
    return pieces;
}

} // namespace testing_support
