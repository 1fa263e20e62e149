// Geometry: the general inverse-mapped transform and the operations built on
// it (rotation, stretching between images, alpha blending). The exported
// transform calls its caller's callbacks per pixel; rotation and stretching
// compute the same source points incrementally in walk.h instead, so their
// general paths cost no indirect call per pixel.
#pragma once

#include <cstdint>

#include "dib/dib.h"
#include "kelm3.h"

namespace kelm {

// The caller-data record of the rotation's mapping: the bounding box of the
// turned corners, then sine and cosine scaled by 10000.
struct ROTATEPARAMS {
    RECT rc;
    LONG sine;
    LONG cosine;
};

// The caller-data record of the stretch mapping and of the fast workers.
struct STRETCHPARAMS {
    LONG xDst, yDst, cxDst, cyDst;
    LONG xSrc, ySrc, cxSrc, cySrc;
};

// Angle in tenths of a degree brought into 0 .. 3599.
int normalise_angle(int32_t angle);
// Sine and cosine x 10000 of a normalised angle, by the rule of RotateDIB:
// exact at the right angles, else 10000 x sin + 0.5 truncated, computed in
// extended precision.
void rotation_sin_cos(int angle, LONG* sine, LONG* cosine);

// The exported operations, arguments as their exports take them.
BOOL transform_dib(HGLOBAL hSrc, HGLOBAL hDst, TransformProc map, TransformColorProc colour, LPVOID data,
                   COLORREF background);
HGLOBAL rotate_dib(HGLOBAL hSrc, int32_t angle, COLORREF background);
BOOL stretch_dib_to_dib(HGLOBAL hDst, const STRETCHPARAMS& p, HGLOBAL hSrc);
HGLOBAL stretch_dib(HGLOBAL hSrc, LONG width, LONG height, const RECT* rc);
BOOL alpha_blend(HGLOBAL hDst, const STRETCHPARAMS& p, HGLOBAL hSrc, int opacity);

// The mapping callbacks of the two general paths, as a caller of
// TransformDIB would pass them; the library's own paths use the incremental
// equivalents in walk.h and are tested against these.
LONG CALLBACK RotateMapProc(int msg, POINT* pt, LPVOID data);
LONG CALLBACK StretchMapProc(int msg, POINT* pt, LPVOID data);

// MulDiv in 64 bits: round(a x b / c), halves away from zero, for operands
// whose product fits 63 bits (|a| < 2^32, |b| <= 2^31). c != 0.
int64_t muldiv64(int64_t a, int64_t b, int64_t c);

// The quarter- and half-turn copiers on two locked images: d is 0 for 900,
// 1 for 2700. True when every pixel of the result was written; they copy
// nothing (false) unless both layouts are what they expect.
bool quarter_turn(const LockedDib& src, const LockedDib& dst, int d);
bool half_turn(const LockedDib& src, const LockedDib& dst);

// Sets the pixel array of an image to 0 (new images made without the fill,
// on a path that turned out not to write every pixel).
void zero_pixels(HGLOBAL h);

}  // namespace kelm
