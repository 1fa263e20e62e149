// The geometry exports through the public interface only, compared byte for
// byte with the reference model over random sizes, depths (two-plane and
// palette images with different tables included), angles and rectangles;
// the worked values of each rule; the callback sequence of TransformDIB; and
// the rotation's sine and cosine table, which must be the same on Linux and
// under Wine. Built for Linux and for Win32.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "kelm3.h"
#include "support/dib_builder.h"
#include "support/geometry_model.h"

using namespace kelm_test;
using namespace kelm_test::geom;

namespace {

// The image kinds the cases draw from.
enum Kind { kPlain, kRandomTable, kTwoPlane, kBitfields565, kAlphaV4, kCmykV4, kKinds };

void fill_random(HGLOBAL h, std::mt19937& rng, bool table)
{
    const Info i = info_of(h);
    auto* p = static_cast<uint8_t*>(GlobalLock(h));
    if (table)
        for (size_t k = 0; k < i.paletteSize; ++k)
            p[i.tableOffset + k] = uint8_t(rng());
    for (size_t k = i.pixelOffset; k < i.blockSize; ++k)
        p[k] = uint8_t(rng());
    GlobalUnlock(h);
}

// A 108-byte header image at 32 (or 24) bits with colour-space type cs and
// alpha mask `mask`.
HGLOBAL v4_image(int w, int h, WORD bits, uint32_t mask, uint32_t cs)
{
    std::vector<uint8_t> head(108, 0);
    BITMAPINFOHEADER bi = info_header(w, h, bits);
    bi.biSize = 108;
    std::memcpy(head.data(), &bi, sizeof bi);
    std::memcpy(&head[52], &mask, 4);
    std::memcpy(&head[56], &cs, 4);
    BlockSpec s;
    s.header = head;
    s.pixels.assign(size_t(stride_for(w, bits)) * size_t(h), 0);
    return make_block(s);
}

HGLOBAL make_image(Kind kind, int w, int h, WORD bits, std::mt19937& rng)
{
    HGLOBAL d = nullptr;
    switch (kind) {
    case kPlain: d = CreateDIB(w, h, bits, 0); break;
    case kRandomTable: d = CreateDIB(w, h, bits, 0); break;
    case kTwoPlane: d = CreateDIB(w, h, bits, KELM3_CREATE_TWOPLANE); break;
    case kBitfields565: {
        BlockSpec s;
        s.header = header_bytes(info_header(w, h, 16, BI_BITFIELDS));
        s.masks = {0xF800, 0x07E0, 0x001F};
        s.pixels.assign(size_t(stride_for(w, 16)) * size_t(h), 0);
        d = make_block(s);
        break;
    }
    case kAlphaV4: d = v4_image(w, h, bits, 0xFF000000u, 1); break;
    case kCmykV4: d = v4_image(w, h, 32, 0, KELM3_CS_CMYK); break;
    default: break;
    }
    if (d)
        fill_random(d, rng, kind == kRandomTable);
    return d;
}

bool same_block(HGLOBAL a, HGLOBAL b)
{
    return block_bytes(a) == block_bytes(b);
}

struct Form {
    Kind kind;
    WORD bits;
};
const Form kForms[] = {{kPlain, 1},  {kPlain, 4},        {kPlain, 8},        {kPlain, 16},       {kPlain, 24},
                       {kPlain, 32}, {kRandomTable, 1},  {kRandomTable, 4},  {kRandomTable, 8},  {kTwoPlane, 8},
                       {kTwoPlane, 24}, {kTwoPlane, 32}, {kBitfields565, 16}, {kAlphaV4, 32},    {kCmykV4, 32}};

}  // namespace

// ---------------------------------------------------------------------------
// Rotation

