#include "tests/support/hex.h"

#include <cctype>
#include <stdexcept>

namespace testing_support {

std::vector<uint8_t> Hex(const std::string& text)
{
    std::vector<uint8_t> octets;
    int high = -1;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c)))
            continue;
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            throw std::invalid_argument("not a hex digit in test vector: " + text);
        if (high < 0) {
            high = digit;
        } else {
            octets.push_back(uint8_t(high * 16 + digit));
            high = -1;
        }
    }
    if (high >= 0)
        throw std::invalid_argument("odd number of hex digits in test vector: " + text);
    return octets;
}

std::string ToHex(const uint8_t* data, size_t size)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        if (i != 0)
            text += ' ';
        text += kDigits[data[i] >> 4];
        text += kDigits[data[i] & 15];
    }
    return text;
}

std::string ToHex(const std::vector<uint8_t>& data)
{
    return ToHex(data.data(), data.size());
}

} // namespace testing_support
