#include "ember/ber/time_codec.h"

#include "tests/support/ber_helpers.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr uint64_t kMs = 10000; // intervals of 100 ns in one millisecond
constexpr uint64_t k20111027_123456 = 129641924960000000;

std::string Encode(uint64_t time, int32_t* count = nullptr)
{
    CEmber_OutputBuffer out;
    const int32_t written = EncodeGeneralizedTime(out, time);
    if (count)
        *count = written;
    return std::string(reinterpret_cast<const char*>(out.Data()), out.Used());
}

uint64_t Decode(const std::string& text)
{
    CEmber_MemoryStream in(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
    const uint64_t time = DecodeGeneralizedTime(in, uint32_t(text.size()));
    EXPECT_EQ(in.Position(), text.size()) << "every content octet is read";
    return time;
}

TEST(TimeCodec, EncodesAndReadsBack)
{
    struct Row
    {
        const char* name;
        uint64_t time;
        const char* text;
    };
    const Row rows[] = {
        {"milliseconds 789", k20111027_123456 + 789 * kMs, "20111027123456.789Z"},
        {"milliseconds 50", k20111027_123456 + 50 * kMs, "20111027123456.50Z"},
        {"milliseconds 5", k20111027_123456 + 5 * kMs, "20111027123456.5Z"},
        {"whole second", k20111027_123456, "20111027123456.0Z"},
        {"time zero", 0, "16010101000000.0Z"},
        {"leap day", 125962560000000000, "20000229000000.0Z"},
        {"last four-digit year", 2650467743999990000, "99991231235959.999Z"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        int32_t count = -1;
        EXPECT_EQ(Encode(row.time, &count), row.text);
        EXPECT_EQ(size_t(count), std::string(row.text).size());
        EXPECT_EQ(Decode(row.text), row.time);
    }
}

TEST(TimeCodec, EncodingEdges)
{
    EXPECT_EQ(Encode(k20111027_123456 + 789 * kMs + 9999), "20111027123456.789Z");
    int32_t count = -1;
    EXPECT_EQ(Encode(0x7FFFFFFFFFFFFFFF, &count), "308280914024805.477Z"); // every year digit
    EXPECT_EQ(count, 20);
    for (uint64_t refused : {uint64_t(1) << 63, ~uint64_t(0)}) {
        EXPECT_EQ(Encode(refused, &count), "");
        EXPECT_EQ(count, 0);
    }
}

TEST(TimeCodec, DecodesWithScanfRules)
{
    struct Row
    {
        const char* name;
        std::string text;
        uint64_t time;
    };
    const Row rows[] = {
        {"control", "20111027123456.789Z", k20111027_123456 + 789 * kMs},
        {"no fraction reads 0 ms", "20111027123456Z", k20111027_123456},
        {"fraction with leading zeros", "20111027123456.005Z", k20111027_123456 + 5 * kMs},
        {"time-zone offset not applied", "20111027123456.789+0200", k20111027_123456 + 789 * kMs},
        {"octets after Z ignored", "20111027123456.1Z" + std::string(30, 'x'),
         k20111027_123456 + kMs},
        // Only the first 31 octets take part: the fraction is cut after its 5.
        {"text longer than 31 octets", "20111027123456." + std::string(15, '0') + "57Z",
         k20111027_123456 + 5 * kMs},
        {"month 13", "20111327123456.0Z", 0},
        {"February 30", "20110230123456.0Z", 0},
        {"September 31", "20110931000000.0Z", 0},
        {"hour 24", "20111027243456.0Z", 0},
        {"1000 ms", "20111027123456.1000Z", 0},
        {"negative ms", "20111027123456.-5Z", 0},
        {"year before 1601", "16001231235959.999Z", 0},
        {"year only", "2011", 0},
        {"not a time", "yesterday", 0},
        {"empty", "", 0},
        {"five-digit year does not read back", "308280914024805.477Z", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Decode(row.text), row.time);
    }
    const std::string text = "2011";
    CEmber_MemoryStream in(reinterpret_cast<const uint8_t*>(text.data()), 4);
    EXPECT_TRUE(testing_support::RaisesEof([&] { DecodeGeneralizedTime(in, 5); }));
}

} // namespace