TEST(ApiRotate, MatchesTheModelOverDepthsSizesAndAngles)
{
    std::mt19937 rng(4242);
    const int32_t fixed[] = {0, 1, -1, 450, 900, 1800, 2700, -900, 3600, 4500, 7201, 1350, 3000, -2700, INT_MAX, INT_MIN};
    int cases = 0;
    for (const Form& f : kForms) {
        for (int round = 0; round < 22; ++round) {
            const int w = 1 + int(rng() % 23), h = 1 + int(rng() % 19);
            const int32_t angle = round < 16 ? fixed[round] : int32_t(rng() % 200001) - 100000;
            const DWORD bg = (round & 1) ? 0xFFFFFFFFu : DWORD(rng() & 0xFFFFFF);
            SCOPED_TRACE(testing::Message() << "kind " << f.kind << ", " << f.bits << " bits, " << w << " x " << h
                                            << ", angle " << angle << ", background " << std::hex << bg);
            Dib src(make_image(f.kind, w, h, f.bits, rng));
            ASSERT_TRUE(src);
            Dib got(RotateDIB(src.get(), angle, bg));
            Dib want(model_rotate(src.get(), angle, bg));
            ASSERT_TRUE(got);
            ASSERT_TRUE(want);
            EXPECT_TRUE(same_block(got.get(), want.get()));
            ++cases;
        }
    }
    EXPECT_EQ(cases, 22 * int(sizeof kForms / sizeof kForms[0]));
}

TEST(ApiRotate, ResultSizesOfTheWorkedAngles)
{
    struct Case {
        int w, h, angle, rw, rh;
    } cases[] = {{100, 100, 450, 141, 141}, {200, 100, 300, 222, 185}, {200, 100, 10, 200, 102},
                 {3, 2, 450, 2, 2},         {7, 5, 900, 5, 7},         {7, 5, 2700, 5, 7},
                 {7, 5, 1800, 7, 5},        {7, 5, -900, 5, 7},        {7, 5, 4500, 5, 7}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << " x " << c.h << " by " << c.angle);
        Dib src(CreateDIB(c.w, c.h, 8, 0));
        Dib r(RotateDIB(src.get(), c.angle, 0));
        ASSERT_TRUE(r);
        const std::vector<uint8_t> b = block_bytes(r.get());
        EXPECT_EQ(int32_t(rd32(b, 4)), c.rw);
        EXPECT_EQ(int32_t(rd32(b, 8)), c.rh);
    }
}

TEST(ApiRotate, ThreeByTwoAtFortyFiveDegrees)
{
    // Source pixels numbered 1..6 row by row; destination (1, 0) maps to
    // (1, -1), outside, and gets the background.
    Dib src(CreateDIB(3, 2, 8, 0));
    auto* p = static_cast<uint8_t*>(GlobalLock(src.get()));
    const uint8_t px[2][4] = {{1, 2, 3, 0}, {4, 5, 6, 0}};
    std::memcpy(p + 40 + 1024, px, 8);
    GlobalUnlock(src.get());
    Dib r(RotateDIB(src.get(), 450, RGB(255, 255, 255)));
    ASSERT_TRUE(r);
    LPTRDIB rw = RWOpenDIB(r.get());
    BYTE v[8] = {};
    auto at = [&](int x, int y) { RWGetPixelIndex(rw, x, y, v); return v[0]; };
    EXPECT_EQ(at(0, 0), 1);
    EXPECT_EQ(RWGetPixel(rw, 1, 0), 0xFFFFFFu);  // the background
    EXPECT_EQ(at(0, 1), 5);
    EXPECT_EQ(at(1, 1), 3);
    RWClose(rw);
}

TEST(ApiRotate, TurnsComposeToTheIdentity)
{
    std::mt19937 rng(7);
    for (const Form& f : kForms) {
        const int w = 3 + int(rng() % 29), h = 3 + int(rng() % 29);
        SCOPED_TRACE(testing::Message() << "kind " << f.kind << ", " << f.bits << " bits, " << w << " x " << h);
        Dib src(make_image(f.kind, w, h, f.bits, rng));
        // Row padding is not image content: compare after a round trip that
        // clears it.
        Dib base(RotateDIB(src.get(), 0, 0xFFFFFFFFu));
        ASSERT_TRUE(base);
        for (int turn : {900, 2700}) {
            HGLOBAL cur = CopyHandle(base.get());
            for (int k = 0; k < 4; ++k) {
                HGLOBAL next = RotateDIB(cur, turn, 0);
                DIBFree(cur);
                cur = next;
                ASSERT_TRUE(cur);
            }
            EXPECT_TRUE(same_block(cur, base.get())) << "four turns by " << turn;
            DIBFree(cur);
        }
        Dib half(RotateDIB(base.get(), 1800, 0));
        Dib back(RotateDIB(half.get(), -1800, 0));
        EXPECT_TRUE(same_block(back.get(), base.get())) << "two half turns";
    }
}

