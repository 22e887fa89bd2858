#include "ember/tree/string_leaf.h"

#include "ember/ber/identifier.h"
#include "ember/ber/length.h"
#include "ember/ber/output_stream.h"
#include "ember/ber/text_list.h"
#include "ember/ber/types.h"

#include <cstring>

namespace {

// Writes the header of a string leaf of `length` content octets into cache;
// returns the header's octet count.
uint32_t EncodeStringHeader(const CEmber_Tag& tag, int32_t type, uint32_t length, uint8_t* cache)
{
    const uint32_t outer =
        uint32_t(HeaderSize(eeBerClass_Universal, uint32_t(type), length)) + length;
    uint32_t n = uint32_t(PutIdentifier(cache, tag.ClassBits() | kBerConstructed, tag.Number()));
    n += uint32_t(PutLength(cache + n, outer));
    cache[n++] = uint8_t(type);
    n += uint32_t(PutLength(cache + n, length));
    return n;
}

void WriteStored(CEmber_OutputStream& out, uint32_t encodedLength, uint32_t length,
                 const uint8_t* header, const uint8_t* data)
{
    // A bare leaf (encoded length 0) writes nothing.
    if (encodedLength <= length)
        return;
    out.Write(header, encodedLength - length);
    if (data && length != 0)
        out.Write(data, length);
}

} // namespace

CEmber_UTF8String::CEmber_UTF8String(uint32_t classOctet, uint32_t number, const char* text)
    : CEmber_Leaf(classOctet, number)
{
    if (text) {
        m_length = uint32_t(std::strlen(text));
        m_text.reset(new char[m_length + 1]);
        std::memcpy(m_text.get(), text, m_length + 1);
    }
    EncodeHeader();
}

CEmber_UTF8String::CEmber_UTF8String(uint32_t classOctet, uint32_t number,
                                     EmberContentLength length)
    : CEmber_Leaf(classOctet, number), m_text(new char[length.value + 1]), m_length(length.value)
{
    m_text[m_length] = '\0';
    EncodeHeader();
}

void CEmber_UTF8String::EncodeHeader()
{
    m_encodedLength = EncodeStringHeader(GetTag(), 12, m_length, m_cache) + m_length;
}

char* CEmber_UTF8String::AllocateText(uint32_t length)
{
    m_text.reset(new char[length + 1]);
    m_text[length] = '\0';
    m_length = length;
    return m_text.get();
}

void CEmber_UTF8String::Encode(CEmber_OutputStream& out) const
{
    WriteStored(out, m_encodedLength, m_length, m_cache,
                reinterpret_cast<const uint8_t*>(m_text.get()));
}

void CEmber_UTF8String::RenderValue(CEmber_TextList& list) const
{
    list.Append(m_text ? m_text.get() : "");
}

CEmber_OctetString::CEmber_OctetString(uint32_t classOctet, uint32_t number,
                                       EmberContentLength length)
    : CEmber_Leaf(classOctet, number), m_data(new uint8_t[length.value]), m_length(length.value)
{
    m_encodedLength = EncodeStringHeader(GetTag(), 4, m_length, m_cache) + m_length;
}

uint8_t* CEmber_OctetString::AllocateData(uint32_t length)
{
    m_data.reset(new uint8_t[length]);
    m_length = length;
    return m_data.get();
}

void CEmber_OctetString::Encode(CEmber_OutputStream& out) const
{
    WriteStored(out, m_encodedLength, m_length, m_cache, m_data.get());
}

void CEmber_OctetString::RenderValue(CEmber_TextList& list) const
{
    static const char kDigits[] = "0123456789ABCDEF";
    constexpr uint32_t kRun = 32;
    char run[kRun * 2 + 1];
    uint32_t inRun = 0;
    for (uint32_t i = 0; i < m_length; ++i) {
        if (inRun == kRun) {
            run[inRun * 2] = '\0';
            list.Append("\r\n");
            list.Append(run);
            inRun = 0;
        }
        run[inRun * 2] = kDigits[m_data[i] >> 4];
        run[inRun * 2 + 1] = kDigits[m_data[i] & 15];
        ++inRun;
    }
    if (inRun != 0) {
        run[inRun * 2] = '\0';
        list.Append(run);
    }
    list.Append("\r\n");
}
