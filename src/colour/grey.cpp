// Grey conversion. Indexed images (up to 16 bits) keep their pixels and get
// a grey colour table in place; true-colour images become a new 8-bit image
// with the ascending grey ramp, and the source block is freed, so the caller
// continues with the returned handle.
#include "colour/colour.h"

namespace kelm {

namespace {

HGLOBAL grey_of_true_colour(BYTE* p, const DibLayout& l, uint64_t available)
{
    uint64_t srcLow = 0;
    if (l.planes == 2 && !second_plane_offset(p, l, available, &srcLow))
        return nullptr;
    DibShape shape;
    shape.width = l.width;
    shape.height = l.height;
    shape.bitCount = 8;
    shape.planes = l.planes;
    shape.colours = 256;
    DibLayout gl;
    HGLOBAL h = alloc_image(shape, &gl);
    if (!h)
        return nullptr;
    BYTE* q = static_cast<BYTE*>(GlobalLock(h));
    if (!q) {
        GlobalFree(h);
        return nullptr;
    }
    std::memcpy(q, p, kInfoHeaderSize);
    BITMAPINFOHEADER bi;
    std::memcpy(&bi, q, sizeof bi);
    bi.biSize = kInfoHeaderSize;
    bi.biBitCount = 8;
    bi.biClrUsed = 256;
    bi.biClrImportant = 256;
    bi.biSizeImage = static_cast<DWORD>(gl.pixelBytes);
    std::memcpy(q, &bi, sizeof bi);
    RGBQUAD* table = reinterpret_cast<RGBQUAD*>(q + kInfoHeaderSize);
    for (int i = 0; i < 256; ++i)
        table[i] = RGBQUAD{static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i), 0};

    const uint32_t bpp = l.bitCount / 8;
    const uint64_t width = static_cast<uint64_t>(l.width);
    const BYTE* src = p + l.pixelOffset;
    BYTE* dst = q + gl.pixelOffset;
    const uint64_t dstLow = gl.planeBytes;  // the result's biSizeImage / 2
    // A zero width has no pixels, however many rows it claims.
    for (uint64_t y = 0; y < l.rows && width > 0; ++y) {
        const BYTE* s = src + y * l.stride;
        BYTE* d = dst + y * gl.stride;
        if (l.planes == 2) {
            const BYTE* sl = s + srcLow;
            for (uint64_t x = 0; x < width; ++x, s += bpp, sl += bpp) {
                const uint32_t b = static_cast<uint32_t>(s[0] << 8 | sl[0]), g = static_cast<uint32_t>(s[1] << 8 | sl[1]),
                               r = static_cast<uint32_t>(s[2] << 8 | sl[2]);
                const uint32_t v = (28 * b + 151 * g + 77 * r) >> 8;
                d[x] = static_cast<BYTE>(v >> 8);
                d[x + dstLow] = static_cast<BYTE>(v);
            }
        } else {
            grey_row(s, bpp, width, d);
        }
    }
    GlobalUnlock(h);
    return h;
}

}  // namespace

HGLOBAL gray_dib(HGLOBAL hDib)
{
    if (!hDib)
        return nullptr;
    HGLOBAL result = nullptr;
    {
        LockedDib dib(hDib);
        // Core headers (no compression field, RGBTRIPLE tables) and every
        // compressed form are refused.
        if (!dib.ok() || dib.layout().core || dib.layout().compression != BI_RGB)
            return nullptr;
        const DibLayout& l = dib.layout();
        BYTE* p = dib.bytes();
        if (l.bitCount <= 16) {
            RGBQUAD* table = reinterpret_cast<RGBQUAD*>(p + l.headerSize);
            const uint64_t n = l.paletteBytes / 4;
            for (uint64_t i = 0; i < n; ++i) {
                const BYTE g = static_cast<BYTE>(grey_of(table[i].rgbBlue, table[i].rgbGreen, table[i].rgbRed));
                table[i].rgbBlue = table[i].rgbGreen = table[i].rgbRed = g;
            }
            return hDib;
        }
        if (l.bitCount != 24 && l.bitCount != 32)
            return nullptr;
        if (l.bitCount == 32 && is_cmyk(p))
            dib_cmyk_to_rgb(p);
        result = grey_of_true_colour(p, l, dib.block_size());
    }
    if (result)
        GlobalFree(hDib);
    return result;
}

}  // namespace kelm
