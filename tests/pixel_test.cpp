// The pixel accessor from inside: every layout against a reference model of
// storage and conversions written here, every specialised line routine against
// the per-pixel path, the nearest-colour cache and failures via the memory hooks.
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "dib/dib.h"
#include "kelm3.h"
#include "pixel/pixel.h"
#include "platform/platform.h"
#include "support/dib_builder.h"

using namespace kelm_test;
using kelm::testing::live_blocks;
using kelm::testing::locked_blocks;

// In the type's own (global) namespace so that GoogleTest finds them;
// static so that no other test file's versions can clash.
static bool operator==(const Rgbq16& a, const Rgbq16& b)
{
    return a.blue == b.blue && a.green == b.green && a.red == b.red && a.reserved == b.reserved;
}

static std::ostream& operator<<(std::ostream& os, const Rgbq16& c)
{
    return os << "(" << c.blue << ", " << c.green << ", " << c.red << ", " << c.reserved << ")";
}

namespace {

RGBQUAD q(BYTE b, BYTE g, BYTE r, BYTE x = 0)
{
    return RGBQUAD{b, g, r, x};
}

// ---------------------------------------------------------------------------
// Colour tables, written out from their definitions.

std::vector<RGBQUAD> default256()
{
    static const BYTE std16[16][3] = {{0, 0, 0},       {0, 0, 128},   {0, 128, 0},   {0, 128, 128},
                                      {128, 0, 0},     {128, 0, 128}, {128, 128, 0}, {128, 128, 128},
                                      {192, 192, 192}, {0, 0, 255},   {0, 255, 0},   {0, 255, 255},
                                      {255, 0, 0},     {255, 0, 255}, {255, 255, 0}, {255, 255, 255}};
    std::vector<RGBQUAD> t(256, q(0, 0, 0));
    for (int i = 0; i < 216; ++i)
        t[i] = q(static_cast<BYTE>(i % 6 * 51), static_cast<BYTE>(i / 6 % 6 * 51), static_cast<BYTE>(i / 36 * 51));
    for (int i = 0; i < 16; ++i)
        t[216 + i] = q(static_cast<BYTE>(16 * i), static_cast<BYTE>(16 * i), static_cast<BYTE>(16 * i));
    t[232] = q(255, 255, 255);
    for (int i = 0; i < 16; ++i)
        t[238 + i] = q(std16[i][0], std16[i][1], std16[i][2]);
    return t;
}

std::vector<RGBQUAD> grey_ramp(bool up)
{
    std::vector<RGBQUAD> t;
    for (int i = 0; i < 256; ++i) {
        const BYTE v = static_cast<BYTE>(up ? i : 255 - i);
        t.push_back(q(v, v, v));
    }
    return t;
}

std::vector<RGBQUAD> random_table(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<RGBQUAD> t;
    for (size_t i = 0; i < n; ++i)
        t.push_back(q(static_cast<BYTE>(rng()), static_cast<BYTE>(rng()), static_cast<BYTE>(rng())));
    return t;
}

// ---------------------------------------------------------------------------
// Layouts under test.

struct Layout {
    std::string name;
    WORD bits;
    WORD planes;
    DWORD compression;
    DWORD headerSize;  // 40 or 108
    bool cmyk;
    std::vector<RGBQUAD> table;
    std::vector<uint32_t> masks;  // red, green, blue
    kelm::PixelFormat format;
};

std::vector<Layout> layouts()
{
    using namespace kelm;
    const std::vector<RGBQUAD> bw = {q(0, 0, 0), q(255, 255, 255)};
    const std::vector<RGBQUAD> wb = {q(255, 255, 255), q(0, 0, 0)};
    return {
        {"bits1_blackwhite", 1, 1, BI_RGB, 40, false, bw, {}, kFmt1BlackWhite},
        {"bits1_whiteblack", 1, 1, BI_RGB, 40, false, wb, {}, kFmt1WhiteBlack},
        {"bits1_other", 1, 1, BI_RGB, 40, false, {q(10, 200, 30), q(90, 20, 250)}, {}, kFmt1Palette},
        {"bits1_256_entries", 1, 1, BI_RGB, 40, false, random_table(256, 11), {}, kFmt1Palette},
        {"bits4_standard", 4, 1, BI_RGB, 40, false, {}, {}, kFmt4Palette},
        {"bits4_random", 4, 1, BI_RGB, 40, false, random_table(16, 4), {}, kFmt4Palette},
        {"bits4_five_entries", 4, 1, BI_RGB, 40, false, random_table(5, 5), {}, kFmt4Palette},
        {"bits8_default", 8, 1, BI_RGB, 40, false, default256(), {}, kFmt8Default},
        {"bits8_grey_down", 8, 1, BI_RGB, 40, false, grey_ramp(false), {}, kFmt8GreyDown},
        {"bits8_grey_up", 8, 1, BI_RGB, 40, false, grey_ramp(true), {}, kFmt8GreyUp},
        {"bits8_random", 8, 1, BI_RGB, 40, false, random_table(256, 8), {}, kFmt8Palette},
        {"bits8_twenty_entries", 8, 1, BI_RGB, 40, false, random_table(20, 20), {}, kFmt8Palette},
        {"bits8_blackwhite_pair", 8, 1, BI_RGB, 40, false, bw, {}, kFmt8Palette},
        {"bits16_555", 16, 1, BI_RGB, 40, false, {}, {}, kFmt16Rgb555},
        {"bits16_565", 16, 1, BI_BITFIELDS, 40, false, {}, {0xF800, 0x07E0, 0x001F}, kFmt16Bitfields},
        {"bits16_555_fields_v4", 16, 1, BI_BITFIELDS, 108, false, {}, {0x7C00, 0x03E0, 0x001F}, kFmt16Bitfields},
        {"bits16_zero_green", 16, 1, BI_BITFIELDS, 40, false, {}, {0xFC00, 0, 0x03FF}, kFmt16Bitfields},
        {"bits16_wide_masks", 16, 1, BI_BITFIELDS, 40, false, {}, {0xFFFF0000, 0x0001FFFF, 0x00F0}, kFmt16Bitfields},
        {"bits16_gappy_masks", 16, 1, BI_BITFIELDS, 40, false, {}, {0x8001, 0x7000, 0x0F0E}, kFmt16Bitfields},
        {"bits16_555_with_table", 16, 1, BI_RGB, 40, false, random_table(3, 3), {}, kFmt16Rgb555},
        {"bits24", 24, 1, BI_RGB, 40, false, {}, {}, kFmt24},
        {"bits32", 32, 1, BI_RGB, 40, false, {}, {}, kFmt32},
        {"bits32_bitfields", 32, 1, BI_BITFIELDS, 40, false, {}, {0xFF, 0xFF00, 0xFF0000}, kFmt32},
        {"bits32_cmyk", 32, 1, BI_RGB, 108, true, {}, {}, kFmt32Cmyk},
        {"plane8", 8, 2, BI_RGB, 40, false, std::vector<RGBQUAD>(256, q(0, 0, 0)), {}, kFmtPlane8},
        {"plane24", 24, 2, BI_RGB, 40, false, {}, {}, kFmtPlane24},
        {"plane32", 32, 2, BI_RGB, 40, false, {}, {}, kFmtPlane32},
    };
}

constexpr LONG kWidth = 37;  // not a multiple of 8 or 32 bits: every row ends in padding
constexpr LONG kHeight = 4;

// A block of the layout filled with random pixel bytes, with offsets
// computed independently of the library.
struct Image {
    Layout layout;
    HGLOBAL handle = nullptr;
    size_t tableOffset = 0;
    size_t pixelOffset = 0;
    size_t stride = 0;
    size_t planeOffset = 0;  // first to second plane
    std::vector<RGBQUAD> table;

