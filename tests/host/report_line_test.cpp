#include "host/report_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The formatter must give exactly what snprintf gives for the two report
// layouts, and refuse (-1) whatever does not fit, for every field size.
TEST(ReportLine, MatchesPrintfForEveryFieldSize)
{
    const int32_t values[] = {0, 1, -1, 9, 10, -10, 99, 100, 12345, -12345, INT32_MAX, INT32_MIN};
    const char* texts[] = {"", "a", "Main~out", "0123456789012345678901234567890123456789"};
    for (int32_t a : values) {
        for (int32_t b : values) {
            for (const char* text : texts) {
                char expected[160];
                const int full = std::snprintf(expected, sizeof expected, "%d,%d,%d,%d,%d,%d%s", a,
                                               b, b, a, b, a, text);
                for (size_t size = 0; size <= size_t(full) + 2; ++size) {
                    char out[160];
                    std::memset(out, 'x', sizeof out);
                    CReportLine line(out, size);
                    line.Integer(a).Char(',').Integer(b).Char(',').Integer(b).Char(',');
                    line.Integer(a).Char(',').Integer(b).Char(',').Integer(a).Text(text);
                    const int length = line.Finish();
                    if (size_t(full) < size) {
                        ASSERT_EQ(full, length) << expected << " in " << size;
                        ASSERT_STREQ(expected, out) << size;
                    } else {
                        ASSERT_EQ(-1, length) << expected << " in " << size;
                    }
                    // Nothing is written past the field.
                    ASSERT_EQ('x', out[size]) << expected << " in " << size;
                }
            }
        }
    }
}

} // namespace
