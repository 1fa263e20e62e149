// Test-side barcode encoders: each symbology written out from its published
// element tables (kept here in their textual form, independent of the
// library's bit tables), giving element widths, run lists and image rows for
// the decoder and image tests.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace kelm_test {

// Element widths in pixels, first a bar, then alternately space and bar.
using Elements = std::vector<uint32_t>;

// Code 39: per character its nine elements (b s b s b s b s b), n narrow, w wide.
inline const char* code39_pattern(char c)
{
    static const struct {
        char c;
        const char* p;
    } kTable[] = {
        {'0', "nnnwwnwnn"}, {'1', "wnnwnnnnw"}, {'2', "nnwwnnnnw"}, {'3', "wnwwnnnnn"}, {'4', "nnnwwnnnw"},
        {'5', "wnnwwnnnn"}, {'6', "nnwwwnnnn"}, {'7', "nnnwnnwnw"}, {'8', "wnnwnnwnn"}, {'9', "nnwwnnwnn"},
        {'A', "wnnnnwnnw"}, {'B', "nnwnnwnnw"}, {'C', "wnwnnwnnn"}, {'D', "nnnnwwnnw"}, {'E', "wnnnwwnnn"},
        {'F', "nnwnwwnnn"}, {'G', "nnnnnwwnw"}, {'H', "wnnnnwwnn"}, {'I', "nnwnnwwnn"}, {'J', "nnnnwwwnn"},
        {'K', "wnnnnnnww"}, {'L', "nnwnnnnww"}, {'M', "wnwnnnnwn"}, {'N', "nnnnwnnww"}, {'O', "wnnnwnnwn"},
        {'P', "nnwnwnnwn"}, {'Q', "nnnnnnwww"}, {'R', "wnnnnnwwn"}, {'S', "nnwnnnwwn"}, {'T', "nnnnwnwwn"},
        {'U', "wwnnnnnnw"}, {'V', "nwwnnnnnw"}, {'W', "wwwnnnnnn"}, {'X', "nwnnwnnnw"}, {'Y', "wwnnwnnnn"},
        {'Z', "nwwnwnnnn"}, {'-', "nwnnnnwnw"}, {'.', "wwnnnnwnn"}, {' ', "nwwnnnwnn"}, {'$', "nwnwnwnnn"},
        {'/', "nwnwnnnwn"}, {'+', "nwnnnwnwn"}, {'%', "nnnwnwnwn"}, {'*', "nwnnwnwnn"},
    };
    for (const auto& e : kTable)
        if (e.c == c)
            return e.p;
    throw std::invalid_argument("not a Code 39 character");
}

// "*TEXT*" as elements, with gaps of `gap` pixels between characters.
inline Elements code39_elements(const std::string& text, uint32_t narrow, uint32_t wide, uint32_t gap, bool withStars = true)
{
    const std::string full = withStars ? "*" + text + "*" : text;
    Elements out;
    for (size_t i = 0; i < full.size(); ++i) {
        if (i)
            out.push_back(gap);
        for (const char* p = code39_pattern(full[i]); *p; ++p)
            out.push_back(*p == 'w' ? wide : narrow);
    }
    return out;
}

// Interleaved 2 of 5: digit patterns, n narrow, w wide.
inline const char* i2of5_pattern(int d)
{
    static const char* kTable[10] = {"nnwwn", "wnnnw", "nwnnw", "wwnnn", "nnwnw",
                                     "wnwnn", "nwwnn", "nnnww", "wnnwn", "nwnwn"};
    return kTable[d];
}

inline Elements i2of5_elements(const std::string& digits, uint32_t narrow, uint32_t wide)
{
    if (digits.size() % 2)
        throw std::invalid_argument("Interleaved 2 of 5 takes pairs");
    Elements out = {narrow, narrow, narrow, narrow};  // start: bar space bar space
    for (size_t i = 0; i < digits.size(); i += 2) {
        const char* bars = i2of5_pattern(digits[i] - '0');
        const char* spaces = i2of5_pattern(digits[i + 1] - '0');
        for (int k = 0; k < 5; ++k) {
            out.push_back(bars[k] == 'w' ? wide : narrow);
            out.push_back(spaces[k] == 'w' ? wide : narrow);
        }
    }
    out.push_back(wide);  // stop: wide bar, narrow space, narrow bar
    out.push_back(narrow);
    out.push_back(narrow);
    return out;
}

// EAN digit sets as module strings (1 = dark).
inline std::string ean_l(int d)
{
    static const char* kL[10] = {"0001101", "0011001", "0010011", "0111101", "0100011",
                                 "0110001", "0101111", "0111011", "0110111", "0001011"};
    return kL[d];
}
inline std::string ean_r(int d)
{
    std::string s = ean_l(d);
    for (char& c : s)
        c = c == '0' ? '1' : '0';
    return s;
}
inline std::string ean_g(int d)
{
    const std::string r = ean_r(d);
    return std::string(r.rbegin(), r.rend());
}

