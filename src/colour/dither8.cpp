// Serpentine Floyd-Steinberg to an 8-bit palette. The error is kept in
// sixteenths without intermediate rounding (7 ahead, 3 below behind, 5 below,
// 1 below ahead) and rows alternate direction, the first right to left, which
// breaks up the diagonal worms a one-way scan leaves. Three palettes: a
// uniform cube with a 17-step grey ramp (mapped by table look-up), the most
// frequent 15-bit colours (optionally after a cube, then the standard 16), or
// a caller's table; the last two map through a nearest search cached per
// 15-bit cell. All tables and the cache belong to the call, so calls may run
// at the same time on different threads.
#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "colour/dither.h"

namespace kelm {

namespace {

struct Palette {
    RGBQUAD entries[256] = {};
    int inUse = 0;
    bool cube = false;
    int levels = 0;
    int cubeSize = 0;        // levels^3, where the grey ramp starts
    BYTE level[3][256] = {}; // blue level, green level x n, red level x n^2
    int half[3][256] = {};   // blue, green, red of each entry, halved (nearest search)
};

inline uint32_t key15(unsigned b, unsigned g, unsigned r)
{
    return ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
}

// The nPopular most frequent 15-bit cells, ranked by count, ties to the
// smaller key; ranks past the colours present hold key 0 (black) and, in
// the last rank, the last empty key scanned.
void popular_colours(const DitherSource& src, int popular, Palette& pal)
{
    std::vector<uint32_t> count(32768, 0);
    std::vector<BYTE> bgr(static_cast<size_t>(src.width) * 3);
    for (uint32_t y = 0; y < src.rows; ++y) {
        read_bgr_row(src, y, bgr.data());
        for (uint32_t x = 0; x < src.width; ++x)
            ++count[key15(bgr[3 * x], bgr[3 * x + 1], bgr[3 * x + 2])];
    }
    struct Rank {
        uint32_t count, key;
    };
    std::array<Rank, 256> list{};
    for (uint32_t key = 0; key < 32768; ++key) {
        const uint32_t c = count[key];
        if (c < list[255].count)
            continue;
        int p = 0;
        while (p < 255 && !(list[static_cast<size_t>(p)].count < c))
            ++p;
        if (p < 255)
            std::copy_backward(list.begin() + p, list.begin() + 255, list.begin() + 256);
        list[static_cast<size_t>(p)] = Rank{c, key};
    }
    for (int i = 0; i < popular; ++i) {
        const uint32_t key = list[static_cast<size_t>(i)].key;
        pal.entries[pal.inUse++] = RGBQUAD{static_cast<BYTE>((key & 31) << 3), static_cast<BYTE>(((key >> 5) & 31) << 3),
                                           static_cast<BYTE>(((key >> 10) & 31) << 3), 0};
    }
}

bool build_palette(const DitherSource& src, int levels, int popular, const void* lpbiPalette, Palette& pal)
{
    if (lpbiPalette) {
        // The table lies 40 bytes in, whatever the header's size says.
        const uint64_t need = kInfoHeaderSize + 256 * sizeof(RGBQUAD);
        if (HGLOBAL h = GlobalHandle(lpbiPalette))
            if (GlobalSize(h) < need)
                return false;
        if (ld16(lpbiPalette, bih::BitCount) != 8)
            return false;
        std::memcpy(pal.entries, static_cast<const BYTE*>(lpbiPalette) + kInfoHeaderSize, sizeof pal.entries);
        const uint32_t important = ld32(lpbiPalette, bih::ClrImportant);
        pal.inUse = important >= 1 && important <= 255 ? static_cast<int>(important) : 255;
        return true;
    }
    if (levels == 1 || levels < 0 || levels > 6 || popular < 0 || popular > 255 || (levels == 0 && popular == 0))
        return false;
    if (levels >= 2) {
        const int n = levels, step = 255 / (n - 1), half = step / 2;
        for (int v = 0; v < 256; ++v) {
            const int lv = v < half ? 0 : 1 + (v - half) / step;
            pal.level[0][v] = static_cast<BYTE>(lv);
            pal.level[1][v] = static_cast<BYTE>(lv * n);
            pal.level[2][v] = static_cast<BYTE>(lv * n * n);
        }
        for (int r = 0; r < n; ++r)
            for (int g = 0; g < n; ++g)
                for (int b = 0; b < n; ++b)
                    pal.entries[pal.inUse++] = RGBQUAD{static_cast<BYTE>(b * step), static_cast<BYTE>(g * step),
                                                       static_cast<BYTE>(r * step), 0};
        pal.levels = n;
        pal.cubeSize = n * n * n;
        if (popular == 0) {
            for (int i = 0; i < 16; ++i) {
                const BYTE v = static_cast<BYTE>(16 * i);
                pal.entries[pal.inUse++] = RGBQUAD{v, v, v, 0};
            }
            pal.entries[pal.inUse++] = RGBQUAD{255, 255, 255, 0};
            pal.cube = true;
            return true;
        }
    }
    // More entries than a table holds have no meaning: refused.
    if (pal.inUse + popular > 256)
        return false;
    popular_colours(src, popular, pal);
    if (pal.inUse <= 240) {
        std::copy_n(kStandard16, 16, pal.entries + pal.inUse);
        pal.inUse += 16;
    }
    return true;
}

// Nearest entry by ((db')^2 >> 2) + (dg')^2 + ((dr')^2 >> 1) on values
// halved, blue counted least and green most; the first best entry wins.
int nearest_index(const Palette& pal, int b, int g, int r)
{
    b >>= 1;
    g >>= 1;
    r >>= 1;
    // All distances first (a loop the compiler vectorises), then the first
    // smallest: the same choice as a running minimum.
    int dist[256];
    const int n = pal.inUse;
    for (int i = 0; i < n; ++i) {
        const int db = pal.half[0][i] - b, dg = pal.half[1][i] - g, dr = pal.half[2][i] - r;
        dist[i] = ((db * db) >> 2) + dg * dg + ((dr * dr) >> 1);
    }
    int best = 0, bestD = 0x7FFFFFFF;
    for (int i = 0; i < n; ++i) {
        if (dist[i] < bestD) {
            bestD = dist[i];
            best = i;
        }
    }
    return best;
}

// Both kinds of row below keep a channel's error slots 0..w+1 (column x
// reads slot x + 1) in three planes of `span` int16_t, and the row's own
// errors in three planes of `span`, column x at x + 2, two zero columns either
// side. The errors handed to the row below are all written after the row: no
// pixel reads what an earlier pixel of its row leaves below, so the sums are
// those of pixel-by-pixel diffusion. Each pixel gives 3/16 of its error to
// the slot behind it, 5/16 to the one below it and 1/16 to the one ahead of
// it; a rightward row (D = 1) writes slots 0..w-1, a leftward one slots
// 2..w+1, and the others keep what they held. In 16-bit lanes the sums wrap
// exactly as the conversion of their int values to int16_t does.
template <int D>
void spread_errors(int16_t* below, const int16_t* e, size_t span, uint32_t w)
{
    for (int ch = 0; ch < 3; ++ch) {
        int16_t* slot = below + static_cast<size_t>(ch) * span + (D > 0 ? 0 : 2);
        const int16_t* threes = e + static_cast<size_t>(ch) * span + 2;  // 3/16: column k
        const int16_t* fives = threes - D;                               // 5/16: column k - D
        const int16_t* ones = threes - 2 * D;                            // 1/16: column k - 2D
        uint32_t k = 0;
#if defined(__SSE2__)
        for (; k + 8 <= w; k += 8) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(threes + k));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(fives + k));
            const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ones + k));
            const __m128i sum = _mm_add_epi16(_mm_add_epi16(_mm_add_epi16(a, _mm_slli_epi16(a, 1)),
                                                            _mm_add_epi16(b, _mm_slli_epi16(b, 2))), c);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(slot + k), sum);
        }
