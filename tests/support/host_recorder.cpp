#include "tests/support/host_recorder.h"

#include "protocol/protocol.h"

#include <algorithm>
#include <stdexcept>

namespace testing_support {

HostWindow::HostWindow() : m_host(reader), state(m_host.State())
{
    if (!m_host.Ok())
        throw std::runtime_error(m_host.Error());
}

std::string ReceivedBlock::ReportText() const
{
    const auto nul = std::find(octets.begin(), octets.end(), uint8_t(0));
    return std::string(octets.begin(), nul);
}

PartnerWindow::PartnerWindow()
{
    if (!m_partner.Ok())
        throw std::runtime_error(m_partner.Error());
    m_partner.onBlock = [this](HWND sender, const COPYDATASTRUCT& block) {
        ReceivedBlock copy;
        copy.sender = sender;
        copy.dwData = block.dwData;
        copy.cbData = block.cbData;
        if (block.lpData && block.cbData) {
            const auto* octets = static_cast<const uint8_t*>(block.lpData);
            copy.octets.assign(octets, octets + block.cbData);
        }
        blocks.push_back(copy);
        if (onBlock)
            onBlock(copy);
    };
}

LRESULT PartnerWindow::Send(HWND to, uintptr_t dwData, const void* data, uint32_t cbData)
{
    return m_partner.Send(to, dwData, data, cbData);
}

LRESULT PartnerWindow::SendCommand(HWND to, const std::string& text)
{
    return m_partner.SendCommand(to, text);
}

LRESULT PartnerWindow::SendConsole(HWND to, const std::vector<uint8_t>& octets)
{
    return Send(to, MakeDwData(BLOCK_CONSOLE_DATA, uint32_t(octets.size())), octets.data(),
                uint32_t(octets.size()));
}

std::vector<std::string> PartnerWindow::Reports() const
{
    std::vector<std::string> reports;
    for (const ReceivedBlock& block : blocks)
        if (BlockKind(block.dwData) == BLOCK_REPORT)
            reports.push_back(block.ReportText());
    return reports;
}

TraceCapture::TraceCapture()
{
    m_previous = SetHostTraceSink([this](const char* line) { lines.emplace_back(line); });
}

TraceCapture::~TraceCapture()
{
    SetHostTraceSink(std::move(m_previous));
}

} // namespace testing_support
