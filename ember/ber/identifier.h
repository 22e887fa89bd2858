// BER identifier octets (X.690 8.1.2) and base-128 numbers.
//
// Tag numbers below 31 fit the initial octet; 31 and above use the
// high-tag-number form: initial octet | 0x1F, then base-128 groups, most
// significant first, bit 0x80 on every group but the last.
#pragma once

#include "ember/ber/input_stream.h"
#include "ember/ber/tag.h"
#include "ember/values/output_stream.h"

#include <cstdint>

// Puts number in base-128 octets at out (room for 5); returns their count.
int32_t PutTagNumber(uint8_t* out, uint32_t number);

// Puts the identifier octets at out (room for 6); returns their count.
int32_t PutIdentifier(uint8_t* out, uint32_t identifierBits, uint32_t number);

// Appends number in base-128 octets; returns their count (1 to 5).
int32_t EncodeTagNumber(CEmber_OutputStream& out, uint32_t number);

// Appends the identifier octets for identifier bits (class and constructed,
// octet & 0xE0) and number; returns their count (1 to 6).
int32_t EncodeIdentifier(CEmber_OutputStream& out, uint32_t identifierBits, uint32_t number);

// Octet count of the base-128 form of number, 1 to 5.
int32_t TagNumberSize(uint32_t number);

// Octet count of an identifier with this number (the class is not used).
int32_t IdentifierSize(uint32_t classBits, uint32_t number);

// Reads a base-128 number up to the first octet with bit 0x80 clear; bits
// shifted out at the top are lost.
uint32_t DecodeTagNumber(CEmber_InputStream& in);

// Reads identifier octets; the tag keeps class and constructed bits.
CEmber_Tag DecodeIdentifier(CEmber_InputStream& in);
