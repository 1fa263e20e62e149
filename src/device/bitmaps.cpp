// Packed DIBs to and from device bitmaps, drawing both into device contexts,
// palettes from colour tables, and screen capture. The pixel work is GDI's;
// this code picks the calls, prepares headers, sizes memory and selects
// palettes, and gives back every DC, bitmap and palette it took on every path.
#include <vector>

#include "device/device.h"

namespace kelm {

namespace {

// The screen's DC for the span of one call, with a palette selected and
// realized in it when one is given; both undone on the way out.
class ScreenDc {
public:
    ScreenDc() : dc_(GetDC(nullptr)) {}
    ~ScreenDc()
    {
        if (oldPalette_)
            SelectPalette(dc_, oldPalette_, FALSE);
        if (dc_)
            ReleaseDC(nullptr, dc_);
    }
    ScreenDc(const ScreenDc&) = delete;
    ScreenDc& operator=(const ScreenDc&) = delete;

    HDC get() const { return dc_; }
    void select(HPALETTE palette)
    {
        HPALETTE old = SelectPalette(dc_, palette, FALSE);
        if (!oldPalette_)
            oldPalette_ = old;
        RealizePalette(dc_);
    }

private:
    HDC dc_;
    HPALETTE oldPalette_ = nullptr;
};

// The wait cursor while a conversion runs, the previous one back afterwards.
class WaitCursor {
public:
    WaitCursor() : previous_(SetCursor(LoadCursorA(nullptr, IDC_WAIT))) {}
    ~WaitCursor() { SetCursor(previous_); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    HCURSOR previous_;
};

// A 1-bit image becomes a monochrome bitmap without a palette, and with one
// only when its first two table entries are white and black in either order.
bool wants_monochrome(const BYTE* bi, const DibLayout& l, bool havePalette)
{
    if (l.bitCount != 1)
        return false;
    if (!havePalette)
        return true;
    const uint64_t entry = l.core ? 3 : 4;
    if (l.paletteBytes < 2 * entry)
        return false;
    const BYTE* table = bi + l.pixelOffset - l.paletteBytes;
    uint32_t first = 0, second = 0;
    std::memcpy(&first, table, entry);
    std::memcpy(&second, table + entry, entry);
    return (first == 0x00FFFFFF && second == 0) || (first == 0 && second == 0x00FFFFFF);
}

}  // namespace

HBITMAP bitmap_from_dib(HGLOBAL hDib, HPALETTE hPal)
{
    WaitCursor wait;
    if (!hDib)
        return nullptr;
    LockedDib dib(hDib);
    if (!dib.ok())
        return nullptr;
    BYTE* bi = dib.bytes();
    const DibLayout& l = dib.layout();
    PlanesGuard planes(bi, l.core);
    ScreenDc screen;
    if (!screen.get())
        return nullptr;
    if (hPal)
        screen.select(hPal);
    const BYTE* bits = bi + l.pixelOffset;
    const auto* info = reinterpret_cast<const BITMAPINFO*>(bi);
    HBITMAP bitmap;
    if (!wants_monochrome(bi, l, hPal != nullptr)) {
        bitmap = CreateDIBitmap(screen.get(), reinterpret_cast<const BITMAPINFOHEADER*>(bi), CBM_INIT, bits, info,
                                DIB_RGB_COLORS);
    } else {
        // Rows as the picture's height: a top-down image makes the same
        // bitmap as its bottom-up twin instead of none.
        bitmap = CreateBitmap(static_cast<int>(l.width), static_cast<int>(l.rows), 1, 1, nullptr);
        if (bitmap)
            SetDIBits(screen.get(), bitmap, 0, static_cast<UINT>(l.rows), bits, info, DIB_RGB_COLORS);
    }
    if (bitmap && !l.core) {
        SetBitmapDimensionEx(bitmap, MulDiv(static_cast<int>(l.width), 10000, static_cast<int32_t>(ld32(bi, bih::XPels))),
                             MulDiv(static_cast<int>(l.height), 10000, static_cast<int32_t>(ld32(bi, bih::YPels))),
                             nullptr);
    }
    return bitmap;
}

HGLOBAL dib_from_bitmap(HBITMAP hBitmap, DWORD compression, UINT bitCount, HPALETTE hPal)
{
    if (!hBitmap)
        return nullptr;
    // Only these codings have a layout this conversion can size: bit fields
    // would need room for masks that the block never reserves.
    if (compression != BI_RGB && compression != BI_RLE8 && compression != BI_RLE4)
        return nullptr;
    if (!hPal)
        hPal = static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE));
    BITMAP bm{};
    if (!GetObjectA(hBitmap, sizeof bm, &bm) || bm.bmWidth <= 0 || bm.bmHeight <= 0)
        return nullptr;
    WORD bits = static_cast<WORD>(bitCount & 0xFFFF);
    if (bits == 0)
        bits = static_cast<WORD>(bm.bmPlanes * bm.bmBitsPixel);

