// Octet sources for the decoders.
//
// The only concrete stream is a read-only view over a block of memory. It
// owns nothing and allocates nothing, so a decoder can wrap one around a
// buffer for every single decode. Reading past the end throws code 1 "EOF"
// (directly, never with a location) and leaves the position unchanged.
#pragma once

#include <cstdint>

class CEmber_InputStream
{
public:
    virtual ~CEmber_InputStream() = default;

    // The next octet; throws CEmber_Exception(1, "EOF") past the end.
    virtual uint8_t ReadOctet() = 0;
};

class CEmber_BoundedStream : public CEmber_InputStream
{
public:
    explicit CEmber_BoundedStream(uint32_t size) : m_size(size) {}

    uint32_t Size() const { return m_size; }
    uint32_t Position() const { return m_position; }

protected:
    uint32_t m_size;
    uint32_t m_position = 0;
};

class CEmber_MemoryStream : public CEmber_BoundedStream
{
public:
    CEmber_MemoryStream(const uint8_t* data, uint32_t size)
        : CEmber_BoundedStream(size), m_data(data)
    {}

    // Points the view at another block and starts again at its first octet.
    void Attach(const uint8_t* data, uint32_t size)
    {
        m_data = data;
        m_size = size;
        m_position = 0;
    }

    uint8_t ReadOctet() override;

private:
    const uint8_t* m_data;
};
