// Layout arithmetic of a packed DIB, and the checked lock through which every
// export that takes a handle reaches its image. compute_layout is the only
// code that turns rows, strides and planes into byte counts: with 32-bit
// widths and heights and two planes the product can pass even 2^64, so each
// step is checked and every size is held to kMaxBlockSize.
#include <climits>

#include "dib/dib.h"

namespace kelm {

namespace {

// a x b and a + b, false when the result passes kMaxBlockSize (or 2^64).
bool mul_size(uint64_t a, uint64_t b, uint64_t* r)
{
    return !__builtin_mul_overflow(a, b, r) && *r <= kMaxBlockSize;
}

bool add_size(uint64_t a, uint64_t b, uint64_t* r)
{
    return !__builtin_add_overflow(a, b, r) && *r <= kMaxBlockSize;
}

}  // namespace

bool compute_layout(const DibShape& s, DibLayout* out)
{
    if (s.width < 0 || s.width > INT32_MAX || s.height <= INT32_MIN || s.height > INT32_MAX)
        return false;
    DibLayout l{};
    l.headerSize = s.headerSize;
    l.core = s.headerSize == kCoreHeaderSize;
    l.width = s.width;
    l.height = s.height;
    l.rows = static_cast<uint64_t>(s.height < 0 ? -s.height : s.height);
    l.bitCount = s.bitCount;
    l.planes = s.planes == 2 ? 2 : 1;
    l.compression = l.core ? BI_RGB : s.compression;
    l.compressed = l.compression != BI_RGB && l.compression != BI_BITFIELDS;
    l.maskBytes = l.compression == BI_BITFIELDS ? kMaskBytes : 0;
    if (!mul_size(s.colours, l.core ? 3 : 4, &l.paletteBytes))
        return false;
    if (!add_size(l.headerSize, l.maskBytes, &l.pixelOffset) || !add_size(l.pixelOffset, l.paletteBytes, &l.pixelOffset))
        return false;

    // Rows are padded to 32 bits: stride = ceil(width x bits / 32) x 4.
    uint64_t rowBits;
    if (__builtin_mul_overflow(static_cast<uint64_t>(l.width), uint64_t{l.bitCount}, &rowBits) ||
        rowBits > UINT64_MAX - 31)
        return false;
    l.stride = (rowBits + 31) / 32 * 4;

    if (l.compressed) {
        // The stride only describes rows the data may decode to; whether
        // those fit is the decoder's question, not this block's.
        l.planeBytes = 0;
        l.pixelBytes = s.storedSizeImage;
        if (l.pixelBytes > kMaxBlockSize)
            return false;
    } else if (l.stride > kMaxBlockSize || !mul_size(l.rows, l.stride, &l.planeBytes) ||
               !mul_size(l.planeBytes, l.planes, &l.pixelBytes)) {
        return false;
    }
    if (!add_size(l.pixelOffset, l.pixelBytes, &l.total))
        return false;
    *out = l;
    return true;
}

bool header_shape(const void* p, uint64_t available, DibShape* out)
{
    if (available < 4)
        return false;
    DibShape s;
    s.headerSize = ld32(p, bih::Size);
    if (s.headerSize == kCoreHeaderSize) {
        if (available < kCoreHeaderSize)
            return false;
        s.width = ld16(p, bch::Width);
        s.height = ld16(p, bch::Height);
        s.planes = ld16(p, bch::Planes);
        s.bitCount = ld16(p, bch::BitCount);
        s.compression = BI_RGB;
    } else {
        if (s.headerSize < kInfoHeaderSize || s.headerSize > available)
            return false;
        s.width = static_cast<LONG>(ld32(p, bih::Width));
        s.height = static_cast<LONG>(ld32(p, bih::Height));
        s.planes = ld16(p, bih::Planes);
        s.bitCount = ld16(p, bih::BitCount);
        s.compression = ld32(p, bih::Compression);
        s.storedSizeImage = ld32(p, bih::SizeImage);
    }
    s.colours = num_palette_colors(p);
    *out = s;
    return true;
}

bool dib_layout(const void* p, uint64_t blockSize, DibLayout* out)
{
    DibShape s;
    DibLayout l;
    if (!header_shape(p, blockSize, &s) || !compute_layout(s, &l) || l.total > blockSize)
        return false;
    *out = l;
    return true;
}

LockedDib::LockedDib(HGLOBAL h)
{
    if (!h)
        return;
    BYTE* p = static_cast<BYTE*>(GlobalLock(h));
    if (!p)
        return;
    const uint64_t size = GlobalSize(h);
    if (!dib_layout(p, size, &layout_)) {
        GlobalUnlock(h);
        return;
    }
    handle_ = h;
    bytes_ = p;
    blockSize_ = size;
}

LockedDib::~LockedDib()
{
    if (bytes_)
        GlobalUnlock(handle_);
}

}  // namespace kelm
