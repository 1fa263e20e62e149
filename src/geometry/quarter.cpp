// The right-angle copiers of RotateDIB: pixels move unchanged, bytes for 8 to
// 32 bits and single bits for 1-bit images, and the colour table is never
// consulted. A quarter turn is a transposition with one axis reversed; done
// row by row it would read the source down its columns, one cache line per
// pixel, so it works in square tiles small enough that a tile's source and
// destination lines both stay in the first-level cache. 1-bit images are
// turned eight rows by eight columns at a time with the 8 x 8 bit transpose
// of three masked shift-and-swap steps on a 64-bit word.
#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "geometry/geometry.h"

namespace kelm {

namespace {

// Pixel array and second-plane distance of a checked, uncompressed layout.
struct Planes {
    BYTE* bits;
    uint64_t second;  // offset of the second plane from bits (two-plane form)
    int count;        // planes to copy
};

// The second plane lies biSizeImage / 2 past the first, with biSizeImage
// completed as DIBInfo reports it; a plane that would not lie inside the
// block is not copied.
Planes planes_of(const LockedDib& d)
{
    const DibLayout& l = d.layout();
    Planes p{d.bytes() + l.pixelOffset, 0, 1};
    if (l.planes == 2) {
        uint64_t sizeImage = ld32(d.bytes(), bih::SizeImage);
        if (l.compression == BI_RGB && sizeImage < l.planeBytes)
            sizeImage = l.planeBytes;
        p.second = sizeImage / 2;
        if (l.pixelOffset + p.second + l.planeBytes <= d.block_size())
            p.count = 2;
    }
    return p;
}

bool copier_layouts(const LockedDib& src, const LockedDib& dst, int64_t dstW, int64_t dstH)
{
    const uint32_t bits = src.layout().bitCount;
    if (bits != 1 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return false;
    const DibLayout& s = src.layout();
    const DibLayout& d = dst.layout();
    return !s.compressed && !d.compressed && !s.core && !d.core && s.height >= 0 && d.height >= 0 &&
           s.bitCount == d.bitCount && s.planes == d.planes && d.width == dstW && d.height == dstH &&
           s.width <= 0x7FFFFFFF && s.height <= 0x7FFFFFFF;
}

// Tiles of T x T pixels: T = 64 keeps a tile of 4-byte pixels at 16 KB per
// image, inside any first-level data cache.
template <unsigned B>
void quarter_plain(const BYTE* src, size_t sStride, BYTE* dst, size_t dStride, int64_t W, int64_t H, int d)
{
    constexpr int64_t T = B >= 3 ? 32 : 64;
    for (int64_t i0 = 0; i0 < W; i0 += T) {
        const int64_t i1 = std::min(W, i0 + T);
        for (int64_t j0 = 0; j0 < H; j0 += T) {
            const int64_t j1 = std::min(H, j0 + T);
            for (int64_t i = i0; i < i1; ++i) {
                // Destination row i is source column c; its pixel j comes
                // from stored row H - 1 - j (900) or j (2700).
                const int64_t c = d == 0 ? i : W - 1 - i;
                BYTE* out = dst + static_cast<size_t>(i) * dStride + static_cast<size_t>(j0) * B;
                const BYTE* in;
                ptrdiff_t step;
                if (d == 0) {
                    in = src + static_cast<size_t>(H - 1 - j0) * sStride + static_cast<size_t>(c) * B;
                    step = -static_cast<ptrdiff_t>(sStride);
                } else {
                    in = src + static_cast<size_t>(j0) * sStride + static_cast<size_t>(c) * B;
                    step = static_cast<ptrdiff_t>(sStride);
                }
                for (int64_t j = j0; j < j1; ++j, out += B, in += step)
                    std::memcpy(out, in, B);
            }
        }
    }
}

template <unsigned B>
void quarter_bytes(const BYTE* src, size_t sStride, BYTE* dst, size_t dStride, int64_t W, int64_t H, int d)
{
    quarter_plain<B>(src, sStride, dst, dStride, W, H, d);
}

// Asks for the cache lines of bytes [from, to) of a row ahead of their use.
inline void prefetch_range(const BYTE* row, int64_t from, int64_t to, bool forWrite)
{
    const uintptr_t last = reinterpret_cast<uintptr_t>(row + to - 1);
    for (uintptr_t x = reinterpret_cast<uintptr_t>(row + from) & ~uintptr_t{63}; x <= last; x += 64) {
        if (forWrite)
            __builtin_prefetch(reinterpret_cast<const void*>(x), 1);
        else
            __builtin_prefetch(reinterpret_cast<const void*>(x), 0);
    }
}

// 24-bit pixels: four destination pixels (twelve bytes) at a time, each
// source pixel read as one 4-byte word and the four packed into two stores,
// instead of three byte moves per pixel. The word at a pixel reaches one byte
// into the next pixel of the row; in the last column it is read from one byte
// earlier instead, so nothing past the row's pixels is touched. Tiles of
// 64 x 64 keep 12 KB of source and of destination in the first-level cache.
void quarter_rgb(const BYTE* src, size_t sStride, BYTE* dst, size_t dStride, int64_t W, int64_t H, int d)
{
    if (std::endian::native != std::endian::little || W < 2) {
        quarter_plain<3>(src, sStride, dst, dStride, W, H, d);
        return;
    }
    constexpr int64_t T = 64;
    constexpr uint64_t M = 0xFFFFFF;
    const ptrdiff_t step = d == 0 ? -static_cast<ptrdiff_t>(sStride) : static_cast<ptrdiff_t>(sStride);
    auto word = [](const BYTE* p) {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return uint64_t{v};
    };
    for (int64_t i0 = 0; i0 < W; i0 += T) {
        const int64_t i1 = std::min(W, i0 + T);
        for (int64_t j0 = 0; j0 < H; j0 += T) {
            const int64_t j1 = std::min(H, j0 + T);
            const int64_t r0 = d == 0 ? H - 1 - j0 : j0;
            // The next tile's lines are requested before this one is done:
            // each of its source rows and destination rows lies on a page
            // of its own, which the hardware prefetchers do not follow, and
            // waiting for each line on demand costs more than the copying.
            const int64_t na = j1, nb = std::min(H, j1 + T);
            if (na < nb) {
                const int64_t ca = d == 0 ? i0 : W - i1, cb = d == 0 ? i1 : W - i0;
                for (int64_t j = na; j < nb; ++j)
                    prefetch_range(src + static_cast<size_t>(d == 0 ? H - 1 - j : j) * sStride, ca * 3, cb * 3, false);
                for (int64_t i = i0; i < i1; ++i)
                    prefetch_range(dst + static_cast<size_t>(i) * dStride, na * 3, nb * 3, true);
            }
            for (int64_t i = i0; i < i1; ++i) {
                const int64_t c = d == 0 ? i : W - 1 - i;
                const ptrdiff_t back = c == W - 1 ? 1 : 0;
                const unsigned shift = static_cast<unsigned>(back) * 8;
                BYTE* out = dst + static_cast<size_t>(i) * dStride + static_cast<size_t>(j0) * 3;
                ptrdiff_t at = static_cast<ptrdiff_t>(static_cast<size_t>(r0) * sStride + static_cast<size_t>(c) * 3) - back;
                int64_t j = j0;
                for (; j + 4 <= j1; j += 4, out += 12, at += 4 * step) {
                    const uint64_t p0 = (word(src + at) >> shift) & M;
                    const uint64_t p1 = (word(src + at + step) >> shift) & M;
                    const uint64_t p2 = (word(src + at + 2 * step) >> shift) & M;
                    const uint64_t p3 = (word(src + at + 3 * step) >> shift) & M;
                    const uint64_t lo = p0 | (p1 << 24) | (p2 << 48);
                    const uint32_t hi = static_cast<uint32_t>((p2 >> 16) | (p3 << 8));
                    std::memcpy(out, &lo, 8);
                    std::memcpy(out + 8, &hi, 4);
                }
                for (; j < j1; ++j, out += 3, at += step)
                    std::memcpy(out, src + at + back, 3);
            }
        }
    }
}

#if defined(__SSE2__)
// 32-bit pixels: 4 x 4 blocks transposed in SSE2 registers (two rounds of
// interleaving), 32 x 32 pixels per tile; the edges go through the plain loop.
void quarter_quad(const BYTE* src, size_t sStride, BYTE* dst, size_t dStride, int64_t W, int64_t H, int d)
{
    const int64_t W4 = W - W % 4, H4 = H - H % 4;
    constexpr int64_t T = 32;
    for (int64_t c0 = 0; c0 < W4; c0 += T)
        for (int64_t j0 = 0; j0 < H4; j0 += T) {
            // As for 24 bits: the next tile's lines are asked for early.
            const int64_t c1 = std::min(W4, c0 + T), na = j0 + T, nb = std::min(H4, j0 + 2 * T);
            for (int64_t j = na; j < nb; ++j)
                prefetch_range(src + static_cast<size_t>(d == 0 ? H - 1 - j : j) * sStride, c0 * 4, c1 * 4, false);
            if (na < nb)
                for (int64_t c = c0; c < c1; ++c)
                    prefetch_range(dst + static_cast<size_t>(d == 0 ? c : W - 1 - c) * dStride, na * 4, nb * 4, true);
            for (int64_t cb = c0; cb < c1; cb += 4)
                for (int64_t jb = j0; jb < std::min(H4, j0 + T); jb += 4) {
                    __m128i a[4];
                    for (int t = 0; t < 4; ++t) {
                        const int64_t r = d == 0 ? H - 1 - (jb + t) : jb + t;
                        a[t] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + static_cast<size_t>(r) * sStride +
                                                                                static_cast<size_t>(cb) * 4));
                    }
                    const __m128i b0 = _mm_unpacklo_epi32(a[0], a[1]), b1 = _mm_unpackhi_epi32(a[0], a[1]);
                    const __m128i b2 = _mm_unpacklo_epi32(a[2], a[3]), b3 = _mm_unpackhi_epi32(a[2], a[3]);
                    // Column u of the block, rows 0 .. 3.
                    const __m128i cols[4] = {_mm_unpacklo_epi64(b0, b2), _mm_unpackhi_epi64(b0, b2),
                                             _mm_unpacklo_epi64(b1, b3), _mm_unpackhi_epi64(b1, b3)};
                    for (int u = 0; u < 4; ++u) {
                        const int64_t c = cb + u;
                        const int64_t i = d == 0 ? c : W - 1 - c;
                        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + static_cast<size_t>(i) * dStride +
                                                                    static_cast<size_t>(jb) * 4),
                                         cols[u]);
                    }
                }
        }
    for (int64_t c = 0; c < W; ++c) {
        const int64_t i = d == 0 ? c : W - 1 - c;
        for (int64_t j = c < W4 ? H4 : 0; j < H; ++j) {
            const int64_t r = d == 0 ? H - 1 - j : j;
            std::memcpy(dst + static_cast<size_t>(i) * dStride + static_cast<size_t>(j) * 4,
                        src + static_cast<size_t>(r) * sStride + static_cast<size_t>(c) * 4, 4);
        }
    }
}
#endif

