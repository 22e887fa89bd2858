#include "ember/ber/integer_codec.h"

int32_t EncodeBoolean(CEmber_OutputStream& out, bool value)
{
    out.WriteByte(value ? 0xFF : 0x00);
    return 1;
}

int32_t EncodeInteger(CEmber_OutputStream& out, int32_t value, int32_t n)
{
    return EncodeInteger64(out, value, n);
}

int32_t EncodeInteger64(CEmber_OutputStream& out, int64_t value, int32_t n)
{
    uint8_t octets[8];
    const uint64_t bits = uint64_t(value);
    for (int32_t i = 0; i < n; ++i)
        octets[i] = uint8_t(bits >> (8 * (n - 1 - i)));
    out.Write(octets, uint32_t(n));
    return n;
}

bool DecodeBoolean(CEmber_InputStream& in)
{
    return in.ReadOctet() != 0x00;
}

int64_t DecodeInteger64(CEmber_InputStream& in, uint32_t count)
{
    uint64_t value = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t octet = in.ReadOctet();
        // The first octet carries the sign; shifting in unsigned arithmetic
        // keeps the low-order bits of over-long contents.
        const uint64_t part = i == 0 ? uint64_t(int64_t(int8_t(octet))) : uint64_t(octet);
        value = (value << 8) | part;
    }
    return int64_t(value);
}

int32_t DecodeInteger(CEmber_InputStream& in, uint32_t count)
{
    uint32_t value = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t octet = in.ReadOctet();
        const uint32_t part = i == 0 ? uint32_t(int32_t(int8_t(octet))) : uint32_t(octet);
        value = (value << 8) | part;
    }
    return int32_t(value);
}
