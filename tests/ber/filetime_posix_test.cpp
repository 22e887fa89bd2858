// Our own calendar conversion refuses a day the month does not have. (Wine's
// SystemTimeToFileTime takes February 29 of a common year for March 1, so
// this row is not part of the table shared with the Windows build.)
#include "ember/ber/filetime.h"

#include <gtest/gtest.h>

namespace {

TEST(FileTime, RefusesFebruary29OfACommonYear)
{
    uint64_t time = 0;
    EXPECT_TRUE(CalendarToFileTime({2000, 2, 0, 29, 0, 0, 0, 0}, time));
    EXPECT_FALSE(CalendarToFileTime({1700, 2, 0, 29, 0, 0, 0, 0}, time));
    EXPECT_FALSE(CalendarToFileTime({2011, 2, 0, 29, 0, 0, 0, 0}, time));
}

} // namespace
