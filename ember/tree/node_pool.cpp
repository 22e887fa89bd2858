#include "ember/tree/node_pool.h"

#include <new>

// Thread pools are left out on Windows, where the MinGW runtime can hang a
// thread that runs a thread_local destructor at exit after using other
// thread_local data.
#if defined(_WIN32)
#define EMBER_NODE_POOL_BYPASS 1
#endif

// Under AddressSanitizer the pool stays in and tells the sanitizer which
// octets are not in use: a block in a free list is poisoned whole, a block
// handed out is poisoned beyond the size asked for. The free-list link then
// lives in a word of its own behind the block, never poisoned: the leak
// checker does not follow pointers kept in poisoned memory, and would take
// every block behind a list's head for a leak.
#if defined(__SANITIZE_ADDRESS__)
#define EMBER_NODE_POOL_POISON 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define EMBER_NODE_POOL_POISON 1
#endif
#endif

#if EMBER_NODE_POOL_POISON
#include <sanitizer/asan_interface.h>
#define EMBER_POISON(block, size) ASAN_POISON_MEMORY_REGION(block, size)
#define EMBER_UNPOISON(block, size) ASAN_UNPOISON_MEMORY_REGION(block, size)
#else
#define EMBER_POISON(block, size) ((void)(block), (void)(size))
#define EMBER_UNPOISON(block, size) ((void)(block), (void)(size))
#endif

namespace {

#if EMBER_NODE_POOL_POISON
constexpr size_t kLinkRoom = sizeof(void*);
#else
constexpr size_t kLinkRoom = 0;
#endif

constexpr size_t ClassOf(size_t size)
{
    return (size - 1) / CEmber_NodePool::kGranule;
}

constexpr size_t ClassSize(size_t sizeClass)
{
    return (sizeClass + 1) * CEmber_NodePool::kGranule;
}

// Where a free block of the class keeps its link to the next one.
void** LinkOf(void* block, size_t sizeClass)
{
    return reinterpret_cast<void**>(static_cast<char*>(block) +
                                    (kLinkRoom ? ClassSize(sizeClass) : 0));
}

// A fresh block from the heap for size octets. Up to kMaxBlock it has the
// room of its whole size class (and the link word), whether a pool hands it
// out or a thread whose pool is gone: a live pool may take it back under
// that class and hand it out again at the class's full size.
void* NewBlock(size_t size)
{
    if (size > CEmber_NodePool::kMaxBlock)
        return ::operator new(size);
    const size_t sizeClass = ClassOf(size);
    void* block = ::operator new(ClassSize(sizeClass) + kLinkRoom);
    EMBER_POISON(static_cast<char*>(block) + size, ClassSize(sizeClass) - size);
    return block;
}

// Returns a block to the heap; the tail beyond the size asked for was
// poisoned when it was handed out.
void DeleteBlock(void* block, size_t size) noexcept
{
    if (block && size <= CEmber_NodePool::kMaxBlock)
        EMBER_UNPOISON(block, ClassSize(ClassOf(size == 0 ? 1 : size)));
    ::operator delete(block);
}

#if !EMBER_NODE_POOL_BYPASS
// The thread's pool is made on its first node and destroyed with the thread;
// releases that come later (static trees torn down after the thread's
// objects) go straight to the heap.
enum class PoolState : unsigned char
{
    Unused,
    Live,
    Gone,
};

thread_local PoolState t_state = PoolState::Unused;
// The live pool of the thread, or nullptr: a plain thread_local read, where
// the pool object itself needs a guarded, constructed thread_local.
thread_local CEmber_NodePool* t_pool = nullptr;

struct ThreadPool
{
    ~ThreadPool()
    {
        t_pool = nullptr;
        t_state = PoolState::Gone;
    }
    CEmber_NodePool pool;
};

CEmber_NodePool& LocalPool()
{
    thread_local ThreadPool local;
    t_state = PoolState::Live;
    t_pool = &local.pool;
    return local.pool;
}
#endif

} // namespace

CEmber_NodePool::~CEmber_NodePool()
{
    for (size_t sizeClass = 0; sizeClass < kClasses; ++sizeClass) {
        void* block = m_heads[sizeClass];
        while (block) {
            EMBER_UNPOISON(block, ClassSize(sizeClass));
            void* next = *LinkOf(block, sizeClass);
            ::operator delete(block);
            block = next;
        }
        m_heads[sizeClass] = nullptr;
    }
    m_kept = 0;
}

void* CEmber_NodePool::Allocate(size_t size)
{
    if (size == 0)
        size = 1;
    if (size > kMaxBlock)
        return ::operator new(size);
    const size_t sizeClass = ClassOf(size);
    if (void* block = m_heads[sizeClass]) {
        EMBER_UNPOISON(block, ClassSize(sizeClass));
        m_heads[sizeClass] = *LinkOf(block, sizeClass);
        m_kept -= ClassSize(sizeClass);
        EMBER_POISON(static_cast<char*>(block) + size, ClassSize(sizeClass) - size);
        return block;
    }
    return NewBlock(size);
}

void CEmber_NodePool::Release(void* block, size_t size) noexcept
{
    if (!block)
        return;
    if (size == 0)
        size = 1;
    if (size > kMaxBlock) {
        ::operator delete(block);
        return;
    }
    const size_t sizeClass = ClassOf(size);
    // The tail beyond the size asked for was poisoned when handed out.
    EMBER_UNPOISON(block, ClassSize(sizeClass));
    if (m_kept + ClassSize(sizeClass) > m_cap) {
        ::operator delete(block);
        return;
    }
    *LinkOf(block, sizeClass) = m_heads[sizeClass];
    m_heads[sizeClass] = block;
    m_kept += ClassSize(sizeClass);
    EMBER_POISON(block, ClassSize(sizeClass));
}

void* CEmber_NodePool::AllocateNode(size_t size)
{
#if !EMBER_NODE_POOL_BYPASS
    // Once the thread's pool is gone, nodes use the heap directly, in blocks
    // made as a pool makes them, so either kind may be released either way.
    if (CEmber_NodePool* pool = t_pool)
        return pool->Allocate(size);
    if (t_state != PoolState::Gone)
        return LocalPool().Allocate(size);
#endif
    return NewBlock(size == 0 ? 1 : size);
}

void CEmber_NodePool::ReleaseNode(void* block, size_t size) noexcept
{
#if !EMBER_NODE_POOL_BYPASS
    // Live exactly while t_pool is set.
    if (CEmber_NodePool* pool = t_pool) {
        pool->Release(block, size);
        return;
    }
#endif
    DeleteBlock(block, size);
}

bool CEmber_NodePool::ThreadPoolsEnabled()
{
#if EMBER_NODE_POOL_BYPASS
    return false;
#else
    return true;
#endif
}
