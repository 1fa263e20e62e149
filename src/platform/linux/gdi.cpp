// Device contexts, bitmaps, palettes, brushes, pens, raster operations and
// line drawing for the Linux build, with the Win32 results the device
// functions and their callers rely on.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <strings.h>

#include "platform/linux/gdi32.h"
#include "platform/linux/gdi_objects.h"
#include "platform/linux/metafile_dc.h"

namespace kelm::gdi {

namespace {

// The 20 static colours of the default palette.
const PALETTEENTRY kDefaultPalette[20] = {
    {0x00, 0x00, 0x00, 0}, {0x80, 0x00, 0x00, 0}, {0x00, 0x80, 0x00, 0}, {0x80, 0x80, 0x00, 0},
    {0x00, 0x00, 0x80, 0}, {0x80, 0x00, 0x80, 0}, {0x00, 0x80, 0x80, 0}, {0xC0, 0xC0, 0xC0, 0},
    {0xC0, 0xDC, 0xC0, 0}, {0xA6, 0xCA, 0xF0, 0}, {0xFF, 0xFB, 0xF0, 0}, {0xA0, 0xA0, 0xA4, 0},
    {0x80, 0x80, 0x80, 0}, {0xFF, 0x00, 0x00, 0}, {0x00, 0xFF, 0x00, 0}, {0xFF, 0xFF, 0x00, 0},
    {0x00, 0x00, 0xFF, 0}, {0xFF, 0x00, 0xFF, 0}, {0x00, 0xFF, 0xFF, 0}, {0xFF, 0xFF, 0xFF, 0},
};

State* make_state()
{
    auto* s = new State;
    s->screen.stock = true;
    s->screen.width = KELM3_SCREEN_WIDTH;
    s->screen.height = KELM3_SCREEN_HEIGHT;
    s->screen.bpp = 32;
    s->screen.px.assign(static_cast<size_t>(KELM3_SCREEN_WIDTH) * KELM3_SCREEN_HEIGHT, 0);
    s->defaultBitmap.stock = true;
    s->defaultPalette.stock = true;
    s->defaultPalette.entries.assign(std::begin(kDefaultPalette), std::end(kDefaultPalette));
    const COLORREF brushColours[6] = {0xFFFFFF, 0xC0C0C0, 0x808080, 0x404040, 0x000000, 0};
    for (int i = 0; i < 6; ++i) {
        s->stockBrush[i].stock = true;
        s->stockBrush[i].colour = brushColours[i];
    }
    s->stockBrush[NULL_BRUSH].hollow = true;
    s->whitePen.stock = s->blackPen.stock = s->nullPen.stock = true;
    s->whitePen.colour = 0xFFFFFF;
    s->nullPen.hollow = true;
    Object* stock[] = {&s->screen, &s->defaultBitmap, &s->defaultPalette, &s->whitePen, &s->blackPen, &s->nullPen};
    for (Object* o : stock)
        s->objects.insert(o);
    for (auto& b : s->stockBrush)
        s->objects.insert(&b);
    return s;
}

// Window and cursor handles are addresses of these: distinct, never
// dereferenced.
char g_desktop;
char g_cursors[2];

void deselect(Object* o)
{
    if (o && o->selections > 0)
        --o->selections;
}

Dc* new_dc(DcKind kind)
{
    auto& s = state();
    auto* dc = new Dc;
    dc->dcKind = kind;
    dc->bitmap = kind == DcKind::Memory ? &s.defaultBitmap : nullptr;
    dc->palette = &s.defaultPalette;
    dc->brush = &s.stockBrush[WHITE_BRUSH];
    dc->pen = &s.blackPen;
    for (Object* o : {static_cast<Object*>(dc->bitmap), static_cast<Object*>(dc->palette),
                      static_cast<Object*>(dc->brush), static_cast<Object*>(dc->pen)})
        if (o)
            ++o->selections;
    return adopt(dc);
}

void to_device(const Dc* dc, int* x, int* y)
{
    *x = *x - dc->windowOrg.x + dc->viewportOrg.x;
    *y = *y - dc->windowOrg.y + dc->viewportOrg.y;
}

// Bresenham from (x0, y0) towards (x1, y1), the end point left out as GDI
// leaves out the last pixel of a line.
void draw_line(Bitmap* b, int x0, int y0, int x1, int y1, COLORREF c)
{
    const int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
    const int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    while (!(x0 == x1 && y0 == y1)) {
        if (x0 >= 0 && y0 >= 0 && x0 < b->width && y0 < b->height)
            put(b, x0, y0, c);
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
}

}  // namespace

State& state()
{
    static State* s = make_state();
    return *s;
}

void destroy(Object* obj)
{
    auto& s = state();
    s.objects.erase(obj);
    delete obj;
}

Bitmap* target(Dc* dc)
{
    switch (dc->dcKind) {
    case DcKind::Screen:
        return &state().screen;
    case DcKind::Memory:
        return dc->bitmap;
    case DcKind::Printer:
        return nullptr;
    }
    return nullptr;
}

COLORREF to_mono(COLORREF c)
{
    const unsigned sum = GetRValue(c) + GetGValue(c) + GetBValue(c);
    return sum >= 383 ? 0xFFFFFF : 0;
}

COLORREF rop3(DWORD rop, COLORREF p, COLORREF s, COLORREF d)
{
    const unsigned code = (rop >> 16) & 0xFF;
    COLORREF out = 0;
    for (unsigned m = 0; m < 8; ++m) {
        if (!(code & (1u << m)))
            continue;
        out |= ((m & 4) ? p : ~p) & ((m & 2) ? s : ~s) & ((m & 1) ? d : ~d);
    }
    return out & 0xFFFFFF;
}

}  // namespace kelm::gdi

using namespace kelm::gdi;

namespace kelm::testing {

std::size_t live_gdi_objects()
{
    auto& s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    std::size_t n = 0;
    for (Object* o : s.objects)
        n += o->stock ? 0 : 1;
    return n;
}

std::vector<POINT> last_polyline()
{
    auto& s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    return s.lastPolyline;
}

HCURSOR current_cursor()
{
    auto& s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    return s.cursor;
}

}  // namespace kelm::testing

#define GDI_LOCK                   \
    auto& s = state();             \
    std::lock_guard<std::recursive_mutex> lock(s.mutex)

extern "C" {

// ---------------------------------------------------------------------------
// Windows, rectangles, cursors.

KELM3_API HWND WINAPI GetDesktopWindow(void)
{
    return reinterpret_cast<HWND>(&g_desktop);
}

KELM3_API HDC WINAPI GetDC(HWND hWnd)
{
    if (hWnd && hWnd != GetDesktopWindow())
        return nullptr;
    GDI_LOCK;
    try {
        Dc* dc = new_dc(DcKind::Screen);
        dc->fromGetDC = true;
        return reinterpret_cast<HDC>(static_cast<Object*>(dc));
    } catch (...) {
        return nullptr;
    }
}

KELM3_API int WINAPI ReleaseDC(HWND, HDC hDC)
{
    GDI_LOCK;
    Dc* dc = find_dc(hDC);
    if (!dc || !dc->fromGetDC)
        return 0;
    for (Object* o : {static_cast<Object*>(dc->bitmap), static_cast<Object*>(dc->palette),
                      static_cast<Object*>(dc->brush), static_cast<Object*>(dc->pen)})
        deselect(o);
    destroy(dc);
    return 1;
}

KELM3_API BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect)
{
    if (hWnd != GetDesktopWindow() || !lpRect)
        return FALSE;
    *lpRect = RECT{0, 0, KELM3_SCREEN_WIDTH, KELM3_SCREEN_HEIGHT};
    return TRUE;
}

KELM3_API BOOL WINAPI SetRect(LPRECT lprc, int xLeft, int yTop, int xRight, int yBottom)
{
    if (!lprc)
        return FALSE;
    *lprc = RECT{xLeft, yTop, xRight, yBottom};
    return TRUE;
}

KELM3_API BOOL WINAPI IsRectEmpty(const RECT* lprc)
{
    return !lprc || lprc->right <= lprc->left || lprc->bottom <= lprc->top;
}

KELM3_API HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName)
{
    if (hInstance || !IS_INTRESOURCE(lpCursorName))
        return nullptr;
    if (lpCursorName == IDC_ARROW)
        return reinterpret_cast<HCURSOR>(&g_cursors[0]);
    if (lpCursorName == IDC_WAIT)
        return reinterpret_cast<HCURSOR>(&g_cursors[1]);
    return nullptr;
}

