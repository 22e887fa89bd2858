// The progress line of the codec subcommands, with a made-up clock.
#include "tools/korvane/output/progress_meter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr uint64_t kMiB = uint64_t(1) << 20;

struct Fixture
{
    double now = 100.0;
    int clockReads = 0;
    std::vector<std::string> written;

    ProgressMeter Meter(uint64_t total, bool enabled)
    {
        return ProgressMeter(
            "decode", total, enabled, [this](const std::string& text) { written.push_back(text); },
            [this] {
            ++clockReads;
            return now;
            },
            0.25);
    }
};

TEST(ProgressMeterTest, WantedOnlyOnATerminalAboveTheThreshold)
{
    EXPECT_FALSE(ProgressMeter::Wanted(ProgressMeter::kThreshold, true));
    EXPECT_TRUE(ProgressMeter::Wanted(ProgressMeter::kThreshold + 1, true));
    EXPECT_FALSE(ProgressMeter::Wanted(ProgressMeter::kThreshold + 1, false));
    EXPECT_FALSE(ProgressMeter::Wanted(0, true));
}

TEST(ProgressMeterTest, DisabledWritesNothing)
{
    Fixture f;
    ProgressMeter meter = f.Meter(96 * kMiB, false);
    for (uint64_t done = 0; done <= 96 * kMiB; done += kMiB) {
        f.now += 1;
        meter.Update(done, 1, 0);
    }
    meter.Finish(96 * kMiB, 1, 0);
    EXPECT_TRUE(f.written.empty());
    EXPECT_EQ(f.clockReads, 0);
}

TEST(ProgressMeterTest, LineText)
{
    Fixture f;
    ProgressMeter meter = f.Meter(96 * kMiB, true);
    EXPECT_EQ(meter.Line(48 * kMiB, 1, 2, 2.0),
              "korvane decode: 48.0 of 96.0 MiB (50%), 1 message, 2 errors, 24.0 MiB/s");
    EXPECT_EQ(meter.Line(0, 0, 1, 0.0),
              "korvane decode: 0.0 of 96.0 MiB (0%), 0 messages, 1 error, 0.0 MiB/s");
}

TEST(ProgressMeterTest, ShownAtMostEveryIntervalAndFinishedOnce)
{
    Fixture f;
    ProgressMeter meter = f.Meter(96 * kMiB, true);
    const int readsAtStart = f.clockReads;

    // Less than a check's worth of octets: the clock is not even read.
    meter.Update(kMiB - 1, 0, 0);
    EXPECT_EQ(f.clockReads, readsAtStart);

    // Enough octets but too soon: nothing shown.
    f.now += 0.1;
    meter.Update(kMiB, 0, 0);
    EXPECT_TRUE(f.written.empty());

    f.now += 0.9; // one second after the start
    meter.Update(8 * kMiB, 3, 1);
    ASSERT_EQ(f.written.size(), 1u);
    EXPECT_EQ(f.written[0],
              "\rkorvane decode: 8.0 of 96.0 MiB (8%), 3 messages, 1 error, 8.0 MiB/s\x1b[K");

    f.now += 1.0;
    meter.Finish(96 * kMiB, 7, 1);
    meter.Finish(96 * kMiB, 7, 1);
    ASSERT_EQ(f.written.size(), 2u);
    EXPECT_EQ(f.written[1],
              "\rkorvane decode: 96.0 of 96.0 MiB (100%), 7 messages, 1 error, 48.0 MiB/s\x1b[K\n");
}

} // namespace