    Image(const Layout& l, unsigned seed) : layout(l)
    {
        table = l.table;
        if (l.bits == 4 && table.empty())
            table = {q(0, 0, 0),       q(0, 0, 128),   q(0, 128, 0),   q(0, 128, 128), q(128, 0, 0), q(128, 0, 128),
                     q(128, 128, 0),   q(128, 128, 128), q(192, 192, 192), q(0, 0, 255), q(0, 255, 0), q(0, 255, 255),
                     q(255, 0, 0),     q(255, 0, 255), q(255, 255, 0), q(255, 255, 255)};
        stride = stride_for(kWidth, l.bits);
        BITMAPINFOHEADER bi = info_header(kWidth, kHeight, l.bits, l.compression, static_cast<DWORD>(table.size()), l.planes);
        bi.biSize = l.headerSize;
        bi.biSizeImage = static_cast<DWORD>(stride * kHeight * l.planes);
        BlockSpec s;
        s.header = header_bytes(bi);
        s.header.resize(l.headerSize, 0);
        if (l.cmyk)
            s.header[56] = 2;
        s.masks = l.masks;
        s.table = table;
        std::mt19937 rng(seed);
        s.pixels.resize(stride * kHeight * l.planes);
        for (auto& b : s.pixels)
            b = static_cast<uint8_t>(rng());
        tableOffset = l.headerSize + (l.compression == BI_BITFIELDS ? 12 : 0);
        pixelOffset = tableOffset + 4 * table.size();
        planeOffset = stride * kHeight;
        handle = make_block(s);
    }
    ~Image()
    {
        if (handle)
            GlobalFree(handle);
    }
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    std::vector<uint8_t> bytes() const { return block_bytes(handle); }
};

// ---------------------------------------------------------------------------
// The reference model.

using Raw = std::array<uint8_t, 8>;

// Size of a layout's raw value in bytes.
size_t raw_size(const Layout& l)
{
    if (l.planes == 2)
        return l.bits == 8 ? 2 : 8;
    switch (l.bits) {
    case 1: return 4;
    case 4: case 8: return 1;
    default: return l.bits / 8u;
    }
}

Raw ref_read(const Image& im, const std::vector<uint8_t>& b, int x, int y)
{
    Raw raw{};
    const uint8_t* row = b.data() + im.pixelOffset + y * im.stride;
    const uint8_t* low = row + im.planeOffset;
    const Layout& l = im.layout;
    if (l.planes == 2) {
        const unsigned n = l.bits / 8;
        for (unsigned c = 0; c < n; ++c) {
            const uint16_t v = static_cast<uint16_t>(row[x * n + c] * 256 + low[x * n + c]);
            std::memcpy(&raw[2 * c], &v, 2);
        }
        return raw;
    }
    if (l.bits == 1) {
        const uint32_t bit = (row[x / 8] & (0x80 >> (x % 8))) ? 1 : 0;
        std::memcpy(raw.data(), &bit, 4);
    } else if (l.bits == 4) {
        raw[0] = x % 2 == 0 ? row[x / 2] / 16 : row[x / 2] % 16;
    } else {
        std::memcpy(raw.data(), row + x * (l.bits / 8), l.bits / 8);
    }
    return raw;
}

void ref_write(const Image& im, std::vector<uint8_t>& b, int x, int y, const Raw& raw)
{
    uint8_t* row = b.data() + im.pixelOffset + y * im.stride;
    uint8_t* low = row + im.planeOffset;
    const Layout& l = im.layout;
    if (l.planes == 2) {
        const unsigned n = l.bits / 8;
        for (unsigned c = 0; c < n; ++c) {
            uint16_t v;
            std::memcpy(&v, &raw[2 * c], 2);
            row[x * n + c] = static_cast<uint8_t>(v / 256);
            low[x * n + c] = static_cast<uint8_t>(v % 256);
        }
        return;
    }
    if (l.bits == 1) {
        uint32_t v;
        std::memcpy(&v, raw.data(), 4);
        const uint8_t bit = static_cast<uint8_t>(0x80 >> (x % 8));
        row[x / 8] = v ? (row[x / 8] | bit) : (row[x / 8] & ~bit);
    } else if (l.bits == 4) {
        const uint8_t v = raw[0] % 16;
        row[x / 2] = x % 2 == 0 ? ((row[x / 2] % 16) | (v * 16)) : ((row[x / 2] & 0xF0) | v);
    } else {
        std::memcpy(row + x * (l.bits / 8), raw.data(), l.bits / 8);
    }
}

int palette_type_of(const Layout& l)
{
    if (l.table.size() == 2) {
        auto is = [](const RGBQUAD& e, BYTE v) { return e.rgbBlue == v && e.rgbGreen == v && e.rgbRed == v; };
        if (is(l.table[0], 0) && is(l.table[1], 255))
            return 2;
        if (is(l.table[0], 255) && is(l.table[1], 0))
            return 3;
    }
    return -1;  // only the pair types matter to the model
}

// One channel of a BI_BITFIELDS word, by walking the mask bit by bit: the
// set bits, taken from the lowest, are the field's bits; the field is then
// left-aligned in 16 bits. Only the mask's low 16 bits count at 16 bpp.
uint16_t ref_field(uint32_t word, uint32_t mask)
{
    mask &= 0xFFFF;
    if (mask == 0)
        return 0;
    int s = 0;
    while (!(mask & (1u << s)))
        ++s;
    int n = 0;
    for (int i = 0; i < 16; ++i)
        n += (mask >> i) & 1;
    return static_cast<uint16_t>((((word & mask) >> s) << (16 - n)) & 0xFFFF);
}

uint16_t ref_field_pack(uint16_t channel, uint32_t mask)
{
    mask &= 0xFFFF;
    if (mask == 0)
        return 0;
    int s = 0;
    while (!(mask & (1u << s)))
        ++s;
    int n = 0;
    for (int i = 0; i < 16; ++i)
        n += (mask >> i) & 1;
    return static_cast<uint16_t>(((channel >> (16 - n)) << s) & mask);
}

// Part of the CMYK model, restated: the product of the other two inverted
// inks + 2048, the own inverted ink + 128 and the inverted black, scaled so
// that no ink gives 255.
uint8_t ref_cmyk(int own, int o1, int o2, int k)
{
    const long v = static_cast<long>(o1 + o2 + 2048) * (own + 128) * k / 979714;
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// The nearest-colour search with its cache, as a model: the first colour
// searched for a key decides every later colour of that key.
struct NearestModel {
    std::map<uint32_t, unsigned> cache;
    unsigned find(const std::vector<RGBQUAD>& table, unsigned limit, int r, int g, int b)
    {
        const uint32_t key = (r / 4) + (g / 4) * 64 + (b / 4) * 4096;
        if (auto it = cache.find(key); it != cache.end())
            return it->second;
        unsigned best = 0;
        long bestDist = -1;
        for (unsigned i = 0; i < table.size() && i < limit; ++i) {
            const long d = (table[i].rgbBlue - b) * (table[i].rgbBlue - b) + (table[i].rgbGreen - g) * (table[i].rgbGreen - g) +
                           (table[i].rgbRed - r) * (table[i].rgbRed - r);
            if (bestDist < 0 || d < bestDist) {
                bestDist = d;
                best = i;
            }
        }
        cache[key] = best;
        return best;
    }
};

Rgbq16 ref_to16(const Image& im, const std::vector<uint8_t>& block, const Raw& raw)
{
    const Layout& l = im.layout;
    auto w16 = [&](int i) { return static_cast<uint16_t>(raw[2 * i] | raw[2 * i + 1] << 8); };
    if (l.planes == 2) {
        if (l.bits == 8)
            return {w16(0), w16(0), w16(0), w16(0)};
        return {w16(0), w16(1), w16(2), w16(3)};
    }
    if (l.bits <= 8) {
        if (l.bits == 1 && palette_type_of(l) == 2) {
            const uint16_t v = (raw[0] | raw[1] | raw[2] | raw[3]) ? 65535 : 0;
            return {v, v, v, 0};
        }
        // Any entry inside the block, even past the table; black beyond it.
        const size_t at = im.tableOffset + 4 * raw[0];
        if (at + 4 > block.size())
            return {0, 0, 0, 0};
        return {static_cast<uint16_t>(block[at] * 257), static_cast<uint16_t>(block[at + 1] * 257),
                static_cast<uint16_t>(block[at + 2] * 257), 0};
    }
    if (l.bits == 16) {
        const uint32_t w = w16(0);
        if (l.compression == BI_RGB)
            return {static_cast<uint16_t>(((w & 31) << 3) * 257), static_cast<uint16_t>((((w >> 5) & 31) << 3) * 257),
                    static_cast<uint16_t>((((w >> 10) & 31) << 3) * 257), 0};
        return {ref_field(w, l.masks[2]), ref_field(w, l.masks[1]), ref_field(w, l.masks[0]), 0};
    }
    if (l.cmyk) {
        const int b = 255 - raw[0], g = 255 - raw[1], r = 255 - raw[2], k = 255 - raw[3];
        return {static_cast<uint16_t>(ref_cmyk(b, g, r, k) * 257), static_cast<uint16_t>(ref_cmyk(g, b, r, k) * 257),
                static_cast<uint16_t>(ref_cmyk(r, b, g, k) * 257), 0};
    }
    return {static_cast<uint16_t>(raw[0] * 257), static_cast<uint16_t>(raw[1] * 257), static_cast<uint16_t>(raw[2] * 257),
            static_cast<uint16_t>(l.bits == 32 ? raw[3] * 257 : 0)};
}

// round(v * w / 256), halves up, in a form unlike the library's.
uint32_t round_weight(uint32_t v, uint32_t w)
{
    return (2 * v * w + 256) / 512;
}

Raw ref_from16(const Image& im, NearestModel& nm, const Rgbq16& c)
{
    const Layout& l = im.layout;
    Raw raw{};
    auto put16 = [&](int i, uint32_t v) {
        raw[2 * i] = static_cast<uint8_t>(v & 0xFF);
        raw[2 * i + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
    };
    if (l.planes == 2) {
        if (l.bits == 8) {
            put16(0, (static_cast<uint32_t>(c.green) * 151 + c.blue * 28u + c.red * 77u) / 256);
        } else {
            put16(0, c.blue), put16(1, c.green), put16(2, c.red), put16(3, c.reserved);
        }
        return raw;
    }
    if (l.bits <= 8) {
        const int type = palette_type_of(l);
        if (l.bits == 1 && (type == 2 || type == 3)) {
            // Mean of the three channels above 32768, in quarters.
            bool light = c.blue / 4 + c.green / 4 + c.red / 4 > 24576;
            raw[0] = (light != (type == 3)) ? 1 : 0;
            return raw;
        }
        if (l.format == kelm::kFmt8Default) {
            if ((c.red ^ c.green) < 1024 && (c.blue ^ c.red) < 1024)
                raw[0] = static_cast<uint8_t>(216 + (c.red + 2048) / 4096);
            else
                raw[0] = static_cast<uint8_t>(c.red / 13056 * 36 + c.green / 13056 * 6 + c.blue / 13056);
            return raw;
        }
        if (l.format == kelm::kFmt8GreyDown || l.format == kelm::kFmt8GreyUp) {
            const uint32_t y = (round_weight(c.red, 77) + round_weight(c.green, 151) + round_weight(c.blue, 28)) / 256;
            raw[0] = static_cast<uint8_t>(l.format == kelm::kFmt8GreyDown ? 255 - y : y);
            return raw;
        }
        raw[0] = static_cast<uint8_t>(nm.find(im.table, 1u << l.bits, c.red >> 8, c.green >> 8, c.blue >> 8));
        return raw;
    }
    if (l.bits == 16) {
        uint32_t w;
        if (l.compression == BI_RGB)
            w = (c.blue >> 11) | (c.green >> 11) << 5 | (c.red >> 11) << 10;
        else
            w = ref_field_pack(c.red, l.masks[0]) | ref_field_pack(c.green, l.masks[1]) | ref_field_pack(c.blue, l.masks[2]);
        put16(0, w);
        return raw;
    }
    if (l.cmyk) {
        raw = {static_cast<uint8_t>(255 - c.blue / 256), static_cast<uint8_t>(255 - c.green / 256),
               static_cast<uint8_t>(255 - c.red / 256), 0};
        return raw;
    }
    raw = {static_cast<uint8_t>(c.blue / 256), static_cast<uint8_t>(c.green / 256), static_cast<uint8_t>(c.red / 256),
           static_cast<uint8_t>(l.bits == 32 ? c.reserved / 256 : 0)};
    return raw;
}

// Line routines that the layout rules give their own behaviour: the
// two-plane grey line reads reserved as 0 and writes rounded weights.
Rgbq16 ref_line_read(const Image& im, const std::vector<uint8_t>& b, int x, int y)
{
    Rgbq16 c = ref_to16(im, b, ref_read(im, b, x, y));
    if (im.layout.format == kelm::kFmtPlane8)
        c.reserved = 0;
    return c;
}

void ref_line_write(const Image& im, NearestModel& nm, std::vector<uint8_t>& b, int x, int y, const Rgbq16& c)
{
    Raw raw = ref_from16(im, nm, c);
    if (im.layout.format == kelm::kFmtPlane8) {
        const uint32_t v = round_weight(c.red, 77) + round_weight(c.green, 151) + round_weight(c.blue, 28);
        raw = {static_cast<uint8_t>(v & 0xFF), static_cast<uint8_t>(v >> 8)};
    }
    ref_write(im, b, x, y, raw);
}

// Colours that exercise the thresholds of every conversion, then random ones.
std::vector<Rgbq16> probe_colours(unsigned seed, size_t randomCount)
{
    std::vector<Rgbq16> v;
    const uint16_t levels[] = {0, 1, 255, 256, 1023, 1024, 2047, 2048, 13055, 13056, 32767, 32768, 32769,
                               0x8000 + 0x2AAA, 40000, 52224, 65279, 65280, 65535};
    for (uint16_t a : levels)
        for (uint16_t b : {uint16_t(0), uint16_t(32768), uint16_t(65535), a})
            v.push_back({a, b, a, b}), v.push_back({b, a, a, 0}), v.push_back({a, a, b, a});
    for (int i = 0; i < 256; i += 5)
        v.push_back({static_cast<uint16_t>(i * 257), static_cast<uint16_t>(i * 256), static_cast<uint16_t>(i * 257), 0});
    std::mt19937 rng(seed);
    for (size_t i = 0; i < randomCount; ++i)
        v.push_back({static_cast<uint16_t>(rng()), static_cast<uint16_t>(rng()), static_cast<uint16_t>(rng()),
                     static_cast<uint16_t>(rng())});
    return v;
}

// Raw values worth converting: every value where the layout has few, random
// ones otherwise.
std::vector<Raw> probe_raws(const Layout& l, unsigned seed)
{
    std::vector<Raw> v;
    if (l.planes == 1 && l.bits <= 16) {
        const uint32_t n = l.bits == 1 ? 2 : 1u << l.bits;
        for (uint32_t i = 0; i < n; ++i) {
            Raw r{};
            std::memcpy(r.data(), &i, l.bits == 1 ? 4 : (l.bits == 16 ? 2 : 1));
            v.push_back(r);
        }
        if (l.bits == 1)
            v.push_back(Raw{0, 0, 1, 0});  // any non-zero 32-bit value
        return v;
    }
    std::mt19937 rng(seed);
    for (int i = 0; i < 3000; ++i) {
        Raw r{};
        for (size_t k = 0; k < raw_size(l); ++k)
            r[k] = static_cast<uint8_t>(rng());
        v.push_back(r);
    }
    return v;
}

// An accessor opened for the length of a test.
struct Opened {
    TRDIB rd{};
    bool ok;
    explicit Opened(HGLOBAL h) : ok(kelm::trdib_open(h, &rd)) {}
    ~Opened() { kelm::trdib_close(&rd); }
};

class PixelLayouts : public ::testing::TestWithParam<Layout> {};

}  // namespace

INSTANTIATE_TEST_SUITE_P(All, PixelLayouts, ::testing::ValuesIn(layouts()),
                         [](const ::testing::TestParamInfo<Layout>& i) { return i.param.name; });

// ---------------------------------------------------------------------------
// Per layout

TEST_P(PixelLayouts, OpenCachesTheLayout)
{
    Image im(GetParam(), 1);
    Opened a(im.handle);
    ASSERT_TRUE(a.ok);
    const TRDIB& rd = a.rd;
    const Layout& l = GetParam();
    Locked lock(im.handle);
    EXPECT_EQ(rd.hDib, im.handle);
    EXPECT_EQ(rd.lpbmi, lock.get());
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(rd.lppal), lock.get() + im.tableOffset);
    EXPECT_EQ(rd.hpbits, lock.get() + im.pixelOffset);
    EXPECT_EQ(rd.WidthBytes, im.stride);
    EXPECT_EQ(rd.BitCount, l.bits);
    EXPECT_EQ(rd.BytesPerPixel, l.bits / 8u);
    EXPECT_EQ(rd.PaletteEntries, im.table.size());
    EXPECT_EQ(rd.bmi.biSize, l.headerSize);
    EXPECT_EQ(rd.bmi.biWidth, kWidth);
    EXPECT_EQ(rd.bmi.biClrUsed, im.table.size());
    EXPECT_EQ(rd.Format, l.format);
    if (l.planes == 2) {
        EXPECT_EQ(rd.dwOffsetLSB, im.planeOffset);
    }
    EXPECT_EQ(rd.hPaletteInversionCache, nullptr) << "the cache is made by the first search only";
}

TEST_P(PixelLayouts, ReadsRawPixelsWhereTheLayoutPutsThem)
{
    Image im(GetParam(), 2);
    Opened a(im.handle);
    ASSERT_TRUE(a.ok);
    const std::vector<uint8_t> b = im.bytes();
    const size_t n = raw_size(GetParam());
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            SCOPED_TRACE(testing::Message() << "x " << x << " y " << y);
            Raw got;
            got.fill(0xCD);
            a.rd.fngetPixel(&a.rd, x, y, got.data());
            const Raw want = ref_read(im, b, x, y);
            for (size_t k = 0; k < 8; ++k)
                EXPECT_EQ(got[k], k < n ? want[k] : 0xCD) << "byte " << k;
        }
}

