// A plain reference model of RLE8/RLE4 decoding, shaped differently from the
// library's decoders on purpose: the codes are expanded into single-pixel
// writes with 128-bit addresses, and the first write outside the pixel array
// ends the decode. Used by the RLE fuzzer and the unit tests to check the
// library's decoders pixel for pixel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rle_reference {

// Decodes `codes` into `pixels` (zero-filled by the caller; rows `stride`
// bytes apart); `nibbles` selects RLE4.
inline void decode(const std::vector<uint8_t>& codes, std::vector<uint8_t>& pixels, uint64_t stride, bool nibbles)
{
    using u128 = unsigned __int128;
    size_t in = 0;
    u128 rowStart = 0;  // byte address of the row the current line started in
    u128 column = 0;    // pixels (RLE4) or bytes (RLE8) since that row start
    auto next = [&](uint8_t& b) {
        if (in >= codes.size())
            return false;
        b = codes[in++];
        return true;
    };
    // One pixel; false once a pixel falls outside the array.
    auto pixel = [&](uint8_t value) {
        const u128 address = rowStart + (nibbles ? column / 2 : column);
        if (address >= pixels.size())
            return false;
        uint8_t& byte = pixels[static_cast<size_t>(address)];
        if (!nibbles)
            byte = value;
        else if (column % 2 == 0)
            byte = static_cast<uint8_t>(value << 4);
        else
            byte = static_cast<uint8_t>(byte | value);
        ++column;
        return true;
    };
    for (;;) {
        uint8_t first, second;
        if (!next(first) || !next(second))
            return;
        if (first != 0) {
            for (unsigned i = 0; i < first; ++i) {
                const uint8_t value = !nibbles ? second : (i % 2 == 0 ? second >> 4 : second & 0x0F);
                if (!pixel(value))
                    return;
            }
        } else if (second == 0) {
            rowStart += stride;
            column = 0;
        } else if (second == 1) {
            return;
        } else if (second == 2) {
            uint8_t dx, dy;
            if (!next(dx) || !next(dy))
                return;
            column += dx;
            rowStart += u128(dy) * stride;
        } else {
            // Literal run: bytes (RLE8) or nibble pairs (RLE4), padded so the
            // next code starts on an even offset from the run's first byte.
            const size_t runBytes = nibbles ? (second + 1u) / 2 : second;
            for (unsigned i = 0; i < second; ++i) {
                uint8_t b;
                const size_t at = in + (nibbles ? i / 2 : i);
                if (at >= codes.size())
                    return;
                b = codes[at];
                const uint8_t value = !nibbles ? b : (i % 2 == 0 ? b >> 4 : b & 0x0F);
                if (!pixel(value))
                    return;
            }
            in += runBytes + (runBytes % 2);
        }
    }
}

}  // namespace rle_reference
