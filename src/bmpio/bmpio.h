// BMP input and output: the file header, the reader, the RLE decoders and the
// writer. Everything that parses bytes goes through ByteReader, a
// bounds-checked little-endian reader over a span, and every size is 64-bit
// until it has been checked against what a block and the header can hold.
#pragma once

#include <cstdint>
#include <span>

#include "dib/dib.h"

namespace kelm {

inline constexpr uint16_t kBmpSignature = 0x4D42;  // "BM"
inline constexpr uint32_t kFileHeaderSize = 14;
inline constexpr size_t kFileOffBits = 10;

// A stream may leave this much of a pixel array to be zero-filled beyond what
// it supplies itself (and, for RLE, beyond what its codes can fill), so that a
// small file can never make the library allocate more than this plus a small
// multiple of its own size.
inline constexpr uint64_t kZeroFillAllowance = 16u << 20;
// An RLE run of 2 bytes fills at most 255 pixels (255 bytes at 8 bits, 128 at
// 4 bits), so a stream of n bytes fills at most 128 n bytes of target.
inline constexpr uint64_t kRleMaxExpansion = 128;

// Bounds-checked little-endian reads over a span: a read past the end fails
// and leaves the position at the end.
class ByteReader {
public:
    explicit ByteReader(std::span<const BYTE> data) : data_(data) {}

    size_t position() const { return pos_; }
    size_t remaining() const { return data_.size() - pos_; }

    bool u8(uint8_t* v)
    {
        if (remaining() < 1)
            return fail();
        *v = data_[pos_++];
        return true;
    }
    bool u16(uint16_t* v)
    {
        if (remaining() < 2)
            return fail();
        *v = static_cast<uint16_t>(data_[pos_] | data_[pos_ + 1] << 8);
        pos_ += 2;
        return true;
    }
    bool u32(uint32_t* v)
    {
        if (remaining() < 4)
            return fail();
        *v = static_cast<uint32_t>(data_[pos_]) | static_cast<uint32_t>(data_[pos_ + 1]) << 8 |
             static_cast<uint32_t>(data_[pos_ + 2]) << 16 | static_cast<uint32_t>(data_[pos_ + 3]) << 24;
        pos_ += 4;
        return true;
    }
    bool i32(int32_t* v)
    {
        uint32_t u;
        if (!u32(&u))
            return false;
        *v = static_cast<int32_t>(u);
        return true;
    }
    // Up to n bytes from the current position (fewer at the end); advances.
    std::span<const BYTE> take(size_t n)
    {
        const size_t k = n < remaining() ? n : remaining();
        std::span<const BYTE> s = data_.subspan(pos_, k);
        pos_ += k;
        return s;
    }
    bool skip(size_t n)
    {
        if (remaining() < n)
            return fail();
        pos_ += n;
        return true;
    }

private:
    bool fail()
    {
        pos_ = data_.size();
        return false;
    }

    std::span<const BYTE> data_;
    size_t pos_ = 0;
};

// How an RLE decode ended.
enum class RleEnd {
    EndOfBitmap,  // the end-of-bitmap code
    EndOfData,    // the encoded bytes ran out first
    TargetFull,   // the stream would have written past the pixel array
};

// The two decoders. `target` is the whole pixel array, zero-filled by the
// caller, with rows `stride` bytes apart. Runs are not clipped at the end of
// a row (they go on into the padding and the next row); a write that would
// leave `target` is not made and ends the decode.
RleEnd decode_rle8(std::span<const BYTE> source, std::span<BYTE> target, uint64_t stride);
RleEnd decode_rle4(std::span<const BYTE> source, std::span<BYTE> target, uint64_t stride);

// Whether a decoded image of `targetBytes` may be allocated for `sourceBytes`
// of RLE codes (kRleMaxExpansion, kZeroFillAllowance).
inline bool rle_target_plausible(uint64_t targetBytes, uint64_t sourceBytes)
{
    return targetBytes <= sourceBytes * kRleMaxExpansion + kZeroFillAllowance;
}

// The operations behind the exports.
HGLOBAL load_dib(HMMIO hmmio);
HGLOBAL load_dib_from_file(LPCSTR fileName);
HGLOBAL load_dib_resource(HINSTANCE hInstance, LPCSTR name);
HGLOBAL dib_from_rle(HGLOBAL hDib);
BOOL save_dib(HMMIO hmmio, HGLOBAL hDib);
BOOL save_dib_to_file(LPCSTR fileName, HGLOBAL hDib);

// Owns a global block until released: frees it on every early return.
class OwnedGlobal {
public:
    explicit OwnedGlobal(HGLOBAL h = nullptr) : h_(h) {}
    ~OwnedGlobal()
    {
        if (h_)
            GlobalFree(h_);
    }
    OwnedGlobal(const OwnedGlobal&) = delete;
    OwnedGlobal& operator=(const OwnedGlobal&) = delete;

    HGLOBAL get() const { return h_; }
    HGLOBAL release()
    {
        HGLOBAL h = h_;
        h_ = nullptr;
        return h;
    }

private:
    HGLOBAL h_;
};

// Holds a lock on a global block for one scope.
class GlobalLockGuard {
public:
    explicit GlobalLockGuard(HGLOBAL h) : h_(h), p_(h ? static_cast<BYTE*>(GlobalLock(h)) : nullptr) {}
    ~GlobalLockGuard()
    {
        if (p_)
            GlobalUnlock(h_);
    }
    GlobalLockGuard(const GlobalLockGuard&) = delete;
    GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;

    BYTE* get() const { return p_; }
    void unlock()
    {
        if (p_)
            GlobalUnlock(h_);
        p_ = nullptr;
    }

private:
    HGLOBAL h_;
    BYTE* p_;
};

// Closes an mmio handle that this library opened.
class MmioCloser {
public:
    explicit MmioCloser(HMMIO h) : h_(h) {}
    ~MmioCloser()
    {
        if (h_)
            mmioClose(h_, 0);
    }
    MmioCloser(const MmioCloser&) = delete;
    MmioCloser& operator=(const MmioCloser&) = delete;

private:
    HMMIO h_;
};

}  // namespace kelm
