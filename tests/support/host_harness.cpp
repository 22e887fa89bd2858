#include "tests/support/host_harness.h"

#include "host/dispatcher.h"
#include "host/protocol.h"

#include <algorithm>
#include <cstring>

namespace testing_support {

HostWindow::HostWindow()
    : m_window(UniqueWindowName("host"), [this](HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
          return HostDispatch(state, window, message, wParam, lParam);
      })
{
    state.hostWindow = m_window.Handle();
    state.reader = &reader;
    reader.Bind(m_window.Handle());
}

std::string ReceivedBlock::ReportText() const
{
    const auto nul = std::find(octets.begin(), octets.end(), uint8_t(0));
    return std::string(octets.begin(), nul);
}

PartnerWindow::PartnerWindow(const char* prefix)
    : m_window(UniqueWindowName(prefix), [this](HWND, UINT message, WPARAM wParam,
                                                LPARAM lParam) -> LRESULT {
          if (message != WM_COPYDATA)
              return 0;
          const auto* block = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
          ReceivedBlock copy;
          copy.sender = reinterpret_cast<HWND>(wParam);
          copy.dwData = block->dwData;
          copy.cbData = block->cbData;
          if (block->lpData && block->cbData) {
              const auto* octets = static_cast<const uint8_t*>(block->lpData);
              copy.octets.assign(octets, octets + block->cbData);
          }
          blocks.push_back(copy);
          if (onBlock)
              onBlock(copy);
          return 1;
      })
{
}

LRESULT PartnerWindow::Send(HWND to, uintptr_t dwData, const void* data, uint32_t cbData)
{
    COPYDATASTRUCT block = {};
    block.dwData = dwData;
    block.cbData = cbData;
    block.lpData = const_cast<void*>(data);
    return SendMessageA(to, WM_COPYDATA, reinterpret_cast<WPARAM>(Handle()),
                        reinterpret_cast<LPARAM>(&block));
}

LRESULT PartnerWindow::SendCommand(HWND to, const std::string& text)
{
    return Send(to, MakeDwData(BLOCK_COMMAND, 0), text.c_str(), uint32_t(text.size() + 1));
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
