// The packed DIB model through the public interface: header queries, creation,
// copying, normalisation and CMYK conversion. Built for Linux and for Win32.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <memory>

#include "kelm3.h"
#include "support/dib_builder.h"

using namespace kelm_test;

namespace {

RGBQUAD q(BYTE b, BYTE g, BYTE r, BYTE x = 0)
{
    return RGBQUAD{b, g, r, x};
}

// The standard 16-colour table as blue, green, red.
const BYTE kStd16[16][3] = {{0, 0, 0},       {0, 0, 128},     {0, 128, 0},     {0, 128, 128},
                            {128, 0, 0},     {128, 0, 128},   {128, 128, 0},   {128, 128, 128},
                            {192, 192, 192}, {0, 0, 255},     {0, 255, 0},     {0, 255, 255},
                            {255, 0, 0},     {255, 0, 255},   {255, 255, 0},   {255, 255, 255}};

std::vector<RGBQUAD> std16_table()
{
    std::vector<RGBQUAD> t;
    for (auto& c : kStd16)
        t.push_back(q(c[0], c[1], c[2]));
    return t;
}

// The default 256-colour table, written out from its definition.
std::vector<RGBQUAD> default256_table()
{
    std::vector<RGBQUAD> t(256, q(0, 0, 0));
    for (int i = 0; i < 216; ++i)
        t[i] = q(static_cast<BYTE>((i % 6) * 51), static_cast<BYTE>((i / 6 % 6) * 51), static_cast<BYTE>((i / 36) * 51));
    for (int i = 0; i < 16; ++i)
        t[216 + i] = q(static_cast<BYTE>(16 * i), static_cast<BYTE>(16 * i), static_cast<BYTE>(16 * i));
    t[232] = q(255, 255, 255);
    for (int i = 0; i < 16; ++i)
        t[238 + i] = q(kStd16[i][0], kStd16[i][1], kStd16[i][2]);
    return t;
}

std::vector<RGBQUAD> ramp(bool up)
{
    std::vector<RGBQUAD> t;
    for (int i = 0; i < 256; ++i) {
        BYTE v = static_cast<BYTE>(up ? i : 255 - i);
        t.push_back(q(v, v, v));
    }
    return t;
}

std::vector<uint8_t> header_with_table(const BITMAPINFOHEADER& bi, const std::vector<RGBQUAD>& table)
{
    std::vector<uint8_t> v = header_bytes(bi);
    for (const RGBQUAD& e : table) {
        v.push_back(e.rgbBlue);
        v.push_back(e.rgbGreen);
        v.push_back(e.rgbRed);
        v.push_back(e.rgbReserved);
    }
    return v;
}

}  // namespace

// ---------------------------------------------------------------------------
// Colour counts and table sizes

TEST(DibQueries, ColourCountAndTableSizeOfInfoHeaders)
{
    struct Case {
        WORD bits;
        DWORD clrUsed;
        UINT count;
        UINT bytes;
    } cases[] = {
        {1, 0, 2, 8},     {4, 0, 16, 64},  {8, 0, 256, 1024}, {8, 20, 20, 80},        {24, 0, 0, 0},
        {16, 0, 0, 0},    {32, 0, 0, 0},   {2, 0, 0, 0},      {24, 3, 3, 12},         {8, 0x10005, 5, 20},
        {1, 256, 256, 1024},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "bits " << c.bits << " clrUsed " << c.clrUsed);
        BITMAPINFOHEADER bi = info_header(10, 10, c.bits, BI_RGB, c.clrUsed);
        EXPECT_EQ(DIBNumPaletteColors(&bi), c.count);
        EXPECT_EQ(DIBPaletteSize(&bi), c.bytes);
    }
}

