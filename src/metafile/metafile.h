// Metafile rotation: Windows metafiles (WMF) and enhanced metafiles (EMF)
// turned by any angle by rewriting the coordinates of each record and
// replaying it into a new metafile.
//
// Records come from files of unknown origin. Every transformer works on a
// copy whose length it knows, and checks each field's offset against that
// length before reading or writing it; a record too short for the fields its
// type carries is dropped rather than played, so that neither we nor the
// player read past it.
#pragma once

#include <cstdint>
#include <vector>

#include "dib/dib.h"

namespace kelm {

// The integer rotation shared by both metafile kinds: a matrix scaled by 1000,
// an origin (always 0, 0 here) and a translation added after the rotation.
struct MetaMatrix {
    int32_t ox = 0, oy = 0;
    int32_t dx = 0, dy = 0;
    int32_t angle = 0;
    int32_t m00 = 1000, m01 = 0, m10 = 0, m11 = 1000;
    bool flipped = false;
};

// Whether a count fits a 32-bit record field; only a 64-bit size_t can pass
// it, so the test takes its argument at 64 bits on every build.
inline bool fits32(uint64_t n)
{
    return n <= 0xFFFFFFFFull;
}

// cos and sin of angle tenths of a degree, x 1000, truncated toward zero.
void meta_cos_sin(int32_t angle, int32_t* c, int32_t* s);
// The matrix of an angle; flipped turns the y axis over first.
MetaMatrix meta_matrix(int32_t angle, bool flipped);

// x' = MulDiv(x - ox, m00, 1000) + MulDiv(y - oy, m01, 1000) + dx + ox and
// likewise y', in 32-bit wrapping arithmetic.
void map_point(const MetaMatrix& m, int32_t x, int32_t y, int32_t* outX, int32_t* outY);
// The same with the matrix alone (no origin, no translation).
void map_vector(const MetaMatrix& m, int32_t x, int32_t y, int32_t* outX, int32_t* outY);

// Rewrites one WMF record in place (bytes, `size` of them, the record's own
// 6-byte header included). Returns false when the record is to be dropped:
// the window-mapping records, stretched-bitmap records (drawn separately)
// and records too short for what their type carries.
bool rewrite_wmf_record(const MetaMatrix& m, uint8_t* rec, size_t size);
// Rewrites one EMF record in place; false when it is to be dropped.
bool rewrite_emf_record(const MetaMatrix& m, uint8_t* rec, size_t size);

// Record walkers over a metafile's bytes: the offsets and lengths of the
// records that lie wholly within them. A WMF stops at the first record whose
// size is below 3 words or runs past the end; an EMF at the first whose size
// is below 8 bytes, not a multiple of 4 or runs past the end.
struct RecordSpan {
    size_t offset;
    size_t size;
};
std::vector<RecordSpan> wmf_records(const uint8_t* bits, size_t size);
std::vector<RecordSpan> emf_records(const uint8_t* bits, size_t size);

// The exports.
void get_metafile_window_ext(HMETAFILE hmf, LONG* extent, LONG* origin, LONG* mapMode);
HMETAFILE rotate_metafile(HMETAFILE hmf, int32_t angle, LONG* points);
HENHMETAFILE rotate_enh_metafile(HENHMETAFILE hemf, int32_t angle);

// WMF function numbers and EMF record types the rotation knows.
namespace wmf {
inline constexpr uint16_t SetMapMode = 0x0103, SetWindowOrg = 0x020B, SetWindowExt = 0x020C, LineTo = 0x0213,
                          MoveTo = 0x0214, CreateFontIndirect = 0x02FB, Polygon = 0x0324, Polyline = 0x0325,
                          IntersectClipRect = 0x0416, Ellipse = 0x0418, FloodFill = 0x0419, Rectangle = 0x041B,
                          SetPixel = 0x041F, TextOut = 0x0521, PolyPolygon = 0x0538, RoundRect = 0x061C,
                          Arc = 0x0817, Pie = 0x081A, Chord = 0x0830, ExtTextOut = 0x0A32, StretchDib = 0x0F43;
}
namespace emr {
inline constexpr uint32_t Header = 1, PolyBezier = 2, PolyLineTo = 6, PolyPolyline = 7, PolyPolygon = 8,
                          SetWindowOrgEx = 10, Eof = 14, MoveToEx = 27, ExcludeClipRect = 29,
                          IntersectClipRect = 30, Ellipse = 42, Rectangle = 43, RoundRect = 44, Arc = 45,
                          Chord = 46, Pie = 47, LineTo = 54, ArcTo = 55, StretchDIBits = 81,
                          ExtCreateFontIndirectW = 82, ExtTextOutA = 83, ExtTextOutW = 84, PolyBezier16 = 85,
                          PolyLineTo16 = 89, PolyPolyline16 = 90, PolyPolygon16 = 91, PolyDraw16 = 92,
                          PolyTextOutA = 96, PolyTextOutW = 97;
}

}  // namespace kelm
