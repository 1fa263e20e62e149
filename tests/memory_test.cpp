// Behaviour of the Linux global-memory layer that applications and tests
// rely on beyond the everyday calls: foreign handles are refused without a
// crash, discardable blocks can vanish, and the test hooks count truthfully.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "platform/platform.h"

using kelm::testing::live_blocks;
using kelm::testing::locked_blocks;

TEST(Memory, ForeignHandlesAreRefused)
{
    int local = 0;
    void* foreign[] = {&local, reinterpret_cast<void*>(static_cast<uintptr_t>(0x10)), reinterpret_cast<void*>(~static_cast<uintptr_t>(0))};
    for (void* h : foreign) {
        EXPECT_EQ(GlobalFree(h), h);
        EXPECT_EQ(GlobalLock(h), nullptr);
        EXPECT_EQ(GlobalUnlock(h), FALSE);
        EXPECT_EQ(GlobalSize(h), 0u);
        EXPECT_EQ(GlobalReAlloc(h, 10, GMEM_MOVEABLE), nullptr);
        EXPECT_EQ(LocalFree(h), h);
        EXPECT_EQ(GlobalHandle(h), nullptr);
    }
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 4);
    ASSERT_EQ(GlobalFree(h), nullptr);
    EXPECT_EQ(GlobalFree(h), h) << "a freed handle is foreign";
}

TEST(Memory, DiscardableBlocksVanishOnlyWhenUnlocked)
{
    HGLOBAL keep = GlobalAlloc(GMEM_MOVEABLE | GMEM_DISCARDABLE | GMEM_ZEROINIT, 64);
    HGLOBAL lose = GlobalAlloc(GMEM_MOVEABLE | GMEM_DISCARDABLE | GMEM_ZEROINIT, 64);
    HGLOBAL plain = GlobalAlloc(GMEM_MOVEABLE, 64);
    ASSERT_TRUE(keep && lose && plain);
    void* kept = GlobalLock(keep);
    ASSERT_NE(kept, nullptr);
    kelm::testing::discard_discardable();
    EXPECT_EQ(GlobalLock(keep), kept);
    GlobalUnlock(keep);
    GlobalUnlock(keep);
    EXPECT_NE(GlobalLock(plain), nullptr);
    GlobalUnlock(plain);
    EXPECT_EQ(GlobalLock(lose), nullptr);
    EXPECT_EQ(GlobalSize(lose), 0u);
    EXPECT_NE(GlobalFlags(lose) & GMEM_DISCARDED, 0u);
    EXPECT_EQ(GlobalFree(lose), nullptr) << "a discarded handle is still freed";
    EXPECT_EQ(GlobalFree(keep), nullptr);
    EXPECT_EQ(GlobalFree(plain), nullptr);
}

TEST(Memory, HooksCountLiveAndLockedBlocks)
{
    const size_t live = live_blocks(), locked = locked_blocks();
    HGLOBAL a = GlobalAlloc(GMEM_MOVEABLE, 8);
    HLOCAL b = LocalAlloc(LPTR, 8);
    EXPECT_EQ(live_blocks(), live + 2);
    GlobalLock(a);
    GlobalLock(a);
    EXPECT_EQ(locked_blocks(), locked + 1);
    GlobalUnlock(a);
    EXPECT_EQ(locked_blocks(), locked + 1);
    GlobalUnlock(a);
    EXPECT_EQ(locked_blocks(), locked);
    GlobalFree(a);
    LocalFree(b);
    EXPECT_EQ(live_blocks(), live);
}

TEST(Memory, InjectedFailureHitsExactlyTheChosenAllocation)
{
    kelm::testing::fail_allocation(2);
    HGLOBAL first = GlobalAlloc(GMEM_MOVEABLE, 8);
    HGLOBAL second = GlobalAlloc(GMEM_MOVEABLE, 8);
    HGLOBAL third = GlobalAlloc(GMEM_MOVEABLE, 8);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(second, nullptr);
    EXPECT_NE(third, nullptr);
    kelm::testing::fail_allocation(1);
    EXPECT_EQ(GlobalReAlloc(first, 4096, GMEM_MOVEABLE), nullptr);
    EXPECT_EQ(GlobalSize(first), 8u) << "a failed reallocation keeps the block";
    GlobalFree(first);
    GlobalFree(third);
}

