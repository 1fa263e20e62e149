// The colour operations through the public interface only, each compared
// byte for byte with the reference model in support/colour_model.h over
// random images of every depth it accepts, plus the edge cases and refusals
// of each operation. Built for Linux and for Win32 (run under Wine), so the
// same expectations hold on both.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "kelm3.h"
#include "support/colour_model.h"
#include "support/dib_builder.h"

using namespace kelm_test;
namespace cm = colour_model;

namespace {

using Bytes = std::vector<uint8_t>;

// A random image made by CreateDIB (flags 2: two planes), every byte after
// the header random: colour table and pixels (row padding included).
HGLOBAL random_image(std::mt19937& rng, LONG w, LONG h, UINT bits, int flags = 0)
{
    HGLOBAL d = CreateDIB(w, h, bits, flags);
    if (!d)
        return nullptr;
    const SIZE_T n = GlobalSize(d);
    uint8_t* p = static_cast<uint8_t*>(GlobalLock(d));
    for (SIZE_T i = 40; i < n; ++i)
        p[i] = static_cast<uint8_t>(rng());
    GlobalUnlock(d);
    return d;
}

// A random image as a block spec: 108-byte CMYK header, or 16-bit bit fields.
HGLOBAL random_block(std::mt19937& rng, LONG w, LONG h, WORD bits, bool cmyk, bool bitfields, int extra = 0)
{
    BITMAPINFOHEADER bi = info_header(w, h, bits, bitfields ? BI_BITFIELDS : BI_RGB);
    BlockSpec s;
    s.header = header_bytes(bi);
    if (cmyk) {
        s.header.resize(108, 0);
        s.header[0] = 108;
        s.header[56] = KELM3_CS_CMYK;
    }
    if (bitfields)
        s.masks = bits == 32 ? std::vector<uint32_t>{0xFF0000, 0xFF00, 0xFF} : std::vector<uint32_t>{0x7C00, 0x03E0, 0x001F};
    s.pixels.resize(stride_for(w, bits) * static_cast<size_t>(h < 0 ? -h : h));
    for (uint8_t& b : s.pixels)
        b = static_cast<uint8_t>(rng());
    s.extra = extra;
    return make_block(s);
}

// The first `expected.size()` bytes of the block equal `expected`, and the
// block holds no fewer.
::testing::AssertionResult holds_bytes(HGLOBAL h, const Bytes& expected)
{
    if (!h)
        return ::testing::AssertionFailure() << "null handle";
    const Bytes got = block_bytes(h);
    if (got.size() < expected.size())
        return ::testing::AssertionFailure() << "block of " << got.size() << " bytes, expected " << expected.size();
    for (size_t i = 0; i < expected.size(); ++i)
        if (got[i] != expected[i])
            return ::testing::AssertionFailure() << "byte " << i << ": " << int(got[i]) << ", expected " << int(expected[i]);
    return ::testing::AssertionSuccess();
}

struct Source {
    const char* name;
    UINT bits;
    int flags;
    bool cmyk, bitfields;
};

// Every layout the library processes.
const Source kAllSources[] = {
    {"1", 1, 0, false, false},      {"4", 4, 0, false, false},          {"8", 8, 0, false, false},
    {"16", 16, 0, false, false},    {"16 bit fields", 16, 0, false, true}, {"24", 24, 0, false, false},
    {"32", 32, 0, false, false},    {"32 bit fields", 32, 0, false, true}, {"32 CMYK", 32, 0, true, false},    {"two-plane 8", 8, 2, false, false},
    {"two-plane 24", 24, 2, false, false}, {"two-plane 32", 32, 2, false, false},
};

HGLOBAL make_source(std::mt19937& rng, const Source& s, LONG w, LONG h)
{
    if (s.cmyk || s.bitfields)
        return random_block(rng, w, h, static_cast<WORD>(s.bits), s.cmyk, s.bitfields);
    return random_image(rng, w, h, s.bits, s.flags);
}

}  // namespace

// ---------------------------------------------------------------------------
// ConvertDIB

TEST(ConvertDib, ExpandsInPlaceToThirtyTwoBitsAsTheModel)
{
    std::mt19937 rng(11);
    for (UINT bits : {1u, 4u, 8u, 16u, 24u})
        for (int round = 0; round < 6; ++round) {
            const LONG w = 1 + static_cast<LONG>(rng() % 37), h = 1 + static_cast<LONG>(rng() % 9);
            SCOPED_TRACE(testing::Message() << bits << " bits, " << w << " x " << h);
            HGLOBAL d = random_image(rng, w, h, bits);
            ASSERT_NE(d, nullptr);
            if (bits <= 8 && round % 2) {
                // A shorter table than the depth allows: higher indices read black.
                Locked l(d);
                l.bih()->biClrUsed = 1 + rng() % 3;
            }
            const Bytes src = block_bytes(d);
            const Bytes expected = cm::expand32(src);
            HGLOBAL h2 = d;
            ASSERT_TRUE(ConvertDIB(&h2, 32, 0));
            Dib out(h2);
            EXPECT_TRUE(holds_bytes(h2, expected));
            EXPECT_EQ(GlobalSize(h2), expected.size()) << "the block is trimmed to the 32-bit size";
        }
}

