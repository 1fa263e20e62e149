// Windows metafiles and enhanced metafiles for the Linux build: metafiles are
// their record bytes; recording DCs append records; enumeration hands each
// record to a callback with a handle table, and playing a record into a
// recording DC copies it there, creating, selecting and deleting objects
// through the handle table as GDI does.
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "platform/linux/gdi_objects.h"
#include "platform/linux/metafile_dc.h"

namespace kelm::meta {

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes& b, uint32_t v)
{
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(Bytes& b, uint32_t v)
{
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}
uint16_t get16(const uint8_t* p, size_t off)
{
    return static_cast<uint16_t>(p[off] | (p[off + 1] << 8));
}
uint32_t get32(const uint8_t* p, size_t off)
{
    return get16(p, off) | (static_cast<uint32_t>(get16(p, off + 2)) << 16);
}
void set32(uint8_t* p, size_t off, uint32_t v)
{
    std::memcpy(p + off, &v, 4);
}

// An object of this layer: a font made by CreateFontIndirectA, or an object
// created by playing a record, which carries that record.
struct MetaObject {
    bool font = false;
    LOGFONTA logfont{};
    Bytes wmf;  // creation record when played from a WMF
    Bytes emf;  // creation record when played from an EMF
};

struct Metafile {
    bool enhanced = false;
    Bytes bits;
};

// A recording DC. Slots are its object table: the object recorded in each.
struct RecDc {
    bool enhanced = false;
    Bytes records;
    uint32_t recordCount = 0;
    uint32_t maxRecord = 3;
    std::vector<const void*> slots;
    const void* selected[3] = {nullptr, nullptr, nullptr};  // pen, brush, font
    // EMF
    bool haveBounds = false;
    RECTL bounds{0, 0, -1, -1};
    POINT pos{0, 0};
    bool frameGiven = false;
    RECT frame{};
    std::u16string description;
};

struct Registry {
    std::recursive_mutex mutex;
    std::set<RecDc*> dcs;
    std::set<Metafile*> files;
    std::set<MetaObject*> objects;
    std::size_t beeps = 0;
};

Registry& reg()
{
    static auto* r = new Registry;
    return *r;
}

#define META_LOCK auto& R = reg(); std::lock_guard<std::recursive_mutex> lock_(R.mutex)

RecDc* find_dc(HDC h)
{
    auto* d = reinterpret_cast<RecDc*>(h);
    return h && reg().dcs.count(d) ? d : nullptr;
}
Metafile* find_file(const void* h, bool enhanced)
{
    auto* f = static_cast<Metafile*>(const_cast<void*>(h));
    return h && reg().files.count(f) && f->enhanced == enhanced ? f : nullptr;
}
MetaObject* find_object(const void* h)
{
    auto* o = static_cast<MetaObject*>(const_cast<void*>(h));
    return h && reg().objects.count(o) ? o : nullptr;
}

// ---- WMF records: size in words, function, parameters as given.
void wmf_record(RecDc* dc, uint16_t function, std::initializer_list<int> parms, const Bytes& tail = {})
{
    const size_t words = 3 + parms.size() + (tail.size() + 1) / 2;
    put32(dc->records, static_cast<uint32_t>(words));
    put16(dc->records, function);
    for (int v : parms)
        put16(dc->records, static_cast<uint32_t>(v) & 0xFFFF);
    dc->records.insert(dc->records.end(), tail.begin(), tail.end());
    if (tail.size() % 2)
        dc->records.push_back(0);
    dc->maxRecord = std::max<uint32_t>(dc->maxRecord, static_cast<uint32_t>(words));
    ++dc->recordCount;
}

// ---- EMF records: type, size, then 32-bit fields.
void emf_record(RecDc* dc, uint32_t type, const Bytes& body)
{
    put32(dc->records, type);
    put32(dc->records, static_cast<uint32_t>(8 + body.size()));
    dc->records.insert(dc->records.end(), body.begin(), body.end());
    ++dc->recordCount;
}
Bytes fields(std::initializer_list<int32_t> v)
{
    Bytes b;
    for (int32_t x : v)
        put32(b, static_cast<uint32_t>(x));
    return b;
}

// A coordinate plus an extent in the 32 bits GDI keeps them in: hostile
// records reach both ends of the range, and the sum wraps as it does there.
int32_t wrap_add(int32_t a, int32_t b, int32_t c = 0)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b) + static_cast<uint32_t>(c));
}

void add_bounds(RecDc* dc, LONG l, LONG t, LONG r, LONG b)
{
    if (r < l)
        std::swap(l, r);
    if (b < t)
        std::swap(t, b);
    if (!dc->haveBounds) {
        dc->bounds = RECTL{l, t, r, b};
        dc->haveBounds = true;
        return;
    }
    dc->bounds.left = std::min(dc->bounds.left, l);
    dc->bounds.top = std::min(dc->bounds.top, t);
    dc->bounds.right = std::max(dc->bounds.right, r);
    dc->bounds.bottom = std::max(dc->bounds.bottom, b);
}
// A box drawn as a closed figure: its right and bottom edges are outside.
void add_box(RecDc* dc, LONG l, LONG t, LONG r, LONG b)
{
    if (r < l)
        std::swap(l, r);
    if (b < t)
        std::swap(t, b);
    add_bounds(dc, l, t, r > l ? r - 1 : l, b > t ? b - 1 : t);  // r - 1 could pass INT_MIN
}