#if defined(__SSE2__)
// 8-bit pixels: 8 x 8 blocks transposed in SSE2 registers by three rounds of
// interleaving (bytes, words, double words), 64 x 64 pixels per tile; the
// edges that do not fill a block go through the plain loop, which gives the
// same bytes.
template <>
void quarter_bytes<1>(const BYTE* src, size_t sStride, BYTE* dst, size_t dStride, int64_t W, int64_t H, int d)
{
    const int64_t W8 = W - W % 8, H8 = H - H % 8;
    constexpr int64_t T = 64;
    for (int64_t c0 = 0; c0 < W8; c0 += T)
        for (int64_t j0 = 0; j0 < H8; j0 += T) {
            // As for 24 bits: the next tile's lines are asked for early.
            const int64_t c1 = std::min(W8, c0 + T), na = j0 + T, nb = std::min(H8, j0 + 2 * T);
            for (int64_t j = na; j < nb; ++j)
                prefetch_range(src + static_cast<size_t>(d == 0 ? H - 1 - j : j) * sStride, c0, c1, false);
            if (na < nb)
                for (int64_t c = c0; c < c1; ++c)
                    prefetch_range(dst + static_cast<size_t>(d == 0 ? c : W - 1 - c) * dStride, na, nb, true);
            for (int64_t cb = c0; cb < c1; cb += 8)
                for (int64_t jb = j0; jb < std::min(H8, j0 + T); jb += 8) {
                    __m128i a[8];
                    for (int t = 0; t < 8; ++t) {
                        const int64_t r = d == 0 ? H - 1 - (jb + t) : jb + t;
                        a[t] = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + static_cast<size_t>(r) * sStride +
                                                                                 static_cast<size_t>(cb)));
                    }
                    const __m128i b0 = _mm_unpacklo_epi8(a[0], a[1]), b1 = _mm_unpacklo_epi8(a[2], a[3]);
                    const __m128i b2 = _mm_unpacklo_epi8(a[4], a[5]), b3 = _mm_unpacklo_epi8(a[6], a[7]);
                    const __m128i e0 = _mm_unpacklo_epi16(b0, b1), e1 = _mm_unpackhi_epi16(b0, b1);
                    const __m128i e2 = _mm_unpacklo_epi16(b2, b3), e3 = _mm_unpackhi_epi16(b2, b3);
                    // Each holds two source columns of eight rows.
                    const __m128i cols[4] = {_mm_unpacklo_epi32(e0, e2), _mm_unpackhi_epi32(e0, e2),
                                             _mm_unpacklo_epi32(e1, e3), _mm_unpackhi_epi32(e1, e3)};
                    for (int u = 0; u < 8; ++u) {
                        const int64_t c = cb + u;
                        const int64_t i = d == 0 ? c : W - 1 - c;
                        const __m128i v = (u & 1) ? _mm_srli_si128(cols[u / 2], 8) : cols[u / 2];
                        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + static_cast<size_t>(i) * dStride +
                                                                    static_cast<size_t>(jb)),
                                         v);
                    }
                }
        }
    // Edges: source columns W8 .. W-1 over all rows, and rows H8 .. H-1.
    for (int64_t c = 0; c < W; ++c) {
        const int64_t i = d == 0 ? c : W - 1 - c;
        for (int64_t j = c < W8 ? H8 : 0; j < H; ++j) {
            const int64_t r = d == 0 ? H - 1 - j : j;
            dst[static_cast<size_t>(i) * dStride + static_cast<size_t>(j)] =
                src[static_cast<size_t>(r) * sStride + static_cast<size_t>(c)];
        }
    }
}
#endif

