// Fixed-size output stream on the stack, used as scratch while a node
// computes its cached header or encoding. It never allocates; octets beyond
// its capacity are counted but dropped, which the callers' caches (17 and 32
// octets) already bound.
#pragma once

#include "ember/ber/output_stream.h"

#include <cstdint>
#include <cstring>

class CEmber_ScratchBuffer : public CEmber_OutputStream
{
public:
    static constexpr uint32_t kCapacity = 32;

    void WriteByte(uint8_t octet) override
    {
        if (m_used < kCapacity)
            m_octets[m_used] = octet;
        ++m_used;
    }

    uint32_t Write(const uint8_t* octets, uint32_t count) override
    {
        for (uint32_t i = 0; i < count; ++i)
            WriteByte(octets[i]);
        return count;
    }

    void Flush() override {}

    // Copies at most limit octets to destination; returns the number copied.
    uint32_t CopyTo(uint8_t* destination, uint32_t limit) const
    {
        uint32_t n = m_used < limit ? m_used : limit;
        if (n > kCapacity)
            n = kCapacity;
        std::memcpy(destination, m_octets, n);
        return n;
    }

    uint32_t Used() const { return m_used; }

private:
    uint8_t m_octets[kCapacity];
    uint32_t m_used = 0;
};
