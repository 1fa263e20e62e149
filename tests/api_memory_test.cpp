// Global and local memory as applications use it with the library: the same
// assertions hold for Windows' own functions and for the Linux build's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

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

// The Global and Local families, so that one table of cases runs through
// both. They differ in how flags report discardability, and only
// GlobalReAlloc turns a fixed block into a movable one.
struct MemoryApi {
    const char* name;
    HGLOBAL(WINAPI* alloc)(UINT, SIZE_T);
    HGLOBAL(WINAPI* realloc)(HGLOBAL, SIZE_T, UINT);
    LPVOID(WINAPI* lock)(HGLOBAL);
    BOOL(WINAPI* unlock)(HGLOBAL);
    SIZE_T(WINAPI* size)(HGLOBAL);
    UINT(WINAPI* flags)(HGLOBAL);
    HGLOBAL(WINAPI* free)(HGLOBAL);
    HGLOBAL(WINAPI* handle)(LPCVOID);
    UINT discardable;  // the bits its Flags function reports for a discardable block
    bool global;
};

const MemoryApi kMemoryApis[] = {
    {"Global", GlobalAlloc, GlobalReAlloc, GlobalLock, GlobalUnlock, GlobalSize, GlobalFlags, GlobalFree,
     GlobalHandle, GMEM_DISCARDABLE, true},
    {"Local", LocalAlloc, LocalReAlloc, LocalLock, LocalUnlock, LocalSize, LocalFlags, LocalFree, LocalHandle,
     LMEM_DISCARDABLE, false},
};

// What a reallocation returns: NULL with the block untouched; the same
// handle; a new handle; or, for growth that the heap may manage in place,
// either the same handle or NULL.
enum class Outcome { Refused, Same, New, SameOrRefused };
// Where the block's memory is afterwards, compared with a pointer obtained
// before the call: wherever (unlocked movable blocks), kept, or moved.
enum class Where { Any, Kept, Moved };

constexpr SIZE_T kFar = SIZE_T{1} << 22;  // beyond any in-place growth of a 100-byte block
constexpr UINT M = GMEM_MOVEABLE, Z = GMEM_ZEROINIT, D = GMEM_DISCARDABLE, MOD = GMEM_MODIFY;

struct ReallocCase {
    const char* what;
    UINT alloc;        // allocation flags
    SIZE_T from;       // allocated size (0: a movable block is born discarded)
    unsigned locks;    // locks held across the call (movable blocks)
    SIZE_T to;
    UINT flags;        // reallocation flags
    Outcome outcome;
    Where where;
    SIZE_T size;       // Size afterwards when the call succeeds
    UINT after;        // GlobalFlags afterwards (lock count included), whatever the outcome
    bool local_same = false;  // LocalReAlloc keeps the handle and the block fixed (GMEM_MODIFY | GMEM_MOVEABLE)
};

