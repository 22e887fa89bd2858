// libFuzzer target for the console simulator's command handling and the
// link's framer: any octets from two clients, split into blocks of random
// sizes. The first octet seeds the splitting; the rest is the stream.
// Every answer and announcement the simulator writes must read back as a
// message of the library's reader, and the framer must hand on the stream
// unchanged apart from the keep-alives it takes out (the target aborts
// otherwise).
#include "console/console_simulator.h"
#include "ember/tree/stream_reader.h"
#include "partner/console_framer.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

class CountingReader : public CEmber_StreamReader
{
public:
    CountingReader() : CEmber_StreamReader(1) {}
    void OnNodeComplete(CEmber_Node* node) override
    {
        if (node == GetRoot())
            ++messages;
    }
    void OnError(const CEmber_Exception&) override { ++errors; }
    int messages = 0;
    int errors = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    uint32_t seed = data[0];
    ++data;
    --size;
    auto next = [&seed](uint32_t limit) {
        seed = seed * 1103515245u + 12345u;
        return 1 + (seed >> 16) % limit;
    };

    CParameterStore store;
    CConsoleSimulator simulator(store, 7);
    simulator.onSend = [](CConsoleSimulator::ClientId, CConsoleSimulator::OutputKind,
                          const std::vector<uint8_t>& message) {
        CountingReader reader;
        reader.FeedBlock(message.data(), uint32_t(message.size()));
        if (reader.messages != 1 || reader.errors != 0)
            std::abort();
    };
    const auto first = simulator.Connect("a");
    const auto second = simulator.Connect("b");
    CConsoleFramer framer;
    std::vector<CConsoleFramer::Block> blocks;
    for (size_t at = 0; at < size;) {
        const size_t part = std::min<size_t>(next(64), size - at);
        simulator.Receive((seed & 0x100) ? first : second, data + at, part);
        framer.Push(data + at, part, blocks);
        at += part;
        if ((seed & 0x7000) == 0)
            simulator.KeepAlive(first);
    }
    size_t handed = framer.Held();
    for (const auto& block : blocks) {
        if (block.octets.size() > CConsoleFramer::kMaxBlock ||
            (block.octets.size() == KEEP_ALIVE_LENGTH) != block.keepAlive)
            std::abort();
        handed += block.octets.size();
    }
    if (handed != size)
        std::abort();
    simulator.Disconnect(first, "");
    return 0;
}
