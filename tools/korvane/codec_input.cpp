#include "tools/korvane/codec_input.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

bool ParseChunk(const char* text, uint64_t& chunk, std::string& error)
{
    uint64_t value = 0;
    bool digits = false;
    for (const char* c = text; *c; ++c) {
        if (*c < '0' || *c > '9' || value > (UINT64_MAX - 9) / 10) {
            digits = false;
            break;
        }
        value = value * 10 + uint64_t(*c - '0');
        digits = true;
    }
    if (!digits || value == 0) {
        error = std::string("--chunk needs a whole number of octets, 1 or more, not '") +
                text + "'";
        return false;
    }
    chunk = value;
    return true;
}

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

bool ParseStreamOptions(int argc, char** argv, StreamOptions& options, std::string& error)
{
    bool optionsEnded = false;
    bool haveFile = false;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            if (arg == "--") {
                optionsEnded = true;
            } else if (arg == "--help" || arg == "-h") {
                options.help = true;
            } else if (arg == "--hex") {
                options.hex = true;
            } else if (arg == "--errors" && options.allowErrors) {
                options.errors = true;
            } else if (arg == "--all" && options.allowAll) {
                options.all = true;
            } else if (arg == "--plain" && options.allowPlain) {
                options.plain = true;
            } else if (arg == "--json" && options.allowJson) {
                options.json = true;
            } else if (arg == "--chunk") {
                if (i + 1 == argc) {
                    error = "--chunk needs a number of octets";
                    return false;
                }
                if (!ParseChunk(argv[++i], options.chunk, error))
                    return false;
            } else if (arg.rfind("--chunk=", 0) == 0) {
                if (!ParseChunk(arg.c_str() + 8, options.chunk, error))
                    return false;
            } else {
                error = "unknown option '" + arg + "'";
                return false;
            }
            continue;
        }
        if (haveFile) {
            error = "only one FILE may be given ('" + options.file + "' and '" + arg + "')";
            return false;
        }
        options.file = arg;
        haveFile = true;
    }
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

bool ReadInput(const StreamOptions& options, std::vector<uint8_t>& octets, std::string& error)
{
    const bool standardInput = options.file.empty() || options.file == "-";
    const std::string name = standardInput ? "standard input" : options.file;
    std::FILE* in = standardInput ? stdin : std::fopen(options.file.c_str(), "rb");
    if (!in) {
        error = "cannot open " + name + ": " + std::strerror(errno);
        return false;
    }
    std::string raw;
    char buffer[65536];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        raw.append(buffer, got);
    const bool failed = std::ferror(in) != 0;
    const int readErrno = errno;
    if (!standardInput)
        std::fclose(in);
    if (failed) {
        error = "cannot read " + name + ": " + std::strerror(readErrno);
        return false;
    }
    if (!options.hex) {
        octets.assign(raw.begin(), raw.end());
        return true;
    }
    if (!ParseHexText(raw, octets, error)) {
        error = name + ": " + error;
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