KELM3_API HCURSOR WINAPI SetCursor(HCURSOR hCursor)
{
    GDI_LOCK;
    HCURSOR old = s.cursor;
    s.cursor = hCursor;
    return old;
}

KELM3_API HCURSOR WINAPI GetCursor(void)
{
    GDI_LOCK;
    return s.cursor;
}

// ---------------------------------------------------------------------------
// Device contexts.

KELM3_API HDC WINAPI CreateDCA(LPCSTR driver, LPCSTR device, LPCSTR, const void*)
{
    GDI_LOCK;
    try {
        if (driver && strcasecmp(driver, "DISPLAY") == 0)
            return reinterpret_cast<HDC>(static_cast<Object*>(new_dc(DcKind::Screen)));
        if ((!driver || strcasecmp(driver, "WINSPOOL") == 0) && device && std::strcmp(device, KELM3_PS_PRINTER) == 0)
            return reinterpret_cast<HDC>(static_cast<Object*>(new_dc(DcKind::Printer)));
    } catch (...) {
    }
    return nullptr;
}

KELM3_API HDC WINAPI CreateCompatibleDC(HDC hdc)
{
    GDI_LOCK;
    if (hdc && !find_dc(hdc))
        return nullptr;
    try {
        return reinterpret_cast<HDC>(static_cast<Object*>(new_dc(DcKind::Memory)));
    } catch (...) {
        return nullptr;
    }
}

