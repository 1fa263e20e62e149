// The record layouts the library reads and writes byte for byte: checked here
// against our own Win32 subset on Linux and against <windows.h> on Windows.
#include <cstddef>

#include "platform/platform.h"

static_assert(sizeof(BYTE) == 1 && sizeof(WORD) == 2 && sizeof(DWORD) == 4);
static_assert(sizeof(LONG) == 4 && sizeof(UINT) == 4 && sizeof(BOOL) == 4 && sizeof(COLORREF) == 4);
static_assert(sizeof(HGLOBAL) == sizeof(void*));
static_assert(sizeof(RGBQUAD) == 4 && sizeof(RGBTRIPLE) == 3);
static_assert(sizeof(POINT) == 8 && sizeof(RECT) == 16);
static_assert(sizeof(BITMAPCOREHEADER) == 12);
static_assert(offsetof(BITMAPCOREHEADER, bcWidth) == 4 && offsetof(BITMAPCOREHEADER, bcBitCount) == 10);
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(offsetof(BITMAPINFOHEADER, biWidth) == 4 && offsetof(BITMAPINFOHEADER, biHeight) == 8);
static_assert(offsetof(BITMAPINFOHEADER, biPlanes) == 12 && offsetof(BITMAPINFOHEADER, biBitCount) == 14);
static_assert(offsetof(BITMAPINFOHEADER, biCompression) == 16 && offsetof(BITMAPINFOHEADER, biSizeImage) == 20);
static_assert(offsetof(BITMAPINFOHEADER, biClrUsed) == 32 && offsetof(BITMAPINFOHEADER, biClrImportant) == 36);
static_assert(sizeof(BITMAPV4HEADER) == 108);
static_assert(offsetof(BITMAPV4HEADER, bV4RedMask) == 40 && offsetof(BITMAPV4HEADER, bV4AlphaMask) == 52);
static_assert(offsetof(BITMAPV4HEADER, bV4CSType) == 56);