// A caller's own rotation callback through TransformDIB picks the same
// pixels as RotateDIB's copiers and incremental walk.
namespace {
struct UserRotate {
    RotateBox box;
};
LONG WINAPI user_rotate(int msg, POINT* pt, LPVOID data)
{
    if (msg != TRANSFORM_PIXEL)
        return 1;
    const RotateBox& b = static_cast<UserRotate*>(data)->box;
    const int X = pt->x + int(b.left), Y = pt->y + int(b.bottom);
    pt->x = LONG(model_muldiv(Y, b.sine, 10000) + model_muldiv(X, b.cosine, 10000));
    pt->y = LONG(model_muldiv(Y, b.cosine, 10000) + model_muldiv(X, -b.sine, 10000));
    return 1;
}
}  // namespace

TEST(ApiRotate, CopiersAndWalkEqualTransformWithACallerCallback)
{
    std::mt19937 rng(99);
    for (const Form& f : kForms)
        for (int angle : {900, 1800, 2700, 450, 1, 3599}) {
            const int w = 1 + int(rng() % 17), h = 1 + int(rng() % 21);
            SCOPED_TRACE(testing::Message() << "kind " << f.kind << ", " << f.bits << " bits, " << w << " x " << h
                                            << ", angle " << angle);
            Dib src(make_image(f.kind, w, h, f.bits, rng));
            Dib got(RotateDIB(src.get(), angle, RGB(1, 2, 3)));
            ASSERT_TRUE(got);
            UserRotate ur{model_rotate_box(w, h, angle)};
            const std::vector<uint8_t> gb = block_bytes(got.get());
            Dib want(CreateCompatibleDIB(src.get(), rd32(gb, 4), LONG(rd32(gb, 8))));
            ASSERT_EQ(TransformDIB(src.get(), want.get(), user_rotate, nullptr, &ur, RGB(1, 2, 3)), 1);
            EXPECT_TRUE(same_block(got.get(), want.get()));
        }
}

TEST(ApiRotate, RefusedSources)
{
    EXPECT_EQ(RotateDIB(nullptr, 450, 0), nullptr);
    // RLE data cannot be addressed by row and column: no result rather than
    // an image whose pixels were never written.
    BlockSpec s;
    s.header = header_bytes(info_header(4, 2, 8, BI_RLE8, 0));
    s.table.assign(256, RGBQUAD{});
    s.pixels = {0, 1};
    Dib rle(make_block(s));
    for (int angle : {0, 450, 900, 1800})
        EXPECT_EQ(RotateDIB(rle.get(), angle, 0), nullptr) << angle;
}

TEST(ApiRotate, FreshPixelsWithoutBackgroundAreZero)
{
    Dib src(CreateDIB(20, 10, 24, 0));
    auto* p = static_cast<uint8_t*>(GlobalLock(src.get()));
    std::memset(p + 40, 0xAB, 20 * 3 * 10);
    GlobalUnlock(src.get());
    Dib r(RotateDIB(src.get(), 450, 0xFFFFFFFFu));
    LPTRDIB rw = RWOpenDIB(r.get());
    EXPECT_EQ(RWGetPixel(rw, 0, 0), 0u);  // an uncovered corner
    RWClose(rw);
}

// The sine and cosine of every tenth of a degree, seen through the result
// size of a 10001 x 0 image: its corners (0, 0), (10000, 0), (10000, -1),
// (0, -1) turn into a box of |cos| + 1 by |sin| + 1 pixels (where neither
// is 10000), and with no rows nothing is covered, so each call costs
// little. The sizes hashed must be the same on Linux and under Wine: the
// extended-precision rule gives one table on both.
TEST(ApiRotate, SineCosineTableIsTheSameOnEveryPlatform)
{
    Dib src(CreateDIB(10001, 0, 1, 0));
    ASSERT_TRUE(src);
    uint64_t hash = 1469598103934665603ull;
    auto mix = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            hash ^= (v >> (8 * i)) & 0xFF;
            hash *= 1099511628211ull;
        }
    };
    for (int a = 0; a < 3600; ++a) {
        Dib r(RotateDIB(src.get(), a, 0xFFFFFFFFu));
        ASSERT_TRUE(r) << a;
        uint32_t w, h;
        {
            Locked p(r.get());  // the header only: the pixels are never touched
            std::memcpy(&w, p.get() + 4, 4);
            std::memcpy(&h, p.get() + 8, 4);
        }
        const RotateBox box = model_rotate_box(10001, 0, a);
        ASSERT_EQ(w, uint32_t(box.right - box.left + 1)) << a;
        ASSERT_EQ(h, uint32_t(box.top - box.bottom + 1)) << a;
        if (std::abs(box.cosine) < 10000 && std::abs(box.sine) < 10000) {
            ASSERT_EQ(w, uint32_t(std::abs(box.cosine)) + 1) << a;
            ASSERT_EQ(h, uint32_t(std::abs(box.sine)) + 1) << a;
        }
        mix(w);
        mix(h);
    }
    EXPECT_EQ(hash, 17268483899680425435ull) << std::hex << hash;
}

