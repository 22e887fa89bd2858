#include "partner/partner_event.h"

#include <cstring>

const char* PartnerStatusName(EPartnerStatus status)
{
    switch (status) {
    case EPartnerStatus::Ok:
        return "ok";
    case EPartnerStatus::NoValue:
        return "no value";
    case EPartnerStatus::InvalidArgument:
        return "invalid argument";
    case EPartnerStatus::EndpointUnavailable:
        return "endpoint unavailable";
    case EPartnerStatus::NoService:
        return "no service";
    case EPartnerStatus::SeveralServices:
        return "several services";
    case EPartnerStatus::SendFailed:
        return "send failed";
    case EPartnerStatus::Timeout:
        return "timeout";
    case EPartnerStatus::NotOpen:
        return "not open";
    case EPartnerStatus::SourceError:
        return "source error";
    case EPartnerStatus::LinkGaveUp:
        return "link gave up";
    case EPartnerStatus::Stopped:
        return "stopped";
    case EPartnerStatus::Reentered:
        return "called from its own handler";
    }
    return "unknown status";
}

namespace {

// A "%d" number as the service prints it: an optional '-' and digits, in
// signed 32-bit range.
bool ParseNumber(const char* text, size_t length, int32_t& value)
{
    size_t i = 0;
    const bool negative = length > 0 && text[0] == '-';
    if (negative)
        ++i;
    if (i == length)
        return false;
    int64_t magnitude = 0;
    for (; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > int64_t(INT32_MAX) + 1)
            return false;
    }
    const int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > INT32_MAX)
        return false;
    value = int32_t(signedValue);
    return true;
}

} // namespace

CPartnerReport ParsePartnerReport(const char* text, size_t length)
{
    CPartnerReport report;
    report.line.assign(text, length);
    std::array<int32_t, 5> path{};
    size_t at = 0;
    for (int32_t& number : path) {
        const void* comma = std::memchr(text + at, ',', length - at);
        if (!comma)
            return report;
        const size_t end = size_t(static_cast<const char*>(comma) - text);
        if (!ParseNumber(text + at, end - at, number))
            return report;
        at = end + 1;
    }
    const char* rest = text + at;
    const size_t restLength = length - at;
    if (restLength >= 2 && rest[restLength - 2] == ' ' && rest[restLength - 1] == '\n') {
        report.kind = EPartnerReportKind::Text;
        report.text.assign(rest, restLength - 2);
        for (char& c : report.text)
            if (c == '~')
                c = ' ';
    } else if (ParseNumber(rest, restLength, report.integer)) {
        report.kind = EPartnerReportKind::Integer;
    } else {
        report.integer = 0;
        return report;
    }
    report.path = path;
    return report;
}
