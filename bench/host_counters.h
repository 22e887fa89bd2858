// The loopback host as the benchmarks drive it, counting what it does: the
// nodes the reader builds, the reports it produces and the reports the
// partner receives.
#pragma once

#include "host/loopback.h"
#include "host/report_reader.h"
#include "protocol/protocol.h"

#include <cstddef>
#include <cstdint>

namespace bench_host {

class CountingReportReader : public CReportReader
{
public:
    void OnNodeOpened(CEmber_Node*) override { ++nodes; }
    void OnNodeComplete(CEmber_Node* node) override
    {
        if (!node->IsContainer())
            ++nodes;
        CReportReader::OnNodeComplete(node);
    }
    void SendReport(const char* line) override
    {
        ++reports;
        CReportReader::SendReport(line);
    }
    uint64_t nodes = 0;
    uint64_t reports = 0;
};

class Harness
{
public:
    Harness() : m_loopback(m_reader)
    {
        m_loopback.Partner().onBlock = [this](HWND, const COPYDATASTRUCT& block) {
            if (BlockKind(block.dwData) == BLOCK_REPORT)
                ++m_forwarded;
        };
    }

    // Hands the octets to the host as console blocks of `block` octets (see
    // ConsoleBlockLength).
    void Feed(const uint8_t* data, size_t size, uint32_t block)
    {
        m_loopback.SendConsole(data, size, block);
    }

    uint64_t Nodes() const { return m_reader.nodes; }
    uint64_t Reports() const { return m_reader.reports; }
    uint64_t Forwarded() const { return m_forwarded; }

private:
    CountingReportReader m_reader;
    CLoopback m_loopback;
    uint64_t m_forwarded = 0;
};

} // namespace bench_host
