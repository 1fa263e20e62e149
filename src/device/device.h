// Device output: packed DIBs to and from GDI device bitmaps, palettes from
// colour tables, drawing into device contexts, screen capture, stretched
// output with the PostScript road for CMYK images, and spline curves.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dib/dib.h"

namespace kelm {

HBITMAP bitmap_from_dib(HGLOBAL hDib, HPALETTE hPal);
HGLOBAL dib_from_bitmap(HBITMAP hBitmap, DWORD compression, UINT bitCount, HPALETTE hPal);
BOOL draw_bitmap(HDC hdc, int x, int y, HBITMAP hBitmap, DWORD rop);
BOOL dib_blt(HDC hdc, int xDest, int yDest, int width, int height, HGLOBAL hDib, int xSrc, int ySrc, DWORD rop);
HPALETTE create_bi_palette(const void* lpbi);
HPALETTE create_dib_palette(HGLOBAL hDib);
HGLOBAL dib_screen_shot(HWND hWnd, const RECT* rect);

LONG stretch_dib_blt(HDC hdc, int xDest, int yDest, int width, int height, HGLOBAL hDib, int xSrc, int ySrc,
                     int srcWidth, int srcHeight, DWORD rop);
BOOL is_postscript_dc(HDC hdc);

// Sends the PostScript image of a locked CMYK image's source rectangle to a
// device through pass-through escapes, the destination corners being already
// in device units. `send` receives each escape record (16-bit count, then
// the text) and its length.
struct PostScriptSink {
    virtual ~PostScriptSink() = default;
    virtual void send(const char* record, int length) = 0;
};
void postscript_image(PostScriptSink& sink, const BYTE* lpbi, POINT p0, POINT p1, int xSrc, int ySrc, int srcWidth,
                      int srcHeight);

// The vertices Splineline hands to Polyline for n >= 3 control points:
// 5n + 2 points. Returns false when memory cannot be had.
bool spline_vertices(const POINT* points, int n, POINT* out);
BOOL spline_line(HDC hdc, const POINT* points, int n);

// Whether the colour table GDI reads from a locked image lies in its block.
// GDI reads all 32 bits of biClrUsed, while the image's layout counts only
// its low 16 bits. A table of biClrUsed entries is read, at most 256, or
// 2^biBitCount at 8 bits and below when biClrUsed is 0; some readers stop at
// 2^biBitCount, others (a metafile recording the image among them) copy up to
// 256 entries whatever the depth, so the longer reading must fit: a header
// whose readings differ must not send anyone past the block's end.
inline bool gdi_table_fits(const LockedDib& dib)
{
    const DibLayout& l = dib.layout();
    if (l.core)
        return true;
    const uint32_t clrUsed = ld32(dib.bytes(), bih::ClrUsed);
    uint64_t entries = clrUsed > 256 ? 256 : clrUsed;
    if (clrUsed == 0 && l.bitCount <= 8)
        entries = uint64_t{1} << l.bitCount;
    return l.headerSize + l.maskBytes + entries * 4 <= dib.block_size();
}

// Restores biPlanes of a caller's header on every way out of a scope that
// set it to 1 for GDI.
class PlanesGuard {
public:
    PlanesGuard(BYTE* header, bool core)
        : field_(header + (core ? bch::Planes : bih::Planes))
    {
        std::memcpy(&saved_, field_, 2);
        const WORD one = 1;
        std::memcpy(field_, &one, 2);
    }
    ~PlanesGuard() { std::memcpy(field_, &saved_, 2); }
    PlanesGuard(const PlanesGuard&) = delete;
    PlanesGuard& operator=(const PlanesGuard&) = delete;

private:
    BYTE* field_;
    WORD saved_ = 0;
};

}  // namespace kelm
