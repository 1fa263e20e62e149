// The BMP variants the library leaves to its callers. The library reads
// 12-, 40- and 108-byte headers; files from other programs also carry
// 124-byte (V5) headers, the 52- and 56-byte forms that hold the colour masks
// inside the header, and OS/2 2.x headers of 16 to 64 bytes. Their first 40
// bytes mean what a 40-byte header's do (OS/2 2.x headers shorter than that
// end early, the missing fields being 0), so each is rewritten as a 40-byte
// header, or a 108-byte one where masks or colour space matter, followed by
// the same table and pixels. Everything is checked here first so that a
// refusal names its cause instead of ending as a bare NULL.
#include "bmp_edge.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>

namespace kelm_cli {
namespace {

constexpr uint32_t kLcsSrgb = 0x73524742;          // 'sRGB'
constexpr uint32_t kProfileLinked = 0x4C494E4B;    // 'LINK'
constexpr uint32_t kProfileEmbedded = 0x4D424544;  // 'MBED'
constexpr uint64_t kMaxBlock = 0x7FFFFFFF;

std::string n2s(uint64_t v)
{
    return std::to_string(v);
}

std::string kind_of(uint32_t size)
{
    switch (size) {
    case 12: return "OS/2 core";
    case 40: return "Windows";
    case 52: return "V2";  // 40 bytes and the red, green and blue masks
    case 56: return "V3";  // and the alpha mask
    case 108: return "V4";
    case 124: return "V5";
    default: return size >= 16 && size <= 64 ? "OS/2 2.x" : "unknown";
    }
}

std::string compression_label(uint32_t c, bool os2)
{
    switch (c) {
    case 0: return "uncompressed";
    case 1: return "RLE8";
    case 2: return "RLE4";
    case 3: return os2 ? "Huffman 1D (OS/2)" : "BI_BITFIELDS";
    case 4: return os2 ? "RLE24 (OS/2)" : "BI_JPEG";
    case 5: return "BI_PNG";
    case 6: return "BI_ALPHABITFIELDS";
    case 11: return "BI_CMYK";
    case 12: return "BI_CMYKRLE8";
    case 13: return "BI_CMYKRLE4";
    default: return "unknown (" + n2s(c) + ")";
    }
}

// Why the library cannot hold this header's image, or empty when it can.
std::string unsupported(const StoredFile& s)
{
    const BITMAPINFOHEADER& bi = s.bi;
    const uint32_t c = bi.biCompression;
    if (bi.biWidth < 0)
        return "width " + std::to_string(bi.biWidth) + " not supported (must be 0 or more)";
    if (bi.biHeight == INT32_MIN)
        return "height " + std::to_string(bi.biHeight) + " not supported";
    // These store a whole JPEG or PNG file, with a bit count of 0.
    if (!s.os2 && (c == 4 || c == 5))
        return compression_label(c, false) + " compression (an embedded " + (c == 4 ? "JPEG" : "PNG") +
               " image) not supported";
    if (bi.biPlanes != 1 && bi.biPlanes != 2)
        return n2s(bi.biPlanes) + " planes not supported (1, or 2 for 16 bits per sample)";
    if (bi.biPlanes == 2) {
        if (bi.biBitCount != 8 && bi.biBitCount != 24 && bi.biBitCount != 32)
            return "depth " + n2s(bi.biBitCount) + " bits in two planes not supported (8, 24 or 32)";
        if (c != 0)
            return compression_label(c, s.os2) + " compression of a two-plane image not supported";
        return "";
    }
    switch (bi.biBitCount) {
    case 1: case 4: case 8: case 16: case 24: case 32: break;
    default: return "depth " + n2s(bi.biBitCount) + " bits not supported (1, 4, 8, 16, 24 or 32)";
    }
    if (c == 0)
        return "";
    if (c == 1 && bi.biBitCount == 8)
        return "";
    if (c == 2 && bi.biBitCount == 4)
        return "";
    if (c == 3 && !s.os2 && (bi.biBitCount == 16 || bi.biBitCount == 32))
        return "";
    if (c == 1 || c == 2 || (c == 3 && !s.os2))
        return compression_label(c, s.os2) + " compression at " + n2s(bi.biBitCount) + " bits not supported (" +
               (c == 1 ? "only at 8 bits" : c == 2 ? "only at 4 bits" : "only at 16 and 32 bits") + ")";
    return compression_label(c, s.os2) + " compression not supported";
}

uint64_t stride_of(const BITMAPINFOHEADER& bi)
{
    return (static_cast<uint64_t>(bi.biWidth) * bi.biBitCount + 31) / 32 * 4;
}

}  // namespace

bool prepare_bmp(const Bytes& file, bool withFileHeader, StoredFile* stored, BmpPrepared* out,
                 std::vector<std::string>* notes, std::string* reason)
{
    ByteReader r(file);
    const size_t n = file.size();
    StoredFile& s = *stored;
    s.format = withFileHeader ? FileFormat::Bmp : FileFormat::PackedDib;
    s.fileSize = n;
    const size_t base = withFileHeader ? 14 : 0;
    if (withFileHeader) {
        if (n < 18) {
            *reason = "truncated (expected at least 18 bytes for the file header and header size, found " + n2s(n) + ")";
            return false;
        }
        s.fileHeader = true;
        s.bfSize = r.le32(2);
        s.bfOffBits = r.le32(10);
    }
    const uint32_t hs = r.le32(base);
    s.headerSize = hs;
    s.headerKind = kind_of(hs);
    if (s.headerKind == "unknown") {
        *reason = "header size " + n2s(hs) + " not read: a BMP header has 12, 16 to 64, 108 or 124 bytes";
        return false;
    }
    if (n < base + hs) {
        *reason = "truncated (expected " + n2s(base + hs) + " bytes for the " + n2s(hs) + "-byte header, found " +
                  n2s(n) + ")";
        return false;
    }
    const size_t h = base;
    BITMAPINFOHEADER& bi = s.bi;
    s.core = hs == 12;
    s.os2 = s.core || s.headerKind == "OS/2 2.x";
    if (s.core) {
        bi.biSize = 12;
        bi.biWidth = r.le16(h + 4);
        bi.biHeight = r.le16(h + 6);
        bi.biPlanes = r.le16(h + 8);
        bi.biBitCount = r.le16(h + 10);
    } else {
        // Fields an OS/2 2.x header leaves out are 0.
        auto field = [&](size_t at) { return at + 4 <= hs ? r.le32(h + at) : 0u; };
        bi.biSize = hs;
        bi.biWidth = r.le32s(h + 4);
        bi.biHeight = r.le32s(h + 8);
        bi.biPlanes = r.le16(h + 12);
        bi.biBitCount = r.le16(h + 14);
        bi.biCompression = field(16);
        bi.biSizeImage = field(20);
        bi.biXPelsPerMeter = static_cast<LONG>(field(24));
        bi.biYPelsPerMeter = static_cast<LONG>(field(28));
        bi.biClrUsed = field(32);
        bi.biClrImportant = field(36);
    }
    const bool bitfields = !s.os2 && bi.biCompression == BI_BITFIELDS;
    const bool masksInHeader = hs >= 52 && !s.os2;
    if (masksInHeader) {
        for (int i = 0; i < 3; ++i)
            s.masks[i] = r.le32(h + 40 + 4 * i);
        s.masks[3] = hs >= 56 ? r.le32(h + 52) : 0;
        s.haveMasks = bitfields;
    } else if (hs == 40 && bitfields && r.has(h + 40, 12)) {
        for (int i = 0; i < 3; ++i)
            s.masks[i] = r.le32(h + 40 + 4 * i);
        s.haveMasks = true;
    }

    const std::string why = unsupported(s);
    if (!why.empty()) {
        *reason = why;
        return false;
    }

    // Layout of the file as stored, in 64 bits.
    const uint64_t colours = bi.biClrUsed ? (bi.biClrUsed & 0xFFFF)
                             : bi.biBitCount <= 8 && bi.biPlanes == 1 ? (1u << bi.biBitCount)
                                                                      : 0;
    const uint64_t entry = s.core ? 3 : 4;
    const uint64_t tableAt = base + hs + (hs == 40 && bitfields ? 12 : 0);
    const uint64_t tableEnd = tableAt + colours * entry;
    const bool rle = bi.biCompression == BI_RLE8 || bi.biCompression == BI_RLE4;
    const uint64_t rows = bi.biHeight < 0 ? -static_cast<int64_t>(bi.biHeight) : bi.biHeight;
    const uint64_t pixelBytes = rle ? bi.biSizeImage : stride_of(bi) * rows * bi.biPlanes;
    if (!rle && pixelBytes > kMaxBlock) {
        *reason = "size " + std::to_string(bi.biWidth) + "x" + std::to_string(bi.biHeight) + " at " +
                  n2s(bi.biBitCount) + " bits not supported: " + n2s(pixelBytes) + " bytes of pixels (at most " +
                  n2s(kMaxBlock) + ")";
        return false;
    }
    const uint64_t pixelsAt = withFileHeader && s.bfOffBits >= tableEnd && s.bfOffBits <= n ? s.bfOffBits : tableEnd;
    const uint64_t expected = pixelsAt + pixelBytes;
    if (n < tableEnd || n < expected)
        out->truncation = "truncated (expected " + n2s(n < tableEnd && rle ? tableEnd : expected) + " bytes, found " +
                          n2s(n) + ")";

    const bool toV4 = hs == 124 || ((hs == 52 || hs == 56) && bitfields);
    const bool rleBehindV4 = (hs == 108 || hs == 124) && rle;
    const bool convert = hs != 12 && hs != 40 && (hs != 108 || rleBehindV4);
    if (!convert) {
        out->forLibrary = file;
        return true;
    }

    // Rebuild: file header, 40- or 108-byte header, masks after the header
    // (where the library's own images keep them), table, pixels.
    const uint32_t newHs = toV4 && !rle ? 108 : 40;
    const uint32_t maskBytes = bitfields ? 12 : 0;
    const uint64_t available = n > pixelsAt ? n - pixelsAt : 0;
    const uint64_t copyPixels = rle && bi.biSizeImage == 0 ? available : std::min(pixelBytes, available);
    const uint64_t newOff = 14 + newHs + maskBytes + colours * 4;
    Bytes& b = out->forLibrary;
    b.assign(newOff + copyPixels, 0);
    b[0] = 'B';
    b[1] = 'M';
    put_le32(b, 2, static_cast<uint32_t>(b.size()));
    put_le32(b, 10, static_cast<uint32_t>(newOff));
    put_le32(b, 14, newHs);
    put_le32(b, 18, static_cast<uint32_t>(bi.biWidth));
    put_le32(b, 22, static_cast<uint32_t>(bi.biHeight));
    put_le16(b, 26, bi.biPlanes);
    put_le16(b, 28, bi.biBitCount);
    put_le32(b, 30, bi.biCompression);
    put_le32(b, 34, bi.biSizeImage);
    put_le32(b, 38, static_cast<uint32_t>(bi.biXPelsPerMeter));
    put_le32(b, 42, static_cast<uint32_t>(bi.biYPelsPerMeter));
    put_le32(b, 46, static_cast<uint32_t>(colours == 0 ? 0 : bi.biClrUsed & 0xFFFF));
    put_le32(b, 50, bi.biClrImportant);
    std::string note = "converted its " + n2s(hs) + "-byte (" + s.headerKind + ") header to the " + n2s(newHs) +
                       "-byte form";
    if (newHs == 108) {
        for (int i = 0; i < 4; ++i)
            put_le32(b, 54 + 4 * i, s.masks[i]);
        uint32_t cs = kLcsSrgb;
        if (hs == 124) {
            // Colour-space type, endpoints and gamma as stored (V4 and V5 agree on them).
            for (size_t at = 56; at < 108; ++at)
                b[14 + at] = r.u8(h + at);
            cs = r.le32(h + 56);
            if (cs == kProfileEmbedded || cs == kProfileLinked) {
                note += "; its " + std::string(cs == kProfileEmbedded ? "embedded" : "linked") + " colour profile (" +
                        n2s(r.le32(h + 116)) + " bytes) was dropped and the image taken as sRGB";
                cs = kLcsSrgb;
            }
        }
        put_le32(b, 14 + 56, cs);
    } else if ((hs == 52 || hs == 56) && s.masks[3] != 0 && bitfields) {
        note += "; its alpha mask was dropped";
    }
    if (s.os2 && bi.biCompression != 0)
        note += " (" + compression_label(bi.biCompression, true) + " kept)";
    for (uint32_t i = 0; i < maskBytes / 4; ++i)
        put_le32(b, 14 + newHs + 4 * i, s.masks[i]);
    const uint64_t newTable = 14 + newHs + maskBytes;
    for (uint64_t i = 0; i < colours; ++i)
        for (uint64_t k = 0; k < 4; ++k) {
            const uint64_t from = tableAt + i * 4 + k;
            b[newTable + i * 4 + k] = k < 3 && from < n ? file[from] : 0;
        }
    std::copy(file.begin() + static_cast<ptrdiff_t>(pixelsAt), file.begin() + static_cast<ptrdiff_t>(pixelsAt + copyPixels),
              b.begin() + static_cast<ptrdiff_t>(newOff));
    notes->push_back(note);
    return true;
}

}  // namespace kelm_cli
