// Transfers between device-independent bitmaps and the Linux GDI's bitmaps
// and devices: reading a DIB's pixels as colours, writing colours back as
// DIB rows with a colour table, and the stretching and unstretched
// transfers to a device.
#include <algorithm>
#include <cstring>

#include "platform/linux/gdi_objects.h"
#include "platform/linux/metafile_dc.h"

namespace kelm::gdi {

namespace {

uint32_t rd32(const void* p, size_t off)
{
    uint32_t v;
    std::memcpy(&v, static_cast<const BYTE*>(p) + off, 4);
    return v;
}
uint16_t rd16(const void* p, size_t off)
{
    uint16_t v;
    std::memcpy(&v, static_cast<const BYTE*>(p) + off, 2);
    return v;
}

// One channel of a bit-field pixel scaled to 8 bits, short fields repeating
// their bits downwards (5 bits: v << 3 | v >> 2).
struct Field {
    unsigned shift = 0, bits = 0;
    void set(uint32_t mask)
    {
        shift = bits = 0;
        if (!mask)
            return;
        while (!(mask & 1)) {
            mask >>= 1;
            ++shift;
        }
        while (mask & 1) {
            mask >>= 1;
            ++bits;
        }
    }
    unsigned take(uint32_t v) const
    {
        if (!bits)
            return 0;
        uint32_t x = (v >> shift) & ((bits >= 32) ? 0xFFFFFFFFu : ((1u << bits) - 1));
        if (bits >= 8)
            return x >> (bits - 8);
        unsigned out = 0;
        int have = 0;
        while (have < 8) {
            out = (out << bits) | x;
            have += static_cast<int>(bits);
        }
        return out >> (have - 8);
    }
};

// A DIB as GDI reads it: the header (info or core), its colour table or bit
// fields, and rows addressed in storage order.
struct DibReader {
    int width = 0, rows = 0;
    bool topDown = false;
    int bpp = 0;
    size_t stride = 0;
    const BYTE* bits = nullptr;
    COLORREF table[256] = {};
    int tableCount = 0;
    bool fields = false;
    Field r, g, b;

    bool init(const BITMAPINFO* bmi, const void* pixels, UINT usage)
    {
        if (!bmi || usage != DIB_RGB_COLORS)
            return false;
        const uint32_t size = rd32(bmi, 0);
        const BYTE* colours;
        bool triples = false;
        uint32_t compression = BI_RGB, clrUsed = 0;
        long long h;
        if (size == 12) {
            width = rd16(bmi, 4);
            h = rd16(bmi, 6);
            if (rd16(bmi, 8) != 1)
                return false;
            bpp = rd16(bmi, 10);
            colours = reinterpret_cast<const BYTE*>(bmi) + 12;
            triples = true;
        } else if (size >= 40) {
            width = static_cast<int32_t>(rd32(bmi, 4));
            h = static_cast<int32_t>(rd32(bmi, 8));
            if (rd16(bmi, 12) != 1)
                return false;  // GDI takes single-plane DIBs only
            bpp = rd16(bmi, 14);
            compression = rd32(bmi, 16);
            clrUsed = rd32(bmi, 32);
            colours = reinterpret_cast<const BYTE*>(bmi) + size;
            if (compression == BI_BITFIELDS) {
                if (bpp != 16 && bpp != 32)
                    return false;
                const BYTE* masks = size >= 52 ? reinterpret_cast<const BYTE*>(bmi) + 40 : colours;
                r.set(rd32(masks, 0));
                g.set(rd32(masks, 4));
                b.set(rd32(masks, 8));
                fields = true;
                if (size < 52)
                    colours += 12;
            } else if (compression != BI_RGB) {
                return false;  // RLE and other codings are not read here
            }
        } else {
            return false;
        }
        if (width <= 0 || h == 0 || h == INT32_MIN)
            return false;
        if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
            return false;
        topDown = h < 0;
        rows = static_cast<int>(h < 0 ? -h : h);
        stride = ((static_cast<size_t>(width) * bpp + 31) / 32) * 4;
        bits = static_cast<const BYTE*>(pixels);
        if (!bits)
            return false;
        if (bpp <= 8) {
            const int max = 1 << bpp;
            tableCount = clrUsed && static_cast<int>(std::min<uint32_t>(clrUsed, 256)) < max ? static_cast<int>(clrUsed) : max;
            const size_t entry = triples ? 3 : 4;
            for (int i = 0; i < tableCount; ++i) {
                const BYTE* e = colours + i * entry;
                table[i] = RGB(e[2], e[1], e[0]);
            }
        } else if (!fields) {
            if (bpp == 16) {
                r.set(0x7C00);
                g.set(0x03E0);
                b.set(0x001F);
            } else {
                r.set(0xFF0000);
                g.set(0x00FF00);
                b.set(0x0000FF);
            }
        }
        return true;
    }