KELM3_API BOOL WINAPI DeleteDC(HDC hdc)
{
    GDI_LOCK;
    Dc* dc = find_dc(hdc);
    if (!dc)
        return FALSE;
    if (dc->out)
        printer_abort(dc);
    for (Object* o : {static_cast<Object*>(dc->bitmap), static_cast<Object*>(dc->palette),
                      static_cast<Object*>(dc->brush), static_cast<Object*>(dc->pen)})
        deselect(o);
    destroy(dc);
    return TRUE;
}

KELM3_API int WINAPI GetDeviceCaps(HDC hdc, int index)
{
    GDI_LOCK;
    Dc* dc = find_dc(hdc);
    if (!dc)
        return 0;
    const bool printer = dc->dcKind == DcKind::Printer;
    switch (index) {
    case TECHNOLOGY:
        return printer ? DT_RASPRINTER : DT_RASDISPLAY;
    case HORZRES:
        return printer ? 612 : KELM3_SCREEN_WIDTH;
    case VERTRES:
        return printer ? 792 : KELM3_SCREEN_HEIGHT;
    case HORZSIZE:
        return printer ? 216 : 271;
    case VERTSIZE:
        return printer ? 279 : 203;
    case LOGPIXELSX:
    case LOGPIXELSY:
        return printer ? 72 : 96;
    case BITSPIXEL:
        return printer ? 24 : 32;
    case PLANES:
        return 1;
    case NUMCOLORS:
        return -1;
    case SIZEPALETTE:
        return 0;
    case RASTERCAPS:
        return RC_BITBLT | RC_BITMAP64 | RC_DI_BITMAP | RC_DIBTODEV | RC_STRETCHBLT | RC_STRETCHDIB;
    default:
        return 0;
    }
}

KELM3_API HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h)
{
    if (kelm::meta::is_recording_dc(hdc))
        return kelm::meta::record_select(hdc, h);
    GDI_LOCK;
    Dc* dc = find_dc(hdc);
    auto* obj = static_cast<Object*>(h);
    if (!dc || !h || !s.objects.count(obj))
        return nullptr;
    Object** slot = nullptr;
    switch (obj->kind) {
    case Kind::Bitmap: {
        auto* b = static_cast<Bitmap*>(obj);
        // Only memory DCs hold bitmaps, one DC at a time, and only bitmaps
        // of the device's own formats.
        if (dc->dcKind != DcKind::Memory || (b->bpp != 1 && b->bpp != 32) ||
            (b->selections > 0 && dc->bitmap != b) || b == &s.screen)
            return nullptr;
        slot = reinterpret_cast<Object**>(&dc->bitmap);
        break;
    }
    case Kind::Brush:
        slot = reinterpret_cast<Object**>(&dc->brush);
        break;
    case Kind::Pen:
        slot = reinterpret_cast<Object**>(&dc->pen);
        break;
    default:
        return nullptr;  // palettes go through SelectPalette
    }
    Object* old = *slot;
    deselect(old);
    *slot = obj;
    ++obj->selections;
    return old;
}

