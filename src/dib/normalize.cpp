// DIBNormalize: images whose two-colour table is white, black become the same
// picture with the ordinary black, white table, so that later code can take
// index 0 as black.
#include "dib/dib.h"

namespace kelm {

void normalize_dib(HGLOBAL hDib)
{
    LockedDib dib(hDib);
    if (!dib.ok())
        return;
    const DibLayout& l = dib.layout();
    // Only palette depths with whole pixels per byte: at 1 bit every bit
    // flips, at 4 and 8 bits indices 0 and 1 swap. Top-down rows are left
    // alone (only bottom-up images are normal form), and a two-plane image
    // holds samples, not indices.
    if (l.core || l.compression != BI_RGB || l.height < 0 || l.planes != 1)
        return;
    if (l.bitCount != 1 && l.bitCount != 4 && l.bitCount != 8)
        return;
    if (palette_type(dib.bytes()) != kPalWhiteBlack)
        return;
    BYTE* table = dib.bytes() + l.headerSize;
    BYTE* bits = dib.bytes() + l.pixelOffset;
    if (l.bitCount == 1) {
        // Every bit flips, padding included; 32 bits at a time over whole rows.
        const uint64_t words = l.planeBytes / 4;
        for (uint64_t i = 0; i < words; ++i) {
            uint32_t w;
            std::memcpy(&w, bits + 4 * i, 4);
            w = ~w;
            std::memcpy(bits + 4 * i, &w, 4);
        }
    } else {
        // At 4 and 8 bits flipping every bit would give indices past the
        // two-entry table; swap indices 0 and 1 and leave the rest as they are.
        // A zero-width image may claim two billion empty rows: skip them.
        for (uint64_t r = 0; l.width > 0 && r < l.rows; ++r) {
            BYTE* row = bits + r * l.stride;
            for (int64_t x = 0; x < l.width; ++x) {
                if (l.bitCount == 8) {
                    if (row[x] <= 1)
                        row[x] ^= 1;
                } else {
                    BYTE& b = row[x / 2];
                    const int shift = (x % 2) ? 0 : 4;
                    const BYTE v = (b >> shift) & 0x0F;
                    if (v <= 1)
                        b = static_cast<BYTE>((b & ~(0x0F << shift)) | ((v ^ 1) << shift));
                }
            }
        }
    }
    std::memcpy(table, kBlackWhite, sizeof kBlackWhite);
}

}  // namespace kelm
