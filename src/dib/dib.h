// The packed DIB model shared by the whole library: header field access,
// layout arithmetic, the built-in colour tables, palette type codes, and the
// checked lock through which every export that takes a handle reaches its
// image.
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace kelm {

inline constexpr DWORD kCoreHeaderSize = 12;
inline constexpr DWORD kInfoHeaderSize = 40;
inline constexpr DWORD kV4HeaderSize = 108;
inline constexpr DWORD kMaskBytes = 12;          // three DWORD masks after a BI_BITFIELDS header
inline constexpr DWORD kCsTypeOffset = 56;       // colour-space type in a 108-byte header
inline constexpr DWORD kAlphaMaskOffset = 52;    // alpha mask in a 108-byte header
inline constexpr DWORD kCsTypeCmyk = 2;
inline constexpr DWORD kCsTypeAlpha = 1;
// Largest block the library creates: sizes are stored in 32-bit header fields
// that some readers take as signed.
inline constexpr uint64_t kMaxBlockSize = 0x7FFFFFFF;

enum PaletteTypeCode : int {
    kPalNone = 0,
    kPalOther = 1,
    kPalBlackWhite = 2,
    kPalWhiteBlack = 3,
    kPalStd16 = 4,
    kPalGreyDown = 5,
    kPalGreyUp = 6,
    kPalDefault256 = 7,
};

// Unaligned little-endian field access: header pointers come from callers and
// need not be aligned.
inline uint32_t ld32(const void* p, size_t off)
{
    uint32_t v;
    std::memcpy(&v, static_cast<const BYTE*>(p) + off, 4);
    return v;
}
inline uint16_t ld16(const void* p, size_t off)
{
    uint16_t v;
    std::memcpy(&v, static_cast<const BYTE*>(p) + off, 2);
    return v;
}
inline void st32(void* p, size_t off, uint32_t v)
{
    std::memcpy(static_cast<BYTE*>(p) + off, &v, 4);
}

// Offsets of the BITMAPINFOHEADER fields.
namespace bih {
inline constexpr size_t Size = 0, Width = 4, Height = 8, Planes = 12, BitCount = 14, Compression = 16,
                        SizeImage = 20, XPels = 24, YPels = 28, ClrUsed = 32, ClrImportant = 36;
}
// Offsets of the BITMAPCOREHEADER fields.
namespace bch {
inline constexpr size_t Size = 0, Width = 4, Height = 6, Planes = 8, BitCount = 10;
}

// Row stride in the header's own 32-bit arithmetic, as DIBPixelPtr and
// DIBInfo define it. Callers use it only on headers whose layout has been
// checked with compute_layout or dib_layout, where it cannot wrap.
inline uint32_t stride32(uint32_t width, uint32_t bits)
{
    return ((width * bits + 31) / 32) * 4;
}

// Header queries on a pointer to the first byte of a block.
UINT num_palette_colors(const void* lpbi);
UINT palette_size(const void* lpbi);
int palette_type(const void* lpbi);
BOOL is_cmyk(const void* lpbi);
BYTE* pixel_ptr(void* lpbi, UINT x, UINT y);

// What a layout is computed from: the header fields that decide where things
// lie in a packed DIB.
struct DibShape {
    uint32_t headerSize = kInfoHeaderSize;  // 12, or 40 and above
    int64_t width = 0;                      // as stored, signed (unsigned 16 bits in a core header)
    int64_t height = 0;                     // as stored, signed
    uint32_t bitCount = 0;                  // per plane
    uint32_t planes = 1;                    // 2 for the two-plane form; any other value counts as 1
    uint32_t compression = BI_RGB;
    uint32_t colours = 0;                   // colour table entries, DIBNumPaletteColors
    uint32_t storedSizeImage = 0;           // biSizeImage: the length of compressed data
};

// The complete layout of a packed DIB. Every size is at most kMaxBlockSize,
// so any of them may be narrowed to 32 bits and any two may be added; the one
// exception is the stride of compressed data, which no pixel is addressed by.
struct DibLayout {
    uint32_t headerSize;   // biSize
    bool core;             // 12-byte OS/2 header: RGBTRIPLE table, no masks
    int64_t width;
    int64_t height;        // as stored (signed)
    uint64_t rows;         // |height|
    uint32_t bitCount;
    uint32_t planes;       // 2 for the two-plane form, else 1
    uint32_t compression;
    bool compressed;       // neither BI_RGB nor BI_BITFIELDS: pixel bytes are stored data
    uint64_t maskBytes;    // 12 under BI_BITFIELDS
    uint64_t paletteBytes; // DIBPaletteSize
    uint64_t pixelOffset;  // header + masks + colour table
    uint64_t stride;       // bytes per row, padded to 32 bits
    uint64_t planeBytes;   // rows x stride: one plane (0 for compressed data)
    uint64_t pixelBytes;   // planeBytes x planes, or the stored size of compressed data
    uint64_t total;        // pixelOffset + pixelBytes
};

// The one place where an image's sizes are computed. All arithmetic is
// checked: false ("does not fit") when the width is negative, the height is
// INT_MIN (its magnitude does not fit the field), or any size, the total
// included, exceeds kMaxBlockSize. Compressed data is sized by its stored
// length and never by rows and strides, so an RLE image too large to decode
// still has a layout.
bool compute_layout(const DibShape& shape, DibLayout* out);

// The shape the header at p declares. False when fewer than `available`
// bytes hold it, or its size is neither 12 nor at least 40.
bool header_shape(const void* p, uint64_t available, DibShape* out);

// The layout of the block at p, checked to lie within blockSize bytes.
bool dib_layout(const void* p, uint64_t blockSize, DibLayout* out);

// A handle locked for the span of one call, with its layout checked against
// the block's size. ok() is false (and nothing stays locked) when the handle
// is null, the lock fails or the layout does not fit.
class LockedDib {
public:
    explicit LockedDib(HGLOBAL h);
    ~LockedDib();
    LockedDib(const LockedDib&) = delete;
    LockedDib& operator=(const LockedDib&) = delete;

    bool ok() const { return bytes_ != nullptr; }
    BYTE* bytes() const { return bytes_; }
    const DibLayout& layout() const { return layout_; }
    HGLOBAL handle() const { return handle_; }
    uint64_t block_size() const { return blockSize_; }

private:
    HGLOBAL handle_ = nullptr;
    BYTE* bytes_ = nullptr;
    uint64_t blockSize_ = 0;
    DibLayout layout_{};
};

// Fills the caller's header buffer as DIBInfo does; 0 on failure.
int dib_info(HGLOBAL hDib, void* lpbi, UINT cbSize);
// DIBInfo's completion of a 40-byte copy of the info header at lpbi, whose
// checked layout is l.
void complete_info_header(BITMAPINFOHEADER* bi, const void* lpbi, const DibLayout& l);

HGLOBAL create_dib(LONG width, LONG height, UINT bitCount, int flags);
// Pixels zero-filled; with zero = false only the row padding is cleared, for
// callers that write every pixel themselves.
HGLOBAL create_compatible_dib(HGLOBAL hSrc, UINT width, LONG height, bool zero = true);
HGLOBAL copy_handle(HGLOBAL hMem);
void normalize_dib(HGLOBAL hDib);

// Sets the last 32-bit word of every row to zero when rows end in padding.
void clear_row_tails(BYTE* bits, uint64_t stride, uint64_t rows, int64_t width, uint32_t bitCount);

// Built-in colour tables.
extern const RGBQUAD kBlackWhite[2];
extern const RGBQUAD kStandard16[16];
extern const RGBQUAD kDefault256[256];

}  // namespace kelm
