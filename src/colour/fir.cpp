// Convolution with an integer kernel in 1/256 (a finite impulse response
// filter), one direct pass: taps outside the image are skipped without
// renormalising, so edges darken or brighten with the kernel's weights.
// Kernels must have odd sizes so that they centre on the pixel. Sums are
// 64-bit; where the kernel's absolute weights times the largest sample fit
// 31 bits, the interior runs a 32-bit loop over the row's bytes that skips
// zero taps and gives the same sums; kernels whose weights reduce to small
// 16-bit ones (sharpening) run 16 bytes at a time with SSE2 where it exists.
#include <algorithm>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "colour/colour.h"

namespace kelm {

namespace {

struct Tap {
    int64_t dy, dx;
    int32_t weight;
};

struct FirJob {
    const BYTE* src;   // first plane, row 0
    BYTE* dst;
    uint64_t low;      // second-plane offset, two-plane form only
    bool twoPlane;
    uint64_t width, rows, stride;
    uint32_t bpp, channels;
    int64_t offset;
    int kw, kh;
    const LONG* kernel;
};

inline int64_t sample(const FirJob& j, uint64_t y, uint64_t x, uint32_t c)
{
    const BYTE* p = j.src + y * j.stride + x * j.bpp + c;
    return j.twoPlane ? (int64_t{p[0]} << 8 | p[j.low]) : p[0];
}

inline void store(const FirJob& j, uint64_t y, uint64_t x, uint32_t c, int64_t sum)
{
    const int64_t v = j.offset + sum / 256;
    BYTE* q = j.dst + y * j.stride + x * j.bpp + c;
    if (j.twoPlane) {
        const int64_t s = std::clamp<int64_t>(v, 0, 65535);
        q[0] = static_cast<BYTE>(s >> 8);
        q[j.low] = static_cast<BYTE>(s);
    } else {
        q[0] = static_cast<BYTE>(std::clamp<int64_t>(v, 0, 255));
    }
}

// The rule as written, for border pixels and wide-sum kernels.
void filter_pixel(const FirJob& j, uint64_t y, uint64_t x)
{
    for (uint32_t c = 0; c < j.channels; ++c) {
        int64_t sum = 0;
        for (int r = 0; r < j.kh; ++r) {
            const int64_t yy = static_cast<int64_t>(y) - j.kh / 2 + r;
            if (yy < 0 || yy >= static_cast<int64_t>(j.rows))
                continue;
            for (int k = 0; k < j.kw; ++k) {
                const int64_t xx = static_cast<int64_t>(x) - j.kw / 2 + k;
                if (xx < 0 || xx >= static_cast<int64_t>(j.width))
                    continue;
                sum += int64_t{j.kernel[r * j.kw + k]} * sample(j, static_cast<uint64_t>(yy), static_cast<uint64_t>(xx), c);
            }
        }
        store(j, y, x, c, sum);
    }
}

// Kernels whose weights share a power-of-two factor 2^k (k <= 8) small
// enough that the reduced sums fit 16 bits, such as the sharpening kernel
// (every weight a multiple of 64): sum / 256 is then the reduced sum divided
// by 2^(8 - k), truncated towards zero like the division it replaces, and a
// row is done 16 bytes at a time in 16-bit lanes.
struct Narrow {
    bool ok = false;
    int shift = 0;                // 8 - k
    std::vector<int16_t> weight;  // reduced weights, one per tap
};

Narrow narrow_kernel(const std::vector<Tap>& taps, int64_t offset)
{
    Narrow n;
    if (taps.empty())
        return n;
    int k = 8;
    for (const Tap& t : taps)
        while (k > 0 && (t.weight & ((1 << k) - 1)) != 0)
            --k;
    int64_t absSum = 0;
    for (const Tap& t : taps) {
        const int32_t w = t.weight / (1 << k);
        absSum += w < 0 ? -int64_t{w} : w;
        n.weight.push_back(static_cast<int16_t>(std::clamp<int32_t>(w, -32768, 32767)));
    }
    // Every reduced sum, its quotient and the offset added to it stay well
    // inside 16 bits.
    n.ok = absSum * 255 < (1 << 14) && offset > -(1 << 14) && offset < (1 << 14);
    n.shift = 8 - k;
    return n;
}

// Interior of a one-plane image: every byte of the row span [x0, x1) pixels,
// with 32-bit sums (the caller has checked they cannot overflow). The span
// goes in chunks small enough that the sums stay in the first-level cache
// while every tap adds its row into them; `acc` is the caller's chunk buffer.
constexpr uint64_t kChunk = 2048;

void filter_interior_row(const FirJob& j, const std::vector<Tap>& taps, const Narrow& narrow, uint64_t y,
                         uint64_t x0, uint64_t x1, int32_t* acc)
{
    const uint64_t n = (x1 - x0) * j.bpp;
    const BYTE* base = j.src + x0 * j.bpp;
    BYTE* q = j.dst + y * j.stride + x0 * j.bpp;
    const int32_t off = static_cast<int32_t>(j.offset);
    uint64_t start = 0;
#if defined(__SSE2__)
    if (narrow.ok && n >= 16) {
        const size_t nt = taps.size();
        const BYTE* rows[64];
        if (nt <= 64) {
            for (size_t t = 0; t < nt; ++t)
                rows[t] = base + static_cast<uint64_t>(static_cast<int64_t>(y) + taps[t].dy) * j.stride +
                          taps[t].dx * static_cast<int64_t>(j.bpp);
            const __m128i zero = _mm_setzero_si128();
            const __m128i offv = _mm_set1_epi16(static_cast<int16_t>(off));
            const __m128i round = _mm_set1_epi16(static_cast<int16_t>((1 << narrow.shift) - 1));
            const __m128i count = _mm_cvtsi32_si128(narrow.shift);
            for (; start + 16 <= n; start += 16) {
                __m128i lo = zero, hi = zero;
                for (size_t t = 0; t < nt; ++t) {
                    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[t] + start));
                    const __m128i w = _mm_set1_epi16(narrow.weight[t]);
                    lo = _mm_add_epi16(lo, _mm_mullo_epi16(_mm_unpacklo_epi8(v, zero), w));
                    hi = _mm_add_epi16(hi, _mm_mullo_epi16(_mm_unpackhi_epi8(v, zero), w));
                }
                // Truncating division: negative sums are biased by the
                // divisor less one before the arithmetic shift.
                lo = _mm_sra_epi16(_mm_add_epi16(lo, _mm_and_si128(_mm_srai_epi16(lo, 15), round)), count);
                hi = _mm_sra_epi16(_mm_add_epi16(hi, _mm_and_si128(_mm_srai_epi16(hi, 15), round)), count);
                // packus clamps to 0..255 as the scalar code does.
                const __m128i r = _mm_packus_epi16(_mm_add_epi16(lo, offv), _mm_add_epi16(hi, offv));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(q + start), r);
            }
        }
    }
