// Growable octet buffer, the one concrete output stream.
//
// Leaves and containers use it as scratch while building their cached
// encodings; the host encodes each outgoing message into one. Octets are only
// ever appended; the owner reads them through Data()/Used(). Growth rule: the
// first allocation takes max(needed, 256) octets; later ones add half the
// capacity (at most 16384), or jump to needed + step when that is not enough.
#pragma once

#include "ember/ber/output_stream.h"

#include <cstdint>
#include <memory>

class CEmber_OutputBuffer : public CEmber_OutputStream
{
public:
    static constexpr uint32_t kFirstCapacity = 256;
    static constexpr uint32_t kMaxGrowthStep = 0x4000;

    CEmber_OutputBuffer() = default;
    CEmber_OutputBuffer(const CEmber_OutputBuffer&) = delete;
    CEmber_OutputBuffer& operator=(const CEmber_OutputBuffer&) = delete;
    ~CEmber_OutputBuffer() override = default;

    void WriteByte(uint8_t octet) override;
    uint32_t Write(const uint8_t* octets, uint32_t count) override;
    void Flush() override {}

    // Copies the first min(n, used) octets to destination and returns that
    // number; 0 when the buffer never received an octet.
    uint32_t CopyOut(uint8_t* destination, uint32_t n) const;

    const uint8_t* Data() const { return m_storage.get(); }
    uint32_t Used() const { return m_used; }
    uint32_t Capacity() const { return m_capacity; }

    // The capacity the growth rule picks when `needed` octets must fit into a
    // buffer of `capacity` octets (0 = no storage yet).
    static uint32_t GrownCapacity(uint32_t capacity, uint32_t needed);

private:
    void MakeRoom(uint32_t needed);

    std::unique_ptr<uint8_t[]> m_storage;
    uint32_t m_used = 0;
    uint32_t m_capacity = 0;
};