inline int ean13_check(const std::string& twelve)
{
    int sum = 0;
    for (size_t i = 0; i < 12; ++i)
        sum += (twelve[i] - '0') * (i % 2 ? 3 : 1);
    return (10 - sum % 10) % 10;
}
inline int ean8_check(const std::string& seven)
{
    int sum = 0;
    for (size_t i = 0; i < 7; ++i)
        sum += (seven[i] - '0') * (i % 2 ? 1 : 3);
    return (10 - sum % 10) % 10;
}

// The 95 modules of an EAN-13 of 13 digits (check digit as given).
inline std::string ean13_modules(const std::string& digits)
{
    static const char* kParity[10] = {"LLLLLL", "LLGLGG", "LLGGLG", "LLGGGL", "LGLLGG",
                                      "LGGLLG", "LGGGLL", "LGLGLG", "LGLGGL", "LGGLGL"};
    const char* parity = kParity[digits[0] - '0'];
    std::string m = "101";
    for (int i = 0; i < 6; ++i)
        m += parity[i] == 'L' ? ean_l(digits[1 + i] - '0') : ean_g(digits[1 + i] - '0');
    m += "01010";
    for (int i = 0; i < 6; ++i)
        m += ean_r(digits[7 + i] - '0');
    return m + "101";
}

// The 67 modules of an EAN-8; `leftG` uses G patterns on the left (invalid).
inline std::string ean8_modules(const std::string& digits, bool leftG = false)
{
    std::string m = "101";
    for (int i = 0; i < 4; ++i)
        m += leftG ? ean_g(digits[i] - '0') : ean_l(digits[i] - '0');
    m += "01010";
    for (int i = 4; i < 8; ++i)
        m += ean_r(digits[i] - '0');
    return m + "101";
}

// Add-ons: 5 digits (47 modules) and 2 digits (20 modules).
inline std::string addon5_modules(const std::string& d)
{
    static const char* kParity[10] = {"GGLLL", "GLGLL", "GLLGL", "GLLLG", "LGGLL",
                                      "LLGGL", "LLLGG", "LGLGL", "LGLLG", "LLGLG"};
    const int sum = 3 * (d[0] - '0' + d[2] - '0' + d[4] - '0') + 9 * (d[1] - '0' + d[3] - '0');
    const char* parity = kParity[sum % 10];
    std::string m = "1011";
    for (int i = 0; i < 5; ++i) {
        if (i)
            m += "01";
        m += parity[i] == 'L' ? ean_l(d[i] - '0') : ean_g(d[i] - '0');
    }
    return m;
}
inline std::string addon2_modules(const std::string& d)
{
    const int v = (d[0] - '0') * 10 + (d[1] - '0');
    std::string m = "1011";
    m += v % 4 >= 2 ? ean_g(d[0] - '0') : ean_l(d[0] - '0');
    m += "01";
    m += v % 2 ? ean_g(d[1] - '0') : ean_l(d[1] - '0');
    return m;
}

// Modules (first a '1') to elements of `module` pixels; bars `spread` pixels
// wider and spaces that much narrower (negative: thinner bars).
inline Elements modules_to_elements(const std::string& modules, uint32_t module, int spread = 0)
{
    Elements out;
    for (size_t i = 0; i < modules.size();) {
        size_t j = i;
        while (j < modules.size() && modules[j] == modules[i])
            ++j;
        const bool bar = modules[i] == '1';
        out.push_back(static_cast<uint32_t>(static_cast<int>((j - i) * module) + (bar ? spread : -spread)));
        i = j;
    }
    return out;
}

// A run list: leading light entry, the elements, and a light entry after
// them (more symbols may be appended with append_symbol).
inline std::vector<uint32_t> run_list(uint32_t lead, const Elements& e, uint32_t trail)
{
    std::vector<uint32_t> r{lead};
    r.insert(r.end(), e.begin(), e.end());
    r.push_back(trail);
    return r;
}
inline void append_symbol(std::vector<uint32_t>& runs, const Elements& e, uint32_t trail)
{
    runs.insert(runs.end(), e.begin(), e.end());
    runs.push_back(trail);
}

// One image line (true = dark) of a run list whose ends are real pixels.
inline std::vector<bool> line_of(const std::vector<uint32_t>& runs)
{
    std::vector<bool> px;
    for (size_t i = 0; i < runs.size(); ++i)
        px.insert(px.end(), runs[i], i % 2 == 1);
    return px;
}

}  // namespace kelm_test