KELM3_API HGDIOBJ WINAPI GetCurrentObject(HDC hdc, UINT type)
{
    GDI_LOCK;
    Dc* dc = find_dc(hdc);
    if (!dc)
        return nullptr;
    switch (type) {
    case OBJ_BITMAP:
        return static_cast<Object*>(dc->bitmap);
    case OBJ_PAL:
        return static_cast<Object*>(dc->palette);
    case OBJ_BRUSH:
        return static_cast<Object*>(dc->brush);
    case OBJ_PEN:
        return static_cast<Object*>(dc->pen);
    default:
        return nullptr;
    }
}

KELM3_API BOOL WINAPI DeleteObject(HGDIOBJ ho)
{
    if (kelm::meta::forget_object(ho))
        return TRUE;
    GDI_LOCK;
    auto* obj = static_cast<Object*>(ho);
    if (!ho || !s.objects.count(obj) || obj->kind == Kind::Dc)
        return FALSE;
    if (obj->stock)
        return TRUE;
    if (obj->selections > 0)
        return FALSE;  // still selected into a DC
    destroy(obj);
    return TRUE;
}

KELM3_API HGDIOBJ WINAPI GetStockObject(int i)
{
    GDI_LOCK;
    if (i >= WHITE_BRUSH && i <= NULL_BRUSH)
        return static_cast<Object*>(&s.stockBrush[i]);
    if (i == WHITE_PEN)
        return static_cast<Object*>(&s.whitePen);
    if (i == BLACK_PEN)
        return static_cast<Object*>(&s.blackPen);
    if (i == 8)  // NULL_PEN
        return static_cast<Object*>(&s.nullPen);
    if (i == DEFAULT_PALETTE)
        return static_cast<Object*>(&s.defaultPalette);
    return nullptr;
}

KELM3_API int WINAPI GetObjectA(HANDLE h, int c, LPVOID pv)
{
    GDI_LOCK;
    auto* obj = static_cast<Object*>(h);
    if (!h || !s.objects.count(obj))
        return 0;
    if (obj->kind == Kind::Bitmap) {
        if (!pv)
            return sizeof(BITMAP);
        if (c < static_cast<int>(sizeof(BITMAP)))
            return 0;
        auto* b = static_cast<Bitmap*>(obj);
        BITMAP bm{};
        bm.bmWidth = b->width;
        bm.bmHeight = b->height;
        bm.bmWidthBytes = ((b->width * b->bpp + 15) / 16) * 2;
        bm.bmPlanes = 1;
        bm.bmBitsPixel = static_cast<WORD>(b->bpp);
        std::memcpy(pv, &bm, sizeof bm);
        return sizeof(BITMAP);
    }
    if (obj->kind == Kind::Palette) {
        if (!pv)
            return sizeof(WORD);
        if (c < static_cast<int>(sizeof(WORD)))
            return 0;
        const WORD n = static_cast<WORD>(static_cast<Palette*>(obj)->entries.size());
        std::memcpy(pv, &n, sizeof n);
        return sizeof(WORD);
    }
    return 0;
}

KELM3_API DWORD WINAPI GetObjectType(HGDIOBJ h)
{
    GDI_LOCK;
    auto* obj = static_cast<Object*>(h);
    if (!h || !s.objects.count(obj))
        return 0;
    switch (obj->kind) {
    case Kind::Dc:
        return static_cast<Dc*>(obj)->dcKind == DcKind::Memory ? OBJ_MEMDC : OBJ_DC;
    case Kind::Bitmap:
        return OBJ_BITMAP;
    case Kind::Palette:
        return OBJ_PAL;
    case Kind::Brush:
        return OBJ_BRUSH;
    case Kind::Pen:
        return OBJ_PEN;
    }
    return 0;
}

KELM3_API BOOL WINAPI LPtoDP(HDC hdc, LPPOINT lppt, int c)
{
    GDI_LOCK;
    Dc* dc = find_dc(hdc);
    if (!dc || (c > 0 && !lppt))
        return FALSE;
    for (int i = 0; i < c; ++i) {
        int x = lppt[i].x, y = lppt[i].y;
        to_device(dc, &x, &y);
        lppt[i] = POINT{x, y};
    }
    return TRUE;
}

