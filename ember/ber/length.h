// BER length octets (X.690 8.1.3): short, long and indefinite form.
//
// Departs from X.690 on purpose: the long form uses the octet count of the
// length taken as a signed 32-bit value, so 128..255 are written 82 00 xx,
// which is what the consoles send and expect.
#pragma once

#include "ember/ber/identifier.h"
#include "ember/ber/input_stream.h"
#include "ember/ber/integer_codec.h"
#include "ember/ber/output_stream.h"
#include "ember/ber/types.h"

#include <cstddef>
#include <cstdint>

// Long-form octet count after the initial octet: that of the length taken
// as a signed value, except that lengths from 0xFF800000 up keep all four.
inline int32_t LongFormOctets(uint32_t length)
{
    // For the lengths that take the long form (128 and up) this is
    // IntegerSize(int32_t(length)) with the top range kept at four.
    return length < 0x8000u ? 2 : length < 0x800000u ? 3 : 4;
}

// Octet count EncodeLength writes for length.
inline int32_t LengthSize(uint32_t length)
{
    if (length == IndefiniteLength || length <= 127)
        return 1;
    return 1 + LongFormOctets(length);
}

// Puts the length octets at out (room for 5); returns their count.
inline int32_t PutLength(uint8_t* out, uint32_t length)
{
    if (length == IndefiniteLength) {
        out[0] = 0x80;
        return 1;
    }
    if (length <= 127) {
        out[0] = uint8_t(length);
        return 1;
    }
    const int32_t n = LongFormOctets(length);
    out[0] = uint8_t(0x80 | n);
    for (int32_t i = 0; i < n; ++i)
        out[1 + i] = uint8_t(length >> (8 * (n - 1 - i)));
    return n + 1;
}

// Identifier octets plus the length octets EncodeLength writes for length:
// for definite lengths IdentifierSize + 1, plus IntegerSize(length) when the
// length exceeds 127.
inline int32_t HeaderSize(uint32_t classBits, uint32_t number, uint32_t length)
{
    return IdentifierSize(classBits, number) + LengthSize(length);
}

// Appends the length octets (IndefiniteLength as 0x80); returns their count.
// Lengths from 0xFF800000 to 0xFFFFFFFE, whose signed octet count would drop
// significant octets, are written 0x84 and four octets.
int32_t EncodeLength(CEmber_OutputStream& out, uint32_t length);

// Reads length octets; the indefinite form gives IndefiniteLength. Leading
// zero octets are accepted.
uint32_t DecodeLength(CEmber_InputStream& in);

// The length of a complete field of collected octets: what DecodeLength
// reads from them, without a stream.
inline uint32_t LengthOf(const uint8_t* octets, size_t count)
{
    if (octets[0] < 0x80)
        return octets[0];
    if (octets[0] == 0x80)
        return IndefiniteLength;
    uint32_t length = 0;
    for (size_t i = 1; i < count; ++i)
        length = (length << 8) | octets[i];
    return length;
}
