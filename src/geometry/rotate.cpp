// RotateDIB: turning an image by any angle in tenths of a degree. Quarter and
// half turns move bytes (or bits) directly, in cache-sized tiles (quarter.cpp);
// other angles map each destination pixel back to the source with the
// fixed-point inverse rotation of RotateMapProc. That mapping is affine before
// rounding, so along a destination row each source coordinate is a monotone
// function of x: the covered span of the row is found by bisection and walked
// with two integer accumulators, and no indirect call is made per pixel.
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "geometry/walk.h"

namespace kelm {

namespace {

constexpr int64_t kScale = 10000;  // sine and cosine are held x 10000
// Destination rows between a pixel and the pixel whose source line it asks
// for ahead of use (rotate_span_bytes).
constexpr int64_t kAhead = 16;

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

// MulDiv(X, c, 10000) along a run of X on one side of 0, where the sign of
// the product X x c is fixed: then it is floor((X c + bias) / 10000) with
// one bias (5000 for products >= 0, 4999 below), tracked as value and
// remainder with at most one carry per step. (At X = 0 both biases give 0.)
struct LinearStep {
    int64_t v;
    int32_t r, m, k;
    LinearStep(int64_t X0, int64_t c, bool negativeSide)
    {
        const bool productBelow0 = negativeSide ? c > 0 : c < 0;
        const int64_t t = X0 * c + (productBelow0 ? kScale / 2 - 1 : kScale / 2);
        v = floor_div(t, kScale);
        r = static_cast<int32_t>(t - v * kScale);
        k = static_cast<int32_t>(floor_div(c, kScale));
        m = static_cast<int32_t>(c - int64_t{k} * kScale);
    }
    // Advances one X and returns the change of the value (-1 .. 2).
    int32_t step()
    {
        r += m;
        const int32_t carry = r >= kScale;
        r -= carry * static_cast<int32_t>(kScale);
        const int32_t d = k + carry;
        v += d;
        return d;
    }
};

// Covered pixels [x0, x1) of destination row y, all on one side of X = 0:
// the source pointer moves by the steps of the two coordinates, with no
// multiplication or bounds test per pixel (the span is known to be inside).
template <unsigned B>
void rotate_span_bytes(TransformSetup& s, int y, int64_t x0, int64_t x1, int64_t left, int64_t a, int64_t b,
                       int64_t sine, int64_t cosine)
{
    if (x0 >= x1)
        return;
    const bool negativeSide = x0 + left < 0;
    LinearStep fx(x0 + left, cosine, negativeSide), fy(x0 + left, -sine, negativeSide);
    const ptrdiff_t stride = static_cast<ptrdiff_t>(s.src.WidthBytes);
    const BYTE* in = s.src.hpbits + static_cast<size_t>(b + fy.v) * s.src.WidthBytes + static_cast<size_t>(a + fx.v) * B;
    BYTE* out = s.dst.hpbits + static_cast<size_t>(y) * s.dst.WidthBytes + static_cast<size_t>(x0) * B;
    // The pixels a few destination rows further down read the source near
    // where these do, moved by those rows' step: their lines are asked for
    // now, since along a slanted walk nearly every pixel is on another
    // source row, and the hardware prefetchers do not follow such a walk.
    const ptrdiff_t ahead = static_cast<ptrdiff_t>(kAhead * sine / kScale) * static_cast<ptrdiff_t>(B) +
                            static_cast<ptrdiff_t>(kAhead * cosine / kScale) * stride;
    for (int64_t n = x1 - x0; n > 0; --n, out += B) {
        __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(in) + static_cast<uintptr_t>(ahead)));
        std::memcpy(out, in, B);
        const int32_t dx = fx.step(), dy = fy.step();
        if (n > 1)  // the step after the last pixel may leave the image
            in += dx * static_cast<ptrdiff_t>(B) + dy * stride;
    }
}

