#include "partner/console_source.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

bool ParseConsoleHex(const std::string& text, std::vector<uint8_t>& octets, std::string& error)
{
    octets.clear();
    bool comment = false;
    int high = -1;
    size_t line = 1;
    for (const char c : text) {
        if (c == '\n') {
            comment = false;
            ++line;
            continue;
        }
        if (comment)
            continue;
        if (c == '#') {
            comment = true;
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v')
            continue;
        const int digit = HexDigit(c);
        if (digit < 0) {
            const unsigned char shown = static_cast<unsigned char>(c);
            char reason[96];
            if (shown >= 0x20 && shown < 0x7F)
                std::snprintf(reason, sizeof reason, "'%c' on line %zu is not a hex digit", c,
                              line);
            else
                std::snprintf(reason, sizeof reason, "octet 0x%02X on line %zu is not a hex digit",
                              unsigned(shown), line);
            error = reason;
            return false;
        }
        if (high < 0) {
            high = digit;
        } else {
            octets.push_back(uint8_t(high << 4 | digit));
            high = -1;
        }
    }
    if (high >= 0) {
        error = "odd number of hex digits";
        return false;
    }
    return true;
}

EPartnerStatus ReadConsoleSource(const std::string& name, EConsoleSourceFormat format,
                                 std::vector<uint8_t>& octets, std::string& error)
{
    const bool standardInput = name == "-";
    const std::string shown = standardInput ? "standard input" : name;
    std::FILE* file = standardInput ? stdin : std::fopen(name.c_str(), "rb");
    if (!file) {
        error = "cannot read " + shown + ": " + std::strerror(errno);
        return EPartnerStatus::SourceError;
    }
    std::string contents;
    char buffer[65536];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        contents.append(buffer, got);
    const bool failed = std::ferror(file) != 0;
    const int reason = errno;
    if (!standardInput)
        std::fclose(file);
    if (failed) {
        error = "cannot read " + shown + ": " + std::strerror(reason);
        return EPartnerStatus::SourceError;
    }
    if (format == EConsoleSourceFormat::Hex) {
        std::string why;
        if (!ParseConsoleHex(contents, octets, why)) {
            error = shown + ": bad hex text: " + why;
            return EPartnerStatus::SourceError;
        }
    } else {
        octets.assign(contents.begin(), contents.end());
    }
    return EPartnerStatus::Ok;
}
