#include "ember/ber/length.h"

int32_t EncodeLength(CEmber_OutputStream& out, uint32_t length)
{
    uint8_t octets[5];
    const int32_t count = PutLength(octets, length);
    out.Write(octets, uint32_t(count));
    return count;
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