KELM3_API BOOL WINAPI SetViewportOrgEx(HDC hdc, int x, int y, LPPOINT lppt)
{
    GDI_LOCK;
    Dc* dc = find_dc(hdc);
    if (!dc)
        return FALSE;
    if (lppt)
        *lppt = dc->viewportOrg;
    dc->viewportOrg = POINT{x, y};
    return TRUE;
}

KELM3_API BOOL WINAPI SetWindowOrgEx(HDC hdc, int x, int y, LPPOINT lppt)
{
    if (kelm::meta::is_recording_dc(hdc))
        return kelm::meta::record_window_org(hdc, x, y, lppt);
    GDI_LOCK;
    Dc* dc = find_dc(hdc);
    if (!dc)
        return FALSE;
    if (lppt)
        *lppt = dc->windowOrg;
    dc->windowOrg = POINT{x, y};
    return TRUE;
}

// ---------------------------------------------------------------------------
// Bitmaps.

KELM3_API HBITMAP WINAPI CreateBitmap(int nWidth, int nHeight, UINT nPlanes, UINT nBitCount, const void* lpBits)
{
    GDI_LOCK;
    const UINT bpp = nPlanes * nBitCount;
    if (nWidth < 0 || nHeight < 0 || nPlanes > 32 || nBitCount > 32)
        return nullptr;
    if (nWidth == 0 || nHeight == 0)
        return reinterpret_cast<HBITMAP>(static_cast<Object*>(&s.defaultBitmap));
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        return nullptr;
    if (static_cast<uint64_t>(nWidth) * static_cast<uint64_t>(nHeight) > (1u << 28))
        return nullptr;
    try {
        auto* b = new Bitmap;
        b->width = nWidth;
        b->height = nHeight;
        b->bpp = static_cast<int>(bpp);
        b->px.assign(static_cast<size_t>(nWidth) * nHeight, 0);
        if (lpBits && (bpp == 1 || bpp == 32)) {
            // Device-dependent rows, top row first, padded to 16 bits.
            const auto* bytes = static_cast<const BYTE*>(lpBits);
            const size_t rowBytes = ((static_cast<size_t>(nWidth) * bpp + 15) / 16) * 2;
            for (int y = 0; y < nHeight; ++y)
                for (int x = 0; x < nWidth; ++x) {
                    const BYTE* row = bytes + y * rowBytes;
                    COLORREF c;
                    if (bpp == 1)
                        c = (row[x / 8] >> (7 - x % 8)) & 1 ? 0xFFFFFF : 0;
                    else
                        c = RGB(row[x * 4 + 2], row[x * 4 + 1], row[x * 4]);
                    put(b, x, y, c);
                }
        }
        return reinterpret_cast<HBITMAP>(static_cast<Object*>(adopt(b)));
    } catch (...) {
        return nullptr;
    }
}

KELM3_API HBITMAP WINAPI CreateCompatibleBitmap(HDC hdc, int cx, int cy)
{
    GDI_LOCK;
    Dc* dc = find_dc(hdc);
    if (!dc || cx < 0 || cy < 0)
        return nullptr;
    // A memory DC is as deep as the bitmap selected into it, so a fresh one
    // (holding the 1 x 1 monochrome bitmap) gives monochrome bitmaps.
    const UINT bpp = dc->dcKind == DcKind::Memory ? static_cast<UINT>(dc->bitmap->bpp) : 32;
    return CreateBitmap(cx, cy, 1, bpp, nullptr);
}

KELM3_API BOOL WINAPI SetBitmapDimensionEx(HBITMAP hbm, int w, int h, LPSIZE lpsz)
{
    GDI_LOCK;
    Bitmap* b = find_bitmap(hbm);
    if (!b || b->stock)
        return FALSE;
    if (lpsz)
        *lpsz = b->dimension;
    b->dimension = SIZE{w, h};
    return TRUE;
}

KELM3_API BOOL WINAPI GetBitmapDimensionEx(HBITMAP hbit, LPSIZE lpsize)
{
    GDI_LOCK;
    Bitmap* b = find_bitmap(hbit);
    if (!b || !lpsize)
        return FALSE;
    *lpsize = b->dimension;
    return TRUE;
}

// ---------------------------------------------------------------------------
// Drawing.