TEST_P(PixelLayouts, WritersChangeOnlyTheirOwnPixel)
{
    Image im(GetParam(), 3);
    Opened a(im.handle);
    ASSERT_TRUE(a.ok);
    std::vector<uint8_t> want = im.bytes();
    std::mt19937 rng(33);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            Raw raw{};
            for (size_t k = 0; k < raw_size(GetParam()); ++k)
                raw[k] = static_cast<uint8_t>(rng());
            a.rd.fnSetPixe(&a.rd, x, y, raw.data());
            ref_write(im, want, x, y, raw);
        }
    EXPECT_EQ(im.bytes(), want);
}

TEST_P(PixelLayouts, RawToRgbq16FollowsTheConversionRules)
{
    Image im(GetParam(), 4);
    Opened a(im.handle);
    ASSERT_TRUE(a.ok);
    const std::vector<uint8_t> b = im.bytes();
    for (const Raw& raw : probe_raws(GetParam(), 44)) {
        Rgbq16 got{1, 2, 3, 4};
        a.rd.fnPixelToRgbq16(&a.rd, raw.data(), &got);
        const Rgbq16 want = ref_to16(im, b, raw);
        if (!(got == want)) {
            ADD_FAILURE() << "raw " << int(raw[0]) << "," << int(raw[1]) << "," << int(raw[2]) << "," << int(raw[3])
                          << ": got " << got << " want " << want;
            return;
        }
    }
}

