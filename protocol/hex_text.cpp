#include "protocol/hex_text.h"

#include "protocol/text_chars.h"

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

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

bool IsPrintable(char c)
{
    return c >= 0x20 && c < 0x7F;
}

std::string WriteHex(const uint8_t* octets, size_t size, bool blanks)
{
    std::string text;
    text.reserve(size * (blanks ? 3 : 2));
    for (size_t i = 0; i < size; ++i) {
        if (blanks && i != 0)
            text += ' ';
        text += kHexDigits[octets[i] >> 4];
        text += kHexDigits[octets[i] & 15];
    }
    return text;
}

} // namespace

bool CHexTextReader::Feed(const char* text, size_t size, std::vector<uint8_t>& octets,
                          std::string& error)
{
    for (size_t i = 0; i < size; ++i) {
        const char c = text[i];
        if (m_comment) {
            m_comment = c != '\n';
            continue;
        }
        if (c == '#') {
            m_comment = true;
            continue;
        }
        if (IsSpace(c))
            continue;
        const int digit = HexDigit(c);
        if (digit < 0) {
            const uint8_t octet = uint8_t(c);
            const std::string what =
                IsPrintable(c) ? std::string("'") + c + "'" : "octet 0x" + HexDigits(&octet, 1);
            error =
                what + " at offset " + std::to_string(m_offset + i) + " is not a hexadecimal digit";
            m_offset += i;
            return false;
        }
        ++m_digits;
        if (m_high < 0) {
            m_high = digit;
        } else {
            octets.push_back(uint8_t(m_high * 16 + digit));
            m_high = -1;
        }
    }
    m_offset += size;
    return true;
}

bool CHexTextReader::Finish(std::string& error) const
{
    if (m_high < 0)
        return true;
    error = "odd number of hexadecimal digits (" + std::to_string(m_digits) + ")";
    return false;
}

bool ParseHexText(const std::string& text, std::vector<uint8_t>& octets, std::string& error)
{
    octets.clear();
    octets.reserve(text.size() / 2);
    CHexTextReader reader;
    return reader.Feed(text.data(), text.size(), octets, error) && reader.Finish(error);
}

bool LooksLikeHexText(const uint8_t* text, size_t size)
{
    size_t digits = 0;
    bool comment = false;
    for (size_t i = 0; i < size; ++i) {
        const char c = char(text[i]);
        if (comment) {
            comment = c != '\n';
        } else if (c == '#') {
            comment = true;
        } else if (HexDigit(c) >= 0) {
            ++digits;
        } else if (!IsSpace(c)) {
            return false;
        }
    }
    return digits >= 2;
}

std::string HexText(const uint8_t* octets, size_t size)
{
    return WriteHex(octets, size, true);
}

std::string HexDigits(const uint8_t* octets, size_t size)
{
    return WriteHex(octets, size, false);
}
