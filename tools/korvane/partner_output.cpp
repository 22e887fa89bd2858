#include "tools/korvane/partner_output.h"

#include "protocol/hex_text.h"
#include "tools/korvane/output/json_output.h"

namespace {

void Emit(std::FILE* out, const KorvaneJson& object)
{
    std::fputs(JsonLine(object).c_str(), out);
    std::fflush(out);
}

} // namespace

void CPartnerOutput::Text(const std::string& line)
{
    std::fprintf(m_out, "%s\n", line.c_str());
    std::fflush(m_out);
}

void CPartnerOutput::Command(const std::string& line)
{
    if (m_quiet)
        return;
    if (m_json)
        Emit(m_out, {{"event", "command"}, {"line", line}});
    else
        Text("> command " + line);
}

void CPartnerOutput::NoValue(const std::string& line)
{
    if (m_quiet)
        return;
    if (m_json)
        Emit(m_out, {{"event", "no-value"}, {"line", line}});
    else
        Text("  no value: the service ignored the line");
}

void CPartnerOutput::ConsoleData(size_t octets, const std::string& source)
{
    if (m_quiet)
        return;
    if (m_json)
        Emit(m_out, {{"event", "console"}, {"length", octets}, {"source", source}});
    else
        Text("> console " + std::to_string(octets) + " octets (" + source + ")");
}

void CPartnerOutput::KeepAlive(const std::string& source)
{
    if (m_quiet)
        return;
    if (m_json)
        Emit(m_out, {{"event", "keep-alive"}, {"source", source}});
    else
        Text(source.empty() ? "> keep-alive" : "> keep-alive (" + source + ")");
}

void CPartnerOutput::Service(const CPartnerEvent& event)
{
    const uint8_t* octets = event.octets.data();
    const size_t size = event.octets.size();
    if (event.kind == CPartnerEvent::Report) {
        const CPartnerReport& report = event.report;
        if (m_json) {
            KorvaneJson object = ReportJson(report.line, 0);
            object.erase("offset");
            if (report.kind == EPartnerReportKind::Text)
                object["value"] = report.text;
            Emit(m_out, object);
            return;
        }
        std::string line = report.line;
        const bool text = report.kind == EPartnerReportKind::Text;
        if (text)
            line.resize(line.size() - 2);
        Text("report: " + PrintableReport(line.data(), line.size()) + (text ? " (text)" : ""));
        return;
    }
    if (m_quiet)
        return;
    switch (event.kind) {
    case CPartnerEvent::Encoded:
        if (m_json)
            Emit(m_out, {{"event", "encoded"}, {"length", size}, {"hex", HexText(octets, size)}});
        else
            Text("encoded " + std::to_string(size) + ": " + HexText(octets, size));
        return;
    case CPartnerEvent::KeepAliveEcho:
        if (m_json)
            Emit(m_out, {{"event", "keep-alive-echoed"}, {"unchanged", event.unchanged}});
        else
            Text(event.unchanged ? "keep-alive echoed"
                                 : "keep-alive echoed, changed: " + HexText(octets, size));
        return;
    case CPartnerEvent::OtherBlock: {
        char kind[8];
        std::snprintf(kind, sizeof kind, "0x%04X", unsigned(event.blockKind));
        if (m_json)
            Emit(m_out, {{"event", "block"},
                         {"kind", kind},
                         {"length", size},
                         {"hex", HexText(octets, size)}});
        else
            Text(std::string("block ") + kind + " " + std::to_string(size) + ": " +
                 HexText(octets, size));
        return;
    }
    case CPartnerEvent::Report:
        return;
    }
}

void CPartnerOutput::Link(const CPartnerLinkEvent& event)
{
    KorvaneJson object = {{"event", "link"}};
    std::string line;
    switch (event.kind) {
    case CPartnerLinkEvent::Service:
        Service(event.service);
        return;
    case CPartnerLinkEvent::CommandSent:
        Command(event.line);
        return;
    case CPartnerLinkEvent::ConsoleSent:
        ConsoleData(event.count, "console");
        return;
    case CPartnerLinkEvent::KeepAliveSent:
        KeepAlive("console");
        return;
    case CPartnerLinkEvent::NoValue:
        NoValue(event.line);
        return;
    case CPartnerLinkEvent::Console: {
        const ConsoleLinkEvent& console = event.console;
        switch (console.kind) {
        case ConsoleLinkEvent::Connected:
            object["state"] = "connected";
            object["address"] = console.text;
            line = "link: connected to " + console.text;
            break;
        case ConsoleLinkEvent::Lost:
            object["state"] = "lost";
            object["reason"] = console.text;
            object["retry_ms"] = console.retryInMs;
            line = "link: lost (" + console.text + "); reconnecting in " +
                   std::to_string(console.retryInMs) + " ms";
            break;
        case ConsoleLinkEvent::Failed:
            object["state"] = "failed";
            object["reason"] = console.text;
            object["attempt"] = console.attempt;
            object["retry_ms"] = console.retryInMs;
            line = "link: cannot reach the console (" + console.text + "); attempt " +
                   std::to_string(console.attempt) + ", next in " +
                   std::to_string(console.retryInMs) + " ms";
            break;
        case ConsoleLinkEvent::GaveUp:
            object["state"] = "gave-up";
            object["reason"] = console.text;
            line = "link: giving up: " + console.text;
            break;
        case ConsoleLinkEvent::Dropped:
            object["state"] = "dropped";
            object["octets"] = console.count;
            line = "link: dropped " + std::to_string(console.count) +
                   " octets of a message the console did not finish before the break";
            break;
        case ConsoleLinkEvent::ConsoleData:
        case ConsoleLinkEvent::KeepAlive:
            return;
        }
        break;
    }
    case CPartnerLinkEvent::ServiceUnreachable:
        object = {{"event", "service"},
                  {"state", "unreachable"},
                  {"reason", event.text},
                  {"attempt", event.attempt},
                  {"retry_ms", event.retryInMs}};
        line = "service: " + event.text + "; attempt " + std::to_string(event.attempt) +
               ", next in " + std::to_string(event.retryInMs) + " ms";
        break;
    case CPartnerLinkEvent::ServiceReachable:
    case CPartnerLinkEvent::ServiceTimeout:
    case CPartnerLinkEvent::ServiceGaveUp: {
        const char* state = event.kind == CPartnerLinkEvent::ServiceReachable ? "reachable"
                            : event.kind == CPartnerLinkEvent::ServiceTimeout ? "timeout"
                                                                              : "gave-up";
        object = {{"event", "service"}, {"state", state}, {"reason", event.text}};
        line = "service: " + event.text;
        break;
    }
    case CPartnerLinkEvent::NotSent:
        object = {{"event", "not-sent"}, {"line", event.line}, {"reason", event.text}};
        line = "not sent: " + event.line + " (" + event.text + ")";
        break;
    }
    if (m_quiet)
        return;
    if (m_json)
        Emit(m_out, object);
    else
        Text(line);
}

std::string PrintableReport(const char* text, size_t length)
{
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", unsigned(c));
            out += escaped;
        } else {
            out += char(c);
        }
    }
    return out;
}
