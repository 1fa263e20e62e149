// StretchDIB and StretchDIB2DIBBlt: scaling by pixel selection between two
// images. Same-format byte pixels take the byte path, which picks rows by
// MulDiv over the rectangles' first and last rows and columns by an integer
// accumulator (no multiplication per pixel), and copies a finished row
// instead of rebuilding it when the next row maps to the same source row.
// Everything else is TransformDIB with StretchMapProc, whose source column
// depends on x alone and source row on y alone: one column table per call,
// one MulDiv per row, and the covered span of columns found once.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "geometry/walk.h"

namespace kelm {

namespace {

inline int32_t wrap32(int64_t v)
{
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v)));
}

template <unsigned B>
inline void put(BYTE* out, const BYTE* in)
{
    std::memcpy(out, in, B);
}

// One row of the byte path. `in` is the rectangle's first source pixel;
// `rightOk` says whether the pixel right of the rectangle lies in the image.
template <unsigned B>
void build_row(BYTE* out, const BYTE* in, int64_t cxDst, int64_t cxSrc, bool rightOk)
{
    if (cxDst == cxSrc) {
        std::memcpy(out, in, static_cast<size_t>(cxDst) * B);
        return;
    }
    if (cxDst > cxSrc) {
        // Each source pixel q times; whenever the remainder accumulator
        // overflows, the next source pixel once more. The last overflow falls
        // after the last source pixel and takes the one right of the
        // rectangle, or (outside the image) the rectangle's last pixel.
        const int64_t q = cxDst / cxSrc, e = cxDst % cxSrc;
        int64_t acc = 0;
        for (int64_t s = 0; s < cxSrc; ++s) {
            const BYTE* px = in + static_cast<size_t>(s) * B;
            for (int64_t k = 0; k < q; ++k, out += B)
                put<B>(out, px);
            acc += e;
            if (acc >= cxSrc) {
                acc -= cxSrc;
                const bool beyond = s + 1 == cxSrc && !rightOk;
                put<B>(out, beyond ? px : px + B);
                out += B;
            }
        }
        return;
    }
    // Narrowing: each destination pixel holds the last of its group of q
    // source pixels; an overflow of the accumulator skips one source pixel.
    const int64_t q = cxSrc / cxDst, e = cxSrc % cxDst;
    int64_t acc = 0, idx = q - 1;
    for (int64_t k = 0; k < cxDst; ++k, out += B) {
        put<B>(out, in + static_cast<size_t>(idx) * B);
        idx += q;
        acc += e;
        if (acc >= cxDst) {
            acc -= cxDst;
            ++idx;
        }
    }
}

#if defined(__SSE2__)
// memcpy whose 16-byte-aligned middle goes out by non-temporal stores: the
// destination lines are written whole without being read first, and the
// bytes are those of memcpy.
void stream_copy(BYTE* out, const BYTE* in, size_t n)
{
    size_t i = std::min<size_t>(n, (16 - (reinterpret_cast<uintptr_t>(out) & 15)) & 15);
    std::memcpy(out, in, i);
    for (; i + 16 <= n; i += 16)
        _mm_stream_si128(reinterpret_cast<__m128i*>(out + i), _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i)));
    std::memcpy(out + i, in + i, n - i);
}

