// The console framer as it was before the boundary scanner: it follows the
// stream with the tree-building stream reader, fed octet by octet. Kept as
// the reference the framer is held to (blocks, keep-alives, dropped octets)
// and as the baseline of the framer benchmark.
#pragma once

#include "partner/console_framer.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class CEmber_StreamReader;

namespace testing_support {

class TreeFramer
{
public:
    using Block = CConsoleFramer::Block;

    TreeFramer();
    ~TreeFramer();

    void Push(const uint8_t* octets, size_t size, std::vector<Block>& out);
    size_t Break();
    size_t Held() const { return m_pending.size() + m_candidate.size(); }

private:
    bool Waiting() const;
    void Track(uint8_t octet, std::vector<Block>& out);
    void Flush(std::vector<Block>& out);

    std::unique_ptr<CEmber_StreamReader> m_tracker;
    std::vector<uint8_t> m_pending;
    std::vector<uint8_t> m_candidate;
};

} // namespace testing_support