// Transposes the 8 x 8 bit matrix whose rows are the bytes of x (row 0 the
// most significant byte, column 0 bit 7 of each).
inline uint64_t transpose8(uint64_t x)
{
    uint64_t t;
    t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAull;
    x = x ^ t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCull;
    x = x ^ t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ull;
    x = x ^ t ^ (t << 28);
    return x;
}

void quarter_bits(const BYTE* src, size_t sStride, BYTE* dst, size_t dStride, int64_t W, int64_t H, int d)
{
    // Eight destination pixels j0 .. j0 + 7 (one destination byte) come from
    // eight source rows; one source byte holds eight source columns, which
    // are eight destination rows.
    const int64_t srcBytes = (W + 7) / 8;
    for (int64_t j0 = 0; j0 < H; j0 += 8) {
        const BYTE* rows[8];
        const int64_t n = std::min<int64_t>(8, H - j0);
        for (int64_t t = 0; t < n; ++t) {
            const int64_t r = d == 0 ? H - 1 - (j0 + t) : j0 + t;
            rows[t] = src + static_cast<size_t>(r) * sStride;
        }
        const size_t outByte = static_cast<size_t>(j0 / 8);
        for (int64_t k = 0; k < srcBytes; ++k) {
            uint64_t x = 0;
            for (int64_t t = 0; t < n; ++t)
                x |= static_cast<uint64_t>(rows[t][k]) << (56 - 8 * t);
            // Rows missing at the bottom are zero: a final partial byte keeps
            // its pixels in the top bits and zeros below.
            x = transpose8(x);
            const int64_t cols = std::min<int64_t>(8, W - 8 * k);
            for (int64_t u = 0; u < cols; ++u) {
                const int64_t c = 8 * k + u;
                const int64_t i = d == 0 ? c : W - 1 - c;
                dst[static_cast<size_t>(i) * dStride + outByte] = static_cast<BYTE>(x >> (56 - 8 * u));
            }
        }
    }
}