// A result much larger than the caches is built a row at a time in a
// scratch row and streamed to every destination row that takes it: most of
// the cost of a big enlargement is the memory traffic of the writes, and
// ordinary stores would first read each destination line. False (nothing
// written) when the result is small or the scratch row cannot be had.
template <unsigned B>
bool byte_worker_streamed(const LockedDib& s, const LockedDib& d, const STRETCHPARAMS& p)
{
    const size_t rowBytes = static_cast<size_t>(p.cxDst) * B;
    if (static_cast<uint64_t>(rowBytes) * static_cast<uint64_t>(p.cyDst) < (uint64_t{64} << 20))
        return false;
    std::unique_ptr<BYTE[]> scratch(new (std::nothrow) BYTE[rowBytes]);
    if (!scratch)
        return false;
    const DibLayout& sl = s.layout();
    const DibLayout& dl = d.layout();
    const BYTE* sbits = s.bytes() + sl.pixelOffset;
    BYTE* dbits = d.bytes() + dl.pixelOffset;
    const size_t ss = static_cast<size_t>(sl.stride), ds = static_cast<size_t>(dl.stride);
    const bool rightOk = static_cast<int64_t>(p.xSrc) + p.cxSrc < sl.width;
    int64_t n = 0;
    while (n < p.cyDst) {
        const int64_t r = p.ySrc + muldiv64(p.cySrc - 1, n, p.cyDst - 1);
        build_row<B>(scratch.get(), sbits + static_cast<size_t>(r) * ss + static_cast<size_t>(p.xSrc) * B, p.cxDst,
                     p.cxSrc, rightOk);
        do {
            stream_copy(dbits + static_cast<size_t>(p.yDst + n) * ds + static_cast<size_t>(p.xDst) * B, scratch.get(),
                        rowBytes);
            ++n;
        } while (n < p.cyDst && p.ySrc + muldiv64(p.cySrc - 1, n, p.cyDst - 1) == r);
    }
    _mm_sfence();
    return true;
}
#endif

template <unsigned B>
void byte_worker(const LockedDib& s, const LockedDib& d, const STRETCHPARAMS& p)
{
#if defined(__SSE2__)
    if (byte_worker_streamed<B>(s, d, p))
        return;
#endif
    const DibLayout& sl = s.layout();
    const DibLayout& dl = d.layout();
    const BYTE* sbits = s.bytes() + sl.pixelOffset;
    BYTE* dbits = d.bytes() + dl.pixelOffset;
    const size_t ss = static_cast<size_t>(sl.stride), ds = static_cast<size_t>(dl.stride);
    const bool rightOk = static_cast<int64_t>(p.xSrc) + p.cxSrc < sl.width;
    const size_t rowBytes = static_cast<size_t>(p.cxDst) * B;
    int64_t n = 0;
    while (n < p.cyDst) {
        const int64_t r = p.ySrc + muldiv64(p.cySrc - 1, n, p.cyDst - 1);
        BYTE* out = dbits + static_cast<size_t>(p.yDst + n) * ds + static_cast<size_t>(p.xDst) * B;
        build_row<B>(out, sbits + static_cast<size_t>(r) * ss + static_cast<size_t>(p.xSrc) * B, p.cxDst, p.cxSrc,
                     rightOk);
        ++n;
        while (n < p.cyDst && p.ySrc + muldiv64(p.cySrc - 1, n, p.cyDst - 1) == r) {
            std::memcpy(dbits + static_cast<size_t>(p.yDst + n) * ds + static_cast<size_t>(p.xDst) * B, out, rowBytes);
            ++n;
        }
    }
}

void byte_worker_any(const LockedDib& s, const LockedDib& d, const STRETCHPARAMS& p, unsigned b)
{
    switch (b) {
    case 1: byte_worker<1>(s, d, p); break;
    case 2: byte_worker<2>(s, d, p); break;
    case 3: byte_worker<3>(s, d, p); break;
    case 4: byte_worker<4>(s, d, p); break;
    case 5: byte_worker<5>(s, d, p); break;
    case 6: byte_worker<6>(s, d, p); break;
    case 7: byte_worker<7>(s, d, p); break;
    case 8: byte_worker<8>(s, d, p); break;
    default: break;
    }
}

// 4 bits, equal widths, even columns: whole bytes per row.
void nibble_worker(const LockedDib& s, const LockedDib& d, const STRETCHPARAMS& p)
{
    const DibLayout& sl = s.layout();
    const DibLayout& dl = d.layout();
    const size_t bytes = static_cast<size_t>(p.cxDst) / 2;
    for (int64_t n = 0; n < p.cyDst; ++n) {
        const int64_t r = p.ySrc + muldiv64(p.cySrc - 1, n, p.cyDst - 1);
        std::memcpy(d.bytes() + dl.pixelOffset + static_cast<size_t>(p.yDst + n) * dl.stride + p.xDst / 2,
                    s.bytes() + sl.pixelOffset + static_cast<size_t>(r) * sl.stride + p.xSrc / 2, bytes);
    }
}

