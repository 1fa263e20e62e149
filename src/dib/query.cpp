// The header queries: colour counts, table sizes and types, pixel addresses,
// CMYK marking, and DIBInfo's completed copy of a header.
#include <algorithm>

#include "dib/dib.h"

namespace kelm {

UINT num_palette_colors(const void* lpbi)
{
    uint32_t bits;
    if (ld32(lpbi, bih::Size) == kCoreHeaderSize) {
        bits = ld16(lpbi, bch::BitCount);
    } else {
        // biClrUsed counts as a 16-bit quantity here; the address arithmetic
        // of DIBPixelPtr is the one place that takes all 32 bits.
        uint32_t used = ld32(lpbi, bih::ClrUsed);
        if (used != 0)
            return used & 0xFFFF;
        bits = ld16(lpbi, bih::BitCount);
    }
    switch (bits) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    default: return 0;
    }
}

UINT palette_size(const void* lpbi)
{
    UINT count = num_palette_colors(lpbi) & 0xFFFF;
    return count * (ld32(lpbi, bih::Size) == kCoreHeaderSize ? 3 : 4);
}

namespace {

bool same_rgb(const BYTE* e, BYTE b, BYTE g, BYTE r)
{
    return e[0] == b && e[1] == g && e[2] == r;
}

}  // namespace

int palette_type(const void* lpbi)
{
    const UINT count = num_palette_colors(lpbi);
    if (count == 0)
        return kPalNone;
    // A core header is 12 bytes long and has no compression field, hence no
    // masks: its table follows it directly.
    const uint32_t headerSize = ld32(lpbi, bih::Size);
    const bool masks = headerSize != kCoreHeaderSize && ld32(lpbi, bih::Compression) == BI_BITFIELDS;
    const BYTE* table = static_cast<const BYTE*>(lpbi) + headerSize + (masks ? kMaskBytes : 0);
    if (count == 2) {
        if (same_rgb(table, 0, 0, 0) && same_rgb(table + 4, 255, 255, 255))
            return kPalBlackWhite;
        if (same_rgb(table, 255, 255, 255) && same_rgb(table + 4, 0, 0, 0))
            return kPalWhiteBlack;
        return kPalOther;
    }
    if (count == 16)
        return std::memcmp(table, kStandard16, sizeof kStandard16) == 0 ? kPalStd16 : kPalOther;
    if (count == 256) {
        bool down = true, up = true;
        for (int i = 0; i < 256 && (down || up); ++i) {
            const BYTE* e = table + 4 * i;
            down = down && same_rgb(e, static_cast<BYTE>(255 - i), static_cast<BYTE>(255 - i), static_cast<BYTE>(255 - i));
            up = up && same_rgb(e, static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i));
        }
        if (down)
            return kPalGreyDown;
        if (up)
            return kPalGreyUp;
        // Only the cube, the greys and white identify the default table;
        // its remaining entries are not examined.
        for (int i = 0; i <= 232; ++i) {
            const RGBQUAD& d = kDefault256[i];
            if (!same_rgb(table + 4 * i, d.rgbBlue, d.rgbGreen, d.rgbRed))
                return kPalOther;
        }
        return kPalDefault256;
    }
    return kPalOther;
}

BOOL is_cmyk(const void* lpbi)
{
    return ld32(lpbi, bih::Size) == kV4HeaderSize && ld32(lpbi, kCsTypeOffset) == kCsTypeCmyk;
}

BYTE* pixel_ptr(void* lpbi, UINT x, UINT y)
{
    // Deliberately 32-bit unsigned throughout, and counting the colour table
    // by the full 32-bit biClrUsed (or 2^bits below 16 bits).
    const UINT size = ld32(lpbi, bih::Size);
    if (size == kCoreHeaderSize) {
        // A core header holds no fields past its 12 bytes: no colour count,
        // no compression. Its table is 2^bits RGBTRIPLEs below 16 bits.
        const UINT bits = ld16(lpbi, bch::BitCount);
        const UINT colours = bits < 16 ? 1u << bits : 0;
        const UINT offset = size + 3 * colours + (x * bits) / 8 + y * stride32(ld16(lpbi, bch::Width), bits);
        return static_cast<BYTE*>(lpbi) + offset;
    }
    const UINT bits = ld16(lpbi, bih::BitCount);
    const UINT width = ld32(lpbi, bih::Width);
    UINT colours = ld32(lpbi, bih::ClrUsed);
    if (colours == 0 && bits < 16)
        colours = 1u << bits;
    UINT offset = size + 4 * colours + (ld32(lpbi, bih::Compression) == BI_BITFIELDS ? kMaskBytes : 0);
    offset += (x * bits) / 8 + y * stride32(width, bits);
    return static_cast<BYTE*>(lpbi) + offset;
}

void complete_info_header(BITMAPINFOHEADER* bi, const void* lpbi, const DibLayout& l)
{
    // |biHeight| x stride: one plane's rows, as the field has always been
    // completed, taken from the checked layout.
    if (bi->biCompression == BI_RGB && bi->biSizeImage < l.planeBytes)
        bi->biSizeImage = static_cast<DWORD>(l.planeBytes);
    if (bi->biClrUsed == 0)
        bi->biClrUsed = num_palette_colors(lpbi);
}

int dib_info(HGLOBAL hDib, void* lpbi, UINT cbSize)
{
    if (!hDib || !lpbi || cbSize < kInfoHeaderSize)
        return 0;
    LockedDib dib(hDib);
    if (!dib.ok())
        return 0;
    const UINT size = dib.layout().headerSize;
    std::memcpy(lpbi, dib.bytes(), std::min(cbSize, size));
    if (!dib.layout().core) {
        BITMAPINFOHEADER bi;
        std::memcpy(&bi, lpbi, sizeof bi);
        complete_info_header(&bi, dib.bytes(), dib.layout());
        std::memcpy(lpbi, &bi, sizeof bi);
    }
    return 1;
}

}  // namespace kelm
