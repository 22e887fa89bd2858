#include "tests/support/tree_framer.h"

#include "console/console_tree.h"
#include "ember/tree/stream_reader.h"

namespace testing_support {

TreeFramer::TreeFramer() : m_tracker(std::make_unique<CEmber_StreamReader>(1)) {}

TreeFramer::~TreeFramer() = default;

bool TreeFramer::Waiting() const
{
    return m_tracker->GetMatchPosition() >= 0;
}

void TreeFramer::Push(const uint8_t* octets, size_t size, std::vector<Block>& out)
{
    const std::vector<uint8_t>& keepAlive = KeepAliveOctets();
    for (size_t i = 0; i < size; ++i) {
        const uint8_t octet = octets[i];
        if (!m_candidate.empty() || (Waiting() && octet == keepAlive[0])) {
            if (octet == keepAlive[m_candidate.size()]) {
                m_candidate.push_back(octet);
                if (m_candidate.size() == CConsoleFramer::kKeepAliveLength) {
                    Flush(out);
                    out.push_back(Block{true, std::move(m_candidate)});
                    m_candidate.clear();
                }
                continue;
            }
            std::vector<uint8_t> replay = std::move(m_candidate);
            m_candidate.clear();
            for (uint8_t held : replay)
                Track(held, out);
            if (Waiting() && octet == keepAlive[0]) {
                m_candidate.push_back(octet);
                continue;
            }
        }
        Track(octet, out);
    }
    if (Waiting() && m_candidate.empty())
        Flush(out);
}

void TreeFramer::Track(uint8_t octet, std::vector<Block>& out)
{
    const bool inMessage = !Waiting();
    m_pending.push_back(octet);
    m_tracker->Feed(octet);
    if (inMessage && Waiting())
        Flush(out);
}

void TreeFramer::Flush(std::vector<Block>& out)
{
    CConsoleFramer::Split(m_pending.data(), m_pending.size(), out);
    m_pending.clear();
}

size_t TreeFramer::Break()
{
    const size_t dropped = Held();
    m_pending.clear();
    m_candidate.clear();
    m_tracker = std::make_unique<CEmber_StreamReader>(1);
    return dropped;
}

} // namespace testing_support
