#include "ember/ber/real_codec.h"

#include "ember/ber/exception.h"
#include "ember/ber/integer_codec.h"

#include <bit>
#include <limits>

namespace {

constexpr uint64_t kHiddenBit = uint64_t(1) << 52;
constexpr uint64_t kFractionMask = kHiddenBit - 1;
constexpr uint64_t kSignBit = uint64_t(1) << 63;

} // namespace

int32_t EncodeReal(CEmber_OutputStream& out, double value)
{
    const uint64_t bits = std::bit_cast<uint64_t>(value);
    if (value == std::numeric_limits<double>::infinity()) {
        out.WriteByte(0x40);
        return 1;
    }
    if (value == -std::numeric_limits<double>::infinity()) {
        out.WriteByte(0x41);
        return 1;
    }
    if (bits == 0)
        return 0;

    const int64_t exponent = int64_t((bits >> 52) & 0x7FF) - 1023;
    uint64_t mantissa = (bits & kFractionMask) | kHiddenBit;
    while ((mantissa & 0xFF) == 0)
        mantissa >>= 8;
    while ((mantissa & 1) == 0)
        mantissa >>= 1;

    const int32_t k = Integer64Size(exponent);
    uint8_t first = uint8_t(0x80 | (k - 1));
    if (bits & kSignBit)
        first |= 0x40;
    out.WriteByte(first);
    EncodeInteger64(out, exponent, k);
    const int32_t n = EncodeInteger64(out, int64_t(mantissa), Integer64Size(int64_t(mantissa)));
    return 1 + k + n;
}

bool TryDecodeReal(CEmber_InputStream& in, uint32_t length, double& value)
{
    if (length == 0) {
        value = 0.0;
        return true;
    }
    const uint8_t first = in.ReadOctet();
    if (length == 1) {
        if (first == 0x40) {
            value = std::numeric_limits<double>::infinity();
            return true;
        }
        if (first == 0x41) {
            value = -std::numeric_limits<double>::infinity();
            return true;
        }
    }
    const uint32_t k = (first & 0x03u) + 1;
    const bool negative = (first & 0x40) != 0;
    // A content too short for its exponent ends in "EOF", as reading it from
    // a stream of exactly `length` octets would; a longer stream is not read
    // beyond the content.
    if (length < k + 1)
        throw CEmber_Exception(eeError_Eof);
    const int64_t exponent = DecodeInteger64(in, k);
    const uint32_t mantissaOctets = length - k - 1;
    uint64_t mantissa = uint64_t(DecodeInteger64(in, mantissaOctets));

    // The scale factor shifts the mantissa left, which normalisation undoes;
    // it does not change the result.
    if (mantissa == 0 || std::bit_width(mantissa) > 53)
        return false;
    if (exponent < -1023 || exponent > 1024)
        return false;
    mantissa <<= 53 - std::bit_width(mantissa);

    uint64_t bits = (uint64_t(exponent + 1023) << 52) | (mantissa & kFractionMask);
    if (negative)
        bits |= kSignBit;
    value = std::bit_cast<double>(bits);
    return true;
}

double DecodeReal(CEmber_InputStream& in, uint32_t length)
{
    double value = 0.0;
    if (!TryDecodeReal(in, length, value))
        throw CEmber_Exception(eeError_InvalidReal);
    return value;
}
