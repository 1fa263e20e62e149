// Grey scaling by box averaging. A bilevel (1-bit) scan becomes an 8-bit
// image with 65 grey levels (0..64 set pixels out of 64), by one of two
// integer paths that read packed bits directly: an exact 2:1 reduction, and
// ScaleMonoDib, whose boxes tile the source rectangle exactly (column widths
// from a width array, row heights by a running remainder). Everything else
// goes through the pixel accessor with overlapping inclusive boxes and gives
// 24 bits per pixel for colour sources.
#include <algorithm>
#include <array>
#include <bit>
#include <memory>
#include <vector>

#include "colour/colour.h"
#include "pixel/pixel.h"

namespace kelm {

namespace {

struct SCALE {
    int cxDest;
    int cyDest;
    HGLOBAL hDIBIn;
    RECT rcSource;
    int sBitCount;
    TRDIB tin;
    TRDIB tout;
};

// Bit count without the POPCNT instruction, which the baseline targets lack
// (std::popcount would become a library call per box).
inline uint64_t byte_counts(uint64_t v)
{
    v = v - ((v >> 1) & 0x5555555555555555ull);
    v = (v & 0x3333333333333333ull) + ((v >> 2) & 0x3333333333333333ull);
    return (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Full;
}

// Sum of the eight bytes of v, each at most 255.
inline uint32_t byte_sum(uint64_t v)
{
    v = (v & 0x00FF00FF00FF00FFull) + ((v >> 8) & 0x00FF00FF00FF00FFull);
    return static_cast<uint32_t>((v * 0x0001000100010001ull) >> 48);
}

inline uint32_t popcount64(uint64_t v)
{
    return byte_sum(byte_counts(v));
}

inline uint64_t load_be64(const BYTE* p)
{
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v = (v << 8) | p[i];
    return v;
}

// Set bits of bits [pos, pos + n) of a packed row (bit 7 of a byte is its
// leftmost pixel), reading only the bytes the range covers.
inline uint32_t count_bits(const BYTE* row, uint64_t pos, uint64_t n)
{
    uint32_t total = 0;
    const BYTE* p = row + (pos >> 3);
    unsigned skip = static_cast<unsigned>(pos & 7);
    while (n > 0) {
        // Gather up to 7 whole bytes big-endian, so 56 - skip bits at once.
        const uint64_t avail = 56 - skip;
        const uint64_t take = n < avail ? n : avail;
        const size_t bytes = static_cast<size_t>((skip + take + 7) >> 3);
        uint64_t v = 0;
        for (size_t i = 0; i < bytes; ++i)
            v = (v << 8) | p[i];
        v <<= 8 * (8 - bytes);  // left-align in 64 bits
        v <<= skip;
        v >>= 64 - take;
        total += popcount64(v);
        n -= take;
        p += (skip + take) >> 3;
        skip = static_cast<unsigned>((skip + take) & 7);
    }
    return total;
}

// 2:1: each result pixel from a 2 x 2 block, 16 per set bit, 63 for four.
void scale_half(SCALE& s, BYTE* out, uint64_t outStride)
{
    static constexpr BYTE kLevel[5] = {0, 16, 32, 48, 63};
    const TRDIB& in = s.tin;
    const bool whiteFirst = in.PaletteReadable > 0 && in.lppal[0].rgbGreen == 255;
    for (int i = 0; i < s.cyDest; ++i) {
        const BYTE* a = in.hpbits + static_cast<uint64_t>(s.rcSource.bottom + 2 * i) * in.WidthBytes;
        const BYTE* b = a + in.WidthBytes;
        BYTE* d = out + static_cast<uint64_t>(i) * outStride;
        for (int j = 0; j < s.cxDest; ++j) {
            const uint64_t x = static_cast<uint64_t>(s.rcSource.left) + 2 * static_cast<uint64_t>(j);
            const unsigned n = count_bits(a, x, 2) + count_bits(b, x, 2);
            d[j] = static_cast<BYTE>(whiteFirst ? 64 - kLevel[n] : kLevel[n]);
        }
    }
}

void ScaleMonoDib(SCALE& s, BYTE* lpbiOut, BYTE* out, uint64_t dBytesPerLine)
{
    const TRDIB& in = s.tin;
    const RGBQUAD zero{0, 0, 0, 0};
    const bool blackFirst = in.PaletteReadable > 0 && std::memcmp(&in.lppal[0], &zero, 4) == 0;
    if (!blackFirst) {
        // ReverseColorPalette: set bits count as dark.
        RGBQUAD* t = reinterpret_cast<RGBQUAD*>(lpbiOut + kInfoHeaderSize);
        for (int k = 0; k < 64; ++k)
            t[k].rgbBlue = t[k].rgbGreen = t[k].rgbRed = static_cast<BYTE>(255 - 4 * k);
        t[64] = zero;
    }
    const int64_t width = static_cast<int64_t>(s.rcSource.right) - s.rcSource.left + 1;
    const int64_t height = static_cast<int64_t>(s.rcSource.top) - s.rcSource.bottom + 1;
    std::vector<uint32_t> pWidthArray(static_cast<size_t>(s.cxDest) + 1, 0);
    for (int i = 0; i < s.cxDest; ++i)
        pWidthArray[static_cast<size_t>(i)] =
            static_cast<uint32_t>((static_cast<int64_t>(i) + 1) * width / s.cxDest - static_cast<int64_t>(i) * width / s.cxDest);
    const int64_t ydiv = height / s.cyDest, ymod = height % s.cyDest;
    int64_t yrun = 0, sourcey = s.rcSource.bottom;
    BYTE* dptrLine = out;
    if (ydiv + (ymod != 0) <= 255) {
        // Row by row: the set bits of each source column over the box's rows
        // are counted first, a byte per column (a box is at most 255 rows
        // high), eight columns at a time by a table that spreads a byte's
        // bits over the bytes of a word (leftmost pixel in the lowest byte,
        // the first in memory on the little-endian targets); each box then
        // adds up its columns.
        static const auto spread = [] {
            std::array<uint64_t, 256> t{};
            for (unsigned v = 0; v < 256; ++v)
                for (unsigned b = 0; b < 8; ++b)
                    if (v & (0x80u >> b))
                        t[v] |= uint64_t{1} << (8 * b);
            return t;
        }();
        const uint64_t firstByte = static_cast<uint64_t>(s.rcSource.left) >> 3;
        const uint64_t lastByte = static_cast<uint64_t>(s.rcSource.right) >> 3;
        const size_t words = static_cast<size_t>(lastByte - firstByte + 1);
        std::vector<uint64_t> columns(words);
        const BYTE* counts = reinterpret_cast<const BYTE*>(columns.data());
        const uint64_t skip = static_cast<uint64_t>(s.rcSource.left) & 7;
        for (int desty = 0; desty < s.cyDest; ++desty) {
            yrun += ymod;
            int64_t srch = ydiv;
            if (yrun >= s.cyDest) {
                ++srch;
                yrun -= s.cyDest;
            }
            std::fill(columns.begin(), columns.end(), 0);
            const BYTE* row = in.hpbits + static_cast<uint64_t>(sourcey) * in.WidthBytes + firstByte;
            for (int64_t r = 0; r < srch; ++r, row += in.WidthBytes)
                for (size_t k = 0; k < words; ++k)
                    columns[k] += spread[row[k]];
            uint64_t pos = skip;
            for (int destx = 0; destx < s.cxDest; ++destx) {
                const uint64_t srcw = pWidthArray[static_cast<size_t>(destx)];
                uint64_t set = 0;
                for (uint64_t k = 0; k < srcw; ++k)
                    set += counts[pos + k];
                dptrLine[destx] = static_cast<BYTE>((64 * set) / (srcw * static_cast<uint64_t>(srch)));
                pos += srcw;
            }
            sourcey += srch;
            dptrLine += dBytesPerLine;
        }
        return;
    }
    for (int desty = 0; desty < s.cyDest; ++desty) {
        yrun += ymod;
        int64_t srch = ydiv;
        if (yrun >= s.cyDest) {
            ++srch;
            yrun -= s.cyDest;
        }
        const BYTE* rows = in.hpbits + static_cast<uint64_t>(sourcey) * in.WidthBytes;
        uint64_t pos = static_cast<uint64_t>(s.rcSource.left);
        for (int destx = 0; destx < s.cxDest; ++destx) {
            const uint64_t srcw = pWidthArray[static_cast<size_t>(destx)];
            uint64_t set = 0;
            const unsigned skip = static_cast<unsigned>(pos & 7);
            if (skip + srcw <= 64 && (pos >> 3) + 8 <= in.WidthBytes && srch <= 31) {
                // The box's bits of each row lie in one 8-byte word inside
                // the row: per-byte counts of up to 31 rows are summed
                // before the bytes are added up.
                const uint64_t keep = srcw == 64 ? ~0ull : ((1ull << srcw) - 1) << (64 - skip - srcw);
                const BYTE* q = rows + (pos >> 3);
                uint64_t bytes = 0;
                for (int64_t r = 0; r < srch; ++r, q += in.WidthBytes)
                    bytes += byte_counts(load_be64(q) & keep);
                set = byte_sum(bytes);
            } else {
                for (int64_t r = 0; r < srch; ++r)
                    set += count_bits(rows + static_cast<uint64_t>(r) * in.WidthBytes, pos, srcw);
            }
            dptrLine[destx] = static_cast<BYTE>((64 * set) / (srcw * static_cast<uint64_t>(srch)));
            pos += srcw;
        }
        sourcey += srch;
        dptrLine += dBytesPerLine;
    }
}

// Overlapping inclusive boxes through the accessor, any source depth.
void scale_general(SCALE& s)
{
    const RECT& rc = s.rcSource;
    std::vector<Rgbq16> line;
    for (int dy = 0; dy < s.cyDest; ++dy) {
        const int y0 = rc.bottom + MulDiv(rc.top - rc.bottom, dy, s.cyDest);
        const int y1 = rc.bottom + MulDiv(rc.top - rc.bottom, dy + 1, s.cyDest);
        for (int dx = 0; dx < s.cxDest; ++dx) {
            const int x0 = rc.left + MulDiv(rc.right - rc.left, dx, s.cxDest);
            const int x1 = rc.left + MulDiv(rc.right - rc.left, dx + 1, s.cxDest);
            const uint64_t n = (static_cast<uint64_t>(x1 - x0) + 1) * (static_cast<uint64_t>(y1 - y0) + 1);
            uint64_t sb = 0, sg = 0, sr = 0;
            const int xs = std::max(x0, 0), count = x1 - xs + 1;
            line.resize(static_cast<size_t>(count));
            for (int y = std::max(y0, 0); y <= y1; ++y) {
                s.tin.fnGetLineRgbq16(&s.tin, xs, y, count, line.data());
                for (const Rgbq16& c : line) {
                    sb += c.blue;
                    sg += c.green;
                    sr += c.red;
                }
            }
            alignas(8) BYTE raw[8] = {};
            if (s.sBitCount == 8) {
                raw[0] = static_cast<BYTE>(MulDiv(static_cast<int>(sr / n), 64, 65535));
            } else {
                const Rgbq16 c{static_cast<WORD>(sb / n), static_cast<WORD>(sg / n), static_cast<WORD>(sr / n), 0};
                s.tout.fnRgbq16ToPixel(&s.tout, raw, &c);
            }
            s.tout.fnSetPixe(&s.tout, dx, dy, raw);
        }
    }
}

}  // namespace

HGLOBAL scale_to_gray(HGLOBAL hDib, int cxDest, int cyDest, const RECT* source)
{
    if (!hDib || cxDest < 1 || cyDest < 1)
        return nullptr;
    BITMAPINFOHEADER bi;
    if (!dib_info(hDib, &bi, sizeof bi))
        return nullptr;
    // An image without columns has no rectangle to scale (and biWidth - 1
    // must not overflow).
    if (bi.biWidth <= 0)
        return nullptr;
    auto s = std::make_unique<SCALE>();
    // Rows count in memory order; a top-down image has |height| of them.
    const int64_t rows = bi.biHeight < 0 ? -static_cast<int64_t>(bi.biHeight) : bi.biHeight;
    if (source)
        s->rcSource = *source;
    else
        s->rcSource = RECT{0, static_cast<LONG>(rows - 1), bi.biWidth - 1, 0};
    const RECT& rc = s->rcSource;
    if (rc.left < 0 || rc.bottom < 0 || rc.left > rc.right || rc.bottom > rc.top || rc.right >= bi.biWidth ||
        rc.top >= rows)
        return nullptr;
    s->cxDest = cxDest;
    s->cyDest = cyDest;
    s->hDIBIn = hDib;
    s->sBitCount = bi.biBitCount <= 1 ? 8 : 24;

    HGLOBAL result = create_dib(cxDest, cyDest, static_cast<UINT>(s->sBitCount), 0);
    if (!result)
        return nullptr;
    if (s->sBitCount == 8) {
        BYTE* p = static_cast<BYTE*>(GlobalLock(result));
        if (!p) {
            GlobalFree(result);
            return nullptr;
        }
        RGBQUAD* t = reinterpret_cast<RGBQUAD*>(p + kInfoHeaderSize);
        for (int k = 0; k <= 64; ++k) {
            const BYTE v = static_cast<BYTE>(MulDiv(255, k, 64));
            t[k] = RGBQUAD{v, v, v, 0};
        }
        st32(p, bih::ClrImportant, 65);
        GlobalUnlock(result);
    }
    bool ok = false;
    try {
        ok = trdib_open(hDib, &s->tin) && trdib_open(result, &s->tout);
        if (ok) {
            const int64_t w = static_cast<int64_t>(rc.right) - rc.left, h = static_cast<int64_t>(rc.top) - rc.bottom;
            BYTE* outBits = s->tout.hpbits;
            const uint64_t outStride = s->tout.WidthBytes;
            if (s->sBitCount == 8 && s->tin.BitCount == 1 && cxDest == (w + 1) / 2 && cyDest == (h + 1) / 2)
                scale_half(*s, outBits, outStride);
            else if (s->sBitCount == 8 && s->tin.BitCount == 1 && w > 0 && h > 0 && w >= cxDest && h >= cyDest &&
                     g_state.processorFlag)
                ScaleMonoDib(*s, s->tout.lpbmi, outBits, outStride);
            else
                scale_general(*s);
        }
    } catch (...) {
        trdib_close(&s->tin);
        trdib_close(&s->tout);
        GlobalFree(result);
        throw;
    }
    trdib_close(&s->tin);
    trdib_close(&s->tout);
    if (!ok) {
        GlobalFree(result);
        return nullptr;
    }
    return result;
}

}  // namespace kelm
