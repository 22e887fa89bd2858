// Boolean and integer content octets (X.690 8.2, 8.3): big-endian two's
// complement in the fewest octets.
#pragma once

#include "ember/ber/input_stream.h"
#include "ember/ber/output_stream.h"

#include <bit>
#include <cstdint>

// Minimal two's-complement octet count: 1 to 4 (1 to 8 for 64 bits): the
// significant bits of the value (of its complement when negative) plus the
// sign bit, in whole octets. (The magnitude never has its top bit set; the
// mask lets the compiler see the bound.)
inline int32_t IntegerSize(int32_t value)
{
    const uint32_t magnitude = value < 0 ? ~uint32_t(value) : uint32_t(value);
    return int32_t((std::bit_width(magnitude & 0x7FFFFFFFu) + 8) / 8);
}

inline int32_t Integer64Size(int64_t value)
{
    const uint64_t magnitude = value < 0 ? ~uint64_t(value) : uint64_t(value);
    return int32_t((std::bit_width(magnitude & 0x7FFFFFFFFFFFFFFFu) + 8) / 8);
}

// One octet, 0xFF for true and 0x00 for false. Returns 1.
int32_t EncodeBoolean(CEmber_OutputStream& out, bool value);

// The low n octets of value, most significant first. Returns n.
int32_t EncodeInteger(CEmber_OutputStream& out, int32_t value, int32_t n);
int32_t EncodeInteger64(CEmber_OutputStream& out, int64_t value, int32_t n);

// Reads one octet; true when it is not 0x00.
bool DecodeBoolean(CEmber_InputStream& in);

// Reads count octets as a big-endian two's-complement number. Longer
// contents keep only the low-order 32 (64) bits.
int32_t DecodeInteger(CEmber_InputStream& in, uint32_t count);
int64_t DecodeInteger64(CEmber_InputStream& in, uint32_t count);
