// CMYK to RGB. The model is a fixed integer one with cross-talk between the
// inks: each output channel is proportional to (sum of the other two inverted
// inks + 2048) x (own inverted ink + 128) x inverted black, normalised by
// 979714 = 2558 x 383, the product for no ink at all, so that paper is exactly
// white while any ink darkens every channel a little.
#include <algorithm>

#include "colour/colour.h"
#include "dib/dib.h"

namespace kelm {

namespace {

constexpr int32_t kCmykWhite = 979714;  // (255 + 255 + 2048) x (255 + 128) x 255 / 255

inline BYTE clamp_byte(int32_t v)
{
    return static_cast<BYTE>(std::clamp<int32_t>(v, 0, 255));
}

}  // namespace

void cmyk_pixel_to_rgb(const BYTE* src, BYTE* dst)
{
    const int32_t b = 255 - src[0], g = 255 - src[1], r = 255 - src[2], k = 255 - src[3];
    // The largest product, 2558 x 383 x 255, is below 2^31.
    const int32_t blue = (g + r + 2048) * (b + 128) * k / kCmykWhite;
    const int32_t green = (b + r + 2048) * (g + 128) * k / kCmykWhite;
    const int32_t red = (b + g + 2048) * (r + 128) * k / kCmykWhite;
    dst[0] = clamp_byte(blue);
    dst[1] = clamp_byte(green);
    dst[2] = clamp_byte(red);
}

void dib_cmyk_to_rgb(void* lpbi)
{
    BYTE* p = static_cast<BYTE*>(lpbi);
    const int64_t width = static_cast<LONG>(ld32(p, bih::Width));
    int64_t height = static_cast<LONG>(ld32(p, bih::Height));
    if (height < 0)
        height = -height;  // top-down images hold the same number of pixels
    if (width <= 0 || ld16(p, bih::BitCount) != 32)
        return;
    const uint64_t offset = ld32(p, bih::Size) + palette_size(p) + (ld32(p, bih::Compression) == BI_BITFIELDS ? kMaskBytes : 0);
    const uint64_t count = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    // When the pointer is the start of a global block we know its size and
    // refuse an image that claims more pixels than the block holds.
    if (HGLOBAL h = GlobalHandle(lpbi)) {
        const uint64_t size = GlobalSize(h);
        if (offset > size || count > (size - offset) / 4)
            return;
    }
    BYTE* px = p + offset;
    for (uint64_t i = 0; i < count; ++i, px += 4) {
        cmyk_pixel_to_rgb(px, px);
        px[3] = 0;
    }
    st32(p, kCsTypeOffset, kCsTypeAlpha);
}

}  // namespace kelm
