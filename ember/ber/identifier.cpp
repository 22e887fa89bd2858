#include "ember/ber/identifier.h"

int32_t EncodeTagNumber(CEmber_OutputStream& out, uint32_t number)
{
    uint8_t octets[5];
    const int32_t count = PutTagNumber(octets, number);
    out.Write(octets, uint32_t(count));
    return count;
}

int32_t EncodeIdentifier(CEmber_OutputStream& out, uint32_t identifierBits, uint32_t number)
{
    uint8_t octets[6];
    const int32_t count = PutIdentifier(octets, identifierBits, number);
    out.Write(octets, uint32_t(count));
    return count;
}

uint32_t DecodeTagNumber(CEmber_InputStream& in)
{
    uint32_t number = 0;
    uint8_t octet;
    do {
        octet = in.ReadOctet();
        number = (number << 7) | (octet & 0x7F);
    } while (octet & 0x80);
    return number;
}

CEmber_Tag DecodeIdentifier(CEmber_InputStream& in)
{
    const uint8_t first = in.ReadOctet();
    uint32_t number = first & 0x1F;
    if (number == 31)
        number = DecodeTagNumber(in);
    return CEmber_Tag::FromIdentifier(first, number);
}
