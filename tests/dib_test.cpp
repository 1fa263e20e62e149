// What the public tests cannot see: allocation failures on every allocating
// path of the DIB model, and the lock and block accounting after each of them.
#include <gtest/gtest.h>

#include <functional>

#include "dib/dib.h"
#include "kelm3.h"
#include "platform/platform.h"
#include "support/dib_builder.h"

using namespace kelm_test;

namespace {

struct Baseline {
    size_t live = kelm::testing::live_blocks();
    size_t locked = kelm::testing::locked_blocks();
};

// Fails the 1st, 2nd, ... allocation of `op` in turn until it succeeds
// without a failure; every failing run must give null and leave nothing
// behind. Returns the number of allocations the operation makes.
unsigned inject_every_allocation(const std::function<HGLOBAL()>& op)
{
    for (unsigned n = 1; n < 64; ++n) {
        SCOPED_TRACE(testing::Message() << "failing allocation " << n);
        Baseline before;
        const unsigned long count = kelm::testing::allocation_count();
        kelm::testing::fail_allocation(n);
        HGLOBAL h = op();
        const bool injected = kelm::testing::allocation_count() - count >= n;
        kelm::testing::fail_allocation(0);
        if (!injected) {
            EXPECT_NE(h, nullptr) << "succeeds once no allocation fails";
            if (h)
                GlobalFree(h);
            return n - 1;
        }
        EXPECT_EQ(h, nullptr);
        if (h)
            GlobalFree(h);
        EXPECT_EQ(kelm::testing::live_blocks(), before.live);
        EXPECT_EQ(kelm::testing::locked_blocks(), before.locked);
    }
    ADD_FAILURE() << "operation never completed";
    return 0;
}

}  // namespace

TEST(DibAllocation, EveryAllocatingExportCleansUpOnFailure)
{
    Dib src(CreateDIB(17, 9, 8, 0));
    ASSERT_TRUE(src);
    struct Case {
        const char* what;
        std::function<HGLOBAL()> op;
    } cases[] = {
        {"CreateDIB", [] { return CreateDIB(31, 7, 8, 0); }},
        {"CreateDIB uninitialised two-plane", [] { return CreateDIB(31, 7, 24, 3); }},
        {"CreateCompatibleDIB", [&] { return CreateCompatibleDIB(src.get(), 40, 3); }},
        {"CopyHandle", [&] { return CopyHandle(src.get()); }},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_GE(inject_every_allocation(c.op), 1u);
    }
    EXPECT_EQ(kelm::testing::locked_blocks(), 0u);
}

TEST(DibAllocation, ExportsLeaveNothingLocked)
{
    Baseline before;
    {
        Dib dib(CreateDIB(5, 5, 1, 0));
        {
            Locked l(dib.get());
            l.get()[40] = 255;  // make the table white, black
            l.get()[41] = 255;
            l.get()[42] = 255;
            l.get()[44] = 0;
            l.get()[45] = 0;
            l.get()[46] = 0;
        }
        BITMAPINFOHEADER bi;
        EXPECT_EQ(DIBInfo(dib.get(), &bi, sizeof bi), 1);
        DIBNormalize(dib.get());
        Dib c(CreateCompatibleDIB(dib.get(), 3, 3));
        EXPECT_EQ(kelm::testing::locked_blocks(), before.locked);
    }
    EXPECT_EQ(kelm::testing::live_blocks(), before.live);
}

// The layout function's contract: every part of a packed DIB from its
// header, or "does not fit" when any size, the total included, would pass
// 0x7FFFFFFF, whatever the products of 32-bit widths, heights and two planes
// do in 64 bits.
TEST(DibLayout, ComputesEveryPartOrRefuses)
{
    constexpr uint64_t kNo = UINT64_MAX;  // "does not fit"
    struct Case {
        const char* what;
        BITMAPINFOHEADER bi;
        uint64_t pixelOffset, stride, pixelBytes;
    } cases[] = {
        {"8-bit", info_header(5, 3, 8), 40 + 1024, 8, 24},
        {"two-plane 24", info_header(5, 3, 24, BI_RGB, 0, 2), 40, 16, 96},
        {"top-down bit fields", info_header(5, -3, 16, BI_BITFIELDS), 52, 12, 36},
        {"zero width", info_header(0, 7, 24), 40, 0, 0},
        {"zero height, widest row that fits", info_header(0x1FFFFFFF, 0, 32), 40, 0x7FFFFFFC, 0},
        {"largest block: 40 + 4 x 536870901", info_header(1, 536870901, 32), 40, 4, 2147483604},
        {"one row more", info_header(1, 536870902, 32), kNo, 0, 0},
        {"row too wide", info_header(0x7FFFFFFF, 2, 32), kNo, 0, 0},
        {"RLE8 is its stored length", info_header(0x7FFFFFFF, 0x7FFFFFFF, 8, BI_RLE8), 40 + 1024, 0x80000000, 0},
        {"height INT_MIN", info_header(0, INT32_MIN, 8), kNo, 0, 0},
        {"negative width", info_header(-5, 3, 8), kNo, 0, 0},
        // Two planes of 2^31 rows: |height| x stride x 2 passes 2^64.
        {"two planes, 0x55555555 x INT_MIN x 24", info_header(0x55555555, INT32_MIN, 24, BI_RGB, 0, 2), kNo, 0, 0},
        {"two planes, 0x40000000 x -INT_MAX x 32", info_header(0x40000000, -INT32_MAX, 32, BI_RGB, 0, 2), kNo, 0, 0},
        {"1436596963 x 2140097343 x 24", info_header(1436596963, 2140097343, 24, BI_RGB, 0, 2), kNo, 0, 0},
        {"65536 colours counted as 0", info_header(1, 1, 8, BI_RGB, 0x10000), 40, 4, 4},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> bytes = header_bytes(c.bi);
        kelm::DibLayout l;
        if (c.pixelOffset == kNo) {
            EXPECT_FALSE(kelm::dib_layout(bytes.data(), UINT64_MAX, &l));
            continue;
        }
        ASSERT_TRUE(kelm::dib_layout(bytes.data(), UINT64_MAX, &l));
        EXPECT_EQ(l.pixelOffset, c.pixelOffset);
        EXPECT_EQ(l.stride, c.stride);
        EXPECT_EQ(l.pixelBytes, c.pixelBytes);
        EXPECT_EQ(l.total, c.pixelOffset + c.pixelBytes);
        EXPECT_LE(l.total, 0x7FFFFFFFu);
        if (l.total > 0) {
            EXPECT_FALSE(kelm::dib_layout(bytes.data(), l.total - 1, &l));
        }
    }
    // A stored length of compressed data is bounded like any size.
    BITMAPINFOHEADER rle = info_header(4, 4, 8, BI_RLE8);
    rle.biSizeImage = 0x7FFFFFFF - 40 - 1024;
    kelm::DibLayout l;
    EXPECT_TRUE(kelm::dib_layout(&rle, UINT64_MAX, &l));
    rle.biSizeImage += 1;
    EXPECT_FALSE(kelm::dib_layout(&rle, UINT64_MAX, &l));
}
