#include "host/loopback.h"

#include "protocol/protocol.h"
#include "tests/support/ember_messages.h"
#include "tests/support/hex.h"
#include "tests/support/transport_cases.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace testing_support;

TEST(Loopback, ConsoleBlocksAreNeverThirteenOctets)
{
    struct Row
    {
        size_t remaining;
        size_t chunk;
        uint32_t length;
    };
    const Row rows[] = {
        {100, 4096, 100},
        {100, 7, 7},
        {13, 4096, 12},
        {13, 13, 12},
        {14, 13, 12},
        {12, 4096, 12},
        {14, 14, 14},
        {1, 1, 1},
        {5, 0, 1},
        {0, 4096, 0},
        {70000, 70000, 0xFFFF},
        {70000, 4096, 4096},
        {0x10000, 0xFFFF, 0xFFFF},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.remaining) + " by " + std::to_string(row.chunk));
        EXPECT_EQ(ConsoleBlockLength(row.remaining, row.chunk), row.length);
    }
}

TEST(Loopback, ConsoleDataIsSentInBlocksThatAddUp)
{
    for (size_t chunk : {1u, 2u, 7u, 13u, 14u, 26u, 4096u}) {
        SCOPED_TRACE(chunk);
        const std::vector<uint8_t> octets(53, 0x55);
        std::vector<uint32_t> lengths;
        CLoopbackPartner partner;
        CLoopbackPartner receiver;
        ASSERT_TRUE(partner.Ok() && receiver.Ok()) << partner.Error() << receiver.Error();
        receiver.onBlock = [&](HWND sender, const COPYDATASTRUCT& block) {
            EXPECT_EQ(sender, partner.Handle());
            EXPECT_EQ(BlockKind(block.dwData), BLOCK_CONSOLE_DATA);
            EXPECT_EQ(BlockLength(block.dwData), block.cbData);
            lengths.push_back(block.cbData);
        };
        partner.SendConsole(receiver.Handle(), octets.data(), octets.size(), chunk);
        EXPECT_EQ(std::accumulate(lengths.begin(), lengths.end(), size_t(0)), octets.size());
        for (uint32_t length : lengths) {
            EXPECT_NE(length, KEEP_ALIVE_LENGTH);
            EXPECT_LE(length, chunk);
        }
    }
}

// Each host reaches its own state through its window: two at once answer
// their own partners.
TEST(Loopback, TwoHostsAtOnceKeepTheirOwnState)
{
    CReportReader firstReader;
    CReportReader secondReader;
    CLoopback first(firstReader);
    CLoopback second(secondReader);
    ASSERT_TRUE(first.Ok()) << first.Error();
    ASSERT_TRUE(second.Ok()) << second.Error();
    std::vector<std::string> firstSeen;
    std::vector<std::string> secondSeen;
    const auto record = [](std::vector<std::string>& seen) {
        return [&seen](HWND, const COPYDATASTRUCT& block) {
            const auto* octets = static_cast<const uint8_t*>(block.lpData);
            seen.push_back(BlockKind(block.dwData) == BLOCK_REPORT
                               ? std::string(static_cast<const char*>(block.lpData))
                               : ToHex(std::vector<uint8_t>(octets, octets + block.cbData)));
        };
    };
    first.Partner().onBlock = record(firstSeen);
    second.Partner().onBlock = record(secondSeen);

    const std::vector<uint8_t> report =
        Message({Ctx(7, {Ctx(1, {Ctx(2, {Ctx(3, {Ctx(4, {Prv(5, {IntValue(7)})})})})})})});
    EXPECT_EQ(first.SendCommand("1,2,3,4,5,100"), 1);
    second.SendConsole(report.data(), report.size(), 4096);
    second.SendConsole(report.data(), report.size(), 5);
    EXPECT_EQ(first.State().partnerWindow, first.Partner().Handle());
    EXPECT_EQ(second.State().partnerWindow, second.Partner().Handle());
    ASSERT_EQ(firstSeen.size(), 1u);
    EXPECT_EQ(firstSeen[0].substr(0, 38), "7F 8F FF FE D9 5C 80 30 80 00 00 00 00");
    EXPECT_EQ(secondSeen, std::vector<std::string>({"1,2,3,4,5,7"}));
    EXPECT_EQ(first.State().consoles[0]->lastReport[0], '\0');
    EXPECT_STREQ(second.State().consoles[0]->lastReport, "1,2,3,4,5,7");
}

// The transport table (tests/support/transport_cases.h) within one process.
TEST(Loopback, CarriesEveryTransportCase)
{
    CReportReader reader;
    CLoopback loop(reader);
    ASSERT_TRUE(loop.Ok()) << loop.Error();
    std::vector<TransportBlock> received;
    loop.Partner().onBlock = [&](HWND sender, const COPYDATASTRUCT& block) {
        EXPECT_EQ(sender, loop.Host().Handle());
        const auto* octets = static_cast<const uint8_t*>(block.lpData);
        received.push_back({block.dwData, std::vector<uint8_t>(octets, octets + block.cbData)});
    };
    RunTransportCases(
        [&](const TransportBlock& block) {
        return intptr_t(loop.Partner().Send(loop.Host().Handle(), block.dwData, block.octets.data(),
                                            uint32_t(block.octets.size())));
        },
        [&] { return std::exchange(received, {}); });
}

} // namespace
