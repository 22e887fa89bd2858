// One table for every build: the Windows build converts with the system's
// FileTimeToSystemTime/SystemTimeToFileTime, the others with our own
// calendar arithmetic, and both must agree on every row.
#include "ember/ber/filetime.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

auto Tie(const EmberCalendarTime& f)
{
    return std::tie(f.year, f.month, f.dayOfWeek, f.day, f.hour, f.minute, f.second,
                    f.milliseconds);
}

struct Row
{
    const char* name;
    uint64_t time;
    EmberCalendarTime fields; // year, month, day of week (0 = Sunday), day, h, min, s, ms
    bool reversible;          // the fields convert back to exactly this time
};

const Row kRows[] = {
    {"time zero", 0, {1601, 1, 1, 1, 0, 0, 0, 0}, true},
    {"first millisecond", 10000, {1601, 1, 1, 1, 0, 0, 0, 1}, true},
    {"below one millisecond dropped", 9999, {1601, 1, 1, 1, 0, 0, 0, 0}, false},
    {"leap day 1604", 997056000000000, {1604, 2, 0, 29, 0, 0, 0, 0}, true},
    {"end of February 1700", 31292351999990000, {1700, 2, 0, 28, 23, 59, 59, 999}, true},
    {"1700 was no leap year", 31292352000000000, {1700, 3, 1, 1, 0, 0, 0, 0}, true},
    {"leap day 2000", 125962560000000000, {2000, 2, 2, 29, 0, 0, 0, 0}, true},
    {"2011-10-27 12:34:56.789", 129641924967890000, {2011, 10, 4, 27, 12, 34, 56, 789}, true},
    {"last four-digit year", 2650467743999990000, {9999, 12, 5, 31, 23, 59, 59, 999}, true},
    {"end of year 30827", 9223149887999990000u, {30827, 12, 5, 31, 23, 59, 59, 999}, true},
    {"just below 2^63", 0x7FFFFFFFFFFFFFFF, {30828, 9, 4, 14, 2, 48, 5, 477}, false},
};

TEST(FileTime, ConvertsBothWays)
{
    for (const auto& row : kRows) {
        SCOPED_TRACE(row.name);
        EmberCalendarTime fields;
        ASSERT_TRUE(FileTimeToCalendar(row.time, fields));
        EXPECT_EQ(Tie(fields), Tie(row.fields));
        if (!row.reversible)
            continue;
        fields.dayOfWeek = (fields.dayOfWeek + 3) % 7; // not looked at
        uint64_t time = 1;
        ASSERT_TRUE(CalendarToFileTime(fields, time));
        EXPECT_EQ(time, row.time);
    }
    for (uint64_t time : {uint64_t(1) << 63, ~uint64_t(0)}) {
        EmberCalendarTime fields;
        EXPECT_FALSE(FileTimeToCalendar(time, fields)) << time;
    }
}

TEST(FileTime, RefusesFieldsThatNameNoTime)
{
    struct Invalid
    {
        const char* name;
        EmberCalendarTime fields;
    };
    const Invalid rows[] = {
        {"control: valid fields", {2011, 10, 0, 27, 12, 34, 56, 789}},
        {"month 0", {2011, 0, 0, 27, 12, 34, 56, 789}},
        {"month 13", {2011, 13, 0, 27, 12, 34, 56, 789}},
        {"day 0", {2011, 10, 0, 0, 12, 34, 56, 789}},
        {"February 30", {2000, 2, 0, 30, 0, 0, 0, 0}},
        {"February 30 of a common year", {2011, 2, 0, 30, 0, 0, 0, 0}},
        {"April 31", {2011, 4, 0, 31, 0, 0, 0, 0}},
        {"hour 24", {2011, 10, 0, 27, 24, 0, 0, 0}},
        {"minute 60", {2011, 10, 0, 27, 12, 60, 0, 0}},
        {"second 60", {2011, 10, 0, 27, 12, 34, 60, 0}},
        {"1000 ms", {2011, 10, 0, 27, 12, 34, 56, 1000}},
        {"negative hour", {2011, 10, 0, 27, -1, 0, 0, 0}},
        {"year 1600", {1600, 12, 0, 31, 23, 59, 59, 999}},
        {"year 0", {0, 1, 0, 1, 0, 0, 0, 0}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        uint64_t time = 0;
        EXPECT_EQ(CalendarToFileTime(row.fields, time), &row == &rows[0]);
    }
}

} // namespace
