// BER identifier octets (X.690 8.1.2) and base-128 numbers.
//
// Tag numbers below 31 fit the initial octet; 31 and above use the
// high-tag-number form: initial octet | 0x1F, then base-128 groups, most
// significant first, bit 0x80 on every group but the last.
#pragma once

#include "ember/ber/input_stream.h"
#include "ember/ber/output_stream.h"
#include "ember/ber/tag.h"

#include <cstddef>
#include <cstdint>

// Octet count of the base-128 form of number, 1 to 5.
inline int32_t TagNumberSize(uint32_t number)
{
    return 1 + (number >= (1u << 7)) + (number >= (1u << 14)) + (number >= (1u << 21)) +
           (number >= (1u << 28));
}

// Octet count of an identifier with this number (the class is not used).
inline int32_t IdentifierSize(uint32_t /*classBits*/, uint32_t number)
{
    return number < 31 ? 1 : 1 + TagNumberSize(number);
}

// Puts number in base-128 octets at out (room for 5); returns their count.
inline int32_t PutTagNumber(uint8_t* out, uint32_t number)
{
    const int32_t count = TagNumberSize(number);
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t group = (number >> (7 * (count - 1 - i))) & 0x7F;
        out[i] = uint8_t(i + 1 < count ? group | 0x80 : group);
    }
    return count;
}

// Puts the identifier octets at out (room for 6); returns their count.
inline int32_t PutIdentifier(uint8_t* out, uint32_t identifierBits, uint32_t number)
{
    const uint8_t bits = uint8_t(identifierBits & (kBerClassMask | kBerConstructed));
    if (number < 31) {
        out[0] = uint8_t(bits | number);
        return 1;
    }
    out[0] = uint8_t(bits | 0x1F);
    return 1 + PutTagNumber(out + 1, number);
}

// Appends number in base-128 octets; returns their count (1 to 5).
int32_t EncodeTagNumber(CEmber_OutputStream& out, uint32_t number);

// Appends the identifier octets for identifier bits (class and constructed,
// octet & 0xE0) and number; returns their count (1 to 6).
int32_t EncodeIdentifier(CEmber_OutputStream& out, uint32_t identifierBits, uint32_t number);

// Reads a base-128 number up to the first octet with bit 0x80 clear; bits
// shifted out at the top are lost.
uint32_t DecodeTagNumber(CEmber_InputStream& in);

// Reads identifier octets; the tag keeps class and constructed bits.
CEmber_Tag DecodeIdentifier(CEmber_InputStream& in);

// The identifier of a complete field of collected octets: what
// DecodeIdentifier reads from them, without a stream.
inline CEmber_Tag IdentifierOf(const uint8_t* octets, size_t count)
{
    uint32_t number = octets[0] & 0x1Fu;
    if (number == 0x1F) {
        number = 0;
        for (size_t i = 1; i < count; ++i)
            number = (number << 7) | (octets[i] & 0x7Fu);
    }
    return CEmber_Tag::FromIdentifier(octets[0], number);
}