TEST_P(PixelLayouts, Rgbq16ToRawFollowsTheConversionRules)
{
    Image im(GetParam(), 5);
    Opened a(im.handle);
    ASSERT_TRUE(a.ok);
    NearestModel nm;
    const size_t n = raw_size(GetParam());
    for (const Rgbq16& c : probe_colours(55, 4000)) {
        Raw got{};
        a.rd.fnRgbq16ToPixel(&a.rd, got.data(), &c);
        const Raw want = ref_from16(im, nm, c);
        if (!std::equal(got.begin(), got.begin() + static_cast<long>(n), want.begin())) {
            ADD_FAILURE() << "colour " << c << ": first raw byte got " << int(got[0]) << " want " << int(want[0]);
            return;
        }
    }
}

TEST_P(PixelLayouts, LineReadsAgreeWithThePerPixelPath)
{
    Image im(GetParam(), 6);
    Opened a(im.handle);
    ASSERT_TRUE(a.ok);
    const std::vector<uint8_t> b = im.bytes();
    struct Run {
        int x, count;
    } runs[] = {{0, kWidth}, {0, 0}, {1, 7}, {3, 9}, {7, 1}, {8, 8}, {9, 28}, {kWidth - 1, 1}, {5, 17}};
    for (int y = 0; y < kHeight; ++y)
        for (const Run& r : runs) {
            SCOPED_TRACE(testing::Message() << "y " << y << " x " << r.x << " count " << r.count);
            std::vector<Rgbq16> fast(kWidth + 2, Rgbq16{7, 7, 7, 7}), plain(kWidth + 2, Rgbq16{7, 7, 7, 7});
            a.rd.fnGetLineRgbq16(&a.rd, r.x, y, r.count, fast.data());
            kelm::generic_get_line(&a.rd, r.x, y, r.count, plain.data());
            for (int i = 0; i < kWidth + 2; ++i) {
                if (i >= r.count) {
                    EXPECT_EQ(fast[i], (Rgbq16{7, 7, 7, 7})) << "element " << i << " is past the run";
                    continue;
                }
                EXPECT_EQ(fast[i], ref_line_read(im, b, r.x + i, y)) << "element " << i;
                if (GetParam().format != kelm::kFmtPlane8) {
                    EXPECT_EQ(fast[i], plain[i]) << "element " << i;
                }
            }
        }
}

