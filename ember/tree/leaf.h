// Typed value leaves.
//
// A leaf built from a tag and a value encodes itself at once: its own tag
// as a constructed outer tag around the primitive universal tag of its type
// and the content octets. Fixed-size leaves keep the whole encoding (at most
// 29 octets) in a 32-octet cache; string leaves keep only their header there
// and the content in their own storage. A leaf never changes afterwards.
//
// Bare (default) construction serves the factory's plain mode: the caller
// sets value and tag directly, nothing is encoded, Encode writes nothing and
// GetEncodedLength is 0.
#pragma once

#include "ember/ber/types.h"
#include "ember/tree/node.h"

#include <cstdint>

class CEmber_Leaf : public CEmber_Node
{
public:
    static constexpr uint32_t kCacheSize = 32;

    void Encode(CEmber_OutputStream& out) const override;
    uint32_t GetEncodedLength() const override { return m_encodedLength; }
    bool IsContainer() const override { return false; }
    bool RemoveChild(uint32_t classOctet, uint32_t number) override;
    CEmber_Node* FindChild(uint32_t classOctet, uint32_t number) override;
    const CEmber_ChildList& GetChildren() const override;
    void Dump(CEmber_TextList& list, int32_t level) const override;
    void AddChild(CEmber_Node* child, bool update) override;

    // Appends the value's text to list.
    virtual void RenderValue(CEmber_TextList& list) const = 0;

    // The cached octets (the whole encoding, or the header of a string leaf).
    const uint8_t* GetCache() const { return m_cache; }

protected:
    CEmber_Leaf() = default;
    CEmber_Leaf(uint32_t classOctet, uint32_t number) : CEmber_Node(classOctet, number) {}

    // Caches the whole encoding of a fixed-size leaf whose inner and outer
    // lengths are known from the content count.
    template <typename WriteContent>
    void EncodeFixed(int32_t type, int32_t contentLength, WriteContent writeContent);
    // Caches the whole encoding of a leaf whose content count is only known
    // after writing it: both lengths are written as placeholders and patched.
    template <typename WriteContent>
    void EncodePatched(int32_t type, WriteContent writeContent);

    uint32_t m_encodedLength = 0;
    uint8_t m_cache[kCacheSize] = {};
};

class CEmber_Boolean : public CEmber_Leaf
{
public:
    CEmber_Boolean() = default;
    CEmber_Boolean(uint32_t classOctet, uint32_t number, bool value);

    int32_t GetType() const override { return eeBerType_Boolean; }
    void RenderValue(CEmber_TextList& list) const override;

    bool GetValue() const { return m_value; }
    void SetValue(bool value) { m_value = value; }

private:
    bool m_value = false;
};

class CEmber_Integer : public CEmber_Leaf
{
public:
    int32_t GetType() const override { return eeBerType_Integer; }
    // True for the 64-bit form.
    virtual bool Is64Bit() const = 0;

protected:
    using CEmber_Leaf::CEmber_Leaf;
    CEmber_Integer() = default;
};

class CEmber_Integer32 : public CEmber_Integer
{
public:
    CEmber_Integer32() = default;
    CEmber_Integer32(uint32_t classOctet, uint32_t number, int32_t value);

    void RenderValue(CEmber_TextList& list) const override;
    bool Is64Bit() const override { return false; }

    int32_t GetValue() const { return m_value; }
    void SetValue(int32_t value) { m_value = value; }

private:
    int32_t m_value = 0;
};

class CEmber_Integer64 : public CEmber_Integer
{
public:
    CEmber_Integer64() = default;
    CEmber_Integer64(uint32_t classOctet, uint32_t number, int64_t value);

    void RenderValue(CEmber_TextList& list) const override;
    bool Is64Bit() const override { return true; }

    int64_t GetValue() const { return m_value; }
    void SetValue(int64_t value) { m_value = value; }

private:
    int64_t m_value = 0;
};

class CEmber_Real : public CEmber_Leaf
{
public:
    CEmber_Real() = default;
    CEmber_Real(uint32_t classOctet, uint32_t number, double value);

    int32_t GetType() const override { return eeBerType_Real; }
    // Fixed notation with six decimals.
    void RenderValue(CEmber_TextList& list) const override;

    double GetValue() const { return m_value; }
    void SetValue(double value) { m_value = value; }

private:
    double m_value = 0.0;
};

class CEmber_RelativeObject : public CEmber_Leaf
{
public:
    CEmber_RelativeObject() = default;
    // value: first sub-identifier in the high 32 bits, second in the low.
    CEmber_RelativeObject(uint32_t classOctet, uint32_t number, uint64_t value);

    int32_t GetType() const override { return eeBerType_RelativeObject; }
    // 16 upper-case hexadecimal digits.
    void RenderValue(CEmber_TextList& list) const override;

    uint64_t GetValue() const { return m_value; }
    void SetValue(uint64_t value) { m_value = value; }

private:
    uint64_t m_value = 0;
};

class CEmber_GeneralizedTime : public CEmber_Leaf
{
public:
    CEmber_GeneralizedTime() = default;
    // time: 100-nanosecond intervals since 1601-01-01 UTC. With asTime clear
    // the leaf is written as an Integer of that count and answers type 2.
    CEmber_GeneralizedTime(uint32_t classOctet, uint32_t number, uint64_t time, bool asTime);

    int32_t GetType() const override
    {
        return m_asTime ? eeBerType_GeneralizedTime : eeBerType_Integer;
    }
    // "YYYY-MM-DDThh:mm:ss.<ms>Z"; a time at or above 2^63 intervals, which
    // has no calendar form, renders as "invalid time <count>".
    void RenderValue(CEmber_TextList& list) const override;

    uint64_t GetTime() const { return m_time; }
    bool IsAsTime() const { return m_asTime; }
    void SetTime(uint64_t time, bool asTime)
    {
        m_time = time;
        m_asTime = asTime;
    }

private:
    uint64_t m_time = 0;
    bool m_asTime = false;
};