// The byte path when its conditions hold; false (nothing written) otherwise.
bool stretch_fast(HGLOBAL hDst, const STRETCHPARAMS& p, HGLOBAL hSrc)
{
    LockedDib d(hDst);
    LockedDib s(hSrc);
    if (!d.ok() || !s.ok())
        return false;
    const DibLayout& dl = d.layout();
    const DibLayout& sl = s.layout();
    if (sl.bitCount != dl.bitCount)
        return false;
    const uint32_t bits = sl.bitCount;
    const bool nibbles = bits == 4 && p.xSrc % 2 == 0 && p.xDst % 2 == 0 && p.cxDst % 2 == 0 && p.cxDst == p.cxSrc;
    // Pixels wider than 8 bytes are no layout the library makes or reads;
    // the general path refuses them.
    if (!(bits >= 8 || nibbles) || bits >= 72)
        return false;
    if (sl.planes != 1 || dl.planes != 1 || sl.compression != BI_RGB || dl.compression != BI_RGB)
        return false;
    if (p.xDst < 0 || p.yDst < 0 || p.xSrc < 0 || p.ySrc < 0 || p.cxSrc <= 0 || p.cySrc <= 0 || p.cxDst <= 0 ||
        p.cyDst <= 1)
        return false;
    if (int64_t{p.xSrc} + p.cxSrc > sl.width || int64_t{p.ySrc} + p.cySrc > sl.height ||
        int64_t{p.xDst} + p.cxDst > dl.width || int64_t{p.yDst} + p.cyDst > dl.height)
        return false;
    if ((is_cmyk(s.bytes()) != 0) != (is_cmyk(d.bytes()) != 0))
        return false;
    if (nibbles)
        nibble_worker(s, d, p);
    else
        byte_worker_any(s, d, p, bits / 8);
    return true;
}

template <unsigned B>
void stretch_run_bytes(TransformSetup& s, int y, int sy, const int32_t* cols, int64_t lo, int64_t hi)
{
    BYTE* out = s.dst.hpbits + static_cast<size_t>(y) * s.dst.WidthBytes + static_cast<size_t>(lo) * B;
    const BYTE* in = s.src.hpbits + static_cast<size_t>(sy) * s.src.WidthBytes;
    for (int64_t x = lo; x < hi; ++x, out += B)
        std::memcpy(out, in + static_cast<size_t>(cols[x - lo]) * B, B);
}

