// The host as the benchmarks drive it: a host window whose procedure is the
// real dispatcher with its report reader, and a partner window that counts
// the blocks it receives, both in this process.
#pragma once

#include "host/dispatcher.h"
#include "host/protocol.h"
#include "host/report_reader.h"
#include "winapi.h"

#include <algorithm>
#include <cstdint>
#include <string>

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
    Harness()
    {
        const std::string suffix = std::to_string(++Serial());
        Current() = this;
        m_partner = CreateMessageWindow(("BENCH_PARTNER_" + suffix).c_str(), PartnerProc);
        m_state.hostWindow = CreateMessageWindow(("BENCH_HOST_" + suffix).c_str(), HostProc);
        m_state.partnerWindow = m_partner;
        m_state.reader = &m_reader;
        m_reader.Bind(m_state.hostWindow);
    }

    ~Harness()
    {
        DestroyWindow(m_state.hostWindow);
        DestroyWindow(m_partner);
        ClearQuitRequest();
        Current() = nullptr;
    }

    // Hands the octets to the dispatcher as console blocks of `block`
    // octets (a 13-octet block would be a keep-alive: it is split).
    void Feed(const uint8_t* data, size_t size, uint32_t block)
    {
        size_t at = 0;
        while (at < size) {
            uint32_t length = uint32_t(std::min<size_t>(block, size - at));
            if (length == KEEP_ALIVE_LENGTH)
                length = KEEP_ALIVE_LENGTH - 1;
            COPYDATASTRUCT copy;
            copy.dwData = MakeDwData(BLOCK_CONSOLE_DATA, length);
            copy.cbData = length;
            copy.lpData = const_cast<uint8_t*>(data + at);
            HostDispatch(m_state, m_state.hostWindow, WM_COPYDATA, WPARAM(m_partner), LPARAM(&copy));
            at += length;
        }
    }

    uint64_t Nodes() const { return m_reader.nodes; }
    uint64_t Reports() const { return m_reader.reports; }
    uint64_t Forwarded() const { return m_forwarded; }

private:
    static Harness*& Current()
    {
        static Harness* current = nullptr;
        return current;
    }
    static uint64_t& Serial()
    {
        static uint64_t serial = 0;
        return serial;
    }

    static LRESULT HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        return HostDispatch(Current()->m_state, window, message, wParam, lParam);
    }

    static LRESULT PartnerProc(HWND, UINT message, WPARAM, LPARAM lParam)
    {
        if (message == WM_COPYDATA) {
            const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            if (BlockKind(copy->dwData) == BLOCK_REPORT)
                ++Current()->m_forwarded;
        }
        return 1;
    }

    CHostState m_state;
    CountingReportReader m_reader;
    HWND m_partner = nullptr;
    uint64_t m_forwarded = 0;
};

} // namespace bench_host
