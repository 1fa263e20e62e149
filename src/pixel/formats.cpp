// The per-format routines of the pixel accessor: each format is a traits type
// (storage, conversions, optional own line routines) that one generic body turns
// into six slots, gathered in a constexpr table so a format is chosen once per image.
#include <algorithm>
#include <array>
#include <bit>

#include "colour/colour.h"
#include "pixel/pixel.h"

namespace kelm {

namespace {

inline BYTE* row_of(const TRDIB* rd, int y)
{
    return rd->hpbits + static_cast<size_t>(y) * rd->WidthBytes;
}

inline WORD x257(unsigned v)
{
    return static_cast<WORD>(v * 257u);
}

inline uint32_t load_u32(const void* raw)
{
    uint32_t v;
    std::memcpy(&v, raw, 4);
    return v;
}

inline WORD load_u16(const void* raw)
{
    WORD v;
    std::memcpy(&v, raw, 2);
    return v;
}

inline void store_u32(void* raw, uint32_t v)
{
    std::memcpy(raw, &v, 4);
}

inline void store_u16(void* raw, WORD v)
{
    std::memcpy(raw, &v, 2);
}

// round(v * w / 256) with halves rounded up, for the grey weights 77, 151
// and 28 (which sum to 256, so white stays white).
inline uint32_t weigh_round(uint32_t v, uint32_t w)
{
    return (v * w + 128) >> 8;
}

// ---------------------------------------------------------------------------
// Storage: where the raw value of pixel x lives in a row and how it is packed
// into the caller's raw buffer. Writers touch only the pixel's own bits.

struct Store1 {
    static void read(const TRDIB*, const BYTE* row, int x, void* raw)
    {
        const uint32_t v = (row[static_cast<size_t>(x) >> 3] >> (7 - (x & 7))) & 1u;
        store_u32(raw, v);
    }
    static void write(const TRDIB*, BYTE* row, int x, const void* raw)
    {
        BYTE& b = row[static_cast<size_t>(x) >> 3];
        const BYTE bit = static_cast<BYTE>(0x80u >> (x & 7));
        if (load_u32(raw) != 0)
            b = static_cast<BYTE>(b | bit);
        else
            b = static_cast<BYTE>(b & ~bit);
    }
};

struct Store4 {
    static void read(const TRDIB*, const BYTE* row, int x, void* raw)
    {
        const BYTE b = row[static_cast<size_t>(x) >> 1];
        *static_cast<BYTE*>(raw) = (x & 1) ? (b & 0x0F) : (b >> 4);
    }
    static void write(const TRDIB*, BYTE* row, int x, const void* raw)
    {
        BYTE& b = row[static_cast<size_t>(x) >> 1];
        const BYTE v = *static_cast<const BYTE*>(raw) & 0x0F;
        b = (x & 1) ? static_cast<BYTE>((b & 0xF0) | v) : static_cast<BYTE>((b & 0x0F) | (v << 4));
    }
};

// Whole-byte pixels of N bytes (8, 16, 24 and 32 bits): the raw value is the
// stored bytes.
template <unsigned N>
struct StoreBytes {
    static void read(const TRDIB*, const BYTE* row, int x, void* raw)
    {
        std::memcpy(raw, row + static_cast<size_t>(x) * N, N);
    }
    static void write(const TRDIB*, BYTE* row, int x, const void* raw)
    {
        std::memcpy(row + static_cast<size_t>(x) * N, raw, N);
    }
};

// Two-plane 8 bits: a 16-bit grey, high byte in the first plane, low byte
// dwOffsetLSB further on.
struct StorePlane8 {
    static void read(const TRDIB* rd, const BYTE* row, int x, void* raw)
    {
        const BYTE* p = row + x;
        store_u16(raw, static_cast<WORD>((p[0] << 8) | p[rd->dwOffsetLSB]));
    }
    static void write(const TRDIB* rd, BYTE* row, int x, const void* raw)
    {
        BYTE* p = row + x;
        const WORD v = load_u16(raw);
        p[0] = static_cast<BYTE>(v >> 8);
        p[rd->dwOffsetLSB] = static_cast<BYTE>(v);
    }
};

// Two-plane 24 and 32 bits: an Rgbq16 whose first N channels are split
// between the planes; at 24 bits the reserved channel reads 0 and is not
// stored.
template <unsigned N>
struct StorePlaneColour {
    static void read(const TRDIB* rd, const BYTE* row, int x, void* raw)
    {
        const BYTE* p = row + static_cast<size_t>(x) * N;
        WORD ch[4] = {0, 0, 0, 0};
        for (unsigned c = 0; c < N; ++c)
            ch[c] = static_cast<WORD>((p[c] << 8) | p[c + rd->dwOffsetLSB]);
        std::memcpy(raw, ch, sizeof ch);
    }
    static void write(const TRDIB* rd, BYTE* row, int x, const void* raw)
    {
        BYTE* p = row + static_cast<size_t>(x) * N;
        WORD ch[4];
        std::memcpy(ch, raw, sizeof ch);
        for (unsigned c = 0; c < N; ++c) {
            p[c] = static_cast<BYTE>(ch[c] >> 8);
            p[c + rd->dwOffsetLSB] = static_cast<BYTE>(ch[c]);
        }
    }
};

// ---------------------------------------------------------------------------
// Raw value to Rgbq16.

// Colour-table entry numbered by the raw value's first byte. Entries that
// would lie past the end of the block read as black.
struct PaletteLookup {
    static void to16(const TRDIB* rd, const void* raw, Rgbq16* out)
    {
        const UINT i = *static_cast<const BYTE*>(raw);
        if (i < rd->PaletteReadable) {
            const RGBQUAD& e = rd->lppal[i];
            *out = Rgbq16{x257(e.rgbBlue), x257(e.rgbGreen), x257(e.rgbRed), 0};
        } else {
            *out = Rgbq16{0, 0, 0, 0};
        }
    }
};

struct BlackWhiteExpand {
    static void to16(const TRDIB*, const void* raw, Rgbq16* out)
    {
        const WORD v = load_u32(raw) ? 0xFFFF : 0;
        *out = Rgbq16{v, v, v, 0};
    }
};

// 5-5-5 words: each 5-bit field f becomes f x 2056 = (f << 3) x 257, so 31
// gives 63736 and the high byte is the field with three zero bits appended.
struct Expand555 {
    static void to16(const TRDIB*, const void* raw, Rgbq16* out)
    {
        const unsigned w = load_u16(raw);
        *out = Rgbq16{static_cast<WORD>((w & 31u) * 2056u), static_cast<WORD>(((w >> 5) & 31u) * 2056u),
                      static_cast<WORD>(((w >> 10) & 31u) * 2056u), 0};
    }
};

// BI_BITFIELDS words. A field of n bits at shift s is moved to the top of
// the 16-bit channel. Masks are cut to 16 bits at open, so s + n <= 16 and
// no shift count leaves 0..16; a zero mask (n = 0) reads 0. A mask with gaps
// follows the same formula, truncated to the channel.
inline WORD field_to16(uint32_t word, const TRDIB* rd, int c)
{
    const uint32_t v = ((word & rd->masks[c]) >> rd->maskShift[c]) << (16u - rd->maskBits[c]);
    return static_cast<WORD>(v);
}

struct ExpandBitfields16 {
    static void to16(const TRDIB* rd, const void* raw, Rgbq16* out)
    {
        const uint32_t w = load_u16(raw);
        *out = Rgbq16{field_to16(w, rd, 2), field_to16(w, rd, 1), field_to16(w, rd, 0), 0};
    }
};

template <unsigned N>
struct ExpandBytes {
    static void to16(const TRDIB*, const void* raw, Rgbq16* out)
    {
        const BYTE* b = static_cast<const BYTE*>(raw);
        *out = Rgbq16{x257(b[0]), x257(b[1]), x257(b[2]), N == 4 ? x257(b[3]) : WORD(0)};
    }
};

struct ExpandCmyk {
    static void to16(const TRDIB*, const void* raw, Rgbq16* out)
    {
        BYTE rgb[3];
        cmyk_pixel_to_rgb(static_cast<const BYTE*>(raw), rgb);
        *out = Rgbq16{x257(rgb[0]), x257(rgb[1]), x257(rgb[2]), 0};
    }
};

// The single-pixel two-plane grey fills all four channels, reserved too.
struct ReplicateGrey {
    static void to16(const TRDIB*, const void* raw, Rgbq16* out)
    {
        const WORD v = load_u16(raw);
        *out = Rgbq16{v, v, v, v};
    }
};

struct CopyRgbq16 {
    static void to16(const TRDIB*, const void* raw, Rgbq16* out)
    {
        std::memcpy(out, raw, sizeof *out);
    }
    static void from16(const TRDIB*, void* raw, const Rgbq16* in)
    {
        std::memcpy(raw, in, sizeof *in);
    }
};

// ---------------------------------------------------------------------------
// Rgbq16 to raw value.

// 1 bit, black/white pairs: the bit is set when the three channels sum to
// more than 3 x 32768 (compared in quarters so the sum stays small), inverted
// for the white/black pair.
template <bool Inverted>
struct Threshold {
    static void from16(const TRDIB*, void* raw, const Rgbq16* in)
    {
        const bool light = (in->blue >> 2) + (in->green >> 2) + (in->red >> 2) > 0x6000;
        store_u32(raw, (light != Inverted) ? 1u : 0u);
    }
};

inline DWORD colour_word(const Rgbq16* in)
{
    return static_cast<DWORD>(in->red >> 8) | (static_cast<DWORD>(in->green >> 8) << 8) |
           (static_cast<DWORD>(in->blue >> 8) << 16);
}

// Nearest colour-table entry; at 1 bit the raw value is a 32-bit integer,
// otherwise one byte.
template <unsigned RawBytes>
struct Nearest {
    static void store(void* raw, UINT index)
    {
        if constexpr (RawBytes == 4)
            store_u32(raw, index);
        else
            *static_cast<BYTE*>(raw) = static_cast<BYTE>(index);
    }
    static void from16(const TRDIB* rd, void* raw, const Rgbq16* in)
    {
        store(raw, nearest_colour(const_cast<TRDIB*>(rd), colour_word(in)));
    }
};

// The default 256-colour table is a 6x6x6 cube at 0, 51, ... 255, then 16
// greys and white at 216..232. Colours whose channels agree in their top six
// bits take the grey row (216 + red / 4096, rounded; 232 is white); others
// take the cube cell by truncating each channel to 13056 = 51 x 256 steps.
struct DefaultIndex {
    static void from16(const TRDIB*, void* raw, const Rgbq16* in)
    {
        const unsigned r = in->red, g = in->green, b = in->blue;
        unsigned index;
        if ((r ^ g) < 1024 && (b ^ r) < 1024)
            index = 216 + ((r + 2048) >> 12);
        else
            index = (r / 13056) * 36 + (g / 13056) * 6 + b / 13056;
        *static_cast<BYTE*>(raw) = static_cast<BYTE>(index);
    }
};

template <bool Descending>
struct GreyIndex {
    static void from16(const TRDIB*, void* raw, const Rgbq16* in)
    {
        const uint32_t y = (weigh_round(in->red, 77) + weigh_round(in->green, 151) + weigh_round(in->blue, 28)) >> 8;
        *static_cast<BYTE*>(raw) = static_cast<BYTE>(Descending ? 255 - y : y);
    }
};

struct Pack555 {
    static void from16(const TRDIB*, void* raw, const Rgbq16* in)
    {
        store_u16(raw, static_cast<WORD>((in->blue >> 11) | ((in->green >> 11) << 5) | ((in->red >> 11) << 10)));
    }
};

// The inverse of field_to16; the result is kept inside the mask so that a
// mask with gaps cannot spill into another channel's bits.
inline uint32_t field_from16(WORD channel, const TRDIB* rd, int c)
{
    return ((static_cast<uint32_t>(channel) >> (16u - rd->maskBits[c])) << rd->maskShift[c]) & rd->masks[c];
}

struct PackBitfields16 {
    static void from16(const TRDIB* rd, void* raw, const Rgbq16* in)
    {
        store_u16(raw, static_cast<WORD>(field_from16(in->red, rd, 0) | field_from16(in->green, rd, 1) |
                                         field_from16(in->blue, rd, 2)));
    }
};

template <unsigned N>
struct HighBytes {
    static void from16(const TRDIB*, void* raw, const Rgbq16* in)
    {
        BYTE b[4] = {static_cast<BYTE>(in->blue >> 8), static_cast<BYTE>(in->green >> 8), static_cast<BYTE>(in->red >> 8),
                     static_cast<BYTE>(in->reserved >> 8)};
        std::memcpy(raw, b, N);
    }
};

struct PackCmyk {
    static void from16(const TRDIB*, void* raw, const Rgbq16* in)
    {
        BYTE b[4] = {static_cast<BYTE>(255 - (in->blue >> 8)), static_cast<BYTE>(255 - (in->green >> 8)),
                     static_cast<BYTE>(255 - (in->red >> 8)), 0};
        std::memcpy(raw, b, 4);
    }
};

// Truncating weighted grey of the single-pixel two-plane writer; the line
// writer rounds each term instead.
struct WeightedGrey {
    static void from16(const TRDIB*, void* raw, const Rgbq16* in)
    {
        const uint32_t v = (in->green * 151u + in->blue * 28u + in->red * 77u) >> 8;
        store_u16(raw, static_cast<WORD>(v));
    }
};

// ---------------------------------------------------------------------------
// Formats. Generic<> supplies the generic line routines: storage and
// conversion inlined into one loop over the row, equal by construction to
// the slot-by-slot generic_get_line/generic_set_line. Formats with line
// routines of their own hide these by name.

template <class S, class To, class From>
struct Generic {
    using Store = S;
    using ToRgb = To;
    using FromRgb = From;