TEST(ConvertDib, GeneralRoadCopiesLinesThroughTheAccessor)
{
    std::mt19937 rng(12);
    for (const Source& s : kAllSources)
        for (int target : {1, 4, 8, 16, 24, 32, 48, 64}) {
            const LONG w = 1 + static_cast<LONG>(rng() % 23), h = 1 + static_cast<LONG>(rng() % 5);
            SCOPED_TRACE(testing::Message() << s.name << " to " << target << ", " << w << " x " << h);
            HGLOBAL d = make_source(rng, s, w, h);
            ASSERT_NE(d, nullptr);
            // What the rule says: a new image of the depth, every line
            // read and written through the public line functions.
            Dib model(CreateDIB(w, h, static_cast<UINT>(target), 0));
            ASSERT_TRUE(model);
            {
                LPTRDIB in = RWOpenDIB(d), out = RWOpenDIB(model.get());
                ASSERT_TRUE(in && out);
                std::vector<Rgbq16> line(static_cast<size_t>(w));
                for (int y = 0; y < h; ++y) {
                    RWGetLineRGB16(in, 0, y, w, line.data());
                    RWSetLineRGB16(out, 0, y, w, line.data());
                }
                RWClose(in);
                RWClose(out);
            }
            Bytes expected = block_bytes(model.get());
            const Bytes src = block_bytes(d);
            std::copy(src.begin() + 24, src.begin() + 32, expected.begin() + 24);  // resolution carried over
            const bool inPlace = target == 32 && !s.cmyk && !s.bitfields && s.flags == 0 && s.bits != 32;
            HGLOBAL h2 = d;
            ASSERT_TRUE(ConvertDIB(&h2, target, 0));
            Dib out(h2);
            if (inPlace)
                EXPECT_TRUE(holds_bytes(h2, cm::expand32(src)));
            else if (!(target == 32 && s.bits == 32 && s.flags == 0))
                EXPECT_TRUE(holds_bytes(h2, expected));
            else
                EXPECT_TRUE(holds_bytes(h2, src)) << "32 to 32 changes nothing";
        }
}

TEST(ConvertDib, RoadsAndRefusals)
{
    std::mt19937 rng(13);
    {
        // A 16-bit image with a colour table takes the general road: a new block.
        HGLOBAL d = random_image(rng, 5, 3, 16);
        BlockSpec s;
        BITMAPINFOHEADER bi = info_header(5, 3, 16, BI_RGB, 2);
        s.header = header_bytes(bi);
        s.table = {RGBQUAD{1, 2, 3, 0}, RGBQUAD{4, 5, 6, 0}};
        s.pixels.assign(stride_for(5, 16) * 3, 0x42);
        DIBFree(d);
        d = make_block(s);
        HGLOBAL h2 = d;
        ASSERT_TRUE(ConvertDIB(&h2, 32, 0));
        Dib out(h2);
        EXPECT_NE(h2, d);
        EXPECT_EQ(GlobalSize(h2), 40u + 5 * 3 * 4);
        EXPECT_EQ(RWGetPixel(nullptr, 0, 0), 0xFFFFFFFFu);
    }
    {
        // Top-down rows are converted in memory order, like the same bytes bottom-up.
        HGLOBAL up = random_image(rng, 7, 4, 24);
        Bytes b = block_bytes(up);
        cm::put32(b, 8, static_cast<uint32_t>(-4));
        BlockSpec s;
        s.header = b;
        HGLOBAL down = make_block(s);
        HGLOBAL u = up, dn = down;
        ASSERT_TRUE(ConvertDIB(&u, 8, 0));
        ASSERT_TRUE(ConvertDIB(&dn, 8, 0));
        Dib a(u), c(dn);
        Bytes x = block_bytes(u), y = block_bytes(dn);
        ASSERT_EQ(x.size(), y.size());
        EXPECT_EQ(cm::s32(y, 8), -4);
        cm::put32(y, 8, 4);
        EXPECT_EQ(x, y);
    }
    {
        // A 1 x 1 one-bit image is expanded in place and trimmed to 44 bytes.
        HGLOBAL d = CreateDIB(1, 1, 1, 0);
        HGLOBAL h2 = d;
        ASSERT_TRUE(ConvertDIB(&h2, 32, 0));
        Dib out(h2);
        EXPECT_EQ(GlobalSize(h2), 44u);
    }
    // Refusals leave the caller's handle as it was.
    HGLOBAL rle = nullptr;
    {
        BlockSpec s;
        s.header = header_bytes(info_header(4, 2, 8, BI_RLE8));
        cm::put32(s.header, 20, 4);
        s.table.assign(256, RGBQUAD{});
        s.pixels = {0, 1, 0, 1};
        rle = make_block(s);
    }
    Dib keep(rle);
    const Bytes before = block_bytes(rle);
    for (int bits : {32, 8, 24}) {
        HGLOBAL h2 = rle;
        EXPECT_FALSE(ConvertDIB(&h2, bits, 0));
        EXPECT_EQ(h2, rle);
    }
    EXPECT_EQ(block_bytes(rle), before);
    HGLOBAL img = CreateDIB(3, 3, 24, 0);
    Dib keep2(img);
    for (int bits : {0, 2, 7, 33, 40, -1}) {
        HGLOBAL h2 = img;
        EXPECT_FALSE(ConvertDIB(&h2, bits, 0)) << bits;
        EXPECT_EQ(h2, img);
    }
    HGLOBAL none = nullptr;
    EXPECT_FALSE(ConvertDIB(&none, 24, 0));
    EXPECT_FALSE(ConvertDIB(nullptr, 24, 0));
}

