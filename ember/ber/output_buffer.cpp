#include "ember/ber/output_buffer.h"

#include <algorithm>
#include <cstring>
#include <new>

uint32_t CEmber_OutputBuffer::GrownCapacity(uint32_t capacity, uint32_t needed)
{
    if (capacity == 0)
        return std::max(needed, kFirstCapacity);
    const uint32_t step = std::min(capacity / 2, kMaxGrowthStep);
    uint64_t grown = uint64_t(capacity) + step;
    if (grown < needed)
        grown = uint64_t(needed) + step;
    if (grown > UINT32_MAX)
        grown = UINT32_MAX;
    return uint32_t(grown);
}

void CEmber_OutputBuffer::MakeRoom(uint32_t needed)
{
    if (needed <= m_capacity)
        return;
    const uint32_t capacity = GrownCapacity(m_capacity, needed);
    // Allocate first: on failure the buffer keeps its old storage and capacity.
    std::unique_ptr<uint8_t[]> storage(new uint8_t[capacity]);
    if (m_used != 0)
        std::memcpy(storage.get(), m_storage.get(), m_used);
    m_storage = std::move(storage);
    m_capacity = capacity;
}

void CEmber_OutputBuffer::WriteByte(uint8_t octet)
{
    Write(&octet, 1);
}

uint32_t CEmber_OutputBuffer::Write(const uint8_t* octets, uint32_t count)
{
    if (count == 0)
        return 0;
    if (count > UINT32_MAX - m_used)
        throw std::bad_alloc();
    MakeRoom(m_used + count);
    uint8_t* out = m_storage.get() + m_used;
    m_used += count;
    // Headers and small leaves: a few octets, cheaper copied in place than
    // through a library call.
    // Fixed-size copies that may overlap in the middle compile to moves.
    if (count >= 8 && count <= 16) {
        std::memcpy(out, octets, 8);
        std::memcpy(out + count - 8, octets + count - 8, 8);
    } else if (count >= 4 && count < 8) {
        std::memcpy(out, octets, 4);
        std::memcpy(out + count - 4, octets + count - 4, 4);
    } else if (count < 4) {
        out[0] = octets[0];
        out[count / 2] = octets[count / 2];
        out[count - 1] = octets[count - 1];
    } else {
        std::memcpy(out, octets, count);
    }
    return count;
}

uint32_t CEmber_OutputBuffer::CopyOut(uint8_t* destination, uint32_t n) const
{
    if (!m_storage)
        return 0;
    const uint32_t copied = std::min(n, m_used);
    if (copied != 0)
        std::memcpy(destination, m_storage.get(), copied);
    return copied;
}
