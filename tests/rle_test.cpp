// The RLE decoders and DIBFromRle from inside: how each decode ends, writes
// that would leave the pixel array, streams cut short, agreement with the
// reference model over many generated streams, the size limit, and failure
// injection on every allocation.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "../fuzz/rle_reference.h"
#include "bmpio/bmpio.h"
#include "kelm3.h"
#include "support/dib_builder.h"

using namespace kelm;
using Bytes = std::vector<uint8_t>;

namespace {

struct DecodeCase {
    const char* name;
    bool nibbles;
    uint64_t stride;
    size_t size;
    Bytes codes;
    RleEnd end;
    Bytes pixels;
};

const DecodeCase kDecodeCases[] = {
    {"rle8 end of bitmap", false, 4, 8, {0x02, 0x01, 0x00, 0x01, 0x05, 0x05}, RleEnd::EndOfBitmap,
     {1, 1, 0, 0, 0, 0, 0, 0}},
    {"rle8 data ends inside a pair", false, 4, 8, {0x02, 0x01, 0x03}, RleEnd::EndOfData, {1, 1, 0, 0, 0, 0, 0, 0}},
    {"rle8 data ends inside a delta", false, 4, 8, {0x01, 0x01, 0x00, 0x02, 0x01}, RleEnd::EndOfData,
     {1, 0, 0, 0, 0, 0, 0, 0}},
    {"rle8 run reaches exactly the end", false, 4, 8, {0x08, 0x04, 0x00, 0x01}, RleEnd::EndOfBitmap,
     {4, 4, 4, 4, 4, 4, 4, 4}},
    {"rle8 run one past the end", false, 4, 8, {0x09, 0x04, 0x00, 0x01}, RleEnd::TargetFull,
     {4, 4, 4, 4, 4, 4, 4, 4}},
    {"rle8 absolute run past the end writes what fits", false, 4, 4, {0x01, 0x09, 0x00, 0x05, 1, 2, 3, 4, 5, 0},
     RleEnd::TargetFull, {9, 1, 2, 3}},
    {"rle8 delta beyond the last row, then a run", false, 4, 8, {0x00, 0x02, 0x00, 0x05, 0x01, 0x07},
     RleEnd::TargetFull, {0, 0, 0, 0, 0, 0, 0, 0}},
    {"rle8 end of line past the last row, then end of bitmap", false, 4, 4, {0x04, 0x02, 0x00, 0x00, 0x00, 0x01},
     RleEnd::EndOfBitmap, {2, 2, 2, 2}},
    {"rle8 column counter keeps counting past the row", false, 4, 12,
     {0x00, 0x02, 0x06, 0x00, 0x01, 0x05, 0x00, 0x00, 0x01, 0x06, 0x00, 0x01}, RleEnd::EndOfBitmap,
     {0, 0, 0, 0, 6, 0, 5, 0, 0, 0, 0, 0}},
    {"rle4 odd run", true, 4, 4, {0x03, 0xAB, 0x00, 0x01}, RleEnd::EndOfBitmap, {0xAB, 0xA0, 0, 0}},
    {"rle4 run past the end", true, 4, 4, {0x0A, 0x12, 0x00, 0x01}, RleEnd::TargetFull, {0x12, 0x12, 0x12, 0x12}},
    {"rle4 absolute run cut by the data", true, 4, 4, {0x00, 0x06, 0x12, 0x34}, RleEnd::EndOfData,
     {0x12, 0x34, 0, 0}},
    {"rle4 absolute run padded", true, 4, 8, {0x00, 0x03, 0x12, 0x30, 0x00, 0x00, 0x01, 0x50, 0x00, 0x01},
     RleEnd::EndOfBitmap, {0x12, 0x30, 0, 0, 0x50, 0, 0, 0}},
};

TEST(RleDecoders, EndAndPixels)
{
    for (const DecodeCase& c : kDecodeCases) {
        SCOPED_TRACE(c.name);
        Bytes target(c.size, 0);
        const RleEnd end = c.nibbles ? decode_rle4(c.codes, target, c.stride) : decode_rle8(c.codes, target, c.stride);
        EXPECT_EQ(static_cast<int>(end), static_cast<int>(c.end));
        EXPECT_EQ(target, c.pixels);
    }
}

TEST(RleDecoders, NeverTouchBytesAroundTheTarget)
{
    // Guard bytes on both sides of the span the decoders get.
    const Bytes streams[] = {
        {0xFF, 0x01, 0xFF, 0x02, 0x00, 0x00, 0xFF, 0x03},
        {0x00, 0xFF, 1, 2, 3},
        {0x00, 0x02, 0xFF, 0xFF, 0x00, 0x02, 0xFF, 0xFF, 0x05, 0x05},
        {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x7F, 0x7F},
    };
    for (const Bytes& s : streams) {
        for (bool nibbles : {false, true}) {
            SCOPED_TRACE(nibbles);
            Bytes buffer(64, 0xCC);
            std::span<BYTE> target(buffer.data() + 16, 32);
            std::fill(target.begin(), target.end(), 0);
            nibbles ? decode_rle4(s, target, 8) : decode_rle8(s, target, 8);
            for (size_t i = 0; i < 16; ++i) {
                EXPECT_EQ(buffer[i], 0xCC);
                EXPECT_EQ(buffer[48 + i], 0xCC);
            }
        }
    }
}

TEST(RleDecoders, LongDeltaChainsDoNotWrap)
{
    // A million deltas of 255 rows each with a huge stride would pass 2^64
    // without the clamp; the run after them must not land anywhere.
    Bytes codes;
    for (int i = 0; i < 250000; ++i)
        codes.insert(codes.end(), {0x00, 0x02, 0xFF, 0xFF});
    codes.insert(codes.end(), {0x01, 0x09});
    Bytes target(16, 0);
    EXPECT_EQ(static_cast<int>(decode_rle8(codes, target, uint64_t{1} << 40)), static_cast<int>(RleEnd::TargetFull));
    EXPECT_EQ(target, Bytes(16, 0));
}

// Random streams biased towards valid codes, decoded by the library and by
// the reference model.
Bytes random_stream(std::mt19937& rng, size_t pairs)
{
    Bytes s;
    std::uniform_int_distribution<int> byte(0, 255), kind(0, 9);
    for (size_t i = 0; i < pairs; ++i) {
        switch (kind(rng)) {
        case 0: s.insert(s.end(), {0, 0}); break;
        case 1: s.insert(s.end(), {0, 2, static_cast<uint8_t>(byte(rng) % 8), static_cast<uint8_t>(byte(rng) % 3)}); break;
        case 2: {
            const int n = 3 + byte(rng) % 12;
            s.insert(s.end(), {0, static_cast<uint8_t>(n)});
            for (int k = 0; k < n; ++k)
                s.push_back(static_cast<uint8_t>(byte(rng)));
            if (byte(rng) % 4)  // mostly padded correctly, sometimes not
                s.resize(s.size() + (s.size() % 2));
            break;
        }
        case 3:
            if (byte(rng) % 8 == 0)
                s.insert(s.end(), {0, 1});
            break;
        default: s.insert(s.end(), {static_cast<uint8_t>(1 + byte(rng) % 20), static_cast<uint8_t>(byte(rng))});
        }
    }
    if (byte(rng) % 3 == 0 && !s.empty())
        s.pop_back();
    return s;
}

TEST(RleDecoders, AgreeWithTheReferenceModel)
{
    std::mt19937 rng(20240611);
    for (int iteration = 0; iteration < 3000; ++iteration) {
        const bool nibbles = iteration % 2;
        const uint64_t width = 1 + rng() % 40;
        const uint64_t height = rng() % 12;
        const uint64_t stride = ((width * (nibbles ? 4 : 8) + 31) / 32) * 4;
        const Bytes codes = random_stream(rng, 1 + rng() % 40);
        Bytes expected(stride * height, 0), actual(stride * height, 0);
        rle_reference::decode(codes, expected, stride, nibbles);
        nibbles ? decode_rle4(codes, actual, stride) : decode_rle8(codes, actual, stride);
        ASSERT_EQ(actual, expected) << "iteration " << iteration;
    }
}

HGLOBAL rle_block(int32_t width, int32_t height, uint32_t compression, const Bytes& codes)
{
    const uint16_t bits = compression == BI_RLE4 ? 4 : 8;
    kelm_test::BlockSpec s;
    BITMAPINFOHEADER bi = kelm_test::info_header(width, height, bits, compression, 2);
    bi.biSizeImage = static_cast<DWORD>(codes.size());
    s.header = kelm_test::header_bytes(bi);
    s.table = {RGBQUAD{0, 0, 0, 0}, RGBQUAD{9, 9, 9, 0}};
    s.pixels = codes;
    return kelm_test::make_block(s);
}

TEST(DibFromRle, SizeLimitFollowsTheStreamLength)
{
    // 128 bytes of target per byte of codes, plus 16 MiB.
    const Bytes codes(1000, 0);
    const uint64_t limit = 1000 * kRleMaxExpansion + kZeroFillAllowance;
    const struct {
        int32_t width, height;
        bool decodes;
    } cases[] = {
        {4096, static_cast<int32_t>(limit / 4096), true},
        {4096, static_cast<int32_t>(limit / 4096) + 1, false},
        {65535, 65535, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.height);
        kelm_test::Dib in(rle_block(c.width, c.height, BI_RLE8, codes));
        kelm_test::Dib out(dib_from_rle(in.get()));
        EXPECT_EQ(out.get() != nullptr, c.decodes);
    }
}

TEST(DibFromRle, FailedAllocationLeavesNothingBehind)
{
    const Bytes codes = {0x03, 0x01, 0x00, 0x00, 0x02, 0x01, 0x00, 0x01};
    for (uint32_t compression : {BI_RLE8, BI_RLE4}) {
        SCOPED_TRACE(compression);
        kelm_test::Dib in(rle_block(5, 3, compression, codes));
        const size_t live = kelm::testing::live_blocks();
        int failures = 0;
        for (unsigned n = 1;; ++n) {
            const unsigned long before = kelm::testing::allocation_count();
            kelm::testing::fail_allocation(n);
            HGLOBAL out = DIBFromRle(in.get());
            kelm::testing::fail_allocation(0);
            const bool fired = kelm::testing::allocation_count() - before >= n;
            if (!fired) {
                EXPECT_NE(out, nullptr);
                GlobalFree(out);
                break;
            }
            ++failures;
            EXPECT_EQ(out, nullptr) << "allocation " << n;
            EXPECT_EQ(kelm::testing::live_blocks(), live);
            EXPECT_EQ(kelm::testing::locked_blocks(), 0u);
        }
        EXPECT_GE(failures, 1);
    }
}

}  // namespace
