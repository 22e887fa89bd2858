#include "ember/ber/identifier.h"

int32_t TagNumberSize(uint32_t number)
{
    int32_t count = 1;
    if (number >= (1u << 7))
        ++count;
    if (number >= (1u << 14))
        ++count;
    if (number >= (1u << 21))
        ++count;
    if (number >= (1u << 28))
        ++count;
    return count;
}

int32_t PutTagNumber(uint8_t* out, uint32_t number)
{
    int32_t count = 0;
    if (number >= (1u << 28))
        out[count++] = uint8_t(((number >> 28) & 0x0F) | 0x80);
    if (number >= (1u << 21))
        out[count++] = uint8_t(((number >> 21) & 0x7F) | 0x80);
    if (number >= (1u << 14))
        out[count++] = uint8_t(((number >> 14) & 0x7F) | 0x80);
    if (number >= (1u << 7))
        out[count++] = uint8_t(((number >> 7) & 0x7F) | 0x80);
    out[count++] = uint8_t(number & 0x7F);
    return count;
}

int32_t PutIdentifier(uint8_t* out, uint32_t identifierBits, uint32_t number)
{
    const uint8_t bits = uint8_t(identifierBits & (kBerClassMask | kBerConstructed));
    if (number < 31) {
        out[0] = uint8_t(bits | number);
        return 1;
    }
    out[0] = uint8_t(bits | 0x1F);
    return 1 + PutTagNumber(out + 1, number);
}

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

int32_t IdentifierSize(uint32_t /*classBits*/, uint32_t number)
{
    return number < 31 ? 1 : 1 + TagNumberSize(number);
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
