// Text, octet-string and relative object-identifier content octets.
//
// Texts are carried as raw octets: no character set is tested or converted.
// The object-identifier pair (type 13) is exactly two base-128
// sub-identifiers, the first in the high 32 bits of the value.
#pragma once

#include "ember/ber/input_stream.h"
#include "ember/ber/output_stream.h"

#include <cstdint>

// The characters of a NUL-terminated text, without the NUL, in one Write.
int32_t EncodeString(CEmber_OutputStream& out, const char* text);

// Reads length octets into buffer and puts 0x00 after them; buffer holds
// length + 1 octets.
void DecodeString(CEmber_InputStream& in, char* buffer, uint32_t length);

// Reads length octets into buffer; nothing is added.
void DecodeOctetString(CEmber_InputStream& in, uint8_t* buffer, uint32_t length);

// The high 32 bits, then the low 32 bits, each as a base-128 number.
int32_t EncodeObjectIdentifier(CEmber_OutputStream& out, uint64_t pair);

// Two base-128 numbers: the first becomes the high 32 bits.
uint64_t DecodeObjectIdentifier(CEmber_InputStream& in);