    // Colour of pixel x in stored row `row` (counted from the first row in
    // memory).
    COLORREF at(int x, int row) const
    {
        const BYTE* p = bits + static_cast<size_t>(row) * stride;
        unsigned index;
        switch (bpp) {
        case 1:
            index = (p[x >> 3] >> (7 - (x & 7))) & 1;
            break;
        case 4:
            index = (p[x >> 1] >> ((x & 1) ? 0 : 4)) & 15;
            break;
        case 8:
            index = p[x];
            break;
        case 24:
            return RGB(p[x * 3 + 2], p[x * 3 + 1], p[x * 3]);
        default: {
            const uint32_t v = bpp == 16 ? rd16(p, x * 2u) : rd32(p, x * 4u);
            return RGB(r.take(v), g.take(v), b.take(v));
        }
        }
        return static_cast<int>(index) < tableCount ? table[index] : 0;
    }

    // Stored row of the visual row v (0 = top line of the picture).
    int stored_row(int v) const { return topDown ? v : rows - 1 - v; }
};

const RGBQUAD kVga16[16] = {
    {0x00, 0x00, 0x00, 0}, {0x00, 0x00, 0x80, 0}, {0x00, 0x80, 0x00, 0}, {0x00, 0x80, 0x80, 0},
    {0x80, 0x00, 0x00, 0}, {0x80, 0x00, 0x80, 0}, {0x80, 0x80, 0x00, 0}, {0x80, 0x80, 0x80, 0},
    {0xC0, 0xC0, 0xC0, 0}, {0x00, 0x00, 0xFF, 0}, {0x00, 0xFF, 0x00, 0}, {0x00, 0xFF, 0xFF, 0},
    {0xFF, 0x00, 0x00, 0}, {0xFF, 0x00, 0xFF, 0}, {0xFF, 0xFF, 0x00, 0}, {0xFF, 0xFF, 0xFF, 0},
};

RGBQUAD quad(const PALETTEENTRY& e)
{
    return RGBQUAD{e.peBlue, e.peGreen, e.peRed, 0};
}

// The colour table GetDIBits writes for `bpp` bits. The display is not
// palette-based, so the DC's palette plays no part: every depth has its
// default table (black and white; the 16 VGA colours; the 20 static colours
// around a 3-3-2 cube).
void fill_table(int bpp, RGBQUAD* out)
{
    const int n = 1 << bpp;
    std::fill(out, out + n, RGBQUAD{0, 0, 0, 0});
    {
        const auto& e = state().defaultPalette.entries;
        if (bpp == 1) {
            out[0] = RGBQUAD{0, 0, 0, 0};
            out[1] = RGBQUAD{0xFF, 0xFF, 0xFF, 0};
        } else if (bpp == 4) {
            std::copy(std::begin(kVga16), std::end(kVga16), out);
        } else {
            for (int i = 0; i < 10; ++i) {
                out[i] = quad(e[i]);
                out[246 + i] = quad(e[10 + i]);
            }
            for (int i = 10; i < 246; ++i)
                out[i] = RGBQUAD{static_cast<BYTE>(i & 0xC0), static_cast<BYTE>((i & 0x38) << 2),
                                 static_cast<BYTE>((i & 0x07) << 5), 0};
        }
    }
}

unsigned nearest(const RGBQUAD* table, int n, COLORREF c)
{
    unsigned best = 0;
    long bestDist = -1;
    for (int i = 0; i < n; ++i) {
        const long dr = long(table[i].rgbRed) - GetRValue(c), dg = long(table[i].rgbGreen) - GetGValue(c),
                   db = long(table[i].rgbBlue) - GetBValue(c);
        const long d = dr * dr + dg * dg + db * db;
        if (bestDist < 0 || d < bestDist) {
            bestDist = d;
            best = static_cast<unsigned>(i);
            if (d == 0)
                break;
        }
    }
    return best;
}

void store_pixel(BYTE* row, int x, int bpp, const RGBQUAD* table, COLORREF c)
{
    switch (bpp) {
    case 1: {
        const unsigned i = nearest(table, 2, c);
        row[x >> 3] = static_cast<BYTE>((row[x >> 3] & ~(0x80 >> (x & 7))) | (i << (7 - (x & 7))));
        break;
    }
    case 4: {
        const unsigned i = nearest(table, 16, c);
        row[x >> 1] = static_cast<BYTE>((x & 1) ? ((row[x >> 1] & 0xF0) | i) : ((row[x >> 1] & 0x0F) | (i << 4)));
        break;
    }
    case 8:
        row[x] = static_cast<BYTE>(nearest(table, 256, c));
        break;
    case 16: {
        const uint16_t v = static_cast<uint16_t>(((GetRValue(c) >> 3) << 10) | ((GetGValue(c) >> 3) << 5) | (GetBValue(c) >> 3));
        std::memcpy(row + x * 2, &v, 2);
        break;
    }
    case 24:
        row[x * 3] = GetBValue(c);
        row[x * 3 + 1] = GetGValue(c);
        row[x * 3 + 2] = GetRValue(c);
        break;
    default:
        row[x * 4] = GetBValue(c);
        row[x * 4 + 1] = GetGValue(c);
        row[x * 4 + 2] = GetRValue(c);
        row[x * 4 + 3] = 0;
        break;
    }
}

// Writes DIB rows [start, start + lines) of `dib` into bitmap rows; returns
// the number of rows written.
int set_bits(Bitmap* bm, UINT start, UINT lines, const DibReader& dib)
{
    if (start >= static_cast<UINT>(dib.rows))
        return 0;
    const UINT end = std::min<UINT>(start + std::min<UINT>(lines, dib.rows), dib.rows);
    int written = 0;
    for (UINT row = start; row < end; ++row, ++written) {
        // Row `row` of the scan lines counts from the picture's bottom for
        // a bottom-up DIB and from its top for a top-down one; the bits
        // hold rows from `start` on.
        const int visual = dib.topDown ? static_cast<int>(row) : dib.rows - 1 - static_cast<int>(row);
        if (visual >= bm->height)
            continue;
        for (int x = 0; x < std::min(dib.width, bm->width); ++x)
            put(bm, x, visual, dib.at(x, static_cast<int>(row - start)));
    }
    return written;
}

}  // namespace

}  // namespace kelm::gdi

