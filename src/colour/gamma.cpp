// Gamma correction by look-up table. The table is 255 x (i / 255)^gamma,
// truncated, in double precision with the constants written out so that
// every build computes the same bytes; colour tables, 8-bit samples, 5-5-5
// words, CMYK inks (inverted, corrected, inverted back) and the 16-bit
// samples of the two-plane form each get the table in their own way.
#include <cmath>
#include <memory>
#include <vector>

#include "colour/colour.h"

namespace kelm {

namespace {

constexpr double kInv255 = 0.00392156862745098;
constexpr double kInv10000 = 0.0001;
constexpr double kInv65280 = 1.5318627450980392e-05;

// The two-plane sample rule: 65280 x (v / 65280)^(10000 / gamma), truncated.
// Samples above 65280 with an exponent above 1 would exceed 16 bits; they are
// clamped to 65535.
inline WORD plane_sample(uint32_t v, double exponent)
{
    const double r = std::trunc(65280.0 * std::pow(v * kInv65280, exponent));
    return r >= 65535.0 ? WORD(65535) : static_cast<WORD>(r);
}

void apply_planes(BYTE* hi, BYTE* lo, uint64_t count, LONG gamma)
{
    const double exponent = 10000.0 / gamma;
    // Past 64 Ki samples a full table of the 65536 values is cheaper than a
    // pow per sample; both give the same numbers.
    if (count > 65536) {
        std::vector<WORD> t(65536);
        for (uint32_t v = 0; v < 65536; ++v)
            t[v] = plane_sample(v, exponent);
        for (uint64_t i = 0; i < count; ++i) {
            const WORD r = t[static_cast<uint32_t>(hi[i] << 8 | lo[i])];
            hi[i] = static_cast<BYTE>(r >> 8);
            lo[i] = static_cast<BYTE>(r);
        }
        return;
    }
    for (uint64_t i = 0; i < count; ++i) {
        const WORD r = plane_sample(static_cast<uint32_t>(hi[i] << 8 | lo[i]), exponent);
        hi[i] = static_cast<BYTE>(r >> 8);
        lo[i] = static_cast<BYTE>(r);
    }
}

// Every byte through the table; pairs of bytes through a 64 Ki-entry table
// of two, which halves the look-ups over a large image.
void map_bytes(BYTE* p, uint64_t n, const BYTE* table)
{
    if (n >= (1u << 20)) {
        std::vector<uint16_t> pair(65536);
        for (uint32_t v = 0; v < 65536; ++v)
            pair[v] = static_cast<uint16_t>(table[v & 255] | table[v >> 8] << 8);
        uint64_t i = 0;
        for (; i + 8 <= n; i += 8) {
            uint64_t w;
            std::memcpy(&w, p + i, 8);
            const uint64_t r = uint64_t{pair[w & 0xFFFF]} | uint64_t{pair[(w >> 16) & 0xFFFF]} << 16 |
                               uint64_t{pair[(w >> 32) & 0xFFFF]} << 32 | uint64_t{pair[w >> 48]} << 48;
            std::memcpy(p + i, &r, 8);
        }
        for (; i < n; ++i)
            p[i] = table[p[i]];
        return;
    }
    for (uint64_t i = 0; i < n; ++i)
        p[i] = table[p[i]];
}

}  // namespace

void gamma_table(LONG gamma, BYTE* table)
{
    // A gamma of 1 and the meaningless non-positive ones give the identity.
    if (gamma == 10000 || gamma <= 0) {
        for (int i = 0; i < 256; ++i)
            table[i] = static_cast<BYTE>(i);
        return;
    }
    const double exponent = gamma * kInv10000;
    for (int i = 0; i < 256; ++i)
        table[i] = static_cast<BYTE>(std::trunc(255.0 * std::pow(i * kInv255, exponent)));
}

void gamma_apply(HGLOBAL hDib, LONG gamma, const BYTE* lpTable)
{
    if (gamma == 10000 || gamma <= 0 || !hDib)
        return;
    BYTE own[256];
    const BYTE* table = lpTable;
    if (!table) {
        gamma_table(gamma, own);
        table = own;
    }
    LockedDib dib(hDib);
    if (!dib.ok() || dib.layout().compressed)
        return;
    const DibLayout& l = dib.layout();
    BYTE* p = dib.bytes();
    if (l.bitCount <= 8) {
        // Colour table only; core headers have 3-byte entries.
        const uint64_t entry = l.core ? 3 : 4;
        BYTE* t = p + l.headerSize;
        for (uint64_t i = 0; i < l.paletteBytes / entry; ++i)
            for (int c = 0; c < 3; ++c)
                t[i * entry + c] = table[t[i * entry + c]];
        return;
    }
    BYTE* px = p + l.pixelOffset;
    if (l.bitCount == 16) {
        // 5-5-5 whatever the masks say; bit 15 comes back 0.
        const uint64_t width = static_cast<uint64_t>(l.width);
        for (uint64_t y = 0; y < l.rows && width > 0; ++y) {
            BYTE* row = px + y * l.stride;
            for (uint64_t x = 0; x < width; ++x) {
                const unsigned v = static_cast<unsigned>(row[2 * x] | row[2 * x + 1] << 8);
                const unsigned r = table[((v >> 10) & 31) << 3], g = table[((v >> 5) & 31) << 3], b = table[(v & 31) << 3];
                const unsigned o = ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
                row[2 * x] = static_cast<BYTE>(o);
                row[2 * x + 1] = static_cast<BYTE>(o >> 8);
            }
        }
        return;
    }
    if (l.planes == 2) {
        uint64_t low = 0;
        if (!second_plane_offset(p, l, dib.block_size(), &low))
            return;
        apply_planes(px, px + low, l.planeBytes, gamma);
        return;
    }
    if (is_cmyk(p)) {
        BYTE inks[256];
        for (int b = 0; b < 256; ++b)
            inks[b] = static_cast<BYTE>(255 - table[255 - b]);
        map_bytes(px, l.planeBytes, inks);
        return;
    }
    map_bytes(px, l.planeBytes, table);
}

}  // namespace kelm
