#include "ember/ber/filetime.h"

#include <windows.h>

bool FileTimeToCalendar(uint64_t time, EmberCalendarTime& fields)
{
    FILETIME fileTime;
    fileTime.dwLowDateTime = DWORD(time);
    fileTime.dwHighDateTime = DWORD(time >> 32);
    SYSTEMTIME systemTime;
    if (!FileTimeToSystemTime(&fileTime, &systemTime))
        return false;
    fields.year = systemTime.wYear;
    fields.month = systemTime.wMonth;
    fields.dayOfWeek = systemTime.wDayOfWeek;
    fields.day = systemTime.wDay;
    fields.hour = systemTime.wHour;
    fields.minute = systemTime.wMinute;
    fields.second = systemTime.wSecond;
    fields.milliseconds = systemTime.wMilliseconds;
    return true;
}

bool CalendarToFileTime(const EmberCalendarTime& fields, uint64_t& time)
{
    // SYSTEMTIME holds 16-bit fields: refuse what would wrap before asking.
    if (fields.year < 0 || fields.year > 0xFFFF || fields.month < 0 || fields.month > 0xFFFF ||
        fields.day < 0 || fields.day > 0xFFFF || fields.hour < 0 || fields.hour > 0xFFFF ||
        fields.minute < 0 || fields.minute > 0xFFFF || fields.second < 0 ||
        fields.second > 0xFFFF || fields.milliseconds < 0 || fields.milliseconds > 0xFFFF)
        return false;
    SYSTEMTIME systemTime;
    systemTime.wYear = WORD(fields.year);
    systemTime.wMonth = WORD(fields.month);
    systemTime.wDayOfWeek = 0;
    systemTime.wDay = WORD(fields.day);
    systemTime.wHour = WORD(fields.hour);
    systemTime.wMinute = WORD(fields.minute);
    systemTime.wSecond = WORD(fields.second);
    systemTime.wMilliseconds = WORD(fields.milliseconds);
    FILETIME fileTime;
    if (!SystemTimeToFileTime(&systemTime, &fileTime))
        return false;
    time = (uint64_t(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime;
    return true;
}
