// The BMP reader: LoadDIB and LoadDIBFromFile. It reads the file header (if
// any), the DIB header, masks and colour table from an mmio stream, sizes the
// block from what the layout needs and what the stream can supply (never from
// a stored biSizeImage), reads the pixels, decodes RLE and turns top-down rows
// bottom-up. All parsing goes through ByteReader over the bytes read.
#include <algorithm>
#include <climits>
#include <vector>

#include "bmpio/bmpio.h"

namespace kelm {

namespace {

// The stream operations the reader needs, over an HMMIO.
class Stream {
public:
    explicit Stream(HMMIO h) : h_(h) {}

    int64_t tell() { return mmioSeek(h_, 0, SEEK_CUR); }

    bool seek(int64_t pos)
    {
        return pos >= 0 && pos <= LONG_MAX && mmioSeek(h_, static_cast<LONG>(pos), SEEK_SET) == pos;
    }

    // Reads up to n bytes; returns how many arrived.
    uint64_t read(BYTE* p, uint64_t n)
    {
        uint64_t done = 0;
        while (done < n) {
            const LONG chunk = static_cast<LONG>(std::min<uint64_t>(n - done, 1u << 30));
            const LONG got = mmioRead(h_, reinterpret_cast<HPSTR>(p + done), chunk);
            if (got <= 0)
                break;
            done += static_cast<uint64_t>(got);
        }
        return done;
    }

    // The stream's size, or -1 when it cannot tell; the position is kept.
    int64_t size()
    {
        const int64_t here = tell();
        if (here < 0)
            return -1;
        const int64_t end = mmioSeek(h_, 0, SEEK_END);
        if (!seek(here))
            return -1;
        return end;
    }

private:
    HMMIO h_;
};

// The DIB header as read, in the fields of a BITMAPINFOHEADER; a core header
// is converted on the way in.
struct Header {
    uint32_t size = 0;  // 40 or 108 in the result
    bool core = false;
    int32_t width = 0;
    int32_t height = 0;
    uint16_t planes = 0;
    uint16_t bitCount = 0;
    uint32_t compression = 0;
    uint32_t sizeImage = 0;
    int32_t xPels = 0;
    int32_t yPels = 0;
    uint32_t clrUsed = 0;
    uint32_t clrImportant = 0;
};

uint32_t default_colours(uint32_t bits)
{
    switch (bits) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    default: return 0;
    }
}

bool parse_header(std::span<const BYTE> raw, Header* h)
{
    ByteReader r(raw);
    if (!r.u32(&h->size))
        return false;
    if (h->size == kCoreHeaderSize) {
        // OS/2 core header: unsigned 16-bit dimensions, no compression.
        uint16_t w, hh;
        if (!r.u16(&w) || !r.u16(&hh) || !r.u16(&h->planes) || !r.u16(&h->bitCount))
            return false;
        h->core = true;
        h->size = kInfoHeaderSize;
        h->width = w;
        h->height = hh;
        return true;
    }
    return r.i32(&h->width) && r.i32(&h->height) && r.u16(&h->planes) && r.u16(&h->bitCount) &&
           r.u32(&h->compression) && r.u32(&h->sizeImage) && r.i32(&h->xPels) && r.i32(&h->yPels) &&
           r.u32(&h->clrUsed) && r.u32(&h->clrImportant);
}

// The layouts the library works with: 1, 4, 8, 16, 24 or 32 bits in one
// plane, the two-plane 8, 24 and 32 bits, RLE8 at 8 bits, RLE4 at 4 bits,
// BI_BITFIELDS at 16 and 32 bits, a width that is not negative, and a colour
// count that the 16-bit count of the layout can express.
bool supported(const Header& h)
{
    if (h.width < 0 || h.clrUsed > 0xFFFF)
        return false;
    switch (h.bitCount) {
    case 1: case 4: case 8: case 16: case 24: case 32: break;
    default: return false;
    }
    if (h.planes == 2)
        return !h.core && h.compression == BI_RGB && (h.bitCount == 8 || h.bitCount == 24 || h.bitCount == 32);
    if (h.planes != 1)
        return false;
    switch (h.compression) {
    case BI_RGB: return true;
    case BI_RLE8: return h.bitCount == 8;
    case BI_RLE4: return h.bitCount == 4;
    case BI_BITFIELDS: return h.bitCount == 16 || h.bitCount == 32;
    default: return false;
    }
}

void store_header(BYTE* p, const Header& h)
{
    st32(p, bih::Size, h.size);
    st32(p, bih::Width, static_cast<uint32_t>(h.width));
    st32(p, bih::Height, static_cast<uint32_t>(h.height));
    p[bih::Planes] = static_cast<BYTE>(h.planes);
    p[bih::Planes + 1] = static_cast<BYTE>(h.planes >> 8);
    p[bih::BitCount] = static_cast<BYTE>(h.bitCount);
    p[bih::BitCount + 1] = static_cast<BYTE>(h.bitCount >> 8);
    st32(p, bih::Compression, h.compression);
    st32(p, bih::SizeImage, h.sizeImage);
    st32(p, bih::XPels, static_cast<uint32_t>(h.xPels));
    st32(p, bih::YPels, static_cast<uint32_t>(h.yPels));
    st32(p, bih::ClrUsed, h.clrUsed);
    st32(p, bih::ClrImportant, h.clrImportant);
}

// Turns `rows` rows of `stride` bytes upside down in place. A zero-width
// image may still claim two billion rows: nothing to move, so no loop.
void flip_rows(BYTE* bits, uint64_t rows, uint64_t stride)
{
    if (stride == 0)
        return;
    for (uint64_t k = 0; k < rows / 2; ++k) {
        BYTE* a = bits + k * stride;
        BYTE* b = bits + (rows - 1 - k) * stride;
        std::swap_ranges(a, a + stride, b);
    }
}

}  // namespace