// Bounds of a record copied by playback: the drawing extent it carries.
void bounds_of_record(RecDc* dc, const uint8_t* p, size_t n)
{
    const uint32_t type = get32(p, 0);
    auto rect = [&](size_t off, bool box) {
        if (n < off + 16)
            return;
        const LONG l = static_cast<LONG>(get32(p, off)), t = static_cast<LONG>(get32(p, off + 4));
        const LONG r = static_cast<LONG>(get32(p, off + 8)), b = static_cast<LONG>(get32(p, off + 12));
        if (box)
            add_box(dc, l, t, r, b);
        else if (l <= r && t <= b)
            add_bounds(dc, l, t, r, b);
    };
    if ((type >= 2 && type <= 8) || (type >= 76 && type <= 81) || (type >= 83 && type <= 92) || type == 96 ||
        type == 97)
        rect(8, false);
    else if ((type >= 42 && type <= 47) || type == 55)
        rect(8, true);
    else if (type == 27 && n >= 16)
        dc->pos = POINT{static_cast<LONG>(get32(p, 8)), static_cast<LONG>(get32(p, 12))};
    else if (type == 54 && n >= 16) {
        const POINT to{static_cast<LONG>(get32(p, 8)), static_cast<LONG>(get32(p, 12))};
        add_bounds(dc, dc->pos.x, dc->pos.y, to.x, to.y);
        dc->pos = to;
    }
}

// ---- Objects into a recording DC.
int slot_base(const RecDc* dc)
{
    return dc->enhanced ? 1 : 0;  // slot 0 of an EMF table is the metafile
}
int free_slot(RecDc* dc)
{
    for (size_t i = 0; i < dc->slots.size(); ++i)
        if (!dc->slots[i])
            return static_cast<int>(i) + slot_base(dc);
    dc->slots.push_back(nullptr);
    return static_cast<int>(dc->slots.size()) - 1 + slot_base(dc);
}
int slot_of(const RecDc* dc, const void* obj)
{
    for (size_t i = 0; i < dc->slots.size(); ++i)
        if (dc->slots[i] == obj)
            return static_cast<int>(i) + slot_base(dc);
    return -1;
}

Bytes logfont16(const LOGFONTA& lf)
{
    Bytes b;
    for (LONG v : {lf.lfHeight, lf.lfWidth, lf.lfEscapement, lf.lfOrientation, lf.lfWeight})
        put16(b, static_cast<uint32_t>(v) & 0xFFFF);
    for (BYTE v : {lf.lfItalic, lf.lfUnderline, lf.lfStrikeOut, lf.lfCharSet, lf.lfOutPrecision, lf.lfClipPrecision,
                   lf.lfQuality, lf.lfPitchAndFamily})
        b.push_back(v);
    b.insert(b.end(), lf.lfFaceName, lf.lfFaceName + LF_FACESIZE);
    return b;
}
Bytes logfontw(const LOGFONTA& lf)
{
    Bytes b = fields({lf.lfHeight, lf.lfWidth, lf.lfEscapement, lf.lfOrientation, lf.lfWeight});
    for (BYTE v : {lf.lfItalic, lf.lfUnderline, lf.lfStrikeOut, lf.lfCharSet, lf.lfOutPrecision, lf.lfClipPrecision,
                   lf.lfQuality, lf.lfPitchAndFamily})
        b.push_back(v);
    for (int i = 0; i < LF_FACESIZE; ++i)
        put16(b, static_cast<uint8_t>(lf.lfFaceName[i]));
    return b;
}

// Which selection an object takes: 0 pen, 1 brush, 2 font; -1 unknown.
int object_role(const void* h)
{
    if (MetaObject* o = find_object(h)) {
        if (o->font)
            return 2;
        if (!o->wmf.empty()) {
            const uint16_t f = get16(o->wmf.data(), 4);
            return f == 0x02FA ? 0 : f == 0x02FB ? 2 : 1;
        }
        if (!o->emf.empty()) {
            const uint32_t t = get32(o->emf.data(), 0);
            return (t == 38 || t == 95) ? 0 : t == 82 ? 2 : 1;
        }
        return -1;
    }
    std::lock_guard<std::recursive_mutex> g(gdi::state().mutex);
    auto* obj = static_cast<gdi::Object*>(const_cast<void*>(h));
    if (!gdi::state().objects.count(obj))
        return -1;
    return obj->kind == gdi::Kind::Pen ? 0 : obj->kind == gdi::Kind::Brush ? 1 : -1;
}

// Records the object's creation in the DC's slot.
bool record_creation(RecDc* dc, const void* h, int slot)
{
    if (MetaObject* o = find_object(h)) {
        if (o->font) {
            if (dc->enhanced) {
                Bytes body = fields({slot});
                const Bytes lf = logfontw(o->logfont);
                body.insert(body.end(), lf.begin(), lf.end());
                emf_record(dc, 82, body);
            } else {
                const Bytes lf = logfont16(o->logfont);
                wmf_record(dc, 0x02FB, {}, lf);
            }
            return true;
        }
        if (dc->enhanced && !o->emf.empty()) {
            Bytes rec = o->emf;
            set32(rec.data(), 8, static_cast<uint32_t>(slot));
            dc->records.insert(dc->records.end(), rec.begin(), rec.end());
            ++dc->recordCount;
            return true;
        }
        if (!dc->enhanced && !o->wmf.empty()) {
            dc->records.insert(dc->records.end(), o->wmf.begin(), o->wmf.end());
            dc->maxRecord = std::max<uint32_t>(dc->maxRecord, static_cast<uint32_t>(o->wmf.size() / 2));
            ++dc->recordCount;
            return true;
        }
        return false;
    }
    std::lock_guard<std::recursive_mutex> g(gdi::state().mutex);
    auto* obj = static_cast<gdi::Object*>(const_cast<void*>(h));
    if (obj->kind == gdi::Kind::Pen) {
        auto* pen = static_cast<gdi::Pen*>(obj);
        const int style = pen->hollow ? PS_NULL : PS_SOLID;
        if (dc->enhanced)
            emf_record(dc, 38, fields({slot, style, 1, 0, static_cast<int32_t>(pen->colour)}));
        else
            wmf_record(dc, 0x02FA, {style, 1, 0, static_cast<int>(pen->colour & 0xFFFF),
                                    static_cast<int>(pen->colour >> 16)});
        return true;
    }
    if (obj->kind == gdi::Kind::Brush) {
        auto* brush = static_cast<gdi::Brush*>(obj);
        const int style = brush->hollow ? 1 : 0;  // BS_NULL : BS_SOLID
        if (dc->enhanced)
            emf_record(dc, 39, fields({slot, style, static_cast<int32_t>(brush->colour), 0}));
        else
            wmf_record(dc, 0x02FC, {style, static_cast<int>(brush->colour & 0xFFFF),
                                    static_cast<int>(brush->colour >> 16), 0});
        return true;
    }
    return false;
}

