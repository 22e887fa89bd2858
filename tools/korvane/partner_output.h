// What `korvane partner` prints: one line per event on standard output, as
// text or (--json) as one JSON object per line.
//
// Text lines:
//   > command LINE                    a command line sent to the service
//   > console N octets (SOURCE)       console data handed to the service
//   > keep-alive (SOURCE)             a keep-alive handed to the service
//   encoded LEN: HEX                  an encoded message from the service
//   report: TEXT   /  report: TEXT (text)
//   keep-alive echoed                 the service's echo
//   link: ...                         the console link (connected, lost, ...)
//   service: ...                      the service is not there, retrying
// JSON: a report is the object `decode --json` writes for it (without the
// offset; the value of a text report with its blanks); every other event is
// an object with "event" (command, no-value, console, keep-alive, encoded,
// keep-alive-echoed, block, link, service, not-sent) and its fields.
// Quiet output prints only reports (errors go to standard error anyway).
#pragma once

#include "partner/partner_link.h"

#include <cstdint>
#include <cstdio>
#include <string>

// A report text for one line of output: control characters (and DEL)
// written as \xHH, everything else as it is.
std::string PrintableReport(const char* text, size_t length);

class CPartnerOutput
{
public:
    CPartnerOutput(bool json, bool quiet, std::FILE* out = stdout)
        : m_json(json), m_quiet(quiet), m_out(out)
    {}

    void Command(const std::string& line);
    // The service took the command line but found no value in it.
    void NoValue(const std::string& line);
    // Console data: `source` names where it came from.
    void ConsoleData(size_t octets, const std::string& source);
    void KeepAlive(const std::string& source);
    // A block from the service.
    void Service(const CPartnerEvent& event);
    // An event of the console link.
    void Link(const CPartnerLinkEvent& event);

private:
    void Text(const std::string& line);

    bool m_json;
    bool m_quiet;
    std::FILE* m_out;
};
