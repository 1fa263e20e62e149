// Behaviour of the Linux global-memory layer that applications and tests
// rely on beyond the everyday calls: foreign handles are refused without a
// crash, discardable blocks can vanish, and the test hooks count truthfully.
#include <gtest/gtest.h>

#include <cstdint>

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

TEST(Memory, LockedMovableBlocksDoNotGrowInPlace)
{
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 8);
    void* p = GlobalLock(h);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(GlobalReAlloc(h, 4096, 0), nullptr);
    EXPECT_EQ(GlobalLock(h), p);
    GlobalUnlock(h);
    GlobalUnlock(h);
    GlobalFree(h);
}
