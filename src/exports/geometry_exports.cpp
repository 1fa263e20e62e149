// Exports of the geometry subsystem: the general transform, rotation,
// stretching between images and alpha blending.
#include "exports/exports.h"
#include "geometry/geometry.h"

using namespace kelm;

extern "C" {

KELM3_API int WINAPI TransformDIB(HGLOBAL hSrc, HGLOBAL hDst, TransformProc lpfnMap, TransformColorProc lpfnColour,
                                  LPVOID lpData, COLORREF crBackground)
{
    return guarded(0, [&] { return transform_dib(hSrc, hDst, lpfnMap, lpfnColour, lpData, crBackground); });
}

KELM3_API HGLOBAL WINAPI RotateDIB(HGLOBAL hSrc, int nAngle, COLORREF crBackground)
{
    if (!hSrc)
        return nullptr;
    return guarded<HGLOBAL>(nullptr, [&] { return rotate_dib(hSrc, nAngle, crBackground); });
}

KELM3_API HGLOBAL WINAPI StretchDIB(HGLOBAL hSrc, LONG nWidth, LONG nHeight, const RECT* lprc)
{
    return guarded<HGLOBAL>(nullptr, [&] { return stretch_dib(hSrc, nWidth, nHeight, lprc); });
}

KELM3_API int WINAPI StretchDIB2DIBBlt(HGLOBAL hDst, int xDst, int yDst, int cxDst, int cyDst, HGLOBAL hSrc, int xSrc,
                                       int ySrc, int cxSrc, int cySrc)
{
    const STRETCHPARAMS p{xDst, yDst, cxDst, cyDst, xSrc, ySrc, cxSrc, cySrc};
    return guarded(0, [&] { return static_cast<int>(stretch_dib_to_dib(hDst, p, hSrc)); });
}

KELM3_API int WINAPI DIBAlphaBlend(HGLOBAL hDst, int xDst, int yDst, int cxDst, int cyDst, HGLOBAL hSrc, int xSrc,
                                   int ySrc, int cxSrc, int cySrc, int nOpacity)
{
    const STRETCHPARAMS p{xDst, yDst, cxDst, cyDst, xSrc, ySrc, cxSrc, cySrc};
    return guarded(0, [&] { return static_cast<int>(alpha_blend(hDst, p, hSrc, nOpacity)); });
}

}  // extern "C"
