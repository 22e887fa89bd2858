// Shared pieces of the console tests: the host's own block for a command
// line, and a simulator whose output and log are recorded.
#pragma once

#include "console/console_simulator.h"
#include "ember/ber/output_buffer.h"
#include "host/command_parser.h"
#include "host/command_tree.h"

#include <cstring>
#include <string>
#include <vector>

namespace console_testing {

// The BLOCK_ENCODED octets the host sends for a command line (empty when it
// sends nothing).
inline std::vector<uint8_t> HostBlock(const std::string& line)
{
    CCommandRecord record;
    if (ParseCommand(line.c_str(), line.size(), record, nullptr) != ParseResult::Value)
        return {};
    CEmber_OutputBuffer out;
    if (!EncodeCommand(record, out))
        return {};
    return std::vector<uint8_t>(out.Data(), out.Data() + out.Used());
}

struct Sent
{
    CConsoleSimulator::ClientId client;
    CConsoleSimulator::OutputKind kind;
    std::vector<uint8_t> message;
};

class RecordingSimulator
{
public:
    explicit RecordingSimulator(uint32_t top = 7) : simulator(store, top)
    {
        simulator.onSend = [this](CConsoleSimulator::ClientId client,
                                  CConsoleSimulator::OutputKind kind,
                                  const std::vector<uint8_t>& message) {
            sent.push_back({client, kind, message});
        };
        simulator.onLog = [this](const std::string& line) { log.push_back(line); };
    }

    size_t Feed(CConsoleSimulator::ClientId client, const std::vector<uint8_t>& octets)
    {
        return simulator.Receive(client, octets.data(), octets.size());
    }

    CParameterStore store;
    CConsoleSimulator simulator;
    std::vector<Sent> sent;
    std::vector<std::string> log;
};

} // namespace console_testing
