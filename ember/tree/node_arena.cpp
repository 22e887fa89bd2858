#include "ember/tree/node_arena.h"

#include <cstdlib>

#if EMBER_ARENA_ASAN
#include <sanitizer/asan_interface.h>
#define EMBER_POISON(block, size) ASAN_POISON_MEMORY_REGION(block, size)
#define EMBER_UNPOISON(block, size) ASAN_UNPOISON_MEMORY_REGION(block, size)
#else
#define EMBER_POISON(block, size) ((void)(block), (void)(size))
#define EMBER_UNPOISON(block, size) ((void)(block), (void)(size))
#endif

// The head of every chunk; the blocks follow it. `previous` links only the
// chunks of one large block each.
struct CEmber_NodeArena::Chunk
{
    Chunk* next;
    Chunk* previous;
    size_t size;
    size_t pad;

    char* Data() { return reinterpret_cast<char*>(this + 1); }
};

namespace {

template <typename C>
C* NewChunk(size_t size)
{
    static_assert(sizeof(C) % CEmber_NodeArena::kAlignment == 0);
    C* chunk = static_cast<C*>(::operator new(sizeof(C) + size));
    chunk->next = nullptr;
    chunk->previous = nullptr;
    chunk->size = size;
    chunk->pad = 0;
    EMBER_POISON(chunk->Data(), size);
    return chunk;
}

template <typename C>
void DeleteChunk(C* chunk) noexcept
{
    EMBER_UNPOISON(chunk->Data(), chunk->size);
    ::operator delete(chunk);
}

} // namespace

CEmber_NodeArena::~CEmber_NodeArena()
{
    for (Chunk* chunk = m_large; chunk;) {
        Chunk* next = chunk->next;
        DeleteChunk(chunk);
        chunk = next;
    }
    for (Chunk* chunk = m_first; chunk;) {
        Chunk* next = chunk->next;
        DeleteChunk(chunk);
        chunk = next;
    }
}

void CEmber_NodeArena::Unpoison(void* block, size_t size)
{
    EMBER_UNPOISON(block, size);
    (void)block;
    (void)size;
}

void CEmber_NodeArena::Enter(Chunk* chunk)
{
    m_current = chunk;
    m_next = chunk->Data();
    m_end = m_next + chunk->size;
}

void* CEmber_NodeArena::AllocateLarge(size_t size)
{
    Chunk* chunk = NewChunk<Chunk>(size);
    chunk->next = m_large;
    if (m_large)
        m_large->previous = chunk;
    m_large = chunk;
    m_held += size;
    m_largeUsed += size;
    EMBER_UNPOISON(chunk->Data(), size);
    return chunk->Data();
}

void* CEmber_NodeArena::AllocateSlow(size_t size)
{
    if (size == 0)
        return Allocate(1);
    if (size > kLargeBlock)
        return AllocateLarge(size);
    const size_t rounded = (size + kAlignment - 1) & ~(kAlignment - 1);
    // A kept chunk after the current one, else a new one at the end.
    while (m_current && m_current->next) {
        m_usedBefore += m_current->size;
        Enter(m_current->next);
        if (rounded <= size_t(m_end - m_next))
            return Allocate(size);
    }
    Chunk* chunk = NewChunk<Chunk>(m_nextChunk);
    m_held += m_nextChunk;
    if (m_nextChunk < kMaxChunk)
        m_nextChunk *= 2;
    if (m_current) {
        m_usedBefore += m_current->size;
        m_current->next = chunk;
    } else {
        m_first = chunk;
    }
    Enter(chunk);
    return Allocate(size);
}

void CEmber_NodeArena::Release(void* block, size_t size) noexcept
{
    if (!block)
        return;
    if (size > kLargeBlock) {
        Chunk* chunk = reinterpret_cast<Chunk*>(block) - 1;
        if (chunk->previous)
            chunk->previous->next = chunk->next;
        else
            m_large = chunk->next;
        if (chunk->next)
            chunk->next->previous = chunk->previous;
        m_held -= chunk->size;
        m_largeUsed -= chunk->size;
        DeleteChunk(chunk);
        return;
    }
    const size_t rounded = (size + kAlignment - 1) & ~(kAlignment - 1);
    EMBER_POISON(block, rounded);
    if (static_cast<char*>(block) + rounded == m_next)
        m_next = static_cast<char*>(block);
}

void CEmber_NodeArena::Rewind() noexcept
{
    if (!m_large && m_held <= kKeptOctets) {
        // Every chunk is kept: only the pointers go back.
        for (Chunk* chunk = m_first; chunk && chunk != m_current->next; chunk = chunk->next)
            EMBER_POISON(chunk->Data(), chunk->size);
        if (m_first)
            Enter(m_first);
        m_usedBefore = 0;
        m_foreign = false;
        return;
    }
    for (Chunk* chunk = m_large; chunk;) {
        Chunk* next = chunk->next;
        m_held -= chunk->size;
        DeleteChunk(chunk);
        chunk = next;
    }
    m_large = nullptr;
    m_largeUsed = 0;
    // The chunks in order of use, kept while they fit kKeptOctets.
    size_t kept = 0;
    Chunk* last = nullptr;
    for (Chunk* chunk = m_first; chunk;) {
        Chunk* next = chunk->next;
        if (kept + chunk->size <= kKeptOctets) {
            kept += chunk->size;
            EMBER_POISON(chunk->Data(), chunk->size);
            if (last)
                last->next = chunk;
            else
                m_first = chunk;
            last = chunk;
        } else {
            m_held -= chunk->size;
            DeleteChunk(chunk);
        }
        chunk = next;
    }
    if (last) {
        last->next = nullptr;
        Enter(m_first);
    } else {
        m_first = nullptr;
        m_current = nullptr;
        m_next = m_end = nullptr;
    }
    m_usedBefore = 0;
    m_foreign = false;
}

size_t CEmber_NodeArena::UsedOctets() const
{
    const size_t inCurrent = m_current ? size_t(m_next - m_current->Data()) : 0;
    return m_usedBefore + inCurrent + m_largeUsed;
}
