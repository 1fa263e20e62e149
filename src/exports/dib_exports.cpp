// Exports of the packed DIB model: header queries, creation and lifetime,
// and CMYK conversion.
#include "colour/colour.h"
#include "dib/dib.h"
#include "exports/exports.h"

using namespace kelm;

extern "C" {

KELM3_API int WINAPI DIBInfo(HGLOBAL hDib, LPVOID lpbi, UINT cbSize)
{
    return guarded(0, [&] { return dib_info(hDib, lpbi, cbSize); });
}

KELM3_API UINT WINAPI DIBNumPaletteColors(LPCVOID lpbi)
{
    return num_palette_colors(lpbi);
}

KELM3_API UINT WINAPI DIBPaletteSize(LPCVOID lpbi)
{
    return palette_size(lpbi);
}

KELM3_API int WINAPI DIBPaletteType(LPCVOID lpbi)
{
    return palette_type(lpbi);
}

KELM3_API BOOL WINAPI DIBIsCmyk(LPCVOID lpbi)
{
    return is_cmyk(lpbi);
}

KELM3_API LPBYTE WINAPI DIBPixelPtr(LPVOID lpbi, UINT x, UINT y)
{
    return pixel_ptr(lpbi, x, y);
}

KELM3_API void WINAPI DIBNormalize(HGLOBAL hDib)
{
    guarded_void([&] { normalize_dib(hDib); });
}

KELM3_API HGLOBAL WINAPI CopyHandle(HGLOBAL hMem)
{
    return guarded<HGLOBAL>(nullptr, [&] { return copy_handle(hMem); });
}

KELM3_API HGLOBAL WINAPI CreateCompatibleDIB(HGLOBAL hSrc, UINT width, LONG height)
{
    return guarded<HGLOBAL>(nullptr, [&] { return create_compatible_dib(hSrc, width, height); });
}

KELM3_API HGLOBAL WINAPI CreateDIB(LONG width, LONG height, UINT bitCount, int flags)
{
    return guarded<HGLOBAL>(nullptr, [&] { return create_dib(width, height, bitCount, flags); });
}

KELM3_API HGLOBAL WINAPI DIBFree(HGLOBAL hDib)
{
    return GlobalFree(hDib);
}

KELM3_API void WINAPI DIBCmyk2Rgb(LPVOID lpbi)
{
    if (lpbi)
        guarded_void([&] { dib_cmyk_to_rgb(lpbi); });
}

}  // extern "C"
