#include "tools/console_net/partner_output.h"

#include "tools/console_net/console_link.h"

#include <nlohmann/json.hpp>

#include <cstring>

using nlohmann::json;

namespace {

void Emit(std::FILE* out, const json& object)
{
    const std::string line = object.dump(-1, ' ', false, json::error_handler_t::replace);
    std::fprintf(out, "%s\n", line.c_str());
    std::fflush(out);
}

} // namespace

std::string CPartnerOutput::Hex(const uint8_t* octets, size_t size)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(size * 3);
    for (size_t i = 0; i < size; ++i) {
        if (i)
            text += ' ';
        text += digits[octets[i] >> 4];
        text += digits[octets[i] & 15];
    }
    return text;
}

void CPartnerOutput::Text(const std::string& line)
{
    std::fprintf(m_out, "%s\n", line.c_str());
    std::fflush(m_out);
}

void CPartnerOutput::Command(const std::string& line)
{
    if (m_json)
        Emit(m_out, {{"event", "command"}, {"line", line}});
    else
        Text("> command " + line);
}

void CPartnerOutput::NoValue(const std::string& line)
{
    if (m_json)
        Emit(m_out, {{"event", "no-value"}, {"line", line}});
    else
        Text("  no value: the service ignored the line");
}

void CPartnerOutput::ConsoleData(size_t octets)
{
    if (m_json)
        Emit(m_out, {{"event", "console"}, {"length", octets}});
    else
        Text("> console " + std::to_string(octets) + " octets (console)");
}

void CPartnerOutput::ConsoleKeepAlive()
{
    if (m_json)
        Emit(m_out, {{"event", "keep-alive"}});
    else
        Text("> keep-alive (console)");
}

void CPartnerOutput::Encoded(const uint8_t* octets, size_t size)
{
    if (m_json)
        Emit(m_out, {{"event", "encoded"}, {"length", size}, {"hex", Hex(octets, size)}});
    else
        Text("encoded " + std::to_string(size) + ": " + Hex(octets, size));
}

void CPartnerOutput::Report(const char* text, size_t size)
{
    const void* nul = std::memchr(text, '\0', size);
    size_t length = nul ? size_t(static_cast<const char*>(nul) - text) : size;
    bool textReport = false;
    if (length >= 2 && text[length - 2] == ' ' && text[length - 1] == '\n') {
        textReport = true;
        length -= 2;
    }
    if (m_json) {
        Emit(m_out, {{"event", "report"},
                     {"text", std::string(text, length)},
                     {"kind", textReport ? "text" : "integer"}});
        return;
    }
    Text("report: " + PrintableReport(text, length) + (textReport ? " (text)" : ""));
}

void CPartnerOutput::KeepAliveEchoed(bool unchanged)
{
    if (m_json)
        Emit(m_out, {{"event", "keep-alive-echoed"}, {"unchanged", unchanged}});
    else
        Text(unchanged ? "keep-alive echoed" : "keep-alive echoed, changed");
}

void CPartnerOutput::Link(const ConsoleLinkEvent& event)
{
    json object = {{"event", "link"}};
    std::string line;
    switch (event.kind) {
    case ConsoleLinkEvent::Connected:
        object["state"] = "connected";
        object["address"] = event.text;
        line = "link: connected to " + event.text;
        break;
    case ConsoleLinkEvent::Lost:
        object["state"] = "lost";
        object["reason"] = event.text;
        object["retry_ms"] = event.retryInMs;
        line = "link: lost (" + event.text + "); reconnecting in " +
               std::to_string(event.retryInMs) + " ms";
        break;
    case ConsoleLinkEvent::Failed:
        object["state"] = "failed";
        object["reason"] = event.text;
        object["attempt"] = event.attempt;
        object["retry_ms"] = event.retryInMs;
        line = "link: cannot reach the console (" + event.text + "); attempt " +
               std::to_string(event.attempt) + ", next in " + std::to_string(event.retryInMs) +
               " ms";
        break;
    case ConsoleLinkEvent::GaveUp:
        object["state"] = "gave-up";
        object["reason"] = event.text;
        line = "link: giving up: " + event.text;
        break;
    case ConsoleLinkEvent::Dropped:
        object["state"] = "dropped";
        object["octets"] = event.count;
        line = "link: dropped " + std::to_string(event.count) +
               " octets of a message the console did not finish before the break";
        break;
    case ConsoleLinkEvent::ConsoleData:
    case ConsoleLinkEvent::KeepAlive:
        return;
    }
    if (m_json)
        Emit(m_out, object);
    else
        Text(line);
}

void CPartnerOutput::Service(const std::string& state, const std::string& text)
{
    if (m_json)
        Emit(m_out, {{"event", "service"}, {"state", state}, {"reason", text}});
    else
        Text("service: " + text);
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
