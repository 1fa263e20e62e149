// Enhanced metafile rotation.
#include <algorithm>

#include "metafile/bitmap_record.h"
#include "metafile/metafile.h"

namespace kelm {

namespace {

constexpr size_t kBaseHeader = 88;  // ENHMETAHEADER up to szlMillimeters

// Records whose first field after the 8-byte record header is a slot of the
// playback handle table. Select and delete also take stock objects (high
// bit set); the others create an object in the slot.
int object_slot_kind(uint32_t type)
{
    switch (type) {
    case 37:  // SELECTOBJECT
    case 40:  // DELETEOBJECT
    case 48:  // SELECTPALETTE
        return 2;
    case 38:  // CREATEPEN
    case 39:  // CREATEBRUSHINDIRECT
    case 49:  // CREATEPALETTE
    case 50:  // SETPALETTEENTRIES
    case 51:  // RESIZEPALETTE
    case 82:  // EXTCREATEFONTINDIRECTW
    case 93:  // CREATEMONOBRUSH
    case 94:  // CREATEDIBPATTERNBRUSHPT
    case 95:  // EXTCREATEPEN
    case 99:  // CREATECOLORSPACE
    case 101: // DELETECOLORSPACE
        return 1;
    default:
        return 0;
    }
}

// The smallest size of the records of fixed layout (and of the fixed part
// of the others) that GDI's player reads without looking at nSize.
uint32_t minimum_size(uint32_t type)
{
    static const uint8_t kSizes[] = {
        0,   0,   28,  28,  28,  28,  28,  32,  32,  16,  // 0-9
        16,  16,  16,  16,  20,  20,  12,  12,  12,  12,  // 10-19
        12,  12,  12,  12,  12,  12,  16,  16,  8,   24,  // 20-29
        24,  24,  24,  8,   12,  32,  36,  12,  28,  24,  // 30-39
        12,  28,  24,  24,  32,  40,  40,  40,  12,  16,  // 40-49
        20,  16,  16,  8,   16,  40,  28,  12,  12,  8,   // 50-59
        8,   8,   8,   8,   8,   8,   8,   24,  24,  24,  // 60-69
        12,  20,  28,  24,  20,  16,  100, 108, 128, 140, // 70-79
        76,  80,  104, 76,  76,  28,  28,  28,  28,  28,  // 80-89
        32,  32,  28,  32,  32,  52,  36,  36,  12,  12,  // 90-99
    };
    return type < sizeof kSizes ? kSizes[type] : 8;
}

// Offset/length pairs (byte offsets in the record) that bitmap-carrying
// records use to point into themselves.
bool inner_blocks_fit(const uint8_t* r, size_t size)
{
    auto fits = [&](size_t offField, size_t lenField) {
        if (size < lenField + 4)
            return false;
        const uint64_t off = ld32(r, offField), len = ld32(r, lenField);
        return len == 0 || (off <= size && len <= size - off);
    };
    switch (ld32(r, 0)) {
    case 76:  // BITBLT
        return fits(84, 88) && fits(92, 96);
    case 77:  // STRETCHBLT
        return fits(84, 88) && fits(92, 96);
    case 78:  // MASKBLT
        return fits(84, 88) && fits(92, 96) && fits(116, 120) && fits(124, 128);
    case 79:  // PLGBLT
        return fits(112, 116) && fits(120, 124) && fits(128, 132) && fits(136, 140);
    case 80:  // SETDIBITSTODEVICE
    case 81:  // STRETCHDIBITS
        return fits(48, 52) && fits(56, 60);
    case 93:  // CREATEMONOBRUSH
    case 94:  // CREATEDIBPATTERNBRUSHPT
    case 95:  // EXTCREATEPEN
        return fits(16, 20) && fits(24, 28);
    case 56:  // POLYDRAW: points, then one type byte each
    {
        const uint64_t count = ld32(r, 24);
        return count <= (size - 28) / 9;
    }
    case emr::ExtTextOutA:
    case emr::ExtTextOutW: {
        if (size < 76)
            return false;
        const uint64_t chars = ld32(r, 44), offString = ld32(r, 48), offDx = ld32(r, 72);
        const uint64_t each = ld32(r, 0) == emr::ExtTextOutW ? 2 : 1;
        if (chars > size || offString > size || chars * each > size - offString)
            return false;
        return offDx == 0 || (offDx <= size && chars * 4 <= size - offDx);
    }
    default:
        return true;
    }
}

// The checked copy of a source EMF that GDI is given: whole records, slot
// indices inside the handle table, bitmap and string blocks inside their
// records, a header whose description lies inside it and whose counts are
// true, and an end record.
struct CleanEmf {
    std::vector<uint8_t> bits;
    std::vector<RecordSpan> spans;
    HENHMETAFILE handle = nullptr;
    ~CleanEmf()
    {
        if (handle)
            DeleteEnhMetaFile(handle);
    }
};

bool clean_emf(HENHMETAFILE hemf, CleanEmf* out)
{
    const UINT n = GetEnhMetaFileBits(hemf, 0, nullptr);
    if (n < kBaseHeader)
        return false;
    std::vector<uint8_t> raw(n);
    if (GetEnhMetaFileBits(hemf, n, raw.data()) != n)
        return false;
    const std::vector<RecordSpan> spans = emf_records(raw.data(), raw.size());
    if (spans.empty() || ld32(raw.data(), 0) != emr::Header || spans[0].size < kBaseHeader)
        return false;
    std::vector<uint8_t>& b = out->bits;
    b.assign(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(spans[0].size));
    const size_t headerSize = spans[0].size;
    const uint64_t nDesc = ld32(b.data(), 60), offDesc = ld32(b.data(), 64);
    if (nDesc && (offDesc < kBaseHeader || offDesc > headerSize || nDesc > (headerSize - offDesc) / 2)) {
        st32(b.data(), 60, 0);
        st32(b.data(), 64, 0);
    }
    if (headerSize >= 100) {
        const uint64_t cb = ld32(b.data(), 88), off = ld32(b.data(), 92);
        if (cb && (off > headerSize || cb > headerSize - off)) {
            st32(b.data(), 88, 0);
            st32(b.data(), 92, 0);
        }
    }
    const uint32_t handles = ld16(b.data(), 56);
    out->spans.push_back({0, headerSize});
    bool ended = false;
    for (size_t k = 1; k < spans.size(); ++k) {
        const RecordSpan& s = spans[k];
        const uint8_t* r = raw.data() + s.offset;
        const uint32_t type = ld32(r, 0);
        if (type == emr::Header)
            continue;
        bool ok = s.size >= minimum_size(type) && inner_blocks_fit(r, s.size);
        if (const int kind = object_slot_kind(type)) {
            const uint32_t slot = s.size >= 12 ? ld32(r, 8) : 0;
            const bool stock = kind == 2 && (slot & 0x80000000u);
            ok = ok && s.size >= 12 && (stock || (slot >= 1 && slot < handles));
        }
        if (type == emr::Eof)
            ok = s.size >= 20;
        if (!ok)
            continue;
        out->spans.push_back({b.size(), s.size});
        b.insert(b.end(), r, r + s.size);
        if (type == emr::Eof) {
            ended = true;
            break;
        }
    }
    if (!ended) {
        const uint32_t eof[5] = {emr::Eof, 20, 0, 16, 20};
        out->spans.push_back({b.size(), 20});
        b.insert(b.end(), reinterpret_cast<const uint8_t*>(eof), reinterpret_cast<const uint8_t*>(eof) + 20);
    }
    if (!fits32(b.size()))
        return false;
    st32(b.data(), 48, static_cast<uint32_t>(b.size()));
    st32(b.data(), 52, static_cast<uint32_t>(out->spans.size()));
    out->handle = SetEnhMetaFileBits(static_cast<UINT>(b.size()), b.data());
    return out->handle != nullptr;
}

struct EmfRotation {
    MetaMatrix m;
    HDC target = nullptr;
    const CleanEmf* src = nullptr;
    size_t next = 0;
};

RECT map_rect(const MetaMatrix& m, int32_t l, int32_t t, int32_t r, int32_t b)
{
    RECT rc;
    int32_t x, y;
    map_point(m, l, t, &x, &y);
    rc.left = x;
    rc.top = y;
    map_point(m, r, b, &x, &y);
    rc.right = x;
    rc.bottom = y;
    if (rc.bottom < rc.top)
        std::swap(rc.bottom, rc.top);
    if (rc.right < rc.left)
        std::swap(rc.right, rc.left);
    return rc;
}

int32_t add32(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

int32_t sub32(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

void turn_stretch_dibits(const EmfRotation& c, const uint8_t* r, size_t size)
{
    if (size < 80)
        return;
    auto f = [&](size_t off) { return static_cast<int32_t>(ld32(r, off)); };
    const uint64_t offBmi = ld32(r, 48), cbBmi = ld32(r, 52), offBits = ld32(r, 56), cbBits = ld32(r, 60);
    // A record without a header has nothing to draw.
    if (cbBmi == 0 || offBmi > size || cbBmi > size - offBmi || offBits > size || cbBits > size - offBits)
        return;
    std::vector<uint8_t> dib;
    try {
        dib.resize(static_cast<size_t>(cbBmi + cbBits));
    } catch (const std::bad_alloc&) {
        return;
    }
    std::memcpy(dib.data(), r + offBmi, static_cast<size_t>(cbBmi));
    std::memcpy(dib.data() + cbBmi, r + offBits, static_cast<size_t>(cbBits));
    const RECT dest = map_rect(c.m, f(24), f(28), add32(f(24), f(72)), add32(f(28), f(76)));
    const RECT src = map_rect(c.m, f(32), f(36), add32(f(32), f(40)), add32(f(36), f(44)));
    draw_turned_dib(c.target, c.m, dib.data(), dib.size(), dest, sub32(src.right, src.left),
                    sub32(src.bottom, src.top), ld32(r, 68));
}

int CALLBACK rotate_emf_record(HDC, HANDLETABLE* table, const ENHMETARECORD*, int objects, LPARAM data)
{
    auto* c = reinterpret_cast<EmfRotation*>(data);
    if (c->next >= c->src->spans.size())
        return 1;
    const RecordSpan s = c->src->spans[c->next++];
    const uint8_t* r = c->src->bits.data() + s.offset;
    RecordCopy copy(r, s.size);
    if (!copy.data())
        return 0;
    const uint32_t type = ld32(r, 0);
    if (type == emr::StretchDIBits) {
        turn_stretch_dibits(*c, copy.data(), s.size);
        return 1;
    }
    if (type == emr::PolyTextOutA || type == emr::PolyTextOutW)
        MessageBeep(0);
    if (rewrite_emf_record(c->m, copy.data(), s.size))
        PlayEnhMetaFileRecord(c->target, table, reinterpret_cast<const ENHMETARECORD*>(copy.data()),
                              static_cast<UINT>(objects));
    return 1;
}

}  // namespace

HENHMETAFILE rotate_enh_metafile(HENHMETAFILE hemf, int32_t angle)
{
    CleanEmf src;
    const bool readable = clean_emf(hemf, &src);

    uint8_t header[100] = {};
    st32(header, 0, 1);
    st32(header, 4, 100);
    char description[1024 + 2] = {};
    UINT descLength = 0;
    if (readable) {
        GetEnhMetaFileHeader(src.handle, sizeof header, reinterpret_cast<ENHMETAHEADER*>(header));
        descLength = GetEnhMetaFileDescriptionA(src.handle, 1024, description);
        if (descLength == GDI_ERROR)
            descLength = 0;
    }

    EmfRotation c;
    c.m = meta_matrix(angle, false);

    HDC screen = GetDC(nullptr);
    HDC hdc = CreateEnhMetaFileA(screen, nullptr, nullptr, descLength ? description : nullptr);
    ReleaseDC(nullptr, screen);
    if (!hdc)
        return nullptr;

    if (readable) {
        RECT out;
        out.left = static_cast<int32_t>(ld32(header, 8));
        out.top = static_cast<int32_t>(ld32(header, 12));
        out.right = static_cast<int32_t>(ld32(header, 16));
        out.bottom = static_cast<int32_t>(ld32(header, 20));
        if (out.right < out.left)
            std::swap(out.left, out.right);
        if (out.bottom < out.top)
            std::swap(out.top, out.bottom);
        c.target = hdc;
        c.src = &src;
        EnumEnhMetaFile(hdc, src.handle, rotate_emf_record, &c, &out);
    }
    return CloseEnhMetaFile(hdc);
}

}  // namespace kelm
