// The built-in colour tables: the black/white pair, the standard 16 colours
// and the default 256-colour table that new 8-bit images get. Entries are
// RGBQUAD, so each initialiser reads blue, green, red, reserved.
#include <array>

#include "dib/dib.h"

namespace kelm {

const RGBQUAD kBlackWhite[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};

const RGBQUAD kStandard16[16] = {
    {0, 0, 0, 0},       {0, 0, 128, 0},     {0, 128, 0, 0},     {0, 128, 128, 0},
    {128, 0, 0, 0},     {128, 0, 128, 0},   {128, 128, 0, 0},   {128, 128, 128, 0},
    {192, 192, 192, 0}, {0, 0, 255, 0},     {0, 255, 0, 0},     {0, 255, 255, 0},
    {255, 0, 0, 0},     {255, 0, 255, 0},   {255, 255, 0, 0},   {255, 255, 255, 0},
};

namespace {

// Default 256-colour table: a 6x6x6 cube (index = 36 r + 6 g + b, level l
// meaning 51 l, blue fastest) in 0-215, greys 0, 16 .. 240 in 216-231, white
// in 232, the standard 16 colours in 238-253 and black everywhere else.
constexpr std::array<RGBQUAD, 256> make_default256()
{
    std::array<RGBQUAD, 256> t{};
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                t[r * 36 + g * 6 + b] = RGBQUAD{static_cast<BYTE>(b * 51), static_cast<BYTE>(g * 51),
                                                static_cast<BYTE>(r * 51), 0};
    for (int i = 0; i < 16; ++i)
        t[216 + i] = RGBQUAD{static_cast<BYTE>(i * 16), static_cast<BYTE>(i * 16), static_cast<BYTE>(i * 16), 0};
    t[232] = RGBQUAD{255, 255, 255, 0};
    const BYTE std16[16][3] = {{0, 0, 0},       {0, 0, 128},     {0, 128, 0},     {0, 128, 128},
                               {128, 0, 0},     {128, 0, 128},   {128, 128, 0},   {128, 128, 128},
                               {192, 192, 192}, {0, 0, 255},     {0, 255, 0},     {0, 255, 255},
                               {255, 0, 0},     {255, 0, 255},   {255, 255, 0},   {255, 255, 255}};
    for (int i = 0; i < 16; ++i)
        t[238 + i] = RGBQUAD{std16[i][0], std16[i][1], std16[i][2], 0};
    return t;
}

constexpr std::array<RGBQUAD, 256> kDefault256Array = make_default256();

}  // namespace

const RGBQUAD kDefault256[256] = {
#define E(i) kDefault256Array[i]
#define E8(i) E(i), E(i + 1), E(i + 2), E(i + 3), E(i + 4), E(i + 5), E(i + 6), E(i + 7)
#define E64(i) E8(i), E8(i + 8), E8(i + 16), E8(i + 24), E8(i + 32), E8(i + 40), E8(i + 48), E8(i + 56)
    E64(0), E64(64), E64(128), E64(192)
#undef E64
#undef E8
#undef E
};

}  // namespace kelm
