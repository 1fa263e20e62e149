// Making, copying and freeing packed DIBs. Every size comes from
// compute_layout, which refuses what does not fit a block, so no width,
// height, depth or plane count can wrap into a small allocation.
#include <algorithm>

#include "dib/dib.h"
#include "kelm3.h"

namespace kelm {

namespace {

// Resolution of new images: 7000 pixels per metre, about 178 dpi.
constexpr LONG kNewImagePelsPerMeter = 7000;

bool depth_supported(uint32_t bitsPerPlane, uint32_t planes)
{
    if (planes == 2)
        return bitsPerPlane == 8 || bitsPerPlane == 24 || bitsPerPlane == 32;
    switch (bitsPerPlane) {
    case 1: case 4: case 8: case 16: case 24: case 32: return true;
    default: return false;
    }
}

}  // namespace

void clear_row_tails(BYTE* bits, uint64_t stride, uint64_t rows, int64_t width, uint32_t bitCount)
{
    if (bitCount >= 32 || (width * bitCount) % 32 == 0 || stride < 4)
        return;
    for (uint64_t r = 0; r < rows; ++r)
        std::memset(bits + r * stride + stride - 4, 0, 4);
}

HGLOBAL create_dib(LONG width, LONG height, UINT bitCount, int flags)
{
    uint32_t n = bitCount;
    if (flags & KELM3_CREATE_TWOPLANE) {
        if (n > 0xFFFF)
            return nullptr;
        n *= 2;
    }
    const uint32_t planes = (n > 32 || (flags & KELM3_CREATE_TWOPLANE)) ? 2 : 1;
    const uint32_t bits = n / planes;
    if (width < 0 || !depth_supported(bits, planes) || bits * planes != n)
        return nullptr;
    BITMAPINFOHEADER bi{};
    bi.biSize = kInfoHeaderSize;
    bi.biWidth = width;
    bi.biHeight = height;
    bi.biPlanes = static_cast<WORD>(planes);
    bi.biBitCount = static_cast<WORD>(bits);
    bi.biCompression = BI_RGB;
    bi.biXPelsPerMeter = kNewImagePelsPerMeter;
    bi.biYPelsPerMeter = kNewImagePelsPerMeter;
    bi.biClrUsed = num_palette_colors(&bi);
    DibShape shape;
    shape.width = width;
    shape.height = height;
    shape.bitCount = bits;
    shape.planes = planes;
    shape.colours = bi.biClrUsed;
    DibLayout l;
    if (!compute_layout(shape, &l))
        return nullptr;
    bi.biSizeImage = static_cast<DWORD>(l.pixelBytes);
    const uint64_t tableBytes = l.paletteBytes;
    const uint64_t total = l.total;

    const bool zero = (flags & KELM3_CREATE_NOZERO) == 0;
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | (zero ? GMEM_ZEROINIT : 0), static_cast<SIZE_T>(total));
    if (!h)
        return nullptr;
    BYTE* p = static_cast<BYTE*>(GlobalLock(h));
    if (!p) {
        GlobalFree(h);
        return nullptr;
    }
    std::memcpy(p, &bi, sizeof bi);
    BYTE* table = p + kInfoHeaderSize;
    BYTE* pixels = table + tableBytes;
    if (planes == 1 && bits == 1)
        std::memcpy(table, kBlackWhite, sizeof kBlackWhite);
    else if (planes == 1 && bits == 4)
        std::memcpy(table, kStandard16, sizeof kStandard16);
    else if (planes == 1 && bits == 8)
        std::memcpy(table, kDefault256, sizeof kDefault256);
    else if (!zero)
        std::memset(table, 0, tableBytes);
    if (!zero)  // keep row padding zero in every plane, even when pixels are left to the caller
        clear_row_tails(pixels, l.stride, l.rows * planes, width, bits);
    GlobalUnlock(h);
    return h;
}

HGLOBAL create_compatible_dib(HGLOBAL hSrc, UINT width, LONG height, bool zero)
{
    LockedDib src(hSrc);
    // A core header has no room for the fields this rewrites; the library
    // never makes such blocks, and a negative height cannot be allocated.
    if (!src.ok() || src.layout().core || height < 0 || width > 0x7FFFFFFFu)
        return nullptr;
    // The source's header, masks and table over new rows. An RLE source
    // keeps its compression code but gets room for uncompressed rows.
    const DibLayout& sl = src.layout();
    DibShape shape;
    shape.headerSize = sl.headerSize;
    shape.width = width;
    shape.height = height;
    shape.bitCount = sl.bitCount;
    shape.planes = sl.planes;
    shape.compression = sl.compression == BI_BITFIELDS ? BI_BITFIELDS : BI_RGB;
    shape.colours = num_palette_colors(src.bytes());
    DibLayout l;
    if (!compute_layout(shape, &l))
        return nullptr;
    const uint64_t headerPart = l.pixelOffset;
    const uint64_t total = l.total;
    // Zero-filled: operations that leave pixels unwritten (a rotation's
    // uncovered corners without background) must show the same bytes on every
    // platform, never what the allocator held before. The cost is one memset
    // (or none for fresh pages); callers that provably write every pixel
    // ask for no fill.
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | (zero ? GMEM_ZEROINIT : 0), static_cast<SIZE_T>(total));
    if (!h)
        return nullptr;
    BYTE* p = static_cast<BYTE*>(GlobalLock(h));
    if (!p) {
        GlobalFree(h);
        return nullptr;
    }
    std::memcpy(p, src.bytes(), static_cast<size_t>(headerPart));
    st32(p, bih::Width, width);
    st32(p, bih::Height, static_cast<uint32_t>(height));
    st32(p, bih::SizeImage, static_cast<uint32_t>(l.pixelBytes));
    if (!zero)
        clear_row_tails(p + headerPart, l.stride, l.rows * l.planes, width, l.bitCount);
    GlobalUnlock(h);
    return h;
}

HGLOBAL copy_handle(HGLOBAL hMem)
{
    if (!hMem)
        return nullptr;
    const SIZE_T size = GlobalSize(hMem);
    const void* src = GlobalLock(hMem);
    if (!src)
        return nullptr;
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, size);
    void* dst = h ? GlobalLock(h) : nullptr;
    if (!dst) {
        if (h)
            GlobalFree(h);
        GlobalUnlock(hMem);
        return nullptr;
    }
    std::memcpy(dst, src, size);
    GlobalUnlock(h);
    GlobalUnlock(hMem);
    return h;
}

}  // namespace kelm
