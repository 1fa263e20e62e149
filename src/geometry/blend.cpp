// DIBAlphaBlend: mixing a source rectangle into a destination rectangle of
// true-colour images, scaled by pixel selection with the rows of the stretch
// byte path. The per-pixel operation (constant opacity, or the source's own
// alpha scaled by it) is chosen once per call; the column walk is the
// stretch's accumulator rule except that narrowing takes the pixel after each
// group. Requests it cannot blend become an opaque StretchDIB2DIBBlt.
#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "geometry/geometry.h"

namespace kelm {

namespace {

// v / 255 for 0 <= v <= 65534, without a division: (v + 1 + (v >> 8)) >> 8
// equals the quotient over that whole range (checked for every v), and the
// products here reach 255 x 255 = 65025 at most.
inline int div255(int v)
{
    return (v + 1 + (v >> 8)) >> 8;
}

inline BYTE mix(BYTE d, BYTE s, int a)
{
    // Signed difference, division truncating toward zero: the quotient of
    // the magnitude, given the difference's sign.
    const int diff = static_cast<int>(s) - d;
    const int q = div255((diff < 0 ? -diff : diff) * a);
    return static_cast<BYTE>(d + (diff < 0 ? -q : q));
}

struct ConstantBlend {
    static constexpr bool kVector = true;
    static constexpr bool kOwnAlpha = false;
    int a;
    const BYTE* end;  // unused
    void operator()(BYTE* d, const BYTE* s) const
    {
        d[0] = mix(d[0], s[0], a);
        d[1] = mix(d[1], s[1], a);
        d[2] = mix(d[2], s[2], a);
    }
};

// The alpha is the byte after the three colour bytes. In a 24-bit source
// marked as having alpha that is the next pixel's blue (or row padding);
// after the very last pixel of the pixel array there is no such byte, and
// the pixel counts as opaque.
struct AlphaBlend {
    static constexpr bool kVector = false;
    int a;
    const BYTE* end;  // one past the source's pixel array
    void operator()(BYTE* d, const BYTE* s) const
    {
        const int alpha = s + 3 < end ? s[3] : 255;
        const int eff = div255(alpha * a);
        d[0] = mix(d[0], s[0], eff);
        d[1] = mix(d[1], s[1], eff);
        d[2] = mix(d[2], s[2], eff);
    }
};

// 32-bit sources always hold their alpha byte.
struct AlphaBlend32 {
    static constexpr bool kVector = true;
    static constexpr bool kOwnAlpha = true;
    int a;
    void operator()(BYTE* d, const BYTE* s) const
    {
        const int eff = div255(s[3] * a);
        d[0] = mix(d[0], s[0], eff);
        d[1] = mix(d[1], s[1], eff);
        d[2] = mix(d[2], s[2], eff);
    }
};

#if defined(__SSE2__)
// The operations of ConstantBlend and AlphaBlend32 on two pixels at a time,
// channels widened to 16-bit lanes: the difference's magnitude times the
// weight stays within 65025, so the unsigned product and div255 are exact,
// and the sign goes back on afterwards. The bytes are those of the scalar
// operation. Returns how many leading pixels of the span it did; the last
// pixel is always left to the scalar loop, so that the 4-byte loads and
// stores of 3-byte pixels never reach past the span.
inline __m128i div255_epu16(__m128i v)
{
    const __m128i one = _mm_set1_epi16(1);
    return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(v, one), _mm_srli_epi16(v, 8)), 8);
}

inline uint32_t load32(const BYTE* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

template <class Op>
int64_t blend_span_sse2(const Op& op, BYTE* out, const BYTE* in, int64_t n, size_t sb, size_t db)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i weight = _mm_set1_epi16(static_cast<short>(op.a));
    // Lanes 0 .. 2 of each pixel take the result; lane 3 (the destination's
    // fourth byte) keeps its value.
    const __m128i keep = _mm_set_epi16(-1, 0, 0, 0, -1, 0, 0, 0);
    int64_t i = 0;
    for (; i + 2 < n; i += 2, out += 2 * db, in += 2 * sb) {
        const __m128i sv = _mm_unpacklo_epi8(_mm_set_epi32(0, 0, static_cast<int>(load32(in + sb)), static_cast<int>(load32(in))), zero);
        const __m128i dw = _mm_set_epi32(0, 0, static_cast<int>(load32(out + db)), static_cast<int>(load32(out)));
        const __m128i dv = _mm_unpacklo_epi8(dw, zero);
        __m128i eff;
        if constexpr (Op::kOwnAlpha) {
            const __m128i alpha = _mm_shufflehi_epi16(_mm_shufflelo_epi16(sv, 0xFF), 0xFF);
            eff = div255_epu16(_mm_mullo_epi16(alpha, weight));
        } else {
            eff = weight;
        }
        const __m128i diff = _mm_sub_epi16(sv, dv);
        const __m128i sign = _mm_srai_epi16(diff, 15);
        const __m128i mag = _mm_sub_epi16(_mm_xor_si128(diff, sign), sign);
        const __m128i q = div255_epu16(_mm_mullo_epi16(mag, eff));
        __m128i r = _mm_add_epi16(dv, _mm_sub_epi16(_mm_xor_si128(q, sign), sign));
        r = _mm_or_si128(_mm_andnot_si128(keep, r), _mm_and_si128(keep, dv));
        const __m128i packed = _mm_packus_epi16(r, r);
        const uint32_t p0 = static_cast<uint32_t>(_mm_cvtsi128_si32(packed));
        const uint32_t p1 = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(packed, 4)));
        // In a 3-byte destination the fourth byte stored with the first
        // pixel is the second pixel's first byte, rewritten right after. The
        // second pixel's store ends at that pixel: the next pair's loads must
        // not overlap a store still in flight, which would stall them.
        std::memcpy(out, &p0, 4);
        if (db == 3)
            std::memcpy(out + 3, &p1, 3);
        else
            std::memcpy(out + 4, &p1, 4);
    }
    return i;
}
#endif

