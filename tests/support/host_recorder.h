// The loopback host and partner as the host tests use them: a report reader
// that records what it produced and caught, a partner that copies every
// block it receives, and a capture of the host's trace lines.
#pragma once

#include "host/host_state.h"
#include "host/loopback.h"
#include "host/report_reader.h"
#include "tests/support/codec_error.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

// A report reader that keeps what it produced and what it caught, in order,
// and still sends every report to its window.
class RecordingReader : public CReportReader
{
public:
    void OnError(const CEmber_Exception& error) override
    {
        errors.emplace_back(error.GetCode(), ErrorMessage(error));
    }

    // Lines handed to SendReport, before the host's filtering, and the
    // console text of each (empty for an integer report).
    std::vector<std::string> produced;
    std::vector<std::string> consoleTexts;
    std::vector<std::pair<int32_t, std::string>> errors;

protected:
    void SendReport(const char* line) override
    {
        produced.emplace_back(line);
        consoleTexts.emplace_back(GetReportConsoleText() ? GetReportConsoleText() : "");
        CReportReader::SendReport(line);
    }
};

// A loopback host with a recording reader. Throws std::runtime_error when
// the window cannot be created.
class HostWindow
{
public:
    HostWindow();

    HWND Handle() const { return m_host.Handle(); }

    RecordingReader reader;

private:
    CLoopbackHost m_host;

public:
    CHostState& state;
};

// One WM_COPYDATA block as the partner received it, copied while it was
// valid.
struct ReceivedBlock
{
    HWND sender = nullptr;
    uintptr_t dwData = 0;
    uint32_t cbData = 0;
    std::vector<uint8_t> octets;

    // The text of a BLOCK_REPORT, up to its NUL.
    std::string ReportText() const;
};

// A loopback partner that copies every block it receives. Throws
// std::runtime_error when the window cannot be created.
class PartnerWindow
{
public:
    PartnerWindow();

    HWND Handle() const { return m_partner.Handle(); }

    // Sends one WM_COPYDATA block from this window; the dispatch result.
    LRESULT Send(HWND to, uintptr_t dwData, const void* data, uint32_t cbData);
    // A BLOCK_COMMAND with the text and its NUL (cbData = size + 1).
    LRESULT SendCommand(HWND to, const std::string& text);
    // A BLOCK_CONSOLE_DATA whose length field and cbData are the size.
    LRESULT SendConsole(HWND to, const std::vector<uint8_t>& octets);

    // Texts of the BLOCK_REPORT blocks received, in order.
    std::vector<std::string> Reports() const;

    std::vector<ReceivedBlock> blocks;
    // Runs after each received block has been logged.
    std::function<void(const ReceivedBlock&)> onBlock;

private:
    CLoopbackPartner m_partner;
};

// Collects every host trace line while it lives.
class TraceCapture
{
public:
    TraceCapture();
    ~TraceCapture();
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    std::vector<std::string> lines;

private:
    HostTraceSink m_previous;
};

} // namespace testing_support
