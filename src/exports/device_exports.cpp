// Exports of device output: device bitmaps and palettes, drawing, screen
// capture, stretched output with the PostScript road, and splines.
#include "device/device.h"
#include "exports/exports.h"

using namespace kelm;

extern "C" {

KELM3_API HBITMAP WINAPI BitmapFromDIB(HGLOBAL hDib, HPALETTE hPal)
{
    return guarded<HBITMAP>(nullptr, [&] { return bitmap_from_dib(hDib, hPal); });
}

KELM3_API HPALETTE WINAPI CreateBIPalette(LPCVOID lpbi)
{
    return guarded<HPALETTE>(nullptr, [&] { return create_bi_palette(lpbi); });
}

KELM3_API HPALETTE WINAPI CreateDIBPalette(HGLOBAL hDib)
{
    return guarded<HPALETTE>(nullptr, [&] { return create_dib_palette(hDib); });
}

KELM3_API BOOL WINAPI DIBBlt(HDC hdc, int xDest, int yDest, int width, int height, HGLOBAL hDib, int xSrc, int ySrc,
                             DWORD rop)
{
    return guarded<BOOL>(0, [&] { return dib_blt(hdc, xDest, yDest, width, height, hDib, xSrc, ySrc, rop); });
}

KELM3_API HGLOBAL WINAPI DIBFromBitmap(HBITMAP hBitmap, DWORD compression, UINT bitCount, HPALETTE hPal)
{
    return guarded<HGLOBAL>(nullptr, [&] { return dib_from_bitmap(hBitmap, compression, bitCount, hPal); });
}

KELM3_API BOOL WINAPI DrawBitmap(HDC hdc, int x, int y, HBITMAP hBitmap, DWORD rop)
{
    return guarded<BOOL>(0, [&] { return draw_bitmap(hdc, x, y, hBitmap, rop); });
}

KELM3_API BOOL WINAPI Splineline(HDC hdc, const POINT* points, int count)
{
    return guarded<BOOL>(0, [&] { return spline_line(hdc, points, count); });
}

KELM3_API LONG WINAPI StretchDIBBlt(HDC hdc, int xDest, int yDest, int width, int height, HGLOBAL hDib, int xSrc,
                                    int ySrc, int srcWidth, int srcHeight, DWORD rop)
{
    return guarded<LONG>(0, [&] {
        return stretch_dib_blt(hdc, xDest, yDest, width, height, hDib, xSrc, ySrc, srcWidth, srcHeight, rop);
    });
}

KELM3_API BOOL WINAPI IsPostScriptDC(HDC hdc)
{
    return guarded<BOOL>(0, [&] { return is_postscript_dc(hdc); });
}

KELM3_API HGLOBAL WINAPI DIBScreenShot(HWND hWnd, const RECT* rect)
{
    return guarded<HGLOBAL>(nullptr, [&] { return dib_screen_shot(hWnd, rect); });
}

}  // extern "C"
