#include "ember/tree/node_pool.h"

#include "ember/tree/container.h"
#include "ember/tree/leaf.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#include <sanitizer/lsan_interface.h>
#define KORVANE_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/asan_interface.h>
#include <sanitizer/lsan_interface.h>
#define KORVANE_TEST_ASAN 1
#endif
#endif

namespace {

TEST(NodePool, ReleasedBlockIsHandedOutAgainForTheSameSizeClass)
{
    CEmber_NodePool pool;
    void* first = pool.Allocate(72);
    pool.Release(first, 72);
    EXPECT_EQ(CEmber_NodePool::kGranule * 5, pool.KeptOctets());
    // 65..80 octets share one class.
    EXPECT_EQ(first, pool.Allocate(80));
    EXPECT_EQ(0u, pool.KeptOctets());
    pool.Release(first, 80);
}

TEST(NodePool, SizeClassesDoNotMix)
{
    CEmber_NodePool pool;
    void* small = pool.Allocate(40);
    pool.Release(small, 40);
    void* large = pool.Allocate(100);
    EXPECT_NE(small, large);
    EXPECT_EQ(small, pool.Allocate(33));
    pool.Release(small, 33);
    pool.Release(large, 100);
}

TEST(NodePool, MostRecentlyReleasedFirst)
{
    CEmber_NodePool pool;
    std::vector<void*> blocks;
    for (int i = 0; i < 4; ++i)
        blocks.push_back(pool.Allocate(64));
    for (void* block : blocks)
        pool.Release(block, 64);
    for (int i = 3; i >= 0; --i)
        EXPECT_EQ(blocks[size_t(i)], pool.Allocate(64)) << i;
    for (void* block : blocks)
        pool.Release(block, 64);
}

TEST(NodePool, KeepsNoMoreThanItsCapAndNothingAboveTheLargestClass)
{
    CEmber_NodePool pool(96);
    std::vector<void*> blocks;
    for (int i = 0; i < 5; ++i)
        blocks.push_back(pool.Allocate(32));
    for (void* block : blocks)
        pool.Release(block, 32);
    EXPECT_EQ(96u, pool.KeptOctets());

    CEmber_NodePool big;
    void* block = big.Allocate(CEmber_NodePool::kMaxBlock + 1);
    big.Release(block, CEmber_NodePool::kMaxBlock + 1);
    EXPECT_EQ(0u, big.KeptOctets());
    big.Release(nullptr, 64);
    EXPECT_EQ(0u, big.KeptOctets());
}

TEST(NodePool, BlocksAreUsableAndDistinct)
{
    CEmber_NodePool pool;
    std::set<void*> seen;
    std::vector<std::pair<void*, size_t>> blocks;
    for (size_t size = 1; size <= CEmber_NodePool::kMaxBlock + 64; size += 7) {
        void* block = pool.Allocate(size);
        ASSERT_TRUE(seen.insert(block).second) << size;
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(block) % alignof(std::max_align_t)) << size;
        std::memset(block, 0xA5, size);
        blocks.emplace_back(block, size);
    }
    for (const auto& [block, size] : blocks)
        pool.Release(block, size);
}

// Trees are made on one thread and destroyed on another, and threads end
// while their pools hold blocks.
TEST(NodePool, NodesCrossThreads)
{
    std::vector<std::unique_ptr<CEmber_Node>> trees;
    std::thread maker([&trees] {
        for (int i = 0; i < 50; ++i) {
            auto root = std::make_unique<CEmber_Sequence>(0x80, uint32_t(i), nullptr);
            for (int j = 0; j < 20; ++j)
                root->AddIntegerChild(0x80, uint32_t(j), j);
            trees.push_back(std::move(root));
        }
    });
    maker.join();
    std::thread breaker([&trees] { trees.clear(); });
    breaker.join();
    EXPECT_TRUE(trees.empty());

    // This thread's pool serves a tree as before.
    CEmber_Sequence root(0x80, 1, nullptr);
    root.AddIntegerChild(0x80, 2, 7);
    int32_t value = 0;
    EXPECT_TRUE(root.GetIntegerChild(0x80, 2, value));
    EXPECT_EQ(7, value);
}

