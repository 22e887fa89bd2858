#include "partner/console_framer.h"

#include "ember/ber/boundary_scanner.h"
#include "protocol/protocol.h"

#include <algorithm>

CConsoleFramer::CConsoleFramer() : m_tracker(std::make_unique<CEmber_BoundaryScanner>()) {}

CConsoleFramer::~CConsoleFramer() = default;

bool CConsoleFramer::Waiting() const
{
    return m_tracker->IsWaiting();
}

void CConsoleFramer::Push(const uint8_t* octets, size_t size, std::vector<Block>& out)
{
    const auto& keepAlive = kKeepAliveOctets;
    for (size_t i = 0; i < size; ++i) {
        if (!Waiting()) {
            // Inside a message (nothing is held as a keep-alive candidate
            // then): up to its end in one go.
            const size_t taken = m_tracker->Scan(octets + i, size - i);
            m_pending.insert(m_pending.end(), octets + i, octets + i + taken);
            i += taken - 1;
            if (Waiting())
                Flush(out);
            continue;
        }
        const uint8_t octet = octets[i];
        if (!m_candidate.empty() || (Waiting() && octet == keepAlive[0])) {
            if (octet == keepAlive[m_candidate.size()]) {
                m_candidate.push_back(octet);
                if (m_candidate.size() == kKeepAliveLength) {
                    Flush(out);
                    out.push_back(Block{true, std::move(m_candidate)});
                    m_candidate.clear();
                }
                continue;
            }
            // Not a keep-alive: the held octets go their ordinary way. None of
            // them after the first can begin another keep-alive.
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

void CConsoleFramer::Track(uint8_t octet, std::vector<Block>& out)
{
    const bool inMessage = !Waiting();
    m_pending.push_back(octet);
    m_tracker->Feed(octet);
    // A message ended (read whole, or broken off by an error).
    if (inMessage && Waiting())
        Flush(out);
}

void CConsoleFramer::Flush(std::vector<Block>& out)
{
    Split(m_pending.data(), m_pending.size(), out);
    m_pending.clear();
}

size_t CConsoleFramer::Break()
{
    const size_t dropped = Held();
    m_pending.clear();
    m_candidate.clear();
    m_tracker = std::make_unique<CEmber_BoundaryScanner>();
    return dropped;
}

void CConsoleFramer::Split(const uint8_t* octets, size_t size, std::vector<Block>& out)
{
    size_t offset = 0;
    while (offset < size) {
        const size_t part = ConsoleBlockLength(size - offset, kMaxBlock);
        out.push_back(Block{false, std::vector<uint8_t>(octets + offset, octets + offset + part)});
        offset += part;
    }
}