KELM3_API BOOL WINAPI BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop)
{
    GDI_LOCK;
    Dc* dc = find_dc(hdc);
    if (!dc)
        return FALSE;
    Dc* src = nullptr;
    if (rop_uses_source(rop)) {
        src = find_dc(hdcSrc);
        if (!src)
            return FALSE;
        to_device(src, &x1, &y1);
    }
    to_device(dc, &x, &y);
    Bitmap* d = target(dc);
    Bitmap* sb = src ? target(src) : nullptr;
    if (!d || (src && !sb))
        return TRUE;  // a printer: nothing to draw into or read from
    const COLORREF pattern = dc->brush->colour;
    for (int j = 0; j < cy; ++j) {
        const int dy = y + j, sy = y1 + j;
        if (dy < 0 || dy >= d->height || (sb && (sy < 0 || sy >= sb->height)))
            continue;
        for (int i = 0; i < cx; ++i) {
            const int dx = x + i, sx = x1 + i;
            if (dx < 0 || dx >= d->width || (sb && (sx < 0 || sx >= sb->width)))
                continue;
            const COLORREF sc = sb ? get(sb, sx, sy) : 0;
            put(d, dx, dy, rop3(rop, pattern, sc, get(d, dx, dy)));
        }
    }
    return TRUE;
}

KELM3_API BOOL WINAPI PatBlt(HDC hdc, int x, int y, int w, int h, DWORD rop)
{
    if (kelm::meta::is_recording_dc(hdc))
        return kelm::meta::record_patblt(hdc, x, y, w, h, rop);
    GDI_LOCK;
    Dc* dc = find_dc(hdc);
    if (!dc || rop_uses_source(rop))
        return FALSE;
    to_device(dc, &x, &y);
    // Negative extents count from the other edge, as in Win32.
    if (w < 0) {
        x += w;
        w = -w;
    }
    if (h < 0) {
        y += h;
        h = -h;
    }
    Bitmap* d = target(dc);
    if (!d || (rop_uses_pattern(rop) && dc->brush->hollow))
        return TRUE;
    const int x0 = std::max(x, 0), y0 = std::max(y, 0);
    const int x1 = std::min<long long>(static_cast<long long>(x) + w, d->width);
    const int y1 = std::min<long long>(static_cast<long long>(y) + h, d->height);
    for (int j = y0; j < y1; ++j)
        for (int i = x0; i < x1; ++i)
            put(d, i, j, rop3(rop, dc->brush->colour, 0, get(d, i, j)));
    return TRUE;
}

KELM3_API BOOL WINAPI Polyline(HDC hdc, const POINT* apt, int cpt)
{
    if (kelm::meta::is_recording_dc(hdc))
        return kelm::meta::record_polyline(hdc, apt, cpt);
    GDI_LOCK;
    Dc* dc = find_dc(hdc);
    if (!dc || !apt || cpt < 2)
        return FALSE;
    std::vector<POINT> pts(apt, apt + cpt);
    for (auto& p : pts) {
        int x = p.x, y = p.y;
        to_device(dc, &x, &y);
        p = POINT{x, y};
    }
    Bitmap* d = target(dc);
    if (d && !dc->pen->hollow)
        for (int i = 0; i + 1 < cpt; ++i)
            draw_line(d, pts[i].x, pts[i].y, pts[i + 1].x, pts[i + 1].y, dc->pen->colour);
    s.lastPolyline = std::move(pts);
    return TRUE;
}

KELM3_API COLORREF WINAPI GetPixel(HDC hdc, int x, int y)
{
    GDI_LOCK;
    Dc* dc = find_dc(hdc);
    if (!dc)
        return 0xFFFFFFFF;
    to_device(dc, &x, &y);
    Bitmap* d = target(dc);
    if (!d || x < 0 || y < 0 || x >= d->width || y >= d->height)
        return 0xFFFFFFFF;
    return get(d, x, y);
}

KELM3_API COLORREF WINAPI SetPixel(HDC hdc, int x, int y, COLORREF color)
{
    GDI_LOCK;
    Dc* dc = find_dc(hdc);
    if (!dc)
        return 0xFFFFFFFF;
    to_device(dc, &x, &y);
    Bitmap* d = target(dc);
    if (!d || x < 0 || y < 0 || x >= d->width || y >= d->height)
        return 0xFFFFFFFF;
    put(d, x, y, color);
    return get(d, x, y);
}

