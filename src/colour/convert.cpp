// Depth conversion. Expanding to 32 bits is done inside the caller's own
// block, grown first and rewritten from the end backwards so that no second
// image of the full size is needed; every other conversion builds a new image
// of the requested depth and copies it line by line through the pixel
// accessor, whose line writer does the colour reduction (no dithering).
#include <algorithm>
#include <vector>

#include "colour/colour.h"
#include "pixel/pixel.h"

namespace kelm {

namespace {

enum class Expand { Refused, Done };

// 24 to 32 bits backwards within one buffer. Output pixel i (from the start
// of the pixels) lies at 4i, its source at row y, 3x: since a 24-bit stride
// is at most 4 x width, every output lies at or beyond the source bytes
// still to be read, which all lie before the current source pixel.
void expand24(BYTE* base, const BYTE* src, uint64_t width, uint64_t rows, uint64_t stride)
{
    BYTE* out = base + rows * width * 4;
    for (uint64_t y = rows; y-- > 0;) {
        const BYTE* in = src + y * stride + width * 3;
        uint64_t x = width;
        // Four pixels at a time once the output is far enough ahead that the
        // 12 source bytes are read before any of the 16 output bytes lands.
        while (x >= 4 && static_cast<size_t>(out - in) >= 16) {
            in -= 12;
            out -= 16;
            // Whole words on the little-endian targets: bytes 0-7 and 8-11
            // give the four pixels, each widened with a zero fourth byte.
            uint64_t a;
            uint32_t b;
            std::memcpy(&a, in, 8);
            std::memcpy(&b, in + 8, 4);
            const uint64_t lo = (a & 0xFFFFFFu) | ((a >> 24) & 0xFFFFFFu) << 32;
            const uint64_t hi = (a >> 48) | uint64_t{b & 0xFFu} << 16 | uint64_t{(b >> 8) & 0xFFFFFFu} << 32;
            std::memcpy(out, &lo, 8);
            std::memcpy(out + 8, &hi, 8);
            x -= 4;
        }
        while (x-- > 0) {
            in -= 3;
            out -= 4;
            const BYTE b = in[0], g = in[1], r = in[2];
            out[0] = b;
            out[1] = g;
            out[2] = r;
            out[3] = 0;
        }
    }
}

// 16 bits (5-5-5, bit 15 ignored) to 32, backwards like expand24.
void expand16(BYTE* base, const BYTE* src, uint64_t width, uint64_t rows, uint64_t stride)
{
    BYTE* out = base + rows * width * 4;
    for (uint64_t y = rows; y-- > 0;) {
        const BYTE* in = src + y * stride + width * 2;
        for (uint64_t x = width; x-- > 0;) {
            in -= 2;
            out -= 4;
            const unsigned v = static_cast<unsigned>(in[0] | in[1] << 8);
            out[0] = static_cast<BYTE>((v & 31) << 3);
            out[1] = static_cast<BYTE>(((v >> 5) & 31) << 3);
            out[2] = static_cast<BYTE>(((v >> 10) & 31) << 3);
            out[3] = 0;
        }
    }
}

// Indexed pixels (1, 4, 8 bits) to 32: the output overwrites the colour table
// and the first source rows, so the table and the source pixels are read
// from copies. An index beyond the table's entries gives black.
void expand_indexed(BYTE* base, const std::vector<BYTE>& pixels, const std::vector<RGBQUAD>& table,
                    uint64_t width, uint64_t rows, uint64_t stride, uint32_t bits)
{
    RGBQUAD lut[256] = {};
    std::copy_n(table.begin(), std::min<size_t>(table.size(), 256), lut);
    BYTE* out = base;
    for (uint64_t y = 0; y < rows; ++y) {
        const BYTE* in = pixels.data() + y * stride;
        for (uint64_t x = 0; x < width; ++x, out += 4) {
            unsigned i;
            if (bits == 8)
                i = in[x];
            else if (bits == 4)
                i = (x & 1) ? in[x >> 1] & 15u : in[x >> 1] >> 4;
            else
                i = (in[x >> 3] >> (7 - (x & 7))) & 1u;
            std::memcpy(out, &lut[i], 4);
        }
    }
}

Expand expand_in_place(HGLOBAL* phDib)
{
    HGLOBAL h = *phDib;
    DibLayout l;
    BITMAPINFOHEADER bi;
    {
        BYTE* p = static_cast<BYTE*>(GlobalLock(h));
        if (!p)
            return Expand::Refused;
        const bool sound = dib_layout(p, GlobalSize(h), &l);
        if (sound && !l.core)
            std::memcpy(&bi, p, sizeof bi);
        GlobalUnlock(h);
        if (!sound || l.core)
            return Expand::Refused;
    }
    if (l.bitCount == 32 && l.planes == 1)
        return Expand::Done;
    // Only the plain bottom-up one-plane layouts expand in place; a 16-bit
    // image with a colour table is left to the accessor, which knows it.
    if (bi.biSize != kInfoHeaderSize || bi.biCompression != BI_RGB || bi.biHeight <= 0 || l.planes != 1 ||
        (l.bitCount >= 16 && bi.biClrUsed != 0))
        return Expand::Refused;
    if (l.bitCount != 1 && l.bitCount != 4 && l.bitCount != 8 && l.bitCount != 16 && l.bitCount != 24)
        return Expand::Refused;

    DibShape target;
    target.width = l.width;
    target.height = l.height;
    target.bitCount = 32;
    DibLayout tl;
    if (!compute_layout(target, &tl))
        return Expand::Refused;
    const uint64_t newSize = tl.total;
    const uint64_t oldSize = GlobalSize(h);

    // Indexed sources are read from copies, taken before the block can move.
    std::vector<RGBQUAD> table;
    std::vector<BYTE> pixels;
    if (l.bitCount <= 8) {
        const BYTE* p = static_cast<const BYTE*>(GlobalLock(h));
        if (!p)
            return Expand::Refused;
        table.resize(l.paletteBytes / 4);
        if (!table.empty())
            std::memcpy(table.data(), p + l.pixelOffset - l.paletteBytes, table.size() * 4);
        pixels.assign(p + l.pixelOffset, p + l.pixelOffset + l.planeBytes);
        GlobalUnlock(h);
    }

    if (oldSize < newSize) {
        HGLOBAL grown = GlobalReAlloc(h, static_cast<SIZE_T>(newSize), GMEM_MOVEABLE);
        if (!grown)
            return Expand::Refused;
        h = grown;
        *phDib = h;
    }
    BYTE* p = static_cast<BYTE*>(GlobalLock(h));
    if (!p)
        return Expand::Refused;
    BYTE* base = p + kInfoHeaderSize;
    const uint64_t width = static_cast<uint64_t>(l.width);
    // A zero width has no pixels, however many rows it claims: only the
    // header changes.
    if (width > 0 && l.rows > 0) {
        if (l.bitCount == 24)
            expand24(base, p + l.pixelOffset, width, l.rows, l.stride);
        else if (l.bitCount == 16)
            expand16(base, p + l.pixelOffset, width, l.rows, l.stride);
        else
            expand_indexed(base, pixels, table, width, l.rows, l.stride, l.bitCount);
    }

    bi.biBitCount = 32;
    bi.biPlanes = 1;
    bi.biClrUsed = 0;
    bi.biClrImportant = 0;
    bi.biSizeImage = static_cast<DWORD>(tl.planeBytes);
    std::memcpy(p, &bi, sizeof bi);
    GlobalUnlock(h);
    if (GlobalSize(h) > newSize) {
        if (HGLOBAL trimmed = GlobalReAlloc(h, static_cast<SIZE_T>(newSize), GMEM_MOVEABLE))
            *phDib = trimmed;
    }
    return Expand::Done;
}

// A new image of the requested depth filled line by line through the
// accessor. All stored rows are copied, so a top-down source gives the same
// picture top-down.
bool convert_general(HGLOBAL* phDib, int bitCount)
{
    HGLOBAL src = *phDib;
    BITMAPINFOHEADER bi;
    if (!dib_info(src, &bi, sizeof bi))
        return false;
    HGLOBAL dst = create_dib(bi.biWidth, bi.biHeight, static_cast<UINT>(bitCount), 0);
    if (!dst)
        return false;
    if (BYTE* p = static_cast<BYTE*>(GlobalLock(dst))) {
        st32(p, bih::XPels, static_cast<uint32_t>(bi.biXPelsPerMeter));
        st32(p, bih::YPels, static_cast<uint32_t>(bi.biYPelsPerMeter));
        GlobalUnlock(dst);
    }
    // Rows are copied in pieces of at most kChunk pixels: a row of a wide
    // 1-bit image is 64 times larger as 16-bit colours than as bits.
    constexpr int kChunk = 4096;
    std::vector<Rgbq16> line;
    try {
        if (bi.biHeight != 0 && bi.biWidth > 0)
            line.resize(static_cast<size_t>(std::min<LONG>(bi.biWidth, kChunk)));
    } catch (...) {
        GlobalFree(dst);
        throw;
    }
    TRDIB tin{}, tout{};
    bool done = false;
    if (trdib_open(src, &tin) && trdib_open(dst, &tout)) {
        const int width = tin.bmi.biWidth;
        const int64_t rows = tin.bmi.biHeight < 0 ? -static_cast<int64_t>(tin.bmi.biHeight) : tin.bmi.biHeight;
        for (int64_t y = 0; y < rows && width > 0; ++y)
            for (int x = 0; x < width; x += kChunk) {
                const int n = std::min(kChunk, width - x);
                tin.fnGetLineRgbq16(&tin, x, static_cast<int>(y), n, line.data());
                tout.fnSetLineRgbq16(&tout, x, static_cast<int>(y), n, line.data());
            }
        done = true;
    }
    trdib_close(&tin);
    trdib_close(&tout);
    if (!done) {
        GlobalFree(dst);
        return false;
    }
    GlobalFree(src);
    *phDib = dst;
    return true;
}

}  // namespace

BOOL convert_dib(HGLOBAL* phDib, int bitCount)
{
    if (!phDib || !*phDib)
        return FALSE;
    if (bitCount == 32 && expand_in_place(phDib) == Expand::Done)
        return TRUE;
    return convert_general(phDib, bitCount) ? TRUE : FALSE;
}

}  // namespace kelm
