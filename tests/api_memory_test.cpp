// Global and local memory as applications use it with the library: the same
// assertions hold for Windows' own functions and for the Linux build's.
#include <gtest/gtest.h>

#include <cstring>

#include "kelm3.h"

TEST(GlobalMemory, MovableBlocksLockAndCount)
{
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 100);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalSize(h), 100u);
    EXPECT_EQ(GlobalFlags(h) & GMEM_LOCKCOUNT, 0u);
    auto* p = static_cast<unsigned char*>(GlobalLock(h));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(p[i], 0) << i;
    EXPECT_EQ(GlobalLock(h), p) << "a locked block does not move";
    EXPECT_EQ(GlobalFlags(h) & GMEM_LOCKCOUNT, 2u);
    EXPECT_EQ(GlobalHandle(p), h);
    EXPECT_NE(GlobalUnlock(h), FALSE) << "still locked once";
    EXPECT_EQ(GlobalUnlock(h), FALSE) << "now unlocked";
    EXPECT_EQ(GlobalFlags(h) & GMEM_LOCKCOUNT, 0u);
    EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST(GlobalMemory, ReallocationKeepsContentAndZeroesGrowth)
{
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 16);
    ASSERT_NE(h, nullptr);
    std::memcpy(GlobalLock(h), "0123456789abcdef", 16);
    GlobalUnlock(h);
    HGLOBAL g = GlobalReAlloc(h, 64, GMEM_MOVEABLE | GMEM_ZEROINIT);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(GlobalSize(g), 64u);
    auto* p = static_cast<unsigned char*>(GlobalLock(g));
    EXPECT_EQ(std::memcmp(p, "0123456789abcdef", 16), 0);
    for (int i = 16; i < 64; ++i)
        ASSERT_EQ(p[i], 0) << i;
    GlobalUnlock(g);
    HGLOBAL s = GlobalReAlloc(g, 8, GMEM_MOVEABLE);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(GlobalSize(s), 8u);
    EXPECT_EQ(std::memcmp(GlobalLock(s), "01234567", 8), 0);
    GlobalUnlock(s);
    EXPECT_EQ(GlobalFree(s), nullptr);
}

TEST(GlobalMemory, FixedBlocksAreTheirOwnPointers)
{
    HGLOBAL h = GlobalAlloc(GPTR, 12);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalLock(h), static_cast<void*>(h));
    EXPECT_EQ(GlobalHandle(h), h);
    EXPECT_EQ(GlobalSize(h), 12u);
    GlobalUnlock(h);
    EXPECT_EQ(GlobalFree(h), nullptr);

    HLOCAL l = LocalAlloc(LPTR, 24);
    ASSERT_NE(l, nullptr);
    auto* p = static_cast<unsigned char*>(static_cast<void*>(l));
    for (int i = 0; i < 24; ++i)
        ASSERT_EQ(p[i], 0);
    EXPECT_EQ(LocalFree(l), nullptr);
}

TEST(GlobalMemory, DibFreeReleasesLockedAndUnlockedBlocks)
{
    HGLOBAL a = CreateDIB(4, 4, 24, 0);
    HGLOBAL b = CreateDIB(4, 4, 24, 0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(GlobalLock(b), nullptr);
    EXPECT_EQ(DIBFree(a), nullptr);
    EXPECT_EQ(DIBFree(b), nullptr);
}