// Wine's answers, which the Linux build gives too. Where Wine departs from
// the documented Win32 behaviour the case says so.
const ReallocCase kReallocCases[] = {
    // A locked movable block keeps its address unless GMEM_MOVEABLE lets it move.
    {"locked, same size", M, 100, 1, 100, 0, Outcome::Same, Where::Kept, 100, 1},
    {"locked, same size, movable", M, 100, 1, 100, M, Outcome::Same, Where::Kept, 100, 1},
    {"locked, shrink", M, 100, 1, 40, 0, Outcome::Same, Where::Kept, 40, 1},
    {"locked, shrink, movable", M, 100, 1, 40, M, Outcome::Same, Where::Kept, 40, 1},
    {"locked thrice, shrink", M, 100, 3, 40, 0, Outcome::Same, Where::Kept, 40, 3},
    {"locked, grow a little", M, 100, 1, 120, 0, Outcome::SameOrRefused, Where::Kept, 120, 1},
    {"locked, grow far", M, 100, 1, kFar, 0, Outcome::Refused, Where::Kept, 100, 1},
    // Documented: "the block can be moved ... even if the object is currently
    // locked"; the caller's pointer is then stale and it locks again.
    {"locked, grow far, movable", M, 100, 1, kFar, M, Outcome::Same, Where::Moved, kFar, 1},
    {"locked thrice, grow far, movable, zeroed", M, 100, 3, kFar, M | Z, Outcome::Same, Where::Moved, kFar, 3},
    {"locked, size 0, movable", M, 100, 1, 0, M, Outcome::Refused, Where::Kept, 100, 1},
    {"locked, size 0", M, 100, 1, 0, 0, Outcome::Refused, Where::Kept, 100, 1},
    {"locked discardable, size 0, movable", M | D, 100, 1, 0, M, Outcome::Refused, Where::Kept, 100, D | 1},
    // An unlocked movable block may move with or without GMEM_MOVEABLE.
    {"unlocked, shrink", M, 100, 0, 40, 0, Outcome::Same, Where::Any, 40, 0},
    {"unlocked, grow far", M, 100, 0, kFar, 0, Outcome::Same, Where::Any, kFar, 0},
    {"unlocked, grow far, zeroed", M, 100, 0, kFar, Z, Outcome::Same, Where::Any, kFar, 0},
    {"unlocked, grow far, movable, zeroed", M, 100, 0, kFar, M | Z, Outcome::Same, Where::Any, kFar, 0},
    // Documented as discarding only a movable and discardable block; Wine
    // discards any unlocked movable block.
    {"unlocked, size 0, movable", M, 100, 0, 0, M, Outcome::Same, Where::Any, 0, GMEM_DISCARDED},
    {"unlocked discardable, size 0, movable", M | D, 100, 0, 0, M, Outcome::Same, Where::Any, 0, GMEM_DISCARDED | D},
    {"unlocked, size 0", M, 100, 0, 0, 0, Outcome::Refused, Where::Any, 100, 0},
    {"unlocked, size 0, zeroed", M, 100, 0, 0, Z, Outcome::Refused, Where::Any, 100, 0},
    {"discardable without GMEM_MODIFY", M, 100, 0, 200, D, Outcome::Refused, Where::Any, 100, 0},
    {"discardable without GMEM_MODIFY, movable", M, 100, 0, 200, M | D, Outcome::Refused, Where::Any, 100, 0},
    // Discarded blocks (a zero-byte movable allocation) come back with any size.
    {"discarded, revive", M, 0, 0, 20, 0, Outcome::Same, Where::Any, 20, 0},
    {"discarded, revive zeroed", M, 0, 0, 20, Z, Outcome::Same, Where::Any, 20, 0},
    {"discarded, revive movable zeroed", M, 0, 0, 20, M | Z, Outcome::Same, Where::Any, 20, 0},
    {"discarded discardable, revive", M | D, 0, 0, 20, M, Outcome::Same, Where::Any, 20, D},
    {"discarded, size 0, movable", M, 0, 0, 0, M, Outcome::Same, Where::Any, 0, GMEM_DISCARDED},
    {"discarded, size 0", M, 0, 0, 0, 0, Outcome::Refused, Where::Any, 0, GMEM_DISCARDED},
    // A fixed block is its own handle: it keeps it unless GMEM_MOVEABLE lets it move.
    {"fixed, same size", 0, 100, 0, 100, 0, Outcome::Same, Where::Kept, 100, 0},
    {"fixed, shrink", 0, 100, 0, 40, 0, Outcome::Same, Where::Kept, 40, 0},
    {"fixed, shrink, movable", 0, 100, 0, 40, M, Outcome::Same, Where::Kept, 40, 0},
    {"fixed, grow a little", 0, 100, 0, 120, 0, Outcome::SameOrRefused, Where::Kept, 120, 0},
    {"fixed, grow far", 0, 100, 0, kFar, 0, Outcome::Refused, Where::Kept, 100, 0},
    {"fixed, grow far, movable", 0, 100, 0, kFar, M, Outcome::New, Where::Moved, kFar, 0},
    {"fixed, grow far, movable, zeroed", 0, 100, 0, kFar, M | Z, Outcome::New, Where::Moved, kFar, 0},
    {"fixed, size 0", 0, 100, 0, 0, 0, Outcome::Same, Where::Kept, 0, 0},
    {"fixed, size 0, movable", 0, 100, 0, 0, M, Outcome::Same, Where::Kept, 0, 0},
    // GMEM_MODIFY changes attributes and ignores the size. Wine only ever
    // adds discardability: GMEM_MODIFY without GMEM_DISCARDABLE leaves it.
    {"modify: discardable", M, 100, 0, 999, MOD | D, Outcome::Same, Where::Kept, 100, D},
    {"modify: locked, discardable", M, 100, 2, 999, MOD | D, Outcome::Same, Where::Kept, 100, D | 2},
    {"modify: nothing on a discardable block", M | D, 100, 0, 999, MOD, Outcome::Same, Where::Kept, 100, D},
    {"modify: movable on a movable block", M, 100, 0, 999, MOD | M, Outcome::Same, Where::Kept, 100, 0},
    {"modify: discarded, discardable", M, 0, 0, 999, MOD | D, Outcome::Same, Where::Any, 0, GMEM_DISCARDED | D},
    {"modify: fixed, discardable", 0, 100, 0, 999, MOD | D, Outcome::Same, Where::Kept, 100, 0},
    {"modify: fixed to movable", 0, 100, 0, 999, MOD | M, Outcome::New, Where::Kept, 100, 0, true},
    {"modify: fixed to movable discardable", 0, 100, 0, 999, MOD | M | D, Outcome::New, Where::Kept, 100, D, true},
};