// ---------------------------------------------------------------------------
// DIBSelectColors

TEST(SelectColors, MedianCutAsTheModel)
{
    std::mt19937 rng(21);
    for (const Source& s : kAllSources)
        for (int n : {1, 2, 3, 7, 64, 255, 256}) {
            const LONG w = 1 + static_cast<LONG>(rng() % 40), h = 1 + static_cast<LONG>(rng() % 12);
            SCOPED_TRACE(testing::Message() << s.name << ", " << n << " colours, " << w << " x " << h);
            HGLOBAL d = make_source(rng, s, w, h);
            Dib keep(d);
            const Bytes before = block_bytes(d);
            Dib r(DIBSelectColors(d, n));
            ASSERT_TRUE(r);
            EXPECT_EQ(block_bytes(d), before) << "the source is not changed";
            const Bytes got = block_bytes(r.get());
            ASSERT_GE(got.size(), 40u + 1024);
            EXPECT_EQ(cm::s32(got, 4), 1);
            EXPECT_EQ(cm::u16(got, 14), 8);
            EXPECT_EQ(cm::u32(got, 32), static_cast<uint32_t>(n));
            EXPECT_EQ(cm::u32(got, 36), static_cast<uint32_t>(n));
            const Bytes expected = cm::select_colours(cm::histogram(d), n);
            EXPECT_EQ(Bytes(got.begin() + 40, got.begin() + 40 + 1024), expected);
        }
}

TEST(SelectColors, EdgeCases)
{
    auto uniform = [](const std::vector<uint32_t>& colours, LONG w) {
        HGLOBAL d = CreateDIB(w, 1, 32, 0);
        uint8_t* p = static_cast<uint8_t*>(GlobalLock(d));
        for (LONG x = 0; x < w; ++x)
            std::memcpy(p + 40 + 4 * x, &colours[static_cast<size_t>(x) % colours.size()], 4);
        GlobalUnlock(d);
        return d;
    };
    struct Case {
        std::vector<uint32_t> colours;  // 0x00RRGGBB as stored
        int n;
        std::vector<uint32_t> expected; // entries, 0x00RRGGBB
    } cases[] = {
        {{0x00FFFFFF}, 4, {0x00FEFEFE, 0, 0, 0}},             // 255 comes back as 254
        {{0x00102030}, 8, {0x00122232, 0}},                   // one colour, one entry
        {{0x00000000, 0x00FCFCFC}, 2, {0x00020202, 0x00FEFEFE}},
        {{0x00000000, 0x00FCFCFC}, 1, {0x00808080}},          // mean of the cell centres
    };
    for (const Case& c : cases) {
        Dib d(uniform(c.colours, 8));
        Dib r(DIBSelectColors(d.get(), c.n));
        ASSERT_TRUE(r);
        const Bytes got = block_bytes(r.get());
        for (size_t i = 0; i < c.expected.size(); ++i)
            EXPECT_EQ(cm::u32(got, 40 + 4 * i), c.expected[i]) << "entry " << i;
        EXPECT_EQ(cm::u32(got, 32), static_cast<uint32_t>(c.n));
    }
    Dib d(CreateDIB(2, 2, 24, 0));
    EXPECT_EQ(DIBSelectColors(d.get(), 0), nullptr);
    EXPECT_EQ(DIBSelectColors(d.get(), 257), nullptr);
    EXPECT_EQ(DIBSelectColors(nullptr, 16), nullptr);
}

// ---------------------------------------------------------------------------
// Dithering

