#include "ember/ber/text_codec.h"

#include "ember/ber/identifier.h"

#include <cstring>

int32_t EncodeString(CEmber_OutputStream& out, const char* text)
{
    const size_t length = std::strlen(text);
    out.Write(reinterpret_cast<const uint8_t*>(text), uint32_t(length));
    return int32_t(length);
}

void DecodeString(CEmber_InputStream& in, char* buffer, uint32_t length)
{
    for (uint32_t i = 0; i < length; ++i)
        buffer[i] = char(in.ReadOctet());
    buffer[length] = '\0';
}

void DecodeOctetString(CEmber_InputStream& in, uint8_t* buffer, uint32_t length)
{
    for (uint32_t i = 0; i < length; ++i)
        buffer[i] = in.ReadOctet();
}

int32_t EncodeObjectIdentifier(CEmber_OutputStream& out, uint64_t pair)
{
    const int32_t first = EncodeTagNumber(out, uint32_t(pair >> 32));
    return first + EncodeTagNumber(out, uint32_t(pair));
}

uint64_t DecodeObjectIdentifier(CEmber_InputStream& in)
{
    const uint64_t high = DecodeTagNumber(in);
    const uint64_t low = DecodeTagNumber(in);
    return (high << 32) | low;
}
