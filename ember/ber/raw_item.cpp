#include "ember/ber/raw_item.h"

#include "ember/ber/exception.h"
#include "ember/ber/input_stream.h"
#include "ember/ber/integer_codec.h"
#include "ember/ber/real_codec.h"
#include "ember/ber/text_codec.h"
#include "ember/ber/time_codec.h"

void CEmber_RawItem::RaiseError(int32_t code, const char* message)
{
    throw CEmber_Exception(code, message);
}

void CEmber_RawItem::Raise(int32_t code)
{
    RaiseError(code, EmberErrorText(code));
    // RaiseError never returns; this keeps an override honest if it did.
    throw CEmber_Exception(code, EmberErrorText(code));
}

void CEmber_RawItem::SetHeader(const CEmber_Tag& outerTag, uint32_t type, bool constructed,
                               uint32_t contentLength)
{
    m_outerTag = outerTag;
    m_type = type;
    m_constructed = constructed;
    m_contentLength = contentLength;
}

void CEmber_RawItem::SetContent(const uint8_t* content, uint32_t length)
{
    m_content = content;
    m_contentLength = length;
}

bool CEmber_RawItem::GetBoolean()
{
    if (m_constructed || m_contentLength == 0)
        Raise(eeError_InvalidBoolean);
    CEmber_MemoryStream in(m_content, m_contentLength);
    return DecodeBoolean(in);
}

int32_t CEmber_RawItem::GetInteger()
{
    if (m_constructed || m_contentLength == 0)
        Raise(eeError_InvalidInteger);
    CEmber_MemoryStream in(m_content, m_contentLength);
    return DecodeInteger(in, m_contentLength);
}

int64_t CEmber_RawItem::GetInteger64()
{
    if (m_constructed || m_contentLength == 0)
        Raise(eeError_InvalidInteger64);
    CEmber_MemoryStream in(m_content, m_contentLength);
    return DecodeInteger64(in, m_contentLength);
}

double CEmber_RawItem::GetReal()
{
    if (m_constructed)
        Raise(eeError_InvalidReal);
    CEmber_MemoryStream in(m_content, m_contentLength);
    double value = 0.0;
    if (!TryDecodeReal(in, m_contentLength, value))
        Raise(eeError_InvalidReal);
    return value;
}

void CEmber_RawItem::GetString(char* buffer)
{
    if (m_constructed)
        Raise(eeError_InvalidString);
    CEmber_MemoryStream in(m_content, m_contentLength);
    DecodeString(in, buffer, m_contentLength);
}

void CEmber_RawItem::GetOctetString(uint8_t* buffer)
{
    if (m_constructed)
        Raise(eeError_InvalidOctetString);
    CEmber_MemoryStream in(m_content, m_contentLength);
    DecodeOctetString(in, buffer, m_contentLength);
}

uint64_t CEmber_RawItem::GetObjectIdentifier()
{
    if (m_constructed || m_contentLength == 0)
        Raise(eeError_InvalidObjectIdentifier);
    CEmber_MemoryStream in(m_content, m_contentLength);
    return DecodeObjectIdentifier(in);
}

uint64_t CEmber_RawItem::GetGeneralizedTime()
{
    if (m_constructed || m_contentLength == 0)
        Raise(eeError_InvalidGeneralizedTime);
    CEmber_MemoryStream in(m_content, m_contentLength);
    return DecodeGeneralizedTime(in, m_contentLength);
}
