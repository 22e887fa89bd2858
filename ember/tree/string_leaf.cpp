#include "ember/tree/string_leaf.h"

#include "ember/ber/identifier.h"
#include "ember/ber/length.h"
#include "ember/ber/output_stream.h"
#include "ember/ber/text_list.h"
#include "ember/ber/types.h"
#include "ember/tree/node_arena.h"

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
        m_text = new char[m_length + 1];
        std::memcpy(m_text, text, m_length + 1);
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

CEmber_UTF8String::CEmber_UTF8String(uint32_t classOctet, uint32_t number,
                                     EmberContentLength length, CEmber_NodeArena& arena)
    : CEmber_Leaf(classOctet, number),
      m_text(static_cast<char*>(arena.Allocate(size_t(length.value) + 1))), m_length(length.value)
{
    m_text[m_length] = '\0';
    EncodeHeader();
}

CEmber_UTF8String::~CEmber_UTF8String()
{
    FreeText();
}

void CEmber_UTF8String::FreeText() noexcept
{
    if (CEmber_NodeArena* arena = GetArena())
        arena->Release(m_text, m_text ? size_t(m_length) + 1 : 0);
    else
        delete[] m_text;
    m_text = nullptr;
}

void CEmber_UTF8String::EncodeHeader()
{
    m_encodedLength = EncodeStringHeader(GetTag(), 12, m_length, m_cache) + m_length;
}

char* CEmber_UTF8String::AllocateText(uint32_t length)
{
    char* text = GetArena() ? static_cast<char*>(GetArena()->Allocate(size_t(length) + 1))
                            : new char[length + 1];
    FreeText();
    m_text = text;
    m_text[length] = '\0';
    m_length = length;
    return m_text;
}

void CEmber_UTF8String::Encode(CEmber_OutputStream& out) const
{
    WriteStored(out, m_encodedLength, m_length, m_cache, reinterpret_cast<const uint8_t*>(m_text));
}

void CEmber_UTF8String::RenderValue(CEmber_TextList& list) const
{
    list.Append(m_text ? m_text : "");
}

CEmber_OctetString::CEmber_OctetString(uint32_t classOctet, uint32_t number,
                                       EmberContentLength length)
    : CEmber_Leaf(classOctet, number), m_data(new uint8_t[length.value]), m_length(length.value)
{
    m_encodedLength = EncodeStringHeader(GetTag(), 4, m_length, m_cache) + m_length;
}

CEmber_OctetString::CEmber_OctetString(uint32_t classOctet, uint32_t number,
                                       EmberContentLength length, CEmber_NodeArena& arena)
    : CEmber_Leaf(classOctet, number), m_data(static_cast<uint8_t*>(arena.Allocate(length.value))),
      m_length(length.value)
{
    m_encodedLength = EncodeStringHeader(GetTag(), 4, m_length, m_cache) + m_length;
}

CEmber_OctetString::~CEmber_OctetString()
{
    FreeData();
}

void CEmber_OctetString::FreeData() noexcept
{
    // The storage's size is m_length, whatever its content.
    if (CEmber_NodeArena* arena = GetArena())
        arena->Release(m_data, m_data ? m_length : 0);
    else
        delete[] m_data;
    m_data = nullptr;
}

uint8_t* CEmber_OctetString::AllocateData(uint32_t length)
{
    uint8_t* data =
        GetArena() ? static_cast<uint8_t*>(GetArena()->Allocate(length)) : new uint8_t[length];
    FreeData();
    m_data = data;
    m_length = length;
    return m_data;
}

void CEmber_OctetString::Encode(CEmber_OutputStream& out) const
{
    WriteStored(out, m_encodedLength, m_length, m_cache, m_data);
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
