// Device output through the public interface, against the graphics device
// interface of the platform: the library's own GDI subset on Linux, the real
// GDI under Wine. Each drawing export is compared with what the same GDI call
// draws from the same bits directly, so the test holds on both.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kelm3.h"
#include "support/device_model.h"
#include "support/dib_builder.h"

#ifdef _WIN32
#include <winspool.h>
#endif

using namespace kelm_test;

namespace {

// ---------------------------------------------------------------------------
// Surfaces: a memory DC holding a screen-compatible bitmap, read back as
// 32-bit top-down rows of colour words.

struct Surface {
    Surface(int w, int h) : width(w), height(h)
    {
        HDC screen = GetDC(nullptr);
        dc = CreateCompatibleDC(screen);
        bitmap = CreateCompatibleBitmap(screen, w, h);
        ReleaseDC(nullptr, screen);
        previous = SelectObject(dc, bitmap);
        PatBlt(dc, 0, 0, w, h, WHITENESS);
    }
    ~Surface()
    {
        SelectObject(dc, previous);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;

    std::vector<COLORREF> pixels() const { return read_bitmap(dc, bitmap, previous, width, height); }

    static std::vector<COLORREF> read_bitmap(HDC dc, HBITMAP bitmap, HGDIOBJ previous, int w, int h)
    {
#ifdef _WIN32
        GdiFlush();
#endif
        if (dc)
            SelectObject(dc, previous);
        std::vector<BYTE> bits(static_cast<size_t>(w) * h * 4);
        std::vector<BYTE> info(sizeof(BITMAPINFOHEADER) + 256 * 4, 0);
        auto* bi = reinterpret_cast<BITMAPINFOHEADER*>(info.data());
        bi->biSize = sizeof(BITMAPINFOHEADER);
        bi->biWidth = w;
        bi->biHeight = -h;
        bi->biPlanes = 1;
        bi->biBitCount = 32;
        HDC screen = GetDC(nullptr);
        const int lines = GetDIBits(screen, bitmap, 0, h, bits.data(), reinterpret_cast<BITMAPINFO*>(info.data()),
                                    DIB_RGB_COLORS);
        ReleaseDC(nullptr, screen);
        if (dc)
            SelectObject(dc, bitmap);
        EXPECT_EQ(lines, h);
        std::vector<COLORREF> out(static_cast<size_t>(w) * h);
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = RGB(bits[i * 4 + 2], bits[i * 4 + 1], bits[i * 4]);
        return out;
    }

    int width, height;
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ previous;
};

// A test image of the given depth with a recognisable pattern: palette
// images take every index in turn, others a colour gradient.
HGLOBAL pattern_image(int w, int h, UINT bits, int flags = 0)
{
    HGLOBAL dib = CreateDIB(w, h, bits, flags);
    EXPECT_NE(dib, nullptr);
    LPTRDIB rw = RWOpenDIB(dib);
    EXPECT_NE(rw, nullptr);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (bits <= 8) {
                const DWORD index = static_cast<DWORD>((x * 7 + y * 3) % (1 << bits));
                RWSetPixelIndex(rw, x, y, &index);
            } else {
                RWSetPixel(rw, x, y, RGB((x * 40) & 0xF8, (y * 30) & 0xF8, ((x + y) * 20) & 0xF8));
            }
        }
    RWClose(rw);
    return dib;
}

WORD planes_of(HGLOBAL dib)
{
    auto* bi = static_cast<BITMAPINFOHEADER*>(GlobalLock(dib));
    const WORD planes = bi->biPlanes;
    GlobalUnlock(dib);
    return planes;
}

std::vector<COLORREF> image_colours(HGLOBAL dib)
{
    BITMAPINFOHEADER bi;
    EXPECT_EQ(DIBInfo(dib, &bi, sizeof bi), 1);
    std::vector<COLORREF> out;
    LPTRDIB rw = RWOpenDIB(dib);
    EXPECT_NE(rw, nullptr);
    if (!rw)
        return out;
    for (int y = 0; y < bi.biHeight; ++y)
        for (int x = 0; x < bi.biWidth; ++x)
            out.push_back(RWGetPixel(rw, x, y));
    RWClose(rw);
    return out;
}

// A CMYK image: a 108-byte header marked CMYK, 32 bits, the given pixels in
// memory order (row 0 first).
HGLOBAL cmyk_image(const std::vector<std::vector<device_model::Cmyk>>& rows)
{
    const int h = static_cast<int>(rows.size()), w = static_cast<int>(rows[0].size());
    BlockSpec spec;
    spec.header.assign(108, 0);
    BITMAPINFOHEADER bi = info_header(w, h, 32);
    bi.biSize = 108;
    std::memcpy(spec.header.data(), &bi, sizeof bi);
    const uint32_t cmyk = KELM3_CS_CMYK;
    std::memcpy(spec.header.data() + 56, &cmyk, 4);
    for (const auto& row : rows)
        for (const auto& c : row)
            spec.pixels.insert(spec.pixels.end(), {c.b0, c.b1, c.b2, c.b3});
    return make_block(spec);
}

std::vector<std::vector<device_model::Cmyk>> cmyk_rows(int w, int h, int seed)
{
    std::vector<std::vector<device_model::Cmyk>> rows(h, std::vector<device_model::Cmyk>(w));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            rows[y][x] = device_model::Cmyk{static_cast<uint8_t>(x * 37 + seed), static_cast<uint8_t>(y * 53 + seed),
                                            static_cast<uint8_t>((x ^ y) * 29), static_cast<uint8_t>((x + y) * 11)};
    return rows;
}

// ---------------------------------------------------------------------------
// Device bitmaps.

class RoundTrip : public ::testing::TestWithParam<UINT> {};

// BitmapFromDIB then DIBFromBitmap at the same depth, with the image's own
// palette, gives back every pixel's colour; biPlanes is unchanged.
TEST_P(RoundTrip, BitmapAndBackKeepsEveryPixel)
{
    const UINT bits = GetParam();
    HGLOBAL dib = pattern_image(13, 7, bits);
    if (bits == 8) {
        // A display that is not palette-based gives 8-bit DIBs its own
        // default table: an image on that table comes back index for index.
        HDC screen = GetDC(nullptr);
        HBITMAP probe = CreateCompatibleBitmap(screen, 1, 1);
        std::vector<BYTE> info(sizeof(BITMAPINFOHEADER) + 256 * 4, 0);
        auto* pbi = reinterpret_cast<BITMAPINFOHEADER*>(info.data());
        *pbi = info_header(1, 1, 8);
        ASSERT_NE(GetDIBits(screen, probe, 0, 1, nullptr, reinterpret_cast<BITMAPINFO*>(pbi), DIB_RGB_COLORS), 0);
        ReleaseDC(nullptr, screen);
        DeleteObject(probe);
        auto* own = static_cast<BYTE*>(GlobalLock(dib));
        std::memcpy(own + 40, info.data() + 40, 256 * 4);
        GlobalUnlock(dib);
    }
    HPALETTE pal = bits <= 8 ? CreateDIBPalette(dib) : nullptr;
    HBITMAP bm = BitmapFromDIB(dib, pal);
    ASSERT_NE(bm, nullptr);
    BITMAP info{};
    ASSERT_EQ(GetObjectA(bm, sizeof info, &info), static_cast<int>(sizeof info));
    EXPECT_EQ(info.bmWidth, 13);
    EXPECT_EQ(info.bmHeight, 7);
    // The default 1-bit table is black, white: a monochrome bitmap.
    EXPECT_EQ(info.bmBitsPixel == 1, bits == 1);

    HGLOBAL back = DIBFromBitmap(bm, BI_RGB, bits, pal);
    ASSERT_NE(back, nullptr);
    BITMAPINFOHEADER bi;
    ASSERT_EQ(DIBInfo(back, &bi, sizeof bi), 1);
    EXPECT_EQ(bi.biSize, 40u);
    EXPECT_EQ(bi.biBitCount, bits);
    EXPECT_EQ(bi.biPlanes, 1);
    EXPECT_EQ(bi.biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_EQ(image_colours(back), image_colours(dib));
    EXPECT_EQ(planes_of(dib), 1);

    DIBFree(back);
    DeleteObject(bm);
    if (pal)
        DeleteObject(pal);
    DIBFree(dib);
}

INSTANTIATE_TEST_SUITE_P(Depths, RoundTrip, ::testing::Values(1u, 4u, 8u, 16u, 24u, 32u));

// The kind of bitmap a 1-bit image becomes: with a palette only a white and
// black table (either order) stays monochrome; without one always.
TEST(BitmapFromDIB, OneBitImagesChooseMonochromeByTheirTable)
{
    struct Case {
        RGBQUAD first, second;
        bool withPalette;
        bool mono;
    } cases[] = {
        {{255, 255, 255, 0}, {0, 0, 0, 0}, true, true},
        {{0, 0, 0, 0}, {255, 255, 255, 0}, true, true},
        {{0, 0, 255, 0}, {255, 255, 255, 0}, true, false},
        {{0, 0, 255, 0}, {255, 255, 255, 0}, false, true},
        {{255, 255, 255, 1}, {0, 0, 0, 0}, true, false},  // whole 32-bit values are compared
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "red " << int(c.first.rgbRed) << " reserved " << int(c.first.rgbReserved)
                                        << " palette " << c.withPalette);
        BlockSpec spec;
        spec.header = header_bytes(info_header(9, 3, 1));
        spec.table = {c.first, c.second};
        spec.pixels.assign(12, 0x5A);
        HGLOBAL dib = make_block(spec);
        HPALETTE pal = c.withPalette ? CreateDIBPalette(dib) : nullptr;
        HBITMAP bm = BitmapFromDIB(dib, pal);
        ASSERT_NE(bm, nullptr);
        BITMAP info{};
        GetObjectA(bm, sizeof info, &info);
        EXPECT_EQ(info.bmBitsPixel == 1, c.mono);
        DeleteObject(bm);
        if (pal)
            DeleteObject(pal);
        DIBFree(dib);
    }
}

// The resolution becomes the physical size in tenths of a millimetre and
// comes back as the resolution; a bitmap without one gives 0.
TEST(BitmapFromDIB, ResolutionTravelsAsPhysicalSize)
{
    HGLOBAL dib = pattern_image(300, 200, 24);
    auto* bi = static_cast<BITMAPINFOHEADER*>(GlobalLock(dib));
    bi->biXPelsPerMeter = 3937;
    bi->biYPelsPerMeter = 11811;
    GlobalUnlock(dib);
    HBITMAP bm = BitmapFromDIB(dib, nullptr);
    ASSERT_NE(bm, nullptr);
    SIZE dim{};
    ASSERT_TRUE(GetBitmapDimensionEx(bm, &dim));
    EXPECT_EQ(dim.cx, 762);  // 300 x 10000 / 3937 = 762.0
    EXPECT_EQ(dim.cy, 169);  // 200 x 10000 / 11811 = 169.3
    HGLOBAL back = DIBFromBitmap(bm, BI_RGB, 0, nullptr);
    ASSERT_NE(back, nullptr);
    BITMAPINFOHEADER out;
    DIBInfo(back, &out, sizeof out);
    EXPECT_EQ(out.biXPelsPerMeter, 3937);  // 300 x 10000 / 762
    EXPECT_EQ(out.biYPelsPerMeter, 11834);  // 200 x 10000 / 169
    DIBFree(back);
    DeleteObject(bm);

    HDC screen = GetDC(nullptr);
    HBITMAP plain = CreateCompatibleBitmap(screen, 5, 4);
    ReleaseDC(nullptr, screen);
    back = DIBFromBitmap(plain, BI_RGB, 24, nullptr);
    ASSERT_NE(back, nullptr);
    DIBInfo(back, &out, sizeof out);
    EXPECT_EQ(out.biXPelsPerMeter, 0);
    EXPECT_EQ(out.biYPelsPerMeter, 0);
    DIBFree(back);
    DeleteObject(plain);
    DIBFree(dib);
}

// With bit count 0 the bitmap's own depth is used.
TEST(DIBFromBitmap, BitCountZeroTakesTheBitmapsDepth)
{
    HDC screen = GetDC(nullptr);
    const int depth = GetDeviceCaps(screen, BITSPIXEL);
    HBITMAP colour = CreateCompatibleBitmap(screen, 4, 3);
    ReleaseDC(nullptr, screen);
    HBITMAP mono = CreateBitmap(4, 3, 1, 1, nullptr);
    struct Case {
        HBITMAP bm;
        int bits;
    } cases[] = {{colour, depth}, {mono, 1}};
    for (const auto& c : cases) {
        HGLOBAL dib = DIBFromBitmap(c.bm, BI_RGB, 0x10000, nullptr);  // only the low 16 bits count
        ASSERT_NE(dib, nullptr);
        BITMAPINFOHEADER bi;
        DIBInfo(dib, &bi, sizeof bi);
        EXPECT_EQ(bi.biBitCount, c.bits);
        DIBFree(dib);
    }
    DeleteObject(colour);
    DeleteObject(mono);
}

// Compressions outside BI_RGB, BI_RLE8 and BI_RLE4 are refused, and so are
// null bitmaps.
TEST(DIBFromBitmap, RefusesOtherCompressionsAndNullBitmaps)
{
    HBITMAP mono = CreateBitmap(8, 2, 1, 1, nullptr);
    for (DWORD compression : {3u, 4u, 5u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(compression);
        EXPECT_EQ(DIBFromBitmap(mono, compression, 8, nullptr), nullptr);
    }
    EXPECT_EQ(DIBFromBitmap(nullptr, BI_RGB, 8, nullptr), nullptr);
    EXPECT_EQ(BitmapFromDIB(nullptr, nullptr), nullptr);
    DeleteObject(mono);
}

// DrawBitmap puts the whole bitmap at (x, y) with the raster operation.
TEST(DrawBitmap, CopiesTheWholeBitmap)
{
    HGLOBAL dib = pattern_image(6, 5, 24);
    HBITMAP bm = BitmapFromDIB(dib, nullptr);
    Surface drawn(16, 12), direct(16, 12);
    EXPECT_NE(DrawBitmap(drawn.dc, 3, 4, bm, SRCINVERT), 0);
    DIBBlt(direct.dc, 3, 4, 6, 5, dib, 0, 0, SRCCOPY);
    // SRCINVERT on white is the inverse of the picture.
    auto expected = direct.pixels();
    for (int y = 4; y < 9; ++y)
        for (int x = 3; x < 9; ++x)
            expected[y * 16 + x] ^= 0xFFFFFF;
    EXPECT_EQ(drawn.pixels(), expected);
    EXPECT_EQ(DrawBitmap(nullptr, 0, 0, bm, SRCCOPY), 0);
    EXPECT_EQ(DrawBitmap(drawn.dc, 0, 0, nullptr, SRCCOPY), 0);
    // The bitmap is free again: it can be deleted at once.
    EXPECT_TRUE(DeleteObject(bm));
    DIBFree(dib);
}

// ---------------------------------------------------------------------------
// Drawing images.

struct BltCase {
    UINT bits;
    int flags;
    int xDest, yDest, w, h, xSrc, ySrc;
};

class Blt : public ::testing::TestWithParam<BltCase> {};

// DIBBlt draws what SetDIBitsToDevice draws from the same header and bits,
// and leaves biPlanes as it was (2 for the two-plane form, drawn as its
// first plane).
TEST_P(Blt, DrawsWhatSetDIBitsToDeviceDraws)
{
    const BltCase c = GetParam();
    HGLOBAL dib = pattern_image(11, 9, c.bits, c.flags);
    const WORD planes = planes_of(dib);
    Surface viaLibrary(24, 20), direct(24, 20);
    EXPECT_EQ(DIBBlt(viaLibrary.dc, c.xDest, c.yDest, c.w, c.h, dib, c.xSrc, c.ySrc, SRCCOPY), 1);
    EXPECT_EQ(planes_of(dib), planes);

    auto* bi = static_cast<BITMAPINFOHEADER*>(GlobalLock(dib));
    const WORD saved = bi->biPlanes;
    bi->biPlanes = 1;
    const BYTE* bits = reinterpret_cast<BYTE*>(bi) + bi->biSize + DIBPaletteSize(bi);
    SetDIBitsToDevice(direct.dc, c.xDest, c.yDest, c.w, c.h, c.xSrc, c.ySrc, 0, bi->biHeight, bits,
                      reinterpret_cast<BITMAPINFO*>(bi), DIB_RGB_COLORS);
    bi->biPlanes = saved;
    GlobalUnlock(dib);
    const auto got = viaLibrary.pixels();
    EXPECT_EQ(got, direct.pixels());
    EXPECT_NE(got, std::vector<COLORREF>(got.size(), 0xFFFFFF)) << "nothing was drawn";
    DIBFree(dib);
}

INSTANTIATE_TEST_SUITE_P(Cases, Blt,
                         ::testing::Values(BltCase{1, 0, 2, 3, 11, 9, 0, 0}, BltCase{4, 0, 0, 0, 8, 6, 2, 1},
                                           BltCase{8, 0, 5, 1, 11, 9, 0, 0}, BltCase{24, 0, 20, 15, 11, 9, 0, 0},
                                           BltCase{32, 0, 1, 1, 5, 4, 3, 3},
                                           BltCase{24, KELM3_CREATE_TWOPLANE, 2, 2, 11, 9, 0, 0}));

struct StretchCase {
    UINT bits;
    int flags;
    int xDest, yDest, w, h, xSrc, ySrc, sw, sh;
    DWORD rop;
};

class Stretch : public ::testing::TestWithParam<StretchCase> {};

// StretchDIBBlt on an ordinary image draws what StretchDIBits draws from the
// same header and bits, returns 1, and restores biPlanes.
TEST_P(Stretch, DrawsWhatStretchDIBitsDraws)
{
    const StretchCase c = GetParam();
    HGLOBAL dib = pattern_image(10, 8, c.bits, c.flags);
    const WORD planes = planes_of(dib);
    Surface viaLibrary(32, 28), direct(32, 28);
    EXPECT_EQ(StretchDIBBlt(viaLibrary.dc, c.xDest, c.yDest, c.w, c.h, dib, c.xSrc, c.ySrc, c.sw, c.sh, c.rop), 1);
    EXPECT_EQ(planes_of(dib), planes);

    auto* bi = static_cast<BITMAPINFOHEADER*>(GlobalLock(dib));
    const WORD saved = bi->biPlanes;
    bi->biPlanes = 1;
    const BYTE* bits = reinterpret_cast<BYTE*>(bi) + bi->biSize + DIBPaletteSize(bi);
    EXPECT_GT(StretchDIBits(direct.dc, c.xDest, c.yDest, c.w, c.h, c.xSrc, c.ySrc, c.sw, c.sh, bits,
                            reinterpret_cast<BITMAPINFO*>(bi), DIB_RGB_COLORS, c.rop),
              0);
    bi->biPlanes = saved;
    GlobalUnlock(dib);
    EXPECT_EQ(viaLibrary.pixels(), direct.pixels());
    DIBFree(dib);
}

INSTANTIATE_TEST_SUITE_P(Cases, Stretch,
                         ::testing::Values(StretchCase{24, 0, 0, 0, 20, 16, 0, 0, 10, 8, SRCCOPY},
                                           StretchCase{8, 0, 3, 2, 10, 8, 0, 0, 10, 8, SRCCOPY},
                                           StretchCase{4, 0, 1, 1, 30, 24, 2, 2, 5, 4, SRCINVERT},
                                           StretchCase{32, 0, 4, 4, 7, 5, 1, 1, 9, 7, SRCAND},
                                           StretchCase{24, KELM3_CREATE_TWOPLANE, 0, 0, 20, 16, 0, 0, 10, 8,
                                                       SRCCOPY}));

// A null image fills the destination with the brush and the raster
// operation, and the result is PatBlt's.
TEST(DIBBlt, NullImageFillsTheRectangle)
{
    Surface viaLibrary(10, 10);
    HBRUSH brush = CreateSolidBrush(RGB(10, 200, 30));
    HGDIOBJ a = SelectObject(viaLibrary.dc, brush);
    EXPECT_EQ(DIBBlt(viaLibrary.dc, 2, 3, 5, 4, nullptr, 0, 0, PATCOPY), 1);
    EXPECT_NE(StretchDIBBlt(viaLibrary.dc, 0, 0, 2, 2, nullptr, 0, 0, 1, 1, DSTINVERT), 0);
    SelectObject(viaLibrary.dc, a);
    auto expected = std::vector<COLORREF>(100, 0xFFFFFF);
    for (int y = 3; y < 7; ++y)
        for (int x = 2; x < 7; ++x)
            expected[y * 10 + x] = RGB(10, 200, 30);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            expected[y * 10 + x] = 0;
    EXPECT_EQ(viaLibrary.pixels(), expected);
    DeleteObject(brush);
}

// A CMYK image drawn to a device that is not a PostScript printer is the
// RGB conversion of a copy: the caller's image is unchanged, and the result
// is the scan-line count of StretchDIBits.
TEST(StretchDIBBlt, CmykToAnOrdinaryDeviceDrawsTheRgbConversion)
{
    const auto rows = cmyk_rows(6, 5, 3);
    HGLOBAL dib = cmyk_image(rows);
    HGLOBAL rgb = CopyHandle(dib);
    void* p = GlobalLock(rgb);
    DIBCmyk2Rgb(p);
    GlobalUnlock(rgb);
    const auto before = block_bytes(dib);
    Surface viaLibrary(16, 12), direct(16, 12);
    EXPECT_EQ(IsPostScriptDC(viaLibrary.dc), 0);
    const LONG result = StretchDIBBlt(viaLibrary.dc, 1, 2, 12, 10, dib, 0, 0, 6, 5, SRCCOPY);
    auto* bi = static_cast<BITMAPINFOHEADER*>(GlobalLock(rgb));
    const int lines = StretchDIBits(direct.dc, 1, 2, 12, 10, 0, 0, 6, 5, reinterpret_cast<BYTE*>(bi) + 108,
                                    reinterpret_cast<BITMAPINFO*>(bi), DIB_RGB_COLORS, SRCCOPY);
    GlobalUnlock(rgb);
    EXPECT_EQ(result, lines);
    EXPECT_GT(result, 0);
    EXPECT_EQ(viaLibrary.pixels(), direct.pixels());
    EXPECT_EQ(block_bytes(dib), before);
    DIBFree(rgb);
    DIBFree(dib);
}

// ---------------------------------------------------------------------------
// Palettes.

std::vector<PALETTEENTRY> palette_entries(HPALETTE pal)
{
    const UINT n = GetPaletteEntries(pal, 0, 0, nullptr);
    std::vector<PALETTEENTRY> out(n);
    if (n) {
        EXPECT_EQ(GetPaletteEntries(pal, 0, n, out.data()), n);
    }
    return out;
}

bool same(const PALETTEENTRY& a, const PALETTEENTRY& b)
{
    return a.peRed == b.peRed && a.peGreen == b.peGreen && a.peBlue == b.peBlue && a.peFlags == b.peFlags;
}

TEST(CreateBIPalette, EntriesComeFromTheColourTable)
{
    struct Case {
        WORD bits;
        DWORD compression;
        DWORD clrUsed;
        size_t expected;
    } cases[] = {
        {4, BI_RGB, 0, 16}, {8, BI_RGB, 20, 20}, {1, BI_RGB, 0, 2}, {8, BI_RGB, 0, 256},
        {24, BI_RGB, 3, 3},  // a true-colour image with a table uses its table
        {16, BI_BITFIELDS, 5, 5},  // entries after the three masks
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bits << " bits, " << c.clrUsed << " colours");
        BlockSpec spec;
        spec.header = header_bytes(info_header(2, 2, c.bits, c.compression, c.clrUsed));
        if (c.compression == BI_BITFIELDS)
            spec.masks = {0xF800, 0x07E0, 0x001F};
        for (size_t i = 0; i < c.expected; ++i)
            spec.table.push_back(RGBQUAD{static_cast<BYTE>(i * 3), static_cast<BYTE>(i * 5 + 1),
                                         static_cast<BYTE>(255 - i), static_cast<BYTE>(i)});
        spec.pixels.assign(64, 0);
        HGLOBAL dib = make_block(spec);
        void* p = GlobalLock(dib);
        HPALETTE pal = CreateBIPalette(p);
        GlobalUnlock(dib);
        ASSERT_NE(pal, nullptr);
        const auto entries = palette_entries(pal);
        ASSERT_EQ(entries.size(), c.expected);
        for (size_t i = 0; i < c.expected; ++i) {
            const PALETTEENTRY want{static_cast<BYTE>(255 - i), static_cast<BYTE>(i * 5 + 1), static_cast<BYTE>(i * 3), 0};
            EXPECT_TRUE(same(entries[i], want)) << "entry " << i;
        }
        HPALETTE viaHandle = CreateDIBPalette(dib);
        ASSERT_NE(viaHandle, nullptr);
        EXPECT_EQ(palette_entries(viaHandle).size(), c.expected);
        DeleteObject(viaHandle);
        DeleteObject(pal);
        DIBFree(dib);
    }
}

TEST(CreateBIPalette, TrueColourWithoutTableGivesTheColourCube)
{
    for (WORD bits : {16, 24, 32}) {
        SCOPED_TRACE(bits);
        const BITMAPINFOHEADER bi = info_header(4, 4, bits);
        HPALETTE pal = CreateBIPalette(&bi);
        ASSERT_NE(pal, nullptr);
        const auto entries = palette_entries(pal);
        ASSERT_EQ(entries.size(), 256u);
        for (unsigned i = 0; i < 256; ++i)
            EXPECT_TRUE(same(entries[i], device_model::cube_entry(i))) << "entry " << i;
        EXPECT_TRUE(same(entries[9], PALETTEENTRY{32, 32, 0, 0}));
        EXPECT_TRUE(same(entries[255], PALETTEENTRY{224, 224, 192, 0}));
        DeleteObject(pal);
    }
}

TEST(CreateBIPalette, NoTableBelowNineBitsGivesNull)
{
    const BITMAPINFOHEADER two = info_header(4, 4, 2);
    EXPECT_EQ(CreateBIPalette(&two), nullptr);
    EXPECT_EQ(CreateBIPalette(nullptr), nullptr);
    EXPECT_EQ(CreateDIBPalette(nullptr), nullptr);
}

// ---------------------------------------------------------------------------
// Screen capture: a pattern drawn on the screen comes back, cut at the
// screen's edges. Wine's headless display keeps no pixels (GetPixel on it
// reports CLR_INVALID); there only the sizes can be checked.

bool screen_keeps_pixels()
{
    HDC screen = GetDC(nullptr);
    const COLORREF before = GetPixel(screen, 0, 0);
    ReleaseDC(nullptr, screen);
    return before != CLR_INVALID;
}

TEST(DIBScreenShot, CapturesWhatWasDrawnOnTheScreen)
{
    HGLOBAL dib = pattern_image(40, 30, 24);
    HDC screen = GetDC(nullptr);
    ASSERT_NE(screen, nullptr);
    const int sw = GetDeviceCaps(screen, HORZRES), sh = GetDeviceCaps(screen, VERTRES);
    ASSERT_EQ(DIBBlt(screen, 100, 50, 40, 30, dib, 0, 0, SRCCOPY), 1);
    ASSERT_EQ(DIBBlt(screen, sw - 20, sh - 10, 40, 30, dib, 0, 0, SRCCOPY), 1);
    ReleaseDC(nullptr, screen);
    const bool content = screen_keeps_pixels();

    RECT r{100, 50, 140, 80};
    HGLOBAL shot = DIBScreenShot(nullptr, &r);
    ASSERT_NE(shot, nullptr);
    BITMAPINFOHEADER bi;
    DIBInfo(shot, &bi, sizeof bi);
    EXPECT_EQ(bi.biWidth, 40);
    EXPECT_EQ(bi.biHeight, 30);
    if (content) {
        EXPECT_EQ(image_colours(shot), image_colours(dib));
    }
    DIBFree(shot);

    // Beyond the right and bottom edges the capture is cut.
    RECT edge{sw - 20, sh - 10, sw + 20, sh + 20};
    shot = DIBScreenShot(nullptr, &edge);
    ASSERT_NE(shot, nullptr);
    DIBInfo(shot, &bi, sizeof bi);
    EXPECT_EQ(bi.biWidth, 20);
    EXPECT_EQ(bi.biHeight, 10);
    if (content) {
        LPTRDIB a = RWOpenDIB(shot), b = RWOpenDIB(dib);
        // Top-left 20 x 10 of the picture: stored rows 29 down to 20.
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 20; ++x)
                ASSERT_EQ(RWGetPixel(a, x, 9 - y), RWGetPixel(b, x, 29 - y)) << x << "," << y;
        RWClose(a);
        RWClose(b);
    }
    DIBFree(shot);