#else
    (void)narrow;
#endif
    for (uint64_t c0 = start; c0 < n; c0 += kChunk) {
        const uint64_t m = std::min(kChunk, n - c0);
        bool first = true;
        for (const Tap& t : taps) {
            const BYTE* s = base + static_cast<uint64_t>(static_cast<int64_t>(y) + t.dy) * j.stride + c0;
            s += t.dx * static_cast<int64_t>(j.bpp);
            const int32_t w = t.weight;
            if (first) {
                for (uint64_t i = 0; i < m; ++i)
                    acc[i] = w * s[i];
                first = false;
            } else {
                for (uint64_t i = 0; i < m; ++i)
                    acc[i] += w * s[i];
            }
        }
        if (first)
            std::fill_n(acc, m, 0);
        BYTE* qq = q + c0;
        for (uint64_t i = 0; i < m; ++i) {
            const int32_t v = off + acc[i] / 256;
            qq[i] = static_cast<BYTE>(v < 0 ? 0 : v > 255 ? 255 : v);
        }
    }
    if (j.channels == 3 && j.bpp == 4)
        for (uint64_t x = 0; x < x1 - x0; ++x)
            q[x * 4 + 3] = 0;
}

}  // namespace

HGLOBAL fir_filter(HGLOBAL hDib, const LONG* kernel, int kw, int kh, int offset)
{
    if (!hDib || !kernel || kw < 1 || kh < 1 || (kw & 1) == 0 || (kh & 1) == 0)
        return nullptr;
    LockedDib dib(hDib);
    if (!dib.ok())
        return nullptr;
    const DibLayout& l = dib.layout();
    if (l.compressed || l.core || (l.bitCount != 24 && l.bitCount != 32))
        return nullptr;
    FirJob j{};
    j.twoPlane = l.planes == 2;
    if (j.twoPlane && !second_plane_offset(dib.bytes(), l, dib.block_size(), &j.low))
        return nullptr;
    const uint64_t size = dib.block_size();
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, static_cast<SIZE_T>(size));
    if (!h)
        return nullptr;
    BYTE* q = static_cast<BYTE*>(GlobalLock(h));
    if (!q) {
        GlobalFree(h);
        return nullptr;
    }
    try {
        // The header and, behind a 40-byte header, the bit-field masks: they
        // say what the pixel bytes mean, and a copy without them would
        // describe no colours at all. The colour table is not copied.
        std::memcpy(q, dib.bytes(), static_cast<size_t>(l.headerSize + l.maskBytes));
        j.src = dib.bytes() + l.pixelOffset;
        j.dst = q + l.pixelOffset;
        j.width = static_cast<uint64_t>(l.width);
        j.rows = l.rows;  // all stored rows, top-down images too
        j.stride = l.stride;
        j.bpp = l.bitCount / 8;
        j.channels = (l.bitCount == 32 && is_cmyk(dib.bytes())) ? 4 : 3;
        j.offset = offset;
        j.kw = kw;
        j.kh = kh;
        j.kernel = kernel;

        std::vector<Tap> taps;
        int64_t absSum = 0;
        for (int r = 0; r < kh; ++r)
            for (int k = 0; k < kw; ++k) {
                const int32_t w = kernel[static_cast<size_t>(r) * static_cast<size_t>(kw) + static_cast<size_t>(k)];
                absSum += w < 0 ? -int64_t{w} : w;
                if (w != 0)
                    taps.push_back(Tap{r - kh / 2, k - kw / 2, w});
            }
        // 32-bit interior sums are exact when |weights| x 255 and the offset stay
        // well inside 31 bits; whole-byte rows need channel-wise layout (3
        // channels at 24 bits, all 4 bytes at 32 bits, the fourth cleared after).
        const bool fast = !j.twoPlane && absSum * 255 < (int64_t{1} << 30) && offset > -(1 << 29) &&
                          offset < (1 << 29) && (j.bpp == 3 || j.bpp == 4);
        const uint64_t hx = static_cast<uint64_t>(kw / 2), hy = static_cast<uint64_t>(kh / 2);
        std::vector<int32_t> acc(fast ? kChunk : 0);
        const Narrow narrow = fast ? narrow_kernel(taps, offset) : Narrow{};
        // A zero width has no pixels, however many rows it claims.
        for (uint64_t y = 0; y < j.rows && j.width > 0; ++y) {
            const bool rowInside = y >= hy && y + hy < j.rows;
            if (fast && rowInside && j.width > 2 * hx) {
                for (uint64_t x = 0; x < hx; ++x)
                    filter_pixel(j, y, x);
                filter_interior_row(j, taps, narrow, y, hx, j.width - hx, acc.data());
                for (uint64_t x = j.width - hx; x < j.width; ++x)
                    filter_pixel(j, y, x);
            } else {
                for (uint64_t x = 0; x < j.width; ++x)
                    filter_pixel(j, y, x);
            }
        }
    } catch (...) {
        GlobalUnlock(h);
        GlobalFree(h);
        throw;
    }
    GlobalUnlock(h);
    return h;
}

HGLOBAL sharpen(HGLOBAL hDib)
{
    static const LONG kSharpen[9] = {0, -64, 0, -64, 512, -64, 0, -64, 0};
    return fir_filter(hDib, kSharpen, 3, 3, 0);
}

}  // namespace kelm