KELM3_API HBRUSH WINAPI CreateSolidBrush(COLORREF color)
{
    GDI_LOCK;
    try {
        auto* b = new Brush;
        b->colour = color & 0xFFFFFF;
        return reinterpret_cast<HBRUSH>(static_cast<Object*>(adopt(b)));
    } catch (...) {
        return nullptr;
    }
}

KELM3_API HPEN WINAPI CreatePen(int iStyle, int, COLORREF color)
{
    GDI_LOCK;
    try {
        auto* p = new Pen;
        p->colour = color & 0xFFFFFF;
        p->hollow = iStyle == PS_NULL;
        return reinterpret_cast<HPEN>(static_cast<Object*>(adopt(p)));
    } catch (...) {
        return nullptr;
    }
}

// ---------------------------------------------------------------------------
// Palettes. The display is not palette-based: realizing maps nothing.

KELM3_API HPALETTE WINAPI CreatePalette(const LOGPALETTE* plpal)
{
    GDI_LOCK;
    if (!plpal)
        return nullptr;
    try {
        auto* p = new Palette;
        p->entries.assign(plpal->palPalEntry, plpal->palPalEntry + plpal->palNumEntries);
        return reinterpret_cast<HPALETTE>(static_cast<Object*>(adopt(p)));
    } catch (...) {
        return nullptr;
    }
}

KELM3_API UINT WINAPI GetPaletteEntries(HPALETTE hpal, UINT iStart, UINT cEntries, LPPALETTEENTRY pPalEntries)
{
    GDI_LOCK;
    Palette* p = find_palette(hpal);
    if (!p)
        return 0;
    const UINT n = static_cast<UINT>(p->entries.size());
    if (!pPalEntries)
        return n;
    if (iStart >= n)
        return 0;
    const UINT count = std::min(cEntries, n - iStart);
    std::copy_n(p->entries.begin() + iStart, count, pPalEntries);
    return count;
}

KELM3_API UINT WINAPI GetSystemPaletteEntries(HDC hdc, UINT, UINT, LPPALETTEENTRY)
{
    GDI_LOCK;
    (void)find_dc(hdc);
    return 0;
}

KELM3_API HPALETTE WINAPI SelectPalette(HDC hdc, HPALETTE hPal, BOOL)
{
    GDI_LOCK;
    Dc* dc = find_dc(hdc);
    Palette* p = find_palette(hPal);
    if (!dc || !p)
        return nullptr;
    Palette* old = dc->palette;
    deselect(old);
    dc->palette = p;
    ++p->selections;
    return reinterpret_cast<HPALETTE>(static_cast<Object*>(old));
}

KELM3_API UINT WINAPI RealizePalette(HDC hdc)
{
    GDI_LOCK;
    return find_dc(hdc) ? 0 : static_cast<UINT>(-1);  // GDI_ERROR for a bad DC
}

// ---------------------------------------------------------------------------
// Printing.

KELM3_API int WINAPI Escape(HDC hdc, int iEscape, int cjIn, LPCSTR pvIn, LPVOID)
{
    GDI_LOCK;
    Dc* dc = find_dc(hdc);
    if (!dc)
        return 0;
    if (dc->dcKind != DcKind::Printer)
        return 0;  // displays answer no escape
    return printer_escape(dc, iEscape, cjIn, pvIn);
}

KELM3_API int WINAPI StartDocA(HDC hdc, const DOCINFOA* lpdi)
{
    GDI_LOCK;
    Dc* dc = find_dc(hdc);
    if (!dc || dc->dcKind != DcKind::Printer)
        return SP_ERROR;
    return printer_start_doc(dc, lpdi);
}

KELM3_API int WINAPI StartPage(HDC hdc)
{
    GDI_LOCK;
    Dc* dc = find_dc(hdc);
    if (!dc || dc->dcKind != DcKind::Printer)
        return SP_ERROR;
    return printer_start_page(dc);
}

KELM3_API int WINAPI EndPage(HDC hdc)
{
    GDI_LOCK;
    Dc* dc = find_dc(hdc);
    if (!dc || dc->dcKind != DcKind::Printer)
        return SP_ERROR;
    return printer_end_page(dc);
}

KELM3_API int WINAPI EndDoc(HDC hdc)
{
    GDI_LOCK;
    Dc* dc = find_dc(hdc);
    if (!dc || dc->dcKind != DcKind::Printer)
        return SP_ERROR;
    return printer_end_doc(dc);
}

}  // extern "C"
