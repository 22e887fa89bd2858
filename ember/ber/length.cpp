#include "ember/ber/length.h"

#include "ember/ber/identifier.h"
#include "ember/ber/integer_codec.h"
#include "ember/ber/types.h"

namespace {

// Long-form octet count after the initial octet.
int32_t LongFormOctets(uint32_t length)
{
    if (length >= 0xFF800000u)
        return 4;
    return IntegerSize(int32_t(length));
}

} // namespace

int32_t LengthSize(uint32_t length)
{
    if (length == IndefiniteLength || length <= 127)
        return 1;
    return 1 + LongFormOctets(length);
}

int32_t PutLength(uint8_t* out, uint32_t length)
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

int32_t EncodeLength(CEmber_OutputStream& out, uint32_t length)
{
    uint8_t octets[5];
    const int32_t count = PutLength(octets, length);
    out.Write(octets, uint32_t(count));
    return count;
}

int32_t HeaderSize(uint32_t classBits, uint32_t number, uint32_t length)
{
    return IdentifierSize(classBits, number) + LengthSize(length);
}

uint32_t DecodeLength(CEmber_InputStream& in)
{
    const uint8_t first = in.ReadOctet();
    if (first < 0x80)
        return first;
    if (first == 0x80)
        return IndefiniteLength;
    uint32_t length = 0;
    for (int i = 0; i < (first & 0x7F); ++i)
        length = (length << 8) | in.ReadOctet();
    return length;
}
