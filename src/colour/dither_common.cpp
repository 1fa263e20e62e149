// The source and result handling of the dithers (see dither.h).
#include "colour/dither.h"

namespace kelm {

bool open_dither_source(const void* lpbi, uint64_t depths, DitherSource* src)
{
    DibLayout l;
    uint64_t available = 0;
    if (!pointer_layout(lpbi, &l, &available))
        return false;
    if (l.core || l.compressed || l.height < 1 || l.width < 1 || l.bitCount > 32 || !((depths >> l.bitCount) & 1u))
        return false;
    const BYTE* p = static_cast<const BYTE*>(lpbi);
    src->header = p;
    src->pixels = p + l.pixelOffset;
    src->table = reinterpret_cast<const RGBQUAD*>(p + l.headerSize + l.maskBytes);
    src->tableEntries = static_cast<uint32_t>(l.paletteBytes / 4);
    src->width = static_cast<uint32_t>(l.width);
    src->rows = static_cast<uint32_t>(l.rows);
    src->bitCount = l.bitCount;
    src->stride = l.stride;
    return true;
}

void read_bgr_row(const DitherSource& src, uint32_t y, BYTE* bgr)
{
    const BYTE* row = src.pixels + y * src.stride;
    const uint32_t w = src.width;
    switch (src.bitCount) {
    case 4:
    case 8: {
        BYTE lut[256][3] = {};
        const uint32_t n = src.tableEntries < 256 ? src.tableEntries : 256;
        for (uint32_t i = 0; i < n; ++i) {
            lut[i][0] = src.table[i].rgbBlue;
            lut[i][1] = src.table[i].rgbGreen;
            lut[i][2] = src.table[i].rgbRed;
        }
        for (uint32_t x = 0; x < w; ++x, bgr += 3) {
            const unsigned i = src.bitCount == 8 ? row[x] : (x & 1) ? row[x >> 1] & 15u : row[x >> 1] >> 4;
            bgr[0] = lut[i][0];
            bgr[1] = lut[i][1];
            bgr[2] = lut[i][2];
        }
        break;
    }
    case 16:
        for (uint32_t x = 0; x < w; ++x, bgr += 3) {
            const unsigned v = static_cast<unsigned>(row[2 * x] | row[2 * x + 1] << 8);
            bgr[0] = static_cast<BYTE>((v & 31) << 3);
            bgr[1] = static_cast<BYTE>(((v >> 5) & 31) << 3);
            bgr[2] = static_cast<BYTE>(((v >> 10) & 31) << 3);
        }
        break;
    case 24:
        std::memcpy(bgr, row, static_cast<size_t>(w) * 3);
        break;
    default:  // 32
        for (uint32_t x = 0; x < w; ++x, bgr += 3, row += 4) {
            bgr[0] = row[0];
            bgr[1] = row[1];
            bgr[2] = row[2];
        }
        break;
    }
}

HGLOBAL make_dither_result(const DitherSource& src, uint32_t bits, uint32_t clrImportant, DibLayout* layout)
{
    const uint32_t entries = bits == 1 ? 2 : bits == 4 ? 16 : 256;
    DibShape shape;
    shape.width = src.width;
    shape.height = src.rows;
    shape.bitCount = bits;
    shape.colours = entries;
    HGLOBAL h = alloc_image(shape, layout);
    if (!h)
        return nullptr;
    BYTE* p = static_cast<BYTE*>(GlobalLock(h));
    if (!p) {
        GlobalFree(h);
        return nullptr;
    }
    std::memcpy(p, src.header, kInfoHeaderSize);
    BITMAPINFOHEADER bi;
    std::memcpy(&bi, p, sizeof bi);
    bi.biSize = kInfoHeaderSize;
    bi.biPlanes = 1;
    bi.biBitCount = static_cast<WORD>(bits);
    bi.biCompression = BI_RGB;
    bi.biSizeImage = static_cast<DWORD>(layout->planeBytes);
    bi.biClrUsed = entries;
    bi.biClrImportant = clrImportant;
    std::memcpy(p, &bi, sizeof bi);
    GlobalUnlock(h);
    return h;
}

}  // namespace kelm