TEST(Dither, EveryAcceptedDepthAsTheModel)
{
    std::mt19937 rng(31);
    uint8_t curve[256];
    for (int i = 0; i < 256; ++i)
        curve[i] = static_cast<uint8_t>(255 - i / 2);
    for (const Source& s : kAllSources) {
        if (s.flags)
            continue;
        for (int round = 0; round < 3; ++round) {
            const LONG w = 1 + static_cast<LONG>(rng() % 45), h = 1 + static_cast<LONG>(rng() % 9);
            SCOPED_TRACE(testing::Message() << s.name << ", " << w << " x " << h);
            HGLOBAL d = make_source(rng, s, w, h);
            Dib keep(d);
            const Bytes src = block_bytes(d);
            Locked l(d);
            const bool to1 = s.bits != 1, to4 = s.bits >= 8 && !s.cmyk, to8 = s.bits >= 16;
            Dib r1(DitherTo1(l.get(), round == 1 ? curve : nullptr));
            EXPECT_EQ(bool(r1), to1);
            if (r1) {
                EXPECT_TRUE(holds_bytes(r1.get(), cm::dither1(src, round == 1 ? curve : nullptr)));
            }
            Dib r4(DitherTo4(l.get()));
            EXPECT_EQ(bool(r4), to4);
            if (r4) {
                EXPECT_TRUE(holds_bytes(r4.get(), cm::dither4(src)));
            }
            if (!to8) {
                EXPECT_EQ(DitherTo8(l.get(), 6, 0, nullptr), nullptr);
                continue;
            }
            struct Mode {
                int levels, popular;
            } modes[] = {{2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0}, {0, 1}, {0, 16}, {0, 241}, {0, 255}, {3, 40}, {6, 24}, {6, 40}};
            for (const Mode& m : modes) {
                SCOPED_TRACE(testing::Message() << "levels " << m.levels << ", popular " << m.popular);
                const Bytes expected = cm::dither8(src, m.levels, m.popular, nullptr);
                Dib r8(DitherTo8(l.get(), m.levels, m.popular, nullptr));
                ASSERT_EQ(bool(r8), !expected.empty());
                if (r8) {
                    EXPECT_TRUE(holds_bytes(r8.get(), expected));
                }
            }
            // With a chosen palette: biClrImportant 1..255, 0 and 256 (255 searched).
            Dib pal(DIBSelectColors(d, 1 + static_cast<int>(rng() % 256)));
            for (uint32_t important : {0u, 7u, 255u, 256u, static_cast<uint32_t>(rng() % 256)}) {
                {
                    Locked lp(pal.get());
                    lp.bih()->biClrImportant = important;
                }
                Locked lp(pal.get());
                const Bytes pb = block_bytes(pal.get());
                Dib r8(DitherTo8(l.get(), 0, 0, lp.get()));
                ASSERT_TRUE(r8);
                EXPECT_TRUE(holds_bytes(r8.get(), cm::dither8(src, 0, 0, &pb))) << "important " << important;
            }
        }
    }
}

TEST(Dither, UniformImagesOfPaletteColoursAreExact)
{
    struct Case {
        uint32_t colour;  // stored bytes B, G, R as 0x00RRGGBB
        int index4;       // DitherTo4 index
        int bit;          // DitherTo1 bit
    } cases[] = {{0x000000, 0, 0}, {0xFFFFFF, 15, 1}, {0xFF0000, 9, 0}, {0x0000FF, 12, 0}, {0x808080, 8, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.colour);
        Dib d(CreateDIB(13, 5, 24, 0));
        {
            Locked l(d.get());
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 13; ++x)
                    std::memcpy(l.get() + 40 + y * 40 + 3 * x, &c.colour, 3);
        }
        Locked l(d.get());
        Dib r4(DitherTo4(l.get()));
        ASSERT_TRUE(r4);
        {
            Locked q(r4.get());
            // A grey of 128 maps to index 8 (192) first and then dithers; the
            // others are exact.
            if (c.colour != 0x808080)
                for (int y = 0; y < 5; ++y)
                    for (int x = 0; x < 13; ++x)
                        EXPECT_EQ((q.get()[104 + y * 8 + x / 2] >> (x % 2 ? 0 : 4)) & 15, c.index4);
            else
                EXPECT_EQ(q.get()[104] >> 4, 8);
        }
        if (c.colour == 0 || c.colour == 0xFFFFFF) {
            Dib r1(DitherTo1(l.get(), nullptr));
            Locked q(r1.get());
            for (int y = 0; y < 5; ++y)
                EXPECT_EQ(q.get()[48 + y * 4] | (q.get()[49 + y * 4] & 0xF8) << 8, c.bit ? 0xF8FF : 0);
        }
        // Cube colours of a 6-level cube come back as themselves.
        if (c.colour != 0x808080) {
            Dib r8(DitherTo8(l.get(), 6, 0, nullptr));
            Locked q(r8.get());
            EXPECT_EQ(cm::u32(block_bytes(r8.get()), 36), 233u);
            const uint8_t first = q.get()[1064];
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 13; ++x)
                    EXPECT_EQ(q.get()[1064 + y * 16 + x], first);
            const uint8_t* e = q.get() + 40 + 4 * first;
            EXPECT_EQ(uint32_t(e[0] | e[1] << 8 | e[2] << 16), c.colour);
        }
    }
    // DitherTo1 with a map sending everything to 0 is black whatever the image.
    std::mt19937 rng(32);
    Dib d(random_image(rng, 20, 6, 24));
    uint8_t zero[256] = {};
    Locked l(d.get());
    Dib r1(DitherTo1(l.get(), zero));
    const Bytes b = block_bytes(r1.get());
    for (size_t i = 48; i < b.size(); ++i)
        EXPECT_EQ(b[i], 0) << i;
}

