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

TEST(DibLayout, ComputesEveryPartInSixtyFourBits)
{
    struct Case {
        const char* what;
        BITMAPINFOHEADER bi;
        uint64_t pixelOffset, stride, pixelBytes;
    } cases[] = {
        {"8-bit", info_header(5, 3, 8), 40 + 1024, 8, 24},
        {"two-plane 24", info_header(5, 3, 24, BI_RGB, 0, 2), 40, 16, 96},
        {"top-down bit fields", info_header(5, -3, 16, BI_BITFIELDS), 52, 12, 36},
        {"wide", info_header(0x7FFFFFFF, 2, 32), 40, 0x1FFFFFFFCull, 0x3FFFFFFF8ull},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> bytes = header_bytes(c.bi);
        kelm::DibLayout l;
        ASSERT_TRUE(kelm::dib_layout(bytes.data(), UINT64_MAX, &l));
        EXPECT_EQ(l.pixelOffset, c.pixelOffset);
        EXPECT_EQ(l.stride, c.stride);
        EXPECT_EQ(l.pixelBytes, c.pixelBytes);
        EXPECT_EQ(l.total, c.pixelOffset + c.pixelBytes);
        EXPECT_FALSE(kelm::dib_layout(bytes.data(), l.total - 1, &l));
    }
    BITMAPINFOHEADER negative = info_header(-5, 3, 8);
    kelm::DibLayout l;
    EXPECT_FALSE(kelm::dib_layout(&negative, UINT64_MAX, &l));
}
