// Reference model of a packed DIB's layout for the tests and fuzzers: where
// each part lies and how many bytes the header says the block must hold,
// worked out in 128-bit arithmetic straight from the layout rules, so that it
// shares no code (and no overflow) with the library's own layout function.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>

#include "kelm3.h"

namespace kelm_test {

struct ModelLayout {
    uint64_t pixelOffset;  // header + masks + table
    uint64_t pixelBytes;
    uint64_t total;
};

inline constexpr uint64_t kModelMaxBlock = 0x7FFFFFFF;

// The layout of the header at p (which holds at least `available` bytes), or
// nothing when the header makes no block the library accepts: a size other
// than 12 or 40 and above, a negative width, a height of INT_MIN, or any size
// above 0x7FFFFFFF (a row of uncompressed pixels included).
inline std::optional<ModelLayout> model_layout(const uint8_t* p, uint64_t available)
{
    auto u16 = [&](size_t o) { return static_cast<uint32_t>(p[o] | p[o + 1] << 8); };
    auto u32 = [&](size_t o) { return u16(o) | u16(o + 2) << 16; };
    if (available < 4)
        return std::nullopt;
    const uint32_t size = u32(0);
    __int128 width, height;
    uint32_t planes, bits, comp = 0, clrUsed = 0, sizeImage = 0;
    if (size == 12) {
        if (available < 12)
            return std::nullopt;
        width = u16(4);
        height = u16(6);
        planes = u16(8);
        bits = u16(10);
    } else {
        if (size < 40 || size > available)
            return std::nullopt;
        width = static_cast<int32_t>(u32(4));
        height = static_cast<int32_t>(u32(8));
        planes = u16(12);
        bits = u16(14);
        comp = u32(16);
        sizeImage = u32(20);
        clrUsed = u32(32);
    }
    if (width < 0 || height == INT32_MIN)
        return std::nullopt;
    const __int128 rows = height < 0 ? -height : height;
    __int128 colours = (bits == 1) ? 2 : (bits == 4) ? 16 : (bits == 8) ? 256 : 0;
    if (size != 12 && clrUsed != 0)
        colours = clrUsed % 65536;
    const __int128 masks = (size != 12 && comp == 3) ? 12 : 0;
    const __int128 offset = size + masks + colours * (size == 12 ? 3 : 4);
    const __int128 stride = (width * bits + 31) / 32 * 4;
    const bool compressed = size != 12 && comp != 0 && comp != 3;
    __int128 pixels;
    if (compressed) {
        pixels = sizeImage;
    } else {
        if (stride > kModelMaxBlock)
            return std::nullopt;
        pixels = rows * stride * (planes == 2 ? 2 : 1);
    }
    const __int128 total = offset + pixels;
    if (pixels > kModelMaxBlock || total > kModelMaxBlock)
        return std::nullopt;
    return ModelLayout{static_cast<uint64_t>(offset), static_cast<uint64_t>(pixels), static_cast<uint64_t>(total)};
}

// Whether the reader processes the form of the 40- or 108-byte header at p
// (and so returns it sound): 1, 4, 8, 16, 24 or 32 bits in one plane as
// BI_RGB, RLE8 at 8 bits, RLE4 at 4 bits, BI_BITFIELDS at 16 and 32 bits,
// or two-plane 8, 24 and 32 bits as BI_RGB, with a width of 0 or more. Other
// forms come back as stored and need not fill their layout.
inline bool model_processed_form(const uint8_t* p)
{
    auto u16 = [&](size_t o) { return static_cast<uint32_t>(p[o] | p[o + 1] << 8); };
    const uint32_t comp = u16(16) | u16(18) << 16;
    const int32_t width = static_cast<int32_t>(u16(4) | u16(6) << 16);
    const uint32_t planes = u16(12), bits = u16(14);
    const bool depth = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
    if (width < 0)
        return false;
    if (planes == 2)
        return comp == 0 && (bits == 8 || bits == 24 || bits == 32);
    return planes == 1 && depth &&
           (comp == 0 || (comp == 1 && bits == 8) || (comp == 2 && bits == 4) ||
            (comp == 3 && (bits == 16 || bits == 32)));
}

// Whether the block behind handle h holds the layout its header declares.
inline bool model_fits_block(HGLOBAL h)
{
    const auto* p = static_cast<const uint8_t*>(GlobalLock(h));
    if (!p)
        return false;
    const uint64_t size = GlobalSize(h);
    const auto m = model_layout(p, size);
    GlobalUnlock(h);
    return m && m->total <= size;
}

}  // namespace kelm_test
