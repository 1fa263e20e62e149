// The object model behind the Linux GDI subset: one registry of objects,
// validated on every call so that a handle GDI did not issue is refused
// instead of dereferenced, and the pixel store of bitmaps and the screen.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "platform/platform.h"

namespace kelm::gdi {

enum class Kind { Dc, Bitmap, Palette, Brush, Pen };

struct Object {
    explicit Object(Kind k) : kind(k) {}
    virtual ~Object() = default;
    Kind kind;
    bool stock = false;   // never deleted; DeleteObject succeeds without effect
    int selections = 0;   // DCs it is selected into
};

// Pixels are colour words (0x00BBGGRR), row 0 at the top. A monochrome
// bitmap holds only black and white.
struct Bitmap : Object {
    Bitmap() : Object(Kind::Bitmap) {}
    int width = 1;
    int height = 1;
    int bpp = 1;
    std::vector<COLORREF> px = std::vector<COLORREF>(1, 0);
    SIZE dimension{0, 0};
};

struct Palette : Object {
    Palette() : Object(Kind::Palette) {}
    std::vector<PALETTEENTRY> entries;
};

struct Brush : Object {
    Brush() : Object(Kind::Brush) {}
    COLORREF colour = 0xFFFFFF;
    bool hollow = false;
};

struct Pen : Object {
    Pen() : Object(Kind::Pen) {}
    COLORREF colour = 0;
    bool hollow = false;
};

enum class DcKind { Screen, Memory, Printer };

struct Dc : Object {
    Dc() : Object(Kind::Dc) {}
    DcKind dcKind = DcKind::Memory;
    bool fromGetDC = false;  // released with ReleaseDC
    Bitmap* bitmap = nullptr;
    Palette* palette = nullptr;
    Brush* brush = nullptr;
    Pen* pen = nullptr;
    POINT viewportOrg{0, 0};
    POINT windowOrg{0, 0};
    // Printer document state.
    std::FILE* out = nullptr;
    int pages = 0;
    bool pageOpen = false;
    bool passthroughOpen = false;
};

struct State {
    std::recursive_mutex mutex;
    std::unordered_set<Object*> objects;
    Bitmap screen;
    Bitmap defaultBitmap;
    Palette defaultPalette;
    Brush stockBrush[6];
    Pen whitePen, blackPen, nullPen;
    std::vector<POINT> lastPolyline;
    HCURSOR cursor = nullptr;
};

State& state();

template <typename T>
T* find(const void* handle, Kind kind)
{
    auto& s = state();
    auto* obj = static_cast<Object*>(const_cast<void*>(handle));
    if (!handle || !s.objects.count(obj) || obj->kind != kind)
        return nullptr;
    return static_cast<T*>(obj);
}
inline Dc* find_dc(HDC h) { return find<Dc>(h, Kind::Dc); }
inline Bitmap* find_bitmap(const void* h) { return find<Bitmap>(h, Kind::Bitmap); }
inline Palette* find_palette(const void* h) { return find<Palette>(h, Kind::Palette); }

// Registers a new object; the registry owns it from then on.
template <typename T>
T* adopt(T* obj)
{
    state().objects.insert(obj);
    return obj;
}
void destroy(Object* obj);

// The bitmap a DC draws into (the screen for display DCs), or null for a
// printer.
Bitmap* target(Dc* dc);
COLORREF to_mono(COLORREF c);
inline void put(Bitmap* b, int x, int y, COLORREF c)
{
    b->px[static_cast<size_t>(y) * b->width + x] = b->bpp == 1 ? to_mono(c) : (c & 0xFFFFFF);
}
inline COLORREF get(const Bitmap* b, int x, int y)
{
    return b->px[static_cast<size_t>(y) * b->width + x];
}
// The ternary raster operation `rop` applied to 24-bit pattern, source and
// destination colours.
COLORREF rop3(DWORD rop, COLORREF p, COLORREF s, COLORREF d);
inline bool rop_uses_source(DWORD rop) { return ((rop >> 2) ^ rop) & 0x330000; }
inline bool rop_uses_pattern(DWORD rop) { return ((rop >> 4) ^ rop) & 0x0F0000; }

// Printer output.
int printer_escape(Dc* dc, int code, int cjIn, const char* in);
int printer_start_doc(Dc* dc, const DOCINFOA* di);
int printer_start_page(Dc* dc);
int printer_end_page(Dc* dc);
int printer_end_doc(Dc* dc);
void printer_abort(Dc* dc);

}  // namespace kelm::gdi
