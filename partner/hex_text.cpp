#include "partner/hex_text.h"

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

bool IsSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool IsPrintable(char c)
{
    return c >= 0x20 && c < 0x7F;
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
            static const char kDigits[] = "0123456789ABCDEF";
            const std::string what =
                IsPrintable(c) ? std::string("'") + c + "'"
                               : std::string("octet 0x") + kDigits[(c >> 4) & 15] + kDigits[c & 15];
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