unsigned char pattern(SIZE_T i)
{
    return static_cast<unsigned char>(i * 7 + 1);
}

TEST(GlobalMemory, ReallocationFollowsWin32)
{
    for (const MemoryApi& api : kMemoryApis) {
        for (const ReallocCase& c : kReallocCases) {
            SCOPED_TRACE(std::string(api.name) + "ReAlloc, " + c.what);
            // LocalReAlloc leaves a fixed block fixed under GMEM_MODIFY | GMEM_MOVEABLE.
            const bool stays = c.local_same && !api.global;
            const Outcome outcome = stays ? Outcome::Same : c.outcome;
            const UINT after = stays ? 0 : c.after;
            const UINT expect_flags = (after & GMEM_DISCARDABLE) ? (after & ~GMEM_DISCARDABLE) | api.discardable : after;
            // Still fixed afterwards, and so its own handle, unless GlobalReAlloc made it movable.
            const bool fixed = !(c.alloc & GMEM_MOVEABLE) && !(c.local_same && api.global);

            HGLOBAL h = api.alloc(c.alloc, c.from);
            ASSERT_NE(h, nullptr);
            unsigned char* before = nullptr;
            if (c.from) {
                before = static_cast<unsigned char*>(api.lock(h));
                ASSERT_NE(before, nullptr);
                for (SIZE_T i = 0; i < c.from; ++i)
                    before[i] = pattern(i);
                for (unsigned i = 1; i < c.locks; ++i)
                    api.lock(h);
                if (c.locks == 0)
                    api.unlock(h);
            }

            HGLOBAL g = api.realloc(h, c.to, c.flags);
            switch (outcome) {
            case Outcome::Refused:
                EXPECT_EQ(g, nullptr);
                break;
            case Outcome::Same:
                EXPECT_EQ(g, h);
                break;
            case Outcome::New:
                EXPECT_NE(g, nullptr);
                EXPECT_NE(g, h);
                break;
            case Outcome::SameOrRefused:
                if (g) {
                    EXPECT_EQ(g, h);
                }
                break;
            }
            HGLOBAL cur = g ? g : h;
            const SIZE_T size = g ? c.size : c.from;
            EXPECT_EQ(api.size(cur), size);
            EXPECT_EQ(api.flags(cur), expect_flags);

            auto* p = static_cast<unsigned char*>(api.lock(cur));
            if (expect_flags & GMEM_DISCARDED) {
                EXPECT_EQ(p, nullptr);
            } else {
                ASSERT_NE(p, nullptr);
                if (fixed) {
                    EXPECT_EQ(static_cast<void*>(p), static_cast<void*>(cur)) << "a fixed block is its own handle";
                }
                if (c.where == Where::Kept) {
                    EXPECT_EQ(p, before) << "the block moved";
                } else if (c.where == Where::Moved) {
                    EXPECT_NE(p, before) << "the block did not move";
                }
                EXPECT_EQ(api.handle(p), cur);
                const SIZE_T kept = std::min(size, c.from);
                SIZE_T bad = 0;
                for (SIZE_T i = 0; i < kept; ++i)
                    bad += p[i] != pattern(i);
                EXPECT_EQ(bad, 0u) << "contents lost";
                if (g && (c.flags & GMEM_ZEROINIT) && !(c.flags & GMEM_MODIFY)) {
                    SIZE_T dirty = 0;
                    for (SIZE_T i = c.from; i < size; ++i)
                        dirty += p[i] != 0;
                    EXPECT_EQ(dirty, 0u) << "growth not zeroed";
                }
                api.unlock(cur);
            }
            for (unsigned i = 0; i < c.locks; ++i)
                api.unlock(cur);
            EXPECT_EQ(api.flags(cur) & GMEM_LOCKCOUNT, 0u);
            EXPECT_EQ(api.free(cur), nullptr);
        }
    }
}

