// Reference model of the geometry rules for the tests: the general transform,
// rotation, both stretch paths and the blender, written straight from the
// rules one destination pixel at a time. It shares no code with the library:
// the mapping, the path choice and the byte walks are its own, and pixels are
// moved through the public pixel API (raw values, or Rgbq16 when formats
// differ), which is the accessor the rules are stated in.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "kelm3.h"

namespace kelm_test::geom {

// round(a x b / c), halves away from zero, exact in 64 bits.
inline int64_t model_muldiv(int64_t a, int64_t b, int64_t c)
{
    const int64_t p = a * b;
    const bool neg = (p < 0) != (c < 0);
    const uint64_t mp = p < 0 ? uint64_t(-(p + 1)) + 1 : uint64_t(p);
    const uint64_t mc = c < 0 ? uint64_t(-(c + 1)) + 1 : uint64_t(c);
    const uint64_t q = mp / mc + ((mp % mc) * 2 >= mc ? 1 : 0);
    return neg ? -int64_t(q) : int64_t(q);
}

struct Info {
    int32_t width = 0, height = 0, headerSize = 0;
    uint16_t planes = 0, bits = 0;
    uint32_t compression = 0;
    bool cmyk = false;
    size_t tableOffset = 0, paletteSize = 0, pixelOffset = 0, stride = 0, blockSize = 0;
    std::vector<uint8_t> table;  // DIBPaletteSize bytes at the table (as far as the block goes)
};

inline Info info_of(HGLOBAL h)
{
    Info i;
    auto* p = static_cast<uint8_t*>(GlobalLock(h));
    i.blockSize = GlobalSize(h);
    std::memcpy(&i.headerSize, p, 4);
    std::memcpy(&i.width, p + 4, 4);
    std::memcpy(&i.height, p + 8, 4);
    std::memcpy(&i.planes, p + 12, 2);
    std::memcpy(&i.bits, p + 14, 2);
    std::memcpy(&i.compression, p + 16, 4);
    i.cmyk = DIBIsCmyk(p) != 0;
    i.tableOffset = size_t(i.headerSize) + (i.compression == BI_BITFIELDS ? 12 : 0);
    i.paletteSize = DIBPaletteSize(p);
    i.pixelOffset = i.tableOffset + i.paletteSize;
    i.stride = size_t((int64_t(i.width) * i.bits + 31) / 32) * 4;
    const size_t n = std::min(i.paletteSize, i.blockSize > i.tableOffset ? i.blockSize - i.tableOffset : 0);
    i.table.assign(p + i.tableOffset, p + i.tableOffset + n);
    GlobalUnlock(h);
    return i;
}

// ---------------------------------------------------------------------------
// The general transform, with the mapping given as two functions.

struct Mapping {
    std::function<bool(int y)> line = [](int) { return true; };
    std::function<bool(int x, int y, int64_t* sx, int64_t* sy)> pixel = [](int x, int y, int64_t* sx, int64_t* sy) {
        *sx = x;
        *sy = y;
        return true;
    };
};

inline bool model_raw_copy(const Info& s, const Info& d)
{
    if (s.bits != d.bits || s.planes != d.planes || s.cmyk != d.cmyk)
        return false;
    if (s.bits >= 16)
        return true;
    return s.table.size() == s.paletteSize && d.table.size() >= s.paletteSize &&
           std::memcmp(s.table.data(), d.table.data(), s.paletteSize) == 0;
}

// The transform without a colour callback: 1, or 0 when either image does
// not open.
inline int model_transform(HGLOBAL src, HGLOBAL dst, const Mapping& m, DWORD background)
{
    LPTRDIB rs = RWOpenDIB(src);
    LPTRDIB rd = rs ? RWOpenDIB(dst) : nullptr;
    if (!rs || !rd) {
        if (rs)
            RWClose(rs);
        return 0;
    }
    const Info si = info_of(src), di = info_of(dst);
    const bool raw = model_raw_copy(si, di);
    const Rgbq16 bg{WORD(((background >> 16) & 0xFF) * 257), WORD(((background >> 8) & 0xFF) * 257),
                    WORD((background & 0xFF) * 257), 0};
    for (int y = 0; y < di.height; ++y) {
        if (!m.line(y))
            continue;
        for (int x = 0; x < di.width; ++x) {
            int64_t sx, sy;
            if (!m.pixel(x, y, &sx, &sy))
                continue;
            if (sx < 0 || sx >= si.width || sy < 0 || sy >= si.height) {
                if (background != 0xFFFFFFFFu)
                    RWSetPixelRGB16(rd, x, y, &bg);
                continue;
            }
            if (raw) {
                uint8_t v[8] = {};
                RWGetPixelIndex(rs, int(sx), int(sy), v);
                RWSetPixelIndex(rd, x, y, v);
            } else {
                Rgbq16 c;
                RWGetPixelRGB16(rs, int(sx), int(sy), &c);
                RWSetPixelRGB16(rd, x, y, &c);
            }
        }
    }
    RWClose(rd);
    RWClose(rs);
    return 1;
}

// ---------------------------------------------------------------------------
// Rotation.

inline int model_normalise(int32_t angle)
{
    int64_t a = angle;
    while (a >= 3600)
        a -= 3600;
    if (a < 0)
        a += 3600 * ((3599 - a) / 3600);
    return int(a);
}

inline void model_sin_cos(int a, int32_t* s, int32_t* c)
{
    if (a == 0) { *s = 0; *c = 10000; return; }
    if (a == 900) { *s = 10000; *c = 0; return; }
    if (a == 1800) { *s = 0; *c = -10000; return; }
    if (a == 2700) { *s = -10000; *c = 0; return; }
    const long double t = (long double)a * 0.0017453292519943296L;
    *s = int32_t(10000.0L * sinl(t) + 0.5L);
    *c = int32_t(10000.0L * cosl(t) + 0.5L);
}

struct RotateBox {
    int64_t left, right, bottom, top;
    int32_t sine, cosine;
};

inline RotateBox model_rotate_box(int64_t W, int64_t H, int32_t angle)
{
    RotateBox b{};
    model_sin_cos(model_normalise(angle), &b.sine, &b.cosine);
    const int64_t xs[4] = {0, W - 1, W - 1, 0}, ys[4] = {0, 0, H - 1, H - 1};
    for (int i = 0; i < 4; ++i) {
        const int64_t x = xs[i] * b.cosine / 10000 - ys[i] * b.sine / 10000;
        const int64_t y = xs[i] * b.sine / 10000 + ys[i] * b.cosine / 10000;
        if (i == 0 || x < b.left) b.left = x;
        if (i == 0 || x > b.right) b.right = x;
        if (i == 0 || y < b.bottom) b.bottom = y;
        if (i == 0 || y > b.top) b.top = y;
    }
    return b;
}

inline Mapping rotate_mapping(const RotateBox& b)
{
    Mapping m;
    m.pixel = [b](int x, int y, int64_t* sx, int64_t* sy) {
        const int64_t X = x + b.left, Y = y + b.bottom;
        *sx = model_muldiv(Y, b.sine, 10000) + model_muldiv(X, b.cosine, 10000);
        *sy = model_muldiv(Y, b.cosine, 10000) + model_muldiv(X, -b.sine, 10000);
        return true;
    };
    return m;
}

// The result RotateDIB must give: every path is modelled by the general
// mapping, which picks the very pixels the right-angle copiers move.
inline HGLOBAL model_rotate(HGLOBAL src, int32_t angle, DWORD background)
{
    const Info si = info_of(src);
    const RotateBox b = model_rotate_box(si.width, si.height, angle);
    HGLOBAL d = CreateCompatibleDIB(src, UINT(b.right - b.left + 1), LONG(b.top - b.bottom + 1));
    if (!d)
        return nullptr;
    model_transform(src, d, rotate_mapping(b), background);
    return d;
}

// ---------------------------------------------------------------------------
// Stretching.

struct Rect8 {
    int32_t xDst, yDst, cxDst, cyDst, xSrc, ySrc, cxSrc, cySrc;
};

inline bool model_stretch_fast_applies(const Info& s, const Info& d, const Rect8& r)
{
    if (s.bits != d.bits)
        return false;
    const bool nib = s.bits == 4 && r.xSrc % 2 == 0 && r.xDst % 2 == 0 && r.cxDst % 2 == 0 && r.cxDst == r.cxSrc;
    if (!(s.bits >= 8 || nib))
        return false;
    if (s.planes != 1 || d.planes != 1 || s.compression != 0 || d.compression != 0)
        return false;
    if (r.xDst < 0 || r.yDst < 0 || r.xSrc < 0 || r.ySrc < 0 || r.cxSrc <= 0 || r.cySrc <= 0 || r.cxDst <= 0 ||
        r.cyDst <= 1)
        return false;
    if (int64_t(r.xSrc) + r.cxSrc > s.width || int64_t(r.ySrc) + r.cySrc > s.height ||
        int64_t(r.xDst) + r.cxDst > d.width || int64_t(r.yDst) + r.cyDst > d.height)
        return false;
    return s.cmyk == d.cmyk;
}

// Source column of each destination column of a row on the byte path, by
// the rule's own walk; `cxSrc` stands for the pixel right of the rectangle.
inline std::vector<int64_t> model_fast_columns(int64_t cxDst, int64_t cxSrc)
{
    std::vector<int64_t> cols;
    if (cxDst == cxSrc) {
        for (int64_t i = 0; i < cxDst; ++i)
            cols.push_back(i);
    } else if (cxDst > cxSrc) {
        const int64_t q = cxDst / cxSrc, e = cxDst % cxSrc;
        int64_t acc = 0, s = 0, uses = 0;
        while (int64_t(cols.size()) < cxDst) {
            cols.push_back(s);
            if (++uses == q) {
                uses = 0;
                ++s;
                acc += e;
                if (acc >= cxSrc) {
                    acc -= cxSrc;
                    cols.push_back(s);
                }
            }
        }
    } else {
        const int64_t q = cxSrc / cxDst, e = cxSrc % cxDst;
        int64_t acc = 0, k = 0, inGroup = 0;
        cols.assign(size_t(cxDst), -1);
        for (int64_t i = 0; i < cxSrc && k < cxDst; ++i) {
            cols[size_t(k)] = i;
            if (++inGroup == q) {
                inGroup = 0;
                ++k;
                acc += e;
                if (acc >= cxDst) {
                    acc -= cxDst;
                    ++i;  // skipped
                }
            }
        }
    }
    return cols;
}

inline int model_stretch(HGLOBAL dst, const Rect8& r, HGLOBAL src)
{
    if (r.cxDst == 0 || r.cyDst == 0)
        return 0;
    const Info si = info_of(src), di = info_of(dst);
    if (model_stretch_fast_applies(si, di, r)) {
        auto* s = static_cast<uint8_t*>(GlobalLock(src));
        auto* d = static_cast<uint8_t*>(GlobalLock(dst));
        for (int64_t n = 0; n < r.cyDst; ++n) {
            const int64_t row = r.ySrc + model_muldiv(r.cySrc - 1, n, r.cyDst - 1);
            uint8_t* out = d + di.pixelOffset + size_t(r.yDst + n) * di.stride;
            const uint8_t* in = s + si.pixelOffset + size_t(row) * si.stride;
            if (si.bits == 4) {
                std::memcpy(out + r.xDst / 2, in + r.xSrc / 2, size_t(r.cxDst) / 2);
                continue;
            }
            const size_t b = si.bits / 8;
            const auto cols = model_fast_columns(r.cxDst, r.cxSrc);
            for (int64_t k = 0; k < r.cxDst; ++k) {
                int64_t c = cols[size_t(k)];
                if (c == r.cxSrc && r.xSrc + c >= si.width)
                    c = r.cxSrc - 1;  // beyond the image: the rectangle's last pixel
                std::memcpy(out + size_t(r.xDst + k) * b, in + size_t(r.xSrc + c) * b, b);
            }
        }
        GlobalUnlock(dst);
        GlobalUnlock(src);
        return 1;
    }
    Mapping m;
    m.line = [r](int y) { return y >= r.yDst && int64_t(y) < int64_t(r.yDst) + r.cyDst; };
    m.pixel = [r](int x, int y, int64_t* sx, int64_t* sy) {
        if (x < r.xDst || int64_t(x) >= int64_t(r.xDst) + r.cxDst)
            return false;
        *sx = r.xSrc + model_muldiv(int64_t(x) - r.xDst, r.cxSrc, r.cxDst);
        *sy = r.ySrc + model_muldiv(int64_t(y) - r.yDst, r.cySrc, r.cyDst);
        return true;
    };
    return model_transform(src, dst, m, 0x00FFFFFF);
}

// ---------------------------------------------------------------------------
// Blending.

inline bool model_has_alpha(HGLOBAL h)
{
    auto* p = static_cast<uint8_t*>(GlobalLock(h));
    uint32_t size = 0, mask = 0, cs = 0;
    std::memcpy(&size, p, 4);
    if (size == 108 && GlobalSize(h) >= 108) {
        std::memcpy(&mask, p + 52, 4);
        std::memcpy(&cs, p + 56, 4);
    }
    GlobalUnlock(h);
    return size == 108 && mask == 0xFF000000u && cs == 1;
}

inline uint8_t model_mix(int d, int s, int a)
{
    return uint8_t(d + ((s - d) * a) / 255);
}

inline int model_blend(HGLOBAL dst, const Rect8& r, HGLOBAL src, int opacity)
{
    if (r.cxDst == 0 || r.cyDst == 0)
        return 0;
    const Info si = info_of(src), di = info_of(dst);
    const bool alpha = model_has_alpha(src);
    const bool ok = (alpha || opacity != 255) && (di.bits == 24 || di.bits == 32) && (si.bits == 24 || si.bits == 32) &&
                    si.planes == 1 && di.planes == 1 && r.xDst >= 0 && r.yDst >= 0 && r.xSrc >= 0 && r.ySrc >= 0 &&
                    r.cxSrc > 0 && r.cySrc > 0 && r.cxDst > 0 && r.cyDst > 1 &&
                    int64_t(r.xSrc) + r.cxSrc <= si.width && int64_t(r.ySrc) + r.cySrc <= si.height &&
                    int64_t(r.xDst) + r.cxDst <= di.width && int64_t(r.yDst) + r.cyDst <= di.height &&
                    si.compression == 0 && di.compression == 0 && !di.cmyk;
    if (!ok)
        return model_stretch(dst, r, src);
    // Source column for each destination column.
    std::vector<int64_t> cols;
    if (r.cxDst >= r.cxSrc) {
        cols = model_fast_columns(r.cxDst, r.cxSrc);
    } else {
        const int64_t q = r.cxSrc / r.cxDst, e = r.cxSrc % r.cxDst;
        int64_t acc = 0, inGroup = 0;
        for (int64_t i = 0; i < r.cxSrc; ++i) {
            if (++inGroup == q) {
                inGroup = 0;
                cols.push_back(i + 1);  // the pixel after the group
                acc += e;
                if (acc >= r.cxDst) {
                    acc -= r.cxDst;
                    ++i;
                }
            }
        }
    }
    auto* s = static_cast<uint8_t*>(GlobalLock(src));
    auto* d = static_cast<uint8_t*>(GlobalLock(dst));
    const size_t sb = si.bits / 8, db = di.bits / 8;
    const size_t srcEnd = si.pixelOffset + si.stride * size_t(si.height);
    for (int64_t n = 0; n < r.cyDst; ++n) {
        const int64_t row = r.ySrc + model_muldiv(r.cySrc - 1, n, r.cyDst - 1);
        for (int64_t k = 0; k < r.cxDst; ++k) {
            int64_t c = cols[size_t(k)];
            if (c >= r.cxSrc && r.xSrc + c >= si.width)
                c = r.cxSrc - 1;
            const size_t so = si.pixelOffset + size_t(row) * si.stride + size_t(r.xSrc + c) * sb;
            uint8_t* out = d + di.pixelOffset + size_t(r.yDst + n) * di.stride + size_t(r.xDst + k) * db;
            int a = opacity;
            if (alpha)
                a = ((so + 3 < srcEnd ? s[so + 3] : 255) * opacity) / 255;
            for (int ch = 0; ch < 3; ++ch)
                out[ch] = model_mix(out[ch], s[so + ch], a);
        }
    }
    GlobalUnlock(dst);
    GlobalUnlock(src);
    return 1;
}

}  // namespace kelm_test::geom
