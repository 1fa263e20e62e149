// The EAN family: EAN-13, EAN-8 and the 2- and 5-digit add-ons. A candidate's
// module width comes from its first guard; the runs are then turned into a
// row of modules, after the mean difference between one-module bars and
// one-module spaces (ink spread or bleaching) has been taken off every bar and
// given to every space. Widths are in thousandths of a pixel.
#include <cstdio>
#include <cstring>

#include "barcode/barcode.h"

namespace kelm {
namespace {

// Odd-parity (L) patterns, 7 modules, first module most significant, 1 =
// dark. R is the complement of L and G the reverse of R.
constexpr uint8_t kL[10] = {0x0D, 0x19, 0x13, 0x3D, 0x23, 0x31, 0x2F, 0x3B, 0x37, 0x0B};
// EAN-13 first digit: the parities of the six left-half digits (G = 1, first
// most significant).
constexpr uint8_t kFirstDigit[10] = {0x00, 0x0B, 0x0D, 0x0E, 0x13, 0x19, 0x1C, 0x15, 0x16, 0x1A};
// 5-digit add-on: the parities of its five digits for each checksum value.
constexpr uint8_t kAddOn5[10] = {0x18, 0x14, 0x12, 0x11, 0x0C, 0x06, 0x03, 0x0A, 0x09, 0x05};

constexpr uint8_t r_of(uint8_t l) { return static_cast<uint8_t>(~l & 0x7F); }
constexpr uint8_t g_of(uint8_t l)
{
    const uint8_t r = r_of(l);
    uint8_t g = 0;
    for (int i = 0; i < 7; ++i)
        g = static_cast<uint8_t>(g | ((r >> i) & 1) << (6 - i));
    return g;
}

unsigned group(const uint8_t* m)
{
    unsigned v = 0;
    for (int i = 0; i < 7; ++i)
        v = v << 1 | m[i];
    return v;
}

bool matches(const uint8_t* m, const char* pattern)
{
    for (int i = 0; pattern[i]; ++i)
        if (m[i] != pattern[i] - '0')
            return false;
    return true;
}

// An L or G digit: the digit, its parity in *g (1 for G); -1 when neither.
int lg_digit(const uint8_t* m, unsigned* g)
{
    const unsigned v = group(m);
    for (int d = 0; d < 10; ++d) {
        if (kL[d] == v) {
            *g = 0;
            return d;
        }
        if (g_of(kL[d]) == v) {
            *g = 1;
            return d;
        }
    }
    return -1;
}

int l_digit(const uint8_t* m)
{
    const unsigned v = group(m);
    for (int d = 0; d < 10; ++d)
        if (kL[d] == v)
            return d;
    return -1;
}

int r_digit(const uint8_t* m)
{
    const unsigned v = group(m);
    for (int d = 0; d < 10; ++d)
        if (r_of(kL[d]) == v)
            return d;
    return -1;
}

// EAN-13 from 95 modules; next/left: the light entry after the symbol.
void decode_ean13(BarcodeScan& scan, const uint8_t* m, const uint32_t* next, int left)
{
    if (!matches(m, "101") || !matches(m + 45, "01010") || !matches(m + 92, "101"))
        return;
    int d[13];
    unsigned parity = 0;
    for (int i = 0; i < 6; ++i) {
        unsigned g;
        d[i + 1] = lg_digit(m + 3 + 7 * i, &g);
        if (d[i + 1] < 0)
            return;
        parity = parity << 1 | g;
    }
    d[0] = -1;
    for (int k = 0; k < 10; ++k)
        if (kFirstDigit[k] == parity)
            d[0] = k;
    if (d[0] < 0)
        return;
    for (int i = 0; i < 6; ++i) {
        d[i + 7] = r_digit(m + 50 + 7 * i);
        if (d[i + 7] < 0)
            return;
    }
    int odd = 0, even = 0;
    for (int i = 0; i < 12; ++i)
        (i % 2 == 0 ? odd : even) += d[i];  // positions 1, 3, ... are odd
    if (d[12] != (10 - (odd + 3 * even) % 10) % 10)
        return;
    char text[14];
    for (int i = 0; i < 13; ++i)
        text[i] = static_cast<char>('0' + d[i]);
    text[13] = 0;
    if ((scan.flags & (kBcEan5 | kBcEan2)) && left >= 9 && scan_ean_addon(scan, text, next, left))
        return;
    report_code(scan, text, kBcEan13);
}

void decode_ean8(BarcodeScan& scan, const uint8_t* m)
{
    if (!matches(m, "101") || !matches(m + 31, "01010") || !matches(m + 64, "101"))
        return;
    int d[8];
    for (int i = 0; i < 4; ++i) {
        d[i] = l_digit(m + 3 + 7 * i);
        d[i + 4] = r_digit(m + 36 + 7 * i);
        if (d[i] < 0 || d[i + 4] < 0)
            return;
    }
    if (d[7] != (10 - (3 * (d[0] + d[2] + d[4] + d[6]) + d[1] + d[3] + d[5]) % 10) % 10)
        return;
    char text[9];
    for (int i = 0; i < 8; ++i)
        text[i] = static_cast<char>('0' + d[i]);
    text[8] = 0;
    report_code(scan, text, kBcEan8);
}

void report_addon(BarcodeScan& scan, const char* prefix, const char* digits, DWORD bits)
{
    if (prefix) {
        char text[13 + 1 + 5 + 1];
        std::snprintf(text, sizeof text, "%s+%s", prefix, digits);
        report_code(scan, text, bits | kBcEan13);
    } else {
        report_code(scan, digits, bits);
    }
}

bool decode_addon5(BarcodeScan& scan, const char* prefix, const uint8_t* m)
{
    if (!matches(m, "1011"))
        return false;
    int d[5];
    unsigned parity = 0;
    for (int i = 0; i < 5; ++i) {
        const uint8_t* at = m + 4 + 9 * i;
        unsigned g;
        d[i] = lg_digit(at, &g);
        if (d[i] < 0)
            return false;
        parity = parity << 1 | g;
        if (i < 4 && !matches(at + 7, "01"))
            return false;
    }
    int k = -1;
    for (int i = 0; i < 10; ++i)
        if (kAddOn5[i] == parity)
            k = i;
    if (k < 0 || k != (3 * (d[0] + d[2] + d[4]) + 9 * (d[1] + d[3])) % 10)
        return false;
    char digits[6];
    for (int i = 0; i < 5; ++i)
        digits[i] = static_cast<char>('0' + d[i]);
    digits[5] = 0;
    report_addon(scan, prefix, digits, kBcEan5);
    return true;
}

bool decode_addon2(BarcodeScan& scan, const char* prefix, const uint8_t* m)
{
    if (!matches(m, "1011") || !matches(m + 11, "01"))
        return false;
    unsigned g1, g2;
    const int d1 = lg_digit(m + 4, &g1), d2 = lg_digit(m + 13, &g2);
    if (d1 < 0 || d2 < 0 || (g1 << 1 | g2) != static_cast<unsigned>((10 * d1 + d2) % 4))
        return false;
    const char digits[3] = {static_cast<char>('0' + d1), static_cast<char>('0' + d2), 0};
    report_addon(scan, prefix, digits, kBcEan2);
    return true;
}

}  // namespace

int64_t symbol_width(const uint32_t* e, int count, int g)
{
    if (count < 3)
        return 0;
    const int64_t m = bc_muldiv(int64_t{e[0]} + e[1] + e[2], 1000, g);
    int64_t sum = 0;
    for (int i = 0; i < count && int64_t{e[i]} * 1000 < 5 * m; ++i)
        sum += e[i];
    return sum * 1000;
}

bool modules_from_runs(const uint32_t* e, int count, int64_t a, int n, uint8_t* modules, int* next)
{
    // One-module elements of the symbol (up to its trailing quiet zone):
    // their mean bar and space widths differ by the ink spread.
    int64_t barSum = 0, spaceSum = 0, bars = 0, spaces = 0;
    for (int i = 0; i < count && int64_t{e[i]} * 1000 < 5 * a; ++i) {
        if (int64_t{e[i]} * 1000 < 3 * a / 2) {
            if (i % 2 == 0) {
                barSum += int64_t{e[i]} * 1000;
                ++bars;
            } else {
                spaceSum += int64_t{e[i]} * 1000;
                ++spaces;
            }
        }
    }
    if (!bars || !spaces)
        return false;
    const int64_t f = barSum / bars - spaceSum / spaces;
    // Each corrected run yields as many modules as it covers past two thirds
    // of a module; the remainder carries into the next run, so rounding
    // errors do not accumulate along the symbol.
    int64_t sum = 0;
    int k = 0, i = 0;
    for (; i < count && k < n; ++i) {
        const bool bar = i % 2 == 0;
        sum += int64_t{e[i]} * 1000 + (bar ? -f : f);
        while (sum > 2 * a / 3 && k < n) {
            modules[k++] = bar ? 1 : 0;
            sum -= a;
        }
    }
    if (k < n || i >= count)
        return false;
    if (sum + int64_t{e[i]} * 1000 <= 5 * a)
        return false;  // no quiet zone of five modules after the symbol
    *next = i;
    return true;
}

bool scan_ean_addon(BarcodeScan& scan, const char* prefix, const uint32_t* runs, int count)
{
    if (count < 4)
        return false;
    const int64_t total = symbol_width(runs + 1, count - 1, 4);
    uint8_t m[47];
    int next;
    bool reported = false;
    if ((scan.flags & kBcEan5) && count >= 18 && modules_from_runs(runs + 1, count - 1, total / 47, 47, m, &next))
        reported = decode_addon5(scan, prefix, m);
    if ((scan.flags & kBcEan2) && count >= 9 && modules_from_runs(runs + 1, count - 1, total / 20, 20, m, &next))
        reported = decode_addon2(scan, prefix, m) || reported;
    return reported;
}

void scan_ean(BarcodeScan& scan, const uint32_t* runs, int count)
{
    uint8_t m[95];
    for (int s = 0; count - s > 9; s += 2) {
        if (runs[s] <= 10)
            continue;
        const uint32_t* e = runs + s + 1;
        const int left = count - s - 1;
        const int64_t total = symbol_width(e, left, 3);
        int next;
        if ((scan.flags & kBcEan13) && count - s > 45 && modules_from_runs(e, left, total / 95, 95, m, &next))
            decode_ean13(scan, m, e + next, left - next);
        if ((scan.flags & kBcEan8) && count - s > 33 && modules_from_runs(e, left, total / 67, 67, m, &next))
            decode_ean8(scan, m);
        if (scan.flags & (kBcEan5 | kBcEan2))
            scan_ean_addon(scan, nullptr, runs + s, count - s);
    }
}

}  // namespace kelm
