// BER length octets (X.690 8.1.3): short, long and indefinite form.
//
// Departs from X.690 on purpose: the long form uses the octet count of the
// length taken as a signed 32-bit value, so 128..255 are written 82 00 xx,
// which is what the consoles send and expect.
#pragma once

#include "ember/ber/input_stream.h"
#include "ember/values/output_stream.h"

#include <cstdint>

// Puts the length octets at out (room for 5); returns their count.
int32_t PutLength(uint8_t* out, uint32_t length);

// Appends the length octets (IndefiniteLength as 0x80); returns their count.
// Lengths from 0xFF800000 to 0xFFFFFFFE, whose signed octet count would drop
// significant octets, are written 0x84 and four octets.
int32_t EncodeLength(CEmber_OutputStream& out, uint32_t length);

// Octet count EncodeLength writes for length.
int32_t LengthSize(uint32_t length);

// Identifier octets plus the length octets EncodeLength writes for length:
// for definite lengths IdentifierSize + 1, plus IntegerSize(length) when the
// length exceeds 127.
int32_t HeaderSize(uint32_t classBits, uint32_t number, uint32_t length);

// Reads length octets; the indefinite form gives IndefiniteLength. Leading
// zero octets are accepted.
uint32_t DecodeLength(CEmber_InputStream& in);
