// RotateDIB: turning an image by any angle in tenths of a degree. Quarter and
// half turns move bytes (or bits) directly, in cache-sized tiles (quarter.cpp);
// other angles map each destination pixel back to the source with the
// fixed-point inverse rotation of RotateMapProc. That mapping is affine before
// rounding, so along a destination row each source coordinate is a monotone
// function of x: the covered span of the row is found by bisection and walked
// with two integer accumulators, and no indirect call is made per pixel.
#include <cmath>
#include <limits>

#include "geometry/walk.h"

namespace kelm {

namespace {

constexpr int64_t kScale = 10000;  // sine and cosine are held x 10000

int64_t floor_div(int64_t a, int64_t b)
{
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

// MulDiv(n, c, 10000) for n = n0, n0 + 1, ... one step at a time. MulDiv
// rounds halves away from zero: round(p / 10000) = floor((p + 5000) / 10000)
// for p >= 0 and floor((p + 4999) / 10000) for p < 0, which is the first one
// less 1 exactly when p + 5000 is a multiple of 10000. So q and r track
// floor and remainder of (p + 5000) / 10000, and a step adds c = 10000 k + m
// (0 <= m < 10000) with at most one carry.
struct RoundedStep {
    int64_t p, q, c, k;
    int32_t r, m;

    RoundedStep(int64_t n0, int64_t coeff)
    {
        c = coeff;
        p = n0 * coeff;
        q = floor_div(p + kScale / 2, kScale);
        r = static_cast<int32_t>(p + kScale / 2 - q * kScale);
        k = floor_div(coeff, kScale);
        m = static_cast<int32_t>(coeff - k * kScale);
    }
    int64_t value() const { return q - ((p < 0) & (r == 0)); }
    void step()
    {
        p += c;
        q += k;
        r += m;
        const bool carry = r >= kScale;
        r -= carry ? static_cast<int32_t>(kScale) : 0;
        q += carry;
    }
};

template <unsigned B>
void rotate_run_bytes(TransformSetup& s, int y, int64_t lo, int64_t hi, RoundedStep fx, RoundedStep fy, int64_t a,
                      int64_t b)
{
    BYTE* d = s.dst.hpbits + static_cast<size_t>(y) * s.dst.WidthBytes + static_cast<size_t>(lo) * B;
    const BYTE* base = s.src.hpbits;
    const size_t stride = s.src.WidthBytes;
    for (int64_t x = lo; x < hi; ++x, d += B) {
        const size_t sx = static_cast<size_t>(a + fx.value());
        const size_t sy = static_cast<size_t>(b + fy.value());
        std::memcpy(d, base + sy * stride + sx * B, B);
        fx.step();
        fy.step();
    }
}

void rotate_run_any(TransformSetup& s, int y, int64_t lo, int64_t hi, RoundedStep fx, RoundedStep fy, int64_t a,
                    int64_t b)
{
    for (int64_t x = lo; x < hi; ++x) {
        transfer_pixel(s, static_cast<int>(x), y, static_cast<int>(a + fx.value()), static_cast<int>(b + fy.value()));
        fx.step();
        fy.step();
    }
}

// The general path: TransformDIB with RotateMapProc, walked incrementally.
bool rotate_general(HGLOBAL hSrc, HGLOBAL hDst, const ROTATEPARAMS& rp, COLORREF background)
{
    TransformSetup s;
    if (!s.open(hSrc, hDst, false, background))
        return false;
    const int64_t srcW = s.src.bmi.biWidth, srcH = s.src.bmi.biHeight;
    const int64_t dstW = s.dst.bmi.biWidth, dstH = s.dst.bmi.biHeight;
    const int64_t sine = rp.sine, cosine = rp.cosine;
    if (srcW <= 0 || srcH <= 0) {  // nothing to cover
        for (int64_t y = 0; y < dstH; ++y)
            fill_background(s, static_cast<int>(y), 0, dstW);
        return true;
    }
    for (int64_t y = 0; y < dstH; ++y) {
        const int64_t Y = y + rp.rc.bottom;
        const int64_t a = muldiv64(Y, sine, kScale);
        const int64_t b = muldiv64(Y, cosine, kScale);
        auto sxOf = [&](int64_t x) { return a + muldiv64(x + rp.rc.left, cosine, kScale); };
        auto syOf = [&](int64_t x) { return b + muldiv64(x + rp.rc.left, -sine, kScale); };
        int64_t lo1, hi1, lo, hi;
        inside_interval(0, dstW, srcW, sxOf, &lo1, &hi1);
        inside_interval(lo1, hi1, srcH, syOf, &lo, &hi);
        if (lo >= hi)
            lo = hi = dstW;
        const int row = static_cast<int>(y);
        fill_background(s, row, 0, lo);
        if (lo < hi) {
            const RoundedStep fx(lo + rp.rc.left, cosine), fy(lo + rp.rc.left, -sine);
            switch (s.byteCopy) {
            case 1: rotate_run_bytes<1>(s, row, lo, hi, fx, fy, a, b); break;
            case 2: rotate_run_bytes<2>(s, row, lo, hi, fx, fy, a, b); break;
            case 3: rotate_run_bytes<3>(s, row, lo, hi, fx, fy, a, b); break;
            case 4: rotate_run_bytes<4>(s, row, lo, hi, fx, fy, a, b); break;
            default: rotate_run_any(s, row, lo, hi, fx, fy, a, b); break;
            }
        }
        fill_background(s, row, hi, dstW);
    }
    return true;
}

}  // namespace

int normalise_angle(int32_t angle)
{
    int64_t a = angle;
    if (a >= 3600)
        a %= 3600;  // the same as subtracting 3600 while it is 3600 or more
    if (a < 0)
        a += 3600 * ((3599 - a) / 3600);
    return static_cast<int>(a);
}

void rotation_sin_cos(int angle, LONG* sine, LONG* cosine)
{
    switch (angle) {
    case 0: *sine = 0; *cosine = 10000; return;
    case 900: *sine = 10000; *cosine = 0; return;
    case 1800: *sine = 0; *cosine = -10000; return;
    case 2700: *sine = -10000; *cosine = 0; return;
    default: break;
    }
    // Extended precision on purpose (x87 80-bit long double on both targets):
    // the +0.5-and-truncate rule is sensitive to the last bits near halves,
    // and the same type on Linux and Windows gives the same table.
    const long double theta = static_cast<long double>(angle) * 0.0017453292519943296L;
    *sine = static_cast<LONG>(10000.0L * std::sin(theta) + 0.5L);
    *cosine = static_cast<LONG>(10000.0L * std::cos(theta) + 0.5L);
}

LONG CALLBACK RotateMapProc(int msg, POINT* pt, LPVOID data)
{
    if (msg != TRANSFORM_PIXEL || !pt || !data)
        return 1;
    const auto* rp = static_cast<const ROTATEPARAMS*>(data);
    const int X = pt->x + rp->rc.left, Y = pt->y + rp->rc.bottom;
    pt->x = MulDiv(Y, rp->sine, 10000) + MulDiv(X, rp->cosine, 10000);
    pt->y = MulDiv(Y, rp->cosine, 10000) + MulDiv(X, -rp->sine, 10000);
    return 1;
}

HGLOBAL rotate_dib(HGLOBAL hSrc, int32_t nAngle, COLORREF background)
{
    const int angle = normalise_angle(nAngle);
    LONG sine, cosine;
    rotation_sin_cos(angle, &sine, &cosine);

    LockedDib src(hSrc);
    if (!src.ok())
        return nullptr;
    const DibLayout& l = src.layout();
    // Compressed pixels cannot be addressed by row and column: neither the
    // copiers nor the accessor can read them, and a result with unwritten
    // pixels would pass for success.
    if (l.compressed || l.core)
        return nullptr;

    // Corners turned with each product truncated on its own, in 64 bits.
    const int64_t W = l.width, H = l.height;
    const int64_t cx[4] = {0, W - 1, W - 1, 0}, cy[4] = {0, 0, H - 1, H - 1};
    int64_t left = std::numeric_limits<int64_t>::max(), right = std::numeric_limits<int64_t>::min();
    int64_t bottom = left, top = right;
    for (int i = 0; i < 4; ++i) {
        const int64_t xr = (cx[i] * cosine) / kScale - (cy[i] * sine) / kScale;
        const int64_t yr = (cx[i] * sine) / kScale + (cy[i] * cosine) / kScale;
        left = std::min(left, xr);
        right = std::max(right, xr);
        bottom = std::min(bottom, yr);
        top = std::max(top, yr);
    }
    const int64_t newW = right - left + 1, newH = top - bottom + 1;
    if (newW > 0x7FFFFFFF || newH > 0x7FFFFFFF)
        return nullptr;
    HGLOBAL hDst = create_compatible_dib(hSrc, static_cast<UINT>(newW), static_cast<LONG>(newH));
    if (!hDst)
        return nullptr;

    const bool right_angle = angle == 900 || angle == 2700 || angle == 1800;
    const bool copier = right_angle && (l.bitCount == 1 || (l.bitCount >= 8 && l.bitCount % 8 == 0 &&
                                                            l.bitCount <= 32));
    if (copier) {
        LockedDib dst(hDst);
        if (dst.ok()) {
            if (angle == 1800)
                half_turn(src, dst);
            else
                quarter_turn(src, dst, angle == 900 ? 0 : 1);
        }
        return hDst;
    }
    ROTATEPARAMS rp;
    rp.rc.left = static_cast<LONG>(left);
    rp.rc.right = static_cast<LONG>(right);
    rp.rc.bottom = static_cast<LONG>(bottom);
    rp.rc.top = static_cast<LONG>(top);
    rp.sine = sine;
    rp.cosine = cosine;
    if (!rotate_general(hSrc, hDst, rp, background)) {
        GlobalFree(hDst);
        return nullptr;
    }
    return hDst;
}

}  // namespace kelm
