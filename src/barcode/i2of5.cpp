// Interleaved 2 of 5: digits in pairs, the first of a pair in the five bars,
// the second in the five spaces between them, two elements of five wide. The
// narrow width comes from the four narrow elements of the start pattern, the
// wide width from the first pair (four wide and six narrow elements).
#include "barcode/barcode.h"

namespace kelm {
namespace {

// Digit patterns, first element most significant, 1 = wide.
constexpr uint8_t kDigits[10] = {0x06, 0x11, 0x09, 0x18, 0x05, 0x14, 0x0C, 0x03, 0x12, 0x0A};

int digit_of(unsigned pattern)
{
    for (int d = 0; d < 10; ++d)
        if (kDigits[d] == pattern)
            return d;
    return -1;
}

bool decode_i2of5(const uint32_t* runs, int count, int64_t w, int64_t t, char* text)
{
    if (count < 4)
        return false;
    for (int k = 0; k < 4; ++k)
        if (int64_t{runs[k]} * 100 >= t)
            return false;  // the start pattern is four narrow elements
    int p = 4, len = 0;
    text[0] = 0;
    while (count - p >= 4) {
        const uint32_t* e = runs + p;
        // Stop: wide bar, narrow space, narrow bar, then a light run wider
        // than two wide elements (the quiet zone).
        if (int64_t{e[0]} * 100 >= t && int64_t{e[1]} * 100 < t && int64_t{e[2]} * 100 < t &&
            int64_t{e[3]} * 100 > 2 * w)
            return true;
        if (count - p < 10)
            return false;
        unsigned bars = 0, spaces = 0;
        for (int k = 0; k < 5; ++k) {
            bars = bars << 1 | (int64_t{e[2 * k]} * 100 >= t ? 1u : 0u);
            spaces = spaces << 1 | (int64_t{e[2 * k + 1]} * 100 >= t ? 1u : 0u);
        }
        const int first = bars ? digit_of(bars) : -1, second = spaces ? digit_of(spaces) : -1;
        if (first < 0 || second < 0)
            return false;
        // 255 characters fill the text buffer: a longer symbol is dropped.
        if (len + 2 > kTextSize - 1)
            return false;
        text[len++] = static_cast<char>('0' + first);
        text[len++] = static_cast<char>('0' + second);
        text[len] = 0;
        p += 10;
    }
    return false;
}

}  // namespace

void scan_i2of5(BarcodeScan& scan, const uint32_t* runs, int count)
{
    char text[kTextSize];
    for (int s = 0; count - s > 16; s += 2) {
        const int64_t q = runs[s];
        if (q <= 10)
            continue;
        const uint32_t* e = runs + s + 1;
        const int64_t sum4 = int64_t{e[0]} + e[1] + e[2] + e[3];
        int64_t sum10 = 0;
        for (int k = 4; k < 14; ++k)
            sum10 += e[k];
        const int64_t n = sum4 * 100 / 4;
        const int64_t w = (sum10 - bc_muldiv(sum4, 6, 4)) * 100 / 4;
        if (bc_muldiv(n, 180, 100) >= w)
            continue;
        if (q < bc_muldiv(w, 5, 100))
            continue;
        if (decode_i2of5(e, count - s - 1, w, (n + w) / 2, text))
            report_code(scan, text, kBcI2of5);
    }
}

}  // namespace kelm
