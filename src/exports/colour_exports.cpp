// Exports of the colour operations: depth conversion, colour selection,
// dithering, grey conversion and scaling, gamma correction and filters.
#include "colour/colour.h"
#include "exports/exports.h"

using namespace kelm;

extern "C" {

KELM3_API BOOL WINAPI ConvertDIB(HGLOBAL* phDIB, int nBitCount, DWORD /*reserved*/)
{
    return guarded<BOOL>(FALSE, [&] { return convert_dib(phDIB, nBitCount); });
}

KELM3_API HGLOBAL WINAPI DIBSelectColors(HGLOBAL hDIB, int nColors)
{
    return guarded<HGLOBAL>(nullptr, [&] { return select_colors(hDIB, nColors); });
}

KELM3_API HGLOBAL WINAPI DitherTo1(LPCVOID lpbi, const BYTE* lpGrayMap)
{
    return guarded<HGLOBAL>(nullptr, [&] { return dither_to_1(lpbi, lpGrayMap); });
}

KELM3_API HGLOBAL WINAPI DitherTo4(LPCVOID lpbi)
{
    return guarded<HGLOBAL>(nullptr, [&] { return dither_to_4(lpbi); });
}

KELM3_API HGLOBAL WINAPI DitherTo8(LPCVOID lpbi, int nLevels, int nPopular, LPCVOID lpbiPalette)
{
    return guarded<HGLOBAL>(nullptr, [&] { return dither_to_8(lpbi, nLevels, nPopular, lpbiPalette); });
}

KELM3_API HGLOBAL WINAPI GrayDIB(HGLOBAL hDIB)
{
    return guarded<HGLOBAL>(nullptr, [&] { return gray_dib(hDIB); });
}

KELM3_API HGLOBAL WINAPI ScaleToGray(HGLOBAL hDIB, int cxDest, int cyDest, const RECT* lprcSource, DWORD /*reserved*/)
{
    return guarded<HGLOBAL>(nullptr, [&] { return scale_to_gray(hDIB, cxDest, cyDest, lprcSource); });
}

KELM3_API void WINAPI GammaCorrectionGetArray(LONG nGamma, DWORD /*reserved1*/, DWORD /*reserved2*/, LPBYTE lpTable)
{
    if (lpTable)
        gamma_table(nGamma, lpTable);
}

KELM3_API void WINAPI GammaCorrectionApplyToDIB(HGLOBAL hDIB, LONG nGamma, DWORD /*reserved1*/, DWORD /*reserved2*/,
                                                LPBYTE lpTable)
{
    guarded_void([&] { gamma_apply(hDIB, nGamma, lpTable); });
}

KELM3_API HGLOBAL WINAPI CreateFIRFilteredDIB(HGLOBAL hDIB, const LONG* lpKernel, int kw, int kh, int nOffset)
{
    return guarded<HGLOBAL>(nullptr, [&] { return fir_filter(hDIB, lpKernel, kw, kh, nOffset); });
}

KELM3_API HGLOBAL WINAPI CreateSharpenedDIB(HGLOBAL hDIB)
{
    return guarded<HGLOBAL>(nullptr, [&] { return sharpen(hDIB); });
}

}  // extern "C"
