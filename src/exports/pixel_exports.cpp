// Exports of the public pixel API: bounds-tested wrappers around the pixel
// accessor record.
#include "exports/exports.h"
#include "pixel/pixel.h"

using namespace kelm;

extern "C" {

KELM3_API LPTRDIB WINAPI RWOpenDIB(HGLOBAL hDib)
{
    return guarded<LPTRDIB>(nullptr, [&]() -> LPTRDIB {
        auto* rd = static_cast<TRDIB*>(LocalAlloc(LPTR, sizeof(TRDIB)));
        if (!rd)
            return nullptr;
        if (!trdib_open(hDib, rd)) {
            LocalFree(rd);
            return nullptr;
        }
        return rd;
    });
}

KELM3_API LPTRDIB WINAPI RWClose(LPTRDIB lpRW)
{
    guarded_void([&] {
        trdib_close(lpRW);
        LocalFree(lpRW);
    });
    return nullptr;
}

KELM3_API DWORD WINAPI RWGetPixel(LPTRDIB, int, int) { return 0xFFFFFFFFu; }
KELM3_API void WINAPI RWSetPixel(LPTRDIB, int, int, DWORD) {}
KELM3_API void WINAPI RWGetPixelIndex(LPTRDIB, int, int, LPVOID) {}
KELM3_API void WINAPI RWSetPixelIndex(LPTRDIB, int, int, LPCVOID) {}
KELM3_API void WINAPI RWGetPixelRGB16(LPTRDIB, int, int, Rgbq16*) {}
KELM3_API void WINAPI RWSetPixelRGB16(LPTRDIB, int, int, const Rgbq16*) {}
KELM3_API void WINAPI RWGetLineRGB16(LPTRDIB, int, int, int, Rgbq16*) {}
KELM3_API void WINAPI RWSetLineRGB16(LPTRDIB, int, int, int, const Rgbq16*) {}

}  // extern "C"
