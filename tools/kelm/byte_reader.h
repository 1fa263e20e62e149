// Bounds-checked little- and big-endian reads from a byte buffer: the only
// way the tool's file-format code looks at file bytes. A read past the end
// yields 0 and marks the reader, so one check after a group of reads covers
// them all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelm_cli {

using Bytes = std::vector<uint8_t>;

class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    explicit ByteReader(const Bytes& b) : data_(b.data()), size_(b.size()) {}

    size_t size() const { return size_; }
    bool overrun() const { return overrun_; }
    bool has(size_t offset, size_t n) const { return offset <= size_ && n <= size_ - offset; }

    uint8_t u8(size_t at) { return has(at, 1) ? data_[at] : fail(); }
    uint16_t le16(size_t at) { return has(at, 2) ? static_cast<uint16_t>(data_[at] | data_[at + 1] << 8) : fail(); }
    uint32_t le32(size_t at)
    {
        if (!has(at, 4))
            return fail();
        return data_[at] | data_[at + 1] << 8 | data_[at + 2] << 16 | static_cast<uint32_t>(data_[at + 3]) << 24;
    }
    int32_t le32s(size_t at) { return static_cast<int32_t>(le32(at)); }

private:
    uint8_t fail()
    {
        overrun_ = true;
        return 0;
    }

    const uint8_t* data_;
    size_t size_;
    bool overrun_ = false;
};

inline void put_le16(Bytes& b, size_t at, uint16_t v)
{
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

inline void put_le32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace kelm_cli