#endif
        for (; k < w; ++k)
            slot[k] = static_cast<int16_t>(3 * threes[k] + 5 * fives[k] + ones[k]);
    }
}

// A palette's channels and 7 x them, by cache value (entry + 1), so that the
// carried 7 x error is 7 x the sample minus a table value.
struct SearchTables {
    int b[257], g[257], r[257];
    int b7[257], g7[257], r7[257];
};

// A row against a searched palette (popular colours or the caller's),
// direction D, the nearest entry of each 15-bit cell cached for the call.
template <int D>
void search_row(const BYTE* bgr, int16_t* below, int16_t* e, size_t span, uint32_t w, BYTE* out,
                const Palette& pal, BYTE* cache, const SearchTables& t)
{
    int c0 = 0, c1 = 0, c2 = 0;  // carry, 7 x error
    const int16_t* s0 = below + 1;
    const int16_t* s1 = below + span + 1;
    const int16_t* s2 = below + 2 * span + 1;
    int16_t* e0p = e + 2;
    int16_t* e1p = e + span + 2;
    int16_t* e2p = e + 2 * span + 2;
    int64_t x = D > 0 ? 0 : static_cast<int64_t>(w) - 1;
    for (uint32_t i = 0; i < w; ++i, x += D) {
        const BYTE* c = bgr + static_cast<size_t>(x) * 3;
        const int v0 = std::clamp(c[0] + ((c0 + s0[x]) >> 4), 0, 255);
        const int v1 = std::clamp(c[1] + ((c1 + s1[x]) >> 4), 0, 255);
        const int v2 = std::clamp(c[2] + ((c2 + s2[x]) >> 4), 0, 255);
        const uint32_t key = key15(static_cast<unsigned>(v0), static_cast<unsigned>(v1), static_cast<unsigned>(v2));
        int k = cache[key];
        if (k == 0) {
            k = nearest_index(pal, v0, v1, v2) + 1;
            cache[key] = static_cast<BYTE>(k);  // 256 (entry 255) stays uncached
        }
        out[x] = static_cast<BYTE>(k - 1);
        e0p[x] = static_cast<int16_t>(v0 - t.b[k]);
        e1p[x] = static_cast<int16_t>(v1 - t.g[k]);
        e2p[x] = static_cast<int16_t>(v2 - t.r[k]);
        c0 = 7 * v0 - t.b7[k];
        c1 = 7 * v1 - t.g7[k];
        c2 = 7 * v2 - t.r7[k];
    }
    spread_errors<D>(below, e, span, w);
}

