#include "ember/ber/filetime.h"

namespace {

constexpr uint64_t kIntervalsPerMs = 10000;
constexpr uint64_t kMsPerDay = 86400000;
// Days from 0000-03-01 (proleptic Gregorian) to 1601-01-01.
constexpr int64_t kEpochDays = 584694;

bool IsLeap(int64_t year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int32_t DaysInMonth(int64_t year, int32_t month)
{
    static const int32_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// Days since 0000-03-01 of a civil date (years counted from March).
int64_t DaysFromCivil(int64_t year, int32_t month, int32_t day)
{
    year -= month <= 2;
    const int64_t era = year / 400;
    const int64_t yoe = year - era * 400;
    const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe;
}

} // namespace

bool FileTimeToCalendar(uint64_t time, EmberCalendarTime& fields)
{
    if (time >= (uint64_t(1) << 63))
        return false;
    const uint64_t totalMs = time / kIntervalsPerMs;
    const int64_t days = int64_t(totalMs / kMsPerDay);
    const uint64_t msOfDay = totalMs % kMsPerDay;

    const int64_t z = days + kEpochDays;
    const int64_t era = z / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int32_t day = int32_t(doy - (153 * mp + 2) / 5 + 1);
    const int32_t month = int32_t(mp < 10 ? mp + 3 : mp - 9);
    const int64_t year = yoe + era * 400 + (month <= 2);

    fields.year = int32_t(year);
    fields.month = month;
    fields.day = day;
    // 1601-01-01 was a Monday.
    fields.dayOfWeek = int32_t((days + 1) % 7);
    fields.hour = int32_t(msOfDay / 3600000);
    fields.minute = int32_t(msOfDay / 60000 % 60);
    fields.second = int32_t(msOfDay / 1000 % 60);
    fields.milliseconds = int32_t(msOfDay % 1000);
    return true;
}

bool CalendarToFileTime(const EmberCalendarTime& fields, uint64_t& time)
{
    if (fields.year < 1601 || fields.year > 30827 || fields.month < 1 || fields.month > 12 ||
        fields.day < 1 || fields.day > DaysInMonth(fields.year, fields.month) || fields.hour < 0 ||
        fields.hour > 23 || fields.minute < 0 || fields.minute > 59 || fields.second < 0 ||
        fields.second > 59 || fields.milliseconds < 0 || fields.milliseconds > 999)
        return false;
    const int64_t days = DaysFromCivil(fields.year, fields.month, fields.day) - kEpochDays;
    const uint64_t ms = uint64_t(days) * kMsPerDay + uint64_t(fields.hour) * 3600000 +
                        uint64_t(fields.minute) * 60000 + uint64_t(fields.second) * 1000 +
                        uint64_t(fields.milliseconds);
    time = ms * kIntervalsPerMs;
    return true;
}