template <unsigned B>
void half_bytes(const BYTE* src, size_t sStride, BYTE* dst, size_t dStride, int64_t W, int64_t H)
{
    for (int64_t i = 0; i < H; ++i) {
        const BYTE* in = src + static_cast<size_t>(H - 1 - i) * sStride + static_cast<size_t>(W - 1) * B;
        BYTE* out = dst + static_cast<size_t>(i) * dStride;
        for (int64_t j = 0; j < W; ++j, out += B, in -= B)
            std::memcpy(out, in, B);
    }
}

// Half turn of 1-bit rows: destination pixel j is source pixel W - 1 - j,
// collected eight at a time most significant bit first; the last byte's
// unused low bits stay zero.
void half_bits(const BYTE* src, size_t sStride, BYTE* dst, size_t dStride, int64_t W, int64_t H)
{
    for (int64_t i = 0; i < H; ++i) {
        const BYTE* in = src + static_cast<size_t>(H - 1 - i) * sStride;
        BYTE* out = dst + static_cast<size_t>(i) * dStride;
        unsigned acc = 0;
        int n = 0;
        for (int64_t j = 0; j < W; ++j) {
            const uint64_t c = static_cast<uint64_t>(W - 1 - j);
            acc = (acc << 1) | ((in[c >> 3] >> (7 - (c & 7))) & 1u);
            if (++n == 8) {
                *out++ = static_cast<BYTE>(acc);
                acc = 0;
                n = 0;
            }
        }
        if (n)
            *out = static_cast<BYTE>(acc << (8 - n));
    }
}

}  // namespace

