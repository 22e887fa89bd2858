#include "protocol/host_port.h"

bool ParseHostPort(const std::string& text, std::string& host, uint16_t& port, std::string& error)
{
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
        error = "'" + text + "' is not ADDR:PORT";
        return false;
    }
    std::string name = text.substr(0, colon);
    if (name.front() == '[') {
        if (name.back() != ']' || name.size() < 3) {
            error = "'" + text + "' is not ADDR:PORT";
            return false;
        }
        name = name.substr(1, name.size() - 2);
    } else if (name.find(':') != std::string::npos) {
        error = "'" + text + "': write an IPv6 address as [ADDR]:PORT";
        return false;
    }
    const std::string digits = text.substr(colon + 1);
    unsigned long value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9' || value > 65535) {
            error = "'" + digits + "' is not a port (0 to 65535)";
            return false;
        }
        value = value * 10 + unsigned(c - '0');
    }
    if (value > 65535) {
        error = "'" + digits + "' is not a port (0 to 65535)";
        return false;
    }
    host = name;
    port = uint16_t(value);
    return true;
}
