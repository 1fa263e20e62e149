// The set-up shared by the general transform and by the library's own
// incremental walks: both images open in the pixel accessor, the raw-copy
// decision and the background converted once to a destination pixel value.
// Keeping it in one place is what makes the incremental paths of RotateDIB
// and StretchDIB2DIBBlt pick the very pixels TransformDIB would.
#pragma once

#include <cstring>

#include "geometry/geometry.h"
#include "pixel/pixel.h"

namespace kelm {

class TransformSetup {
public:
    TransformSetup() = default;
    ~TransformSetup()
    {
        trdib_close(&dst);
        trdib_close(&src);
    }
    TransformSetup(const TransformSetup&) = delete;
    TransformSetup& operator=(const TransformSetup&) = delete;

    // Opens the source, then the destination; false (nothing left open) when
    // either cannot be opened.
    bool open(HGLOBAL hSrc, HGLOBAL hDst, bool colourCallback, COLORREF background);

    TRDIB src{};
    TRDIB dst{};
    bool raw = false;            // copy pixel values without conversion
    bool hasBackground = false;
    alignas(8) BYTE backgroundRaw[8] = {};
    // Whole-byte pixels of one plane copied as bytes (raw copy at 8, 16, 24
    // or 32 bits): the accessor's get and set move exactly these bytes.
    UINT byteCopy = 0;
};

// One source pixel into one destination pixel, by the walk's rule.
inline void transfer_pixel(TransformSetup& s, int x, int y, int sx, int sy)
{
    alignas(8) BYTE raw[8] = {};
    s.src.fngetPixel(&s.src, sx, sy, raw);
    if (s.raw) {
        s.dst.fnSetPixe(&s.dst, x, y, raw);
        return;
    }
    Rgbq16 c;
    s.src.fnPixelToRgbq16(&s.src, raw, &c);
    alignas(8) BYTE out[8] = {};
    s.dst.fnRgbq16ToPixel(&s.dst, out, &c);
    s.dst.fnSetPixe(&s.dst, x, y, out);
}

// Fills pixels [x0, x1) of destination row y with the background (if any).
void fill_background(TransformSetup& s, int y, int64_t x0, int64_t x1);

// The first x in [lo, hi) for which pred(x) holds, pred being false then
// true along the range (hi when it never holds).
template <class Pred>
int64_t first_true(int64_t lo, int64_t hi, Pred pred)
{
    while (lo < hi) {
        const int64_t mid = lo + (hi - lo) / 2;
        if (pred(mid))
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

// The x in [a, b) where a monotone g(x) lies in [0, limit): an interval,
// returned as [*lo, *hi).
template <class G>
void inside_interval(int64_t a, int64_t b, int64_t limit, G g, int64_t* lo, int64_t* hi)
{
    if (a >= b || limit <= 0) {
        *lo = *hi = a;
        return;
    }
    if (g(a) <= g(b - 1)) {  // non-decreasing
        *lo = first_true(a, b, [&](int64_t x) { return g(x) >= 0; });
        *hi = first_true(*lo, b, [&](int64_t x) { return g(x) >= limit; });
    } else {
        *lo = first_true(a, b, [&](int64_t x) { return g(x) < limit; });
        *hi = first_true(*lo, b, [&](int64_t x) { return g(x) < 0; });
    }
}

}  // namespace kelm
