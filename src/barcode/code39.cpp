// Code 39: nine elements per character (five bars, four spaces), three of
// them wide. The narrow and wide widths are estimated from the start
// character "*" itself (wide at its 2nd, 5th and 7th elements), in hundredths
// of a pixel, and every element is classed against their midpoint.
#include <cstring>

#include "barcode/barcode.h"

namespace kelm {
namespace {

struct Code39Char {
    char c;
    uint16_t pattern;  // 9 bits, first element most significant, 1 = wide
};

// The published character set: digits, capitals, the seven symbols, and "*".
constexpr Code39Char kCode39[] = {
    {'0', 0x034}, {'1', 0x121}, {'2', 0x061}, {'3', 0x160}, {'4', 0x031}, {'5', 0x130}, {'6', 0x070},
    {'7', 0x025}, {'8', 0x124}, {'9', 0x064}, {'A', 0x109}, {'B', 0x049}, {'C', 0x148}, {'D', 0x019},
    {'E', 0x118}, {'F', 0x058}, {'G', 0x00D}, {'H', 0x10C}, {'I', 0x04C}, {'J', 0x01C}, {'K', 0x103},
    {'L', 0x043}, {'M', 0x142}, {'N', 0x013}, {'O', 0x112}, {'P', 0x052}, {'Q', 0x007}, {'R', 0x106},
    {'S', 0x046}, {'T', 0x016}, {'U', 0x181}, {'V', 0x0C1}, {'W', 0x1C0}, {'X', 0x091}, {'Y', 0x190},
    {'Z', 0x0D0}, {'-', 0x085}, {'.', 0x184}, {' ', 0x0C4}, {'$', 0x0A8}, {'/', 0x0A2}, {'+', 0x08A},
    {'%', 0x02A}, {'*', 0x094},
};

// The character of a pattern, or 0 when it is none.
char code39_char(unsigned pattern)
{
    for (const Code39Char& c : kCode39)
        if (c.pattern == pattern)
            return c.c;
    return 0;
}

// Decodes the symbol whose first bar is runs[0] (count entries from there).
bool decode_code39(const uint32_t* runs, int count, int64_t n, int64_t w, char* text)
{
    const int64_t t = (n + w) / 2;
    int p = 0, chars = 0, len = 0;
    bool done = false;
    text[0] = 0;
    while (count - p >= 9 && !done) {
        unsigned pattern = 0;
        for (int k = 0; k < 9; ++k) {
            const int64_t e = int64_t{runs[p + k]} * 100;
            if (e > 2 * w)
                return false;  // an element far wider than a wide one
            pattern = pattern << 1 | (e >= t ? 1u : 0u);
        }
        const char c = code39_char(pattern);
        if (!c)
            return false;
        if (c == '*') {
            if (chars == 0) {
                p += 10;  // the gap after the start character is not tested
            } else {
                p += 9;
                done = true;
            }
        } else {
            if (chars == 0)
                return false;  // a symbol begins with "*"
            if (p + 9 >= count || int64_t{runs[p + 9]} * 100 > 4 * w)
                return false;  // inter-character gap wider than four wide elements
            // 255 characters fill the text buffer; a longer symbol is not
            // truncated into a wrong code but dropped.
            if (len >= kTextSize - 1)
                return false;
            text[len++] = c;
            text[len] = 0;
            p += 10;
        }
        ++chars;
    }
    // The trailing quiet zone: at least five wide elements.
    return done && p < count && int64_t{runs[p]} >= bc_muldiv(w, 5, 100);
}

}  // namespace

void scan_code39(BarcodeScan& scan, const uint32_t* runs, int count)
{
    char text[kTextSize];
    for (int s = 0; count - s > 20; s += 2) {
        const int64_t q = runs[s];
        if (q <= 10)
            continue;
        const uint32_t* e = runs + s + 1;
        int64_t sum = 0;
        for (int k = 0; k < 9; ++k)
            sum += e[k];
        const int64_t wide = int64_t{e[1]} + e[4] + e[6];
        const int64_t w = wide * 100 / 3;
        const int64_t n = (sum * 100 - wide * 100) / 6;
        if (bc_muldiv(n, 180, 100) >= w)
            continue;  // wide elements must be more than 1.8 narrow ones
        if (q < bc_muldiv(w, 5, 100))
            continue;  // leading quiet zone of five wide elements
        if (decode_code39(e, count - s - 1, n, w, text))
            report_code(scan, text, kBcCode39);
    }
}

}  // namespace kelm