// ---------------------------------------------------------------------------
// Stretching

TEST(ApiStretch, MatchesTheModelOverFormsAndRectangles)
{
    std::mt19937 rng(2024);
    int fast = 0, general = 0;
    for (const Form& sf : kForms)
        for (const Form& df : {sf, kForms[rng() % (sizeof kForms / sizeof kForms[0])]})
            for (int round = 0; round < 14; ++round) {
                const int sw = 1 + int(rng() % 20), sh = 1 + int(rng() % 20);
                const int dw = 1 + int(rng() % 24), dh = 1 + int(rng() % 24);
                Rect8 r;
                auto pick = [&](int lim) { return int(rng() % unsigned(lim + 6)) - 3; };
                r.xDst = pick(dw); r.yDst = pick(dh); r.cxDst = pick(dw + 2); r.cyDst = pick(dh + 2);
                r.xSrc = pick(sw); r.ySrc = pick(sh); r.cxSrc = pick(sw + 2); r.cySrc = pick(sh + 2);
                if (round < 6) {  // rectangles inside the images: the byte path
                    r.xSrc = int(rng() % unsigned(sw)); r.ySrc = int(rng() % unsigned(sh));
                    r.cxSrc = 1 + int(rng() % unsigned(sw - r.xSrc)); r.cySrc = 1 + int(rng() % unsigned(sh - r.ySrc));
                    r.xDst = int(rng() % unsigned(dw)); r.yDst = int(rng() % unsigned(dh));
                    r.cxDst = 1 + int(rng() % unsigned(dw - r.xDst)); r.cyDst = 1 + int(rng() % unsigned(dh - r.yDst));
                    if (round == 0) { r.xSrc &= ~1; r.xDst &= ~1; r.cxDst = r.cxSrc = 2; }
                }
                SCOPED_TRACE(testing::Message() << "kinds " << sf.kind << "/" << df.kind << ", bits " << sf.bits << "/"
                                                << df.bits << ", src " << sw << "x" << sh << ", dst " << dw << "x" << dh
                                                << ", rect " << r.xDst << "," << r.yDst << "," << r.cxDst << ","
                                                << r.cyDst << " <- " << r.xSrc << "," << r.ySrc << "," << r.cxSrc << ","
                                                << r.cySrc);
                Dib src(make_image(sf.kind, sw, sh, sf.bits, rng));
                Dib dst(make_image(df.kind, dw, dh, df.bits, rng));
                Dib want(CopyHandle(dst.get()));
                const int a = StretchDIB2DIBBlt(dst.get(), r.xDst, r.yDst, r.cxDst, r.cyDst, src.get(), r.xSrc, r.ySrc,
                                                r.cxSrc, r.cySrc);
                const int b = model_stretch(want.get(), r, src.get());
                EXPECT_EQ(a, b);
                EXPECT_TRUE(same_block(dst.get(), want.get()));
                (model_stretch_fast_applies(info_of(src.get()), info_of(dst.get()), r) ? fast : general)++;
            }
    EXPECT_GT(fast, 20);
    EXPECT_GT(general, 100);
}

