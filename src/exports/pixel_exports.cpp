// Exports of the public pixel API: bounds-tested wrappers around the pixel
// accessor. Coordinates are compared as signed integers against the header as
// DIBInfo reports it, so a top-down image (negative height) has no valid row.
#include "exports/exports.h"
#include "pixel/pixel.h"

using namespace kelm;

namespace {

inline bool inside(const TRDIB* rd, int x, int y)
{
    return x >= 0 && x < rd->bmi.biWidth && y >= 0 && y < rd->bmi.biHeight;
}

// The count of a run from x that stays within the row (x already valid).
inline int clip_count(const TRDIB* rd, int x, int count)
{
    const int room = rd->bmi.biWidth - x;
    return count > room ? room : count;
}

}  // namespace

extern "C" {

KELM3_API LPTRDIB WINAPI RWOpenDIB(HGLOBAL hDib)
{
    if (!hDib)
        return nullptr;
    auto* rd = static_cast<TRDIB*>(LocalAlloc(LPTR, sizeof(TRDIB)));
    if (!rd)
        return nullptr;
    if (!guarded(false, [&] { return trdib_open(hDib, rd); })) {
        trdib_close(rd);
        LocalFree(rd);
        return nullptr;
    }
    return rd;
}

KELM3_API LPTRDIB WINAPI RWClose(LPTRDIB lpRW)
{
    if (lpRW) {
        guarded_void([&] { trdib_close(lpRW); });
        LocalFree(lpRW);
    }
    return nullptr;
}

KELM3_API DWORD WINAPI RWGetPixel(LPTRDIB lpRW, int x, int y)
{
    if (!lpRW || !inside(lpRW, x, y))
        return 0xFFFFFFFFu;
    return guarded<DWORD>(0xFFFFFFFFu, [&] {
        alignas(8) BYTE raw[8] = {};
        Rgbq16 c;
        lpRW->fngetPixel(lpRW, x, y, raw);
        lpRW->fnPixelToRgbq16(lpRW, raw, &c);
        return static_cast<DWORD>(c.blue >> 8) << 16 | static_cast<DWORD>(c.green >> 8) << 8 |
               static_cast<DWORD>(c.red >> 8);
    });
}

KELM3_API void WINAPI RWSetPixel(LPTRDIB lpRW, int x, int y, DWORD colour)
{
    if (!lpRW || !inside(lpRW, x, y))
        return;
    guarded_void([&] {
        // Each 8-bit part v becomes v x 256: the high byte is v, the low 0.
        const Rgbq16 c{static_cast<WORD>(((colour >> 16) & 0xFF) << 8), static_cast<WORD>(((colour >> 8) & 0xFF) << 8),
                       static_cast<WORD>((colour & 0xFF) << 8), static_cast<WORD>(((colour >> 24) & 0xFF) << 8)};
        alignas(8) BYTE raw[8] = {};
        lpRW->fnRgbq16ToPixel(lpRW, raw, &c);
        lpRW->fnSetPixe(lpRW, x, y, raw);
    });
}

KELM3_API void WINAPI RWGetPixelIndex(LPTRDIB lpRW, int x, int y, LPVOID lpRaw)
{
    if (!lpRW || !lpRaw || !inside(lpRW, x, y))
        return;
    guarded_void([&] { lpRW->fngetPixel(lpRW, x, y, lpRaw); });
}

KELM3_API void WINAPI RWSetPixelIndex(LPTRDIB lpRW, int x, int y, LPCVOID lpRaw)
{
    if (!lpRW || !lpRaw || !inside(lpRW, x, y))
        return;
    guarded_void([&] { lpRW->fnSetPixe(lpRW, x, y, lpRaw); });
}

KELM3_API void WINAPI RWGetPixelRGB16(LPTRDIB lpRW, int x, int y, Rgbq16* lpColour)
{
    if (!lpRW || !lpColour || !inside(lpRW, x, y))
        return;
    guarded_void([&] {
        alignas(8) BYTE raw[8] = {};
        lpRW->fngetPixel(lpRW, x, y, raw);
        lpRW->fnPixelToRgbq16(lpRW, raw, lpColour);
    });
}

KELM3_API void WINAPI RWSetPixelRGB16(LPTRDIB lpRW, int x, int y, const Rgbq16* lpColour)
{
    if (!lpRW || !lpColour || !inside(lpRW, x, y))
        return;
    guarded_void([&] {
        alignas(8) BYTE raw[8] = {};
        lpRW->fnRgbq16ToPixel(lpRW, raw, lpColour);
        lpRW->fnSetPixe(lpRW, x, y, raw);
    });
}

KELM3_API void WINAPI RWGetLineRGB16(LPTRDIB lpRW, int x, int y, int count, Rgbq16* lpLine)
{
    if (!lpRW || !lpLine || !inside(lpRW, x, y))
        return;
    count = clip_count(lpRW, x, count);
    if (count <= 0)
        return;
    guarded_void([&] { lpRW->fnGetLineRgbq16(lpRW, x, y, count, lpLine); });
}

KELM3_API void WINAPI RWSetLineRGB16(LPTRDIB lpRW, int x, int y, int count, const Rgbq16* lpLine)
{
    if (!lpRW || !lpLine || !inside(lpRW, x, y))
        return;
    count = clip_count(lpRW, x, count);
    if (count <= 0)
        return;
    guarded_void([&] { lpRW->fnSetLineRgbq16(lpRW, x, y, count, lpLine); });
}

}  // extern "C"