// Rows alternate direction, the first right to left.
void dither_search(const DitherSource& src, const Palette& pal, BYTE* out, uint64_t outStride)
{
    const uint32_t w = src.width;
    const size_t span = static_cast<size_t>(w) + 4;
    std::vector<int16_t> below(3 * span, 0);
    std::vector<int16_t> e(3 * span, 0);
    std::vector<BYTE> cache(32768, 0);
    std::vector<BYTE> bgr(static_cast<size_t>(w) * 3);
    auto t = std::make_unique<SearchTables>();
    for (int i = 0; i < 256; ++i) {
        t->b[i + 1] = pal.entries[i].rgbBlue;
        t->g[i + 1] = pal.entries[i].rgbGreen;
        t->r[i + 1] = pal.entries[i].rgbRed;
        t->b7[i + 1] = 7 * t->b[i + 1];
        t->g7[i + 1] = 7 * t->g[i + 1];
        t->r7[i + 1] = 7 * t->r[i + 1];
    }
    for (uint32_t y = 0; y < src.rows; ++y, out += outStride) {
        read_bgr_row(src, y, bgr.data());
        if (y & 1)
            search_row<1>(bgr.data(), below.data(), e.data(), span, w, out, pal, cache.data(), *t);
        else
            search_row<-1>(bgr.data(), below.data(), e.data(), span, w, out, pal, cache.data(), *t);
    }
}

// The cube palette's rows. Off the grey diagonal the chosen entry's channel
// is the level value of that channel alone, so each channel's error is a
// function of its own unclamped sum u = sample + (error in) / 16, read from a
// table; the three error chains then run side by side without waiting for
// the index. On the diagonal the grey ramp entry is taken instead, selected
// without a branch. Same sums, same clamps as search_row.
//
// u stays within [-256, 511]: every error is a difference of two bytes, so
// the sixteenths that reach a pixel (7 + 3 + 5 + 1 of them) sum to at most
// 16 x 255 in size.
constexpr int kUBias = 256;
constexpr int kUSpan = 768;

struct CubeTables {
    int errU[kUSpan];       // clamp(u) minus its level's value
    int errU7[kUSpan];      // 7 x errU
    int greyErrU[kUSpan];   // clamp(u) minus the value of its grey ramp entry
    int greyErrU7[kUSpan];  // 7 x greyErrU
    const BYTE (*level)[256];
    int cubeSize;
};

