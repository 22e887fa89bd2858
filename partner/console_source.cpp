#include "partner/console_source.h"

#include "protocol/hex_text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

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
        if (!ParseHexText(contents, octets, why)) {
            error = shown + ": bad hex text: " + why;
            return EPartnerStatus::SourceError;
        }
    } else {
        octets.assign(contents.begin(), contents.end());
    }
    return EPartnerStatus::Ok;
}
