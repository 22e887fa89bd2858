// One table of blocks in and blocks out that every transport between a
// partner and the service must carry exactly: the in-process loopback, the
// POSIX message layer between processes (`korvane serve`) and Korvane.exe.
// The rules behind the answers are proven at the dispatcher; these cases
// show that a transport delivers the blocks, their dwData and cbData, the
// dispatch results and the answers, in order, to the sender.
//
// The cases run one after the other on one service and one partner window;
// each ends with the reader waiting for a message, and their reports differ,
// so no case depends on another.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

struct TransportBlock
{
    uintptr_t dwData = 0;
    std::vector<uint8_t> octets; // cbData is their number
};

struct TransportSend
{
    TransportBlock block;
    intptr_t result = 1; // the dispatch result
};

struct TransportCase
{
    std::string name;
    std::vector<TransportSend> in;
    std::vector<TransportBlock> out; // what the partner receives, in order
};

const std::vector<TransportCase>& TransportCases();

// Runs every case: `send` delivers one block from the partner window to the
// service and returns the dispatch result; `take` returns the blocks the
// partner window received since its last call (with the service as their
// sender). Failures name the case.
void RunTransportCases(const std::function<intptr_t(const TransportBlock&)>& send,
                       const std::function<std::vector<TransportBlock>()>& take);

} // namespace testing_support
