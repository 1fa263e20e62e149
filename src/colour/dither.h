// Pieces shared by the three dithers: the checked source behind a header
// pointer, its rows read as blue, green, red bytes, and the result image.
#pragma once

#include <cstdint>
#include <vector>

#include "colour/colour.h"

namespace kelm {

struct DitherSource {
    const BYTE* header = nullptr;
    const BYTE* pixels = nullptr;   // first stored row
    const RGBQUAD* table = nullptr; // colour table (indexed sources)
    uint32_t tableEntries = 0;
    uint32_t width = 0;
    uint32_t rows = 0;
    uint32_t bitCount = 0;
    uint64_t stride = 0;
};

// Accepts a bottom-up, uncompressed (BI_RGB or BI_BITFIELDS) source of at
// least 1 x 1 pixels with an info header whose layout fits its block (see
// pointer_layout) and whose depth is one of `depths` (a bit set of 1 << bits).
// The pixels lie behind header, masks and colour table.
bool open_dither_source(const void* lpbi, uint64_t depths, DitherSource* src);

// Reads stored row y as blue, green, red bytes: 4 and 8 bits through the
// colour table (an index beyond it reads black), 16 bits as 5-5-5, 24 and 32
// bits as their first three bytes.
void read_bgr_row(const DitherSource& src, uint32_t y, BYTE* bgr);

// The result: a movable, zeroed block with a copy of the source's first 40
// bytes, then biSize 40, planes 1, the given depth, BI_RGB, biSizeImage,
// biClrUsed and biClrImportant as given. Null when it does not fit or memory
// runs out.
HGLOBAL make_dither_result(const DitherSource& src, uint32_t bits, uint32_t clrImportant, DibLayout* layout);

}  // namespace kelm