TEST(DibQueries, CoreHeadersCountTriples)
{
    struct Case {
        WORD bits;
        UINT count;
    } cases[] = {{1, 2}, {4, 16}, {8, 256}, {24, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        BITMAPCOREHEADER bc{12, 10, 10, 1, c.bits};
        EXPECT_EQ(DIBNumPaletteColors(&bc), c.count);
        EXPECT_EQ(DIBPaletteSize(&bc), c.count * 3);
    }
}

TEST(DibQueries, PixelPtrAddressesTheByteHoldingThePixel)
{
    struct Case {
        const char* what;
        BITMAPINFOHEADER bi;
        UINT x, y;
        size_t offset;
    } cases[] = {
        {"4-bit x 3 is the byte of pixels 2 and 3", info_header(10, 4, 4), 3, 0, 40 + 64 + 1},
        {"4-bit row 2", info_header(10, 4, 4), 0, 2, 40 + 64 + 2 * 8},
        {"2-bit skips four table entries", info_header(16, 4, 2), 5, 1, 40 + 16 + 1 + 4},
        {"16-bit bit fields after the masks", info_header(3, 3, 16, BI_BITFIELDS), 2, 1, 40 + 12 + 4 + 8},
        {"8-bit with 20 colours", info_header(5, 5, 8, BI_RGB, 20), 4, 0, 40 + 80 + 4},
        {"8-bit counts all 32 bits of biClrUsed", info_header(5, 5, 8, BI_RGB, 0x10005), 0, 0, 40 + 4 * 0x10005},
        {"24-bit", info_header(5, 5, 24), 3, 2, 40 + 9 + 2 * 16},
        {"1-bit x 9 is in byte 1", info_header(20, 5, 1), 9, 0, 40 + 8 + 1},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        BYTE* base = reinterpret_cast<BYTE*>(&c.bi);
        EXPECT_EQ(static_cast<size_t>(DIBPixelPtr(&c.bi, c.x, c.y) - base), c.offset);
    }
    // A core header: 16-bit width, RGBTRIPLE entries, and nothing read past
    // its 12 bytes (the block here is exactly 12 bytes long).
    const struct {
        WORD width, bits;
        UINT x, y;
        size_t offset;
    } core[] = {
        {10, 4, 3, 1, 12 + 48 + 1 + 8},
        {5, 8, 4, 2, 12 + 768 + 4 + 2 * 8},
        {3, 24, 2, 1, 12 + 6 + 12},
    };
    for (const auto& c : core) {
        SCOPED_TRACE(c.bits);
        BITMAPCOREHEADER bc{12, c.width, 4, 1, c.bits};
        std::unique_ptr<BYTE[]> block(new BYTE[12]);
        std::memcpy(block.get(), &bc, 12);
        EXPECT_EQ(static_cast<size_t>(DIBPixelPtr(block.get(), c.x, c.y) - block.get()), c.offset);
    }
}

TEST(DibQueries, CmykIsMarkedByTheV4ColourSpace)
{
    BITMAPV4HEADER v4;
    std::memset(&v4, 0, sizeof v4);
    v4.bV4Size = 108;
    v4.bV4BitCount = 32;
    v4.bV4CSType = 2;
    EXPECT_EQ(DIBIsCmyk(&v4), 1);
    v4.bV4CSType = 1;
    EXPECT_EQ(DIBIsCmyk(&v4), 0);
    BITMAPINFOHEADER bi = info_header(1, 1, 32);
    EXPECT_EQ(DIBIsCmyk(&bi), 0);
}

// ---------------------------------------------------------------------------
// Palette types

TEST(DibQueries, PaletteTypes)
{
    std::vector<RGBQUAD> def = default256_table();
    std::vector<RGBQUAD> defOddTail = def;
    for (int i = 233; i < 256; ++i)
        defOddTail[i] = q(static_cast<BYTE>(i), 7, 9, 3);
    std::vector<RGBQUAD> almostDown = ramp(false);
    almostDown[255] = q(1, 1, 1);
    std::vector<RGBQUAD> stdReserved = std16_table();
    stdReserved[5].rgbReserved = 1;
    std::vector<RGBQUAD> defBadCube = def;
    defBadCube[100].rgbGreen ^= 1;

    struct Case {
        const char* what;
        WORD bits;
        std::vector<RGBQUAD> table;
        int type;
    } cases[] = {
        {"black/white with odd reserved bytes", 1, {q(0, 0, 0, 7), q(255, 255, 255, 9)}, 2},
        {"white/black", 1, {q(255, 255, 255), q(0, 0, 0)}, 3},
        {"almost black", 1, {q(1, 0, 0), q(255, 255, 255)}, 1},
        {"standard 16", 4, std16_table(), 4},
        {"standard 16 with a reserved byte set", 4, stdReserved, 1},
        {"descending ramp", 8, ramp(false), 5},
        {"ascending ramp", 8, ramp(true), 6},
        {"descending ramp but entry 255", 8, almostDown, 1},
        {"default table", 8, def, 7},
        {"default table, any tail", 8, defOddTail, 7},
        {"default table with a cube entry changed", 8, defBadCube, 1},
        {"two entries at 8 bits", 8, {q(0, 0, 0), q(255, 255, 255)}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BITMAPINFOHEADER bi = info_header(4, 4, c.bits, BI_RGB, static_cast<DWORD>(c.table.size()));
        std::vector<uint8_t> bytes = header_with_table(bi, c.table);
        EXPECT_EQ(DIBPaletteType(bytes.data()), c.type);
    }
    BITMAPINFOHEADER none = info_header(4, 4, 24);
    EXPECT_EQ(DIBPaletteType(&none), 0);
}

// A core header is 12 bytes: there is no compression field to read, so no
// masks, and the table follows at once. The blocks are exact, so a read past
// them is caught by the sanitizers.
TEST(DibQueries, PaletteTypeOfCoreHeaders)
{
    const struct {
        const char* what;
        std::vector<uint8_t> table;  // RGBTRIPLEs read as the 4-byte entries they overlap
        int type;
    } cases[] = {
        {"black then white", {0, 0, 0, 255, 255, 255}, 1},
        {"white then black", {255, 255, 255, 0, 0, 0}, 3},
        {"black, then white shifted by one", {0, 0, 0, 0, 255, 255, 255, 0}, 2},
        // Bytes 16-19 read as a compression field would say BI_BITFIELDS.
        {"3 where an info header has its compression", {0, 0, 0, 0, 3, 0, 0, 0}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BITMAPCOREHEADER bc{12, 4, 1, 1, 1};
        std::unique_ptr<uint8_t[]> bytes(new uint8_t[20]());
        std::memcpy(bytes.get(), &bc, 12);
        std::memcpy(bytes.get() + 12, c.table.data(), c.table.size());
        EXPECT_EQ(DIBPaletteType(bytes.get()), c.type);
    }
}

TEST(DibQueries, PaletteTypeReadsTheTableAfterTheMasks)
{
    BITMAPINFOHEADER bi = info_header(4, 4, 16, BI_BITFIELDS, 2);
    std::vector<uint8_t> bytes = header_bytes(bi);
    bytes.resize(bytes.size() + 12, 0xFF);  // masks that would look like white
    for (BYTE b : {0, 0, 0, 0, 255, 255, 255, 0})
        bytes.push_back(b);
    EXPECT_EQ(DIBPaletteType(bytes.data()), 2);
}

// ---------------------------------------------------------------------------
// DIBInfo

TEST(DibInfo, CopiesAtMostTheBufferAndTheHeader)
{
    BITMAPV4HEADER v4;
    std::memset(&v4, 0, sizeof v4);
    v4.bV4Size = 108;
    v4.bV4Width = 4;
    v4.bV4Height = 2;
    v4.bV4Planes = 1;
    v4.bV4BitCount = 32;
    v4.bV4CSType = 2;
    BlockSpec s;
    s.header.resize(108);
    std::memcpy(s.header.data(), &v4, 108);
    s.pixels.resize(32);
    Dib dib(make_block(s));
    ASSERT_TRUE(dib);

    std::array<uint8_t, 200> buf;
    buf.fill(0xAB);
    ASSERT_EQ(DIBInfo(dib.get(), buf.data(), 40), 1);
    EXPECT_EQ(buf[40], 0xAB) << "only 40 bytes may be written";
    buf.fill(0xAB);
    ASSERT_EQ(DIBInfo(dib.get(), buf.data(), 200), 1);
    EXPECT_EQ(rd32(std::vector<uint8_t>(buf.begin(), buf.end()), 56), 2u) << "the V4 fields are copied";
    EXPECT_EQ(buf[108], 0xAB) << "nothing past the header";
}

TEST(DibInfo, CompletesSizeImageAndColourCount)
{
    struct Case {
        const char* what;
        BITMAPINFOHEADER bi;
        size_t pixelBytes;
        DWORD sizeImage;
        DWORD clrUsed;
    } cases[] = {
        {"top-down, size 0", info_header(5, -10, 24), 10 * 16, 160, 0},
        {"size smaller than needed", [] { auto b = info_header(5, 10, 24); b.biSizeImage = 7; return b; }(), 160, 160, 0},
        {"size larger is kept", [] { auto b = info_header(5, 10, 24); b.biSizeImage = 500; return b; }(), 500, 500, 0},
        {"RLE keeps its stored 0", info_header(5, 10, 8, BI_RLE8), 0, 0, 256},
        {"bit fields keep a stored 0", info_header(5, 10, 16, BI_BITFIELDS), 10 * 12, 0, 0},
        {"colour count of 4 bits", info_header(5, 10, 4), 10 * 4, 40, 16},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        BlockSpec s;
        s.header = header_bytes(c.bi);
        if (c.bi.biCompression == BI_BITFIELDS)
            s.masks = {0x7C00, 0x03E0, 0x001F};
        s.table.resize(c.clrUsed);
        s.pixels.resize(c.pixelBytes);
        Dib dib(make_block(s));
        ASSERT_TRUE(dib);
        BITMAPINFOHEADER out;
        ASSERT_EQ(DIBInfo(dib.get(), &out, sizeof out), 1);
        EXPECT_EQ(out.biSizeImage, c.sizeImage);
        EXPECT_EQ(out.biClrUsed, c.clrUsed);
        EXPECT_EQ(out.biHeight, c.bi.biHeight);
        // The block itself is not changed.
        EXPECT_EQ(rd32(block_bytes(dib.get()), 20), c.bi.biSizeImage);
    }
}

TEST(DibInfo, FailsWithoutTouchingTheBuffer)
{
    Dib dib(CreateDIB(4, 4, 8, 0));
    ASSERT_TRUE(dib);
    std::array<uint8_t, 64> buf;
    buf.fill(0x5A);
    EXPECT_EQ(DIBInfo(nullptr, buf.data(), 64), 0);
    EXPECT_EQ(DIBInfo(dib.get(), buf.data(), 39), 0);
    for (uint8_t b : buf)
        ASSERT_EQ(b, 0x5A);
}

TEST(DibInfo, CoreHeaderIsCopiedAsIs)
{
    BITMAPCOREHEADER bc{12, 3, 2, 1, 8};
    BlockSpec s;
    s.header.resize(12);
    std::memcpy(s.header.data(), &bc, 12);
    s.pixels.resize(3 * 256 + 2 * 4);
    Dib dib(make_block(s));
    std::array<uint8_t, 40> buf;
    buf.fill(0x77);
    ASSERT_EQ(DIBInfo(dib.get(), buf.data(), 40), 1);
    EXPECT_EQ(std::memcmp(buf.data(), &bc, 12), 0);
    EXPECT_EQ(buf[12], 0x77);
}

// Blocks smaller than the layout their header declares are refused by every
// operation that takes a handle.
TEST(DibInfo, RefusesBlocksTooSmallForTheirLayout)
{
    struct Case {
        const char* what;
        BITMAPINFOHEADER bi;
        size_t tableEntries;
        size_t pixelBytes;
    } cases[] = {
        {"one pixel byte short", info_header(5, 10, 24), 0, 159},
        {"table short", info_header(5, 1, 8), 255, 8},
        {"two planes need twice the bytes", info_header(5, 2, 24, BI_RGB, 0, 2), 0, 32 * 2 - 1},
        {"top-down height counts", info_header(5, -3, 8, BI_RGB, 2), 2, 3 * 8 - 1},
        {"huge width", info_header(0x7FFFFFFF, 1, 32), 0, 64},
        {"RLE data shorter than stored size", [] { auto b = info_header(5, 1, 8, BI_RLE8, 2); b.biSizeImage = 100; return b; }(), 2, 99},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        BlockSpec s;
        s.header = header_bytes(c.bi);
        s.table.resize(c.tableEntries);
        s.pixels.resize(c.pixelBytes);
        Dib dib(make_block(s));
        ASSERT_TRUE(dib);
        BITMAPINFOHEADER out;
        EXPECT_EQ(DIBInfo(dib.get(), &out, sizeof out), 0);
        EXPECT_EQ(CreateCompatibleDIB(dib.get(), 2, 2), nullptr);
        std::vector<uint8_t> before = block_bytes(dib.get());
        DIBNormalize(dib.get());
        EXPECT_EQ(block_bytes(dib.get()), before);
    }
    // A header size the library does not know, and a block shorter than its header.
    BlockSpec odd;
    odd.header = header_bytes(info_header(1, 1, 8));
    odd.header[0] = 20;
    Dib dOdd(make_block(odd));
    BITMAPINFOHEADER out;
    EXPECT_EQ(DIBInfo(dOdd.get(), &out, sizeof out), 0);
    BlockSpec shortHeader;
    shortHeader.header = header_bytes(info_header(1, 1, 24));
    shortHeader.extra = -10;
    Dib dShort(make_block(shortHeader));
    EXPECT_EQ(DIBInfo(dShort.get(), &out, sizeof out), 0);
}

// ---------------------------------------------------------------------------
// CreateDIB

TEST(CreateDib, HeadersTablesAndSizes)
{
    enum Table { None, BlackWhite, Std16, Default256, Zero256 };
    struct Case {
        LONG w, h;
        UINT bits;
        int flags;
        WORD planes, bitCount;
        DWORD clrUsed, stride, sizeImage;
        Table table;
    } cases[] = {
        {100, 50, 8, 0, 1, 8, 256, 100, 5000, Default256},
        {3, 2, 1, 0, 1, 1, 2, 4, 8, BlackWhite},
        {10, 10, 24, 2, 2, 24, 0, 32, 640, None},
        {10, 10, 48, 0, 2, 24, 0, 32, 640, None},
        {10, 10, 64, 0, 2, 32, 0, 40, 800, None},
        {7, 3, 8, 2, 2, 8, 256, 8, 48, Zero256},
        {9, 2, 4, 0, 1, 4, 16, 8, 16, Std16},
        {9, 2, 16, 0, 1, 16, 0, 20, 40, None},
        {9, 2, 32, 0, 1, 32, 0, 36, 72, None},
        {9, -2, 24, 0, 1, 24, 0, 28, 56, None},
        {0, 5, 24, 0, 1, 24, 0, 0, 0, None},
    };
    const std::vector<RGBQUAD> def = default256_table();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << "x" << c.bits << " flags " << c.flags);
        Dib dib(CreateDIB(c.w, c.h, c.bits, c.flags));
        ASSERT_TRUE(dib);
        std::vector<uint8_t> b = block_bytes(dib.get());
        BITMAPINFOHEADER bi;
        std::memcpy(&bi, b.data(), 40);
        EXPECT_EQ(bi.biSize, 40u);
        EXPECT_EQ(bi.biWidth, c.w);
        EXPECT_EQ(bi.biHeight, c.h);
        EXPECT_EQ(bi.biPlanes, c.planes);
        EXPECT_EQ(bi.biBitCount, c.bitCount);
        EXPECT_EQ(bi.biCompression, static_cast<DWORD>(BI_RGB));
        EXPECT_EQ(bi.biClrUsed, c.clrUsed);
        EXPECT_EQ(bi.biClrImportant, 0u);
        EXPECT_EQ(bi.biXPelsPerMeter, 7000);
        EXPECT_EQ(bi.biYPelsPerMeter, 7000);
        EXPECT_EQ(stride_for(c.w, c.bitCount), c.stride);
        EXPECT_EQ(bi.biSizeImage, c.sizeImage);
        EXPECT_EQ(b.size(), 40 + 4 * c.clrUsed + c.sizeImage);
        const uint8_t* table = b.data() + 40;
        switch (c.table) {
        case None: break;
        case BlackWhite: EXPECT_EQ(std::memcmp(table, "\0\0\0\0\xff\xff\xff\0", 8), 0); break;
        case Std16: EXPECT_EQ(std::memcmp(table, std16_table().data(), 64), 0); break;
        case Default256: EXPECT_EQ(std::memcmp(table, def.data(), 1024), 0); break;
        case Zero256:
            for (int i = 0; i < 1024; ++i)
                ASSERT_EQ(table[i], 0) << i;
            break;
        }
        // Zero-filled pixels.
        for (size_t i = 40 + 4 * c.clrUsed; i < b.size(); ++i)
            ASSERT_EQ(b[i], 0) << i;
    }
}

TEST(CreateDib, SameHeaderForFortyEightBitsAndTwoPlaneTwentyFour)
{
    Dib a(CreateDIB(13, 7, 48, 0));
    Dib b(CreateDIB(13, 7, 24, KELM3_CREATE_TWOPLANE));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(block_bytes(a.get()), block_bytes(b.get()));
}

TEST(CreateDib, RefusesUnusableDepthsAndSizes)
{
    struct Case {
        LONG w, h;
        UINT bits;
        int flags;
    } cases[] = {
        {4, 4, 2, 0},           {4, 4, 0, 0},          {4, 4, 3, 0},           {4, 4, 40, 0},
        {4, 4, 16, 2},          {4, 4, 96, 0},         {-1, 4, 8, 0},          {100000, 100000, 32, 0},
        {0x7FFFFFFF, 1, 32, 0}, {1, INT_MIN, 8, 0},    {65536, 65536, 8, 0},   {4, 4, 0x80000008u, 2},
        // Two planes: |height| x stride x 2 passes 2^64 and once wrapped to
        // a 40-byte block, whose row-tail clearing then wrote far outside it.
        {1431655765, INT_MIN, 24, 3}, {1431655765, INT_MIN, 24, 2}, {0x40000000, INT_MIN, 32, 3},
        {1436596963, 2140097343, 48, 1}, {0, INT_MIN, 8, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << "x" << c.bits << " flags " << c.flags);
        HGLOBAL h = CreateDIB(c.w, c.h, c.bits, c.flags);
        EXPECT_EQ(h, nullptr);
        if (h)
            DIBFree(h);
    }
}

TEST(CreateDib, UninitialisedPixelsStillHaveZeroPadding)
{
    struct Case {
        LONG w;
        UINT bits;
        int flags;
        size_t rowBytes;  // bytes per row of one plane
    } cases[] = {{5, 8, 1, 8}, {3, 24, 1, 12}, {9, 4, 1, 8}, {5, 8, 3, 8}, {3, 24, 3, 12}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.bits << " flags " << c.flags);
        Dib dib(CreateDIB(c.w, 3, c.bits, c.flags));
        ASSERT_TRUE(dib);
        std::vector<uint8_t> b = block_bytes(dib.get());
        const size_t planes = (c.flags & 2) ? 2 : 1;
        const size_t pixels = b.size() - 3 * c.rowBytes * planes;
        for (size_t row = 0; row < 3 * planes; ++row)
            for (size_t i = c.rowBytes - 4; i < c.rowBytes; ++i)
                EXPECT_EQ(b[pixels + row * c.rowBytes + i], 0) << "row " << row << " byte " << i;
    }
}

