// libFuzzer target for both metafile rotations over arbitrary record
// streams. Byte 0 picks WMF or EMF and the size of the handle table, bytes
// 1-2 the angle; the rest are the records, behind a header this target
// writes so that the records themselves are what varies. The rotation must
// return a metafile whose records are whole, and leave nothing allocated or
// locked.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kelm3.h"
#include "metafile/metafile.h"

namespace {

void require(bool ok)
{
    if (!ok)
        std::abort();
}

void put32(std::vector<uint8_t>& b, size_t off, uint32_t v)
{
    std::memcpy(b.data() + off, &v, 4);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3 || size > (1u << 16))
        return 0;
    const bool enhanced = data[0] & 1;
    const uint16_t objects = data[0] >> 1;
    const int32_t angle = static_cast<int16_t>(data[1] | data[2] << 8);
    const uint8_t* recs = data + 3;
    const size_t n = size - 3;
    const size_t liveBefore = kelm::testing::live_blocks();
    if (!enhanced) {
        std::vector<uint8_t> b(18, 0);
        b.insert(b.end(), recs, recs + n);
        if (b.size() % 2)
            b.push_back(0);
        const uint16_t head[3] = {1, 9, 0x300};
        std::memcpy(b.data(), head, 6);
        put32(b, 6, static_cast<uint32_t>(b.size() / 2));
        std::memcpy(b.data() + 10, &objects, 2);
        HMETAFILE h = SetMetaFileBitsEx(static_cast<UINT>(b.size()), b.data());
        if (!h)
            return 0;
        SIZE ext;
        POINT org;
        LONG mode;
        GetMetaFileWindowExt(h, &ext, &org, &mode);
        LONG points[5] = {1, 2, 3, 4, 5};
        HMETAFILE out = RotateMetaFile(h, angle, points);
        require(out != nullptr && points[4] == 5);
        std::vector<uint8_t> o(GetMetaFileBitsEx(out, 0, nullptr));
        GetMetaFileBitsEx(out, static_cast<UINT>(o.size()), o.data());
        // Whole records up to the end record, which closes the bytes.
        const auto spans = kelm::wmf_records(o.data(), o.size());
        const size_t end = spans.empty() ? 18 : spans.back().offset + spans.back().size;
        require(end + 6 == o.size());
        DeleteMetaFile(out);
        DeleteMetaFile(h);
    } else {
        std::vector<uint8_t> b(108, 0);
        const uint32_t fields[] = {1, 108, 0, 0, 100, 100, 0, 0, 2000, 2000, 0x464D4520, 0x10000};
        std::memcpy(b.data(), fields, sizeof fields);
        std::memcpy(b.data() + 56, &objects, 2);
        b.insert(b.end(), recs, recs + n);
        while (b.size() % 4)
            b.push_back(0);
        put32(b, 48, static_cast<uint32_t>(b.size()));
        HENHMETAFILE h = SetEnhMetaFileBits(static_cast<UINT>(b.size()), b.data());
        if (!h)
            return 0;
        HENHMETAFILE out = RotateEnhMetaFile(h, angle);
        require(out != nullptr);
        std::vector<uint8_t> o(GetEnhMetaFileBits(out, 0, nullptr));
        GetEnhMetaFileBits(out, static_cast<UINT>(o.size()), o.data());
        const auto spans = kelm::emf_records(o.data(), o.size());
        require(!spans.empty() && spans.back().offset + spans.back().size == o.size());
        DeleteEnhMetaFile(out);
        DeleteEnhMetaFile(h);
    }
    require(kelm::testing::live_blocks() == liveBefore);
    return 0;
}