TEST_P(PixelLayouts, LineWritesAgreeWithThePerPixelPath)
{
    Image fastIm(GetParam(), 7), plainIm(GetParam(), 7);
    Opened fast(fastIm.handle), plain(plainIm.handle);
    ASSERT_TRUE(fast.ok && plain.ok);
    NearestModel nm;
    std::vector<uint8_t> want = fastIm.bytes();
    const std::vector<Rgbq16> colours = probe_colours(77, 600);
    size_t next = 0;
    struct Run {
        int x, count;
    } runs[] = {{0, kWidth}, {2, 0}, {1, 7}, {3, 9}, {7, 1}, {8, 8}, {9, 28}, {kWidth - 1, 1}};
    for (int y = 0; y < kHeight; ++y)
        for (const Run& r : runs) {
            std::vector<Rgbq16> line(static_cast<size_t>(r.count));
            for (auto& c : line)
                c = colours[next++ % colours.size()];
            fast.rd.fnSetLineRgbq16(&fast.rd, r.x, y, r.count, line.data());
            kelm::generic_set_line(&plain.rd, r.x, y, r.count, line.data());
            for (int i = 0; i < r.count; ++i)
                ref_line_write(fastIm, nm, want, r.x + i, y, line[i]);
        }
    EXPECT_EQ(fastIm.bytes(), want);
    if (GetParam().format != kelm::kFmtPlane8) {
        EXPECT_EQ(fastIm.bytes(), plainIm.bytes());
    }
}

TEST_P(PixelLayouts, OpenAndCloseLeaveNothingBehind)
{
    Image im(GetParam(), 8);
    const size_t live = live_blocks(), locked = locked_blocks();
    {
        Opened a(im.handle);
        ASSERT_TRUE(a.ok);
        EXPECT_EQ(locked_blocks(), locked + 1);
        Rgbq16 c{100, 20000, 50000, 0};
        alignas(8) BYTE raw[8] = {};
        a.rd.fnRgbq16ToPixel(&a.rd, raw, &c);
    }
    EXPECT_EQ(live_blocks(), live);
    EXPECT_EQ(locked_blocks(), locked);
}

TEST_P(PixelLayouts, BlocksOneByteShortDoNotOpen)
{
    Image im(GetParam(), 9);
    const std::vector<uint8_t> b = im.bytes();
    HGLOBAL shortBlock = GlobalAlloc(GMEM_MOVEABLE, b.size() - 1);
    ASSERT_NE(shortBlock, nullptr);
    std::memcpy(GlobalLock(shortBlock), b.data(), b.size() - 1);
    GlobalUnlock(shortBlock);
    const size_t live = live_blocks(), locked = locked_blocks();
    TRDIB rd{};
    EXPECT_FALSE(kelm::trdib_open(shortBlock, &rd));
    EXPECT_EQ(rd.hDib, nullptr);
    kelm::trdib_close(&rd);
    EXPECT_EQ(live_blocks(), live);
    EXPECT_EQ(locked_blocks(), locked);
    GlobalFree(shortBlock);
}

// ---------------------------------------------------------------------------
// Opening

namespace {

HGLOBAL block_with(const BITMAPINFOHEADER& bi, size_t extraBytes, const std::vector<uint32_t>& masks = {},
                   size_t headerSize = 40)
{
    BlockSpec s;
    s.header = header_bytes(bi);
    s.header.resize(headerSize, 0);
    s.masks = masks;
    s.pixels.resize(extraBytes, 0);
    return make_block(s);
}

}  // namespace

TEST(PixelOpen, RefusesWhatItCannotServe)
{
    struct Case {
        const char* what;
        BITMAPINFOHEADER bi;
        size_t headerSize;
        bool opens;
    } cases[] = {
        {"RLE8", info_header(4, 4, 8, BI_RLE8, 2), 40, false},
        {"RLE4", info_header(4, 4, 4, BI_RLE4, 2), 40, false},
        {"JPEG-like compression 4", info_header(4, 4, 24, 4), 40, false},
        {"2 bits", info_header(4, 4, 2), 40, false},
        {"0 bits", info_header(4, 4, 0), 40, false},
        {"64 bits", info_header(4, 4, 64), 40, false},
        {"two-plane 16 bits", info_header(4, 4, 16, BI_RGB, 0, 2), 40, false},
        {"two-plane 4 bits", info_header(4, 4, 4, BI_RGB, 16, 2), 40, false},
        {"header of 56 bytes", info_header(4, 4, 24), 56, false},
        {"header of 124 bytes", info_header(4, 4, 24), 124, false},
        {"108-byte header, bit fields at 16 bits", info_header(4, 4, 16, BI_BITFIELDS), 108, true},
        {"top-down 24 bits", info_header(4, -4, 24), 40, true},
        {"zero width", info_header(0, 4, 24), 40, true},
        {"planes 3 count as one plane", info_header(4, 4, 24, BI_RGB, 0, 3), 40, true},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.bi.biSize = static_cast<DWORD>(c.headerSize);
        HGLOBAL h = block_with(c.bi, 4096, c.bi.biCompression == BI_BITFIELDS ? std::vector<uint32_t>{0xF800, 0x7E0, 0x1F}
                                                                               : std::vector<uint32_t>{},
                               c.headerSize);
        const size_t live = live_blocks(), locked = locked_blocks();
        {
            Opened a(h);
            EXPECT_EQ(a.ok, c.opens);
            if (!a.ok) {
                EXPECT_EQ(a.rd.hDib, nullptr);
                EXPECT_EQ(a.rd.fngetPixel, nullptr);
                EXPECT_EQ(locked_blocks(), locked);
            }
        }
        EXPECT_EQ(live_blocks(), live);
        EXPECT_EQ(locked_blocks(), locked);
        GlobalFree(h);
    }
}

