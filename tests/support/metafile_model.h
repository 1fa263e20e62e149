// Reference model of metafile rotation for the tests, with builders and
// parsers of WMF and EMF bytes. It shares no code with the library: the
// matrix, the point arithmetic and the per-record rules are written out
// again here, straight from the rules, one record type at a time.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "kelm3.h"

namespace kelm_test::meta {

inline void PrintTo(const struct WmfRec& r, std::ostream* os);

// round(a x b / c), halves away from zero.
inline int64_t muldiv(int64_t a, int64_t b, int64_t c)
{
    const int64_t p = a * b;
    const int64_t q = (std::llabs(p) * 2 + std::llabs(c)) / (2 * std::llabs(c));
    return (p < 0) != (c < 0) ? -q : q;
}

struct Matrix {
    int32_t m00, m01, m10, m11;
    int32_t dx = 0, dy = 0;
    int32_t angle;
    bool flipped;
};

// cos and sin x 1000 truncated toward zero; exact integers (500 at 30
// degrees) stay themselves.
inline int32_t trunc1000(double v)
{
    v *= 1000.0;
    const double r = std::round(v);
    return std::fabs(v - r) < 1e-7 ? int32_t(r) : int32_t(std::trunc(v));
}

inline Matrix matrix(int32_t angle, bool flipped)
{
    const double t = double(angle) * 3.14159265358979323846 / 1800.0;
    const int32_t c = trunc1000(std::cos(t)), s = trunc1000(std::sin(t));
    Matrix m{c, s, -s, c, 0, 0, angle, flipped};
    if (flipped) {
        m.m01 = -s;
        m.m11 = -c;
    }
    return m;
}

inline int32_t wrap(int64_t v)
{
    return int32_t(uint32_t(uint64_t(v)));
}

// With translation (points of records) or without (the caller's points).
inline void apply(const Matrix& m, int32_t x, int32_t y, int32_t* ox, int32_t* oy, bool translate = true)
{
    *ox = wrap(muldiv(x, m.m00, 1000) + muldiv(y, m.m01, 1000) + (translate ? m.dx : 0));
    *oy = wrap(muldiv(x, m.m10, 1000) + muldiv(y, m.m11, 1000) + (translate ? m.dy : 0));
}

// ---------------------------------------------------------------------------
// WMF records as function and parameter words.
struct WmfRec {
    uint16_t fn;
    std::vector<uint16_t> parm;
    bool operator==(const WmfRec& o) const { return fn == o.fn && parm == o.parm; }
};

inline void PrintTo(const WmfRec& r, std::ostream* os)
{
    *os << "{" << std::hex << r.fn << std::dec << ":";
    for (uint16_t v : r.parm)
        *os << " " << int16_t(v);
    *os << "}";
}

inline std::vector<uint8_t> wmf_bytes(const std::vector<WmfRec>& recs, uint16_t objects = 0)
{
    std::vector<uint8_t> b(18, 0);
    auto w16 = [&](uint16_t v) {
        b.push_back(uint8_t(v));
        b.push_back(uint8_t(v >> 8));
    };
    uint32_t largest = 3;
    for (const WmfRec& r : recs) {
        const uint32_t words = uint32_t(3 + r.parm.size());
        largest = std::max(largest, words);
        w16(uint16_t(words));
        w16(uint16_t(words >> 16));
        w16(r.fn);
        for (uint16_t v : r.parm)
            w16(v);
    }
    w16(3), w16(0), w16(0);
    const uint16_t head[3] = {1, 9, 0x300};
    std::memcpy(b.data(), head, 6);
    const uint32_t total = uint32_t(b.size() / 2);
    std::memcpy(b.data() + 6, &total, 4);
    std::memcpy(b.data() + 10, &objects, 2);
    std::memcpy(b.data() + 12, &largest, 4);
    return b;
}

inline std::vector<WmfRec> wmf_parse(const std::vector<uint8_t>& b)
{
    std::vector<WmfRec> out;
    uint16_t hs;
    std::memcpy(&hs, b.data() + 2, 2);
    for (size_t at = size_t(hs) * 2; at + 6 <= b.size();) {
        uint32_t words;
        uint16_t fn;
        std::memcpy(&words, b.data() + at, 4);
        std::memcpy(&fn, b.data() + at + 4, 2);
        if (fn == 0 || words < 3 || at + size_t(words) * 2 > b.size())
            break;
        WmfRec r{fn, std::vector<uint16_t>(words - 3)};
        std::memcpy(r.parm.data(), b.data() + at + 6, r.parm.size() * 2);
        out.push_back(r);
        at += size_t(words) * 2;
    }
    return out;
}

inline std::vector<uint8_t> wmf_of(HMETAFILE h)
{
    std::vector<uint8_t> b(GetMetaFileBitsEx(h, 0, nullptr));
    GetMetaFileBitsEx(h, UINT(b.size()), b.data());
    return b;
}

inline int16_t s16(uint16_t v)
{
    return int16_t(v);
}

// The point x = parm[ix], y = parm[iy], mapped and stored as 16 bits.
inline void wmf_pt(const Matrix& m, std::vector<uint16_t>& p, size_t ix, size_t iy)
{
    int32_t x, y;
    apply(m, s16(p[ix]), s16(p[iy]), &x, &y);
    p[ix] = uint16_t(x);
    p[iy] = uint16_t(y);
}
inline void wmf_sort(std::vector<uint16_t>& p, size_t lo, size_t hi)
{
    if (s16(p[hi]) < s16(p[lo]))
        std::swap(p[hi], p[lo]);
}

// What the rotation makes of one well-formed source record; nullopt when
// it is left out.
inline std::optional<WmfRec> wmf_expected(const Matrix& m, WmfRec r)
{
    auto& p = r.parm;
    switch (r.fn) {
    case 0x0103: case 0x020B: case 0x020C: case 0x0F43:
        return std::nullopt;
    case 0x0213: case 0x0214:
        wmf_pt(m, p, 1, 0);
        break;
    case 0x02FB: {
        int32_t e = s16(p[2]);
        if (m.flipped)
            e = -e;
        p[2] = p[3] = uint16_t(e + m.angle);
        break;
    }
    case 0x0324: case 0x0325:
        for (size_t k = 0; k < p[0]; ++k)
            wmf_pt(m, p, 1 + 2 * k, 2 + 2 * k);
        break;
    case 0x0416: case 0x0418: case 0x041B:
        wmf_pt(m, p, 1, 0);
        wmf_pt(m, p, 3, 2);
        wmf_sort(p, 2, 0);
        wmf_sort(p, 3, 1);
        break;
    case 0x0419: case 0x041F:
        wmf_pt(m, p, 3, 2);
        break;
    case 0x0521: {
        const size_t w = (p[0] + 1) / 2;
        wmf_pt(m, p, 2 + w, 1 + w);
        break;
    }
    case 0x0538: {
        size_t total = 0;
        for (size_t k = 0; k < p[0]; ++k)
            total += p[1 + k];
        for (size_t k = 0; k < total; ++k)
            wmf_pt(m, p, 1 + p[0] + 2 * k, 2 + p[0] + 2 * k);
        break;
    }
    case 0x061C: {
        wmf_pt(m, p, 3, 2);
        wmf_pt(m, p, 5, 4);
        // The corner size turns as a size: exchanged nearest odd quarters.
        const int a = ((m.angle % 3600) + 3600) % 3600;
        if (((a + 450) / 900) % 2 == 1)
            std::swap(p[0], p[1]);
        break;
    }
    case 0x0817: case 0x081A: case 0x0830:
        wmf_pt(m, p, 1, 0);
        wmf_pt(m, p, 3, 2);
        wmf_pt(m, p, 5, 4);
        wmf_pt(m, p, 7, 6);
        break;
    case 0x0A32:
        wmf_pt(m, p, 1, 0);
        if (p[3] & 6) {
            wmf_pt(m, p, 4, 5);
            wmf_pt(m, p, 6, 7);
            wmf_sort(p, 5, 7);
            wmf_sort(p, 4, 6);
        }
        break;
    default:
        break;
    }
    return r;
}

// The window of the rotated metafile: origin 0, 0 and the extent of the
// turned source window, and the matrix with its translation.
struct WmfFrame {
    Matrix m;
    int32_t width, height;
};
inline WmfFrame wmf_frame(int32_t angle, int32_t x0, int32_t y0, int32_t w, int32_t h)
{
    WmfFrame f{matrix(angle, h < 0), 0, 0};
    int32_t l = 32767, t = 32767, r = -32767, b = -32767;
    const int32_t xs[4] = {x0, x0 + w, x0 + w, x0}, ys[4] = {y0, y0, y0 + h, y0 + h};
    for (int k = 0; k < 4; ++k) {
        int32_t x, y;
        apply(f.m, xs[k], ys[k], &x, &y, false);
        l = std::min(l, x), r = std::max(r, x), t = std::min(t, y), b = std::max(b, y);
    }
    f.m.dx = -l;
    f.m.dy = -t;
    f.width = r - l;
    f.height = b - t;
    return f;
}

// ---------------------------------------------------------------------------
// EMF records as type and the bytes after the 8-byte record header.
struct EmfRec {
    uint32_t type;
    std::vector<uint8_t> body;
    bool operator==(const EmfRec& o) const { return type == o.type && body == o.body; }
};

inline void PrintTo(const EmfRec& r, std::ostream* os)
{
    *os << "{" << r.type << ":";
    for (size_t i = 0; i + 4 <= r.body.size(); i += 4) {
        int32_t v;
        std::memcpy(&v, r.body.data() + i, 4);
        *os << " " << v;
    }
    *os << "}";
}

inline std::vector<uint8_t> le32(std::initializer_list<int32_t> v)
{
    std::vector<uint8_t> b;
    for (int32_t x : v)
        for (int i = 0; i < 4; ++i)
            b.push_back(uint8_t(uint32_t(x) >> (8 * i)));
    return b;
}
inline int32_t get32(const std::vector<uint8_t>& b, size_t off)
{
    int32_t v;
    std::memcpy(&v, b.data() + off, 4);
    return v;
}
inline void put32(std::vector<uint8_t>& b, size_t off, int32_t v)
{
    std::memcpy(b.data() + off, &v, 4);
}

// A whole EMF: header (bounds, handles, description), the records, the end.
inline std::vector<uint8_t> emf_bytes(const std::vector<EmfRec>& recs, RECT bounds, uint16_t handles = 1,
                                      const std::u16string& desc = u"")
{
    const size_t descBytes = desc.size() * 2, headerSize = 108 + (descBytes + 3) / 4 * 4;
    std::vector<uint8_t> b = le32({1, int32_t(headerSize), bounds.left, bounds.top, bounds.right, bounds.bottom, 0, 0,
                                   bounds.right * 30, bounds.bottom * 30, 0x464D4520, 0x10000, 0, 0});
    b.push_back(uint8_t(handles)), b.push_back(uint8_t(handles >> 8)), b.push_back(0), b.push_back(0);
    const auto rest = le32({int32_t(desc.size()), desc.empty() ? 0 : 108, 0, 1024, 768, 320, 240, 0, 0, 0,
                            320000, 240000});
    b.insert(b.end(), rest.begin(), rest.end());
    for (char16_t c : desc)
        b.push_back(uint8_t(c)), b.push_back(uint8_t(c >> 8));
    b.resize(headerSize, 0);
    std::vector<EmfRec> all = recs;
    all.push_back({14, le32({0, 16, 20})});
    for (const EmfRec& r : all) {
        const auto h = le32({int32_t(r.type), int32_t(8 + r.body.size())});
        b.insert(b.end(), h.begin(), h.end());
        b.insert(b.end(), r.body.begin(), r.body.end());
    }
    put32(b, 48, int32_t(b.size()));
    put32(b, 52, int32_t(all.size() + 1));
    return b;
}

inline std::vector<EmfRec> emf_parse(const std::vector<uint8_t>& b)
{
    std::vector<EmfRec> out;
    for (size_t at = 0; at + 8 <= b.size();) {
        const uint32_t type = uint32_t(get32(b, at)), size = uint32_t(get32(b, at + 4));
        if (size < 8 || at + size > b.size())
            break;
        out.push_back({type, std::vector<uint8_t>(b.begin() + long(at) + 8, b.begin() + long(at) + long(size))});
        at += size;
    }
    return out;
}

inline std::vector<uint8_t> emf_of(HENHMETAFILE h)
{
    std::vector<uint8_t> b(GetEnhMetaFileBits(h, 0, nullptr));
    GetEnhMetaFileBits(h, UINT(b.size()), b.data());
    return b;
}

// Offsets below count in the record body (record offset - 8).
inline void emf_pt(const Matrix& m, std::vector<uint8_t>& b, size_t off)
{
    int32_t x, y;
    apply(m, get32(b, off), get32(b, off + 4), &x, &y);
    put32(b, off, x);
    put32(b, off + 4, y);
}
inline void emf_pt16(const Matrix& m, std::vector<uint8_t>& b, size_t off)
{
    int16_t x, y;
    std::memcpy(&x, b.data() + off, 2);
    std::memcpy(&y, b.data() + off + 2, 2);
    int32_t X, Y;
    apply(m, x, y, &X, &Y);
    x = int16_t(X), y = int16_t(Y);
    std::memcpy(b.data() + off, &x, 2);
    std::memcpy(b.data() + off + 2, &y, 2);
}
inline void emf_rect(const Matrix& m, std::vector<uint8_t>& b, size_t off)
{
    emf_pt(m, b, off);
    emf_pt(m, b, off + 8);
    int32_t l = get32(b, off), t = get32(b, off + 4), r = get32(b, off + 8), bo = get32(b, off + 12);
    put32(b, off, std::min(l, r));
    put32(b, off + 8, std::max(l, r));
    put32(b, off + 4, std::min(t, bo));
    put32(b, off + 12, std::max(t, bo));
}

inline std::optional<EmfRec> emf_expected(const Matrix& m, EmfRec r)
{
    auto& b = r.body;
    switch (r.type) {
    case 2: case 3: case 4: case 5: case 6:
        for (int32_t k = 0; k < get32(b, 16); ++k)
            emf_pt(m, b, 20 + 8 * size_t(k));
        emf_rect(m, b, 0);
        break;
    case 85: case 86: case 87: case 88: case 89: case 92:
        for (int32_t k = 0; k < get32(b, 16); ++k)
            emf_pt16(m, b, 20 + 4 * size_t(k));
        emf_rect(m, b, 0);
        break;
    case 7: case 8: case 90: case 91: {
        const size_t polys = size_t(get32(b, 16));
        size_t total = 0;
        for (size_t k = 0; k < polys; ++k)
            total += size_t(get32(b, 24 + 4 * k));
        for (size_t k = 0; k < total; ++k) {
            if (r.type >= 90)
                emf_pt16(m, b, 24 + 4 * polys + 4 * k);
            else
                emf_pt(m, b, 24 + 4 * polys + 8 * k);
        }
        break;
    }
    case 10: case 27: case 54:
        emf_pt(m, b, 0);
        break;
    case 29: case 30: case 81:
        return std::nullopt;
    case 42: case 43: case 44:
        emf_rect(m, b, 0);
        break;
    case 45: case 46: case 47: case 55:
        emf_rect(m, b, 0);
        emf_pt(m, b, 16);
        emf_pt(m, b, 24);
        break;
    case 82: {
        int32_t e = get32(b, 12);
        if (m.flipped)
            e = -e;
        put32(b, 12, e + m.angle);
        put32(b, 16, e + m.angle);
        break;
    }
    case 83: case 84:
        emf_rect(m, b, 0);
        emf_pt(m, b, 28);
        if (get32(b, 44) & 6)
            emf_rect(m, b, 48);
        break;
    default:
        break;
    }
    return r;
}

}  // namespace kelm_test::meta
