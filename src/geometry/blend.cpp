// DIBAlphaBlend: mixing a source rectangle into a destination rectangle of
// true-colour images, scaled by pixel selection with the rows of the stretch
// byte path. The per-pixel operation (constant opacity, or the source's own
// alpha scaled by it) is chosen once per call; the column walk is the
// stretch's accumulator rule except that narrowing takes the pixel after each
// group. Requests it cannot blend become an opaque StretchDIB2DIBBlt.
#include <algorithm>

#include "geometry/geometry.h"

namespace kelm {

namespace {

inline BYTE mix(BYTE d, BYTE s, int a)
{
    // Signed difference, division truncating toward zero.
    return static_cast<BYTE>(d + ((static_cast<int>(s) - d) * a) / 255);
}

struct ConstantBlend {
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
    int a;
    const BYTE* end;  // one past the source's pixel array
    void operator()(BYTE* d, const BYTE* s) const
    {
        const int alpha = s + 3 < end ? s[3] : 255;
        const int eff = (alpha * a) / 255;
        d[0] = mix(d[0], s[0], eff);
        d[1] = mix(d[1], s[1], eff);
        d[2] = mix(d[2], s[2], eff);
    }
};

// 32-bit sources always hold their alpha byte.
struct AlphaBlend32 {
    int a;
    void operator()(BYTE* d, const BYTE* s) const
    {
        const int eff = (s[3] * a) / 255;
        d[0] = mix(d[0], s[0], eff);
        d[1] = mix(d[1], s[1], eff);
        d[2] = mix(d[2], s[2], eff);
    }
};

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
            if (sb == 4 && db == 3)
                for (int64_t i = 0; i < cxDst; ++i, out += 3, in += 4)
                    op(out, in);
            else
                for (int64_t i = 0; i < cxDst; ++i, out += db, in += sb)
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