// The stock index of a GDI stock pen or brush, or -1.
int stock_index(const void* h)
{
    std::lock_guard<std::recursive_mutex> g(gdi::state().mutex);
    auto& s = gdi::state();
    for (int i = 0; i < 6; ++i)
        if (h == static_cast<const void*>(&s.stockBrush[i]))
            return i;
    if (h == static_cast<const void*>(&s.whitePen))
        return WHITE_PEN;
    if (h == static_cast<const void*>(&s.blackPen))
        return BLACK_PEN;
    if (h == static_cast<const void*>(&s.nullPen))
        return 8;
    return -1;
}

HGDIOBJ select_into(RecDc* dc, const void* h)
{
    const int role = object_role(h);
    if (role < 0)
        return nullptr;
    const int stock = dc->enhanced ? stock_index(h) : -1;
    if (stock >= 0) {
        emf_record(dc, 37, fields({static_cast<int32_t>(0x80000000u | static_cast<uint32_t>(stock))}));
    } else {
        int slot = slot_of(dc, h);
        if (slot < 0) {
            slot = free_slot(dc);
            if (!record_creation(dc, h, slot))
                return nullptr;
            dc->slots[static_cast<size_t>(slot - slot_base(dc))] = h;
        }
        if (dc->enhanced)
            emf_record(dc, 37, fields({slot}));
        else
            wmf_record(dc, 0x012D, {slot});
    }
    const void* old = dc->selected[role];
    dc->selected[role] = h;
    if (!old && role == 0)
        old = &gdi::state().blackPen;
    else if (!old && role == 1)
        old = &gdi::state().stockBrush[WHITE_BRUSH];
    return const_cast<void*>(old);
}

void delete_everywhere(const void* h)
{
    for (RecDc* dc : reg().dcs) {
        const int slot = slot_of(dc, h);
        if (slot < 0)
            continue;
        if (dc->enhanced)
            emf_record(dc, 40, fields({slot}));
        else
            wmf_record(dc, 0x01F0, {slot});
        dc->slots[static_cast<size_t>(slot - slot_base(dc))] = nullptr;
        for (auto& sel : dc->selected)
            if (sel == h)
                sel = nullptr;
    }
}

MetaObject* new_object()
{
    auto* o = new MetaObject;
    reg().objects.insert(o);
    return o;
}

// ---- Metafile bytes.
Metafile* new_file(bool enhanced, Bytes bits)
{
    auto* f = new Metafile;
    f->enhanced = enhanced;
    f->bits = std::move(bits);
    reg().files.insert(f);
    return f;
}

// The records of WMF bytes that lie wholly inside them, up to the end record.
bool wmf_clean(const uint8_t* p, size_t n, Bytes* out)
{
    if (!p || n < 18 || get16(p, 2) != 9 || (get16(p, 0) != 1 && get16(p, 0) != 2))
        return false;
    Bytes b(p, p + 18);
    uint32_t largest = 3;
    for (size_t at = 18; n - at >= 6;) {
        const uint64_t bytes = static_cast<uint64_t>(get32(p, at)) * 2;
        if (bytes < 6 || bytes > n - at || get16(p, at + 4) == 0)
            break;
        b.insert(b.end(), p + at, p + at + bytes);
        largest = std::max<uint32_t>(largest, static_cast<uint32_t>(bytes / 2));
        at += static_cast<size_t>(bytes);
    }
    const uint8_t eof[6] = {3, 0, 0, 0, 0, 0};
    b.insert(b.end(), eof, eof + 6);
    set32(b.data(), 6, static_cast<uint32_t>(b.size() / 2));
    set32(b.data(), 12, largest);
    *out = std::move(b);
    return true;
}

bool emf_clean(const uint8_t* p, size_t n, Bytes* out)
{
    if (!p || n < 88 || get32(p, 0) != 1)
        return false;
    const uint32_t headerSize = get32(p, 4);
    if (headerSize < 88 || headerSize > n || headerSize % 4)
        return false;
    Bytes b;
    uint32_t records = 0;
    for (size_t at = 0; n - at >= 8;) {
        const uint32_t bytes = get32(p, at + 4);
        if (bytes < 8 || bytes % 4 || bytes > n - at)
            break;
        b.insert(b.end(), p + at, p + at + bytes);
        ++records;
        at += bytes;
        if (get32(p, at - bytes) == 14)
            break;
    }
    set32(b.data(), 48, static_cast<uint32_t>(b.size()));
    set32(b.data(), 52, records);
    *out = std::move(b);
    return true;
}

UINT copy_bits(const Bytes& bits, UINT cb, void* data)
{
    if (!data)
        return static_cast<UINT>(bits.size());
    const UINT n = std::min<UINT>(cb, static_cast<UINT>(bits.size()));
    std::memcpy(data, bits.data(), n);
    return n;
}

