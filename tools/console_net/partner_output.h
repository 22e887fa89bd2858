// What `korvane partner --console-link` prints: one line per event on
// standard output, as text or (--json) as one JSON object per line.
//
// Text lines (the same as the partner's without a link, plus the link's):
//   > command LINE                    a command line sent to the service
//   > console N octets (console)      console data handed to the service
//   > keep-alive (console)            the console's keep-alive handed on
//   encoded LEN: HEX                  a block from the service, sent on to
//                                     the console
//   report: TEXT   /  report: TEXT (text)
//   keep-alive echoed                 the service's echo, sent back
//   link: connected to ADDR
//   link: ...                         lost, retrying, dropped, gave up
//   service: ...                      the service is not there, retrying
// JSON objects carry "event" (command, console, keep-alive, encoded,
// report, keep-alive-echoed, link, service) and the fields of the event.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct ConsoleLinkEvent;

// A report text for one line of output: control characters (and DEL)
// written as \xHH, everything else as it is.
std::string PrintableReport(const char* text, size_t length);

class CPartnerOutput
{
public:
    explicit CPartnerOutput(bool json, std::FILE* out = stdout) : m_json(json), m_out(out) {}

    void Command(const std::string& line);
    // The service took the command line but found no value in it.
    void NoValue(const std::string& line);
    void ConsoleData(size_t octets);
    void ConsoleKeepAlive();
    void Encoded(const uint8_t* octets, size_t size);
    // The report field's text up to its NUL.
    void Report(const char* text, size_t size);
    void KeepAliveEchoed(bool unchanged);
    void Link(const ConsoleLinkEvent& event);
    void Service(const std::string& state, const std::string& text);

    // Upper-case hex pairs separated by blanks.
    static std::string Hex(const uint8_t* octets, size_t size);

private:
    void Text(const std::string& line);

    bool m_json;
    std::FILE* m_out;
};
