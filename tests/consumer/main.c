/* A minimal application of kelm3: make a 24-bit image, write and read back
 * pixels through the RW functions, free it. Exits 0 when every value read
 * back is the one written, 1 otherwise. Plain C, for Linux and Win32 alike. */
#include <stdio.h>

#include "kelm3.h"

static int failures;

static void expect_colour(const char *what, DWORD got, DWORD want)
{
    if (got != want) {
        printf("%s: got 0x%08lx, want 0x%08lx\n", what, (unsigned long)got, (unsigned long)want);
        ++failures;
    }
}

int main(void)
{
    BITMAPINFOHEADER bi;
    HGLOBAL dib = CreateDIB(4, 3, 24, 0);
    LPTRDIB rw;

    if (dib == NULL) {
        printf("CreateDIB failed\n");
        return 1;
    }
    if (!DIBInfo(dib, &bi, (UINT)sizeof bi) || bi.biWidth != 4 || bi.biHeight != 3 || bi.biBitCount != 24) {
        printf("DIBInfo does not describe a 4x3 24-bit image\n");
        ++failures;
    }

    rw = RWOpenDIB(dib);
    if (rw == NULL) {
        printf("RWOpenDIB failed\n");
        DIBFree(dib);
        return 1;
    }
    RWSetPixel(rw, 1, 2, RGB(0x12, 0x34, 0x56));
    RWSetPixel(rw, 3, 0, RGB(0xFF, 0x00, 0x80));
    expect_colour("pixel (1,2)", RWGetPixel(rw, 1, 2), RGB(0x12, 0x34, 0x56));
    expect_colour("pixel (3,0)", RWGetPixel(rw, 3, 0), RGB(0xFF, 0x00, 0x80));
    expect_colour("untouched pixel (0,0)", RWGetPixel(rw, 0, 0), RGB(0, 0, 0));
    expect_colour("pixel outside the image", RWGetPixel(rw, 4, 0), 0xFFFFFFFFu);
    if (RWClose(rw) != NULL) {
        printf("RWClose did not return NULL\n");
        ++failures;
    }

    if (DIBFree(dib) != NULL) {
        printf("DIBFree failed\n");
        ++failures;
    }
    if (failures == 0)
        printf("kelm3 consumer: ok\n");
    return failures == 0 ? 0 : 1;
}