// ---------------------------------------------------------------------------
// CreateCompatibleDIB

TEST(CreateCompatibleDib, KeepsTheHeaderMasksAndTable)
{
    BITMAPINFOHEADER bi = info_header(4, 2, 16, BI_BITFIELDS);
    bi.biXPelsPerMeter = 1234;
    BlockSpec s;
    s.header = header_bytes(bi);
    s.masks = {0xF800, 0x07E0, 0x001F};
    s.pixels.resize(16);
    Dib src(make_block(s));
    Dib dst(CreateCompatibleDIB(src.get(), 9, 5));
    ASSERT_TRUE(dst);
    std::vector<uint8_t> b = block_bytes(dst.get());
    ASSERT_EQ(b.size(), 40u + 12 + 5 * 20);
    EXPECT_EQ(rd32(b, 4), 9u);
    EXPECT_EQ(rd32(b, 8), 5u);
    EXPECT_EQ(rd32(b, 16), 3u);
    EXPECT_EQ(rd32(b, 20), 100u);
    EXPECT_EQ(rd32(b, 24), 1234u);
    EXPECT_EQ(rd32(b, 40), 0xF800u);
    EXPECT_EQ(rd32(b, 44), 0x07E0u);
    EXPECT_EQ(rd32(b, 48), 0x001Fu);
    for (int row = 0; row < 5; ++row)
        EXPECT_EQ(rd32(b, 52 + row * 20 + 16), 0u) << "row padding of row " << row;
}