template <unsigned B>
void rotate_run_bytes(TransformSetup& s, int y, int64_t lo, int64_t hi, int64_t left, int64_t a, int64_t b,
                      int64_t sine, int64_t cosine)
{
    // Split where X = x + left turns non-negative.
    const int64_t mid = std::clamp(-left, lo, hi);
    rotate_span_bytes<B>(s, y, lo, mid, left, a, b, sine, cosine);
    rotate_span_bytes<B>(s, y, mid, hi, left, a, b, sine, cosine);
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
    // Byte pixels are walked in bands of destination columns: a row of a
    // band reads a short diagonal of the source, and the next row nearly the
    // same one, so the source lines and pages a band touches stay cached. A
    // whole row at 45 degrees would touch a new page per pixel.
    constexpr int64_t kBand = 256;
    const bool banded = s.byteCopy != 0 && dstH <= (int64_t{1} << 22);
    std::vector<int64_t> spans;  // per row: lo, hi, a, b
    if (banded)
        spans.resize(static_cast<size_t>(dstH) * 4);
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
        if (banded) {
            int64_t* e = &spans[static_cast<size_t>(y) * 4];
            e[0] = lo;
            e[1] = hi;
            e[2] = a;
            e[3] = b;
        } else if (lo < hi) {
            const RoundedStep fx(lo + rp.rc.left, cosine), fy(lo + rp.rc.left, -sine);
            switch (s.byteCopy) {
            case 1: rotate_run_bytes<1>(s, row, lo, hi, rp.rc.left, a, b, sine, cosine); break;
            case 2: rotate_run_bytes<2>(s, row, lo, hi, rp.rc.left, a, b, sine, cosine); break;
            case 3: rotate_run_bytes<3>(s, row, lo, hi, rp.rc.left, a, b, sine, cosine); break;
            case 4: rotate_run_bytes<4>(s, row, lo, hi, rp.rc.left, a, b, sine, cosine); break;
            default: rotate_run_any(s, row, lo, hi, fx, fy, a, b); break;
            }
        }
        fill_background(s, row, hi, dstW);
    }
    if (!banded)
        return true;
    for (int64_t x0 = 0; x0 < dstW; x0 += kBand) {
        const int64_t x1 = std::min(dstW, x0 + kBand);
        for (int64_t y = 0; y < dstH; ++y) {
            const int64_t* e = &spans[static_cast<size_t>(y) * 4];
            const int64_t lo = std::max(e[0], x0), hi = std::min(e[1], x1);
            if (lo >= hi)
                continue;
            const int row = static_cast<int>(y);
            switch (s.byteCopy) {
            case 1: rotate_run_bytes<1>(s, row, lo, hi, rp.rc.left, e[2], e[3], sine, cosine); break;
            case 2: rotate_run_bytes<2>(s, row, lo, hi, rp.rc.left, e[2], e[3], sine, cosine); break;
            case 3: rotate_run_bytes<3>(s, row, lo, hi, rp.rc.left, e[2], e[3], sine, cosine); break;
            default: rotate_run_bytes<4>(s, row, lo, hi, rp.rc.left, e[2], e[3], sine, cosine); break;
            }
        }
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
    const bool right_angle = angle == 900 || angle == 2700 || angle == 1800;
    const bool copier = right_angle && (l.bitCount == 1 || (l.bitCount >= 8 && l.bitCount % 8 == 0 &&
                                                            l.bitCount <= 32));
    // New pixels are zero unless this call provably writes every one: the
    // copiers do when they run, the general path does when it has a
    // background.
    const bool coversAll = copier || background != KELM3_NO_BACKGROUND;
    HGLOBAL hDst = create_compatible_dib(hSrc, static_cast<UINT>(newW), static_cast<LONG>(newH), !coversAll);
    if (!hDst)
        return nullptr;

    if (copier) {
        bool copied = false;
        {
            LockedDib dst(hDst);
            if (dst.ok())
                copied = angle == 1800 ? half_turn(src, dst) : quarter_turn(src, dst, angle == 900 ? 0 : 1);
        }
        if (!copied)
            zero_pixels(hDst);
        return hDst;
    }
    ROTATEPARAMS rp;
    rp.rc.left = static_cast<LONG>(left);
    rp.rc.right = static_cast<LONG>(right);
    rp.rc.bottom = static_cast<LONG>(bottom);
    rp.rc.top = static_cast<LONG>(top);
    rp.sine = sine;
    rp.cosine = cosine;
    bool done = false;
    try {
        done = rotate_general(hSrc, hDst, rp, background);
    } catch (...) {
        done = false;
    }
    if (!done) {
        GlobalFree(hDst);
        return nullptr;
    }
    return hDst;
}

}  // namespace kelm
