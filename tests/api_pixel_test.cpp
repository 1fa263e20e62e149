// The RW pixel functions through the public interface only: bounds, clipping,
// colour words, raw values and the images they refuse. Built for Linux and for
// Win32, where it runs under Wine against the DLL.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "kelm3.h"
#include "support/dib_builder.h"

using namespace kelm_test;

namespace {

// Offset of the pixel array of a block CreateDIB made: 40-byte header and
// biClrUsed table entries.
size_t pixels_at(HGLOBAL h)
{
    const std::vector<uint8_t> b = block_bytes(h);
    return 40 + 4 * rd32(b, 32);
}

// An image opened for the length of a test.
struct Rw {
    Dib dib;
    LPTRDIB rw;
    explicit Rw(HGLOBAL h) : dib(h), rw(h ? RWOpenDIB(h) : nullptr) {}
    ~Rw()
    {
        if (rw)
            RWClose(rw);
    }
};

bool same(const Rgbq16& a, const Rgbq16& b)
{
    return a.blue == b.blue && a.green == b.green && a.red == b.red && a.reserved == b.reserved;
}

}  // namespace

TEST(ApiPixel, OutsideTheImageReadsMinusOneAndWritesNothing)
{
    Rw im(CreateDIB(6, 3, 24, 0));
    ASSERT_NE(im.rw, nullptr);
    const std::vector<uint8_t> before = block_bytes(im.dib.get());
    struct Case {
        int x, y;
    } cases[] = {{6, 0}, {0, -1}, {-1, 0}, {0, 3}, {INT_MAX, 0}, {0, INT_MIN}, {INT_MIN, INT_MAX}, {6, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "x " << c.x << " y " << c.y);
        EXPECT_EQ(RWGetPixel(im.rw, c.x, c.y), 0xFFFFFFFFu);
        RWSetPixel(im.rw, c.x, c.y, 0x00FFFFFF);
        BYTE raw[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        RWSetPixelIndex(im.rw, c.x, c.y, raw);
        RWGetPixelIndex(im.rw, c.x, c.y, raw);
        EXPECT_EQ(raw[0], 1);
        EXPECT_EQ(raw[2], 3);
        Rgbq16 v{9, 9, 9, 9};
        RWGetPixelRGB16(im.rw, c.x, c.y, &v);
        EXPECT_TRUE(same(v, Rgbq16{9, 9, 9, 9}));
        RWSetPixelRGB16(im.rw, c.x, c.y, &v);
        Rgbq16 line[4] = {{1, 1, 1, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}};
        RWSetLineRGB16(im.rw, c.x, c.y, 4, line);
        RWGetLineRGB16(im.rw, c.x, c.y, 4, line);
        EXPECT_TRUE(same(line[0], Rgbq16{1, 1, 1, 1}));
    }
    EXPECT_EQ(block_bytes(im.dib.get()), before);
}

TEST(ApiPixel, ColourWordsOfTwentyFourBitPixels)
{
    Rw im(CreateDIB(4, 2, 24, 0));
    ASSERT_NE(im.rw, nullptr);
    const size_t px = pixels_at(im.dib.get());
    {
        Locked l(im.dib.get());
        l.get()[px] = 10, l.get()[px + 1] = 20, l.get()[px + 2] = 30;
    }
    EXPECT_EQ(RWGetPixel(im.rw, 0, 0), 0x000A141Eu);

    RWSetPixel(im.rw, 1, 0, 0x000000FF);
    const std::vector<uint8_t> b = block_bytes(im.dib.get());
    EXPECT_EQ(b[px + 3], 0);
    EXPECT_EQ(b[px + 4], 0);
    EXPECT_EQ(b[px + 5], 255);
    Rgbq16 c{};
    RWGetPixelRGB16(im.rw, 1, 0, &c);
    EXPECT_TRUE(same(c, Rgbq16{0, 0, 65535, 0}));
    EXPECT_EQ(RWGetPixel(im.rw, 1, 0), 0x000000FFu);

    RWSetPixel(im.rw, 3, 1, 0x00FFFFFF);
    EXPECT_EQ(RWGetPixel(im.rw, 3, 1), 0x00FFFFFFu) << "white is a colour, not the outside marker";
}

TEST(ApiPixel, SetPixelBuildsChannelsTimes256)
{
    Rw im(CreateDIB(2, 1, 24, 2));
    ASSERT_NE(im.rw, nullptr);
    RWSetPixel(im.rw, 0, 0, 0x000000FF);
    Rgbq16 c{};
    RWGetPixelRGB16(im.rw, 0, 0, &c);
    EXPECT_TRUE(same(c, Rgbq16{0, 0, 0xFF00, 0})) << c.blue << " " << c.green << " " << c.red;
    // Stride of 2 pixels at 24 bits is 8; the second plane follows 8 bytes on.
    const std::vector<uint8_t> b = block_bytes(im.dib.get());
    const size_t px = pixels_at(im.dib.get());
    EXPECT_EQ(b[px + 2], 255) << "high byte in the first plane";
    EXPECT_EQ(b[px + 8 + 2], 0) << "low byte in the second";

    Rw full(CreateDIB(2, 1, 32, 0));
    ASSERT_NE(full.rw, nullptr);
    RWSetPixel(full.rw, 1, 0, 0xFFFFFFFF);
    const std::vector<uint8_t> f = block_bytes(full.dib.get());
    const size_t fp = pixels_at(full.dib.get());
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(f[fp + 4 + i], 255) << "byte " << i;
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(f[fp + i], 0) << "pixel 0 untouched, byte " << i;
}

TEST(ApiPixel, LinesAreClippedToTheRow)
{
    Rw im(CreateDIB(8, 2, 32, 0));
    ASSERT_NE(im.rw, nullptr);
    std::vector<Rgbq16> line(10);
    for (int i = 0; i < 10; ++i)
        line[i] = Rgbq16{static_cast<WORD>(257 * (i + 1)), 0, 0, 0};
    RWSetLineRGB16(im.rw, 6, 1, 10, line.data());

    std::vector<Rgbq16> got(10, Rgbq16{7, 7, 7, 7});
    RWGetLineRGB16(im.rw, 6, 1, 10, got.data());
    EXPECT_TRUE(same(got[0], Rgbq16{257, 0, 0, 0}));
    EXPECT_TRUE(same(got[1], Rgbq16{514, 0, 0, 0}));
    for (int i = 2; i < 10; ++i)
        EXPECT_TRUE(same(got[i], Rgbq16{7, 7, 7, 7})) << "element " << i << " is past the row";
    // Row 0 stayed black: the clipped write did not run on into it.
    std::vector<Rgbq16> row0(8, Rgbq16{7, 7, 7, 7});
    RWGetLineRGB16(im.rw, 0, 0, 8, row0.data());
    for (const Rgbq16& c : row0)
        EXPECT_TRUE(same(c, Rgbq16{0, 0, 0, 0}));

    const std::vector<uint8_t> before = block_bytes(im.dib.get());
    for (int count : {0, -1, INT_MIN}) {
        SCOPED_TRACE(count);
        RWSetLineRGB16(im.rw, 0, 0, count, line.data());
        std::vector<Rgbq16> untouched(2, Rgbq16{7, 7, 7, 7});
        RWGetLineRGB16(im.rw, 0, 0, count, untouched.data());
        EXPECT_TRUE(same(untouched[0], Rgbq16{7, 7, 7, 7}));
    }
    RWSetLineRGB16(im.rw, 7, 0, INT_MAX, line.data());  // clipped to 1
    std::vector<uint8_t> after = block_bytes(im.dib.get());
    EXPECT_EQ(after[pixels_at(im.dib.get()) + 28], 1) << "pixel 7 of row 0 took element 0";
    after[pixels_at(im.dib.get()) + 28] = 0;
    EXPECT_EQ(after, before);
}

TEST(ApiPixel, IndicesOfEightBitImages)
{
    Rw im(CreateDIB(3, 1, 8, 0));
    ASSERT_NE(im.rw, nullptr);
    BYTE seven[8] = {7, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    RWSetPixelIndex(im.rw, 1, 0, seven);
    const std::vector<uint8_t> b = block_bytes(im.dib.get());
    const size_t px = pixels_at(im.dib.get());
    EXPECT_EQ(b[px], 0);
    EXPECT_EQ(b[px + 1], 7);
    EXPECT_EQ(b[px + 2], 0);
    // Entry 7 of the default table is red 0, green 51, blue 51.
    EXPECT_EQ(RWGetPixel(im.rw, 1, 0), 0x00333300u);
    BYTE raw[8] = {0, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
    RWGetPixelIndex(im.rw, 1, 0, raw);
    EXPECT_EQ(raw[0], 7);
    // The default-table rule: pure red is cube cell 5 x 36.
    RWSetPixel(im.rw, 2, 0, 0x000000FF);
    RWGetPixelIndex(im.rw, 2, 0, raw);
    EXPECT_EQ(raw[0], 180);
}

TEST(ApiPixel, PaletteImagesTakeTheNearestEntry)
{
    BITMAPINFOHEADER bi = info_header(4, 1, 4, BI_RGB, 3);
    BlockSpec s;
    s.header = header_bytes(bi);
    s.table = {RGBQUAD{0, 0, 0, 0}, RGBQUAD{200, 10, 10, 0}, RGBQUAD{10, 200, 10, 0}};
    s.pixels.resize(4, 0);
    Rw im(make_block(s));
    ASSERT_NE(im.rw, nullptr);
    struct Case {
        DWORD colour;
        BYTE index;
    } cases[] = {{0x000000, 0}, {0xC80A0A, 1}, {0xB40000, 1}, {0x0AC80A, 2}};
    for (int x = 0; x < 4; ++x) {
        const Case& c = cases[x];
        SCOPED_TRACE(testing::Message() << std::hex << c.colour);
        RWSetPixel(im.rw, x, 0, c.colour);
        BYTE raw[8] = {};
        RWGetPixelIndex(im.rw, x, 0, raw);
        EXPECT_EQ(raw[0], c.index);
    }
    // 4 pixels share two bytes: indices 0, 1, 1, 2 packed high nibble first.
    const std::vector<uint8_t> b = block_bytes(im.dib.get());
    EXPECT_EQ(b[40 + 12], 0x01);
    EXPECT_EQ(b[40 + 12 + 1], 0x12);
}

TEST(ApiPixel, RoundTripsAtEveryDepth)
{
    struct Case {
        const char* what;
        UINT bits;
        int flags;
        DWORD written;
        DWORD read;
    } cases[] = {
        {"1 bit: light becomes white", 1, 0, 0x00C0C0C0, 0x00FFFFFF},
        {"1 bit: dark becomes black", 1, 0, 0x00404040, 0x00000000},
        {"4 bits: nearest standard colour", 4, 0, 0x00FE0101, 0x00FF0000},
        {"8 bits: default table", 8, 0, 0x00336699, 0x00336699},
        {"16 bits: five bits a channel", 16, 0, 0x00FF8001, 0x00F88000},
        {"24 bits", 24, 0, 0x00123456, 0x00123456},
        {"32 bits ignores bits 24-31 on reading", 32, 0, 0xAB123456, 0x00123456},
        {"two-plane 8 bits: weighted grey", 8, 2, 0x00FFFFFF, 0x00FFFFFF},
        {"two-plane 24 bits", 24, 2, 0x00ABCDEF, 0x00ABCDEF},
        {"two-plane 32 bits", 32, 2, 0x00ABCDEF, 0x00ABCDEF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rw im(CreateDIB(5, 3, c.bits, c.flags));
        ASSERT_NE(im.rw, nullptr);
        RWSetPixel(im.rw, 4, 2, c.written);
        EXPECT_EQ(RWGetPixel(im.rw, 4, 2), c.read);
        EXPECT_EQ(RWGetPixel(im.rw, 3, 2), 0u) << "the neighbour stays black";
        Rgbq16 v{};
        RWGetPixelRGB16(im.rw, 4, 2, &v);
        RWSetPixelRGB16(im.rw, 0, 0, &v);
        EXPECT_EQ(RWGetPixel(im.rw, 0, 0), c.read);
    }
}

TEST(ApiPixel, TopDownImagesOpenButHaveNoValidRow)
{
    Rw im(CreateDIB(4, -4, 24, 0));
    ASSERT_NE(im.rw, nullptr);
    EXPECT_EQ(RWGetPixel(im.rw, 0, 0), 0xFFFFFFFFu);
    const std::vector<uint8_t> before = block_bytes(im.dib.get());
    RWSetPixel(im.rw, 0, 0, 0x00FFFFFF);
    EXPECT_EQ(block_bytes(im.dib.get()), before);
}

TEST(ApiPixel, RefusedImages)
{
    struct Case {
        const char* what;
        BITMAPINFOHEADER bi;
        size_t pixelBytes;
    } cases[] = {
        {"RLE8", info_header(4, 4, 8, BI_RLE8, 2), 4096},
        {"2 bits", info_header(4, 4, 2, BI_RGB, 4), 4096},
        {"two-plane 16 bits", info_header(4, 4, 16, BI_RGB, 0, 2), 4096},
        {"pixels far past the block", info_header(100, 100, 24), 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BlockSpec s;
        s.header = header_bytes(c.bi);
        s.pixels.resize(c.pixelBytes, 0);
        Dib d(make_block(s));
        ASSERT_TRUE(d);
        EXPECT_EQ(RWOpenDIB(d.get()), nullptr);
        EXPECT_EQ(GlobalFlags(d.get()) & GMEM_LOCKCOUNT, 0u) << "nothing stays locked";
    }
    EXPECT_EQ(RWOpenDIB(nullptr), nullptr);
    BITMAPCOREHEADER bc{12, 4, 4, 1, 24};
    BlockSpec core;
    core.header.resize(12);
    std::memcpy(core.header.data(), &bc, 12);
    core.pixels.resize(64);
    Dib d(make_block(core));
    EXPECT_EQ(RWOpenDIB(d.get()), nullptr);
}

TEST(ApiPixel, CloseReturnsNullAndReleasesTheImage)
{
    HGLOBAL h = CreateDIB(2, 2, 8, 0);
    ASSERT_NE(h, nullptr);
    LPTRDIB rw = RWOpenDIB(h);
    ASSERT_NE(rw, nullptr);
    RWSetPixel(rw, 0, 0, 0x00123456);  // makes the nearest-colour cache on some tables
    EXPECT_EQ(RWClose(rw), nullptr);
    EXPECT_EQ(GlobalFlags(h) & GMEM_LOCKCOUNT, 0u) << "unlocked after close";
    EXPECT_EQ(DIBFree(h), nullptr);
}