    // The whole desktop, and rectangles that are empty or wholly off the
    // screen.
    shot = DIBScreenShot(nullptr, nullptr);
    ASSERT_NE(shot, nullptr);
    DIBInfo(shot, &bi, sizeof bi);
    EXPECT_EQ(bi.biWidth, sw);
    EXPECT_EQ(bi.biHeight, sh);
    DIBFree(shot);
    RECT empty{10, 10, 10, 20};
    EXPECT_EQ(DIBScreenShot(nullptr, &empty), nullptr);
    RECT off{sw + 5, 0, sw + 50, 20};
    EXPECT_EQ(DIBScreenShot(nullptr, &off), nullptr);
    DIBFree(dib);
}

#ifdef _WIN32
// A window's rectangle is the capture, or a rectangle relative to its
// top-left corner.
TEST(DIBScreenShot, WindowRectangles)
{
    HWND w = CreateWindowExA(0, "STATIC", "kelm3", WS_POPUP | WS_VISIBLE, 50, 60, 100, 80, nullptr, nullptr,
                             nullptr, nullptr);
    ASSERT_NE(w, nullptr);
    HGLOBAL shot = DIBScreenShot(w, nullptr);
    ASSERT_NE(shot, nullptr);
    BITMAPINFOHEADER bi;
    DIBInfo(shot, &bi, sizeof bi);
    EXPECT_EQ(bi.biWidth, 100);
    EXPECT_EQ(bi.biHeight, 80);
    DIBFree(shot);
    RECT inner{10, 5, 30, 45};
    shot = DIBScreenShot(w, &inner);
    ASSERT_NE(shot, nullptr);
    DIBInfo(shot, &bi, sizeof bi);
    EXPECT_EQ(bi.biWidth, 20);
    EXPECT_EQ(bi.biHeight, 40);
    DIBFree(shot);
    DestroyWindow(w);
}
#endif

