// Hexadecimal text, read and written once for every layer.
//
// The one reader, for every --hex input of the tool (decode, dump, reencode,
// partner) and the partner library's console sources: digit pairs in either
// case, white space anywhere ignored, "#" starting a comment that runs to the
// end of its line. It takes the text in pieces of any size, so an input of
// any length is decoded as it is read. The one writer gives upper-case digit
// pairs, with or without a blank between octets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CHexTextReader
{
public:
    // Decodes the next piece of text, appending its octets. False with the
    // reason on a character that is neither a digit, white space nor part of
    // a comment; its offset counts from the first piece.
    bool Feed(const char* text, size_t size, std::vector<uint8_t>& octets, std::string& error);
    // The end of the text: false with the reason on an odd number of digits.
    bool Finish(std::string& error) const;

private:
    uint64_t m_offset = 0;
    uint64_t m_digits = 0;
    int m_high = -1;
    bool m_comment = false;
};

// Decodes a whole hex text with CHexTextReader; octets holds only its result.
bool ParseHexText(const std::string& text, std::vector<uint8_t>& octets, std::string& error);

// True when the text (the start of an input) reads as hex text: only digits,
// white space and comments, with at least one whole octet's digits.
bool LooksLikeHexText(const uint8_t* text, size_t size);

// The value of one hexadecimal digit in either case; -1 for any other
// character.
int HexDigit(char c);

// Octets as upper-case digit pairs with a blank between octets: "AB CD".
std::string HexText(const uint8_t* octets, size_t size);

// Octets as upper-case digit pairs without blanks: "ABCD".
std::string HexDigits(const uint8_t* octets, size_t size);
