// Leaves whose content lives in their own storage: UTF8String and
// OctetString. The 32-octet cache holds only the header (at most 17 octets);
// Encode writes the header, then the storage. A leaf in an arena takes its
// storage from the arena.
#pragma once

#include "ember/tree/leaf.h"

#include <cstdint>

class CEmber_NodeArena;

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

    ~CEmber_UTF8String() override;

    // The leaf's own text (nullptr when it has no storage); writable in place.
    char* GetText() const { return m_text; }
    uint32_t GetLength() const { return m_length; }
    // Plain mode: storage of length + 1 octets, zero-terminated.
    char* AllocateText(uint32_t length);

private:
    friend class CEmber_NodeArena;

    // The length constructor's leaf in arena's memory and storage.
    CEmber_UTF8String(uint32_t classOctet, uint32_t number, EmberContentLength length,
                      CEmber_NodeArena& arena);

    void EncodeHeader();
    void FreeText() noexcept;

    char* m_text = nullptr;
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

    ~CEmber_OctetString() override;

    uint8_t* GetData() const { return m_data; }
    uint32_t GetLength() const { return m_length; }
    // Plain mode: storage of exactly length octets.
    uint8_t* AllocateData(uint32_t length);

private:
    friend class CEmber_NodeArena;

    // The length constructor's leaf in arena's memory and storage.
    CEmber_OctetString(uint32_t classOctet, uint32_t number, EmberContentLength length,
                       CEmber_NodeArena& arena);

    void FreeData() noexcept;

    uint8_t* m_data = nullptr;
    uint32_t m_length = 0;
};