TEST(CreateCompatibleDib, RleSourceGetsRoomForUncompressedRows)
{
    BITMAPINFOHEADER bi = info_header(6, 3, 8, BI_RLE8, 4);
    bi.biSizeImage = 4;
    BlockSpec s;
    s.header = header_bytes(bi);
    s.table = {q(1, 2, 3), q(4, 5, 6), q(7, 8, 9), q(10, 11, 12)};
    s.pixels = {0, 0, 0, 1};
    Dib src(make_block(s));
    Dib dst(CreateCompatibleDIB(src.get(), 6, 3));
    ASSERT_TRUE(dst);
    std::vector<uint8_t> b = block_bytes(dst.get());
    EXPECT_EQ(rd32(b, 16), 1u) << "compression is kept";
    EXPECT_EQ(rd32(b, 20), 24u);
    EXPECT_EQ(rd32(b, 32), 4u);
    EXPECT_EQ(b.size(), 40u + 16 + 24);
    EXPECT_EQ(std::memcmp(b.data() + 40, block_bytes(src.get()).data() + 40, 16), 0);
}

TEST(CreateCompatibleDib, RefusesWhatCannotBeMade)
{
    Dib src(CreateDIB(4, 4, 24, 0));
    EXPECT_EQ(CreateCompatibleDIB(nullptr, 4, 4), nullptr);
    EXPECT_EQ(CreateCompatibleDIB(src.get(), 4, -4), nullptr);
    EXPECT_EQ(CreateCompatibleDIB(src.get(), 0x80000000u, 1), nullptr);
    EXPECT_EQ(CreateCompatibleDIB(src.get(), 100000, 100000), nullptr);
    // Two planes of 24 bits at this size once wrapped to a small block.
    Dib twoPlane(CreateDIB(1, 1, 24, KELM3_CREATE_TWOPLANE));
    ASSERT_TRUE(twoPlane);
    EXPECT_EQ(CreateCompatibleDIB(twoPlane.get(), 1436596963, 2140097343), nullptr);
    EXPECT_EQ(CreateCompatibleDIB(twoPlane.get(), 0x55555555, 0x7FFFFFFF), nullptr);
    BITMAPCOREHEADER bc{12, 2, 2, 1, 24};
    BlockSpec core;
    core.header.resize(12);
    std::memcpy(core.header.data(), &bc, 12);
    core.pixels.resize(16);
    Dib coreDib(make_block(core));
    EXPECT_EQ(CreateCompatibleDIB(coreDib.get(), 2, 2), nullptr);
}

