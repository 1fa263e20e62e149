// The colour operations against the platform layer's test hooks: handle
// ownership (GrayDIB frees a true-colour argument, ConvertDIB replaces the
// caller's handle), every allocation failed in turn, concurrent DitherTo8
// calls, and the sizes the old fixed buffers could not hold.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "kelm3.h"
#include "platform/platform.h"
#include "support/colour_model.h"
#include "support/dib_builder.h"

using kelm::testing::live_blocks;
using kelm::testing::locked_blocks;
using namespace kelm_test;

namespace {

HGLOBAL random_image(unsigned seed, LONG w, LONG h, UINT bits, int flags = 0)
{
    std::mt19937 rng(seed);
    HGLOBAL d = CreateDIB(w, h, bits, flags);
    uint8_t* p = static_cast<uint8_t*>(GlobalLock(d));
    for (SIZE_T i = 40; i < GlobalSize(d); ++i)
        p[i] = static_cast<uint8_t>(rng());
    GlobalUnlock(d);
    return d;
}

bool is_freed(HGLOBAL h)
{
    return GlobalSize(h) == 0 && GlobalFree(h) == h;
}

}  // namespace

TEST(ColourOwnership, GrayDibFreesATrueColourArgument)
{
    for (UINT bits : {24u, 32u, 48u}) {
        const size_t live = live_blocks();
        HGLOBAL d = random_image(1, 6, 4, bits);
        HGLOBAL g = GrayDIB(d);
        ASSERT_NE(g, nullptr);
        EXPECT_NE(g, d);
        EXPECT_TRUE(is_freed(d)) << bits;
        EXPECT_EQ(live_blocks(), live + 1);
        DIBFree(g);
        EXPECT_EQ(live_blocks(), live);
    }
    // On allocation failure the argument stays valid and unchanged.
    HGLOBAL d = random_image(2, 6, 4, 24);
    const std::vector<uint8_t> before = block_bytes(d);
    kelm::testing::fail_allocation(1);
    EXPECT_EQ(GrayDIB(d), nullptr);
    kelm::testing::fail_allocation(0);
    EXPECT_EQ(block_bytes(d), before);
    DIBFree(d);
}

TEST(ColourOwnership, ConvertDibReplacesTheCallersHandle)
{
    const size_t live = live_blocks();
    HGLOBAL d = random_image(3, 9, 5, 24);
    HGLOBAL h = d;
    ASSERT_TRUE(ConvertDIB(&h, 8, 0));
    EXPECT_NE(h, d);
    EXPECT_TRUE(is_freed(d)) << "the general road frees the old image";
    EXPECT_EQ(live_blocks(), live + 1);
    // In place: the same handle (this layer grows blocks without moving the handle).
    HGLOBAL e = random_image(4, 9, 5, 24);
    HGLOBAL h2 = e;
    ASSERT_TRUE(ConvertDIB(&h2, 32, 0));
    EXPECT_EQ(live_blocks(), live + 2);
    DIBFree(h);
    DIBFree(h2);
    EXPECT_EQ(live_blocks(), live);
    EXPECT_EQ(locked_blocks(), 0u);
}

// Every allocation of every operation failed in turn: a failed call leaves
// nothing allocated or locked and the source unchanged; a call that still
// succeeds gives one new block (or the same handle).
TEST(ColourOwnership, EveryAllocationFailureIsClean)
{
    struct Op {
        const char* name;
        UINT bits;
        int flags;
        std::function<HGLOBAL(HGLOBAL)> run;  // the result handle, or null
        bool consumes;                        // a success frees the source
    };
    const RECT rc{1, 6, 8, 1};
    static const LONG kernel[9] = {1, 2, 3, 4, 200, 4, 3, 2, 1};
    const std::vector<Op> ops = {
        {"ConvertDIB 24 to 8", 24, 0, [](HGLOBAL d) { HGLOBAL h = d; return ConvertDIB(&h, 8, 0) ? h : nullptr; }, true},
        {"ConvertDIB 8 to 32", 8, 0, [](HGLOBAL d) { HGLOBAL h = d; return ConvertDIB(&h, 32, 0) ? h : nullptr; }, true},
        {"ConvertDIB 24 to 4", 24, 0, [](HGLOBAL d) { HGLOBAL h = d; return ConvertDIB(&h, 4, 0) ? h : nullptr; }, true},
        {"DIBSelectColors", 24, 0, [](HGLOBAL d) { return DIBSelectColors(d, 20); }, false},
        {"DitherTo1", 24, 0, [](HGLOBAL d) { HGLOBAL r = DitherTo1(GlobalLock(d), nullptr); GlobalUnlock(d); return r; }, false},
        {"DitherTo4", 24, 0, [](HGLOBAL d) { HGLOBAL r = DitherTo4(GlobalLock(d)); GlobalUnlock(d); return r; }, false},
        {"DitherTo8", 24, 0, [](HGLOBAL d) { HGLOBAL r = DitherTo8(GlobalLock(d), 0, 30, nullptr); GlobalUnlock(d); return r; }, false},
        {"GrayDIB", 24, 0, [](HGLOBAL d) { return GrayDIB(d); }, true},
        {"ScaleToGray 1", 1, 0, [&](HGLOBAL d) { return ScaleToGray(d, 3, 2, &rc, 0); }, false},
        {"ScaleToGray 8", 8, 0, [](HGLOBAL d) { return ScaleToGray(d, 3, 2, nullptr, 0); }, false},
        {"CreateFIRFilteredDIB", 48, 0, [](HGLOBAL d) { return CreateFIRFilteredDIB(d, kernel, 3, 3, 5); }, false},
    };
    for (const Op& op : ops)
        for (unsigned n = 1; n <= 8; ++n) {
            SCOPED_TRACE(testing::Message() << op.name << ", allocation " << n << " fails");
            HGLOBAL d = random_image(5, 11, 9, op.bits, op.flags);
            const std::vector<uint8_t> before = block_bytes(d);
            const size_t live = live_blocks();
            kelm::testing::fail_allocation(n);
            HGLOBAL r = op.run(d);
            kelm::testing::fail_allocation(0);
            EXPECT_EQ(locked_blocks(), 0u);
            if (!r) {
                EXPECT_EQ(live_blocks(), live);
                EXPECT_EQ(block_bytes(d), before);
                DIBFree(d);
                continue;
            }
            if (op.consumes && r == d) {
                EXPECT_EQ(live_blocks(), live);
            } else if (op.consumes) {
                EXPECT_TRUE(is_freed(d));
                EXPECT_EQ(live_blocks(), live);
            } else {
                EXPECT_EQ(live_blocks(), live + 1);
                DIBFree(d);
            }
            DIBFree(r);
        }
}

