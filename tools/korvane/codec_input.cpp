#include "tools/korvane/codec_input.h"

#include <CLI/CLI.hpp>

#include <cctype>
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

void AddStreamOptions(CLI::App& command, StreamOptions& options)
{
    command.add_flag("-h,--help", options.help);
    command.add_flag("--hex", options.hex);
    command.add_option_function<std::string>("--chunk", [&options](const std::string& text) {
        options.chunkText = text;
        options.chunkGiven = true;
    });
    if (options.allowErrors)
        command.add_flag("--errors", options.errors);
    if (options.allowAll)
        command.add_flag("--all", options.all);
    if (options.allowPlain)
        command.add_flag("--plain", options.plain);
    if (options.allowJson)
        command.add_flag("--json", options.json);
    command.add_option("FILE", options.files);
}

bool FinishStreamOptions(StreamOptions& options, std::string& error)
{
    if (options.files.size() > 1) {
        error = "only one FILE may be given ('" + options.files[0] + "' and '" + options.files[1] +
                "')";
        return false;
    }
    if (!options.files.empty())
        options.file = options.files.front();
    if (options.chunkGiven && !ParseWholeNumber(options.chunkText, 1, UINT64_MAX, options.chunk)) {
        error =
            "--chunk needs a whole number of octets, 1 or more, not '" + options.chunkText + "'";
        return false;
    }
    return true;
}

bool ParseWholeNumber(const std::string& text, uint64_t low, uint64_t high, uint64_t& value)
{
    uint64_t parsed = 0;
    if (text.empty())
        return false;
    for (char c : text) {
        if (c < '0' || c > '9' || parsed > (UINT64_MAX - 9) / 10)
            return false;
        parsed = parsed * 10 + uint64_t(c - '0');
    }
    if (parsed < low || parsed > high)
        return false;
    value = parsed;
    return true;
}

bool ParseHexText(const std::string& text, std::vector<uint8_t>& octets, std::string& error)
{
    octets.clear();
    octets.reserve(text.size() / 2);
    int high = -1;
    size_t digits = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (std::isspace(static_cast<unsigned char>(c)))
            continue;
        const int digit = HexDigit(c);
        if (digit < 0) {
            char reason[96];
            if (std::isprint(static_cast<unsigned char>(c)))
                std::snprintf(reason, sizeof reason,
                              "'%c' at offset %zu is not a hexadecimal digit", c, i);
            else
                std::snprintf(reason, sizeof reason,
                              "octet 0x%02X at offset %zu is not a hexadecimal digit",
                              unsigned(static_cast<unsigned char>(c)), i);
            error = reason;
            return false;
        }
        ++digits;
        if (high < 0) {
            high = digit;
        } else {
            octets.push_back(uint8_t(high * 16 + digit));
            high = -1;
        }
    }
    if (high >= 0) {
        error = "odd number of hexadecimal digits (" + std::to_string(digits) + ")";
        return false;
    }
    return true;
}

bool ReadWholeFile(const std::string& name, std::string& contents, std::string& error)
{
    const bool standardInput = name.empty() || name == "-";
    const std::string label = standardInput ? "standard input" : name;
    std::FILE* in = standardInput ? stdin : std::fopen(name.c_str(), "rb");
    if (!in) {
        error = "cannot open " + label + ": " + std::strerror(errno);
        return false;
    }
    contents.clear();
    char buffer[65536];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        contents.append(buffer, got);
    const bool failed = std::ferror(in) != 0;
    const int readErrno = errno;
    if (!standardInput)
        std::fclose(in);
    if (failed) {
        error = "cannot read " + label + ": " + std::strerror(readErrno);
        return false;
    }
    return true;
}

bool ReadInput(const StreamOptions& options, std::vector<uint8_t>& octets, std::string& error)
{
    std::string raw;
    if (!ReadWholeFile(options.file, raw, error))
        return false;
    if (!options.hex) {
        octets.assign(raw.begin(), raw.end());
        return true;
    }
    if (!ParseHexText(raw, octets, error)) {
        const bool standardInput = options.file.empty() || options.file == "-";
        error = (standardInput ? std::string("standard input") : options.file) + ": " + error;
        return false;
    }
    return true;
}

std::string HexLine(const uint8_t* octets, size_t count)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string line;
    line.reserve(count * 3);
    for (size_t i = 0; i < count; ++i) {
        if (i != 0)
            line += ' ';
        line += kDigits[octets[i] >> 4];
        line += kDigits[octets[i] & 15];
    }
    return line;
}

void PrintLine(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (text.empty() || text.back() != '\n')
        std::fputc('\n', stdout);
}