// ---------------------------------------------------------------------------
// Splines.

TEST(Splineline, DrawsItsVerticesWithThePen)
{
    const std::vector<POINT> control = {{2, 2}, {40, 3}, {45, 30}, {10, 28}};
    Surface s(50, 34);
    EXPECT_NE(Splineline(s.dc, control.data(), 4), 0);
    const auto px = s.pixels();
    const auto vertices = device_model::spline_vertices(control);
    ASSERT_EQ(vertices.size(), 22u);
    // Every vertex but the last starts a segment, and a segment's first
    // pixel is drawn.
    for (size_t i = 0; i + 1 < vertices.size(); ++i)
        EXPECT_EQ(px[vertices[i].y * 50 + vertices[i].x], 0u) << "vertex " << i;
    EXPECT_EQ(px[28 * 50 + 10], 0xFFFFFFu) << "the last vertex is not drawn";
}

TEST(Splineline, FewerThanThreePoints)
{
    Surface s(20, 20);
    const POINT two[2] = {{1, 1}, {10, 1}};
    EXPECT_NE(Splineline(s.dc, two, 2), 0);
    const auto px = s.pixels();
    for (int x = 1; x < 10; ++x)
        EXPECT_EQ(px[20 + x], 0u) << x;
    EXPECT_EQ(Splineline(s.dc, two, 1), 0);
    EXPECT_EQ(Splineline(s.dc, two, 0), 0);
    EXPECT_EQ(Splineline(s.dc, nullptr, 5), 0);
}

