// The Windows half of docs/PARTNER.md against the real Korvane.exe: one
// session of a partner window, block by block (dwData, cbData, octets,
// results), as the document's table and transcript give them. The
// transcript is printed as it runs.
#include "tests/support/hex.h"
#include "tests/support/korvane_exe_win32.h"
#include "tests/support/run_program.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#if defined(KORVANE_EXE_PATH)

namespace {

using namespace testing_support;
using namespace testing_support::korvane_exe;

void Print(const char* direction, ULONG_PTR dwData, DWORD cbData, const Octets& octets)
{
    std::printf("%s dwData=0x%08X cbData=%u: %s\n", direction, unsigned(dwData), unsigned(cbData),
                ToHex(octets.data(), octets.size()).c_str());
}

// Sends one block from the partner window; the service's result.
LRESULT Send(HWND service, HWND partner, ULONG_PTR dwData, const Octets& octets)
{
    Print("partner -> service", dwData, DWORD(octets.size()), octets);
    COPYDATASTRUCT block = {};
    block.dwData = dwData;
    block.cbData = DWORD(octets.size());
    block.lpData = const_cast<uint8_t*>(octets.data());
    DWORD_PTR result = 0;
    EXPECT_NE(SendMessageTimeoutA(service, WM_COPYDATA, reinterpret_cast<WPARAM>(partner),
                                  reinterpret_cast<LPARAM>(&block), SMTO_NORMAL, kExeTimeoutMs,
                                  &result),
              0);
    std::printf("  result %u\n", unsigned(result));
    return LRESULT(result);
}

TEST(PartnerDocument, OneSessionBlockByBlock)
{
    KorvaneProcess korvane;
    ASSERT_TRUE(korvane.Start(NativePath(KORVANE_EXE_PATH), "D"));
    const HWND service = korvane.WaitForWindow("Korvane_D", "Korvane");
    ASSERT_NE(service, nullptr);
    PartnerWindow partner("TEST_RX");
    ASSERT_NE(partner.Handle(), nullptr);
    partner.onBlock = [&](const Block& block) {
        EXPECT_EQ(block.sender, service);
        Print("service -> partner", block.dwData, block.cbData, block.data);
    };

    // A command: its encoded block arrives before SendMessage returns.
    const std::string line = "1,2,3,4,5,100";
    Octets text = Bytes(line);
    text.push_back(0);
    EXPECT_EQ(Send(service, partner.Handle(), 0x0C670000, text), 1);
    std::vector<Block> blocks = partner.Take();
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].dwData, 0x0C690033u);
    EXPECT_EQ(blocks[0].cbData, 51u);
    const Octets encoded = blocks[0].data;

    // The console's answer: the same tree with a level 7 above it.
    const Octets answer = ParameterMessage(1, 2, 3, 4, 5, IntegerValue(100));
    EXPECT_EQ(Send(service, partner.Handle(), 0x0C680000 | answer.size(), answer), 1);
    blocks = partner.Take();
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].dwData, 0x0C6A000Eu); // "1,2,3,4,5,100" and its NUL
    EXPECT_EQ(blocks[0].cbData, 513u);
    EXPECT_EQ(blocks[0].Text(), "1,2,3,4,5,100");

    // The same answer again: the report equals the last one, nothing comes.
    EXPECT_EQ(Send(service, partner.Handle(), 0x0C680000 | answer.size(), answer), 1);
    EXPECT_TRUE(partner.Take().empty());

    // A keep-alive comes back as it was sent.
    const Octets keepAlive = EmptyRoot();
    EXPECT_EQ(Send(service, partner.Handle(), 0x0C68000D, keepAlive), 1);
    blocks = partner.Take();
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].dwData, 0x0C68000Du);
    EXPECT_EQ(blocks[0].data, keepAlive);

    // A line without a value: result 0, nothing comes.
    text = Bytes("1,2,3");
    text.push_back(0);
    EXPECT_EQ(Send(service, partner.Handle(), 0x0C670000, text), 0);
    EXPECT_TRUE(partner.Take().empty());
    EXPECT_EQ(korvane.UnhandledExceptions(), 0);
}

} // namespace

#endif