TEST(ApiStretch, WorkedRowsOfBothPaths)
{
    // One-row patterns 10, 11, 12, ... in an 8-bit image of 8 x 2 rows.
    auto row_after = [](int cxSrc, int cxDst, int srcWidth, bool general) {
        Dib src(CreateDIB(srcWidth, 2, 8, 0));
        auto* p = static_cast<uint8_t*>(GlobalLock(src.get()));
        const size_t stride = stride_for(srcWidth, 8);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < srcWidth; ++x)
                p[40 + 1024 + y * stride + x] = uint8_t(10 + x);
        GlobalUnlock(src.get());
        // A different table forces the general path.
        Dib dst(general ? CreateDIB(cxDst, 2, 24, 0) : CreateDIB(cxDst, 2, 8, 0));
        StretchDIB2DIBBlt(dst.get(), 0, 0, cxDst, 2, src.get(), 0, 0, cxSrc, 2);
        std::vector<int> out;
        LPTRDIB rs = RWOpenDIB(src.get());
        LPTRDIB rd = RWOpenDIB(dst.get());
        for (int x = 0; x < cxDst; ++x) {
            const DWORD c = RWGetPixel(rd, x, 0);
            int found = -1;
            for (int s = 0; s < srcWidth; ++s)
                if (RWGetPixel(rs, s, 0) == c)
                    found = s;
            out.push_back(found);
        }
        RWClose(rd);
        RWClose(rs);
        return out;
    };
    EXPECT_EQ(row_after(3, 5, 8, false), (std::vector<int>{0, 1, 2, 2, 3}));  // s3 right of the rectangle
    EXPECT_EQ(row_after(2, 4, 8, false), (std::vector<int>{0, 0, 1, 1}));
    EXPECT_EQ(row_after(7, 3, 8, false), (std::vector<int>{1, 3, 5}));
    EXPECT_EQ(row_after(4, 2, 8, false), (std::vector<int>{1, 3}));
    EXPECT_EQ(row_after(4, 2, 8, true), (std::vector<int>{0, 2}));
    // At the image's right edge the rectangle's last pixel stands in.
    EXPECT_EQ(row_after(3, 5, 3, false), (std::vector<int>{0, 1, 2, 2, 2}));
}

TEST(ApiStretch, VerticalRowsAndEdges)
{
    // 10 source rows onto 4 on the byte path: rows 0, 3, 6, 9.
    Dib src(CreateDIB(2, 10, 8, 0));
    auto* p = static_cast<uint8_t*>(GlobalLock(src.get()));
    for (int y = 0; y < 10; ++y)
        p[40 + 1024 + y * 4] = uint8_t(100 + y);
    GlobalUnlock(src.get());
    Dib dst(CreateDIB(2, 4, 8, 0));
    EXPECT_EQ(StretchDIB2DIBBlt(dst.get(), 0, 0, 2, 4, src.get(), 0, 0, 2, 10), 1);
    const std::vector<uint8_t> b = block_bytes(dst.get());
    for (int n = 0; n < 4; ++n)
        EXPECT_EQ(b[40 + 1024 + n * 4], 100 + 3 * n) << n;
    // Zero extents: 0; negative destination extents: 1 with nothing written.
    EXPECT_EQ(StretchDIB2DIBBlt(dst.get(), 0, 0, 0, 4, src.get(), 0, 0, 2, 10), 0);
    EXPECT_EQ(StretchDIB2DIBBlt(dst.get(), 0, 0, -2, 4, src.get(), 0, 0, 2, 10), 1);
    EXPECT_EQ(block_bytes(dst.get()), b);
    // A 10-pixel 1-bit row enlarged to 20: column 19 maps to source 10,
    // outside, and is white.
    Dib bw(CreateDIB(10, 1, 1, 0));
    Dib big(StretchDIB(bw.get(), 20, 1, nullptr));
    LPTRDIB rw = RWOpenDIB(big.get());
    EXPECT_EQ(RWGetPixel(rw, 18, 0), 0u);
    EXPECT_EQ(RWGetPixel(rw, 19, 0), 0xFFFFFFu);
    RWClose(rw);
}

TEST(ApiStretch, StretchDibMatchesTheModel)
{
    std::mt19937 rng(5);
    for (const Form& f : kForms)
        for (int round = 0; round < 6; ++round) {
            const int w = 1 + int(rng() % 15), h = 1 + int(rng() % 15);
            const LONG nw = LONG(rng() % 30), nh = LONG(rng() % 30);
            RECT rc{int(rng() % 20) - 3, int(rng() % 20) - 3, int(rng() % 20) - 3, int(rng() % 20) - 3};
            const bool whole = round == 0;
            SCOPED_TRACE(testing::Message() << "kind " << f.kind << ", " << f.bits << " bits, " << w << "x" << h
                                            << " -> " << nw << "x" << nh);
            Dib src(make_image(f.kind, w, h, f.bits, rng));
            Dib got(StretchDIB(src.get(), nw, nh, whole ? nullptr : &rc));
            ASSERT_TRUE(got);
            Dib want(CreateCompatibleDIB(src.get(), UINT(nw), nh));
            const RECT r = whole ? RECT{0, h - 1, w - 1, 0} : rc;
            model_stretch(want.get(), Rect8{0, 0, nw, nh, r.left, r.bottom, r.right - r.left + 1, r.top - r.bottom + 1},
                          src.get());
            EXPECT_TRUE(same_block(got.get(), want.get()));
        }
    Dib src(CreateDIB(4, 4, 8, 0));
    EXPECT_EQ(StretchDIB(nullptr, 4, 4, nullptr), nullptr);
    EXPECT_EQ(StretchDIB(src.get(), -1, 4, nullptr), nullptr);
    EXPECT_EQ(StretchDIB(src.get(), 4, -1, nullptr), nullptr);
}