// ---------------------------------------------------------------------------
// CopyHandle and DIBFree

TEST(CopyHandle, CopiesAnyBlock)
{
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 5);
    ASSERT_NE(h, nullptr);
    std::memcpy(GlobalLock(h), "abcde", 5);
    GlobalUnlock(h);
    Dib copy(CopyHandle(h));
    ASSERT_TRUE(copy);
    EXPECT_NE(copy.get(), h);
    EXPECT_EQ(GlobalSize(copy.get()), 5u);
    std::vector<uint8_t> b = block_bytes(copy.get());
    EXPECT_EQ(std::memcmp(b.data(), "abcde", 5), 0);
    EXPECT_EQ(DIBFree(h), nullptr);
    EXPECT_EQ(CopyHandle(nullptr), nullptr);
    EXPECT_EQ(DIBFree(nullptr), nullptr);
}

// ---------------------------------------------------------------------------
// DIBNormalize

namespace {

// Colour of pixel x in a row of a palette image, read independently.
RGBQUAD colour_at(const std::vector<uint8_t>& b, size_t tableOff, size_t rowOff, unsigned bits, int x)
{
    unsigned index;
    if (bits == 1)
        index = (b[rowOff + x / 8] >> (7 - x % 8)) & 1;
    else if (bits == 4)
        index = (b[rowOff + x / 2] >> (x % 2 ? 0 : 4)) & 15;
    else
        index = b[rowOff + x];
    RGBQUAD c;
    std::memcpy(&c, b.data() + tableOff + 4 * index, 4);
    return c;
}

}  // namespace