#ifdef _WIN32
// Into a metafile DC the spline is one Polyline record whose 16-bit
// vertices are the model's.
TEST(Splineline, MetafileRecordsTheExactVertices)
{
    const std::vector<POINT> control = {{0, 0}, {100, 0}, {100, 100}, {0, 100}, {-50, 300}};
    HDC mf = CreateMetaFileA(nullptr);
    ASSERT_NE(mf, nullptr);
    EXPECT_NE(Splineline(mf, control.data(), static_cast<int>(control.size())), 0);
    HMETAFILE h = CloseMetaFile(mf);
    ASSERT_NE(h, nullptr);
    const UINT size = GetMetaFileBitsEx(h, 0, nullptr);
    std::vector<BYTE> bytes(size);
    GetMetaFileBitsEx(h, size, bytes.data());
    DeleteMetaFile(h);
    const auto want = device_model::spline_vertices(control);
    bool found = false;
    for (size_t off = 18; off + 6 <= bytes.size();) {
        DWORD words;
        WORD function;
        std::memcpy(&words, &bytes[off], 4);
        std::memcpy(&function, &bytes[off + 4], 2);
        if (words < 3)
            break;
        if (function == META_POLYLINE) {
            found = true;
            short count;
            std::memcpy(&count, &bytes[off + 6], 2);
            ASSERT_EQ(static_cast<size_t>(count), want.size());
            for (int i = 0; i < count; ++i) {
                short xy[2];
                std::memcpy(xy, &bytes[off + 8 + 4 * i], 4);
                EXPECT_EQ(xy[0], want[i].x) << i;
                EXPECT_EQ(xy[1], want[i].y) << i;
            }
        }
        off += static_cast<size_t>(words) * 2;
    }
    EXPECT_TRUE(found);
}
#endif