TEST(Dither, PaletteSizesInUse)
{
    Dib d(CreateDIB(9, 9, 24, 0));
    Locked l(d.get());
    struct Case {
        int levels, popular;
        uint32_t inUse;
    } cases[] = {{6, 0, 233}, {2, 0, 25}, {0, 16, 32}, {0, 240, 256}, {0, 241, 241}, {6, 24, 240 + 16}, {6, 40, 256}};
    for (const Case& c : cases) {
        Dib r(DitherTo8(l.get(), c.levels, c.popular, nullptr));
        ASSERT_TRUE(r) << c.levels << " " << c.popular;
        EXPECT_EQ(cm::u32(block_bytes(r.get()), 36), c.inUse) << c.levels << " " << c.popular;
    }
    // No palette, levels of 1 or 7, too many entries, a palette image of 24 bits.
    for (auto [lv, pop] : {std::pair{0, 0}, {1, 0}, {7, 0}, {-1, 4}, {0, 256}, {0, -1}, {6, 41}})
        EXPECT_EQ(DitherTo8(l.get(), lv, pop, nullptr), nullptr) << lv << " " << pop;
    Dib p24(CreateDIB(1, 1, 24, 0));
    Locked lp(p24.get());
    EXPECT_EQ(DitherTo8(l.get(), 6, 0, lp.get()), nullptr);
}

