// Floyd-Steinberg to black and white. Rows run right to left; each pixel's
// error goes 7/16 to the next pixel of the row and 3/16, 5/16 and the
// remainder (about 1/16) to the row processed next, in 16-bit integers with
// arithmetic shifts. The remainder term keeps the four shares summing to the
// error exactly, so no error is lost to rounding.
#include <vector>

#include "colour/dither.h"

namespace kelm {

HGLOBAL dither_to_1(const void* lpbi, const BYTE* greyMap)
{
    DitherSource src;
    if (!open_dither_source(lpbi, (1u << 4) | (1u << 8) | (1u << 16) | (1u << 24) | (1ull << 32), &src))
        return nullptr;
    DibLayout l;
    FilledImage result(make_dither_result(src, 1, 2, &l));
    BYTE* p = result.bytes();
    if (!p)
        return nullptr;
    RGBQUAD* table = reinterpret_cast<RGBQUAD*>(p + kInfoHeaderSize);
    table[0] = RGBQUAD{0, 0, 0, 0};
    table[1] = RGBQUAD{255, 255, 255, 0};
    BYTE* out = p + l.pixelOffset;

    const uint32_t w = src.width;
    // A row goes in two passes. The first adds to each pixel's grey the
    // error the row above left in its column; it has no dependency from
    // pixel to pixel. The second runs right to left and carries 7/16 of
    // each pixel's error to the next; everything else it computes (the
    // output bit, the shares for the row below) hangs off that chain
    // without lengthening it.
    std::vector<int16_t> below(static_cast<size_t>(w) + 4, 0);  // column x at x + 1
    std::vector<int16_t> base(w);
    std::vector<BYTE> grey(w);
    std::vector<BYTE> bgr(src.bitCount == 24 || src.bitCount == 32 ? 0 : static_cast<size_t>(w) * 3);
    for (uint32_t y = 0; y < src.rows; ++y, out += l.stride) {
        // True-colour rows go to grey straight from their bytes; the
        // others through the blue, green, red row reader.
        const int16_t* in = below.data() + 1;
        if (src.bitCount == 24 || src.bitCount == 32) {
            grey_row(src.pixels + y * src.stride, src.bitCount / 8, w, grey.data());
        } else {
            read_bgr_row(src, y, bgr.data());
            grey_row(bgr.data(), 3, w, grey.data());
        }
        if (greyMap)
            for (uint32_t x = 0; x < w; ++x)
                base[x] = static_cast<int16_t>(greyMap[grey[x]] + in[x]);
        else
            for (uint32_t x = 0; x < w; ++x)
                base[x] = static_cast<int16_t>(grey[x] + in[x]);
        // The threshold and the output bit are computed without a branch
        // (random images would mispredict half of them), and a byte's
        // eight bits are gathered in a register at fixed positions; the
        // result block starts zeroed, so each byte is written once,
        // whole. The error e of a total t is t - 255 at 128 and above,
        // else t; its 7/16 share is chosen between two products of t,
        // both ready as soon as t is, so that the carried chain is an
        // add, a select and a shift.
        int carry = 0, p1 = 0, p2 = 0;
        int16_t* e16 = below.data();
        const auto step = [&](uint32_t x) -> unsigned {
            const int t = base[x] + carry;
            const int set = t >= 128;
            const int m = 7 * t, mset = m - 7 * 255;
            carry = (set ? mset : m) >> 4;
            const int e = t - (-set & 255);
            const int s3 = (3 * e) >> 4, s5 = (5 * e) >> 4;
            e16[x + 2] = static_cast<int16_t>(s3 + p1);
            p1 = s5 + p2;
            p2 = e - carry - s3 - s5;
            return static_cast<unsigned>(set);
        };
        // The partial byte at the right end first, then whole bytes.
        const uint32_t whole = w & ~7u;
        if (whole < w) {
            unsigned acc = 0;
            for (uint32_t x = w; x-- > whole;)
                acc |= step(x) << (7 - (x & 7));
            out[whole >> 3] = static_cast<BYTE>(acc);
        }
        for (uint32_t j = whole >> 3; j-- > 0;) {
            const uint32_t x = 8 * j;
            unsigned acc = step(x + 7);
            acc |= step(x + 6) << 1;
            acc |= step(x + 5) << 2;
            acc |= step(x + 4) << 3;
            acc |= step(x + 3) << 4;
            acc |= step(x + 2) << 5;
            acc |= step(x + 1) << 6;
            acc |= step(x) << 7;
            out[j] = static_cast<BYTE>(acc);
        }
        e16[1] = static_cast<int16_t>(p1);
        e16[0] = static_cast<int16_t>(p2);
    }
    return result.release();
}

}  // namespace kelm