TEST(DibNormalize, InvertedPairBecomesBlackWhiteWithTheSamePicture)
{
    for (WORD bits : {1, 4, 8}) {
        SCOPED_TRACE(bits);
        const LONG w = 13, h = 3;
        const uint32_t stride = stride_for(w, bits);
        BlockSpec s;
        s.header = header_bytes(info_header(w, h, bits, BI_RGB, 2));
        s.table = {q(255, 255, 255), q(0, 0, 0)};
        s.pixels.resize(stride * h);
        for (LONG y = 0; y < h; ++y)
            for (LONG x = 0; x < w; ++x) {
                const unsigned v = (x * 7 + y * 3) % 3 == 0;
                uint8_t* row = s.pixels.data() + y * stride;
                if (bits == 1)
                    row[x / 8] |= static_cast<uint8_t>(v << (7 - x % 8));
                else if (bits == 4)
                    row[x / 2] |= static_cast<uint8_t>(v << (x % 2 ? 0 : 4));
                else
                    row[x] = static_cast<uint8_t>(v);
            }
        Dib dib(make_block(s));
        std::vector<uint8_t> before = block_bytes(dib.get());
        DIBNormalize(dib.get());
        std::vector<uint8_t> after = block_bytes(dib.get());
        EXPECT_EQ(std::memcmp(after.data() + 40, "\0\0\0\0\xff\xff\xff\0", 8), 0);
        for (LONG y = 0; y < h; ++y)
            for (LONG x = 0; x < w; ++x) {
                RGBQUAD c0 = colour_at(before, 40, 48 + y * stride, bits, x);
                RGBQUAD c1 = colour_at(after, 40, 48 + y * stride, bits, x);
                ASSERT_EQ(std::memcmp(&c0, &c1, 4), 0) << "pixel " << x << "," << y;
            }
        if (bits == 1) {
            EXPECT_EQ(after[48], static_cast<uint8_t>(~before[48])) << "every bit flips";
        }
    }
}

