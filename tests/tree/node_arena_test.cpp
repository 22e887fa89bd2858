#include "ember/tree/node_arena.h"

#include "ember/tree/leaf.h"
#include "ember/tree/root.h"
#include "ember/tree/set.h"
#include "ember/tree/string_leaf.h"
#include "tests/support/tree_helpers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>

#if EMBER_ARENA_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace {

bool Aligned(const void* block)
{
    return reinterpret_cast<uintptr_t>(block) % CEmber_NodeArena::kAlignment == 0;
}

TEST(NodeArena, BlocksAreAlignedDistinctAndCountedRoundedUp)
{
    CEmber_NodeArena arena;
    std::set<const void*> seen;
    for (size_t size : {size_t(1), size_t(16), size_t(17), size_t(100), size_t(4000)}) {
        void* block = arena.Allocate(size);
        EXPECT_TRUE(Aligned(block)) << size;
        std::memset(block, 0xA5, size);
        EXPECT_TRUE(seen.insert(block).second) << size;
    }
    EXPECT_EQ(size_t(16 + 16 + 32 + 112 + 4000), arena.UsedOctets());
    EXPECT_EQ(CEmber_NodeArena::kFirstChunk, arena.HeldOctets());
}

TEST(NodeArena, RewindHandsTheSameOctetsOutAgain)
{
    CEmber_NodeArena arena;
    void* first = arena.Allocate(48);
    arena.Allocate(48);
    arena.NoteForeign();
    arena.Rewind();
    EXPECT_EQ(0u, arena.UsedOctets());
    EXPECT_FALSE(arena.HasForeign());
    EXPECT_EQ(first, arena.Allocate(48));
}

TEST(NodeArena, ChunksGrowAndWhatOneHugeTreeTookIsNotKept)
{
    CEmber_NodeArena arena;
    // 8 MiB in blocks of 1000 octets: chunks of 16 KiB doubling to 1 MiB.
    for (int i = 0; i < 8 * 1024; ++i)
        arena.Allocate(1000);
    EXPECT_GE(arena.HeldOctets(), arena.UsedOctets());
    EXPECT_GE(arena.UsedOctets(), size_t(8000) << 10);
    EXPECT_LE(arena.HeldOctets(), size_t(9) << 20);
    arena.Rewind();
    EXPECT_LE(arena.HeldOctets(), CEmber_NodeArena::kKeptOctets);
    EXPECT_GT(arena.HeldOctets(), 0u);
}

TEST(NodeArena, LargeBlocksHaveTheirOwnChunkAndReleaseReturnsIt)
{
    CEmber_NodeArena arena;
    arena.Allocate(64);
    const size_t held = arena.HeldOctets();
    const size_t large = CEmber_NodeArena::kLargeBlock + 1;
    void* block = arena.Allocate(large);
    std::memset(block, 1, large);
    EXPECT_EQ(held + large, arena.HeldOctets());
    arena.Release(block, large);
    EXPECT_EQ(held, arena.HeldOctets());
    // Large blocks do not survive a rewind either.
    arena.Allocate(large);
    arena.Rewind();
    EXPECT_EQ(held, arena.HeldOctets());
    // The most recent small block is taken back; an older one stays.
    void* older = arena.Allocate(64);
    void* next = arena.Allocate(64);
    arena.Release(next, 64);
    EXPECT_EQ(next, arena.Allocate(64));
    arena.Release(older, 64);
    EXPECT_NE(older, arena.Allocate(64));
}

TEST(NodeArena, MadeNodesKnowTheirArenaAndTakeTheirStorageFromIt)
{
    CEmber_NodeArena arena;
    auto* set = arena.Make<CEmber_Set>(0x80, 1, nullptr, true);
    CEmber_Set twin(0x80, 1, nullptr, true);
    EXPECT_EQ(&arena, set->GetArena());
    EXPECT_EQ(nullptr, twin.GetArena());
    const size_t before = arena.UsedOctets();
    auto* text = arena.Make<CEmber_UTF8String>();
    std::memcpy(text->AllocateText(200), "abc", 3);
    EXPECT_GE(arena.UsedOctets(), before + sizeof(CEmber_UTF8String) + 201);
    // A table for more than the listed children, from the arena too.
    for (uint32_t n = 0; n < 40; ++n) {
        set->AddChild(arena.Make<CEmber_Integer32>(0x80, n, int32_t(n)), true);
        twin.AddIntegerChild(0x80, n, int32_t(n));
    }
    EXPECT_GT(set->GetIndexCapacity(), 0u);
    EXPECT_FALSE(arena.HasForeign());
    int32_t value = 0;
    EXPECT_TRUE(set->GetIntegerChild(0x80, 33, value));
    EXPECT_EQ(33, value);
    EXPECT_EQ(testing_support::EncodeToHex(twin), testing_support::EncodeToHex(*set));
    arena.Rewind();
}

// A node of the caller's linked under an arena node is noted, and Destroy of
// the arena tree deletes it; arena nodes removed from the tree are destroyed
// without going back to any heap.
TEST(NodeArena, ForeignChildrenAreNotedAndDestroyedWithTheTree)
{
    int live = 0;
    CEmber_NodeArena arena;
    auto* root = arena.Make<CEmber_Root>();
    auto* set = arena.Make<CEmber_Set>(0x80, 1, nullptr, true);
    root->AddChild(set, true);
    set->AddChild(arena.Make<CEmber_Integer32>(0x80, 2, 7), true);
    EXPECT_FALSE(arena.HasForeign());
    EXPECT_TRUE(set->RemoveChild(0x80, 2));
    set->AddChild(new testing_support::Counted<CEmber_Integer32>(live, 0x80, 3, 3), true);
    EXPECT_TRUE(arena.HasForeign());
    root->AddChild(new testing_support::Counted<CEmber_Sequence>(live, 0x40, 0xFFFFACDD, nullptr),
                   true);
    EXPECT_EQ(2, live);
    CEmber_Node::Destroy(root);
    EXPECT_EQ(0, live);
    arena.Rewind();
}

#if EMBER_ARENA_ASAN
TEST(NodeArena, DroppedOctetsArePoisonedUntilHandedOutAgain)
{
    CEmber_NodeArena arena;
    char* block = static_cast<char*>(arena.Allocate(40));
    EXPECT_FALSE(__asan_address_is_poisoned(block + 39));
    // The rounding behind a block is not the block's.
    EXPECT_TRUE(__asan_address_is_poisoned(block + 40));
    arena.Rewind();
    EXPECT_TRUE(__asan_address_is_poisoned(block));
    EXPECT_EQ(block, arena.Allocate(8));
    EXPECT_FALSE(__asan_address_is_poisoned(block));
    EXPECT_TRUE(__asan_address_is_poisoned(block + 8));
}
#endif

} // namespace
