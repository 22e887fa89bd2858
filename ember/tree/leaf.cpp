#include "ember/tree/leaf.h"

#include "ember/ber/exception.h"
#include "ember/ber/filetime.h"
#include "ember/ber/identifier.h"
#include "ember/ber/integer_codec.h"
#include "ember/ber/length.h"
#include "ember/ber/output_stream.h"
#include "ember/ber/real_codec.h"
#include "ember/ber/scratch_buffer.h"
#include "ember/ber/text_codec.h"
#include "ember/ber/text_list.h"
#include "ember/ber/time_codec.h"

#include <cinttypes>

void CEmber_Leaf::Encode(CEmber_OutputStream& out) const
{
    if (m_encodedLength != 0)
        out.Write(m_cache, m_encodedLength);
}

bool CEmber_Leaf::RemoveChild(uint32_t, uint32_t)
{
    throw CEmber_Exception(eeError_NotAContainer);
}

CEmber_Node* CEmber_Leaf::FindChild(uint32_t, uint32_t)
{
    throw CEmber_Exception(eeError_NotAContainer);
}

const CEmber_ChildList& CEmber_Leaf::GetChildren() const
{
    throw CEmber_Exception(eeError_NotAContainer);
}

void CEmber_Leaf::AddChild(CEmber_Node*, bool)
{
    throw CEmber_Exception(eeError_NotAContainer);
}

// The header goes straight into the cache; the content is written through a
// stack scratch. A fixed-size leaf never exceeds 29 octets.
template <typename WriteContent>
void CEmber_Leaf::EncodeFixed(int32_t type, int32_t contentLength, WriteContent writeContent)
{
    uint32_t n =
        uint32_t(PutIdentifier(m_cache, GetTag().ClassBits() | kBerConstructed, GetTag().Number()));
    n += uint32_t(PutLength(m_cache + n, uint32_t(contentLength + 2)));
    m_cache[n++] = uint8_t(type);
    n += uint32_t(PutLength(m_cache + n, uint32_t(contentLength)));
    CEmber_ScratchBuffer scratch;
    writeContent(scratch);
    m_encodedLength = n + scratch.CopyTo(m_cache + n, kCacheSize - n);
}

template <typename WriteContent>
void CEmber_Leaf::EncodePatched(int32_t type, WriteContent writeContent)
{
    const uint32_t tagOctets =
        uint32_t(PutIdentifier(m_cache, GetTag().ClassBits() | kBerConstructed, GetTag().Number()));
    CEmber_ScratchBuffer scratch;
    const int32_t contentLength = writeContent(scratch);
    // Every patched content is at most 20 octets, so both lengths stay one
    // octet long.
    m_cache[tagOctets] = uint8_t(contentLength + 2);
    m_cache[tagOctets + 1] = uint8_t(type);
    m_cache[tagOctets + 2] = uint8_t(contentLength);
    const uint32_t n = tagOctets + 3;
    m_encodedLength = n + scratch.CopyTo(m_cache + n, kCacheSize - n);
}

CEmber_Boolean::CEmber_Boolean(uint32_t classOctet, uint32_t number, bool value)
    : CEmber_Leaf(classOctet, number), m_value(value)
{
    EncodeFixed(1, 1, [&](CEmber_OutputStream& out) { EncodeBoolean(out, m_value); });
}

void CEmber_Boolean::RenderValue(CEmber_TextList& list) const
{
    list.Append(m_value ? "true" : "false");
}

CEmber_Integer32::CEmber_Integer32(uint32_t classOctet, uint32_t number, int32_t value)
    : CEmber_Integer(classOctet, number), m_value(value)
{
    // The octets EncodeFixed would give with EncodeInteger, written straight
    // into the cache: at most 6 + 1 + 1 + 1 header and 4 content octets.
    const int32_t n = IntegerSize(m_value);
    uint32_t used =
        uint32_t(PutIdentifier(m_cache, GetTag().ClassBits() | kBerConstructed, GetTag().Number()));
    m_cache[used++] = uint8_t(n + 2);
    m_cache[used++] = uint8_t(eeBerType_Integer);
    m_cache[used++] = uint8_t(n);
    const uint32_t bits = uint32_t(m_value);
    for (int32_t i = n - 1; i >= 0; --i)
        m_cache[used++] = uint8_t(bits >> (8 * i));
    m_encodedLength = used;
}

void CEmber_Integer32::RenderValue(CEmber_TextList& list) const
{
    list.AppendFormat("%d", m_value);
}

CEmber_Integer64::CEmber_Integer64(uint32_t classOctet, uint32_t number, int64_t value)
    : CEmber_Integer(classOctet, number), m_value(value)
{
    const int32_t n = Integer64Size(m_value);
    EncodeFixed(2, n, [&](CEmber_OutputStream& out) { EncodeInteger64(out, m_value, n); });
}

void CEmber_Integer64::RenderValue(CEmber_TextList& list) const
{
    list.AppendFormat("%" PRId64, m_value);
}

CEmber_Real::CEmber_Real(uint32_t classOctet, uint32_t number, double value)
    : CEmber_Leaf(classOctet, number), m_value(value)
{
    EncodePatched(9, [&](CEmber_OutputStream& out) { return EncodeReal(out, m_value); });
}

void CEmber_Real::RenderValue(CEmber_TextList& list) const
{
    list.AppendFormat("%f", m_value);
}

CEmber_RelativeObject::CEmber_RelativeObject(uint32_t classOctet, uint32_t number, uint64_t value)
    : CEmber_Leaf(classOctet, number), m_value(value)
{
    EncodePatched(13,
                  [&](CEmber_OutputStream& out) { return EncodeObjectIdentifier(out, m_value); });
}

void CEmber_RelativeObject::RenderValue(CEmber_TextList& list) const
{
    list.AppendFormat("%016" PRIX64, m_value);
}

CEmber_GeneralizedTime::CEmber_GeneralizedTime(uint32_t classOctet, uint32_t number, uint64_t time,
                                               bool asTime)
    : CEmber_Leaf(classOctet, number), m_time(time), m_asTime(asTime)
{
    if (m_asTime) {
        EncodePatched(24,
                      [&](CEmber_OutputStream& out) { return EncodeGeneralizedTime(out, m_time); });
    } else {
        const int64_t value = int64_t(m_time);
        const int32_t n = Integer64Size(value);
        EncodeFixed(2, n, [&](CEmber_OutputStream& out) { EncodeInteger64(out, value, n); });
    }
}

void CEmber_GeneralizedTime::RenderValue(CEmber_TextList& list) const
{
    EmberCalendarTime fields;
    if (!FileTimeToCalendar(m_time, fields)) {
        list.AppendFormat("invalid time %" PRIu64, m_time);
        return;
    }
    list.AppendFormat("%04d-%02d-%02dT%02d:%02d:%02d.%dZ", fields.year, fields.month, fields.day,
                      fields.hour, fields.minute, fields.second, fields.milliseconds);
}