// The general path: TransformDIB with StretchMapProc and a white background.
bool stretch_general(HGLOBAL hDst, const STRETCHPARAMS& p, HGLOBAL hSrc)
{
    TransformSetup s;
    if (!s.open(hSrc, hDst, false, 0x00FFFFFF))
        return false;
    const int64_t srcW = s.src.bmi.biWidth, srcH = s.src.bmi.biHeight;
    const int64_t dstW = s.dst.bmi.biWidth, dstH = s.dst.bmi.biHeight;
    // Rows and columns StretchMapProc lets through: the destination
    // rectangle within the image (empty for negative extents).
    const int64_t ya = std::max<int64_t>(0, p.yDst), yb = std::min<int64_t>(dstH, int64_t{p.yDst} + p.cyDst);
    const int64_t xa = std::max<int64_t>(0, p.xDst), xb = std::min<int64_t>(dstW, int64_t{p.xDst} + p.cxDst);
    if (ya >= yb || xa >= xb)
        return true;
    auto sxOf = [&](int64_t x) { return p.xSrc + muldiv64(x - p.xDst, p.cxSrc, p.cxDst); };
    int64_t lo, hi;
    inside_interval(xa, xb, srcW, sxOf, &lo, &hi);
    if (lo >= hi)
        lo = hi = xb;
    std::vector<int32_t> cols(static_cast<size_t>(hi - lo));
    for (int64_t x = lo; x < hi; ++x)
        cols[static_cast<size_t>(x - lo)] = static_cast<int32_t>(sxOf(x));
    for (int64_t y = ya; y < yb; ++y) {
        const int row = static_cast<int>(y);
        const int64_t sy = p.ySrc + muldiv64(y - p.yDst, p.cySrc, p.cyDst);
        if (sy < 0 || sy >= srcH || lo >= hi) {
            fill_background(s, row, xa, xb);
            continue;
        }
        fill_background(s, row, xa, lo);
        const int srow = static_cast<int>(sy);
        switch (s.byteCopy) {
        case 1: stretch_run_bytes<1>(s, row, srow, cols.data(), lo, hi); break;
        case 2: stretch_run_bytes<2>(s, row, srow, cols.data(), lo, hi); break;
        case 3: stretch_run_bytes<3>(s, row, srow, cols.data(), lo, hi); break;
        case 4: stretch_run_bytes<4>(s, row, srow, cols.data(), lo, hi); break;
        default:
            for (int64_t x = lo; x < hi; ++x)
                transfer_pixel(s, static_cast<int>(x), row, cols[static_cast<size_t>(x - lo)], srow);
            break;
        }
        fill_background(s, row, hi, xb);
    }
    return true;
}

}  // namespace

LONG CALLBACK StretchMapProc(int msg, POINT* pt, LPVOID data)
{
    if (!pt || !data)
        return 1;
    const auto* p = static_cast<const STRETCHPARAMS*>(data);
    if (msg == TRANSFORM_LINE)
        return pt->y >= p->yDst && pt->y < int64_t{p->yDst} + p->cyDst;
    if (msg != TRANSFORM_PIXEL)
        return 1;
    if (pt->x < p->xDst || pt->x >= int64_t{p->xDst} + p->cxDst)
        return 0;
    pt->x = wrap32(p->xSrc + muldiv64(int64_t{pt->x} - p->xDst, p->cxSrc, p->cxDst));
    pt->y = wrap32(p->ySrc + muldiv64(int64_t{pt->y} - p->yDst, p->cySrc, p->cyDst));
    return 1;
}

BOOL stretch_dib_to_dib(HGLOBAL hDst, const STRETCHPARAMS& p, HGLOBAL hSrc)
{
    if (p.cxDst == 0 || p.cyDst == 0)
        return 0;
    if (stretch_fast(hDst, p, hSrc))
        return 1;
    return stretch_general(hDst, p, hSrc) ? 1 : 0;
}

HGLOBAL stretch_dib(HGLOBAL hSrc, LONG width, LONG height, const RECT* rc)
{
    if (!hSrc || width < 0 || height < 0)
        return nullptr;
    LockedDib src(hSrc);
    if (!src.ok())
        return nullptr;
    RECT r;
    if (rc) {
        r = *rc;
    } else {
        r.left = 0;
        r.bottom = 0;
        r.right = wrap32(src.layout().width - 1);
        r.top = wrap32(src.layout().height - 1);
    }
    // A successful stretch into the whole image writes every pixel (the
    // byte path every byte of each row at these depths, the general path a
    // source pixel or white): the zero fill is needed only when it fails.
    const uint32_t bits = src.layout().bitCount;
    const bool fills = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
    HGLOBAL hDst = create_compatible_dib(hSrc, static_cast<UINT>(width), height, !fills);
    if (!hDst)
        return nullptr;
    STRETCHPARAMS p{0, 0, width, height, r.left, r.bottom, wrap32(int64_t{r.right} - r.left + 1),
                    wrap32(int64_t{r.top} - r.bottom + 1)};
    if (!stretch_dib_to_dib(hDst, p, hSrc) && fills)
        zero_pixels(hDst);
    return hDst;
}

}  // namespace kelm