// ---------------------------------------------------------------------------
// The PostScript road, into a real printer file.

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The pass-through bytes of a printer file: everything between the line that
// opens a pass-through document and the line that closes it, for each such
// block in turn.
std::string passthrough(const std::string& file)
{
    std::string out;
    size_t pos = 0;
    while ((pos = file.find("%%BeginDocument:", pos)) != std::string::npos) {
        const size_t start = file.find('\n', pos);
        if (start == std::string::npos)
            break;
        const size_t end = file.find("\n%%EndDocument", start + 1);
        if (end == std::string::npos)
            break;
        out += file.substr(start + 1, end - start - 1);
        pos = end + 1;
    }
    return out;
}

#ifdef _WIN32
std::wstring widen(const std::string& s)
{
    return std::wstring(s.begin(), s.end());
}

std::string output_path(const char* name)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    return std::string(temp) + name;
}

// A PostScript printer in this Wine prefix, made once: the generic PPD that
// Wine's PostScript driver carries, the driver with RAW data, and a printer
// with the standard print processor whose port is a file.
HDC postscript_printer()
{
    static const wchar_t* kName = L"kelm3 test PostScript";
    static bool installed = false;
    if (!installed) {
        // The driver reads its PPD from the printer driver directory.
        wchar_t dir[MAX_PATH];
        DWORD needed = 0;
        if (!GetPrinterDriverDirectoryW(nullptr, nullptr, 1, reinterpret_cast<BYTE*>(dir), sizeof dir, &needed))
            return nullptr;
        char narrow[MAX_PATH];
        WideCharToMultiByte(CP_ACP, 0, dir, -1, narrow, MAX_PATH, nullptr, nullptr);
        const std::string ppd = std::string(narrow) + "\\kelm3_generic.ppd";
        const std::string port = output_path("kelm3_port.ps");
        HMODULE spool = LoadLibraryA("winspool.drv");
        HRSRC res = spool ? FindResourceA(spool, MAKEINTRESOURCEA(1), "PPDFILE") : nullptr;
        if (!res)
            return nullptr;
        HGLOBAL data = LoadResource(spool, res);
        std::FILE* f = std::fopen(ppd.c_str(), "wb");
        if (!f)
            return nullptr;
        std::fwrite(LockResource(data), 1, SizeofResource(spool, res), f);
        std::fclose(f);
        std::wstring wppd = widen(ppd), wport = widen(port);
        DRIVER_INFO_3W driver{};
        driver.cVersion = 3;
        driver.pName = const_cast<wchar_t*>(L"kelm3 PS driver");
        driver.pDriverPath = const_cast<wchar_t*>(L"wineps.drv");
        driver.pConfigFile = const_cast<wchar_t*>(L"wineps.drv");
        driver.pDataFile = wppd.data();
        driver.pDefaultDataType = const_cast<wchar_t*>(L"RAW");
        AddPrinterDriverExW(nullptr, 3, reinterpret_cast<BYTE*>(&driver), APD_COPY_NEW_FILES);
        PRINTER_INFO_2W printer{};
        printer.pPrinterName = const_cast<wchar_t*>(kName);
        printer.pPortName = wport.data();
        printer.pDriverName = driver.pName;
        printer.pPrintProcessor = const_cast<wchar_t*>(L"winprint");
        printer.pDatatype = const_cast<wchar_t*>(L"RAW");
        HANDLE h = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&printer));
        if (h)
            ClosePrinter(h);
        installed = true;
    }
    return CreateDCW(L"WINEPS.DRV", kName, nullptr, nullptr);
}
#else
HDC postscript_printer()
{
    return CreateDCA(nullptr, KELM3_PS_PRINTER, nullptr, nullptr);
}

