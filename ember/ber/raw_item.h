// The element just read: its header fields and a view of its content.
//
// The incremental reader fills an item field by field; the node factory turns
// a complete item into a node through the content getters. Every getter
// first tests the item and reports a bad one through the virtual RaiseError
// (which a reader overrides to add the element's location), then decodes the
// content through a memory stream, so reading past it raises code 1 "EOF".
#pragma once

#include "ember/ber/tag.h"

#include <cstdint>
#include <string>

class CEmber_RawItem
{
public:
    CEmber_RawItem() = default;
    CEmber_RawItem(const CEmber_RawItem&) = delete;
    CEmber_RawItem& operator=(const CEmber_RawItem&) = delete;

    // Back to the empty item: no content, empty outer tag, outer length 0,
    // type 0, primitive, content length 0. Called once an element; inline.
    void ResetItem()
    {
        m_content = nullptr;
        m_outerTag = CEmber_Tag();
        m_outerLength = 0;
        m_type = 0;
        m_constructed = false;
        m_contentLength = 0;
    }

    // Throws CEmber_Exception(code, message); never returns.
    [[noreturn]] virtual void RaiseError(int32_t code, const char* message);

    virtual ~CEmber_RawItem() = default;

    const CEmber_Tag& GetOuterTag() const { return m_outerTag; }
    uint32_t GetOuterLength() const { return m_outerLength; }
    uint32_t GetItemType() const { return m_type; }
    bool IsConstructed() const { return m_constructed; }
    uint32_t GetContentLength() const { return m_contentLength; }
    const uint8_t* GetContent() const { return m_content; }

    // Fills the item directly (the reader does this octet by octet). The
    // content is a view: the octets must stay valid until ResetItem.
    void SetHeader(const CEmber_Tag& outerTag, uint32_t type, bool constructed,
                   uint32_t contentLength);
    void SetContent(const uint8_t* content, uint32_t length);

    // Content getters; each raises its own code for a constructed item and,
    // where noted, for an empty content.
    bool GetBoolean();                    // 201; empty rejected
    int32_t GetInteger();                 // 202; empty rejected
    int64_t GetInteger64();               // 203; empty rejected
    double GetReal();                     // 204; empty gives 0.0
    void GetString(char* buffer);         // 205; buffer of length + 1
    void GetOctetString(uint8_t* buffer); // 206; buffer of length
    uint64_t GetObjectIdentifier();       // 207; empty rejected
    uint64_t GetGeneralizedTime();        // 208; empty rejected

protected:
    // Raises a registered code with its registered message.
    [[noreturn]] void Raise(int32_t code);

    CEmber_Tag m_outerTag;
    uint32_t m_outerLength = 0;
    uint32_t m_type = 0;
    bool m_constructed = false;
    const uint8_t* m_content = nullptr;
    uint32_t m_contentLength = 0;
};