HGLOBAL load_dib(HMMIO hmmio)
{
    if (!hmmio)
        return nullptr;
    Stream s(hmmio);

    // Header stage. A stream without "BM" is a packed DIB from its current
    // position; its pixel array follows the colour table.
    const int64_t start = s.tell();
    if (start < 0)
        return nullptr;
    BYTE fileHeader[kFileHeaderSize];
    if (s.read(fileHeader, kFileHeaderSize) != kFileHeaderSize)
        return nullptr;
    ByteReader fr(fileHeader);
    uint16_t type = 0;
    uint32_t offBits = 0;
    fr.u16(&type);
    fr.skip(kFileOffBits - 2);
    fr.u32(&offBits);
    const bool hasFileHeader = type == kBmpSignature;
    if (!hasFileHeader) {
        offBits = 0;
        if (!s.seek(start))
            return nullptr;
    }
    const int64_t headerPos = hasFileHeader ? start + kFileHeaderSize : start;

    // The header size word decides how much more header there is, so that a
    // 12-byte core header is read whole even from a file shorter than 40 bytes.
    BYTE raw[kV4HeaderSize] = {};
    if (s.read(raw, 4) != 4)
        return nullptr;
    const uint32_t fileHeaderBytes = ld32(raw, 0);
    if (fileHeaderBytes != kCoreHeaderSize && fileHeaderBytes != kInfoHeaderSize && fileHeaderBytes != kV4HeaderSize)
        return nullptr;
    if (s.read(raw + 4, fileHeaderBytes - 4) != fileHeaderBytes - 4)
        return nullptr;
    Header h;
    if (!parse_header(std::span<const BYTE>(raw, fileHeaderBytes), &h) || !supported(h))
        return nullptr;
    if (fileHeaderBytes == kV4HeaderSize)
        h.size = kV4HeaderSize;

    const uint32_t count = h.core ? default_colours(h.bitCount) : (h.clrUsed ? h.clrUsed : default_colours(h.bitCount));
    const bool compressed = h.compression == BI_RLE8 || h.compression == BI_RLE4;
    const uint64_t rows = static_cast<uint64_t>(h.height < 0 ? -static_cast<int64_t>(h.height) : h.height);
    const uint64_t stride = stride_of(h.width, h.bitCount);
    const uint64_t need = rows * stride * h.planes;
    if (need > kMaxBlockSize)
        return nullptr;
    if (h.core) {
        h.clrUsed = h.clrImportant = count;
    } else {
        if (compressed && static_cast<int32_t>(h.sizeImage) <= 0)
            h.sizeImage = static_cast<uint32_t>(rows * stride);
        if (h.clrUsed == 0)
            h.clrUsed = count;
        if (h.clrImportant == 1)
            h.clrImportant = 0;
    }

    // Masks. The library keeps them after the header whatever its size; a
    // 108-byte header file whose pixel array leaves no room for them after the
    // header has them inside the header (offset 40), where BMP files put them.
    const uint64_t maskBytes = h.compression == BI_BITFIELDS ? kMaskBytes : 0;
    const uint64_t tableBytes = uint64_t{count} * 4;
    const bool masksInHeader = maskBytes && h.size == kV4HeaderSize && offBits != 0 &&
                               offBits < kFileHeaderSize + kV4HeaderSize + kMaskBytes + tableBytes;
    const uint64_t fileTableBytes = uint64_t{count} * (h.core ? 3 : 4);
    const int64_t pixelStart = offBits != 0 ? start + int64_t{offBits}
                                            : headerPos + fileHeaderBytes + int64_t(masksInHeader ? 0 : maskBytes) +
                                                  int64_t(fileTableBytes);
    const int64_t streamSize = s.size();
    const bool sizeKnown = streamSize >= 0;
    const uint64_t available = sizeKnown && streamSize > pixelStart ? static_cast<uint64_t>(streamSize - pixelStart) : 0;

    // Pixel array size: what the layout needs for uncompressed rows; what the
    // stored size says for RLE, but no more than the stream holds. A stream
    // that supplies too little of an uncompressed array is refused rather
    // than zero-filled into a huge block.
    uint64_t pixelBytes;
    if (compressed) {
        pixelBytes = sizeKnown ? std::min<uint64_t>(h.sizeImage, available) : h.sizeImage;
        h.sizeImage = static_cast<uint32_t>(pixelBytes);
    } else {
        if (sizeKnown && need > available && need - available > std::max(available, kZeroFillAllowance))
            return nullptr;
        pixelBytes = need;
        h.sizeImage = static_cast<uint32_t>(need);
    }
    const uint64_t offset = uint64_t{h.size} + maskBytes + tableBytes;
    if (offset + pixelBytes > kMaxBlockSize)
        return nullptr;

    OwnedGlobal block(GlobalAlloc(GHND, static_cast<SIZE_T>(offset + pixelBytes)));
    if (!block.get())
        return nullptr;
    GlobalLockGuard lock(block.get());
    BYTE* p = lock.get();
    if (!p)
        return nullptr;
    store_header(p, h);
    if (h.size == kV4HeaderSize)
        std::memcpy(p + kInfoHeaderSize, raw + kInfoHeaderSize, kV4HeaderSize - kInfoHeaderSize);
    if (masksInHeader)
        std::memcpy(p + h.size, raw + kInfoHeaderSize, kMaskBytes);
    else if (maskBytes)
        s.read(p + h.size, maskBytes);

    // Colour table; what the stream does not supply stays zero.
    BYTE* table = p + h.size + maskBytes;
    if (h.core) {
        std::vector<BYTE> triples(static_cast<size_t>(fileTableBytes));
        const uint64_t got = s.read(triples.data(), fileTableBytes);
        for (uint64_t i = 0; i < got / 3; ++i) {
            table[4 * i] = triples[3 * i];
            table[4 * i + 1] = triples[3 * i + 1];
            table[4 * i + 2] = triples[3 * i + 2];
        }
    } else if (tableBytes) {
        s.read(table, tableBytes);
    }

    // Pixels: from bfOffBits when the file header gives one. Bytes the stream
    // does not supply stay zero.
    BYTE* bits = p + offset;
    if (offBits == 0 || s.seek(pixelStart))
        s.read(bits, pixelBytes);

    if (!compressed) {
        if (h.height < 0) {
            st32(p, bih::Height, static_cast<uint32_t>(rows));
            for (uint32_t plane = 0; plane < h.planes; ++plane)
                flip_rows(bits + plane * rows * stride, rows, stride);
        }
        lock.unlock();
        return block.release();
    }

    // RLE: decode into a new block. When that is impossible (a 108-byte
    // header, a top-down image, a target the stream could not plausibly fill,
    // no memory) the image is returned as it is stored, still compressed.
    lock.unlock();
    if (h.size == kInfoHeaderSize) {
        HGLOBAL decoded = dib_from_rle(block.get());
        if (decoded)
            return decoded;
    }
    return block.release();
}

HGLOBAL load_dib_from_file(LPCSTR fileName)
{
    MMIOINFO info;
    std::memset(&info, 0, sizeof info);
    HMMIO h = mmioOpenA(const_cast<LPSTR>(fileName), &info, MMIO_READ | MMIO_DENYWRITE);
    if (!h)
        return nullptr;
    MmioCloser closer(h);
    return load_dib(h);
}

}  // namespace kelm