// Size of a DIB's header with masks and colours, and of its pixels, as
// StretchDIBits records them.
bool dib_sizes(const BITMAPINFO* bmi, size_t* headerBytes, size_t* pixelBytes, bool* fillSizeImage)
{
    const BITMAPINFOHEADER& h = bmi->bmiHeader;
    if (h.biSize < 40 || h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN || h.biBitCount == 0)
        return false;
    uint64_t colours = h.biClrUsed;
    if (!colours && h.biBitCount <= 8)
        colours = 1ull << h.biBitCount;
    const uint64_t masks = (h.biSize == 40 && h.biCompression == 3) ? 12 : 0;
    if (colours > 256)
        colours = 256;
    *headerBytes = static_cast<size_t>(h.biSize + masks + colours * 4);
    const uint64_t rows = h.biHeight < 0 ? -static_cast<int64_t>(h.biHeight) : h.biHeight;
    const uint64_t stride = ((static_cast<uint64_t>(h.biWidth) * h.biBitCount + 31) / 32) * 4;
    const bool compressed = h.biCompression != 0 && h.biCompression != 3;
    const uint64_t pixels = compressed ? h.biSizeImage : stride * rows;
    if (pixels > 0x7FFFFFFF)
        return false;
    *pixelBytes = static_cast<size_t>(pixels);
    *fillSizeImage = !compressed && h.biSizeImage == 0;
    return true;
}

