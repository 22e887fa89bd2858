#include "ember/values/output_buffer.h"

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
    std::memcpy(m_storage.get() + m_used, octets, count);
    m_used += count;
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