TEST(PixelOpen, RefusesCoreHeadersNullsAndDeadHandles)
{
    BITMAPCOREHEADER bc{12, 4, 4, 1, 24};
    BlockSpec s;
    s.header.resize(12);
    std::memcpy(s.header.data(), &bc, 12);
    s.pixels.resize(64);
    HGLOBAL core = make_block(s);
    const size_t locked = locked_blocks();
    TRDIB rd{};
    EXPECT_FALSE(kelm::trdib_open(core, &rd));
    EXPECT_FALSE(kelm::trdib_open(nullptr, &rd));
    EXPECT_FALSE(kelm::trdib_open(core, nullptr));
    GlobalFree(core);
    EXPECT_FALSE(kelm::trdib_open(core, &rd)) << "a freed handle cannot be locked";
    EXPECT_EQ(locked_blocks(), locked);
}

TEST(PixelOpen, BlocksTooSmallForTheirHeaderDoNotOpen)
{
    BITMAPINFOHEADER bi = info_header(1, 1, 24);
    std::vector<uint8_t> h = header_bytes(bi);
    const size_t locked = locked_blocks();
    for (size_t size : {0u, 3u, 4u, 39u, 40u, 43u, 44u}) {
        SCOPED_TRACE(size);
        HGLOBAL blk = GlobalAlloc(GMEM_MOVEABLE, size);
        if (size)
            std::memcpy(GlobalLock(blk), h.data(), std::min<size_t>(size, 40)), GlobalUnlock(blk);
        TRDIB rd{};
        EXPECT_EQ(kelm::trdib_open(blk, &rd), size >= 44);
        kelm::trdib_close(&rd);
        EXPECT_EQ(locked_blocks(), locked);
        GlobalFree(blk);
    }
    // The masks of a bit-field image belong to its header.
    BITMAPINFOHEADER bf = info_header(0, 0, 16, BI_BITFIELDS);
    HGLOBAL blk = block_with(bf, 0, {0xF800, 0x7E0});
    TRDIB rd{};
    EXPECT_FALSE(kelm::trdib_open(blk, &rd));
    GlobalFree(blk);
}

TEST(PixelOpen, TheSecondPlaneMustLieInsideTheBlock)
{
    struct Case {
        const char* what;
        DWORD sizeImage;
        bool opens;
    } cases[] = {
        {"both planes", 2 * 48, true},
        {"reported size past the block", 2 * 48 + 2, false},
        {"reported size zero: DIBInfo's one-plane size", 0, true},
    };
    const size_t locked = locked_blocks();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BITMAPINFOHEADER bi = info_header(4, 4, 24, BI_RGB, 0, 2);
        bi.biSizeImage = c.sizeImage;
        HGLOBAL blk = block_with(bi, 2 * 48);  // two planes of 4 rows of 12 bytes
        Opened a(blk);
        EXPECT_EQ(a.ok, c.opens);
        if (a.ok) {
            EXPECT_EQ(a.rd.dwOffsetLSB, c.sizeImage ? c.sizeImage / 2 : 48u / 2);
        }
        kelm::trdib_close(&a.rd);
        EXPECT_EQ(locked_blocks(), locked);
        GlobalFree(blk);
    }
}

TEST(PixelOpen, ReportsTheHeaderAsDibInfoDoes)
{
    BITMAPINFOHEADER bi = info_header(5, -3, 8, BI_RGB, 0);
    BlockSpec s;
    s.header = header_bytes(bi);
    s.table = grey_ramp(true);
    s.pixels.resize(3 * 8);
    HGLOBAL blk = make_block(s);
    const size_t locked = locked_blocks();
    Opened a(blk);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.rd.bmi.biClrUsed, 256u);
    EXPECT_EQ(a.rd.bmi.biSizeImage, 3u * 8);
    EXPECT_EQ(a.rd.bmi.biHeight, -3);
    EXPECT_EQ(a.rd.PaletteType, kelm::kPalGreyUp);
    kelm::trdib_close(&a.rd);
    kelm::trdib_close(&a.rd);  // a second close is harmless
    EXPECT_EQ(locked_blocks(), locked);
    GlobalFree(blk);
}

// ---------------------------------------------------------------------------
// Conversions named by the layout rules

namespace {

struct OneImage {
    HGLOBAL h;
    TRDIB rd{};
    OneImage(const BITMAPINFOHEADER& bi, const std::vector<RGBQUAD>& table, const std::vector<uint8_t>& pixels,
             const std::vector<uint32_t>& masks = {})
    {
        BlockSpec s;
        s.header = header_bytes(bi);
        s.masks = masks;
        s.table = table;
        s.pixels = pixels;
        h = make_block(s);
        EXPECT_TRUE(kelm::trdib_open(h, &rd));
    }
    ~OneImage()
    {
        kelm::trdib_close(&rd);
        GlobalFree(h);
    }
    Rgbq16 to16(uint32_t raw)
    {
        Rgbq16 c{};
        rd.fnPixelToRgbq16(&rd, &raw, &c);
        return c;
    }
    uint32_t from16(Rgbq16 c)
    {
        uint32_t raw = 0;
        rd.fnRgbq16ToPixel(&rd, &raw, &c);
        return raw;
    }
};

}  // namespace

TEST(PixelConversions, WhiteBlackPairReadsByTableAndWritesInvertedThreshold)
{
    OneImage im(info_header(8, 1, 1), {q(255, 255, 255), q(0, 0, 0)}, std::vector<uint8_t>(4, 0));
    EXPECT_EQ(im.to16(1), (Rgbq16{0, 0, 0, 0}));
    EXPECT_EQ(im.to16(0), (Rgbq16{65535, 65535, 65535, 0}));
    EXPECT_EQ(im.from16({40000, 40000, 40000, 0}), 0u) << "light: white, bit 0";
    EXPECT_EQ(im.from16({30000, 30000, 30000, 0}), 1u) << "dark: black, bit 1";
}

TEST(PixelConversions, DefaultTableIndices)
{
    OneImage im(info_header(4, 1, 8), default256(), std::vector<uint8_t>(4, 0));
    ASSERT_EQ(im.rd.Format, kelm::kFmt8Default);
    struct Case {
        Rgbq16 c;
        uint32_t index;
    } cases[] = {
        {{65535, 65535, 65535, 123}, 232}, {{0, 0, 65535, 0}, 180}, {{1000, 1000, 1000, 0}, 216},
        {{1000, 1100, 1200, 0}, 0},        {{0, 0, 0, 0}, 216},     {{65535, 0, 0, 0}, 5},
        {{0, 65535, 0, 0}, 30},            {{26112, 13056, 39168, 0}, 3 * 36 + 6 + 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.c);
        EXPECT_EQ(im.from16(c.c), c.index);
    }
}

TEST(PixelConversions, GreyRampIndices)
{
    for (bool up : {true, false}) {
        SCOPED_TRACE(up ? "ascending" : "descending");
        OneImage im(info_header(4, 1, 8), grey_ramp(up), std::vector<uint8_t>(4, 0));
        EXPECT_EQ(im.from16({65535, 65535, 65535, 0}), up ? 255u : 0u);
        EXPECT_EQ(im.from16({0, 0, 0, 0}), up ? 0u : 255u);
        // Red alone: round(65535 x 77 / 256) = 19712, >> 8 = 77.
        EXPECT_EQ(im.from16({0, 0, 65535, 0}), up ? 77u : 178u);
    }
}