// The carried value of a channel, 7 x its error, comes straight from a table
// indexed by u (the grey ramp's or the cube's, chosen by a comparison of the
// clamped channels computed alongside), so the chain from one pixel to the
// next is a load, a select, and the add and shift that form the next u.
// The errors for the row below go as in search_row.
template <int D>
void cube_row(const BYTE* bgr, int16_t* below, int16_t* e, size_t span, uint32_t w, BYTE* out, const CubeTables& t)
{
    int c0 = 0, c1 = 0, c2 = 0;  // carry, 7 x error
    const int* errU = t.errU + kUBias;
    const int* errU7 = t.errU7 + kUBias;
    const int* greyErrU = t.greyErrU + kUBias;
    const int* greyErrU7 = t.greyErrU7 + kUBias;
    const int16_t* s0 = below + 1;
    const int16_t* s1 = below + span + 1;
    const int16_t* s2 = below + 2 * span + 1;
    int16_t* e0p = e + 2;
    int16_t* e1p = e + span + 2;
    int16_t* e2p = e + 2 * span + 2;
    int64_t x = D > 0 ? 0 : static_cast<int64_t>(w) - 1;
    for (uint32_t i = 0; i < w; ++i, x += D) {
        const BYTE* c = bgr + static_cast<size_t>(x) * 3;
        const int u0 = c[0] + ((c0 + s0[x]) >> 4);
        const int u1 = c[1] + ((c1 + s1[x]) >> 4);
        const int u2 = c[2] + ((c2 + s2[x]) >> 4);
        const int v0 = std::clamp(u0, 0, 255), v1 = std::clamp(u1, 0, 255), v2 = std::clamp(u2, 0, 255);
        const bool grey = v0 == v1 && v1 == v2;
        const int cubeIndex = t.level[0][v0] + t.level[1][v1] + t.level[2][v2];
        const int greyIndex = t.cubeSize + ((v0 + 8) >> 4);
        out[x] = static_cast<BYTE>(grey ? greyIndex : cubeIndex);
        const int g = greyErrU[u0], g7 = greyErrU7[u0];
        e0p[x] = static_cast<int16_t>(grey ? g : errU[u0]);
        e1p[x] = static_cast<int16_t>(grey ? g : errU[u1]);
        e2p[x] = static_cast<int16_t>(grey ? g : errU[u2]);
        c0 = grey ? g7 : errU7[u0];
        c1 = grey ? g7 : errU7[u1];
        c2 = grey ? g7 : errU7[u2];
    }
    spread_errors<D>(below, e, span, w);
}

void dither_cube(const DitherSource& src, const Palette& pal, BYTE* out, uint64_t outStride)
{
    const uint32_t w = src.width;
    const size_t span = static_cast<size_t>(w) + 4;
    std::vector<int16_t> below(3 * span, 0);
    std::vector<int16_t> e(3 * span, 0);
    std::vector<BYTE> bgr(static_cast<size_t>(w) * 3);
    auto t = std::make_unique<CubeTables>();
    for (int i = 0; i < kUSpan; ++i) {
        const int v = std::clamp(i - kUBias, 0, 255);
        t->errU[i] = v - pal.entries[pal.level[0][v]].rgbBlue;  // the blue level's entry holds that value
        t->errU7[i] = 7 * t->errU[i];
        t->greyErrU[i] = v - pal.entries[pal.cubeSize + ((v + 8) >> 4)].rgbBlue;
        t->greyErrU7[i] = 7 * t->greyErrU[i];
    }
    t->level = pal.level;
    t->cubeSize = pal.cubeSize;
    for (uint32_t y = 0; y < src.rows; ++y, out += outStride) {
        read_bgr_row(src, y, bgr.data());
        if (y & 1)
            cube_row<1>(bgr.data(), below.data(), e.data(), span, w, out, *t);
        else
            cube_row<-1>(bgr.data(), below.data(), e.data(), span, w, out, *t);
    }
}

}  // namespace

HGLOBAL dither_to_8(const void* lpbi, int levels, int popular, const void* lpbiPalette)
{
    DitherSource src;
    if (!open_dither_source(lpbi, (1u << 16) | (1u << 24) | (1ull << 32), &src))
        return nullptr;
    auto pal = std::make_unique<Palette>();
    if (!build_palette(src, levels, popular, lpbiPalette, *pal))
        return nullptr;
    DibLayout l;
    FilledImage result(make_dither_result(src, 8, static_cast<uint32_t>(pal->inUse), &l));
    BYTE* p = result.bytes();
    if (!p)
        return nullptr;
    std::memcpy(p + kInfoHeaderSize, pal->entries, sizeof pal->entries);
    for (int i = 0; i < 256; ++i) {
        pal->half[0][i] = pal->entries[i].rgbBlue >> 1;
        pal->half[1][i] = pal->entries[i].rgbGreen >> 1;
        pal->half[2][i] = pal->entries[i].rgbRed >> 1;
    }
    if (pal->cube)
        dither_cube(src, *pal, p + l.pixelOffset, l.stride);
    else
        dither_search(src, *pal, p + l.pixelOffset, l.stride);
    return result.release();
}

}  // namespace kelm