    static void get_line(TRDIB* rd, int x, int y, int count, Rgbq16* out)
    {
        const BYTE* row = row_of(rd, y);
        for (int i = 0; i < count; ++i) {
            alignas(8) BYTE raw[8] = {};
            S::read(rd, row, x + i, raw);
            To::to16(rd, raw, &out[i]);
        }
    }
    static void set_line(TRDIB* rd, int x, int y, int count, const Rgbq16* in)
    {
        BYTE* row = row_of(rd, y);
        for (int i = 0; i < count; ++i) {
            alignas(8) BYTE raw[8] = {};
            From::from16(rd, raw, &in[i]);
            S::write(rd, row, x + i, raw);
        }
    }
};

struct Fmt1BlackWhite : Generic<Store1, BlackWhiteExpand, Threshold<false>> {
    // Walks the row's bits most significant first, one byte fetch per 8 pixels.
    static void get_line(TRDIB* rd, int x, int y, int count, Rgbq16* out)
    {
        const BYTE* p = row_of(rd, y) + (static_cast<size_t>(x) >> 3);
        unsigned mask = 0x80u >> (x & 7);
        unsigned byte = count > 0 ? *p : 0;
        for (int i = 0; i < count; ++i) {
            const WORD v = (byte & mask) ? 0xFFFF : 0;
            out[i] = Rgbq16{v, v, v, 0};
            mask >>= 1;
            if (mask == 0 && i + 1 < count) {
                mask = 0x80;
                byte = *++p;
            }
        }
    }
};
struct Fmt1WhiteBlack : Generic<Store1, PaletteLookup, Threshold<true>> {};
// Palette images written by nearest colour: the line writer keeps the
// nearest-colour cache locked for the whole run, which is most of the cost
// of a per-pixel search once the cache is warm.
template <class S, unsigned RawBytes>
struct PaletteNearest : Generic<S, PaletteLookup, Nearest<RawBytes>> {
    static void set_line(TRDIB* rd, int x, int y, int count, const Rgbq16* in)
    {
        NearestSearch search(rd);
        BYTE* row = row_of(rd, y);
        for (int i = 0; i < count; ++i) {
            alignas(8) BYTE raw[8] = {};
            Nearest<RawBytes>::store(raw, search.find(colour_word(&in[i])));
            S::write(rd, row, x + i, raw);
        }
    }
};

struct Fmt1Palette : PaletteNearest<Store1, 4> {};
struct Fmt4Palette : PaletteNearest<Store4, 1> {};
struct Fmt8Default : Generic<StoreBytes<1>, PaletteLookup, DefaultIndex> {};
struct Fmt8GreyDown : Generic<StoreBytes<1>, PaletteLookup, GreyIndex<true>> {};
struct Fmt8GreyUp : Generic<StoreBytes<1>, PaletteLookup, GreyIndex<false>> {};
struct Fmt8Palette : PaletteNearest<StoreBytes<1>, 1> {};
struct Fmt16Rgb555 : Generic<StoreBytes<2>, Expand555, Pack555> {};
struct Fmt16Bitfields : Generic<StoreBytes<2>, ExpandBitfields16, PackBitfields16> {};

// 24 and 32 bits: byte expansion and high bytes straight from and to the
// row, N bytes per pixel.
template <unsigned N>
struct FmtBytes : Generic<StoreBytes<N>, ExpandBytes<N>, HighBytes<N>> {
    static void get_line(TRDIB* rd, int x, int y, int count, Rgbq16* out)
    {
        const BYTE* p = row_of(rd, y) + static_cast<size_t>(x) * N;
        for (int i = 0; i < count; ++i, p += N)
            out[i] = Rgbq16{x257(p[0]), x257(p[1]), x257(p[2]), N == 4 ? x257(p[3]) : WORD(0)};
    }
    static void set_line(TRDIB* rd, int x, int y, int count, const Rgbq16* in)
    {
        BYTE* p = row_of(rd, y) + static_cast<size_t>(x) * N;
        for (int i = 0; i < count; ++i, p += N) {
            p[0] = static_cast<BYTE>(in[i].blue >> 8);
            p[1] = static_cast<BYTE>(in[i].green >> 8);
            p[2] = static_cast<BYTE>(in[i].red >> 8);
            if constexpr (N == 4)
                p[3] = static_cast<BYTE>(in[i].reserved >> 8);
        }
    }
};
struct Fmt24 : FmtBytes<3> {};
struct Fmt32 : FmtBytes<4> {};
struct Fmt32Cmyk : Generic<StoreBytes<4>, ExpandCmyk, PackCmyk> {};

// Two-plane grey. The line routines deliberately differ from the pixel
// pair: reading leaves reserved 0, and writing rounds each weighted term.
struct FmtPlane8 : Generic<StorePlane8, ReplicateGrey, WeightedGrey> {
    static void get_line(TRDIB* rd, int x, int y, int count, Rgbq16* out)
    {
        const BYTE* hi = row_of(rd, y) + x;
        const BYTE* lo = hi + rd->dwOffsetLSB;
        for (int i = 0; i < count; ++i) {
            const WORD v = static_cast<WORD>((hi[i] << 8) | lo[i]);
            out[i] = Rgbq16{v, v, v, 0};
        }
    }
    static void set_line(TRDIB* rd, int x, int y, int count, const Rgbq16* in)
    {
        BYTE* hi = row_of(rd, y) + x;
        BYTE* lo = hi + rd->dwOffsetLSB;
        for (int i = 0; i < count; ++i) {
            const uint32_t v = weigh_round(in[i].red, 77) + weigh_round(in[i].green, 151) + weigh_round(in[i].blue, 28);
            hi[i] = static_cast<BYTE>(v >> 8);
            lo[i] = static_cast<BYTE>(v);
        }
    }
};

template <unsigned N>
struct FmtPlaneColour : Generic<StorePlaneColour<N>, CopyRgbq16, CopyRgbq16> {
    static void get_line(TRDIB* rd, int x, int y, int count, Rgbq16* out)
    {
        const BYTE* hi = row_of(rd, y) + static_cast<size_t>(x) * N;
        const BYTE* lo = hi + rd->dwOffsetLSB;
        for (int i = 0; i < count; ++i, hi += N, lo += N) {
            out[i].blue = static_cast<WORD>((hi[0] << 8) | lo[0]);
            out[i].green = static_cast<WORD>((hi[1] << 8) | lo[1]);
            out[i].red = static_cast<WORD>((hi[2] << 8) | lo[2]);
            out[i].reserved = N == 4 ? static_cast<WORD>((hi[3] << 8) | lo[3]) : WORD(0);
        }
    }
    static void set_line(TRDIB* rd, int x, int y, int count, const Rgbq16* in)
    {
        BYTE* hi = row_of(rd, y) + static_cast<size_t>(x) * N;
        BYTE* lo = hi + rd->dwOffsetLSB;
        for (int i = 0; i < count; ++i, hi += N, lo += N) {
            const WORD ch[4] = {in[i].blue, in[i].green, in[i].red, in[i].reserved};
            for (unsigned c = 0; c < N; ++c) {
                hi[c] = static_cast<BYTE>(ch[c] >> 8);
                lo[c] = static_cast<BYTE>(ch[c]);
            }
        }
    }
};
struct FmtPlane24 : FmtPlaneColour<3> {};
struct FmtPlane32 : FmtPlaneColour<4> {};

// ---------------------------------------------------------------------------
// The generic body: the six slots of one format.

template <class F>
struct Slots {
    static void get_pixel(TRDIB* rd, int x, int y, void* raw) { F::Store::read(rd, row_of(rd, y), x, raw); }
    static void set_pixel(TRDIB* rd, int x, int y, const void* raw) { F::Store::write(rd, row_of(rd, y), x, raw); }
    static void to16(TRDIB* rd, const void* raw, Rgbq16* out) { F::ToRgb::to16(rd, raw, out); }
    static void from16(TRDIB* rd, void* raw, const Rgbq16* in) { F::FromRgb::from16(rd, raw, in); }
    static void get_line(TRDIB* rd, int x, int y, int count, Rgbq16* out) { F::get_line(rd, x, y, count, out); }
    static void set_line(TRDIB* rd, int x, int y, int count, const Rgbq16* in) { F::set_line(rd, x, y, count, in); }
};

// A format is complete when its traits supply all six pieces the slots call.
template <class F>
concept CompleteFormat = requires(TRDIB* rd, BYTE* row, int i, void* raw, const void* craw, Rgbq16* out,
                                  const Rgbq16* in) {
    F::Store::read(rd, row, i, raw);
    F::Store::write(rd, row, i, craw);
    F::ToRgb::to16(rd, craw, out);
    F::FromRgb::from16(rd, raw, in);
    F::get_line(rd, i, i, i, out);
    F::set_line(rd, i, i, i, in);
};

struct RoutineSet {
    PixelFormat format = kFmtNone;
    FnGetPixel get = nullptr;
    FnSetPixel set = nullptr;
    FnPixelToRgbq16 to16 = nullptr;
    FnRgbq16ToPixel from16 = nullptr;
    FnGetLineRgbq16 getLine = nullptr;
    FnSetLineRgbq16 setLine = nullptr;
    bool filled = false;  // true only from routines_of, which sets all six slots
};

template <class F>
    requires CompleteFormat<F>
constexpr RoutineSet routines_of(PixelFormat format)
{
    return {format,           &Slots<F>::get_pixel, &Slots<F>::set_pixel, &Slots<F>::to16,
            &Slots<F>::from16, &Slots<F>::get_line,  &Slots<F>::set_line,  true};
}

// Indexed by PixelFormat; entry 0 (kFmtNone) is never installed.
constexpr std::array<RoutineSet, kFmtCount> kRoutines = {{
    RoutineSet{},
    routines_of<Fmt1BlackWhite>(kFmt1BlackWhite),
    routines_of<Fmt1WhiteBlack>(kFmt1WhiteBlack),
    routines_of<Fmt1Palette>(kFmt1Palette),
    routines_of<Fmt4Palette>(kFmt4Palette),
    routines_of<Fmt8Default>(kFmt8Default),
    routines_of<Fmt8GreyDown>(kFmt8GreyDown),
    routines_of<Fmt8GreyUp>(kFmt8GreyUp),
    routines_of<Fmt8Palette>(kFmt8Palette),
    routines_of<Fmt16Rgb555>(kFmt16Rgb555),
    routines_of<Fmt16Bitfields>(kFmt16Bitfields),
    routines_of<Fmt24>(kFmt24),
    routines_of<Fmt32>(kFmt32),
    routines_of<Fmt32Cmyk>(kFmt32Cmyk),
    routines_of<FmtPlane8>(kFmtPlane8),
    routines_of<FmtPlane24>(kFmtPlane24),
    routines_of<FmtPlane32>(kFmtPlane32),
}};

// Every format has its entry, in PixelFormat order, made by routines_of. (The
// slots are not compared with null here: under -fsanitize=null GCC no longer
// treats a function's address as non-null in a constant expression.)
constexpr bool table_complete()
{
    for (size_t i = 1; i < kRoutines.size(); ++i)
        if (kRoutines[i].format != static_cast<PixelFormat>(i) || !kRoutines[i].filled)
            return false;
    return true;
}
static_assert(table_complete(), "every pixel format needs all six routines, in PixelFormat order");

// Lowest set bit and number of set bits of a mask already cut to 16 bits.
void describe_mask(DWORD mask, BYTE* shift, BYTE* bits)
{
    *shift = mask ? static_cast<BYTE>(std::countr_zero(mask)) : 0;
    *bits = static_cast<BYTE>(std::popcount(mask));
}

}  // namespace

PixelFormat pixel_format_of(const TRDIB* rd)
{
    if (rd->bmi.biPlanes == 2) {
        switch (rd->BitCount) {
        case 8: return kFmtPlane8;
        case 24: return kFmtPlane24;
        case 32: return kFmtPlane32;
        default: return kFmtNone;
        }
    }
    switch (rd->BitCount) {
    case 1:
        if (rd->PaletteType == kPalBlackWhite)
            return kFmt1BlackWhite;
        return rd->PaletteType == kPalWhiteBlack ? kFmt1WhiteBlack : kFmt1Palette;
    case 4:
        return kFmt4Palette;
    case 8:
        switch (rd->PaletteType) {
        case kPalDefault256: return kFmt8Default;
        case kPalGreyDown: return kFmt8GreyDown;
        case kPalGreyUp: return kFmt8GreyUp;
        default: return kFmt8Palette;
        }
    case 16:
        return rd->bmi.biCompression == BI_BITFIELDS ? kFmt16Bitfields : kFmt16Rgb555;
    case 24:
        return kFmt24;
    case 32:
        // Masks are not consulted at 32 bits: BI_BITFIELDS reads as BI_RGB.
        return is_cmyk(rd->lpbmi) ? kFmt32Cmyk : kFmt32;
    default:
        return kFmtNone;
    }
}

void install_routines(TRDIB* rd, PixelFormat format)
{
    const RoutineSet& r = kRoutines[static_cast<size_t>(format)];
    rd->Format = format;
    rd->fngetPixel = r.get;
    rd->fnSetPixe = r.set;
    rd->fnPixelToRgbq16 = r.to16;
    rd->fnRgbq16ToPixel = r.from16;
    rd->fnGetLineRgbq16 = r.getLine;
    rd->fnSetLineRgbq16 = r.setLine;
    if (format == kFmt16Bitfields) {
        // A 16-bit word holds no bits above 15, so neither do its masks;
        // cutting them keeps every shift count within 0..16.
        for (int c = 0; c < 3; ++c) {
            rd->masks[c] = ld32(rd->lpbmi, rd->bmi.biSize + 4u * c) & 0xFFFFu;
            describe_mask(rd->masks[c], &rd->maskShift[c], &rd->maskBits[c]);
        }
    }
}

void generic_get_line(TRDIB* rd, int x, int y, int count, Rgbq16* out)
{
    for (int i = 0; i < count; ++i) {
        alignas(8) BYTE raw[8] = {};
        rd->fngetPixel(rd, x + i, y, raw);
        rd->fnPixelToRgbq16(rd, raw, &out[i]);
    }
}

void generic_set_line(TRDIB* rd, int x, int y, int count, const Rgbq16* in)
{
    for (int i = 0; i < count; ++i) {
        alignas(8) BYTE raw[8] = {};
        rd->fnRgbq16ToPixel(rd, raw, &in[i]);
        rd->fnSetPixe(rd, x + i, y, raw);
    }
}

}  // namespace kelm
