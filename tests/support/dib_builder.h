// Test helpers: build packed DIBs byte by byte in global memory, so that
// tests state exactly the headers they mean without going through the code
// under test.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "kelm3.h"

namespace kelm_test {

// A 40-byte info header with the given fields; other fields 0.
inline BITMAPINFOHEADER info_header(LONG width, LONG height, WORD bits, DWORD compression = BI_RGB,
                                    DWORD clrUsed = 0, WORD planes = 1)
{
    BITMAPINFOHEADER bi;
    std::memset(&bi, 0, sizeof bi);
    bi.biSize = 40;
    bi.biWidth = width;
    bi.biHeight = height;
    bi.biPlanes = planes;
    bi.biBitCount = bits;
    bi.biCompression = compression;
    bi.biClrUsed = clrUsed;
    return bi;
}

inline uint32_t stride_for(int64_t width, unsigned bits)
{
    return static_cast<uint32_t>(((width * bits + 31) / 32) * 4);
}

// Assembles header bytes, optional masks, table and pixel bytes into a new
// movable global block. `extra` bytes are appended (or, if negative, removed
// from the end) to make blocks larger or smaller than their layout.
struct BlockSpec {
    std::vector<uint8_t> header;
    std::vector<uint32_t> masks;
    std::vector<RGBQUAD> table;
    std::vector<uint8_t> pixels;
    long extra = 0;
};

inline std::vector<uint8_t> header_bytes(const BITMAPINFOHEADER& bi)
{
    std::vector<uint8_t> v(sizeof bi);
    std::memcpy(v.data(), &bi, sizeof bi);
    return v;
}

inline HGLOBAL make_block(const BlockSpec& s)
{
    std::vector<uint8_t> bytes = s.header;
    for (uint32_t m : s.masks) {
        uint8_t b[4];
        std::memcpy(b, &m, 4);
        bytes.insert(bytes.end(), b, b + 4);
    }
    for (const RGBQUAD& q : s.table) {
        bytes.push_back(q.rgbBlue);
        bytes.push_back(q.rgbGreen);
        bytes.push_back(q.rgbRed);
        bytes.push_back(q.rgbReserved);
    }
    bytes.insert(bytes.end(), s.pixels.begin(), s.pixels.end());
    if (s.extra > 0)
        bytes.resize(bytes.size() + static_cast<size_t>(s.extra), 0);
    else if (s.extra < 0)
        bytes.resize(bytes.size() - static_cast<size_t>(-s.extra));
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    if (!h)
        return nullptr;
    void* p = GlobalLock(h);
    if (!bytes.empty())
        std::memcpy(p, bytes.data(), bytes.size());
    GlobalUnlock(h);
    return h;
}

// Copies a whole block out, for byte-level assertions.
inline std::vector<uint8_t> block_bytes(HGLOBAL h)
{
    std::vector<uint8_t> v(GlobalSize(h));
    const void* p = GlobalLock(h);
    if (p && !v.empty())
        std::memcpy(v.data(), p, v.size());
    GlobalUnlock(h);
    return v;
}

inline uint32_t rd32(const std::vector<uint8_t>& v, size_t off)
{
    uint32_t x;
    std::memcpy(&x, v.data() + off, 4);
    return x;
}

// Owns a handle for the length of a test.
class Dib {
public:
    explicit Dib(HGLOBAL h = nullptr) : h_(h) {}
    ~Dib()
    {
        if (h_)
            DIBFree(h_);
    }
    Dib(const Dib&) = delete;
    Dib& operator=(const Dib&) = delete;
    HGLOBAL get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    HGLOBAL release()
    {
        HGLOBAL h = h_;
        h_ = nullptr;
        return h;
    }

private:
    HGLOBAL h_;
};

// Holds a block locked for the length of a scope.
class Locked {
public:
    explicit Locked(HGLOBAL h) : h_(h), p_(static_cast<uint8_t*>(GlobalLock(h))) {}
    ~Locked()
    {
        if (p_)
            GlobalUnlock(h_);
    }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    uint8_t* get() const { return p_; }
    BITMAPINFOHEADER* bih() const { return reinterpret_cast<BITMAPINFOHEADER*>(p_); }

private:
    HGLOBAL h_;
    uint8_t* p_;
};

}  // namespace kelm_test
