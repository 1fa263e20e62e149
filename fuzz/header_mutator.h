// A structure-aware mutation for inputs that hold a DIB header: it edits the
// header's fields as integers, setting them to the boundary values where size
// arithmetic goes wrong (0, 1, 2^30, 0x55555555, INT_MAX, INT_MIN, all ones,
// two planes, ...) or nudging them by a little, which random byte flips
// almost never produce. Other mutations are left to libFuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

namespace kelm_fuzz {

inline constexpr uint32_t kBoundaryValues[] = {
    0,          1,          2,          3,          4,          5,          7,          8,
    12,         16,         24,         32,         40,         48,         64,         108,
    124,        255,        256,        0xFFFF,     0x10000,    0x10014,    1u << 24,   1u << 30,
    0x55555555, 0x7FFFFFFF, 0x80000000, 0x80000001, 0xFFFFFFFF, 0xFFFFFFFE, 2140097343, 1436596963,
    48296,      65535,      40000,      50000,
};

// Field offsets and widths inside a BITMAPINFOHEADER.
struct Field {
    size_t offset, width;
};
inline constexpr Field kInfoFields[] = {{0, 4},  {4, 4},  {8, 4},  {12, 2}, {14, 2},
                                       {16, 4}, {20, 4}, {32, 4}, {36, 4}};

inline uint32_t load_field(const uint8_t* p, size_t width)
{
    uint32_t v = 0;
    for (size_t i = 0; i < width; ++i)
        v |= static_cast<uint32_t>(p[i]) << (8 * i);
    return v;
}

inline void store_field(uint8_t* p, size_t width, uint32_t v)
{
    for (size_t i = 0; i < width; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Mutates the header at `base` (and the 32-bit word at `extraOffset`, when it
// is not 0: the file header's bfOffBits), or hands the input to libFuzzer.
inline size_t mutate_header(uint8_t* data, size_t size, size_t maxSize, unsigned seed, size_t base,
                            size_t extraOffset = 0)
{
    std::minstd_rand rng(seed);
    if (size < base + 40 || rng() % 4 == 0)
        return LLVMFuzzerMutate(data, size, maxSize);
    const int edits = 1 + static_cast<int>(rng() % 3);
    for (int e = 0; e < edits; ++e) {
        const bool extra = extraOffset != 0 && rng() % 8 == 0;
        const Field f = extra ? Field{extraOffset, 4} : kInfoFields[rng() % std::size(kInfoFields)];
        uint8_t* p = data + (extra ? 0 : base) + f.offset;
        const uint32_t old = load_field(p, f.width);
        uint32_t v;
        switch (rng() % 4) {
        case 0:
        case 1: v = kBoundaryValues[rng() % std::size(kBoundaryValues)]; break;
        case 2: v = old + static_cast<uint32_t>(static_cast<int32_t>(rng() % 17) - 8); break;
        default: v = 0u - old; break;  // a sign flip: top-down, negative width
        }
        store_field(p, f.width, v);
    }
    return size;
}

}  // namespace kelm_fuzz