TEST(PixelConversions, SixteenBitWords)
{
    OneImage rgb(info_header(2, 1, 16), {}, std::vector<uint8_t>(4, 0));
    EXPECT_EQ(rgb.to16(0x7FFF), (Rgbq16{63736, 63736, 63736, 0}));
    EXPECT_EQ(rgb.to16(0xFFFF), (Rgbq16{63736, 63736, 63736, 0})) << "bit 15 is not a colour bit";
    EXPECT_EQ(rgb.from16({65535, 0, 0, 0}), 0x001Fu);
    EXPECT_EQ(rgb.from16({65535, 65535, 65535, 65535}), 0x7FFFu);

    OneImage f565(info_header(2, 1, 16, BI_BITFIELDS), {}, std::vector<uint8_t>(4, 0), {0xF800, 0x07E0, 0x001F});
    EXPECT_EQ(f565.to16(0xFFFF), (Rgbq16{63488, 64512, 63488, 0}));
    EXPECT_EQ(f565.from16({65535, 0, 0, 0}), 0x001Fu);
    EXPECT_EQ(f565.from16({0, 65535, 0, 0}), 0x07E0u);
}

TEST(PixelConversions, MasksWithoutBitsOrBeyondSixteenBitsAreDefined)
{
    // Green mask 0: the channel reads 0 and writing it changes no bit.
    OneImage zero(info_header(2, 1, 16, BI_BITFIELDS), {}, std::vector<uint8_t>(4, 0), {0xF800, 0, 0x001F});
    EXPECT_EQ(zero.to16(0xFFFF), (Rgbq16{63488, 0, 63488, 0}));
    EXPECT_EQ(zero.from16({0, 65535, 0, 0}), 0u);
    // A mask wholly above bit 15 sees nothing; one reaching past it counts
    // only its low 16 bits.
    OneImage wide(info_header(2, 1, 16, BI_BITFIELDS), {}, std::vector<uint8_t>(4, 0),
                  {0xFFFF0000, 0x0001FFFF, 0x00F00000});
    EXPECT_EQ(wide.to16(0xABCD), (Rgbq16{0, 0xABCD, 0, 0}));
    EXPECT_EQ(wide.from16({65535, 0x1234, 65535, 0}), 0x1234u);
    // All three masks zero: every channel 0, every word 0.
    OneImage none(info_header(2, 1, 16, BI_BITFIELDS), {}, std::vector<uint8_t>(4, 0), {0, 0, 0});
    EXPECT_EQ(none.to16(0xFFFF), (Rgbq16{0, 0, 0, 0}));
    EXPECT_EQ(none.from16({65535, 65535, 65535, 65535}), 0u);
}

TEST(PixelConversions, TwentyFourBitBytesAndTwoPlaneHalves)
{
    OneImage b24(info_header(1, 1, 24), {}, {1, 2, 3, 0});
    Rgbq16 c{};
    b24.rd.fnGetLineRgbq16(&b24.rd, 0, 0, 1, &c);
    EXPECT_EQ(c, (Rgbq16{257, 514, 771, 0}));

    BITMAPINFOHEADER bi = info_header(1, 1, 24, BI_RGB, 0, 2);
    bi.biSizeImage = 8;
    OneImage p24(bi, {}, {0x12, 0x34, 0x56, 0, 0x78, 0x9A, 0xBC, 0});
    Rgbq16 raw{};
    p24.rd.fngetPixel(&p24.rd, 0, 0, &raw);
    EXPECT_EQ(raw, (Rgbq16{0x1278, 0x349A, 0x56BC, 0}));
}

TEST(PixelConversions, CmykPixels)
{
    BITMAPV4HEADER v4;
    std::memset(&v4, 0, sizeof v4);
    v4.bV4Size = 108;
    v4.bV4Width = 1;
    v4.bV4Height = 1;
    v4.bV4Planes = 1;
    v4.bV4BitCount = 32;
    v4.bV4CSType = 2;
    BlockSpec s;
    s.header.resize(108);
    std::memcpy(s.header.data(), &v4, 108);
    s.pixels.resize(4);
    HGLOBAL h = make_block(s);
    Opened a(h);
    ASSERT_TRUE(a.ok);
    ASSERT_EQ(a.rd.Format, kelm::kFmt32Cmyk);
    struct Case {
        std::array<uint8_t, 4> raw;
        Rgbq16 rgb;
    } cases[] = {
        {{0, 0, 0, 0}, {65535, 65535, 65535, 0}},
        {{0, 0, 0, 255}, {0, 0, 0, 0}},
        {{0, 0, 255, 0}, {229 * 257, 229 * 257, 85 * 257, 0}},  // cyan
        {{0, 255, 0, 0}, {229 * 257, 85 * 257, 229 * 257, 0}},  // magenta
        {{255, 0, 0, 0}, {85 * 257, 229 * 257, 229 * 257, 0}},  // yellow
    };
    for (const Case& c : cases) {
        Rgbq16 got{};
        a.rd.fnPixelToRgbq16(&a.rd, c.raw.data(), &got);
        EXPECT_EQ(got, c.rgb);
    }
    std::array<uint8_t, 4> raw{9, 9, 9, 9};
    const Rgbq16 red{0, 0, 65535, 65535};
    a.rd.fnRgbq16ToPixel(&a.rd, raw.data(), &red);
    EXPECT_EQ(raw, (std::array<uint8_t, 4>{255, 255, 0, 0}));
    kelm::trdib_close(&a.rd);
    GlobalFree(h);
}

TEST(PixelConversions, PaletteIndicesPastTheBlockReadBlack)
{
    // Two table entries and one 8-bit pixel: index 255 would lie far past
    // the end of this 52-byte block.
    OneImage im(info_header(1, 1, 8, BI_RGB, 2), {q(1, 2, 3), q(4, 5, 6)}, {7, 8, 9, 0});
    EXPECT_EQ(im.rd.PaletteReadable, 3u);
    EXPECT_EQ(im.to16(1), (Rgbq16{4 * 257, 5 * 257, 6 * 257, 0}));
    EXPECT_EQ(im.to16(2), (Rgbq16{7 * 257, 8 * 257, 9 * 257, 0})) << "entry 2 is the pixel row itself";
    EXPECT_EQ(im.to16(3), (Rgbq16{0, 0, 0, 0}));
    EXPECT_EQ(im.to16(255), (Rgbq16{0, 0, 0, 0}));
}

// ---------------------------------------------------------------------------
// Nearest-colour search

namespace {

struct PaletteImage {
    HGLOBAL h;
    TRDIB rd{};
    explicit PaletteImage(const std::vector<RGBQUAD>& table, WORD bits = 8)
    {
        BlockSpec s;
        s.header = header_bytes(info_header(4, 1, bits, BI_RGB, static_cast<DWORD>(table.size())));
        s.table = table;
        s.pixels.resize(4);
        h = make_block(s);
        EXPECT_TRUE(kelm::trdib_open(h, &rd));
    }
    ~PaletteImage()
    {
        kelm::trdib_close(&rd);
        GlobalFree(h);
    }
};

DWORD rgb(int r, int g, int b)
{
    return static_cast<DWORD>(r | g << 8 | b << 16);
}

}  // namespace