TEST(GlobalMemory, ZeroByteMovableBlocksAreDiscarded)
{
    for (const MemoryApi& api : kMemoryApis) {
        for (UINT flags : {UINT{GMEM_MOVEABLE}, UINT{GHND}, UINT{GMEM_MOVEABLE | GMEM_DISCARDABLE}}) {
            SCOPED_TRACE(std::string(api.name) + "Alloc flags " + std::to_string(flags));
            HGLOBAL h = api.alloc(flags, 0);
            ASSERT_NE(h, nullptr);
            EXPECT_EQ(api.lock(h), nullptr);
            EXPECT_EQ(api.unlock(h), FALSE);
            EXPECT_EQ(api.size(h), 0u);
            EXPECT_EQ(api.flags(h), GMEM_DISCARDED | ((flags & GMEM_DISCARDABLE) ? api.discardable : 0));
            EXPECT_EQ(api.free(h), nullptr);
        }
    }
    // A fixed block of zero bytes is real memory: one byte of it from
    // GlobalAlloc, none from LocalAlloc.
    HGLOBAL g = GlobalAlloc(GMEM_FIXED, 0);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(GlobalLock(g), static_cast<void*>(g));
    EXPECT_EQ(GlobalSize(g), 1u);
    EXPECT_EQ(GlobalFree(g), nullptr);
    HLOCAL l = LocalAlloc(LMEM_FIXED, 0);
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(LocalLock(l), static_cast<void*>(l));
    EXPECT_EQ(LocalSize(l), 0u);
    EXPECT_EQ(LocalFree(l), nullptr);
}

TEST(GlobalMemory, LocalFunctionsLockAndCount)
{
    HLOCAL h = LocalAlloc(LHND, 10);
    ASSERT_NE(h, nullptr);
    auto* p = static_cast<unsigned char*>(LocalLock(h));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(p[i], 0) << i;
    EXPECT_EQ(LocalLock(h), p);
    EXPECT_EQ(LocalFlags(h), 2u);
    EXPECT_EQ(LocalSize(h), 10u);
    EXPECT_EQ(LocalHandle(p), h);
    EXPECT_NE(LocalUnlock(h), FALSE) << "still locked once";
    EXPECT_EQ(LocalUnlock(h), FALSE) << "now unlocked";
    EXPECT_EQ(LocalUnlock(h), FALSE) << "not locked";
    EXPECT_EQ(LocalFlags(h), 0u);
    EXPECT_EQ(LocalFree(h), nullptr);

    // Unlocking a fixed block changes nothing; the two families answer differently.
    HLOCAL f = LocalAlloc(LPTR, 8);
    HGLOBAL g = GlobalAlloc(GPTR, 8);
    ASSERT_TRUE(f && g);
    EXPECT_EQ(LocalLock(f), static_cast<void*>(f));
    EXPECT_EQ(LocalUnlock(f), FALSE);
    EXPECT_EQ(LocalFlags(f), 0u);
    EXPECT_EQ(LocalHandle(f), f);
    EXPECT_EQ(GlobalLock(g), static_cast<void*>(g));
    EXPECT_NE(GlobalUnlock(g), FALSE);
    EXPECT_EQ(GlobalFlags(g), 0u);
    EXPECT_EQ(LocalFree(f), nullptr);
    EXPECT_EQ(GlobalFree(g), nullptr);
}

TEST(GlobalMemory, LockCountSaturates)
{
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 8);
    ASSERT_NE(h, nullptr);
    for (int i = 0; i < 300; ++i)
        ASSERT_NE(GlobalLock(h), nullptr);
    EXPECT_EQ(GlobalFlags(h), UINT{GMEM_LOCKCOUNT});
    int still_locked = 0;
    while (GlobalUnlock(h) && still_locked < 300)
        ++still_locked;
    EXPECT_EQ(still_locked, GMEM_LOCKCOUNT - 1);
    EXPECT_EQ(GlobalFlags(h), 0u);
    EXPECT_EQ(GlobalFree(h), nullptr);
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
