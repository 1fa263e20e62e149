// Layout checks and allocation shared by the colour operations: the header
// pointers of the dithers are looked up as blocks, and every new image is
// sized by compute_layout.
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "colour/colour.h"

namespace kelm {

bool pointer_layout(const void* lpbi, DibLayout* out, uint64_t* available)
{
    if (!lpbi)
        return false;
    uint64_t size = UINT64_MAX;
    if (HGLOBAL h = GlobalHandle(lpbi))
        size = GlobalSize(h);
    DibShape shape;
    if (!header_shape(lpbi, size, &shape) || !compute_layout(shape, out) || out->total > size)
        return false;
    *available = size;
    return true;
}

bool second_plane_offset(const BYTE* p, const DibLayout& l, uint64_t available, uint64_t* offset)
{
    const uint64_t off = ld32(p, bih::SizeImage) / 2;
    if (l.pixelOffset + off + l.planeBytes > available)
        return false;
    *offset = off;
    return true;
}

HGLOBAL alloc_image(const DibShape& shape, DibLayout* layout)
{
    if (!compute_layout(shape, layout))
        return nullptr;
    return GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, static_cast<SIZE_T>(layout->total));
}

namespace {

#if defined(__SSE2__)
// Four pixels as blue, green, red, x in 32-bit lanes, to their greys in the
// lanes: blue and red paired against 28 and 77, green (and x) against 151
// (and 0), the products summed exactly as grey_of does.
inline __m128i grey4(__m128i px)
{
    const __m128i br = _mm_and_si128(px, _mm_set1_epi32(0x00FF00FF));
    const __m128i gx = _mm_srli_epi16(px, 8);
    const __m128i sum = _mm_add_epi32(_mm_madd_epi16(br, _mm_set1_epi32(77 << 16 | 28)),
                                      _mm_madd_epi16(gx, _mm_set1_epi32(151)));
    return _mm_srli_epi32(sum, 8);
}

// Four 3-byte pixels by 32-bit loads: each reads the next pixel's first byte
// too, so the caller keeps one more pixel beyond the four.
inline __m128i load4x3(const BYTE* s)
{
    uint32_t a, b, c, d;
    std::memcpy(&a, s, 4);
    std::memcpy(&b, s + 3, 4);
    std::memcpy(&c, s + 6, 4);
    std::memcpy(&d, s + 9, 4);
    const __m128i ab = _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(a)), _mm_cvtsi32_si128(static_cast<int>(b)));
    const __m128i cd = _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(c)), _mm_cvtsi32_si128(static_cast<int>(d)));
    return _mm_unpacklo_epi64(ab, cd);
}
#endif

}  // namespace

void grey_row(const BYTE* src, uint32_t bytesPerPixel, uint64_t width, BYTE* out)
{
    uint64_t x = 0;
#if defined(__SSE2__)
    if (bytesPerPixel == 3) {
        // 16 pixels a step while a 17th follows in the row.
        for (; x + 17 <= width; x += 16, src += 48) {
            const __m128i a = _mm_packs_epi32(grey4(load4x3(src)), grey4(load4x3(src + 12)));
            const __m128i b = _mm_packs_epi32(grey4(load4x3(src + 24)), grey4(load4x3(src + 36)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(a, b));
        }
    } else {
        for (; x + 16 <= width; x += 16, src += 64) {
            const __m128i* s = reinterpret_cast<const __m128i*>(src);
            const __m128i a = _mm_packs_epi32(grey4(_mm_loadu_si128(s)), grey4(_mm_loadu_si128(s + 1)));
            const __m128i b = _mm_packs_epi32(grey4(_mm_loadu_si128(s + 2)), grey4(_mm_loadu_si128(s + 3)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(a, b));
        }
    }
#endif
    for (; x < width; ++x, src += bytesPerPixel)
        out[x] = static_cast<BYTE>(grey_of(src[0], src[1], src[2]));
}

}  // namespace kelm
