// RLE decoding: the BI_RLE8 and BI_RLE4 run-length encodings of the BMP
// format, and DIBFromRle, which turns an encoded packed DIB into a new
// uncompressed one. The decoders read the codes through ByteReader and check
// every write against the pixel array, so hostile streams cannot reach memory
// outside either buffer; a stream that ends early leaves the rest at index 0.
#include <algorithm>
#include <cstring>

#include "bmpio/bmpio.h"

namespace kelm {

namespace {

// Position of the decoder: the start of the current row and a column counter
// that keeps counting past the end of the row, so that runs flow on into the
// padding and the next row while end-of-line still goes to the start of the
// row after the current one. `row` is clamped to the array size: beyond it no
// write can land, and the clamp keeps long chains of deltas from wrapping.
struct Cursor {
    uint64_t row = 0;
    uint64_t x = 0;
    uint64_t limit;

    void advance_rows(uint64_t bytes) { row = std::min(row + bytes, limit); }
};

// Fills n bytes at `at` with v; false, with the part that fits written, when
// they would leave the target.
bool fill_bytes(std::span<BYTE> target, uint64_t at, uint64_t n, BYTE v)
{
    if (at >= target.size())
        return n == 0;
    const uint64_t k = std::min<uint64_t>(n, target.size() - at);
    std::memset(target.data() + at, v, static_cast<size_t>(k));
    return k == n;
}

bool copy_bytes(std::span<BYTE> target, uint64_t at, std::span<const BYTE> bytes)
{
    if (at >= target.size())
        return bytes.empty();
    const uint64_t k = std::min<uint64_t>(bytes.size(), target.size() - at);
    std::memcpy(target.data() + at, bytes.data(), static_cast<size_t>(k));
    return k == bytes.size();
}

// Writes 4-bit pixel p at column px of the current row: at an even column the
// byte becomes p in its high nibble (low nibble cleared), at an odd column p
// is ORed into the low nibble, which the even pixel before it left clear.
bool put_nibble(std::span<BYTE> target, const Cursor& c, uint64_t px, BYTE p)
{
    const uint64_t at = c.row + px / 2;
    if (at >= target.size())
        return false;
    if (px & 1)
        target[at] = static_cast<BYTE>(target[at] | p);
    else
        target[at] = static_cast<BYTE>(p << 4);
    return true;
}

// The escapes both encodings share, after a zero count: 0 end of line, 1 end
// of bitmap, 2 delta (two more bytes dx, dy). False, with the reason in
// *end, when decoding stops.
bool common_escape(ByteReader& in, Cursor& c, uint8_t code, uint64_t stride, RleEnd* end)
{
    switch (code) {
    case 0:
        c.advance_rows(stride);
        c.x = 0;
        return true;
    case 1:
        *end = RleEnd::EndOfBitmap;
        return false;
    default: {
        uint8_t dx, dy;
        if (!in.u8(&dx) || !in.u8(&dy)) {
            *end = RleEnd::EndOfData;
            return false;
        }
        c.x += dx;
        c.advance_rows(dy * stride);
        return true;
    }
    }
}

}  // namespace

// RLE8: pairs (n, v). n > 0 repeats byte v n times; n = 0 is an escape: v = 0
// end of line, 1 end of bitmap, 2 delta (two more bytes dx, dy), v >= 3 an
// absolute run of v literal bytes padded to an even length.
RleEnd decode_rle8(std::span<const BYTE> source, std::span<BYTE> target, uint64_t stride)
{
    ByteReader in(source);
    Cursor c{0, 0, target.size()};
    for (;;) {
        uint8_t n, v;
        if (!in.u8(&n) || !in.u8(&v))
            return RleEnd::EndOfData;
        if (n > 0) {
            if (!fill_bytes(target, c.row + c.x, n, v))
                return RleEnd::TargetFull;
            c.x += n;
            continue;
        }
        if (RleEnd end; v < 3) {
            if (!common_escape(in, c, v, stride, &end))
                return end;
            continue;
        }
        const std::span<const BYTE> bytes = in.take(v);
        if (!copy_bytes(target, c.row + c.x, bytes))
            return RleEnd::TargetFull;
        if (bytes.size() < v)
            return RleEnd::EndOfData;
        c.x += v;
        if (v & 1)
            in.skip(1);  // runs are padded to a 16-bit boundary of the stream
    }
}

// RLE4: the same codes with pixels for bytes. An encoded run repeats the two
// nibbles of v alternately, high first; an absolute run of c pixels packs
// two to a byte, high nibble first, in (c + 1) / 2 bytes padded to an even
// length.
RleEnd decode_rle4(std::span<const BYTE> source, std::span<BYTE> target, uint64_t stride)
{
    ByteReader in(source);
    Cursor c{0, 0, target.size()};
    for (;;) {
        uint8_t n, v;
        if (!in.u8(&n) || !in.u8(&v))
            return RleEnd::EndOfData;
        if (n > 0) {
            const BYTE hi = static_cast<BYTE>(v >> 4), lo = static_cast<BYTE>(v & 15);
            for (unsigned i = 0; i < n; ++i)
                if (!put_nibble(target, c, c.x + i, (i & 1) ? lo : hi))
                    return RleEnd::TargetFull;
            c.x += n;
            continue;
        }
        if (RleEnd end; v < 3) {
            if (!common_escape(in, c, v, stride, &end))
                return end;
            continue;
        }
        const unsigned byteCount = (v + 1u) / 2;
        const std::span<const BYTE> bytes = in.take(byteCount);
        const unsigned pixels = std::min<unsigned>(v, static_cast<unsigned>(bytes.size()) * 2);
        for (unsigned i = 0; i < pixels; ++i) {
            const BYTE b = bytes[i / 2];
            if (!put_nibble(target, c, c.x + i, (i & 1) ? static_cast<BYTE>(b & 15) : static_cast<BYTE>(b >> 4)))
                return RleEnd::TargetFull;
        }
        if (pixels < v)
            return RleEnd::EndOfData;
        c.x += v;
        if (byteCount & 1)
            in.skip(1);
    }
}

HGLOBAL dib_from_rle(HGLOBAL hDib)
{
    LockedDib src(hDib);
    if (!src.ok())
        return nullptr;
    const DibLayout& l = src.layout();
    // Only what the result can describe: RLE8 at 8 bits and RLE4 at 4 bits in
    // one plane, or an uncompressed image to copy. Other compressions
    // (BI_BITFIELDS among them) would yield a BI_RGB header over pixels laid
    // out for masks, and a top-down RLE image has no sound row order.
    const bool rle8 = l.compression == BI_RLE8, rle4 = l.compression == BI_RLE4;
    if (l.core || l.height < 0)
        return nullptr;
    if (rle8 && (l.bitCount != 8 || l.planes != 1))
        return nullptr;
    if (rle4 && (l.bitCount != 4 || l.planes != 1))
        return nullptr;
    if (!rle8 && !rle4 && l.compression != BI_RGB)
        return nullptr;
    // The decoded rows' layout: the same shape uncompressed. It must fit a
    // block, and RLE codes must plausibly fill it.
    DibShape shape;
    header_shape(src.bytes(), src.block_size(), &shape);
    shape.compression = BI_RGB;
    DibLayout rows;
    if (!compute_layout(shape, &rows))
        return nullptr;
    const uint64_t targetBytes = rows.pixelBytes;
    if ((rle8 || rle4) && !rle_target_plausible(targetBytes, l.pixelBytes))
        return nullptr;

    OwnedGlobal result(create_compatible_dib(hDib, static_cast<UINT>(l.width), static_cast<LONG>(l.height)));
    if (!result.get())
        return nullptr;
    GlobalLockGuard dst(result.get());
    if (!dst.get())
        return nullptr;
    const std::span<const BYTE> source(src.bytes() + l.pixelOffset, static_cast<size_t>(l.pixelBytes));
    const std::span<BYTE> target(dst.get() + l.pixelOffset, static_cast<size_t>(targetBytes));
    if (rle8 || rle4) {
        // Pixels the stream skips with delta and end-of-line codes, or never
        // reaches, are colour index 0.
        std::memset(target.data(), 0, target.size());
        if (rle8)
            decode_rle8(source, target, rows.stride);
        else
            decode_rle4(source, target, rows.stride);
    } else {
        std::memcpy(target.data(), source.data(), std::min(source.size(), target.size()));
    }
    st32(dst.get(), bih::Compression, BI_RGB);
    dst.unlock();
    return result.release();
}

}  // namespace kelm