// Growth counts as an allocation for fault injection, in place or not, and so
// does bringing back a discarded block; shrinking and attribute changes do not.
TEST(Memory, InjectedFailureCountsEveryGrowth)
{
    struct Case {
        const char* what;
        UINT alloc;
        SIZE_T from;
        SIZE_T shrink;  // size the block is first shrunk to, 0: none
        SIZE_T to;
        UINT flags;
        bool counts;
    };
    const Case cases[] = {
        {"movable growth", GMEM_MOVEABLE, 64, 0, 4096, 0, true},
        {"growth back within the allocation", GMEM_FIXED, 64, 40, 64, 0, true},
        {"fixed growth", GMEM_FIXED, 64, 0, 4096, GMEM_MOVEABLE, true},
        {"revival of a discarded block", GMEM_MOVEABLE, 0, 0, 16, 0, true},
        {"shrink", GMEM_MOVEABLE, 64, 0, 8, 0, false},
        {"same size", GMEM_FIXED, 64, 0, 64, 0, false},
        {"discard", GMEM_MOVEABLE, 64, 0, 0, GMEM_MOVEABLE, false},
        {"modify", GMEM_MOVEABLE, 64, 0, 4096, GMEM_MODIFY | GMEM_DISCARDABLE, false},
        // Blocks of 2 MiB and more have mappings of their own.
        {"large movable growth", GMEM_MOVEABLE, 3 << 20, 0, 9 << 20, 0, true},
        {"large fixed growth", GMEM_FIXED, 3 << 20, 0, 9 << 20, GMEM_MOVEABLE, true},
        {"small to large", GMEM_MOVEABLE, 64, 0, 5 << 20, 0, true},
        {"large growth back within the mapping", GMEM_FIXED, 4 << 20, 3 << 20, 4 << 20, 0, true},
        {"large shrink", GMEM_MOVEABLE, 8 << 20, 0, 1 << 20, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HGLOBAL h = GlobalAlloc(c.alloc, c.from);
        ASSERT_NE(h, nullptr);
        if (c.shrink) {
            ASSERT_EQ(GlobalReAlloc(h, c.shrink, 0), h);
        }
        const unsigned long before = kelm::testing::allocation_count();
        HGLOBAL g = GlobalReAlloc(h, c.to, c.flags);
        ASSERT_NE(g, nullptr);
        EXPECT_EQ(kelm::testing::allocation_count() - before, c.counts ? 1u : 0u);
        if (c.counts) {
            kelm::testing::fail_allocation(1);
            HGLOBAL shrunk = GlobalReAlloc(g, c.to / 2, GMEM_MOVEABLE);
            ASSERT_EQ(shrunk, g) << "shrinking cannot fail";
            EXPECT_EQ(GlobalReAlloc(g, c.to, c.flags), nullptr) << "the armed growth fails";
            EXPECT_EQ(GlobalSize(g), c.to / 2);
            kelm::testing::fail_allocation(0);
        }
        EXPECT_EQ(GlobalFree(g), nullptr);
    }
}

// A block grows in place as far as its allocation reaches, so a locked block
// shrunk and grown again keeps its address; past that it needs GMEM_MOVEABLE.
TEST(Memory, LockedBlocksGrowOnlyWithinTheirAllocation)
{
    // Small blocks on the heap, and large ones (own mappings) whose
    // allocation is the size rounded up to 2 MiB.
    struct Case {
        SIZE_T size, shrunk, beyond;
    };
    const Case cases[] = {{100, 40, 101}, {(3 << 20) + 100, 3 << 20, (4 << 20) + 1}};
    for (const Case& c : cases)
    for (UINT alloc : {UINT{GMEM_MOVEABLE}, UINT{GMEM_FIXED}}) {
        SCOPED_TRACE(testing::Message() << alloc << ", " << c.size << " bytes");
        HGLOBAL h = GlobalAlloc(alloc, c.size);
        auto* p = static_cast<unsigned char*>(GlobalLock(h));
        ASSERT_NE(p, nullptr);
        std::memset(p, 0xAB, c.size);
        ASSERT_EQ(GlobalReAlloc(h, c.shrunk, 0), h);
        ASSERT_EQ(GlobalReAlloc(h, c.size, GMEM_ZEROINIT), h);
        EXPECT_EQ(GlobalLock(h), p);
        GlobalUnlock(h);
        EXPECT_EQ(p[c.shrunk - 1], 0xAB);
        for (SIZE_T i = c.shrunk; i < c.size; ++i)
            ASSERT_EQ(p[i], 0) << "regrowth is zeroed at " << i;
        EXPECT_EQ(GlobalReAlloc(h, c.beyond, 0), nullptr);
        EXPECT_EQ(GlobalLock(h), p);
        GlobalUnlock(h);
        GlobalUnlock(h);
        EXPECT_EQ(GlobalFree(h), nullptr);
    }
}

// Contents survive every change of size and of memory (heap to mapping,
// mapping to mapping by moving pages, mapping to heap), growth with
// GMEM_ZEROINIT is zero even where a shrink left old bytes within the
// allocation, and GlobalHandle finds the block from its new address.
TEST(Memory, ContentsSurviveEveryResize)
{
    struct Case {
        const char* what;
        SIZE_T from, shrink, to;  // shrink 0: none
    };
    const Case cases[] = {
        {"heap to mapping", 1000, 0, 3 << 20},
        {"mapping grows", (3 << 20) + 5, 0, (7 << 20) + 3},
        {"mapping shrunk, then grown past it", 6 << 20, (2 << 20) + 7, 9 << 20},
        {"mapping to heap", 5 << 20, 4000, 8000},
        {"mapping trimmed, still large", 12 << 20, 3 << 20, (3 << 20) + 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, c.from);
        ASSERT_NE(h, nullptr);
        auto* p = static_cast<unsigned char*>(GlobalLock(h));
        ASSERT_NE(p, nullptr);
        for (SIZE_T i = 0; i < c.from; i += 4093)
            ASSERT_EQ(p[i], 0) << "a new block is zeroed at " << i;
        for (SIZE_T i = 0; i < c.from; ++i)
            p[i] = static_cast<unsigned char>(i * 7 + 1);
        GlobalUnlock(h);
        SIZE_T kept = c.from;
        if (c.shrink) {
            ASSERT_EQ(GlobalReAlloc(h, c.shrink, GMEM_MOVEABLE), h);
            kept = c.shrink;
        }
        ASSERT_EQ(GlobalReAlloc(h, c.to, GMEM_MOVEABLE | GMEM_ZEROINIT), h);
        EXPECT_EQ(GlobalSize(h), c.to);
        p = static_cast<unsigned char*>(GlobalLock(h));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(GlobalHandle(p), h);
        const SIZE_T common = kept < c.to ? kept : c.to;
        for (SIZE_T i = 0; i < common; ++i)
            ASSERT_EQ(p[i], static_cast<unsigned char>(i * 7 + 1)) << "kept at " << i;
        for (SIZE_T i = common; i < c.to; ++i)
            ASSERT_EQ(p[i], 0) << "growth is zeroed at " << i;
        GlobalUnlock(h);
        EXPECT_EQ(GlobalFree(h), nullptr);
    }
}

// Handles that stop being handles: a fixed block's old address after it moves
// or becomes movable. The registry must forget them, not leave them dangling.
TEST(Memory, RetiredFixedHandlesAreForeign)
{
    const size_t live = live_blocks();
    HGLOBAL fixed = GlobalAlloc(GMEM_FIXED, 16);
    HGLOBAL grown = GlobalReAlloc(fixed, 1 << 20, GMEM_MOVEABLE);
    ASSERT_NE(grown, nullptr);
    ASSERT_NE(grown, fixed);
    EXPECT_EQ(GlobalFlags(fixed), UINT{GMEM_INVALID_HANDLE});
    EXPECT_EQ(GlobalHandle(grown), grown);

    HGLOBAL movable = GlobalReAlloc(grown, 0, GMEM_MODIFY | GMEM_MOVEABLE);
    ASSERT_NE(movable, nullptr);
    ASSERT_NE(movable, grown);
    EXPECT_EQ(GlobalFree(grown), grown) << "the address is no handle any more";
    EXPECT_EQ(GlobalHandle(grown), movable);
    const size_t locked = locked_blocks();
    EXPECT_EQ(GlobalLock(movable), static_cast<void*>(grown));
    EXPECT_EQ(locked_blocks(), locked + 1) << "the converted block counts its locks";
    GlobalUnlock(movable);
    EXPECT_EQ(live_blocks(), live + 1);
    EXPECT_EQ(GlobalFree(movable), nullptr);
    EXPECT_EQ(live_blocks(), live);
}

// A discarded block, whether discarded by the system or born empty, keeps its
// handle and comes back with GlobalReAlloc.
TEST(Memory, DiscardedBlocksComeBack)
{
    const size_t live = live_blocks();
    HGLOBAL cache = GlobalAlloc(GMEM_MOVEABLE | GMEM_DISCARDABLE, 32);
    HGLOBAL empty = GlobalAlloc(GMEM_MOVEABLE, 0);
    HGLOBAL large = GlobalAlloc(GMEM_MOVEABLE | GMEM_DISCARDABLE, 4 << 20);
    ASSERT_TRUE(cache && empty && large);
    EXPECT_EQ(live_blocks(), live + 3) << "an empty block is still a handle";
    kelm::testing::discard_discardable();
    for (HGLOBAL h : {cache, empty, large}) {
        EXPECT_EQ(GlobalLock(h), nullptr);
        EXPECT_EQ(GlobalReAlloc(h, 48, GMEM_ZEROINIT), h);
        auto* p = static_cast<unsigned char*>(GlobalLock(h));
        ASSERT_NE(p, nullptr);
        for (int i = 0; i < 48; ++i)
            ASSERT_EQ(p[i], 0);
        EXPECT_EQ(GlobalHandle(p), h);
        GlobalUnlock(h);
        EXPECT_EQ(GlobalFree(h), nullptr);
    }
    EXPECT_EQ(live_blocks(), live);
}