// ---------------------------------------------------------------------------
// Blending

TEST(ApiBlend, MatchesTheModel)
{
    std::mt19937 rng(64);
    const Form forms[] = {{kPlain, 24}, {kPlain, 32}, {kAlphaV4, 32}, {kAlphaV4, 24}, {kCmykV4, 32}, {kPlain, 8},
                          {kTwoPlane, 24}};
    int blended = 0;
    for (const Form& sf : forms)
        for (const Form& df : forms)
            for (int round = 0; round < 10; ++round) {
                const int sw = 1 + int(rng() % 16), sh = 1 + int(rng() % 16);
                const int dw = 1 + int(rng() % 16), dh = 2 + int(rng() % 16);
                Rect8 r;
                r.xSrc = int(rng() % unsigned(sw)); r.ySrc = int(rng() % unsigned(sh));
                r.cxSrc = 1 + int(rng() % unsigned(sw - r.xSrc)); r.cySrc = 1 + int(rng() % unsigned(sh - r.ySrc));
                r.xDst = int(rng() % unsigned(dw)); r.yDst = int(rng() % unsigned(dh - 1));
                r.cxDst = 1 + int(rng() % unsigned(dw - r.xDst)); r.cyDst = 2 + int(rng() % unsigned(dh - 1 - r.yDst));
                if (round == 9)
                    r.xSrc -= 1;  // outside: opaque copy
                const int opacity = round == 1 ? 255 : round == 2 ? 0 : int(rng() % 256);
                SCOPED_TRACE(testing::Message() << "kinds " << sf.kind << "/" << df.kind << ", bits " << sf.bits << "/"
                                                << df.bits << ", opacity " << opacity << ", rect " << r.xDst << ","
                                                << r.yDst << "," << r.cxDst << "," << r.cyDst << " <- " << r.xSrc << ","
                                                << r.ySrc << "," << r.cxSrc << "," << r.cySrc);
                Dib src(make_image(sf.kind, sw, sh, sf.bits, rng));
                Dib dst(make_image(df.kind, dw, dh, df.bits, rng));
                Dib want(CopyHandle(dst.get()));
                const int a = DIBAlphaBlend(dst.get(), r.xDst, r.yDst, r.cxDst, r.cyDst, src.get(), r.xSrc, r.ySrc,
                                            r.cxSrc, r.cySrc, opacity);
                const int b = model_blend(want.get(), r, src.get(), opacity);
                EXPECT_EQ(a, b);
                EXPECT_TRUE(same_block(dst.get(), want.get()));
                blended += (sf.bits >= 24 && df.bits >= 24 && sf.kind != kTwoPlane && df.kind != kTwoPlane);
            }
    EXPECT_GT(blended, 200);
}

TEST(ApiBlend, WorkedValues)
{
    struct Case {
        uint8_t s, d;
        int a;
        uint8_t want;
    } cases[] = {{255, 0, 128, 128}, {0, 255, 128, 127}, {77, 200, 0, 200}, {77, 200, 255, 77}};
    for (const Case& c : cases) {
        Dib src(CreateDIB(1, 2, 24, 0));
        Dib dst(CreateDIB(1, 2, 24, 0));
        std::memset(Locked(src.get()).get() + 40, c.s, 8);
        std::memset(Locked(dst.get()).get() + 40, c.d, 8);
        EXPECT_EQ(DIBAlphaBlend(dst.get(), 0, 0, 1, 2, src.get(), 0, 0, 1, 2, c.a), 1);
        EXPECT_EQ(block_bytes(dst.get())[40], c.want) << int(c.s) << " over " << int(c.d) << " at " << c.a;
    }
    // Narrowing 7 source pixels into 3 blends s2, s4 and s6.
    Dib src(CreateDIB(7, 2, 24, 0));
    Dib dst(CreateDIB(3, 2, 24, 0));
    uint8_t* s = Locked(src.get()).get();
    for (int x = 0; x < 7; ++x)
        for (int y = 0; y < 2; ++y)
            std::memset(s + 40 + y * 24 + x * 3, 10 * x, 3);
    EXPECT_EQ(DIBAlphaBlend(dst.get(), 0, 0, 3, 2, src.get(), 0, 0, 7, 2, 254), 1);
    const std::vector<uint8_t> b = block_bytes(dst.get());
    EXPECT_EQ(b[40], (20 * 254) / 255);
    EXPECT_EQ(b[43], (40 * 254) / 255);
    EXPECT_EQ(b[46], (60 * 254) / 255);
    EXPECT_EQ(DIBAlphaBlend(dst.get(), 0, 0, 0, 2, src.get(), 0, 0, 7, 2, 10), 0);
}