// A block a thread allocates after its pool is gone (a node made in a
// thread_local destructor that runs after the pool's) and frees on a thread
// with a live pool is filed under its size class; handed out again at the
// class's full size, every octet of it must belong to the block.
std::atomic<void*> g_lateBlock{nullptr};
constexpr size_t kLateSize = 17; // class 17..32

struct LateAllocator
{
    ~LateAllocator() { g_lateBlock = CEmber_NodePool::AllocateNode(kLateSize); }
};

TEST(NodePool, BlockMadeAfterThePoolIsGoneServesItsWholeClassElsewhere)
{
    if (!CEmber_NodePool::ThreadPoolsEnabled())
        GTEST_SKIP() << "nodes use the heap directly in this build";
    // This thread's pool is live.
    CEmber_NodePool::ReleaseNode(CEmber_NodePool::AllocateNode(kLateSize), kLateSize);
    std::thread late([] {
        // Made first, destroyed after the pool that the node below makes.
        thread_local LateAllocator allocator;
        (void)&allocator;
        CEmber_NodePool::ReleaseNode(CEmber_NodePool::AllocateNode(64), 64);
    });
    late.join();
    void* block = g_lateBlock.exchange(nullptr);
    ASSERT_NE(block, nullptr);
    std::memset(block, 0x5A, kLateSize);
    CEmber_NodePool::ReleaseNode(block, kLateSize);
    const size_t whole = CEmber_NodePool::kGranule * 2;
    void* again = CEmber_NodePool::AllocateNode(whole);
    EXPECT_EQ(again, block);
    std::memset(again, 0xA5, whole); // an overflow under AddressSanitizer before the fix
    CEmber_NodePool::ReleaseNode(again, whole);
}

TEST(NodePool, NodesReuseTheBlocksOfDestroyedNodes)
{
    if (!CEmber_NodePool::ThreadPoolsEnabled())
        GTEST_SKIP() << "nodes use the heap directly in sanitizer builds";
    auto first = std::make_unique<CEmber_Integer32>(0x80, 1, 5);
    const void* block = first.get();
    first.reset();
    auto second = std::make_unique<CEmber_Integer32>(0x80, 2, 6);
    EXPECT_EQ(block, static_cast<const void*>(second.get()));
}

#if KORVANE_TEST_ASAN
// Sanitizer builds run the pool too, and it hides nothing from the
// sanitizer: a released block is poisoned while it waits for reuse, and a
// handed-out block is poisoned beyond the size asked for.
TEST(NodePoolSanitizer, ReleasedBlocksArePoisoned)
{
    CEmber_NodePool pool;
    char* block = static_cast<char*>(pool.Allocate(40));
    EXPECT_FALSE(__asan_address_is_poisoned(block));
    EXPECT_FALSE(__asan_address_is_poisoned(block + 39));
    // 40 octets live in a 48-octet class.
    EXPECT_TRUE(__asan_address_is_poisoned(block + 40));
    pool.Release(block, 40);
    EXPECT_TRUE(__asan_address_is_poisoned(block));
    EXPECT_TRUE(__asan_address_is_poisoned(block + 47));
    EXPECT_EQ(block, pool.Allocate(48));
    EXPECT_FALSE(__asan_address_is_poisoned(block + 47));
    pool.Release(block, 48);
}

// Free blocks waiting in a list are the pool's, not leaks: the leak checker
// must reach every one of them, though their octets are poisoned.
__attribute__((noinline)) void FillFreeList(CEmber_NodePool& pool)
{
    void* blocks[8];
    for (void*& block : blocks)
        block = pool.Allocate(64);
    for (void*& block : blocks) {
        pool.Release(block, 64);
        block = nullptr;
    }
}

TEST(NodePoolSanitizer, FreeBlocksAreNoLeaks)
{
    static CEmber_NodePool pool;
    FillFreeList(pool);
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
}

TEST(NodePoolSanitizer, UseOfADestroyedNodeIsReported)
{
    ASSERT_TRUE(CEmber_NodePool::ThreadPoolsEnabled());
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto* leaf = new CEmber_Integer32(0x80, 1, 5);
    const volatile uint8_t* octets = reinterpret_cast<const volatile uint8_t*>(leaf);
    delete leaf;
    EXPECT_TRUE(__asan_address_is_poisoned(const_cast<const uint8_t*>(octets)));
    EXPECT_DEATH((void)octets[8], "use-after-poison");
}
#endif

} // namespace
