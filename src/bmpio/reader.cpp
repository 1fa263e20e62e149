// The BMP reader: LoadDIB and LoadDIBFromFile. It reads the file header (if
// any), the DIB header, masks and colour table from an mmio stream, sizes the
// pixels of the layouts the library processes from their layout (never from a
// stored biSizeImage) and everything else from the stored size and what the
// stream holds, reads the pixels, decodes RLE and turns top-down rows
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

// The uncompressed layouts the library processes: 1, 4, 8, 16, 24 or 32 bits
// in one plane (BI_BITFIELDS only at 16 and 32), two-plane 8, 24 and 32 bits
// (BI_RGB), with a width that is not negative. They are sized by their layout
// and turned bottom-up; every other uncompressed form is kept as stored.
bool processed_rows(const Header& h)
{
    if (h.width < 0)
        return false;
    if (h.planes == 2)
        return h.compression == BI_RGB && (h.bitCount == 8 || h.bitCount == 24 || h.bitCount == 32);
    if (h.planes != 1)
        return false;
    switch (h.compression) {
    case BI_RGB:
        switch (h.bitCount) {
        case 1: case 4: case 8: case 16: case 24: case 32: return true;
        default: return false;
        }
    case BI_BITFIELDS: return h.bitCount == 16 || h.bitCount == 32;
    default: return false;
    }
}

// RLE data the decoder turns into rows: RLE8 at 8 bits, RLE4 at 4 bits, one
// plane. Other compressed forms (RLE at another depth, JPEG or PNG data,
// codes this library does not know) are returned as stored.
bool decodable_rle(const Header& h)
{
    return h.planes == 1 && ((h.compression == BI_RLE8 && h.bitCount == 8) ||
                             (h.compression == BI_RLE4 && h.bitCount == 4));
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
    if (!parse_header(std::span<const BYTE>(raw, fileHeaderBytes), &h))
        return nullptr;
    if (fileHeaderBytes == kV4HeaderSize)
        h.size = kV4HeaderSize;
    // A top-down height of INT_MIN has no magnitude that fits the field.
    if (h.height == INT32_MIN)
        return nullptr;

    // The colour count is DIBNumPaletteColors of the header as read: the low
    // 16 bits of biClrUsed, or the full table for 1, 4 and 8 bits.
    const uint32_t count = num_palette_colors(raw);
    const bool sized_by_layout = processed_rows(h);
    const bool rle = decodable_rle(h);
    DibShape shape;
    shape.width = h.width;
    shape.height = h.height;
    shape.bitCount = h.bitCount;
    shape.planes = h.planes;
    shape.compression = BI_RGB;  // rows as they are, or will be once decoded
    shape.colours = count;
    DibLayout rows;
    const bool rowsFit = compute_layout(shape, &rows);
    // Rows the library processes are sized by the layout and must fit a
    // block; the 54-byte file that claims two planes of 2^31 rows ends here.
    if (sized_by_layout && !rowsFit)
        return nullptr;
    if (h.core) {
        h.clrUsed = h.clrImportant = count;
    } else {
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

    // Pixel array size. Rows the library processes: what the layout needs; a
    // stream that supplies too little of it is refused rather than
    // zero-filled into a huge block. Everything else (compressed data, other
    // depths and plane counts, a negative width): the stored size, but no more
    // than the stream holds, and biSizeImage then says how much the block
    // holds.
    uint64_t pixelBytes;
    if (sized_by_layout) {
        const uint64_t need = rows.pixelBytes;
        if (sizeKnown && need > available && need - available > std::max(available, kZeroFillAllowance))
            return nullptr;
        pixelBytes = need;
    } else {
        // A stored size of 0 (or negative) means the rows' size; when even
        // that does not fit, whatever the stream holds.
        uint64_t stored = h.sizeImage;
        if (static_cast<int32_t>(h.sizeImage) <= 0)
            stored = rowsFit ? rows.pixelBytes : UINT64_MAX;
        pixelBytes = sizeKnown ? std::min(stored, available) : stored;
    }
    h.sizeImage = static_cast<uint32_t>(pixelBytes);
    const uint64_t offset = uint64_t{h.size} + maskBytes + tableBytes;
    if (pixelBytes > kMaxBlockSize || offset + pixelBytes > kMaxBlockSize)
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
        // Widen RGBTRIPLE to RGBQUAD; a table cut short keeps every byte
        // that arrived, a partial last entry included.
        std::vector<BYTE> triples(static_cast<size_t>(fileTableBytes));
        const uint64_t got = s.read(triples.data(), fileTableBytes);
        for (uint64_t i = 0; i < got; ++i)
            table[4 * (i / 3) + i % 3] = triples[i];
    } else if (tableBytes) {
        s.read(table, tableBytes);
    }

    // Pixels: from bfOffBits when the file header gives one. Bytes the stream
    // does not supply stay zero.
    BYTE* bits = p + offset;
    if (offBits == 0 || s.seek(pixelStart))
        s.read(bits, pixelBytes);

    if (sized_by_layout) {
        if (h.height < 0) {
            st32(p, bih::Height, static_cast<uint32_t>(rows.rows));
            for (uint32_t plane = 0; plane < rows.planes; ++plane)
                flip_rows(bits + plane * rows.planeBytes, rows.rows, rows.stride);
        }
        lock.unlock();
        return block.release();
    }

    // RLE: decode into a new block. When that is impossible (a 108-byte
    // header, a top-down image, an image too large to decode or one the codes
    // could not plausibly fill, no memory) the image is returned as it is
    // stored, still compressed; so is every form the library does not decode.
    lock.unlock();
    if (rle && h.size == kInfoHeaderSize) {
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
