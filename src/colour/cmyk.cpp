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
    // The caller vouches for a 32-bit image. Its layout is still computed
    // (checked), and when the pointer is the start of a global block the
    // layout must lie inside it, so a header claiming more pixels than the
    // block holds changes nothing.
    DibShape shape;
    DibLayout l;
    uint64_t available = UINT64_MAX;
    if (HGLOBAL h = GlobalHandle(lpbi))
        available = GlobalSize(h);
    if (!header_shape(p, available, &shape) || shape.bitCount != 32 || !compute_layout(shape, &l) ||
        l.compressed || l.total > available)
        return;
    // 32-bit rows need no padding: the plane is rows x width pixels, top-down
    // or bottom-up alike.
    BYTE* px = p + l.pixelOffset;
    const uint64_t count = l.planeBytes / 4;
    for (uint64_t i = 0; i < count; ++i, px += 4) {
        cmyk_pixel_to_rgb(px, px);
        px[3] = 0;
    }
    // Only a 108-byte header has the colour-space field that marks CMYK.
    if (l.headerSize == kV4HeaderSize)
        st32(p, kCsTypeOffset, kCsTypeAlpha);
}

}  // namespace kelm