    BITMAPINFOHEADER bi{};
    bi.biSize = sizeof(BITMAPINFOHEADER);
    bi.biWidth = bm.bmWidth;
    bi.biHeight = bm.bmHeight;
    bi.biPlanes = 1;
    bi.biBitCount = bits;
    bi.biCompression = compression;
    SIZE dim{};
    if (GetBitmapDimensionEx(hBitmap, &dim) && dim.cx && dim.cy) {
        bi.biXPelsPerMeter = MulDiv(bi.biWidth, 10000, dim.cx);
        bi.biYPelsPerMeter = MulDiv(bi.biHeight, 10000, dim.cy);
    }

    ScreenDc screen;
    if (!screen.get())
        return nullptr;
    screen.select(hPal);

    const UINT tableBytes = palette_size(&bi);
    HGLOBAL block = GlobalAlloc(GHND, sizeof bi + tableBytes);
    if (!block)
        return nullptr;
    auto fail = [&]() -> HGLOBAL {
        GlobalUnlock(block);
        GlobalFree(block);
        return nullptr;
    };
    auto* p = static_cast<BYTE*>(GlobalLock(block));
    if (!p) {
        GlobalFree(block);
        return nullptr;
    }
    std::memcpy(p, &bi, sizeof bi);
    GetDIBits(screen.get(), hBitmap, 0, static_cast<UINT>(bi.biHeight), nullptr, reinterpret_cast<BITMAPINFO*>(p),
              DIB_RGB_COLORS);
    std::memcpy(&bi, p, sizeof bi);

    if (bi.biCompression == BI_RGB || bi.biSizeImage == 0) {
        DibShape shape;
        shape.width = bi.biWidth;
        shape.height = bi.biHeight;
        shape.bitCount = bi.biBitCount;
        DibLayout l{};
        if (!compute_layout(shape, &l))
            return fail();
        uint64_t size = l.planeBytes;
        if (bi.biCompression != BI_RGB)
            size = size * 3 / 2;  // room for compressed data that outgrows the rows
        if (size > kMaxBlockSize)
            return fail();
        bi.biSizeImage = static_cast<DWORD>(size);
    }
    const uint64_t total = uint64_t{sizeof bi} + palette_size(&bi) + bi.biSizeImage;
    if (total > kMaxBlockSize)
        return fail();
    GlobalUnlock(block);
    HGLOBAL grown = GlobalReAlloc(block, static_cast<SIZE_T>(total), GMEM_MOVEABLE | GMEM_ZEROINIT);
    if (!grown) {
        GlobalFree(block);
        return nullptr;
    }
    block = grown;
    p = static_cast<BYTE*>(GlobalLock(block));
    if (!p) {
        GlobalFree(block);
        return nullptr;
    }
    std::memcpy(p, &bi, sizeof bi);
    const int lines = GetDIBits(screen.get(), hBitmap, 0, static_cast<UINT>(bi.biHeight), p + sizeof bi + palette_size(p),
                                reinterpret_cast<BITMAPINFO*>(p), DIB_RGB_COLORS);
    if (lines == 0)
        return fail();
    GlobalUnlock(block);
    return block;
}

BOOL draw_bitmap(HDC hdc, int x, int y, HBITMAP hBitmap, DWORD rop)
{
    if (!hdc || !hBitmap)
        return 0;
    HDC memory = CreateCompatibleDC(hdc);
    if (!memory)
        return 0;
    BITMAP bm{};
    GetObjectA(hBitmap, sizeof bm, &bm);
    HGDIOBJ previous = SelectObject(memory, hBitmap);
    const BOOL result = BitBlt(hdc, x, y, bm.bmWidth, bm.bmHeight, memory, 0, 0, rop);
    // Deselected before the DC goes, so that the caller can delete the
    // bitmap at once.
    if (previous)
        SelectObject(memory, previous);
    DeleteDC(memory);
    return result;
}

BOOL dib_blt(HDC hdc, int xDest, int yDest, int width, int height, HGLOBAL hDib, int xSrc, int ySrc, DWORD rop)
{
    if (!hDib)
        return PatBlt(hdc, xDest, yDest, width, height, rop);
    LockedDib dib(hDib);
    if (!dib.ok())
        return 0;
    BYTE* bi = dib.bytes();
    const DibLayout& l = dib.layout();
    PlanesGuard planes(bi, l.core);
    SetDIBitsToDevice(hdc, xDest, yDest, static_cast<DWORD>(width), static_cast<DWORD>(height), xSrc, ySrc, 0,
                      static_cast<UINT>(l.rows), bi + l.pixelOffset, reinterpret_cast<const BITMAPINFO*>(bi),
                      DIB_RGB_COLORS);
    return 1;
}

