// Opening and closing of the pixel accessor. The routines test no bounds, so
// open first proves that all they can reach (header, masks, colour table, both
// planes) lies inside the block it keeps locked.
#include <algorithm>

#include "pixel/pixel.h"

namespace kelm {

namespace {

// Fills rd from the locked block p of `size` bytes; false when the layout is
// not one the accessor serves or does not fit the block.
bool open_locked(HGLOBAL hDib, BYTE* p, uint64_t size, TRDIB* rd)
{
    DibLayout l;
    if (!dib_layout(p, size, &l))
        return false;
    if (l.headerSize != kInfoHeaderSize && l.headerSize != kV4HeaderSize)
        return false;
    if (l.compression != BI_RGB && l.compression != BI_BITFIELDS)
        return false;
    // Every offset the routines compute is kept within 32 bits, like the
    // header fields it comes from.
    if (l.total > 0xFFFFFFFFu)
        return false;

    std::memcpy(&rd->bmi, p, sizeof rd->bmi);
    complete_info_header(&rd->bmi, p, l);
    rd->hDib = hDib;
    rd->lpbmi = p;
    const uint64_t tableOffset = l.headerSize + l.maskBytes;
    rd->lppal = reinterpret_cast<RGBQUAD*>(p + tableOffset);
    rd->PaletteEntries = num_palette_colors(p);
    rd->hpbits = p + l.pixelOffset;
    rd->BitCount = l.bitCount;
    rd->BytesPerPixel = l.bitCount / 8;
    rd->WidthBytes = static_cast<DWORD>(l.stride);
    rd->PaletteType = palette_type(p);
    rd->PaletteReadable = static_cast<UINT>(std::min<uint64_t>(256, (size - tableOffset) / sizeof(RGBQUAD)));
    rd->PaletteSearchable = rd->PaletteEntries;
    if (l.bitCount <= 8)
        rd->PaletteSearchable = std::min<UINT>(rd->PaletteEntries, 1u << l.bitCount);

    if (rd->bmi.biPlanes == 2) {
        // The second plane starts half the reported image size on. That size
        // comes from the header, so it is checked against the block like the
        // first plane was.
        rd->dwOffsetLSB = rd->bmi.biSizeImage / 2;
        if (l.pixelOffset + rd->dwOffsetLSB + l.planeBytes > size)
            return false;
    }

    const PixelFormat format = pixel_format_of(rd);
    if (format == kFmtNone)
        return false;
    install_routines(rd, format);
    return true;
}

}  // namespace

bool trdib_open(HGLOBAL hDib, TRDIB* rd)
{
    if (!rd)
        return false;
    *rd = TRDIB{};
    if (!hDib)
        return false;
    BYTE* p = static_cast<BYTE*>(GlobalLock(hDib));
    if (!p)
        return false;
    if (!open_locked(hDib, p, GlobalSize(hDib), rd)) {
        GlobalUnlock(hDib);
        *rd = TRDIB{};
        return false;
    }
    return true;
}

void trdib_close(TRDIB* rd)
{
    if (!rd)
        return;
    if (rd->hPaletteInversionCache) {
        GlobalFree(rd->hPaletteInversionCache);
        rd->hPaletteInversionCache = nullptr;
    }
    if (rd->hDib) {
        GlobalUnlock(rd->hDib);
        rd->hDib = nullptr;
    }
}

}  // namespace kelm
