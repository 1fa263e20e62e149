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
    // BI_BITFIELDS at 16 bits: the masks cut to the 16 bits a pixel word
    // holds, with the lowest set bit and the number of set bits of each
    // (red, green, blue). A zero mask has shift 0 and 0 bits.
    BYTE maskShift[3];
    BYTE maskBits[3];
    DWORD masks[3];
    // Colour-table entries from lppal on that lie inside the block (at most
    // 256): a palette lookup of a higher index reads black instead of
    // whatever follows the block.
    UINT PaletteReadable;
    // Entries the nearest-colour scan considers: the table, but no more than
    // a pixel of this depth can address, so the index found is the index
    // stored.
    UINT PaletteSearchable;
    int Format;                      // kelm::PixelFormat the routines were chosen for
};

namespace kelm {

// The layouts the accessor tells apart; each has its own routine set.
enum PixelFormat : int {
    kFmtNone = 0,
    kFmt1BlackWhite,   // 1 bit, palette type 2
    kFmt1WhiteBlack,   // 1 bit, palette type 3
    kFmt1Palette,      // 1 bit, any other table
    kFmt4Palette,
    kFmt8Default,      // 8 bits, the default 256-colour table
    kFmt8GreyDown,     // 8 bits, descending grey ramp
    kFmt8GreyUp,       // 8 bits, ascending grey ramp
    kFmt8Palette,
    kFmt16Rgb555,
    kFmt16Bitfields,
    kFmt24,
    kFmt32,
    kFmt32Cmyk,
    kFmtPlane8,        // two-plane 16-bit grey
    kFmtPlane24,       // two-plane 16 bits per blue, green, red
    kFmtPlane32,       // two-plane 16 bits per channel, four channels
    kFmtCount
};

// Entries of the nearest-colour cache: one 16-bit entry for each combination
// of the top 6 bits of red, green and blue.
inline constexpr size_t kInversionCacheEntries = 1u << 18;
inline constexpr size_t kInversionCacheBytes = kInversionCacheEntries * 2;

// Opens rd (zero-filled) on the image; false and nothing locked on failure.
bool trdib_open(HGLOBAL hDib, TRDIB* rd);
// Frees the nearest-colour cache and unlocks the image. Harmless on a record
// whose open failed, and on one already closed.
void trdib_close(TRDIB* rd);

// Which routine set the layout cached in rd calls for (kFmtNone when the
// depth is not supported), and installing that set with its format data.
PixelFormat pixel_format_of(const TRDIB* rd);
void install_routines(TRDIB* rd, PixelFormat format);

// The plain line routines: one slot call per pixel through rd's own
// fngetPixel/fnPixelToRgbq16 and fnRgbq16ToPixel/fnSetPixe. Every
// specialised line routine must agree with these.
void generic_get_line(TRDIB* rd, int x, int y, int count, Rgbq16* out);
void generic_set_line(TRDIB* rd, int x, int y, int count, const Rgbq16* in);

// Nearest palette entry to a colour word (red bits 0-7, green 8-15, blue
// 16-23); the colour word itself at 16 bits and more.
UINT nearest_colour(TRDIB* rd, DWORD colour);

// Holds a record's nearest-colour cache locked across a run of searches, so
// that a row of palette writes locks it once instead of once a pixel. find()
// answers exactly as nearest_colour does.
class NearestSearch {
public:
    explicit NearestSearch(TRDIB* rd);
    ~NearestSearch();
    NearestSearch(const NearestSearch&) = delete;
    NearestSearch& operator=(const NearestSearch&) = delete;
    UINT find(DWORD colour);

private:
    TRDIB* rd_;
    WORD* cache_;
};

// The linear scan behind nearest_colour, without the cache.
UINT scan_palette(const TRDIB* rd, DWORD colour);

}  // namespace kelm