std::string output_path(const char* name)
{
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/" + name;
}
#endif

struct PrintCase {
    const char* name;
    int w, h;          // image size
    int xDest, yDest, dw, dh;
    int xSrc, ySrc, sw, sh;
};

class PostScriptRoad : public ::testing::TestWithParam<PrintCase> {};

// The escape stream in the printer's file is byte for byte the model's,
// between the printer's own pass-through markers.
TEST_P(PostScriptRoad, FileHoldsTheEscapeStream)
{
    const PrintCase c = GetParam();
    HDC printer = postscript_printer();
    ASSERT_NE(printer, nullptr);
    EXPECT_EQ(GetDeviceCaps(printer, TECHNOLOGY), DT_RASPRINTER);
    EXPECT_EQ(IsPostScriptDC(printer), 1);

    const auto rows = cmyk_rows(c.w, c.h, 7);
    HGLOBAL dib = cmyk_image(rows);
    const std::string path = output_path((std::string("kelm3_road_") + c.name + ".ps").c_str());
    DOCINFOA doc{};
    doc.cbSize = sizeof doc;
    doc.lpszDocName = "kelm3 test";
    doc.lpszOutput = path.c_str();
    ASSERT_GT(StartDocA(printer, &doc), 0);
    ASSERT_GT(StartPage(printer), 0);
    POINT corners[2] = {{c.xDest, c.yDest}, {c.xDest + c.dw, c.yDest + c.dh}};
    LPtoDP(printer, corners, 2);
    EXPECT_EQ(StretchDIBBlt(printer, c.xDest, c.yDest, c.dw, c.dh, dib, c.xSrc, c.ySrc, c.sw, c.sh, SRCCOPY), 1);
    EndPage(printer);
    EndDoc(printer);
    DeleteDC(printer);

    const std::string expected = device_model::joined(device_model::postscript_escapes(
        rows, corners[0].x, corners[0].y, corners[1].x, corners[1].y, c.xSrc, c.ySrc, c.sw, c.sh));
    const std::string got = passthrough(read_file(path));
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected) << "first difference at byte "
                                 << std::mismatch(got.begin(), got.end(), expected.begin(), expected.end()).first -
                                        got.begin();
    std::remove(path.c_str());
    DIBFree(dib);
}

