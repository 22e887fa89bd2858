// Recycles the memory of tree nodes.
//
// Trees are built and torn down at the pace of messages, a few hundred nodes
// at a time, and the general heap spends more on each node than the decoder
// does on its octets. A node pool keeps released blocks in free lists by
// size (16-octet classes up to kMaxBlock octets) and hands them out again,
// most recently released first. Blocks beyond the pool's cap, larger
// requests, and every release once the pool is gone go to the global heap,
// so memory held back stays bounded.
//
// Every node class allocates through the pool of the current thread
// (CEmber_Node's operator new and delete). A node may be destroyed on
// another thread than the one that made it; its block then joins that
// thread's lists. Windows builds leave the thread pools out: their thread
// exit handling cannot be trusted with them.
//
// Under AddressSanitizer the pools stay in and poison what is not in use: a
// released block while it waits in a free list (so a use after free is
// reported as a use after poison), and the octets of a handed-out block
// beyond the size asked for. A stale pointer into a block that has been
// handed out again is not seen; the most recently released block is the
// first one reused.
#pragma once

#include <cstddef>

class CEmber_NodePool
{
public:
    static constexpr size_t kGranule = 16;
    static constexpr size_t kMaxBlock = 512;
    static constexpr size_t kClasses = kMaxBlock / kGranule;
    // Octets a thread's pool keeps for reuse at most.
    static constexpr size_t kDefaultCap = size_t(4) << 20;

    explicit CEmber_NodePool(size_t capOctets = kDefaultCap) : m_cap(capOctets) {}
    // Returns every kept block to the heap.
    ~CEmber_NodePool();
    CEmber_NodePool(const CEmber_NodePool&) = delete;
    CEmber_NodePool& operator=(const CEmber_NodePool&) = delete;

    // A block of at least size octets, aligned as operator new aligns.
    void* Allocate(size_t size);
    // Takes back a block from Allocate of the same size (any pool's, or the
    // heap's for sizes above kMaxBlock); nullptr does nothing.
    void Release(void* block, size_t size) noexcept;
    // Octets held in the free lists.
    size_t KeptOctets() const { return m_kept; }

    // Allocate and Release of the current thread's pool (the heap directly
    // when thread pools are left out of the build).
    static void* AllocateNode(size_t size);
    static void ReleaseNode(void* block, size_t size) noexcept;
    // Whether nodes go through thread pools in this build.
    static bool ThreadPoolsEnabled();

private:
    // The first free block of each class; each keeps the link to the next.
    void* m_heads[kClasses] = {};
    size_t m_kept = 0;
    size_t m_cap;
};
