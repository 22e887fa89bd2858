// Conversion between the 64-bit time value (100-nanosecond intervals since
// 1601-01-01 00:00:00 UTC, proleptic Gregorian) and calendar fields.
//
// The Windows build uses FileTimeToSystemTime/SystemTimeToFileTime; other
// builds carry the same conversion, with the same accepted ranges, so both
// give identical results.
#pragma once

#include <cstdint>

struct EmberCalendarTime
{
    int32_t year = 0;
    int32_t month = 0;     // 1..12
    int32_t dayOfWeek = 0; // 0 = Sunday; ignored by CalendarToFileTime
    int32_t day = 0;       // 1..31
    int32_t hour = 0;
    int32_t minute = 0;
    int32_t second = 0;
    int32_t milliseconds = 0;
};

// False for times at or above 2^63 intervals; the part below one
// millisecond is dropped.
bool FileTimeToCalendar(uint64_t time, EmberCalendarTime& fields);

// False when the fields name no valid time (year 1601..30827, month 1..12,
// day within the month, hour < 24, minute < 60, second < 60, ms < 1000).
bool CalendarToFileTime(const EmberCalendarTime& fields, uint64_t& time);
