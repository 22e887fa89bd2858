// The partner example (examples/partner) against the real Korvane.exe under
// Wine: its events, end to end over WM_COPYDATA. Every wait is bounded.
#include "tests/support/korvane_exe_win32.h"
#include "tests/support/run_program.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#if defined(KORVANE_EXE_PATH) && defined(KORVANE_PARTNER_EXAMPLE_PATH)

namespace {

using namespace testing_support;
using namespace testing_support::korvane_exe;

TEST(PartnerExample, TalksToKorvaneExe)
{
    KorvaneProcess korvane;
    ASSERT_TRUE(korvane.Start(NativePath(KORVANE_EXE_PATH), "X"));
    ASSERT_NE(korvane.WaitForWindow("Korvane_X", "Korvane"), nullptr);

    const ProgramResult result =
        RunProgram(NativePath(KORVANE_PARTNER_EXAMPLE_PATH), {"--service", "X"}, "", 30000);
    EXPECT_EQ(result.status, 0) << result.err;
    std::string out = result.out; // standard output in text mode: "\r\n"
    out.erase(std::remove(out.begin(), out.end(), '\r'), out.end());
    EXPECT_EQ(out, "service Korvane_X\nencoded 51 octets\nreport: 1,2,3,0,4,75\n"
                   "keep-alive echoed\n");
}

} // namespace

#endif
