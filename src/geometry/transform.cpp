// TransformDIB: the general inverse-mapped transform. Every destination
// pixel is fetched from the source point its mapping callback names, through
// the pixel accessor, so every layout the accessor opens works here. This is
// the caller-visible contract, callbacks and their order included; the
// library's own rotations and stretches reproduce its pixels in walk.h's
// terms without a call per pixel.
#include "geometry/walk.h"

namespace kelm {

bool TransformSetup::open(HGLOBAL hSrc, HGLOBAL hDst, bool colourCallback, COLORREF background)
{
    if (!trdib_open(hSrc, &src))
        return false;
    if (!trdib_open(hDst, &dst)) {
        trdib_close(&src);
        return false;
    }
    raw = false;
    if (src.BitCount == dst.BitCount && src.bmi.biPlanes == dst.bmi.biPlanes &&
        (is_cmyk(src.lpbmi) != 0) == (is_cmyk(dst.lpbmi) != 0) && !colourCallback) {
        if (src.BitCount >= 16) {
            raw = true;
        } else {
            // The tables are compared over the source's table size; where the
            // destination's block ends sooner they cannot be equal.
            const uint64_t n = palette_size(src.lpbmi);
            const uint64_t dstRoom =
                GlobalSize(dst.hDib) - static_cast<uint64_t>(reinterpret_cast<BYTE*>(dst.lppal) - dst.lpbmi);
            const uint64_t srcRoom =
                GlobalSize(src.hDib) - static_cast<uint64_t>(reinterpret_cast<BYTE*>(src.lppal) - src.lpbmi);
            raw = n <= dstRoom && n <= srcRoom && std::memcmp(src.lppal, dst.lppal, static_cast<size_t>(n)) == 0;
        }
    }
    byteCopy = 0;
    if (raw && src.bmi.biPlanes != 2 && src.BitCount >= 8 && src.BitCount % 8 == 0)
        byteCopy = src.BytesPerPixel;
    hasBackground = background != KELM3_NO_BACKGROUND;
    if (hasBackground) {
        const Rgbq16 c{static_cast<WORD>(((background >> 16) & 0xFF) * 257),
                       static_cast<WORD>(((background >> 8) & 0xFF) * 257), static_cast<WORD>((background & 0xFF) * 257),
                       0};
        dst.fnRgbq16ToPixel(&dst, backgroundRaw, &c);
    }
    return true;
}

namespace {
template <unsigned B>
void fill_pattern(BYTE* p, const BYTE* value, int64_t n)
{
    for (int64_t x = 0; x < n; ++x, p += B)
        std::memcpy(p, value, B);
}
}  // namespace

void fill_background(TransformSetup& s, int y, int64_t x0, int64_t x1)
{
    if (!s.hasBackground || x0 >= x1)
        return;
    if (s.dst.bmi.biPlanes != 2 && s.dst.BitCount >= 8 && s.dst.BitCount % 8 == 0) {
        const UINT b = s.dst.BytesPerPixel;
        BYTE* p = s.dst.hpbits + static_cast<size_t>(y) * s.dst.WidthBytes + static_cast<size_t>(x0) * b;
        if (b == 1) {
            std::memset(p, s.backgroundRaw[0], static_cast<size_t>(x1 - x0));
            return;
        }
        // A copy of known size per pixel, not a call with the size as data.
        switch (b) {
        case 2: fill_pattern<2>(p, s.backgroundRaw, x1 - x0); return;
        case 3: fill_pattern<3>(p, s.backgroundRaw, x1 - x0); return;
        case 4: fill_pattern<4>(p, s.backgroundRaw, x1 - x0); return;
        default: break;
        }
        for (int64_t x = x0; x < x1; ++x, p += b)
            std::memcpy(p, s.backgroundRaw, b);
        return;
    }
    for (int64_t x = x0; x < x1; ++x)
        s.dst.fnSetPixe(&s.dst, static_cast<int>(x), y, s.backgroundRaw);
}

BOOL transform_dib(HGLOBAL hSrc, HGLOBAL hDst, TransformProc map, TransformColorProc colour, LPVOID data,
                   COLORREF background)
{
    TransformSetup s;
    if (!s.open(hSrc, hDst, colour != nullptr, background))
        return 0;
    const LONG srcW = s.src.bmi.biWidth, srcH = s.src.bmi.biHeight;
    const LONG dstW = s.dst.bmi.biWidth, dstH = s.dst.bmi.biHeight;

    if (map)
        map(TRANSFORM_BEGIN, nullptr, data);
    if (colour)
        colour(TRANSFORM_BEGIN, nullptr, data, nullptr);
    POINT pt;
    // Rows without pixels do nothing unless a callback must hear of them: a
    // header of 0 x 2^31 rows is no reason to spin.
    const LONG rows = (dstW > 0 || map || colour) ? dstH : 0;
    for (LONG y = 0; y < rows; ++y) {
        pt.x = 0;
        pt.y = y;
        if (map && map(TRANSFORM_LINE, &pt, data) == 0)
            continue;
        if (colour)
            colour(TRANSFORM_LINE, &pt, data, nullptr);
        for (LONG x = 0; x < dstW; ++x) {
            pt.x = x;
            pt.y = y;
            if (map && map(TRANSFORM_PIXEL, &pt, data) == 0)
                continue;
            const LONG sx = pt.x, sy = pt.y;
            if (sx < 0 || sx >= srcW || sy < 0 || sy >= srcH) {
                if (s.hasBackground)
                    s.dst.fnSetPixe(&s.dst, x, y, s.backgroundRaw);
                continue;
            }
            alignas(8) BYTE raw[8] = {};
            s.src.fngetPixel(&s.src, sx, sy, raw);
            if (s.raw) {
                s.dst.fnSetPixe(&s.dst, x, y, raw);
                continue;
            }
            Rgbq16 c;
            s.src.fnPixelToRgbq16(&s.src, raw, &c);
            if (colour && colour(TRANSFORM_PIXEL, &pt, data, &c) == 0)
                continue;
            alignas(8) BYTE out[8] = {};
            s.dst.fnRgbq16ToPixel(&s.dst, out, &c);
            s.dst.fnSetPixe(&s.dst, x, y, out);
        }
    }
    if (map)
        map(TRANSFORM_END, nullptr, data);
    if (colour)
        colour(TRANSFORM_END, nullptr, data, nullptr);
    return 1;
}

void zero_pixels(HGLOBAL h)
{
    LockedDib d(h);
    if (d.ok() && !d.layout().compressed)
        std::memset(d.bytes() + d.layout().pixelOffset, 0, static_cast<size_t>(d.layout().pixelBytes));
}

int64_t muldiv64(int64_t a, int64_t b, int64_t c)
{
    const int64_t p = a * b;
    const bool negative = (p < 0) != (c < 0);
    const uint64_t m = p < 0 ? 0 - static_cast<uint64_t>(p) : static_cast<uint64_t>(p);
    const uint64_t d = c < 0 ? 0 - static_cast<uint64_t>(c) : static_cast<uint64_t>(c);
    const uint64_t q = (m + d / 2) / d;
    return negative ? -static_cast<int64_t>(q) : static_cast<int64_t>(q);
}

}  // namespace kelm
