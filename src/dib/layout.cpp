// Layout arithmetic of a packed DIB, done in 64 bits, and the checked lock
// that keeps every export from reading or writing past the end of a block
// whose header claims more than the block holds.
#include "dib/dib.h"

namespace kelm {

bool dib_layout(const void* p, uint64_t blockSize, DibLayout* out)
{
    DibLayout l{};
    if (blockSize < 4)
        return false;
    l.headerSize = ld32(p, bih::Size);
    if (l.headerSize == kCoreHeaderSize) {
        if (blockSize < kCoreHeaderSize)
            return false;
        l.core = true;
        l.width = ld16(p, bch::Width);
        l.height = ld16(p, bch::Height);
        l.planes = ld16(p, bch::Planes) == 2 ? 2 : 1;
        l.bitCount = ld16(p, bch::BitCount);
        l.compression = BI_RGB;
    } else {
        if (l.headerSize < kInfoHeaderSize || l.headerSize > blockSize)
            return false;
        l.width = static_cast<LONG>(ld32(p, bih::Width));
        l.height = static_cast<LONG>(ld32(p, bih::Height));
        l.planes = ld16(p, bih::Planes) == 2 ? 2 : 1;
        l.bitCount = ld16(p, bih::BitCount);
        l.compression = ld32(p, bih::Compression);
        if (l.width < 0)
            return false;
    }
    l.maskBytes = l.compression == BI_BITFIELDS ? kMaskBytes : 0;
    l.paletteBytes = palette_size(p);
    l.pixelOffset = l.headerSize + l.maskBytes + l.paletteBytes;
    l.stride = stride_of(l.width, l.bitCount);
    const uint64_t rows = static_cast<uint64_t>(l.height < 0 ? -l.height : l.height);
    if (l.compression == BI_RGB || l.compression == BI_BITFIELDS)
        l.pixelBytes = rows * l.stride * l.planes;
    else
        l.pixelBytes = ld32(p, bih::SizeImage);  // compressed data: its stored length
    l.total = l.pixelOffset + l.pixelBytes;
    if (l.total > blockSize)
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