// DitherTo8 keeps its tables per call: calls on several threads at once give
// what the same calls give one after another.
TEST(ColourConcurrency, DitherTo8CallsMayOverlap)
{
    HGLOBAL d = random_image(6, 300, 120, 24);
    const void* p = GlobalLock(d);
    const int modes[4][2] = {{6, 0}, {2, 0}, {4, 0}, {0, 50}};
    std::vector<std::vector<uint8_t>> alone;
    for (const auto& m : modes) {
        HGLOBAL r = DitherTo8(p, m[0], m[1], nullptr);
        alone.push_back(block_bytes(r));
        DIBFree(r);
    }
    std::vector<std::vector<uint8_t>> together(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int k = 0; k < 5; ++k) {
                HGLOBAL r = DitherTo8(p, modes[t][0], modes[t][1], nullptr);
                together[t] = block_bytes(r);
                DIBFree(r);
                if (together[t] != alone[t])
                    return;
            }
        });
    for (std::thread& th : threads)
        th.join();
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(together[t], alone[t]) << t;
    GlobalUnlock(d);
    DIBFree(d);
}

// Wider than 16,382 pixels and taller than 65,535 rows: sizes the fixed
// 65,535-byte error line and the 16-bit row counter could not hold.
TEST(ColourSizes, DitherTo4HandlesAnyWidthAndHeight)
{
    for (auto [w, h] : {std::pair<LONG, LONG>{20000, 3}, {2, 70000}}) {
        HGLOBAL d = random_image(7, w, h, 24);
        const std::vector<uint8_t> src = block_bytes(d);
        HGLOBAL r = DitherTo4(GlobalLock(d));
        GlobalUnlock(d);
        ASSERT_NE(r, nullptr);
        const std::vector<uint8_t> expected = colour_model::dither4(src);
        const std::vector<uint8_t> got = block_bytes(r);
        ASSERT_GE(got.size(), expected.size());
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), got.begin())) << w << " x " << h;
        DIBFree(r);
        DIBFree(d);
    }
}

// A header pointer in a block too small for its layout is refused; a pointer
// that is not the start of a block is trusted.
TEST(ColourPointers, DithersCheckTheBlockTheHeaderStarts)
{
    HGLOBAL d = random_image(8, 16, 16, 24);
    std::vector<uint8_t> bytes = block_bytes(d);
    HGLOBAL small = GlobalAlloc(GMEM_MOVEABLE, bytes.size() - 1);
    std::memcpy(GlobalLock(small), bytes.data(), bytes.size() - 1);
    EXPECT_EQ(DitherTo1(GlobalLock(small), nullptr), nullptr);
    EXPECT_EQ(DitherTo4(GlobalLock(small)), nullptr);
    EXPECT_EQ(DitherTo8(GlobalLock(small), 6, 0, nullptr), nullptr);
    HGLOBAL r = DitherTo1(bytes.data(), nullptr);
    EXPECT_NE(r, nullptr);
    DIBFree(r);
    // A palette image whose block cannot hold a 256-entry table is refused.
    HGLOBAL pal = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 40 + 1023);
    uint8_t* pp = static_cast<uint8_t*>(GlobalLock(pal));
    BITMAPINFOHEADER bi = info_header(1, 1, 8);
    std::memcpy(pp, &bi, 40);
    EXPECT_EQ(DitherTo8(bytes.data(), 0, 0, pp), nullptr);
    GlobalUnlock(pal);
    GlobalFree(pal);
    for (int i = 0; i < 4; ++i)
        GlobalUnlock(small);
    GlobalFree(small);
    DIBFree(d);
}