bool quarter_turn(const LockedDib& src, const LockedDib& dst, int d)
{
    const int64_t W = src.layout().width, H = src.layout().height;
    if (!copier_layouts(src, dst, H, W))
        return false;
    const Planes sp = planes_of(src), dp = planes_of(dst);
    if (sp.count != static_cast<int>(src.layout().planes) || dp.count != sp.count)
        return false;
    const size_t ss = static_cast<size_t>(src.layout().stride), ds = static_cast<size_t>(dst.layout().stride);
    for (int plane = 0; plane < std::min(sp.count, dp.count); ++plane) {
        const BYTE* s = sp.bits + (plane ? sp.second : 0);
        BYTE* o = dp.bits + (plane ? dp.second : 0);
        switch (src.layout().bitCount) {
        case 1: quarter_bits(s, ss, o, ds, W, H, d); break;
        case 8: quarter_bytes<1>(s, ss, o, ds, W, H, d); break;
        case 16: quarter_bytes<2>(s, ss, o, ds, W, H, d); break;
        case 24: quarter_rgb(s, ss, o, ds, W, H, d); break;
#if defined(__SSE2__)
        case 32: quarter_quad(s, ss, o, ds, W, H, d); break;
#else
        case 32: quarter_bytes<4>(s, ss, o, ds, W, H, d); break;
#endif
        default: return false;
        }
    }
    return true;
}

bool half_turn(const LockedDib& src, const LockedDib& dst)
{
    const int64_t W = src.layout().width, H = src.layout().height;
    if (!copier_layouts(src, dst, W, H))
        return false;
    const Planes sp = planes_of(src), dp = planes_of(dst);
    if (sp.count != static_cast<int>(src.layout().planes) || dp.count != sp.count)
        return false;
    const size_t ss = static_cast<size_t>(src.layout().stride), ds = static_cast<size_t>(dst.layout().stride);
    for (int plane = 0; plane < std::min(sp.count, dp.count); ++plane) {
        const BYTE* s = sp.bits + (plane ? sp.second : 0);
        BYTE* o = dp.bits + (plane ? dp.second : 0);
        switch (src.layout().bitCount) {
        case 1: half_bits(s, ss, o, ds, W, H); break;
        case 8: half_bytes<1>(s, ss, o, ds, W, H); break;
        case 16: half_bytes<2>(s, ss, o, ds, W, H); break;
        case 24: half_bytes<3>(s, ss, o, ds, W, H); break;
        case 32: half_bytes<4>(s, ss, o, ds, W, H); break;
        default: return false;
        }
    }
    return true;
}

}  // namespace kelm