TEST(Dither, RefusedSources)
{
    std::mt19937 rng(33);
    // Top-down, zero-sized, RLE, a 108-byte header for DitherTo4, and a header
    // whose pixels do not fit its block.
    struct Case {
        const char* name;
        LONG w, h;
        WORD bits;
        DWORD compression;
        int extra;
        bool v4;
    } cases[] = {{"top-down", 4, -3, 24, BI_RGB, 0, false}, {"zero width", 0, 3, 24, BI_RGB, 0, false},
                 {"zero height", 4, 0, 24, BI_RGB, 0, false}, {"RLE8", 4, 3, 8, BI_RLE8, 0, false},
                 {"short block", 40, 30, 24, BI_RGB, -1, false}, {"short block 32", 3, 3, 32, BI_RGB, -4, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BITMAPINFOHEADER bi = info_header(c.w, c.h, c.bits, c.compression);
        BlockSpec s;
        s.header = header_bytes(bi);
        if (c.bits <= 8)
            s.table.assign(256, RGBQUAD{});
        s.pixels.resize(stride_for(c.w, c.bits) * static_cast<size_t>(c.h < 0 ? -c.h : c.h));
        s.extra = c.extra;
        if (c.compression == BI_RLE8) {
            s.pixels = {0, 1};
            cm::put32(s.header, 20, 2);
        }
        Dib d(make_block(s));
        Locked l(d.get());
        EXPECT_EQ(DitherTo1(l.get(), nullptr), nullptr);
        EXPECT_EQ(DitherTo4(l.get()), nullptr);
        EXPECT_EQ(DitherTo8(l.get(), 6, 0, nullptr), nullptr);
    }
    Dib v4(random_block(rng, 5, 5, 24, true, false));
    Locked l(v4.get());
    EXPECT_EQ(DitherTo4(l.get()), nullptr);
    EXPECT_NE(Dib(DitherTo1(l.get(), nullptr)).get(), nullptr);
    EXPECT_EQ(DitherTo1(nullptr, nullptr), nullptr);
    EXPECT_EQ(DitherTo4(nullptr), nullptr);
    EXPECT_EQ(DitherTo8(nullptr, 6, 0, nullptr), nullptr);
}

// Errors diffuse: over a wide image of one grey, the share of white pixels
// matches the grey level closely (no error is lost or invented).
TEST(Dither, FloydSteinbergKeepsTheMeanGrey)
{
    for (int grey : {1, 37, 64, 128, 200, 254}) {
        Dib d(CreateDIB(256, 64, 8, 0));
        {
            Locked l(d.get());
            for (int i = 0; i < 256; ++i)
                std::memset(l.get() + 40 + 4 * i, grey, 3);
        }
        Locked l(d.get());
        Dib r(DitherTo1(l.get(), nullptr));
        const Bytes b = block_bytes(r.get());
        int ones = 0;
        for (size_t i = 48; i < b.size(); ++i)
            for (int k = 0; k < 8; ++k)
                ones += (b[i] >> k) & 1;
        EXPECT_NEAR(ones / (256.0 * 64), grey / 255.0, 0.01) << grey;
    }
}

// ---------------------------------------------------------------------------
// GrayDIB

TEST(GrayDib, TrueColourGivesANewGreyImage)
{
    std::mt19937 rng(41);
    // Widths up to 70 take the row reader's 16-pixel steps and their remainders.
    for (int round = 0; round < 12; ++round) {
        for (const Source& s : kAllSources) {
            if (s.bits < 24)
                continue;
            const LONG w = 1 + static_cast<LONG>(rng() % 70), h = 1 + static_cast<LONG>(rng() % 7);
            SCOPED_TRACE(testing::Message() << s.name << ", " << w << " x " << h);
            HGLOBAL d = make_source(rng, s, w, h);
            if (s.cmyk) {
                // CMYK is converted to RGB first: the model greys the RGB image.
                HGLOBAL copy = CopyHandle(d);
                Locked l(copy);
                DIBCmyk2Rgb(l.get());
                const Bytes rgb = block_bytes(copy);
                DIBFree(copy);
                Dib r(GrayDIB(d));
                EXPECT_TRUE(holds_bytes(r.get(), cm::grey(rgb)));
                continue;
            }
            const Bytes src = block_bytes(d);
            if (s.bitfields) {
                // Only BI_RGB images are greyed; the refused one is untouched.
                EXPECT_EQ(GrayDIB(d), nullptr);
                EXPECT_EQ(block_bytes(d), src);
                DIBFree(d);
                continue;
            }
            Dib r(GrayDIB(d));
            ASSERT_TRUE(r);
            EXPECT_TRUE(holds_bytes(r.get(), cm::grey(src)));
        }
    }
}

TEST(GrayDib, IndexedImagesGetAGreyTableInPlace)
{
    std::mt19937 rng(42);
    for (UINT bits : {1u, 4u, 8u}) {
        Dib d(random_image(rng, 9, 4, bits));
        Bytes expected = block_bytes(d.get());
        const uint32_t n = 1u << bits;
        for (uint32_t i = 0; i < n; ++i) {
            uint8_t* e = &expected[40 + 4 * i];
            e[0] = e[1] = e[2] = static_cast<uint8_t>((77 * e[2] + 151 * e[1] + 28 * e[0]) >> 8);
        }
        EXPECT_EQ(GrayDIB(d.get()), d.get());
        EXPECT_EQ(block_bytes(d.get()), expected);
    }
    Dib d16(random_image(rng, 9, 4, 16));
    const Bytes before = block_bytes(d16.get());
    EXPECT_EQ(GrayDIB(d16.get()), d16.get());
    EXPECT_EQ(block_bytes(d16.get()), before);
    BlockSpec s;
    s.header = header_bytes(info_header(4, 2, 8, BI_RLE8));
    cm::put32(s.header, 20, 2);
    s.table.assign(256, RGBQUAD{});
    s.pixels = {0, 1};
    Dib rle(make_block(s));
    EXPECT_EQ(GrayDIB(rle.get()), nullptr);
    EXPECT_EQ(GrayDIB(nullptr), nullptr);
}

// ---------------------------------------------------------------------------
// ScaleToGray

TEST(ScaleToGray, AllThreePathsAsTheModel)
{
    std::mt19937 rng(51);
    int paths[4] = {};
    // The later rounds are wide enough for the word-at-a-time box counts;
    // the last four have boxes over 255 rows high (no byte-wide column counts).
    for (int round = 0; round < 76; ++round) {
        const LONG w = 2 + static_cast<LONG>(rng() % (round < 60 ? 60 : 400)),
                   h = round < 72 ? 2 + static_cast<LONG>(rng() % 40) : 520 + static_cast<LONG>(rng() % 40);
        const UINT bits = round % 5 == 4 ? (round % 2 ? 24u : 8u) : 1u;
        HGLOBAL d = random_image(rng, w, h, bits);
        Dib keep(d);
        if (bits == 1 && round % 3 == 0) {
            // Table white, black: the 1-bit paths count set bits as dark.
            Locked l(d);
            const uint8_t wb[8] = {255, 255, 255, 0, 0, 0, 0, 0};
            std::memcpy(l.get() + 40, wb, 8);
        }
        RECT rc{0, h - 1, w - 1, 0};
        if (round % 2) {
            rc.left = static_cast<LONG>(rng() % w);
            rc.right = rc.left + static_cast<LONG>(rng() % (w - rc.left));
            rc.bottom = static_cast<LONG>(rng() % h);
            rc.top = rc.bottom + static_cast<LONG>(rng() % (h - rc.bottom));
        }
        const int rw = rc.right - rc.left + 1, rh = rc.top - rc.bottom + 1;
        int cx, cy;
        switch (round % 4) {
        case 0: cx = rw / 2; cy = rh / 2; break;                   // 2:1
        case 1: cx = 1 + static_cast<int>(rng() % rw); cy = 1 + static_cast<int>(rng() % rh); break;
        case 2: cx = rw + 1 + static_cast<int>(rng() % 5); cy = 1 + static_cast<int>(rng() % rh); break;  // enlarging
        default: cx = 1; cy = 1; break;
        }
        if (round >= 72 && bits == 1) {
            cx = 1 + static_cast<int>(rng() % rw);
            cy = 1 + static_cast<int>(rng() % 2);
        }
        if (cx < 1 || cy < 1)
            continue;
        SCOPED_TRACE(testing::Message() << bits << " bits " << w << " x " << h << " rect " << rc.left << "," << rc.bottom
                                        << ".." << rc.right << "," << rc.top << " to " << cx << " x " << cy);
        const cm::Scaled m = cm::scale_to_grey(d, block_bytes(d), cx, cy, rc);
        ++paths[m.path];
        Dib r(ScaleToGray(d, cx, cy, round % 2 ? &rc : nullptr, 0));
        ASSERT_TRUE(r);
        const Bytes got = block_bytes(r.get());
        EXPECT_EQ(cm::s32(got, 4), cx);
        EXPECT_EQ(cm::s32(got, 8), cy);
        if (bits == 1) {
            EXPECT_EQ(cm::u16(got, 14), 8);
            EXPECT_EQ(cm::u32(got, 36), 65u);
            EXPECT_EQ(Bytes(got.begin() + 40, got.begin() + 40 + 65 * 4), m.table);
            EXPECT_EQ(Bytes(got.begin() + 1064, got.begin() + 1064 + m.pixels.size()), m.pixels);
        } else {
            EXPECT_EQ(cm::u16(got, 14), 24);
            EXPECT_EQ(Bytes(got.begin() + 40, got.begin() + 40 + m.pixels.size()), m.pixels);
        }
    }
    EXPECT_GT(paths[1], 3);
    EXPECT_GT(paths[2], 3);
    EXPECT_GT(paths[3], 3);
}

TEST(ScaleToGray, EdgeCases)
{
    auto mono = [](LONG w, LONG h, bool whiteFirst, uint8_t fill) {
        HGLOBAL d = CreateDIB(w, h, 1, 0);
        Locked l(d);
        if (whiteFirst) {
            const uint8_t wb[8] = {255, 255, 255, 0, 0, 0, 0, 0};
            std::memcpy(l.get() + 40, wb, 8);
        }
        std::memset(l.get() + 48, fill, GlobalSize(d) - 48);
        return d;
    };
    struct Case {
        LONG w, h;
        bool whiteFirst;
        uint8_t fill;
        int cx, cy;
        uint8_t value;
    } cases[] = {
        {8, 8, false, 0xFF, 4, 4, 63}, {8, 8, false, 0x00, 4, 4, 0}, {8, 8, true, 0x00, 4, 4, 64},
        {8, 8, true, 0xFF, 4, 4, 1},   {9, 9, false, 0xFF, 4, 4, 63}, {10, 10, false, 0xFF, 3, 3, 64},
    };
    for (const Case& c : cases) {
        Dib d(mono(c.w, c.h, c.whiteFirst, c.fill));
        Dib r(ScaleToGray(d.get(), c.cx, c.cy, nullptr, 0));
        ASSERT_TRUE(r);
        const Bytes b = block_bytes(r.get());
        EXPECT_EQ(b[1064], c.value) << c.w << " to " << c.cx;
    }
    Dib d(CreateDIB(10, 10, 24, 0));
    const RECT outside{0, 10, 9, 0}, inverted{5, 0, 4, 9}, negative{-1, 9, 9, 0};
    EXPECT_EQ(ScaleToGray(d.get(), 2, 2, &outside, 0), nullptr);
    EXPECT_EQ(ScaleToGray(d.get(), 2, 2, &inverted, 0), nullptr);
    EXPECT_EQ(ScaleToGray(d.get(), 2, 2, &negative, 0), nullptr);
    EXPECT_EQ(ScaleToGray(d.get(), 0, 2, nullptr, 0), nullptr);
    EXPECT_EQ(ScaleToGray(d.get(), 2, -1, nullptr, 0), nullptr);
    EXPECT_EQ(ScaleToGray(nullptr, 2, 2, nullptr, 0), nullptr);
}

// ---------------------------------------------------------------------------
// Gamma

namespace {

// GammaCorrectionGetArray as computed on Linux (x86-64, glibc), kept here so
// that every build, the DLL under Wine included, is held to the same bytes.
#include "api_colour_gamma_tables.inc"

std::string hex(const uint8_t* t)
{
    std::string s;
    char buf[3];
    for (int i = 0; i < 256; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", t[i]);
        s += buf;
    }
    return s;
}

}  // namespace

TEST(Gamma, TablesEqualTheCommittedOnes)
{
    for (const GammaTable& g : kGammaTables) {
        uint8_t t[256];
        std::memset(t, 0xCC, sizeof t);
        GammaCorrectionGetArray(g.gamma, 1, 2, t);
        EXPECT_EQ(hex(t), g.hex) << "gamma " << g.gamma;
        uint8_t m[256];
        cm::gamma_table(g.gamma, m);
        EXPECT_EQ(hex(t), hex(m)) << "gamma " << g.gamma;
    }
    uint8_t t[256];
    GammaCorrectionGetArray(20000, 0, 0, t);
    EXPECT_EQ(t[128], 64);
    EXPECT_EQ(t[16], 1);
    GammaCorrectionGetArray(5000, 0, 0, t);
    EXPECT_EQ(t[64], 127);
    EXPECT_EQ(t[1], 15);
    EXPECT_EQ(t[0], 0);
    EXPECT_EQ(t[255], 255);
}

TEST(Gamma, ApplyAsTheModel)
{
    std::mt19937 rng(61);
    uint8_t negative[256], odd[256];
    for (int i = 0; i < 256; ++i) {
        negative[i] = static_cast<uint8_t>(255 - i);
        odd[i] = static_cast<uint8_t>(rng());
    }
    for (const Source& s : kAllSources)
        for (LONG gamma : {1, 4000, 10000, 12345, 20000, 65000})
            for (const uint8_t* table : std::vector<const uint8_t*>{nullptr, negative, odd}) {
                if (s.flags && table)
                    continue;  // the two-plane path has its own formula
                const LONG w = 1 + static_cast<LONG>(rng() % 21), h = 1 + static_cast<LONG>(rng() % 5);
                SCOPED_TRACE(testing::Message() << s.name << ", gamma " << gamma << (table ? ", table" : ""));
                Dib d(make_source(rng, s, w, h));
                const Bytes expected = cm::gamma_apply(block_bytes(d.get()), gamma, table);
                GammaCorrectionApplyToDIB(d.get(), gamma, 0, 0, const_cast<uint8_t*>(table));
                EXPECT_EQ(block_bytes(d.get()), expected);
            }
    // Two-plane samples above 65280 with an exponent above 1 clamp to 65535.
    Dib d(CreateDIB(1, 1, 48, 0));
    {
        Locked l(d.get());
        std::memset(l.get() + 40, 0xFF, 4);   // high bytes
        std::memset(l.get() + 44, 0xFF, 4);   // low bytes
    }
    GammaCorrectionApplyToDIB(d.get(), 5000, 0, 0, nullptr);
    const Bytes b = block_bytes(d.get());
    EXPECT_EQ(b[40], 0xFF);
    EXPECT_EQ(b[44], 0xFF);
    GammaCorrectionApplyToDIB(nullptr, 5000, 0, 0, nullptr);
}

// ---------------------------------------------------------------------------
// FIR filters

TEST(Fir, RandomKernelsAsTheModel)
{
    std::mt19937 rng(71);
    for (const Source& s : kAllSources) {
        const bool accepted = s.bits >= 24;
        // Round 4 is wider than the interior's 2048-byte chunks. Rounds 5 to
        // 8 have weights sharing a power-of-two factor (multiples of 32 from
        // -128 to 128 in kernels of up to 3 x 3, sums either side of zero;
        // round 6 the sharpening kernel), which take the 16-bit path, on
        // rows of 16-byte groups and a remainder.
        for (int round = 0; round < 9; ++round) {
            int kw = 1 + 2 * static_cast<int>(rng() % 3), kh = 1 + 2 * static_cast<int>(rng() % 3);
            if (round >= 5) {
                kw = round == 6 ? 3 : 1 + 2 * static_cast<int>(rng() % 2);
                kh = 3;
            }
            std::vector<long> k(static_cast<size_t>(kw * kh));
            std::vector<LONG> kl(k.size());
            static const long kSharpen[9] = {0, -64, 0, -64, 512, -64, 0, -64, 0};
            for (size_t i = 0; i < k.size(); ++i)
                kl[i] = static_cast<LONG>(k[i] = round == 3   ? static_cast<long>(rng() % 2000001) - 1000000
                                                 : round == 6 ? kSharpen[i]
                                                 : round >= 5 ? 32 * (static_cast<long>(rng() % 9) - 4)
                                                              : static_cast<long>(rng() % 1025) - 400);
            const int offset = round == 6 ? 0 : static_cast<int>(rng() % 301) - 150;
            const LONG w = round == 4  ? 690 + static_cast<LONG>(rng() % 700)
                           : round > 4 ? 5 + static_cast<LONG>(rng() % 60)
                                       : 1 + static_cast<LONG>(rng() % 19),
                       h = 1 + static_cast<LONG>(rng() % 9);
            SCOPED_TRACE(testing::Message() << s.name << ", " << w << " x " << h << ", kernel " << kw << " x " << kh);
            Dib d(make_source(rng, s, w, h));
            const Bytes src = block_bytes(d.get());
            Dib r(CreateFIRFilteredDIB(d.get(), kl.data(), kw, kh, offset));
            EXPECT_EQ(block_bytes(d.get()), src);
            ASSERT_EQ(bool(r), accepted);
            if (r) {
                EXPECT_EQ(GlobalSize(r.get()), src.size());
                EXPECT_TRUE(holds_bytes(r.get(), cm::fir(src, k, kw, kh, offset)));
            }
            if (round == 6 && r) {
                Dib sharp(CreateSharpenedDIB(d.get()));
                EXPECT_EQ(block_bytes(sharp.get()), block_bytes(r.get()));
            }
        }
    }
}

TEST(Fir, SharpeningAndRefusals)
{
    Dib d(CreateDIB(5, 4, 24, 0));
    {
        Locked l(d.get());
        std::memset(l.get() + 40, 100, 4 * 16);
    }
    Dib r(CreateSharpenedDIB(d.get()));
    ASSERT_TRUE(r);
    Locked l(r.get());
    const uint8_t* p = l.get() + 40;
    EXPECT_EQ(p[0], 150);               // corner
    EXPECT_EQ(p[3], 125);               // bottom edge
    EXPECT_EQ(p[16 + 3], 100);          // interior
    EXPECT_EQ(p[16 + 0], 125);          // left edge
    const LONG even[4] = {256, 0, 0, 0}, one[1] = {256};
    EXPECT_EQ(CreateFIRFilteredDIB(d.get(), even, 2, 2, 0), nullptr);
    EXPECT_EQ(CreateFIRFilteredDIB(d.get(), even, 1, 2, 0), nullptr);
    EXPECT_EQ(CreateFIRFilteredDIB(d.get(), one, 0, 1, 0), nullptr);
    EXPECT_EQ(CreateFIRFilteredDIB(d.get(), nullptr, 1, 1, 0), nullptr);
    Dib d16(CreateDIB(3, 3, 16, 0)), d8(CreateDIB(3, 3, 8, 0));
    EXPECT_EQ(CreateFIRFilteredDIB(d16.get(), one, 1, 1, 0), nullptr);
    EXPECT_EQ(CreateSharpenedDIB(d8.get()), nullptr);
    EXPECT_EQ(CreateSharpenedDIB(nullptr), nullptr);
}