TEST(DibNormalize, LeavesOtherImagesAlone)
{
    struct Case {
        const char* what;
        BITMAPINFOHEADER bi;
        std::vector<RGBQUAD> table;
    } cases[] = {
        {"already black/white", info_header(8, 2, 1), {q(0, 0, 0), q(255, 255, 255)}},
        {"top-down", info_header(8, -2, 1), {q(255, 255, 255), q(0, 0, 0)}},
        {"RLE", [] { auto b = info_header(8, 2, 4, BI_RLE4, 2); b.biSizeImage = 8; return b; }(), {q(255, 255, 255), q(0, 0, 0)}},
        {"24-bit", info_header(8, 2, 24), {}},
        // Depths without whole pixels per nibble or byte: nothing to swap,
        // and no row may be walked as if it were 4-bit.
        {"2-bit", info_header(64, 1, 2, BI_RGB, 2), {q(255, 255, 255), q(0, 0, 0)}},
        {"3-bit", info_header(64, 1, 3, BI_RGB, 2), {q(255, 255, 255), q(0, 0, 0)}},
        {"7-bit", info_header(64, 1, 7, BI_RGB, 2), {q(255, 255, 255), q(0, 0, 0)}},
        {"0-bit", info_header(64, 1, 0, BI_RGB, 2), {q(255, 255, 255), q(0, 0, 0)}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        BlockSpec s;
        s.header = header_bytes(c.bi);
        s.table = c.table;
        const LONG rows = c.bi.biHeight < 0 ? -c.bi.biHeight : c.bi.biHeight;
        s.pixels.assign(c.bi.biCompression == BI_RLE4 ? 8 : stride_for(c.bi.biWidth, c.bi.biBitCount) * rows, 0x35);
        Dib dib(make_block(s));
        std::vector<uint8_t> before = block_bytes(dib.get());
        DIBNormalize(dib.get());
        EXPECT_EQ(block_bytes(dib.get()), before);
    }
    DIBNormalize(nullptr);
}

// ---------------------------------------------------------------------------
// CMYK

namespace {

HGLOBAL make_cmyk(LONG w, LONG h, const std::vector<std::array<BYTE, 4>>& pixels, long extra = 0)
{
    BITMAPV4HEADER v4;
    std::memset(&v4, 0, sizeof v4);
    v4.bV4Size = 108;
    v4.bV4Width = w;
    v4.bV4Height = h;
    v4.bV4Planes = 1;
    v4.bV4BitCount = 32;
    v4.bV4CSType = 2;
    BlockSpec s;
    s.header.resize(108);
    std::memcpy(s.header.data(), &v4, 108);
    for (auto& p : pixels)
        s.pixels.insert(s.pixels.end(), p.begin(), p.end());
    s.extra = extra;
    return make_block(s);
}

}  // namespace

TEST(DibCmyk2Rgb, ConvertsInksAndClearsTheMark)
{
    struct Case {
        std::array<BYTE, 4> cmyk;
        std::array<BYTE, 4> bgr0;
    } cases[] = {
        {{0, 0, 0, 0}, {255, 255, 255, 0}},     {{0, 0, 0, 255}, {0, 0, 0, 0}},
        {{12, 200, 7, 255}, {0, 0, 0, 0}},      {{0, 0, 255, 0}, {229, 229, 85, 0}},
        {{0, 255, 0, 0}, {229, 85, 229, 0}},    {{255, 0, 0, 0}, {85, 229, 229, 0}},
        {{255, 255, 255, 0}, {68, 68, 68, 0}},  {{0, 0, 0, 128}, {127, 127, 127, 0}},
    };
    std::vector<std::array<BYTE, 4>> pixels;
    for (auto& c : cases)
        pixels.push_back(c.cmyk);
    for (LONG h : {2, -2}) {
        SCOPED_TRACE(h);
        Dib dib(make_cmyk(4, h, pixels));
        ASSERT_TRUE(dib);
        {
            Locked l(dib.get());
            ASSERT_EQ(DIBIsCmyk(l.get()), 1);
            DIBCmyk2Rgb(l.get());
            EXPECT_EQ(DIBIsCmyk(l.get()), 0);
            EXPECT_EQ(rd32(std::vector<uint8_t>(l.get(), l.get() + 108), 56), 1u);
            for (size_t i = 0; i < std::size(cases); ++i) {
                const uint8_t* p = l.get() + 108 + 4 * i;
                EXPECT_EQ(std::vector<uint8_t>(p, p + 4), std::vector<uint8_t>(cases[i].bgr0.begin(), cases[i].bgr0.end()))
                    << "pixel " << i;
            }
        }
    }
}

// The colour-space word exists only in a 108-byte header: a 40-byte one
// (whose caller vouched for CMYK anyway) gets its pixels converted and nothing
// written past its 44-byte block. An image without pixels is still marked RGB.
TEST(DibCmyk2Rgb, MarksOnlyWhatTheHeaderHolds)
{
    BlockSpec s;
    s.header = header_bytes(info_header(1, 1, 32));
    s.pixels = {0, 0, 0, 0};
    Dib small(make_block(s));
    ASSERT_EQ(GlobalSize(small.get()), 44u);
    {
        Locked l(small.get());
        DIBCmyk2Rgb(l.get());
    }
    std::vector<uint8_t> b = block_bytes(small.get());
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 40, b.end()), (std::vector<uint8_t>{255, 255, 255, 0}));
    EXPECT_EQ(std::vector<uint8_t>(b.begin(), b.begin() + 40), s.header);

    for (LONG w : {0, 3}) {
        SCOPED_TRACE(w);
        Dib empty(make_cmyk(w, w ? 0 : 5, {}));
        Locked l(empty.get());
        DIBCmyk2Rgb(l.get());
        EXPECT_EQ(DIBIsCmyk(l.get()), 0);
    }
}

TEST(DibCmyk2Rgb, BlockTooSmallForItsPixelsIsLeftAlone)
{
    Dib dib(make_cmyk(4, 2, {{1, 2, 3, 4}, {1, 2, 3, 4}, {1, 2, 3, 4}, {1, 2, 3, 4}, {1, 2, 3, 4}}));
    std::vector<uint8_t> before = block_bytes(dib.get());
    {
        Locked l(dib.get());
        DIBCmyk2Rgb(l.get());
    }
    EXPECT_EQ(block_bytes(dib.get()), before);
}
