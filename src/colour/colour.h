// The colour subsystem: depth conversion, colour selection, dithering, grey
// conversion and grey scaling, gamma correction, convolution filters, CMYK.
// Each operation lives in its own file; this header is what the exports and
// the rest of the library see of them.
#pragma once

#include <cstdint>

#include "dib/dib.h"
#include "platform/platform.h"

namespace kelm {

// Converts the four stored bytes of a CMYK pixel (255 - blue, 255 - green,
// 255 - red, black) to blue, green, red, written to dst[0..2]. dst may be src.
void cmyk_pixel_to_rgb(const BYTE* src, BYTE* dst);

// Converts a locked 32-bit CMYK image to RGB in place and marks it RGB.
void dib_cmyk_to_rgb(void* lpbi);

// Depth conversion through the caller's handle variable (convert.cpp).
BOOL convert_dib(HGLOBAL* phDib, int bitCount);

// Median-cut colour choice, returned as the table of a 1 x 1 image (select.cpp).
HGLOBAL select_colors(HGLOBAL hDib, int colours);

// Error-diffusion dithers of a header pointer (dither1.cpp, dither4.cpp, dither8.cpp).
HGLOBAL dither_to_1(const void* lpbi, const BYTE* greyMap);
HGLOBAL dither_to_4(const void* lpbi);
HGLOBAL dither_to_8(const void* lpbi, int levels, int popular, const void* lpbiPalette);

// Grey conversion (grey.cpp) and box-filtered grey scaling (scale_grey.cpp).
HGLOBAL gray_dib(HGLOBAL hDib);
HGLOBAL scale_to_gray(HGLOBAL hDib, int cxDest, int cyDest, const RECT* source);

// Gamma tables and their application (gamma.cpp).
void gamma_table(LONG gamma, BYTE* table);
void gamma_apply(HGLOBAL hDib, LONG gamma, const BYTE* table);

// Convolution with an integer kernel in 1/256 (fir.cpp).
HGLOBAL fir_filter(HGLOBAL hDib, const LONG* kernel, int kw, int kh, int offset);
HGLOBAL sharpen(HGLOBAL hDib);

// ---------------------------------------------------------------------------
// Shared by the colour operations.

// A header pointer checked against the block it lies in. The dithers get no
// block size: when GlobalHandle finds the block that starts at lpbi, the
// layout must lie within its GlobalSize; any other pointer is trusted as far
// as its layout is computable. False when the header has no layout or does
// not fit its block.
bool pointer_layout(const void* lpbi, DibLayout* out, uint64_t* available);

// Offset of the second plane of a two-plane image: half the stored
// biSizeImage, as the format defines it, provided the plane then lies inside
// `available` bytes of block; false otherwise.
bool second_plane_offset(const BYTE* p, const DibLayout& l, uint64_t available, uint64_t* offset);

// A new movable, zeroed block for the 40-byte-header image `shape` (checked
// layout); null when it does not fit or memory runs out.
HGLOBAL alloc_image(const DibShape& shape, DibLayout* layout);

// A new image held locked while an operation fills it. On every way out,
// an exception included, it is unlocked and freed unless release() hands it
// to the caller, unlocked. bytes() is null when there was no image or the
// lock failed (the image is then freed at once).
class FilledImage {
public:
    explicit FilledImage(HGLOBAL h)
        : h_(h), p_(h ? static_cast<BYTE*>(GlobalLock(h)) : nullptr)
    {
        if (h_ && !p_) {
            GlobalFree(h_);
            h_ = nullptr;
        }
    }
    ~FilledImage()
    {
        if (h_) {
            GlobalUnlock(h_);
            GlobalFree(h_);
        }
    }
    FilledImage(const FilledImage&) = delete;
    FilledImage& operator=(const FilledImage&) = delete;
    BYTE* bytes() const { return p_; }
    HGLOBAL release()
    {
        HGLOBAL h = h_;
        GlobalUnlock(h);
        h_ = nullptr;
        return h;
    }

private:
    HGLOBAL h_;
    BYTE* p_;
};

// Grey weights of every grey conversion: red 77, green 151, blue 28, over 256.
inline unsigned grey_of(unsigned b, unsigned g, unsigned r)
{
    return (28 * b + 151 * g + 77 * r) >> 8;
}

// grey_of of `width` pixels of 3 or 4 bytes (blue, green, red first) into
// one byte each.
void grey_row(const BYTE* src, uint32_t bytesPerPixel, uint64_t width, BYTE* out);

}  // namespace kelm
