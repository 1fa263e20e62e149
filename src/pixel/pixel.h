// The pixel accessor: a TRDIB record opened on an image caches its layout
// and holds six routines chosen once for the image's format, so that callers
// loop over pixels or rows without ever testing the format themselves.
#pragma once

#include "dib/dib.h"
#include "kelm3.h"

struct TRDIB;

using FnGetPixel = void (*)(TRDIB* rd, int x, int y, void* raw);
using FnSetPixel = void (*)(TRDIB* rd, int x, int y, const void* raw);
using FnPixelToRgbq16 = void (*)(TRDIB* rd, const void* raw, Rgbq16* out);
using FnRgbq16ToPixel = void (*)(TRDIB* rd, void* raw, const Rgbq16* in);
using FnGetLineRgbq16 = void (*)(TRDIB* rd, int x, int y, int count, Rgbq16* out);
using FnSetLineRgbq16 = void (*)(TRDIB* rd, int x, int y, int count, const Rgbq16* in);

// The accessor record. Zero-filled before it is opened; owned by whoever
// opens it. Coordinates: x the column, y the row in memory order; routines
// test no bounds.
struct TRDIB {
    BYTE* lpbmi;                     // the locked block (its header)
    HGLOBAL hDib;                    // the block's handle; null while closed
    BITMAPINFOHEADER bmi;            // the header as DIBInfo reports it
    RGBQUAD* lppal;                  // colour table
    BYTE* hpbits;                    // pixel array
    DWORD WidthBytes;                // row stride
    UINT BitCount;
    UINT BytesPerPixel;              // BitCount / 8 (0 at 1 and 4 bits)
    UINT PaletteEntries;
    HGLOBAL hPaletteInversionCache;  // nearest-colour cache, null until needed
    int PaletteType;
    DWORD dwOffsetLSB;               // two-plane form: distance from high to low byte
    FnGetPixel fngetPixel;
    FnSetPixel fnSetPixe;
    FnPixelToRgbq16 fnPixelToRgbq16;
    FnRgbq16ToPixel fnRgbq16ToPixel;
    FnGetLineRgbq16 fnGetLineRgbq16;
    FnSetLineRgbq16 fnSetLineRgbq16;
    // BI_BITFIELDS at 16 bits: lowest set bit and number of set bits of the
    // red, green and blue masks.
    BYTE maskShift[3];
    BYTE maskBits[3];
    DWORD masks[3];
};

namespace kelm {

// Entries of the nearest-colour cache: one 16-bit entry for each combination
// of the top 6 bits of red, green and blue.
inline constexpr size_t kInversionCacheEntries = 1u << 18;
inline constexpr size_t kInversionCacheBytes = kInversionCacheEntries * 2;

// Opens rd (zero-filled) on the image; false and nothing locked on failure.
bool trdib_open(HGLOBAL hDib, TRDIB* rd);
// Frees the nearest-colour cache and unlocks the image. Harmless on a record
// whose open failed.
void trdib_close(TRDIB* rd);

// Nearest palette entry to a colour word (red bits 0-7, green 8-15, blue
// 16-23); the colour word itself at 16 bits and more.
UINT nearest_colour(TRDIB* rd, DWORD colour);

}  // namespace kelm