HPALETTE create_bi_palette(const void* lpbi)
{
    if (!lpbi)
        return nullptr;
    const UINT n = num_palette_colors(lpbi) & 0xFFFF;
    const uint32_t size = ld32(lpbi, 0);
    const bool core = size == kCoreHeaderSize;
    const UINT bitCount = core ? ld16(lpbi, bch::BitCount) : ld16(lpbi, bih::BitCount);
    if (n == 0 && bitCount < 9)
        return nullptr;
    const UINT count = n ? n : 256;
    try {
        std::vector<BYTE> scratch(offsetof(LOGPALETTE, palPalEntry) + count * sizeof(PALETTEENTRY));
        auto* lp = reinterpret_cast<LOGPALETTE*>(scratch.data());
        lp->palVersion = 0x300;
        lp->palNumEntries = static_cast<WORD>(count);
        PALETTEENTRY* e = lp->palPalEntry;
        if (n) {
            // A core header's table holds 3-byte entries; the others 4-byte
            // entries after the masks of a bit-field image.
            const uint32_t entry = core ? 3 : 4;
            const uint32_t offset =
                size + (!core && ld32(lpbi, bih::Compression) == BI_BITFIELDS ? kMaskBytes : 0);
            const BYTE* table = static_cast<const BYTE*>(lpbi) + offset;
            for (UINT i = 0; i < n; ++i) {
                const BYTE* q = table + i * entry;
                e[i] = PALETTEENTRY{q[2], q[1], q[0], 0};
            }
        } else {
            // 8 reds x 8 greens x 4 blues, red varying fastest.
            for (UINT i = 0; i < 256; ++i)
                e[i] = PALETTEENTRY{static_cast<BYTE>(32 * (i % 8)), static_cast<BYTE>(32 * ((i / 8) % 8)),
                                    static_cast<BYTE>(64 * (i / 64)), 0};
        }
        return CreatePalette(lp);
    } catch (...) {
        return nullptr;
    }
}

HPALETTE create_dib_palette(HGLOBAL hDib)
{
    LockedDib dib(hDib);
    if (!dib.ok())
        return nullptr;
    return create_bi_palette(dib.bytes());
}

HGLOBAL dib_screen_shot(HWND hWnd, const RECT* rect)
{
    ScreenDc screen;
    if (!screen.get())
        return nullptr;
    RECT window{};
    if (!GetWindowRect(hWnd ? hWnd : GetDesktopWindow(), &window))
        return nullptr;
    RECT area = window;
    if (rect) {
        area.left = window.left + rect->left;
        area.top = window.top + rect->top;
        area.right = window.left + rect->right;
        area.bottom = window.top + rect->bottom;
    }
    if (IsRectEmpty(&area))
        return nullptr;

    HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    if (!display)
        return nullptr;
    HDC memory = CreateCompatibleDC(display);
    if (!memory) {
        DeleteDC(display);
        return nullptr;
    }
    const int screenWidth = GetDeviceCaps(display, HORZRES);
    const int screenHeight = GetDeviceCaps(display, VERTRES);
    const int left = area.left < 0 ? 0 : area.left;
    const int top = area.top < 0 ? 0 : area.top;
    const int width = (area.right < screenWidth ? area.right : screenWidth) - left;
    const int height = (area.bottom < screenHeight ? area.bottom : screenHeight) - top;
    // A rectangle wholly off the screen captures nothing rather than the
    // 1 x 1 placeholder a zero-sized compatible bitmap would be.
    HBITMAP captured = nullptr;
    if (width > 0 && height > 0)
        captured = CreateCompatibleBitmap(display, width, height);
    if (captured) {
        HGDIOBJ previous = SelectObject(memory, captured);
        BitBlt(memory, 0, 0, width, height, display, left, top, SRCCOPY);
        SelectObject(memory, previous);
    }
    DeleteDC(memory);
    DeleteDC(display);
    if (!captured)
        return nullptr;

    HGLOBAL result = nullptr;
    try {
        std::vector<BYTE> scratch(offsetof(LOGPALETTE, palPalEntry) + 256 * sizeof(PALETTEENTRY));
        auto* lp = reinterpret_cast<LOGPALETTE*>(scratch.data());
        lp->palVersion = 0x300;
        lp->palNumEntries = static_cast<WORD>(GetSystemPaletteEntries(screen.get(), 0, 256, lp->palPalEntry));
        HPALETTE palette = CreatePalette(lp);
        result = dib_from_bitmap(captured, BI_RGB, 0, palette);
        if (palette)
            DeleteObject(palette);
    } catch (...) {
        result = nullptr;
    }
    DeleteObject(captured);
    return result;
}

}  // namespace kelm
