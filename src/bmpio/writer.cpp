// The BMP writer: SaveDIB and SaveDIBToFile. A file is the 14-byte file
// header followed by the packed DIB exactly as held, in its own compression
// and row order; nothing is converted, so what LoadDIB reads back is the same
// image. Only the bytes the header declares are written (its layout, or its
// biSizeImage when the block holds that much more), so that the file does not
// depend on how the platform rounds block sizes.
#include <algorithm>

#include "bmpio/bmpio.h"

namespace kelm {

namespace {

bool write_all(HMMIO h, const BYTE* p, uint64_t n)
{
    while (n > 0) {
        const LONG chunk = static_cast<LONG>(std::min<uint64_t>(n, 1u << 30));
        if (mmioWrite(h, reinterpret_cast<const char*>(p), chunk) != chunk)
            return false;
        p += chunk;
        n -= static_cast<uint64_t>(chunk);
    }
    return true;
}

}  // namespace

BOOL save_dib(HMMIO hmmio, HGLOBAL hDib)
{
    if (!hmmio || !hDib)
        return FALSE;
    LockedDib dib(hDib);
    if (!dib.ok())
        return FALSE;
    const DibLayout& l = dib.layout();
    // The image's bytes: its layout, or more where biSizeImage says the block
    // holds more pixel bytes than the rows (forms the reader keeps as stored,
    // at depths it does not process), so that such a file comes back whole.
    uint64_t bytes = l.total;
    if (!l.compressed && !l.core)
        bytes = std::max(bytes, std::min<uint64_t>(l.pixelOffset + ld32(dib.bytes(), bih::SizeImage), dib.block_size()));
    // bfSize is a 32-bit field.
    if (bytes + kFileHeaderSize > 0xFFFFFFFFu)
        return FALSE;
    const uint32_t fileSize = static_cast<uint32_t>(bytes + kFileHeaderSize);
    const uint32_t offBits = static_cast<uint32_t>(kFileHeaderSize + l.pixelOffset);
    BYTE fh[kFileHeaderSize] = {'B', 'M'};
    st32(fh, 2, fileSize);
    st32(fh, kFileOffBits, offBits);
    if (!write_all(hmmio, fh, kFileHeaderSize))
        return FALSE;
    return write_all(hmmio, dib.bytes(), bytes) ? TRUE : FALSE;
}

BOOL save_dib_to_file(LPCSTR fileName, HGLOBAL hDib)
{
    // An image that cannot be written must not cost the caller an existing
    // file: check it before the file is created or truncated.
    {
        LockedDib check(hDib);
        if (!check.ok())
            return FALSE;
    }
    MMIOINFO info;
    std::memset(&info, 0, sizeof info);
    HMMIO h = mmioOpenA(const_cast<LPSTR>(fileName), &info, MMIO_CREATE | MMIO_READWRITE);
    if (!h)
        return FALSE;
    MmioCloser closer(h);
    return save_dib(h, hDib);
}

}  // namespace kelm