// ---------------------------------------------------------------------------
// TransformDIB

namespace {

struct Call {
    char who;  // 'm' mapping, 'c' colour
    int msg;
    bool point;
    LONG x, y;
    bool colour;
};

struct Recorder {
    std::vector<Call> calls;
    int skipRow = -1;       // mapping callback answers 0 at this row's LINE
    int skipPixelX = -1;    // and at this column's PIXEL
    int shift = 0;          // source x = destination x + shift
    int colourZeroX = -1;   // colour callback answers 0 at this source x
};

LONG WINAPI rec_map(int msg, POINT* pt, LPVOID data)
{
    auto* r = static_cast<Recorder*>(data);
    r->calls.push_back({'m', msg, pt != nullptr, pt ? pt->x : 0, pt ? pt->y : 0, false});
    if (msg == TRANSFORM_LINE && pt->y == r->skipRow)
        return 0;
    if (msg == TRANSFORM_PIXEL) {
        if (pt->x == r->skipPixelX)
            return 0;
        pt->x += r->shift;
    }
    return 1;
}

LONG WINAPI rec_colour(int msg, POINT* pt, LPVOID data, Rgbq16* c)
{
    auto* r = static_cast<Recorder*>(data);
    r->calls.push_back({'c', msg, pt != nullptr, pt ? pt->x : 0, pt ? pt->y : 0, c != nullptr});
    if (msg == TRANSFORM_PIXEL) {
        if (pt->x == r->colourZeroX)
            return 0;
        c->red = 0xFFFF;
    }
    return 1;
}

}  // namespace

TEST(ApiTransform, CallbackSequence)
{
    Dib src(CreateDIB(3, 2, 24, 0));
    Dib dst(CreateDIB(3, 2, 24, 0));
    Recorder r;
    r.skipRow = 1;
    r.skipPixelX = 2;
    r.shift = 1;
    ASSERT_EQ(TransformDIB(src.get(), dst.get(), rec_map, rec_colour, &r, 0xFFFFFFFFu), 1);
    // BEGIN m, c; row 0: LINE m, c; pixel 0: m, c (source x 1); pixel 1: m
    // (source x 2), c; pixel 2: m (skipped); row 1: LINE m (skipped); END.
    const std::vector<Call> want = {
        {'m', TRANSFORM_BEGIN, false, 0, 0, false}, {'c', TRANSFORM_BEGIN, false, 0, 0, false},
        {'m', TRANSFORM_LINE, true, 0, 0, false},   {'c', TRANSFORM_LINE, true, 0, 0, false},
        {'m', TRANSFORM_PIXEL, true, 0, 0, false},  {'c', TRANSFORM_PIXEL, true, 1, 0, true},
        {'m', TRANSFORM_PIXEL, true, 1, 0, false},  {'c', TRANSFORM_PIXEL, true, 2, 0, true},
        {'m', TRANSFORM_PIXEL, true, 2, 0, false},  {'m', TRANSFORM_LINE, true, 0, 1, false},
        {'m', TRANSFORM_END, false, 0, 0, false},   {'c', TRANSFORM_END, false, 0, 0, false}};
    ASSERT_EQ(r.calls.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(r.calls[i].who, want[i].who);
        EXPECT_EQ(r.calls[i].msg, want[i].msg);
        EXPECT_EQ(r.calls[i].point, want[i].point);
        EXPECT_EQ(r.calls[i].x, want[i].x);
        EXPECT_EQ(r.calls[i].y, want[i].y);
        EXPECT_EQ(r.calls[i].colour, want[i].colour);
    }
    // The colour callback's change lands (red 255); x = 1 took source x 2,
    // which lies inside; nothing else was written.
    LPTRDIB rw = RWOpenDIB(dst.get());
    EXPECT_EQ(RWGetPixel(rw, 0, 0), 0x0000FFu);
    EXPECT_EQ(RWGetPixel(rw, 1, 0), 0x0000FFu);
    EXPECT_EQ(RWGetPixel(rw, 2, 0), 0u);
    EXPECT_EQ(RWGetPixel(rw, 0, 1), 0u);
    RWClose(rw);
}

