// Checks the toolchain assumptions the codec relies on, on every build
// (native, sanitized and the Windows cross build under Wine).
#include <gtest/gtest.h>

#include <cinttypes>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

namespace {

TEST(BuildSmoke, PointersAre64Bit)
{
    EXPECT_EQ(sizeof(void*), 8u);
}

TEST(BuildSmoke, Int64MinimumFormatsWithPRId64)
{
    char buffer[32] = {};
    const std::int64_t value = std::numeric_limits<std::int64_t>::min();
    const int written = std::snprintf(buffer, sizeof buffer, "%" PRId64, value);
    ASSERT_EQ(written, 20);
    EXPECT_EQ(std::string(buffer), "-9223372036854775808");
}

TEST(BuildSmoke, TwosComplementAndByteWidth)
{
    EXPECT_EQ(CHAR_BIT, 8);
    EXPECT_EQ(static_cast<std::uint8_t>(static_cast<std::int8_t>(-1)), 0xFFu);
    EXPECT_EQ(static_cast<std::int32_t>(0xFFFFFF80u), -128);
}

} // namespace
