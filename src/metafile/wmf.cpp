// Windows metafile rotation and the window query.
#include <algorithm>

#include "metafile/bitmap_record.h"
#include "metafile/metafile.h"

namespace kelm {

namespace {

constexpr size_t kHeaderBytes = 18;

// Records that name slots of the playback handle table, and how many index
// words they carry from rdParm[0]. GDI indexes its table with them as given.
int object_indices(uint16_t function)
{
    switch (function) {
    case 0x012D:  // SELECTOBJECT
    case 0x01F0:  // DELETEOBJECT
    case 0x0234:  // SELECTPALETTE
    case 0x012C:  // SELECTCLIPREGION
    case 0x012A:  // INVERTREGION
    case 0x012B:  // PAINTREGION
        return 1;
    case 0x0228:  // FILLREGION: region, brush
    case 0x0429:  // FRAMEREGION: region, brush, ...
        return 2;
    default:
        return 0;
    }
}

// The number of parameter words a record of fixed layout carries: the high
// byte of its function number. Records of variable length, whose high byte
// is not a minimum, are checked where they are rewritten (or not at all:
// their inner counts are the player's to check).
size_t fixed_parameters(uint16_t function)
{
    switch (function) {
    case 0x0A32:  // EXTTEXTOUT
    case 0x0521:  // TEXTOUT
    case 0x0538:  // POLYPOLYGON
    case 0x0324:  // POLYGON
    case 0x0325:  // POLYLINE
    case 0x0626:  // ESCAPE
    case 0x0940:  // DIBBITBLT
    case 0x0B41:  // DIBSTRETCHBLT
    case 0x0D33:  // SETDIBTODEV
    case 0x0922:  // BITBLT
    case 0x0B23:  // STRETCHBLT
    case 0x06FF:  // CREATEREGION
    case 0x0436:  // ANIMATEPALETTE
    case 0x0037:  // SETPALENTRIES
    case 0x00F7:  // CREATEPALETTE
    case 0x0142:  // DIBCREATEPATTERNBRUSH
    case 0x01F9:  // CREATEPATTERNBRUSH
    case 0x02FB:  // CREATEFONTINDIRECT
        return 0;
    default:
        return function >> 8;
    }
}

// A source metafile as bytes we have checked: only whole records, each
// long enough for its table indices, which lie within the handle table,
// behind a header that states the true sizes, and an end record. GDI is
// handed this copy, never the caller's bytes, so that it cannot be led past
// a record or its table by them.
struct CleanWmf {
    std::vector<uint8_t> bits;
    std::vector<RecordSpan> spans;
    HMETAFILE handle = nullptr;
    ~CleanWmf()
    {
        if (handle)
            DeleteMetaFile(handle);
    }
};

bool clean_wmf(HMETAFILE hmf, CleanWmf* out)
{
    const UINT n = GetMetaFileBitsEx(hmf, 0, nullptr);
    if (n == 0)
        return false;
    std::vector<uint8_t> raw(n);
    if (GetMetaFileBitsEx(hmf, n, raw.data()) != n)
        return false;
    const std::vector<RecordSpan> spans = wmf_records(raw.data(), raw.size());
    const uint16_t objects = raw.size() >= kHeaderBytes ? ld16(raw.data(), 10) : 0;
    std::vector<uint8_t>& b = out->bits;
    b.assign(kHeaderBytes, 0);
    uint32_t largest = 3;
    for (const RecordSpan& s : spans) {
        const uint8_t* r = raw.data() + s.offset;
        const uint16_t function = ld16(r, 4);
        const int indices = object_indices(function);
        bool ok = s.size >= 6 + 2u * static_cast<size_t>(indices) && s.size >= 6 + 2u * fixed_parameters(function);
        for (int k = 0; ok && k < indices; ++k)
            ok = ld16(r, 6 + 2 * k) < objects;
        if (!ok)
            continue;
        out->spans.push_back({b.size(), s.size});
        b.insert(b.end(), r, r + s.size);
        largest = std::max<uint32_t>(largest, static_cast<uint32_t>(s.size / 2));
    }
    const uint8_t eof[6] = {3, 0, 0, 0, 0, 0};
    b.insert(b.end(), eof, eof + 6);
    if (!fits32(b.size() / 2))
        return false;
    const uint16_t head[3] = {1, 9, 0x0300};
    std::memcpy(b.data(), head, 6);
    st32(b.data(), 6, static_cast<uint32_t>(b.size() / 2));
    std::memcpy(b.data() + 10, &objects, 2);
    st32(b.data(), 12, largest);
    out->handle = SetMetaFileBitsEx(static_cast<UINT>(b.size()), b.data());
    return out->handle != nullptr;
}

struct WmfRotation {
    MetaMatrix m;
    HDC target = nullptr;
    const CleanWmf* src = nullptr;
    size_t next = 0;
};

// The stretched-bitmap record: raster operation in rdParm[0-1], usage [2],
// source height, width, y, x [3-6], destination height, width, y, x [7-10],
// then the packed DIB from byte 28.
void turn_stretch_dib(const WmfRotation& c, const uint8_t* r, size_t size)
{
    if (size <= 28)
        return;
    auto p = [&](int i) { return static_cast<int32_t>(static_cast<int16_t>(ld16(r, 6 + 2 * i))); };
    auto corners = [&](int32_t x, int32_t y, int32_t w, int32_t h) {
        int32_t x0, y0, x1, y1;
        map_point(c.m, x, y, &x0, &y0);
        map_point(c.m, static_cast<int16_t>(x + w), static_cast<int16_t>(y + h), &x1, &y1);
        RECT rc{static_cast<int16_t>(x0), static_cast<int16_t>(y0), static_cast<int16_t>(x1),
                static_cast<int16_t>(y1)};
        if (rc.bottom < rc.top)
            std::swap(rc.bottom, rc.top);
        if (rc.right < rc.left)
            std::swap(rc.right, rc.left);
        return rc;
    };
    const RECT dest = corners(p(10), p(9), p(8), p(7));
    const RECT src = corners(p(6), p(5), p(4), p(3));
    draw_turned_dib(c.target, c.m, r + 28, size - 28, dest, src.right - src.left, src.bottom - src.top, ld32(r, 6));
}

int CALLBACK rotate_wmf_record(HDC, HANDLETABLE* table, METARECORD*, int objects, LPARAM data)
{
    auto* c = reinterpret_cast<WmfRotation*>(data);
    // The enumeration runs over the clean copy, record for record; the
    // bytes are taken from our own span, whose length we know.
    if (c->next >= c->src->spans.size())
        return 1;
    const RecordSpan s = c->src->spans[c->next++];
    const uint8_t* r = c->src->bits.data() + s.offset;
    RecordCopy copy(r, s.size);
    if (!copy.data())
        return 0;
    if (ld16(r, 4) == wmf::StretchDib)
        turn_stretch_dib(*c, copy.data(), s.size);
    else if (rewrite_wmf_record(c->m, copy.data(), s.size))
        PlayMetaFileRecord(c->target, table, reinterpret_cast<METARECORD*>(copy.data()), static_cast<UINT>(objects));
    return 1;
}

struct WindowState {
    const CleanWmf* src = nullptr;
    size_t next = 0;
    LONG ext[2] = {0, 0};
    LONG org[2] = {0, 0};
    LONG mode = 0;
};

int CALLBACK read_window_record(HDC, HANDLETABLE*, METARECORD*, int, LPARAM data)
{
    auto* w = reinterpret_cast<WindowState*>(data);
    if (w->next >= w->src->spans.size())
        return 1;
    const RecordSpan s = w->src->spans[w->next++];
    const uint8_t* r = w->src->bits.data() + s.offset;
    auto p = [&](int i) { return static_cast<LONG>(static_cast<int16_t>(ld16(r, 6 + 2 * i))); };
    switch (ld16(r, 4)) {
    case wmf::SetWindowExt:
        if (s.size >= 10) {
            w->ext[0] = p(1);
            w->ext[1] = p(0);
        }
        break;
    case wmf::SetWindowOrg:
        if (s.size >= 10) {
            w->org[0] = p(1);
            w->org[1] = p(0);
        }
        break;
    case wmf::SetMapMode:
        if (s.size >= 8)
            w->mode = p(0);
        break;
    default:
        break;
    }
    return 1;
}

void window_of(const CleanWmf& src, WindowState* w)
{
    w->src = &src;
    HDC screen = GetDC(nullptr);
    EnumMetaFile(screen, src.handle, read_window_record, reinterpret_cast<LPARAM>(w));
    ReleaseDC(nullptr, screen);
}

}  // namespace

void get_metafile_window_ext(HMETAFILE hmf, LONG* extent, LONG* origin, LONG* mapMode)
{
    WindowState w;
    CleanWmf src;
    if (clean_wmf(hmf, &src))
        window_of(src, &w);
    if (extent) {
        extent[0] = w.ext[0];
        extent[1] = w.ext[1];
    }
    if (origin) {
        origin[0] = w.org[0];
        origin[1] = w.org[1];
    }
    if (mapMode)
        *mapMode = w.mode;
}

HMETAFILE rotate_metafile(HMETAFILE hmf, int32_t angle, LONG* points)
{
    CleanWmf src;
    const bool readable = clean_wmf(hmf, &src);
    WindowState w;
    if (readable)
        window_of(src, &w);
    const LONG width = w.ext[0], height = w.ext[1], x0 = w.org[0], y0 = w.org[1];

    WmfRotation c;
    c.m = meta_matrix(angle, height < 0);
    LONG left = 32767, top = 32767, right = -32767, bottom = -32767;
    const LONG cx[4] = {x0, x0 + width, x0 + width, x0};
    const LONG cy[4] = {y0, y0, y0 + height, y0 + height};
    for (int k = 0; k < 4; ++k) {
        int32_t x, y;
        map_vector(c.m, cx[k], cy[k], &x, &y);
        left = std::min<LONG>(left, x);
        right = std::max<LONG>(right, x);
        top = std::min<LONG>(top, y);
        bottom = std::max<LONG>(bottom, y);
    }
    c.m.dx = -left;
    c.m.dy = -top;

    HDC hdc = CreateMetaFileA(nullptr);
    if (!hdc)
        return nullptr;
    SetMapMode(hdc, MM_ANISOTROPIC);
    SetWindowOrgEx(hdc, 0, 0, nullptr);
    SetWindowExtEx(hdc, right - left, bottom - top, nullptr);

    int32_t p[4] = {0, 0, 0, 0};
    if (points) {
        map_vector(c.m, points[0], points[1], &p[0], &p[1]);
        map_vector(c.m, points[2], points[3], &p[2], &p[3]);
    }
    if (readable) {
        c.target = hdc;
        c.src = &src;
        EnumMetaFile(hdc, src.handle, rotate_wmf_record, reinterpret_cast<LPARAM>(&c));
    }
    if (points)
        std::copy(p, p + 4, points);
    return CloseMetaFile(hdc);
}

}  // namespace kelm
