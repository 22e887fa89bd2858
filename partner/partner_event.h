// What a partner of the Korvane service gets back: the status of each call
// and the events the service's blocks turn into.
//
// Every block the service sends to the partner's endpoint becomes one
// CPartnerEvent, delivered to the session's handler while the send that
// caused it is still running (see CPartnerSession). Events hold copies:
// nothing in them points into the block.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The result of a partner call. Ok and NoValue are successes; the negative
// codes are failures, their one-line reason in the object's LastError().
// The numbers are stable within this library; the C interface has numbers
// of its own (korvane_partner.h), to which it maps each of these.
enum class EPartnerStatus : int
{
    Ok = 0,
    // The service took the command line and found no value in it (it sent
    // nothing back).
    NoValue = 1,
    // A bad argument: an empty or over-long command line, an empty console
    // block or one above 65535 octets, a bad option value.
    InvalidArgument = -1,
    // The partner's endpoint could not be opened (name taken, the runtime
    // folder refused, ...).
    EndpointUnavailable = -2,
    // No service is running, or not the one named.
    NoService = -3,
    // Several services run and none was named.
    SeveralServices = -4,
    // The service did not take the block: it is gone or refused it.
    SendFailed = -5,
    // The service did not answer within the send timeout; the block may or
    // may not have been handled.
    Timeout = -6,
    // The session is not open.
    NotOpen = -7,
    // Reading a console source failed (file missing, bad hex text).
    SourceError = -8,
    // The console link gave up (see CPartnerLink).
    LinkGaveUp = -9,
    // Stopped on request (Stop(), SIGINT or SIGTERM) before the work was done.
    Stopped = -10,
    // Called from the session's own event handler, which may not use its
    // session; nothing was done.
    Reentered = -11,
};

// A short English name of the status ("ok", "no value", "no service", ...).
const char* PartnerStatusName(EPartnerStatus status);

enum class EPartnerReportKind : int
{
    Integer = 0, // "p1,p2,p3,p4,p5,value"
    Text = 1,    // "p1,p2,p3,p4,p5,text \n"
    Unknown = 2, // not in either report layout: only `line` is meaningful
};

// A parameter report as the service forwarded it.
struct CPartnerReport
{
    // The report field's octets up to their NUL, exactly as sent: a text
    // report still ends in a blank and a line feed. Not necessarily UTF-8.
    std::string line;
    EPartnerReportKind kind = EPartnerReportKind::Unknown;
    // The five path numbers (zeros for Unknown).
    std::array<int32_t, 5> path{};
    // Integer: the value.
    int32_t integer = 0;
    // Text: the value with every "~" read back as a blank (the service
    // writes blanks as "~", the way a command line carries them).
    std::string text;
};

// Reads a report line (the field's text up to its NUL); kind Unknown when it
// is in neither layout.
CPartnerReport ParsePartnerReport(const char* text, size_t length);

struct CPartnerEvent
{
    enum Kind
    {
        // An encoded Ember message to pass on to the console: `octets`.
        Encoded,
        // A parameter report: `report`; `octets` is the report field as sent.
        Report,
        // The keep-alive came back: `octets` as returned; `unchanged` tells
        // whether they equal the keep-alive sent.
        KeepAliveEcho,
        // Any other block: `blockKind` (high 16 bits of its dwData),
        // `blockLength` (its low 16 bits) and `octets`.
        OtherBlock,
    };
    Kind kind = Encoded;
    std::vector<uint8_t> octets;
    CPartnerReport report;
    bool unchanged = true;
    uint32_t blockKind = 0;
    uint32_t blockLength = 0;
};