using namespace kelm::gdi;

#define GDI_LOCK                   \
    auto& s = state();             \
    std::lock_guard<std::recursive_mutex> lock(s.mutex)

extern "C" {

KELM3_API int WINAPI SetDIBits(HDC hdc, HBITMAP hbm, UINT start, UINT cLines, const void* lpBits,
                               const BITMAPINFO* lpbmi, UINT ColorUse)
{
    GDI_LOCK;
    (void)hdc;
    Bitmap* bm = find_bitmap(hbm);
    DibReader dib;
    if (!bm || bm->stock || !dib.init(lpbmi, lpBits, ColorUse))
        return 0;
    return set_bits(bm, start, cLines, dib);
}

KELM3_API HBITMAP WINAPI CreateDIBitmap(HDC hdc, const BITMAPINFOHEADER* pbmih, DWORD flInit, const void* pjBits,
                                        const BITMAPINFO* pbmi, UINT iUsage)
{
    GDI_LOCK;
    if (!pbmih)
        return nullptr;
    long long w, h;
    if (pbmih->biSize == 12) {
        w = rd16(pbmih, 4);
        h = rd16(pbmih, 6);
    } else if (pbmih->biSize >= 40) {
        w = pbmih->biWidth;
        h = pbmih->biHeight;
    } else {
        return nullptr;
    }
    if (w < 0 || w > INT32_MAX || h == INT32_MIN)
        return nullptr;
    HBITMAP hbm = CreateCompatibleBitmap(hdc, static_cast<int>(w), static_cast<int>(h < 0 ? -h : h));
    if (!hbm)
        return nullptr;
    if (flInit & CBM_INIT) {
        Bitmap* bm = find_bitmap(hbm);
        DibReader dib;
        if (bm && !bm->stock && dib.init(pbmi, pjBits, iUsage))
            set_bits(bm, 0, static_cast<UINT>(dib.rows), dib);
    }
    return hbm;
}

KELM3_API int WINAPI GetDIBits(HDC hdc, HBITMAP hbm, UINT start, UINT cLines, LPVOID lpvBits, LPBITMAPINFO lpbmi,
                               UINT usage)
{
    GDI_LOCK;
    Dc* dc = find_dc(hdc);
    Bitmap* bm = find_bitmap(hbm);
    if (!dc || !bm || !lpbmi || usage != DIB_RGB_COLORS || lpbmi->bmiHeader.biSize < 40)
        return 0;
    BITMAPINFOHEADER& bi = lpbmi->bmiHeader;
    if (bi.biBitCount == 0) {
        if (lpvBits)
            return 0;
        // Describe the bitmap: its own size and depth.
        bi.biWidth = bm->width;
        bi.biHeight = bm->height;
        bi.biPlanes = 1;
        bi.biBitCount = static_cast<WORD>(bm->bpp);
        bi.biCompression = BI_RGB;
        bi.biSizeImage = static_cast<DWORD>(((static_cast<size_t>(bm->width) * bm->bpp + 31) / 32) * 4 * bm->height);
        bi.biClrUsed = bi.biClrImportant = 0;
        return 1;
    }
    const int bpp = bi.biBitCount;
    if ((bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) || bi.biCompression != BI_RGB)
        return 0;
    if (bi.biWidth <= 0 || bi.biHeight == 0 || bi.biHeight == INT32_MIN)
        return 0;
    const int rows = bi.biHeight < 0 ? -bi.biHeight : bi.biHeight;
    const size_t stride = ((static_cast<size_t>(bi.biWidth) * bpp + 31) / 32) * 4;
    RGBQUAD table[256];
    if (bpp <= 8) {
        fill_table(bpp, table);
        std::memcpy(lpbmi->bmiColors, table, sizeof(RGBQUAD) << bpp);
    }
    bi.biPlanes = 1;
    bi.biSizeImage = static_cast<DWORD>(stride * rows);
    bi.biClrUsed = bi.biClrImportant = 0;
    if (!lpvBits)
        return rows;
    if (start >= static_cast<UINT>(rows))
        return 0;
    const UINT end = std::min<UINT>(start + std::min<UINT>(cLines, rows), rows);
    auto* out = static_cast<BYTE*>(lpvBits);
    for (UINT row = start; row < end; ++row) {
        BYTE* dst = out + (row - start) * stride;
        std::memset(dst, 0, stride);
        // Row `row` counts from the bottom of a bottom-up DIB; the bitmap's
        // picture is as high as the DIB says.
        const int visual = bi.biHeight < 0 ? static_cast<int>(row) : rows - 1 - static_cast<int>(row);
        if (visual >= bm->height)
            continue;
        for (int x = 0; x < std::min<int>(bi.biWidth, bm->width); ++x)
            store_pixel(dst, x, bpp, table, get(bm, x, visual));
    }
    return static_cast<int>(end - start);
}

KELM3_API int WINAPI SetDIBitsToDevice(HDC hdc, int xDest, int yDest, DWORD w, DWORD h, int xSrc, int ySrc,
                                       UINT StartScan, UINT cLines, const void* lpvBits, const BITMAPINFO* lpbmi,
                                       UINT ColorUse)
{
    GDI_LOCK;
    Dc* dc = find_dc(hdc);
    DibReader dib;
    if (!dc || !dib.init(lpbmi, lpvBits, ColorUse))
        return 0;
    const int lines = static_cast<int>(std::min<UINT>(cLines, dib.rows));
    Bitmap* d = target(dc);
    POINT origin{xDest, yDest};
    LPtoDP(hdc, &origin, 1);
    const long long dxo = origin.x, dyo = origin.y;
    if (!d)
        return lines;
    const long long wl = std::min<long long>(w, 1LL << 30), hl = std::min<long long>(h, 1LL << 30);
    for (long long j = 0; j < hl; ++j) {
        const long long dy = dyo + j;
        if (dy < 0 || dy >= d->height)
            continue;
        // Source scan line (counted from the first stored row) shown on
        // destination row j: a bottom-up source rectangle starts ySrc lines
        // above the picture's bottom, a top-down one ySrc lines below its top.
        const long long scan = dib.topDown ? ySrc + j : static_cast<long long>(ySrc) + hl - 1 - j;
        const long long inBits = scan - static_cast<long long>(StartScan);
        if (scan < 0 || scan >= dib.rows || inBits < 0 || inBits >= lines)
            continue;
        for (long long i = 0; i < wl; ++i) {
            const long long dx = dxo + i, sx = xSrc + i;
            if (dx < 0 || dx >= d->width || sx < 0 || sx >= dib.width)
                continue;
            put(d, static_cast<int>(dx), static_cast<int>(dy), dib.at(static_cast<int>(sx), static_cast<int>(inBits)));
        }
    }
    return lines;
}

KELM3_API int WINAPI StretchDIBits(HDC hdc, int xDest, int yDest, int DestWidth, int DestHeight, int xSrc, int ySrc,
                                   int SrcWidth, int SrcHeight, const void* lpBits, const BITMAPINFO* lpbmi,
                                   UINT iUsage, DWORD rop)
{
    if (kelm::meta::is_recording_dc(hdc))
        return kelm::meta::record_stretch_dib_bits(hdc, xDest, yDest, DestWidth, DestHeight, xSrc, ySrc, SrcWidth,
                                                   SrcHeight, lpBits, lpbmi, iUsage, rop);
    GDI_LOCK;
    Dc* dc = find_dc(hdc);
    DibReader dib;
    if (!dc || !dib.init(lpbmi, lpBits, iUsage))
        return 0;
    if (!DestWidth || !DestHeight || !SrcWidth || !SrcHeight)
        return 0;
    Bitmap* d = target(dc);
    if (!d)
        return dib.rows;
    POINT p{xDest, yDest};
    LPtoDP(hdc, &p, 1);
    // Each destination pixel takes the source pixel under its centre;
    // opposite signs of the two extents mirror the picture.
    const long long dw = DestWidth < 0 ? -static_cast<long long>(DestWidth) : DestWidth;
    const long long dh = DestHeight < 0 ? -static_cast<long long>(DestHeight) : DestHeight;
    const long long sw = SrcWidth < 0 ? -static_cast<long long>(SrcWidth) : SrcWidth;
    const long long sh = SrcHeight < 0 ? -static_cast<long long>(SrcHeight) : SrcHeight;
    const bool flipX = (DestWidth < 0) != (SrcWidth < 0);
    const bool flipY = (DestHeight < 0) != (SrcHeight < 0);
    const long long left = DestWidth < 0 ? p.x + DestWidth : p.x;
    const long long top = DestHeight < 0 ? p.y + DestHeight : p.y;
    const long long srcLeft = SrcWidth < 0 ? static_cast<long long>(xSrc) + SrcWidth : xSrc;
    const long long srcBottom = SrcHeight < 0 ? static_cast<long long>(ySrc) + SrcHeight : ySrc;
    // The source rectangle's top line as a visual row of the picture.
    const long long srcTop = dib.topDown ? srcBottom : dib.rows - srcBottom - sh;
    const long long rowStart = std::max<long long>(0, -top), rowEnd = std::min<long long>(dh, d->height - top);
    const long long colStart = std::max<long long>(0, -left), colEnd = std::min<long long>(dw, d->width - left);
    for (long long j = rowStart; j < rowEnd; ++j) {
        const long long jj = flipY ? dh - 1 - j : j;
        const long long sv = srcTop + (2 * jj + 1) * sh / (2 * dh);
        if (sv < 0 || sv >= dib.rows)
            continue;
        const int row = dib.stored_row(static_cast<int>(sv));
        for (long long i = colStart; i < colEnd; ++i) {
            const long long ii = flipX ? dw - 1 - i : i;
            const long long sx = srcLeft + (2 * ii + 1) * sw / (2 * dw);
            if (sx < 0 || sx >= dib.width)
                continue;
            const int x = static_cast<int>(left + i), y = static_cast<int>(top + j);
            put(d, x, y, rop3(rop, dc->brush->colour, dib.at(static_cast<int>(sx), row), get(d, x, y)));
        }
    }
    return dib.rows;
}

}  // extern "C"