TEST(ApiTransform, EdgesOfTheWalk)
{
    Dib src(CreateDIB(3, 2, 8, 0));
    // A destination of height 0 still gets BEGIN and END.
    {
        Dib empty(CreateDIB(3, 0, 8, 0));
        Recorder r;
        EXPECT_EQ(TransformDIB(src.get(), empty.get(), rec_map, rec_colour, &r, 0), 1);
        ASSERT_EQ(r.calls.size(), 4u);
        EXPECT_EQ(r.calls[0].msg, TRANSFORM_BEGIN);
        EXPECT_EQ(r.calls[3].msg, TRANSFORM_END);
    }
    // A source point at x = width is outside: background, or untouched.
    {
        Dib dst(CreateDIB(3, 2, 8, 0));
        std::memset(Locked(dst.get()).get() + 40 + 1024, 7, 8);
        Recorder r;
        r.shift = 1;
        EXPECT_EQ(TransformDIB(src.get(), dst.get(), rec_map, nullptr, &r, 0xFFFFFFFFu), 1);
        EXPECT_EQ(block_bytes(dst.get())[40 + 1024 + 2], 7);
        EXPECT_EQ(TransformDIB(src.get(), dst.get(), rec_map, nullptr, &r, RGB(255, 255, 255)), 1);
        LPTRDIB rw = RWOpenDIB(dst.get());
        EXPECT_EQ(RWGetPixel(rw, 2, 0), 0xFFFFFFu);
        RWClose(rw);
    }
    // Refused images: 0 and no callback.
    {
        Recorder r;
        EXPECT_EQ(TransformDIB(nullptr, src.get(), rec_map, rec_colour, &r, 0), 0);
        EXPECT_EQ(TransformDIB(src.get(), nullptr, rec_map, rec_colour, &r, 0), 0);
        EXPECT_TRUE(r.calls.empty());
    }
}

TEST(ApiTransform, RawCopyOnlyBetweenEqualTables)
{
    // Index 5 of the source is pure red. A destination with the same table
    // gets index 5 unchanged; one whose only red is entry 9 (all others
    // black) gets 9 through the nearest-colour search.
    const RGBQUAD red{0, 0, 255, 0};
    Dib src(CreateDIB(2, 2, 8, 0));
    {
        Locked s(src.get());
        std::memcpy(s.get() + 40 + 5 * 4, &red, 4);
        std::memset(s.get() + 40 + 1024, 5, 8);
    }
    Dib same(CopyHandle(src.get()));
    std::memset(Locked(same.get()).get() + 40 + 1024, 0, 8);
    Dib other(CreateDIB(2, 2, 8, 0));
    {
        Locked o(other.get());
        std::memset(o.get() + 40, 0, 1024);
        std::memcpy(o.get() + 40 + 9 * 4, &red, 4);
    }
    ASSERT_EQ(TransformDIB(src.get(), same.get(), nullptr, nullptr, nullptr, 0), 1);
    EXPECT_EQ(block_bytes(same.get())[40 + 1024], 5);
    ASSERT_EQ(TransformDIB(src.get(), other.get(), nullptr, nullptr, nullptr, 0), 1);
    EXPECT_EQ(block_bytes(other.get())[40 + 1024], 9);
    // A colour callback always disables the raw copy: the same table, but
    // the callback's red lands as entry 5 only by the search.
    Recorder r;
    Dib again(CopyHandle(src.get()));
    std::memset(Locked(again.get()).get() + 40 + 1024, 0, 8);
    ASSERT_EQ(TransformDIB(src.get(), again.get(), nullptr, rec_colour, &r, 0), 1);
    LPTRDIB rw = RWOpenDIB(again.get());
    EXPECT_EQ(RWGetPixel(rw, 0, 0), 0x0000FFu);
    RWClose(rw);
}
