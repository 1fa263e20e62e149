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
    HGLOBAL h = make_dither_result(src, 1, 2, &l);
    if (!h)
        return nullptr;
    BYTE* p = static_cast<BYTE*>(GlobalLock(h));
    if (!p) {
        GlobalFree(h);
        return nullptr;
    }
    RGBQUAD* table = reinterpret_cast<RGBQUAD*>(p + kInfoHeaderSize);
    table[0] = RGBQUAD{0, 0, 0, 0};
    table[1] = RGBQUAD{255, 255, 255, 0};
    BYTE* out = p + l.pixelOffset;

    try {
        BYTE identity[256];
        for (int i = 0; i < 256; ++i)
            identity[i] = static_cast<BYTE>(i);
        const BYTE* map = greyMap ? greyMap : identity;

        const uint32_t w = src.width;
        std::vector<int16_t> err(static_cast<size_t>(w) + 4, 0);
        std::vector<BYTE> bgr(src.bitCount == 24 || src.bitCount == 32 ? 0 : static_cast<size_t>(w) * 3);
        std::vector<BYTE> grey(w);
        for (uint32_t y = 0; y < src.rows; ++y, out += l.stride) {
            // True-colour rows go to grey straight from their bytes; the
            // others through the blue, green, red row reader.
            if (src.bitCount == 24 || src.bitCount == 32) {
                const uint32_t bpp = src.bitCount / 8;
                const BYTE* s = src.pixels + y * src.stride;
                for (uint32_t x = 0; x < w; ++x, s += bpp)
                    grey[x] = map[grey_of(s[0], s[1], s[2])];
            } else {
                read_bgr_row(src, y, bgr.data());
                for (uint32_t x = 0; x < w; ++x)
                    grey[x] = map[grey_of(bgr[3 * x], bgr[3 * x + 1], bgr[3 * x + 2])];
            }
            // The threshold and the output bit are computed without a branch
            // (random images would mispredict half of them), and the bits of
            // a byte are gathered in a register; the result block starts
            // zeroed, so each byte is written once, whole.
            int carry = 0, p1 = 0, p2 = 0;
            int16_t* e16 = err.data();
            unsigned acc = 0;
            for (uint32_t x = w; x-- > 0;) {
                const int total = grey[x] + carry + e16[x + 1];
                const int set = total >= 128;
                acc |= static_cast<unsigned>(set) << (7 - (x & 7));
                if ((x & 7) == 0) {
                    out[x >> 3] = static_cast<BYTE>(acc);
                    acc = 0;
                }
                const int e = total - (-set & 255);
                const int s7 = (7 * e) >> 4, s3 = (3 * e) >> 4, s5 = (5 * e) >> 4;
                carry = s7;
                e16[x + 2] = static_cast<int16_t>(s3 + p1);
                p1 = s5 + p2;
                p2 = e - s7 - s3 - s5;
            }
            e16[1] = static_cast<int16_t>(p1);
            e16[0] = static_cast<int16_t>(p2);
        }
    } catch (...) {
        GlobalUnlock(h);
        GlobalFree(h);
        throw;
    }
    GlobalUnlock(h);
    return h;
}

}  // namespace kelm
