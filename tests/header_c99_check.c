/* kelm3.h as a strict C99 compiler sees it (built with -std=c99
 * -pedantic-errors on every platform): it must parse, survive a second
 * inclusion, and give C the same record sizes the library was built with. */
#include "kelm3.h"
#include "kelm3.h"

#define KELM3_C_CHECK(name, cond) typedef char kelm3_check_##name[(cond) ? 1 : -1]

KELM3_C_CHECK(rgbquad, sizeof(RGBQUAD) == 4);
KELM3_C_CHECK(info_header, sizeof(BITMAPINFOHEADER) == 40);
KELM3_C_CHECK(v4_header, sizeof(BITMAPV4HEADER) == 108);
KELM3_C_CHECK(rgbq16, sizeof(Rgbq16) == 8);
KELM3_C_CHECK(dword, sizeof(DWORD) == 4 && sizeof(LONG) == 4 && sizeof(UINT) == 4);

/* Prototypes as C sees them: calls with the documented argument types must
 * compile without casts. Never called. */
int kelm3_header_c99_check(HGLOBAL h, BITMAPINFOHEADER *bi);
int kelm3_header_c99_check(HGLOBAL h, BITMAPINFOHEADER *bi)
{
    Rgbq16 colour = {0, 0, 0, 0};
    LPTRDIB rw = RWOpenDIB(h);
    RWSetPixelRGB16(rw, 0, 0, &colour);
    RWSetPixel(rw, 0, 0, RWGetPixel(rw, 0, 0));
    rw = RWClose(rw);
    return DIBInfo(h, bi, (UINT)sizeof *bi) + (int)DIBPaletteSize(bi) + (rw == NULL ? 0 : 1);
}
