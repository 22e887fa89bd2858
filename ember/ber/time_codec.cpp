#include "ember/ber/time_codec.h"

#include "ember/ber/filetime.h"

#include <cctype>
#include <cstdio>

namespace {

// Just enough of scanf to read "%04d%02d%02d%02d%02d%02d.%dZ": "%Nd" skips
// white space, takes an optional sign and digits, at most N characters with
// the sign (no limit for "%d"); it fails when no digit follows.
class ScanfReader
{
public:
    explicit ScanfReader(const char* text) : m_p(text) {}

    bool Integer(int width, int32_t& value)
    {
        while (std::isspace(static_cast<unsigned char>(*m_p)))
            ++m_p;
        int taken = 0;
        bool negative = false;
        if (*m_p == '+' || *m_p == '-') {
            negative = *m_p == '-';
            ++m_p;
            ++taken;
        }
        int64_t number = 0;
        int digits = 0;
        while ((width == 0 || taken < width) && std::isdigit(static_cast<unsigned char>(*m_p))) {
            // Saturate instead of overflowing: such a field is invalid anyway.
            if (number < 100000000000)
                number = number * 10 + (*m_p - '0');
            ++m_p;
            ++taken;
            ++digits;
        }
        if (digits == 0)
            return false;
        if (number > INT32_MAX)
            number = INT32_MAX;
        value = int32_t(negative ? -number : number);
        return true;
    }

    bool Literal(char c)
    {
        if (*m_p != c)
            return false;
        ++m_p;
        return true;
    }

private:
    const char* m_p;
};

} // namespace

int32_t EncodeGeneralizedTime(CEmber_OutputStream& out, uint64_t time)
{
    EmberCalendarTime fields;
    if (!FileTimeToCalendar(time, fields))
        return 0;
    char text[32];
    const int length =
        std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d.%dZ", fields.year, fields.month,
                      fields.day, fields.hour, fields.minute, fields.second, fields.milliseconds);
    out.Write(reinterpret_cast<const uint8_t*>(text), uint32_t(length));
    return length;
}

uint64_t DecodeGeneralizedTime(CEmber_InputStream& in, uint32_t length)
{
    constexpr uint32_t kTextSize = 32;
    char text[kTextSize];
    uint32_t kept = 0;
    for (uint32_t i = 0; i < length; ++i) {
        const uint8_t octet = in.ReadOctet();
        if (kept < kTextSize - 1)
            text[kept++] = char(octet);
    }
    text[kept] = '\0';

    EmberCalendarTime fields;
    ScanfReader scan(text);
    (void)(scan.Integer(4, fields.year) && scan.Integer(2, fields.month) &&
           scan.Integer(2, fields.day) && scan.Integer(2, fields.hour) &&
           scan.Integer(2, fields.minute) && scan.Integer(2, fields.second) && scan.Literal('.') &&
           scan.Integer(0, fields.milliseconds) && scan.Literal('Z'));

    uint64_t time = 0;
    if (!CalendarToFileTime(fields, time))
        return 0;
    return time;
}
