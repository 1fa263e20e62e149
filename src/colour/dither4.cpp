// Error diffusion to the standard 16 colours. Three quarters of each error
// are spread (7/16 right, 1/16 below right, 5/16 below, 3/16 below left) in
// signed bytes with saturation, which damps the ringing that the coarse
// 16-colour palette would otherwise show. The nearest colour comes from a
// 64-entry map on the top two bits of each channel. The error line is sized
// from the width and rows are counted in 32 bits, so any size works.
#include <algorithm>
#include <vector>

#include "colour/dither.h"

namespace kelm {

namespace {

// Index (b << 4) | (g << 2) | r of the top two bits of each channel to the
// standard-table entry chosen for that cell.
constexpr BYTE kMap16[64] = {
    0,  1,  1,  9,  2, 3, 3, 9,  2,  3, 3, 11, 10, 10, 11, 11,  //
    4,  5,  5,  9,  6, 7, 7, 8,  6,  7, 8, 8,  10, 8,  8,  8,   //
    4,  5,  5,  13, 6, 7, 8, 8,  6,  8, 8, 8,  14, 8,  8,  15,  //
    12, 12, 13, 13, 12, 8, 8, 8, 14, 8, 8, 15, 14, 8,  15, 15,
};

inline int sat8(int v)
{
    return std::clamp(v, -128, 127);
}

}  // namespace

HGLOBAL dither_to_4(const void* lpbi)
{
    if (!lpbi || ld32(lpbi, bih::Size) != kInfoHeaderSize)
        return nullptr;
    DitherSource src;
    if (!open_dither_source(lpbi, (1u << 8) | (1u << 16) | (1u << 24) | (1ull << 32), &src))
        return nullptr;
    DibLayout l;
    FilledImage result(make_dither_result(src, 4, 16, &l));
    BYTE* p = result.bytes();
    if (!p)
        return nullptr;
    std::memcpy(p + kInfoHeaderSize, kStandard16, sizeof kStandard16);
    BYTE* out = p + l.pixelOffset;

    // The entry's channels straight from the 64 cells of the top two bits.
    int cellValue[3][64];
    for (int i = 0; i < 64; ++i) {
        cellValue[0][i] = kStandard16[kMap16[i]].rgbBlue;
        cellValue[1][i] = kStandard16[kMap16[i]].rgbGreen;
        cellValue[2][i] = kStandard16[kMap16[i]].rgbRed;
    }
    // The four shares of each error e (-255..255): 7/16 ahead, what stays
    // below ahead of that, 5/16 below and 3/16 below behind, as the rule
    // computes them from three quarters of e clamped to a signed byte.
    struct Shares {
        int ahead, belowAhead, below, belowBehind;
    };
    std::vector<Shares> shares(511);
    for (int e = -255; e <= 255; ++e) {
        const int e1 = std::clamp(e - (e >> 2), -128, 127);
        const int half = e1 >> 1, k = e1 - half;
        const int h7 = (7 * half) >> 3, k5 = (5 * k) >> 3;
        shares[static_cast<size_t>(e + 255)] = Shares{h7, half - h7, k5, k - k5};
    }
    const Shares* share = shares.data() + 255;
    const uint32_t w = src.width;
    // Slot x + 1 holds column x; slot 0 is the guard for column -1 and slot
    // w + 1 the one past the last column.
    std::vector<int8_t> err((static_cast<size_t>(w) + 2) * 3, 0);
    std::vector<BYTE> bgr(static_cast<size_t>(w) * 3);
    for (uint32_t y = 0; y < src.rows; ++y, out += l.stride) {
        read_bgr_row(src, y, bgr.data());
        // Columns x - 1 and x of the error line are carried in registers
        // (prev, here) while pixel x adds to them; column x - 1 is final
        // once pixel x is done and is stored then. Column x + 1 is read
        // from the line (the row above's share) before it is restarted.
        int carry[3] = {0, 0, 0}, prev[3], here[3];
        for (int c = 0; c < 3; ++c) {
            prev[c] = err[c];
            here[c] = err[3 + c];
        }
        unsigned acc = 0;
        for (uint32_t x = 0; x < w; ++x) {
            int v[3];
            for (int c = 0; c < 3; ++c)
                v[c] = std::clamp(bgr[3 * x + c] + carry[c], 0, 255);
            const unsigned cellIndex = ((v[0] >> 6) << 4) | ((v[1] >> 6) << 2) | (v[2] >> 6);
            const unsigned index = kMap16[cellIndex];
            acc = (x & 1) ? acc | index : index << 4;
            if (x & 1)
                out[x >> 1] = static_cast<BYTE>(acc);
            int8_t* slotPrev = &err[static_cast<size_t>(x) * 3];  // E[x - 1]
            const int8_t* slotNext = slotPrev + 6;                  // E[x + 1]
            for (int c = 0; c < 3; ++c) {
                const Shares& sh = share[v[c] - cellValue[c][cellIndex]];
                carry[c] = sat8(slotNext[c] + sh.ahead);
                slotPrev[c] = static_cast<int8_t>(sat8(prev[c] + sh.belowBehind));
                prev[c] = sat8(here[c] + sh.below);
                here[c] = static_cast<int8_t>(sh.belowAhead);
            }
        }
        if (w & 1)
            out[(w - 1) >> 1] = static_cast<BYTE>(acc);
        for (int c = 0; c < 3; ++c) {
            err[static_cast<size_t>(w) * 3 + c] = static_cast<int8_t>(prev[c]);
            err[(static_cast<size_t>(w) + 1) * 3 + c] = static_cast<int8_t>(here[c]);
        }
    }
    return result.release();
}

}  // namespace kelm