TEST(PixelNearest, TiesGoToTheLowerIndex)
{
    PaletteImage im({q(0, 0, 0), q(0, 0, 20), q(0, 0, 10), q(0, 0, 30)});
    EXPECT_EQ(kelm::nearest_colour(&im.rd, rgb(20, 0, 0)), 1u);
    EXPECT_EQ(kelm::nearest_colour(&im.rd, rgb(15, 0, 0)), 1u) << "10 and 20 are both 5 away";
    EXPECT_EQ(kelm::nearest_colour(&im.rd, rgb(25, 0, 0)), 1u) << "20 and 30 are both 5 away";
    EXPECT_EQ(kelm::nearest_colour(&im.rd, rgb(255, 255, 255)), 3u);
}

TEST(PixelNearest, TheFirstColourOfAKeyDecidesForTheOthers)
{
    PaletteImage im({q(0, 0, 64), q(0, 0, 67)});
    EXPECT_EQ(kelm::nearest_colour(&im.rd, rgb(64, 0, 0)), 0u);
    // 67 shares the top six bits of 64, so it takes entry 0 from the cache
    // though entry 1 matches it exactly.
    EXPECT_EQ(kelm::nearest_colour(&im.rd, rgb(67, 0, 0)), 0u);
    EXPECT_EQ(kelm::scan_palette(&im.rd, rgb(67, 0, 0)), 1u);
    // Another key is searched afresh.
    EXPECT_EQ(kelm::nearest_colour(&im.rd, rgb(68, 0, 0)), 1u);
}

TEST(PixelNearest, EmptyTablesAndDeepImages)
{
    // biClrUsed counts as 16 bits: 0x10000 is an 8-bit image without a table.
    OneImage empty(info_header(4, 1, 8, BI_RGB, 0x10000), {}, {5, 5, 5, 5});
    EXPECT_EQ(empty.rd.PaletteEntries, 0u);
    EXPECT_EQ(kelm::nearest_colour(&empty.rd, 0x123456), 0u);
    EXPECT_EQ(empty.from16({65535, 65535, 65535, 0}), 0u);
    OneImage deep(info_header(1, 1, 24), {}, {0, 0, 0, 0});
    EXPECT_EQ(kelm::nearest_colour(&deep.rd, 0x00ABCDEFu), 0x00ABCDEFu) << "16 bits and more return the colour";
    EXPECT_EQ(deep.rd.hPaletteInversionCache, nullptr);
}

TEST(PixelNearest, TheScanCoversOnlyAddressableEntries)
{
    // A 1-bit image whose table has more entries than a bit can address:
    // the index found must be one the pixel can hold.
    std::vector<RGBQUAD> table = {q(0, 0, 0), q(100, 100, 100), q(255, 255, 255), q(250, 250, 250)};
    PaletteImage im(table, 1);
    EXPECT_EQ(im.rd.PaletteSearchable, 2u);
    EXPECT_EQ(kelm::nearest_colour(&im.rd, rgb(255, 255, 255)), 1u);
}

TEST(PixelNearest, TheCacheIsMadeOnceAndFreedAtClose)
{
    const size_t live = live_blocks(), locked = locked_blocks();
    {
        PaletteImage im(random_table(256, 9));
        const size_t opened = live_blocks();
        kelm::nearest_colour(&im.rd, rgb(1, 2, 3));
        EXPECT_NE(im.rd.hPaletteInversionCache, nullptr);
        EXPECT_EQ(GlobalSize(im.rd.hPaletteInversionCache), kelm::kInversionCacheBytes);
        EXPECT_EQ(live_blocks(), opened + 1);
        for (int i = 0; i < 100; ++i)
            kelm::nearest_colour(&im.rd, rgb(i, 2 * i, 255 - i));
        EXPECT_EQ(live_blocks(), opened + 1);
        EXPECT_EQ(locked_blocks(), locked + 1) << "only the image stays locked between searches";
    }
    EXPECT_EQ(live_blocks(), live);
    EXPECT_EQ(locked_blocks(), locked);
}

TEST(PixelNearest, ADiscardedCacheIsReplacedAndResultsStayRight)
{
    PaletteImage im({q(0, 0, 64), q(0, 0, 67)});
    EXPECT_EQ(kelm::nearest_colour(&im.rd, rgb(64, 0, 0)), 0u);
    const size_t live = live_blocks();
    kelm::testing::discard_discardable();
    ASSERT_TRUE(GlobalFlags(im.rd.hPaletteInversionCache) & GMEM_DISCARDED);
    // The old cache is gone with its entries: 67 is searched afresh.
    EXPECT_EQ(kelm::nearest_colour(&im.rd, rgb(67, 0, 0)), 1u);
    EXPECT_EQ(live_blocks(), live) << "the discarded block was freed, one new one made";
    EXPECT_FALSE(GlobalFlags(im.rd.hPaletteInversionCache) & GMEM_DISCARDED);
    EXPECT_EQ(kelm::nearest_colour(&im.rd, rgb(64, 0, 0)), 1u) << "and it now decides for its key";
}

TEST(PixelNearest, NoMemoryForTheCacheMeansAPlainScan)
{
    PaletteImage im({q(0, 0, 64), q(0, 0, 67)});
    const size_t live = live_blocks();
    for (int i = 0; i < 2; ++i) {
        kelm::testing::fail_allocation(1);
        EXPECT_EQ(kelm::nearest_colour(&im.rd, rgb(64, 0, 0)), 0u);
        kelm::testing::fail_allocation(1);
        EXPECT_EQ(kelm::nearest_colour(&im.rd, rgb(67, 0, 0)), 1u) << "nothing was cached";
        EXPECT_EQ(im.rd.hPaletteInversionCache, nullptr);
        EXPECT_EQ(live_blocks(), live);
    }
    kelm::testing::fail_allocation(0);
    EXPECT_EQ(kelm::nearest_colour(&im.rd, rgb(67, 0, 0)), 1u);
    EXPECT_NE(im.rd.hPaletteInversionCache, nullptr) << "the next search with memory makes the cache";
}

// ---------------------------------------------------------------------------
// The public record allocation

TEST(PixelOpen, RWOpenDIBWithoutMemoryLeavesNothing)
{
    HGLOBAL h = CreateDIB(8, 8, 24, 0);
    ASSERT_NE(h, nullptr);
    const size_t live = live_blocks(), locked = locked_blocks();
    kelm::testing::fail_allocation(1);
    EXPECT_EQ(RWOpenDIB(h), nullptr);
    EXPECT_EQ(live_blocks(), live);
    EXPECT_EQ(locked_blocks(), locked);
    LPTRDIB rw = RWOpenDIB(h);
    ASSERT_NE(rw, nullptr);
    EXPECT_EQ(live_blocks(), live + 1);
    EXPECT_EQ(locked_blocks(), locked + 1);
    EXPECT_EQ(RWClose(rw), nullptr);
    EXPECT_EQ(live_blocks(), live);
    EXPECT_EQ(locked_blocks(), locked);
    DIBFree(h);
}

TEST(PixelOpen, RWOpenDIBOnAnUnservedImageFreesItsRecord)
{
    HGLOBAL h = block_with(info_header(4, 4, 8, BI_RLE8, 2), 64);
    const size_t live = live_blocks(), locked = locked_blocks();
    EXPECT_EQ(RWOpenDIB(h), nullptr);
    EXPECT_EQ(live_blocks(), live);
    EXPECT_EQ(locked_blocks(), locked);
    GlobalFree(h);
}