void finish_frame(RecDc* dc, RECTL* frame)
{
    // The reference device: the screen, 320 x 240 mm.
    // Bounds reach INT_MAX in hostile drawings: the exclusive edge is
    // computed in 64 bits.
    auto mmx = [](int64_t px) { return static_cast<LONG>(px * 32000 / KELM3_SCREEN_WIDTH); };
    auto mmy = [](int64_t px) { return static_cast<LONG>(px * 24000 / KELM3_SCREEN_HEIGHT); };
    if (dc->frameGiven) {
        *frame = RECTL{dc->frame.left, dc->frame.top, dc->frame.right, dc->frame.bottom};
    } else if (dc->haveBounds) {
        *frame = RECTL{mmx(dc->bounds.left), mmy(dc->bounds.top), mmx(int64_t{dc->bounds.right} + 1),
                       mmy(int64_t{dc->bounds.bottom} + 1)};
    } else {
        *frame = RECTL{0, 0, -1, -1};
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Hooks.

bool is_recording_dc(HDC hdc)
{
    META_LOCK;
    return find_dc(hdc) != nullptr;
}

HGDIOBJ record_select(HDC hdc, HGDIOBJ h)
{
    META_LOCK;
    RecDc* dc = find_dc(hdc);
    return dc && h ? select_into(dc, h) : nullptr;
}

bool forget_object(HGDIOBJ h)
{
    META_LOCK;
    if (!h)
        return false;
    delete_everywhere(h);
    MetaObject* o = find_object(h);
    if (!o)
        return false;
    R.objects.erase(o);
    delete o;
    return true;
}

BOOL record_window_org(HDC hdc, int x, int y, LPPOINT old)
{
    META_LOCK;
    RecDc* dc = find_dc(hdc);
    if (!dc)
        return FALSE;
    if (old)
        *old = POINT{0, 0};
    if (dc->enhanced)
        emf_record(dc, 10, fields({x, y}));
    else
        wmf_record(dc, 0x020B, {y, x});
    return TRUE;
}

BOOL record_polyline(HDC hdc, const POINT* apt, int cpt)
{
    META_LOCK;
    RecDc* dc = find_dc(hdc);
    if (!dc || !apt || cpt < 2 || cpt > 0x7FFF)
        return FALSE;
    if (dc->enhanced) {
        RECTL box{apt[0].x, apt[0].y, apt[0].x, apt[0].y};
        bool small = true;
        for (int i = 0; i < cpt; ++i) {
            box.left = std::min(box.left, apt[i].x);
            box.top = std::min(box.top, apt[i].y);
            box.right = std::max(box.right, apt[i].x);
            box.bottom = std::max(box.bottom, apt[i].y);
            small = small && apt[i].x == static_cast<int16_t>(apt[i].x) && apt[i].y == static_cast<int16_t>(apt[i].y);
        }
        Bytes body = fields({box.left, box.top, box.right, box.bottom, cpt});
        for (int i = 0; i < cpt; ++i) {
            if (small) {
                put16(body, static_cast<uint32_t>(apt[i].x) & 0xFFFF);
                put16(body, static_cast<uint32_t>(apt[i].y) & 0xFFFF);
            } else {
                put32(body, static_cast<uint32_t>(apt[i].x));
                put32(body, static_cast<uint32_t>(apt[i].y));
            }
        }
        emf_record(dc, small ? 87 : 4, body);
        add_bounds(dc, box.left, box.top, box.right, box.bottom);
    } else {
        Bytes pts;
        for (int i = 0; i < cpt; ++i) {
            put16(pts, static_cast<uint32_t>(apt[i].x) & 0xFFFF);
            put16(pts, static_cast<uint32_t>(apt[i].y) & 0xFFFF);
        }
        wmf_record(dc, 0x0325, {cpt}, pts);
    }
    return TRUE;
}

BOOL record_patblt(HDC hdc, int x, int y, int w, int h, DWORD rop)
{
    META_LOCK;
    RecDc* dc = find_dc(hdc);
    if (!dc)
        return FALSE;
    if (dc->enhanced) {
        // EMR_BITBLT without a source bitmap.
        Bytes body = fields({x, y, wrap_add(x, w, -1), wrap_add(y, h, -1), x, y, w, h, static_cast<int32_t>(rop), 0, 0});
        const Bytes identity = fields({0x3F800000, 0, 0, 0x3F800000, 0, 0});  // XFORM as floats
        body.insert(body.end(), identity.begin(), identity.end());
        const Bytes rest = fields({0, 0, 0, 0, 0, 0});
        body.insert(body.end(), rest.begin(), rest.end());
        emf_record(dc, 76, body);
        add_box(dc, x, y, wrap_add(x, w), wrap_add(y, h));
    } else {
        wmf_record(dc, 0x061D, {static_cast<int>(rop & 0xFFFF), static_cast<int>(rop >> 16), h, w, y, x});
    }
    return TRUE;
}

int record_stretch_dib_bits(HDC hdc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                            int srcWidth, int srcHeight, const void* bits, const BITMAPINFO* bmi, UINT usage,
                            DWORD rop)
{
    META_LOCK;
    RecDc* dc = find_dc(hdc);
    size_t headerBytes = 0, pixelBytes = 0;
    bool fill = false;
    if (!dc || !bmi || !bits || !dib_sizes(bmi, &headerBytes, &pixelBytes, &fill))
        return 0;
    Bytes header(reinterpret_cast<const uint8_t*>(bmi), reinterpret_cast<const uint8_t*>(bmi) + headerBytes);
    if (fill)  // recorded with its size, so that every player finds the pixels
        set32(header.data(), 20, static_cast<uint32_t>(pixelBytes));
    const auto* px = static_cast<const uint8_t*>(bits);
    const LONG rows = bmi->bmiHeader.biHeight < 0 ? -bmi->bmiHeader.biHeight : bmi->bmiHeader.biHeight;
    if (dc->enhanced) {
        const uint32_t offBmi = 80, offBits = static_cast<uint32_t>(80 + headerBytes);
        Bytes body = fields({xDest, yDest, wrap_add(xDest, destWidth, -1), wrap_add(yDest, destHeight, -1), xDest, yDest,
                             xSrc, ySrc,
                             srcWidth, srcHeight, static_cast<int32_t>(offBmi), static_cast<int32_t>(headerBytes),
                             static_cast<int32_t>(offBits), static_cast<int32_t>(pixelBytes),
                             static_cast<int32_t>(usage), static_cast<int32_t>(rop), destWidth, destHeight});
        body.insert(body.end(), header.begin(), header.end());
        body.insert(body.end(), px, px + pixelBytes);
        while (body.size() % 4)
            body.push_back(0);
        emf_record(dc, 81, body);
        add_box(dc, xDest, yDest, wrap_add(xDest, destWidth), wrap_add(yDest, destHeight));
    } else {
        Bytes dib = header;
        dib.insert(dib.end(), px, px + pixelBytes);
        wmf_record(dc, 0x0F43,
                   {static_cast<int>(rop & 0xFFFF), static_cast<int>(rop >> 16), static_cast<int>(usage), srcHeight,
                    srcWidth, ySrc, xSrc, destHeight, destWidth, yDest, xDest},
                   dib);
    }
    return rows;
}

}  // namespace kelm::meta

namespace kelm::testing {
std::size_t message_beeps()
{
    std::lock_guard<std::recursive_mutex> g(kelm::meta::reg().mutex);
    return kelm::meta::reg().beeps;
}
}  // namespace kelm::testing

// ---------------------------------------------------------------------------
// The Win32 functions.

using namespace kelm::meta;

namespace {

RecDc* new_recording(bool enhanced)
{
    auto* dc = new RecDc;
    dc->enhanced = enhanced;
    reg().dcs.insert(dc);
    return dc;
}

// Creates the object a creation record describes in the first free slot of
// a playback handle table; false when the record creates nothing.
bool is_wmf_creation(uint16_t f)
{
    return f == 0x02FA || f == 0x02FC || f == 0x02FB || f == 0x00F7 || f == 0x0142 || f == 0x01F9 || f == 0x06FF;
}
bool is_emf_creation(uint32_t t)
{
    return t == 38 || t == 39 || t == 82 || t == 93 || t == 94 || t == 95 || t == 49;
}

}  // namespace

extern "C" {

KELM3_API HDC WINAPI CreateMetaFileA(LPCSTR pszFile)
{
    META_LOCK;
    if (pszFile)
        return nullptr;  // memory metafiles only
    return reinterpret_cast<HDC>(new_recording(false));
}

KELM3_API HMETAFILE WINAPI CloseMetaFile(HDC hdc)
{
    META_LOCK;
    RecDc* dc = find_dc(hdc);
    if (!dc || dc->enhanced)
        return nullptr;
    Bytes b;
    put16(b, 1);
    put16(b, 9);
    put16(b, 0x0300);
    const size_t words = 9 + dc->records.size() / 2 + 3;
    put32(b, static_cast<uint32_t>(words));
    put16(b, static_cast<uint32_t>(dc->slots.size()));
    put32(b, dc->maxRecord);
    put16(b, 0);
    b.insert(b.end(), dc->records.begin(), dc->records.end());
    const uint8_t eof[6] = {3, 0, 0, 0, 0, 0};
    b.insert(b.end(), eof, eof + 6);
    R.dcs.erase(dc);
    delete dc;
    return reinterpret_cast<HMETAFILE>(new_file(false, std::move(b)));
}

KELM3_API BOOL WINAPI DeleteMetaFile(HMETAFILE hmf)
{
    META_LOCK;
    Metafile* f = find_file(hmf, false);
    if (!f)
        return FALSE;
    R.files.erase(f);
    delete f;
    return TRUE;
}

KELM3_API HMETAFILE WINAPI SetMetaFileBitsEx(UINT cbBuffer, const BYTE* lpData)
{
    META_LOCK;
    Bytes b;
    if (!wmf_clean(lpData, cbBuffer, &b))
        return nullptr;
    return reinterpret_cast<HMETAFILE>(new_file(false, std::move(b)));
}

KELM3_API UINT WINAPI GetMetaFileBitsEx(HMETAFILE hMF, UINT cbBuffer, LPVOID lpData)
{
    META_LOCK;
    Metafile* f = find_file(hMF, false);
    return f ? copy_bits(f->bits, cbBuffer, lpData) : 0;
}

KELM3_API BOOL WINAPI EnumMetaFile(HDC hdc, HMETAFILE hmf, MFENUMPROC proc, LPARAM param)
{
    Bytes bits;
    {
        META_LOCK;
        Metafile* f = find_file(hmf, false);
        if (!f || !proc)
            return FALSE;
        bits = f->bits;  // the callback may change or delete the metafile
    }
    const uint16_t objects = get16(bits.data(), 10);
    std::vector<HGDIOBJ> table(std::max<size_t>(objects, 1), nullptr);
    BOOL result = TRUE;
    for (size_t at = static_cast<size_t>(get16(bits.data(), 2)) * 2; bits.size() - at >= 6;) {
        const size_t bytes = static_cast<size_t>(get32(bits.data(), at)) * 2;
        if (get16(bits.data(), at + 4) == 0)
            break;
        if (!proc(hdc, reinterpret_cast<HANDLETABLE*>(table.data()),
                  reinterpret_cast<METARECORD*>(bits.data() + at), objects, param)) {
            result = FALSE;
            break;
        }
        at += bytes;
    }
    for (HGDIOBJ h : table)
        if (h)
            DeleteObject(h);
    return result;
}

KELM3_API BOOL WINAPI PlayMetaFileRecord(HDC hdc, LPHANDLETABLE table, LPMETARECORD mr, UINT noObjs)
{
    META_LOCK;
    if (!mr || mr->rdSize < 3)
        return FALSE;
    RecDc* dc = find_dc(hdc);
    const auto* p = reinterpret_cast<const uint8_t*>(mr);
    const size_t bytes = static_cast<size_t>(mr->rdSize) * 2;
    const uint16_t f = mr->rdFunction;
    HGDIOBJ* slots = table ? table->objectHandle : nullptr;
    if (is_wmf_creation(f)) {
        for (UINT i = 0; slots && i < noObjs; ++i)
            if (!slots[i]) {
                MetaObject* o = new_object();
                o->wmf.assign(p, p + bytes);
                slots[i] = o;
                break;
            }
        return TRUE;
    }
    if (f == 0x012D || f == 0x0234 || f == 0x01F0) {
        const UINT i = bytes >= 8 ? get16(p, 6) : noObjs;
        if (!slots || i >= noObjs || !slots[i])
            return FALSE;
        if (f == 0x01F0) {
            forget_object(slots[i]);
            slots[i] = nullptr;
        } else if (dc) {
            select_into(dc, slots[i]);
        }
        return TRUE;
    }
    if (dc && !dc->enhanced) {
        dc->records.insert(dc->records.end(), p, p + bytes);
        dc->maxRecord = std::max<uint32_t>(dc->maxRecord, static_cast<uint32_t>(bytes / 2));
        ++dc->recordCount;
    }
    return TRUE;
}

KELM3_API HDC WINAPI CreateEnhMetaFileA(HDC, LPCSTR lpFilename, const RECT* lprc, LPCSTR lpDesc)
{
    META_LOCK;
    if (lpFilename)
        return nullptr;
    RecDc* dc = new_recording(true);
    if (lprc) {
        dc->frameGiven = true;
        dc->frame = *lprc;
    }
    if (lpDesc) {
        // Two strings, each ending in NUL, and a second NUL after them.
        size_t n = 0;
        for (int part = 0; part < 2; ++part) {
            while (lpDesc[n])
                ++n;
            ++n;
        }
        for (size_t i = 0; i < n; ++i)
            dc->description.push_back(static_cast<unsigned char>(lpDesc[i]));
        dc->description.push_back(0);
    }
    return reinterpret_cast<HDC>(dc);
}

KELM3_API HENHMETAFILE WINAPI CloseEnhMetaFile(HDC hdc)
{
    META_LOCK;
    RecDc* dc = find_dc(hdc);
    if (!dc || !dc->enhanced)
        return nullptr;
    emf_record(dc, 14, fields({0, 16, 20}));
    RECTL frame;
    finish_frame(dc, &frame);
    const RECTL bounds = dc->haveBounds ? dc->bounds : RECTL{0, 0, -1, -1};
    const size_t descBytes = dc->description.size() * 2;
    const size_t headerSize = 108 + ((descBytes + 3) / 4) * 4;
    Bytes b = fields({1, static_cast<int32_t>(headerSize), bounds.left, bounds.top, bounds.right, bounds.bottom,
                      frame.left, frame.top, frame.right, frame.bottom, ENHMETA_SIGNATURE, 0x10000});
    const size_t total = headerSize + dc->records.size();
    put32(b, static_cast<uint32_t>(total));
    put32(b, dc->recordCount + 1);
    put16(b, static_cast<uint32_t>(dc->slots.size() + 1));
    put16(b, 0);
    put32(b, static_cast<uint32_t>(dc->description.size()));
    put32(b, dc->description.empty() ? 0 : 108);
    put32(b, 0);
    const Bytes dev = fields({KELM3_SCREEN_WIDTH, KELM3_SCREEN_HEIGHT, 320, 240, 0, 0, 0, 320000, 240000});
    b.insert(b.end(), dev.begin(), dev.end());
    for (char16_t c : dc->description)
        put16(b, c);
    while (b.size() < headerSize)
        b.push_back(0);
    b.insert(b.end(), dc->records.begin(), dc->records.end());
    R.dcs.erase(dc);
    delete dc;
    return reinterpret_cast<HENHMETAFILE>(new_file(true, std::move(b)));
}

KELM3_API BOOL WINAPI DeleteEnhMetaFile(HENHMETAFILE hmf)
{
    META_LOCK;
    Metafile* f = find_file(hmf, true);
    if (!f)
        return FALSE;
    R.files.erase(f);
    delete f;
    return TRUE;
}

KELM3_API HENHMETAFILE WINAPI SetEnhMetaFileBits(UINT nSize, const BYTE* pb)
{
    META_LOCK;
    Bytes b;
    if (!emf_clean(pb, nSize, &b))
        return nullptr;
    return reinterpret_cast<HENHMETAFILE>(new_file(true, std::move(b)));
}

KELM3_API UINT WINAPI GetEnhMetaFileBits(HENHMETAFILE hEMF, UINT nSize, LPBYTE lpData)
{
    META_LOCK;
    Metafile* f = find_file(hEMF, true);
    return f ? copy_bits(f->bits, nSize, lpData) : 0;
}

KELM3_API UINT WINAPI GetEnhMetaFileHeader(HENHMETAFILE hemf, UINT nSize, LPENHMETAHEADER hdr)
{
    META_LOCK;
    Metafile* f = find_file(hemf, true);
    if (!f)
        return 0;
    const UINT size = std::min<UINT>(get32(f->bits.data(), 4), static_cast<UINT>(sizeof(ENHMETAHEADER)));
    if (!hdr)
        return size;
    const UINT n = std::min(nSize, size);
    std::memcpy(hdr, f->bits.data(), n);
    return n;
}

KELM3_API UINT WINAPI GetEnhMetaFileDescriptionA(HENHMETAFILE hemf, UINT cchBuffer, LPSTR lpDescription)
{
    META_LOCK;
    Metafile* f = find_file(hemf, true);
    if (!f)
        return GDI_ERROR;
    const uint8_t* p = f->bits.data();
    const size_t headerSize = get32(p, 4);
    const uint64_t count = get32(p, 60), off = get32(p, 64);
    if (!count || off > headerSize || count > (headerSize - off) / 2)
        return 0;
    if (!lpDescription)
        return static_cast<UINT>(count);
    const UINT n = static_cast<UINT>(std::min<uint64_t>(count, cchBuffer));
    for (UINT i = 0; i < n; ++i) {
        const uint16_t c = get16(p, static_cast<size_t>(off) + 2 * i);
        lpDescription[i] = c < 256 ? static_cast<char>(c) : '?';
    }
    return n;
}

KELM3_API BOOL WINAPI EnumEnhMetaFile(HDC hdc, HENHMETAFILE hmf, ENHMFENUMPROC proc, LPVOID param, const RECT*)
{
    Bytes bits;
    {
        META_LOCK;
        Metafile* f = find_file(hmf, true);
        if (!f || !proc)
            return FALSE;
        bits = f->bits;
    }
    const uint16_t handles = get16(bits.data(), 56);
    std::vector<HGDIOBJ> table(std::max<size_t>(handles, 1), nullptr);
    table[0] = reinterpret_cast<HGDIOBJ>(hmf);
    BOOL result = TRUE;
    for (size_t at = 0; bits.size() - at >= 8;) {
        const uint32_t bytes = get32(bits.data(), at + 4);
        if (!proc(hdc, reinterpret_cast<HANDLETABLE*>(table.data()),
                  reinterpret_cast<const ENHMETARECORD*>(bits.data() + at), handles, reinterpret_cast<LPARAM>(param))) {
            result = FALSE;
            break;
        }
        at += bytes;
    }
    for (size_t i = 1; i < table.size(); ++i)
        if (table[i])
            DeleteObject(table[i]);
    return result;
}

KELM3_API BOOL WINAPI PlayEnhMetaFileRecord(HDC hdc, LPHANDLETABLE table, const ENHMETARECORD* rec, UINT cht)
{
    META_LOCK;
    if (!rec || rec->nSize < 8)
        return FALSE;
    RecDc* dc = find_dc(hdc);
    const auto* p = reinterpret_cast<const uint8_t*>(rec);
    const size_t bytes = rec->nSize;
    const uint32_t t = rec->iType;
    HGDIOBJ* slots = table ? table->objectHandle : nullptr;
    if (t == 1 || t == 14)
        return TRUE;
    if (is_emf_creation(t)) {
        const UINT i = bytes >= 12 ? get32(p, 8) : cht;
        if (!slots || i == 0 || i >= cht)
            return FALSE;
        if (slots[i])
            forget_object(slots[i]);
        MetaObject* o = new_object();
        o->emf.assign(p, p + bytes);
        slots[i] = o;
        return TRUE;
    }
    if (t == 37 || t == 40 || t == 48) {
        const uint32_t i = bytes >= 12 ? get32(p, 8) : cht;
        if (i & 0x80000000u) {
            if (dc && dc->enhanced && t != 40) {
                dc->records.insert(dc->records.end(), p, p + bytes);
                ++dc->recordCount;
            }
            return TRUE;
        }
        if (!slots || i == 0 || i >= cht || !slots[i])
            return FALSE;
        if (t == 40) {
            forget_object(slots[i]);
            slots[i] = nullptr;
        } else if (dc) {
            select_into(dc, slots[i]);
        }
        return TRUE;
    }
    if (dc && dc->enhanced) {
        dc->records.insert(dc->records.end(), p, p + bytes);
        ++dc->recordCount;
        bounds_of_record(dc, p, bytes);
    }
    return TRUE;
}

KELM3_API int WINAPI SetMapMode(HDC hdc, int iMode)
{
    META_LOCK;
    RecDc* dc = find_dc(hdc);
    if (!dc)
        return 0;
    if (dc->enhanced)
        emf_record(dc, 17, fields({iMode}));
    else
        wmf_record(dc, 0x0103, {iMode});
    return MM_TEXT;
}

KELM3_API BOOL WINAPI SetWindowExtEx(HDC hdc, int x, int y, LPSIZE lpsz)
{
    META_LOCK;
    RecDc* dc = find_dc(hdc);
    if (!dc)
        return FALSE;
    if (lpsz)
        *lpsz = SIZE{1, 1};
    if (dc->enhanced)
        emf_record(dc, 9, fields({x, y}));
    else
        wmf_record(dc, 0x020C, {y, x});
    return TRUE;
}

KELM3_API BOOL WINAPI MoveToEx(HDC hdc, int x, int y, LPPOINT lppt)
{
    META_LOCK;
    RecDc* dc = find_dc(hdc);
    if (!dc)
        return FALSE;
    if (lppt)
        *lppt = dc->pos;
    dc->pos = POINT{x, y};
    if (dc->enhanced)
        emf_record(dc, 27, fields({x, y}));
    else
        wmf_record(dc, 0x0214, {y, x});
    return TRUE;
}

KELM3_API BOOL WINAPI LineTo(HDC hdc, int x, int y)
{
    META_LOCK;
    RecDc* dc = find_dc(hdc);
    if (!dc)
        return FALSE;
    if (dc->enhanced) {
        emf_record(dc, 54, fields({x, y}));
        add_bounds(dc, dc->pos.x, dc->pos.y, x, y);
    } else {
        wmf_record(dc, 0x0213, {y, x});
    }
    dc->pos = POINT{x, y};
    return TRUE;
}

namespace {
BOOL box_record(HDC hdc, uint16_t function, uint32_t type, int l, int t, int r, int b)
{
    META_LOCK;
    RecDc* dc = find_dc(hdc);
    if (!dc)
        return FALSE;
    if (dc->enhanced) {
        emf_record(dc, type, fields({l, t, r, b}));
        add_box(dc, l, t, r, b);
    } else {
        wmf_record(dc, function, {b, r, t, l});
    }
    return TRUE;
}
BOOL arc_record(HDC hdc, uint16_t function, uint32_t type, int x1, int y1, int x2, int y2, int x3, int y3, int x4,
                int y4)
{
    META_LOCK;
    RecDc* dc = find_dc(hdc);
    if (!dc)
        return FALSE;
    if (dc->enhanced) {
        emf_record(dc, type, fields({x1, y1, x2, y2, x3, y3, x4, y4}));
        add_box(dc, x1, y1, x2, y2);
    } else {
        wmf_record(dc, function, {y4, x4, y3, x3, y2, x2, y1, x1});
    }
    return TRUE;
}
}  // namespace

KELM3_API BOOL WINAPI Rectangle(HDC hdc, int left, int top, int right, int bottom)
{
    return box_record(hdc, 0x041B, 43, left, top, right, bottom);
}

KELM3_API BOOL WINAPI Ellipse(HDC hdc, int left, int top, int right, int bottom)
{
    return box_record(hdc, 0x0418, 42, left, top, right, bottom);
}

KELM3_API BOOL WINAPI RoundRect(HDC hdc, int left, int top, int right, int bottom, int width, int height)
{
    META_LOCK;
    RecDc* dc = find_dc(hdc);
    if (!dc)
        return FALSE;
    if (dc->enhanced) {
        emf_record(dc, 44, fields({left, top, right, bottom, width, height}));
        add_box(dc, left, top, right, bottom);
    } else {
        wmf_record(dc, 0x061C, {height, width, bottom, right, top, left});
    }
    return TRUE;
}

KELM3_API BOOL WINAPI Arc(HDC hdc, int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4)
{
    return arc_record(hdc, 0x0817, 45, x1, y1, x2, y2, x3, y3, x4, y4);
}

KELM3_API BOOL WINAPI Pie(HDC hdc, int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4)
{
    return arc_record(hdc, 0x081A, 47, x1, y1, x2, y2, x3, y3, x4, y4);
}

KELM3_API BOOL WINAPI Chord(HDC hdc, int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4)
{
    return arc_record(hdc, 0x0830, 46, x1, y1, x2, y2, x3, y3, x4, y4);
}

KELM3_API BOOL WINAPI Polygon(HDC hdc, const POINT* apt, int cpt)
{
    META_LOCK;
    RecDc* dc = find_dc(hdc);
    if (!dc || !apt || cpt < 2 || cpt > 0x7FFF)
        return FALSE;
    Bytes pts;
    RECTL box{apt[0].x, apt[0].y, apt[0].x, apt[0].y};
    for (int i = 0; i < cpt; ++i) {
        box.left = std::min(box.left, apt[i].x);
        box.top = std::min(box.top, apt[i].y);
        box.right = std::max(box.right, apt[i].x);
        box.bottom = std::max(box.bottom, apt[i].y);
        put16(pts, static_cast<uint32_t>(apt[i].x) & 0xFFFF);
        put16(pts, static_cast<uint32_t>(apt[i].y) & 0xFFFF);
    }
    if (dc->enhanced) {
        Bytes body = fields({box.left, box.top, box.right, box.bottom, cpt});
        body.insert(body.end(), pts.begin(), pts.end());
        emf_record(dc, 86, body);
        add_bounds(dc, box.left, box.top, box.right, box.bottom);
    } else {
        wmf_record(dc, 0x0324, {cpt}, pts);
    }
    return TRUE;
}

KELM3_API BOOL WINAPI TextOutA(HDC hdc, int x, int y, LPCSTR lpString, int c)
{
    META_LOCK;
    RecDc* dc = find_dc(hdc);
    if (!dc || !lpString || c < 0 || c > 0x7FFF)
        return FALSE;
    if (dc->enhanced) {
        // EMR_EXTTEXTOUTW; the text's extent is not known here, so the
        // record's bounds are empty and the metafile's do not grow.
        Bytes body = fields({0, 0, -1, -1, 1, 0, 0, x, y, c, 76, 0, 0, 0, 0, 0, 0});
        for (int i = 0; i < c; ++i)
            put16(body, static_cast<unsigned char>(lpString[i]));
        while (body.size() % 4)
            body.push_back(0);
        set32(body.data(), 64, static_cast<uint32_t>(8 + body.size()));  // offDx
        for (int i = 0; i < c; ++i)
            put32(body, 8);
        emf_record(dc, 84, body);
    } else {
        Bytes text(lpString, lpString + c);
        if (text.size() % 2)
            text.push_back(0);
        put16(text, static_cast<uint32_t>(y) & 0xFFFF);
        put16(text, static_cast<uint32_t>(x) & 0xFFFF);
        wmf_record(dc, 0x0521, {c}, text);
    }
    return TRUE;
}

KELM3_API HFONT WINAPI CreateFontIndirectA(const LOGFONTA* lplf)
{
    META_LOCK;
    if (!lplf)
        return nullptr;
    MetaObject* o = new_object();
    o->font = true;
    o->logfont = *lplf;
    return reinterpret_cast<HFONT>(o);
}

KELM3_API BOOL WINAPI MessageBeep(UINT)
{
    META_LOCK;
    ++R.beeps;
    return TRUE;
}

}  // extern "C"
