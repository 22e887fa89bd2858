// Leaves whose content lives in their own storage: UTF8String and
// OctetString. The 32-octet cache holds only the header (at most 17 octets);
// Encode writes the header, then the storage.
#pragma once

#include "ember/tree/leaf.h"

#include <cstdint>
#include <memory>

// Content length of a string leaf whose storage the caller fills afterwards.
struct EmberContentLength
{
    uint32_t value;
};

class CEmber_UTF8String : public CEmber_Leaf
{
public:
    CEmber_UTF8String() = default;
    // Copies the zero-terminated text; with nullptr the leaf has no storage,
    // length 0, and encodes only its header.
    CEmber_UTF8String(uint32_t classOctet, uint32_t number, const char* text);
    // Storage of length + 1 octets for the caller to fill with length octets
    // and a terminating zero; the header is encoded from the length alone.
    CEmber_UTF8String(uint32_t classOctet, uint32_t number, EmberContentLength length);

    int32_t GetType() const override { return eeBerType_UTF8String; }
    void Encode(CEmber_OutputStream& out) const override;
    // The text unchanged; nothing for a leaf without storage.
    void RenderValue(CEmber_TextList& list) const override;

    // The leaf's own text (nullptr when it has no storage); writable in place.
    char* GetText() const { return m_text.get(); }
    uint32_t GetLength() const { return m_length; }
    // Plain mode: storage of length + 1 octets, zero-terminated.
    char* AllocateText(uint32_t length);

private:
    void EncodeHeader();

    std::unique_ptr<char[]> m_text;
    uint32_t m_length = 0;
};

class CEmber_OctetString : public CEmber_Leaf
{
public:
    CEmber_OctetString() = default;
    // Storage of exactly length octets for the caller to fill.
    CEmber_OctetString(uint32_t classOctet, uint32_t number, EmberContentLength length);

    int32_t GetType() const override { return eeBerType_OctetString; }
    void Encode(CEmber_OutputStream& out) const override;
    // Upper-case hex digits in runs of 32 octets, each run but the last
    // preceded by a "\r\n" piece, and a final "\r\n".
    void RenderValue(CEmber_TextList& list) const override;

    uint8_t* GetData() const { return m_data.get(); }
    uint32_t GetLength() const { return m_length; }
    // Plain mode: storage of exactly length octets.
    uint8_t* AllocateData(uint32_t length);

private:
    std::unique_ptr<uint8_t[]> m_data;
    uint32_t m_length = 0;
};
