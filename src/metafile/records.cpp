// The record arithmetic of metafile rotation: the integer matrix, point and
// rectangle mapping, and the per-type rewriting of WMF and EMF records, with
// every field checked against the record's length before it is touched.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "metafile/metafile.h"

namespace kelm {

namespace {

// 32-bit sums that wrap like the 16- and 32-bit registers the records were
// made for, without signed overflow.
int32_t wrap_add(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
int32_t wrap_sub(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

// A record as a bounded view: fields outside it read as "absent".
class Rec {
public:
    Rec(uint8_t* p, size_t n) : p_(p), n_(n) {}
    bool has(size_t off, size_t len) const { return off <= n_ && len <= n_ - off; }
    int16_t s16(size_t off) const
    {
        int16_t v;
        std::memcpy(&v, p_ + off, 2);
        return v;
    }
    void set16(size_t off, int32_t v) const
    {
        const auto w = static_cast<uint16_t>(static_cast<uint32_t>(v) & 0xFFFF);
        std::memcpy(p_ + off, &w, 2);
    }
    int32_t s32(size_t off) const
    {
        int32_t v;
        std::memcpy(&v, p_ + off, 4);
        return v;
    }
    uint32_t u32(size_t off) const { return ld32(p_, off); }
    void set32(size_t off, int32_t v) const { std::memcpy(p_ + off, &v, 4); }
    size_t size() const { return n_; }

private:
    uint8_t* p_;
    size_t n_;
};

constexpr size_t kLogFont16Bytes = 50;  // 18 bytes of fields, a 32-byte face name
constexpr size_t kLogFontWBytes = 92;   // 28 bytes of fields, 32 UTF-16 face name characters

// ---- WMF: parameters are 16-bit words from byte 6; rdParm[i] at 6 + 2i.
constexpr size_t parm(size_t i) { return 6 + 2 * i; }

// The point stored as x at rdParm[ix] and y at rdParm[iy].
bool wmf_point(const MetaMatrix& m, const Rec& r, size_t ix, size_t iy)
{
    if (!r.has(parm(ix), 2) || !r.has(parm(iy), 2))
        return false;
    int32_t x, y;
    map_point(m, r.s16(parm(ix)), r.s16(parm(iy)), &x, &y);
    r.set16(parm(ix), x);
    r.set16(parm(iy), y);
    return true;
}

// Puts the 16-bit pair (lo at rdParm[a], hi at rdParm[b]) in order so that
// the value at `a` is the smaller one.
void wmf_order(const Rec& r, size_t a, size_t b)
{
    const int16_t va = r.s16(parm(a)), vb = r.s16(parm(b));
    if (vb < va) {
        r.set16(parm(a), vb);
        r.set16(parm(b), va);
    }
}

// count x, y pairs from rdParm[first].
bool wmf_points(const MetaMatrix& m, const Rec& r, size_t first, uint64_t count)
{
    if (count > r.size() / 4 || !r.has(parm(first), static_cast<size_t>(count * 4)))
        return false;
    for (uint64_t k = 0; k < count; ++k)
        wmf_point(m, r, first + 2 * k, first + 2 * k + 1);
    return true;
}

// The corner ellipse of a rounded rectangle is a size, not a place: it turns
// with the picture by exchanging its width and height when the angle is
// nearer an odd quarter turn than an even one, and never moves or changes
// sign. (Mapping it as a point would add the translation to it.)
void wmf_corner_size(const MetaMatrix& m, const Rec& r)
{
    int32_t a = m.angle % 3600;
    if (a < 0)
        a += 3600;
    const int quarter = ((a + 450) / 900) & 3;
    if (quarter & 1) {
        const int16_t h = r.s16(parm(0)), w = r.s16(parm(1));
        r.set16(parm(0), w);
        r.set16(parm(1), h);
    }
}

// ---- EMF: 32-bit fields at byte offsets from the record's start.
bool emf_point(const MetaMatrix& m, const Rec& r, size_t off)
{
    if (!r.has(off, 8))
        return false;
    int32_t x, y;
    map_point(m, r.s32(off), r.s32(off + 4), &x, &y);
    r.set32(off, x);
    r.set32(off + 4, y);
    return true;
}

bool emf_rect(const MetaMatrix& m, const Rec& r, size_t off)
{
    if (!r.has(off, 16))
        return false;
    emf_point(m, r, off);
    emf_point(m, r, off + 8);
    int32_t l = r.s32(off), t = r.s32(off + 4), rt = r.s32(off + 8), b = r.s32(off + 12);
    if (b < t)
        std::swap(b, t);
    if (rt < l)
        std::swap(rt, l);
    r.set32(off, l);
    r.set32(off + 4, t);
    r.set32(off + 8, rt);
    r.set32(off + 12, b);
    return true;
}

// count points of 32 bits (or 16 bits when small) from off.
bool emf_points(const MetaMatrix& m, const Rec& r, size_t off, uint64_t count, bool small)
{
    const uint64_t each = small ? 4 : 8;
    if (off > r.size() || count > (r.size() - off) / each)
        return false;
    for (uint64_t k = 0; k < count; ++k) {
        const size_t at = off + static_cast<size_t>(k * each);
        if (small) {
            int32_t x, y;
            map_point(m, r.s16(at), r.s16(at + 2), &x, &y);
            r.set16(at, x);
            r.set16(at + 2, y);
        } else {
            emf_point(m, r, at);
        }
    }
    return true;
}

// Poly-polylines: the polyline count at 24, the counts from 32, the points
// after them. The points rewritten are as many as the counts add up to.
bool emf_polypoly(const MetaMatrix& m, const Rec& r, bool small)
{
    if (!r.has(24, 4) || !r.has(32, 0))
        return false;
    const uint64_t polys = r.u32(24);
    if (polys > (r.size() - 32) / 4)
        return false;
    uint64_t total = 0;
    for (uint64_t k = 0; k < polys; ++k)
        total += r.u32(32 + static_cast<size_t>(4 * k));
    return emf_points(m, r, 32 + static_cast<size_t>(4 * polys), total, small);
}

}  // namespace

void meta_cos_sin(int32_t angle, int32_t* c, int32_t* s)
{
    // Extended precision, and a value within 1e-9 of an integer counts as
    // that integer: the exact results at 30 or 60 degrees (500) must not
    // truncate to 499 because the library's sine came out one unit low.
    const long double theta = static_cast<long double>(angle) * 3.14159265358979323846264338327950288L / 1800.0L;
    auto fix = [](long double v) {
        const long double r = std::nearbyint(v);
        if (std::fabs(v - r) < 1e-9L)
            return static_cast<int32_t>(r);
        return static_cast<int32_t>(std::trunc(v));
    };
    *c = fix(std::cos(theta) * 1000.0L);
    *s = fix(std::sin(theta) * 1000.0L);
}

MetaMatrix meta_matrix(int32_t angle, bool flipped)
{
    MetaMatrix m;
    int32_t c, s;
    meta_cos_sin(angle, &c, &s);
    m.angle = angle;
    m.m00 = c;
    m.m01 = s;
    m.m10 = -s;
    m.m11 = c;
    if (flipped) {
        m.m01 = -s;
        m.m11 = -c;
    }
    m.flipped = flipped;
    return m;
}

void map_vector(const MetaMatrix& m, int32_t x, int32_t y, int32_t* outX, int32_t* outY)
{
    *outX = wrap_add(MulDiv(x, m.m00, 1000), MulDiv(y, m.m01, 1000));
    *outY = wrap_add(MulDiv(x, m.m10, 1000), MulDiv(y, m.m11, 1000));
}

void map_point(const MetaMatrix& m, int32_t x, int32_t y, int32_t* outX, int32_t* outY)
{
    int32_t vx, vy;
    map_vector(m, wrap_sub(x, m.ox), wrap_sub(y, m.oy), &vx, &vy);
    *outX = wrap_add(wrap_add(vx, m.dx), m.ox);
    *outY = wrap_add(wrap_add(vy, m.dy), m.oy);
}

bool rewrite_wmf_record(const MetaMatrix& m, uint8_t* rec, size_t size)
{
    if (size < 6)
        return false;
    const Rec r(rec, size);
    switch (ld16(rec, 4)) {
    case wmf::SetMapMode:
    case wmf::SetWindowOrg:
    case wmf::SetWindowExt:
    case wmf::StretchDib:
        return false;
    case wmf::LineTo:
    case wmf::MoveTo:
        return wmf_point(m, r, 1, 0);
    case wmf::CreateFontIndirect: {
        // The whole LOGFONT16, face name included: the player reads all of it.
        if (!r.has(parm(0), kLogFont16Bytes))
            return false;
        int32_t esc = r.s16(parm(2));
        if (m.flipped)
            esc = -esc;
        esc = static_cast<int16_t>(static_cast<uint16_t>(esc + m.angle));
        r.set16(parm(2), esc);
        r.set16(parm(3), esc);
        return true;
    }
    case wmf::Polygon:
    case wmf::Polyline:
        return r.has(parm(0), 2) && wmf_points(m, r, 1, static_cast<uint16_t>(r.s16(parm(0))));
    case wmf::IntersectClipRect:
    case wmf::Ellipse:
    case wmf::Rectangle:
        // bottom, right, top, left
        if (!r.has(parm(3), 2))
            return false;
        wmf_point(m, r, 1, 0);
        wmf_point(m, r, 3, 2);
        wmf_order(r, 2, 0);
        wmf_order(r, 3, 1);
        return true;
    case wmf::FloodFill:
    case wmf::SetPixel:
        return wmf_point(m, r, 3, 2);
    case wmf::TextOut: {
        if (!r.has(parm(0), 2))
            return false;
        const size_t words = (static_cast<uint16_t>(r.s16(parm(0))) + 1u) / 2u;
        return wmf_point(m, r, 2 + words, 1 + words);
    }
    case wmf::PolyPolygon: {
        if (!r.has(parm(0), 2))
            return false;
        const size_t polys = static_cast<uint16_t>(r.s16(parm(0)));
        if (!r.has(parm(1), 2 * polys))
            return false;
        uint64_t total = 0;
        for (size_t k = 0; k < polys; ++k)
            total += static_cast<uint16_t>(r.s16(parm(1 + k)));
        return wmf_points(m, r, 1 + polys, total);
    }
    case wmf::RoundRect:
        if (!r.has(parm(5), 2))
            return false;
        wmf_point(m, r, 3, 2);
        wmf_point(m, r, 5, 4);
        wmf_corner_size(m, r);
        return true;
    case wmf::Arc:
    case wmf::Pie:
    case wmf::Chord:
        if (!r.has(parm(7), 2))
            return false;
        for (size_t k = 0; k < 8; k += 2)
            wmf_point(m, r, k + 1, k);
        return true;
    case wmf::ExtTextOut: {
        // y, x, count, options, [rectangle], string: the string must lie
        // in the record too, since the player reads `count` bytes of it.
        if (!r.has(parm(3), 2))
            return false;
        const bool rect = static_cast<uint16_t>(r.s16(parm(3))) & 6;
        if (!r.has(parm(rect ? 8 : 4), static_cast<uint16_t>(r.s16(parm(2)))))
            return false;
        wmf_point(m, r, 1, 0);
        if (rect) {
            wmf_point(m, r, 4, 5);
            wmf_point(m, r, 6, 7);
            wmf_order(r, 5, 7);
            wmf_order(r, 4, 6);
        }
        return true;
    }
    default:
        return true;
    }
}

bool rewrite_emf_record(const MetaMatrix& m, uint8_t* rec, size_t size)
{
    if (size < 8)
        return false;
    const Rec r(rec, size);
    const uint32_t type = r.u32(0);
    switch (type) {
    case emr::PolyBezier:
    case emr::PolyBezier + 1:
    case emr::PolyBezier + 2:
    case emr::PolyBezier + 3:
    case emr::PolyLineTo:
        return r.has(24, 4) && emf_points(m, r, 28, r.u32(24), false) && emf_rect(m, r, 8);
    case emr::PolyPolyline:
    case emr::PolyPolygon:
        return emf_polypoly(m, r, false);
    case emr::SetWindowOrgEx:
    case emr::MoveToEx:
    case emr::LineTo:
        return emf_point(m, r, 8);
    case emr::ExcludeClipRect:
    case emr::IntersectClipRect:
    case emr::StretchDIBits:
        return false;
    case emr::Ellipse:
    case emr::Rectangle:
    case emr::RoundRect:
        return emf_rect(m, r, 8);
    case emr::Arc:
    case emr::Chord:
    case emr::Pie:
    case emr::ArcTo:
        return r.has(32, 8) && emf_rect(m, r, 8) && emf_point(m, r, 24) && emf_point(m, r, 32);
    case emr::ExtCreateFontIndirectW: {
        if (!r.has(12, kLogFontWBytes))
            return false;
        int32_t esc = r.s32(20);
        if (m.flipped)
            esc = wrap_sub(0, esc);
        esc = wrap_add(esc, m.angle);
        r.set32(20, esc);
        r.set32(24, esc);
        return true;
    }
    case emr::ExtTextOutA:
    case emr::ExtTextOutW:
        if (!r.has(52, 4) || !emf_rect(m, r, 8) || !emf_point(m, r, 36))
            return false;
        return (r.u32(52) & 6) == 0 || emf_rect(m, r, 56);
    case emr::PolyBezier16:
    case emr::PolyBezier16 + 1:
    case emr::PolyBezier16 + 2:
    case emr::PolyBezier16 + 3:
    case emr::PolyLineTo16:
        return r.has(24, 4) && emf_points(m, r, 28, r.u32(24), true) && emf_rect(m, r, 8);
    case emr::PolyDraw16:
        // The points, then one type byte for each.
        return r.has(24, 4) && r.u32(24) <= (r.size() - 28) / 5 && emf_points(m, r, 28, r.u32(24), true) &&
               emf_rect(m, r, 8);
    case emr::PolyPolyline16:
    case emr::PolyPolygon16:
        return emf_polypoly(m, r, true);
    default:
        return true;
    }
}

std::vector<RecordSpan> wmf_records(const uint8_t* bits, size_t size)
{
    std::vector<RecordSpan> out;
    if (size < 18)
        return out;
    const size_t header = static_cast<size_t>(ld16(bits, 2)) * 2;
    if (header < 18 || header > size)
        return out;
    for (size_t at = header; size - at >= 6;) {
        const uint64_t bytes = static_cast<uint64_t>(ld32(bits, at)) * 2;
        if (bytes < 6 || bytes > size - at)
            break;
        if (ld16(bits, at + 4) == 0)  // the end record
            break;
        out.push_back({at, static_cast<size_t>(bytes)});
        at += static_cast<size_t>(bytes);
    }
    return out;
}

std::vector<RecordSpan> emf_records(const uint8_t* bits, size_t size)
{
    std::vector<RecordSpan> out;
    for (size_t at = 0; size - at >= 8;) {
        const uint32_t bytes = ld32(bits, at + 4);
        if (bytes < 8 || bytes % 4 || bytes > size - at)
            break;
        out.push_back({at, bytes});
        at += bytes;
        if (ld32(bits, at - bytes) == emr::Eof)
            break;
    }
    return out;
}

}  // namespace kelm
