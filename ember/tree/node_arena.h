// The memory of one decoded message's tree, taken in one piece and given back
// in one piece.
//
// A tree reader makes every node of a message, and every text, octet store
// and Set index of those nodes, in an arena, and rewinds the arena when the
// tree is dropped: no node is destroyed one by one and no block goes back to
// a heap or pool on its own. Allocation bumps a pointer through chunks taken
// from the heap (growing from kFirstChunk to kMaxChunk); a request above
// kLargeBlock gets a chunk of its own, which Release gives back at once.
// Rewind keeps up to kKeptOctets of chunks for the next tree and returns the
// rest, so what one huge message took does not stay held.
//
// Nodes made here (Make) know their arena (CEmber_Node::GetArena); whatever
// they own is made here too, so skipping their destructors leaks nothing. A
// node from the heap linked under one of them (a caller adding its own node
// to a decoded tree) is noted (NoteForeign): the tree's owner then destroys
// the tree node by node before the rewind, so that node is deleted as its
// container's contract says.
//
// Under AddressSanitizer the octets not handed out, and everything after a
// rewind, are poisoned: a pointer kept into a dropped tree is reported on
// use until its octets are handed out again.
#pragma once

#include "ember/tree/node.h"

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

#if defined(__SANITIZE_ADDRESS__)
#define EMBER_ARENA_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define EMBER_ARENA_ASAN 1
#endif
#endif

class CEmber_NodeArena
{
public:
    static constexpr size_t kAlignment = alignof(std::max_align_t);
    static constexpr size_t kFirstChunk = size_t(16) << 10;
    static constexpr size_t kMaxChunk = size_t(1) << 20;
    // Requests above this get a chunk of their own.
    static constexpr size_t kLargeBlock = size_t(64) << 10;
    // Chunk octets kept across a rewind at most.
    static constexpr size_t kKeptOctets = size_t(1) << 20;

    CEmber_NodeArena() = default;
    // Returns every chunk; nothing made here may be used afterwards.
    ~CEmber_NodeArena();
    CEmber_NodeArena(const CEmber_NodeArena&) = delete;
    CEmber_NodeArena& operator=(const CEmber_NodeArena&) = delete;

    // size octets aligned to kAlignment, valid until the next Rewind; throws
    // std::bad_alloc with the arena unchanged.
    void* Allocate(size_t size)
    {
        const size_t rounded = (size + kAlignment - 1) & ~(kAlignment - 1);
        if (rounded <= size_t(m_end - m_next) && rounded != 0 && size <= kLargeBlock) {
            void* block = m_next;
            m_next += rounded;
#if EMBER_ARENA_ASAN
            Unpoison(block, size);
#endif
            return block;
        }
        return AllocateSlow(size);
    }
    // Gives back a block of Allocate(size) early: a block of its own chunk is
    // returned to the heap, the most recent block is taken back, any other
    // stays until the rewind. nullptr does nothing.
    void Release(void* block, size_t size) noexcept;

    // A node of class T made here: T(args...) in this arena's memory, its
    // arena set. T's constructor must take nothing from the heap (the node is
    // never destroyed on its own); the factory uses only such constructors.
    template <typename T, typename... Args>
    T* Make(Args&&... args)
    {
        T* node = ::new (Allocate(sizeof(T))) T(std::forward<Args>(args)...);
        static_cast<CEmber_Node*>(node)->m_arena = this;
        return node;
    }

    // A bare node (default constructor: no header owed) with its tag, as
    // Make<T>() and SetTag(tag) give it.
    template <typename T>
    T* MakeBare(const CEmber_Tag& tag)
    {
        T* node = Make<T>();
        static_cast<CEmber_Node*>(node)->m_tag = tag;
        return node;
    }

    // A node from elsewhere was linked under a node of this arena.
    void NoteForeign()
    {
        m_foreign = true;
    }
    bool HasForeign() const
    {
        return m_foreign;
    }

    // Forgets everything handed out (without destroying anything) and keeps
    // up to kKeptOctets of chunks; clears the foreign note.
    void Rewind() noexcept;

    // Octets of the chunks held (in use or kept).
    size_t HeldOctets() const
    {
        return m_held;
    }
    // Octets handed out since the last rewind (rounded to the alignment).
    size_t UsedOctets() const;

private:
    struct Chunk;

    void* AllocateSlow(size_t size);
    void* AllocateLarge(size_t size);
    // Makes `chunk` the one blocks are bumped from.
    void Enter(Chunk* chunk);
    static void Unpoison(void* block, size_t size);

    // The chunks blocks are bumped from, in order of use, and the one in use.
    Chunk* m_first = nullptr;
    Chunk* m_current = nullptr;
    // Blocks of their own chunk, doubly linked.
    Chunk* m_large = nullptr;
    char* m_next = nullptr;
    char* m_end = nullptr;
    // Octets of the chunks before m_current, handed out or skipped.
    size_t m_usedBefore = 0;
    size_t m_largeUsed = 0;
    size_t m_held = 0;
    size_t m_nextChunk = kFirstChunk;
    bool m_foreign = false;
};
