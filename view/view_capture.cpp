#include "view/view_capture.h"

#include "ember/ber/exception.h"
#include "host/loopback.h"
#include "host/report_reader.h"
#include "protocol/protocol.h"

#include <algorithm>

namespace {

class CaptureReader : public CReportReader
{
public:
    explicit CaptureReader(CViewState& state) : m_state(state) {}

    uint64_t messages = 0;

protected:
    // Whole messages only (a container its root took aside has no parent
    // either, but is none).
    void OnMessageComplete() override { ++messages; }
    void OnError(const CEmber_Exception& error) override
    {
        m_state.Log("error",
                    "error " + std::to_string(error.GetCode()) + ": " + error.GetMessage());
    }
    void SendReport(const char* line) override
    {
        m_state.ApplyReport(line);
        CReportReader::SendReport(line);
    }

private:
    CViewState& m_state;
};

} // namespace

bool DecodeCaptureInto(const std::vector<uint8_t>& octets, CViewState& state, std::string& error)
{
    CaptureReader reader(state);
    CLoopback host(reader);
    if (!host.Ok()) {
        error = host.Error();
        return false;
    }
    host.SendConsole(octets.data(), octets.size(), 4096);
    state.CountConsole(reader.messages, octets.size());
    return true;
}