INSTANTIATE_TEST_SUITE_P(Cases, PostScriptRoad,
                         ::testing::Values(PrintCase{"two_by_one", 2, 1, 100, 200, 200, 200, 0, 0, 2, 1},
                                           PrintCase{"seventeen", 17, 1, 10, 10, 170, 10, 0, 0, 17, 1},
                                           PrintCase{"sixteen", 4, 4, 0, 0, 40, 40, 0, 0, 4, 4},
                                           PrintCase{"empty", 4, 4, 0, 0, 40, 40, 0, 0, 0, 3},
                                           PrintCase{"part", 9, 7, 30, 40, 50, 60, 2, 1, 5, 4}));

// An ordinary image is never sent as PostScript, even to a PostScript
// printer; and displays are not PostScript devices.
TEST(IsPostScriptDC, DisplaysAreNotPostScriptPrinters)
{
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(IsPostScriptDC(screen), 0);
    HDC memory = CreateCompatibleDC(screen);
    EXPECT_EQ(IsPostScriptDC(memory), 0);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(IsPostScriptDC(nullptr), 0);
}

TEST(PostScriptRoad, OrdinaryImagesAreNotSentAsPostScript)
{
    HDC printer = postscript_printer();
    ASSERT_NE(printer, nullptr);
    const std::string path = output_path("kelm3_road_rgb.ps");
    DOCINFOA doc{};
    doc.cbSize = sizeof doc;
    doc.lpszDocName = "kelm3 test";
    doc.lpszOutput = path.c_str();
    ASSERT_GT(StartDocA(printer, &doc), 0);
    StartPage(printer);
    HGLOBAL dib = pattern_image(4, 4, 32);
    StretchDIBBlt(printer, 0, 0, 40, 40, dib, 0, 0, 4, 4, SRCCOPY);
    EndPage(printer);
    EndDoc(printer);
    DeleteDC(printer);
    const std::string file = read_file(path);
    EXPECT_EQ(file.find("DeviceCMYK"), std::string::npos);
    std::remove(path.c_str());
    DIBFree(dib);
}

}  // namespace