template <class Op>
void blend_rows(const Op& op, const LockedDib& s, const LockedDib& d, const STRETCHPARAMS& p)
{
    const DibLayout& sl = s.layout();
    const DibLayout& dl = d.layout();
    const size_t sb = sl.bitCount / 8, db = dl.bitCount / 8;
    const int64_t cxSrc = p.cxSrc, cxDst = p.cxDst;
    // The pixel right of the rectangle, where a rule reaches it, is read
    // only when it lies inside the image; else the rectangle's last pixel.
    const int64_t lastOk = int64_t{p.xSrc} + cxSrc < sl.width ? cxSrc : cxSrc - 1;
    for (int64_t n = 0; n < p.cyDst; ++n) {
        const int64_t r = p.ySrc + muldiv64(p.cySrc - 1, n, p.cyDst - 1);
        BYTE* out = d.bytes() + dl.pixelOffset + static_cast<size_t>(p.yDst + n) * dl.stride +
                    static_cast<size_t>(p.xDst) * db;
        const BYTE* in = s.bytes() + sl.pixelOffset + static_cast<size_t>(r) * sl.stride + static_cast<size_t>(p.xSrc) * sb;
        auto src = [&](int64_t i) { return in + static_cast<size_t>(std::min(i, lastOk)) * sb; };
        if (cxDst == cxSrc) {
            int64_t i = 0;
#if defined(__SSE2__)
            if constexpr (Op::kVector) {
                i = blend_span_sse2(op, out, in, cxDst, sb, db);
                out += static_cast<size_t>(i) * db;
                in += static_cast<size_t>(i) * sb;
            }
#endif
            if (sb == 4 && db == 3)
                for (; i < cxDst; ++i, out += 3, in += 4)
                    op(out, in);
            else
                for (; i < cxDst; ++i, out += db, in += sb)
                    op(out, in);
        } else if (cxDst > cxSrc) {
            const int64_t q = cxDst / cxSrc, e = cxDst % cxSrc;
            int64_t acc = 0;
            for (int64_t i = 0; i < cxSrc; ++i) {
                const BYTE* px = src(i);
                for (int64_t k = 0; k < q; ++k, out += db)
                    op(out, px);
                acc += e;
                if (acc >= cxSrc) {
                    acc -= cxSrc;
                    op(out, src(i + 1));
                    out += db;
                }
            }
        } else {
            // After each group of q source pixels, the pixel that follows the
            // group; an overflow of the accumulator skips one more.
            const int64_t q = cxSrc / cxDst, e = cxSrc % cxDst;
            int64_t acc = 0, idx = q;
            for (int64_t k = 0; k < cxDst; ++k, out += db) {
                op(out, src(idx));
                idx += q;
                acc += e;
                if (acc >= cxDst) {
                    acc -= cxDst;
                    ++idx;
                }
            }
        }
    }
}

bool has_alpha_channel(const LockedDib& s)
{
    return s.layout().headerSize == kV4HeaderSize && ld32(s.bytes(), kAlphaMaskOffset) == 0xFF000000u &&
           ld32(s.bytes(), kCsTypeOffset) == kCsTypeAlpha;
}

bool blend(HGLOBAL hDst, const STRETCHPARAMS& p, HGLOBAL hSrc, int opacity)
{
    LockedDib d(hDst);
    LockedDib s(hSrc);
    if (!d.ok() || !s.ok())
        return false;
    const DibLayout& dl = d.layout();
    const DibLayout& sl = s.layout();
    const bool alpha = has_alpha_channel(s);
    if (!alpha && opacity == 255)
        return false;
    if ((dl.bitCount != 24 && dl.bitCount != 32) || (sl.bitCount != 24 && sl.bitCount != 32))
        return false;
    if (sl.planes != 1 || dl.planes != 1 || sl.compression != BI_RGB || dl.compression != BI_RGB)
        return false;
    if (p.xDst < 0 || p.yDst < 0 || p.xSrc < 0 || p.ySrc < 0 || p.cxSrc <= 0 || p.cySrc <= 0 || p.cxDst <= 0 ||
        p.cyDst <= 1)
        return false;
    if (int64_t{p.xSrc} + p.cxSrc > sl.width || int64_t{p.ySrc} + p.cySrc > sl.height ||
        int64_t{p.xDst} + p.cxDst > dl.width || int64_t{p.yDst} + p.cyDst > dl.height)
        return false;
    if (is_cmyk(d.bytes()))
        return false;
    if (alpha && sl.bitCount == 32)
        blend_rows(AlphaBlend32{opacity}, s, d, p);
    else if (alpha)
        blend_rows(AlphaBlend{opacity, s.bytes() + sl.pixelOffset + sl.pixelBytes}, s, d, p);
    else
        blend_rows(ConstantBlend{opacity, nullptr}, s, d, p);
    return true;
}

}  // namespace

BOOL alpha_blend(HGLOBAL hDst, const STRETCHPARAMS& p, HGLOBAL hSrc, int opacity)
{
    if (p.cxDst == 0 || p.cyDst == 0)
        return 0;
    // Opacities outside 0 .. 255 are no part of the interface; they are
    // taken as the nearest end so that no product can overflow.
    opacity = std::clamp(opacity, 0, 255);
    if (blend(hDst, p, hSrc, opacity))
        return 1;
    return stretch_dib_to_dib(hDst, p, hSrc);
}

}  // namespace kelm
