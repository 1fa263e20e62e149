// libFuzzer target for DIBFromRle. The first five input bytes give the width,
// height and encoding of an image whose RLE codes are the rest of the input;
// the decoded pixels must equal those of the reference model, and nothing
// may stay allocated or locked.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bmpio/bmpio.h"
#include "kelm3.h"
#include "rle_reference.h"

namespace {

void require(bool ok)
{
    if (!ok)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 5 || size > (1u << 20))
        return 0;
    // Dimensions up to 1023 x +-511 keep every run fast; the size limits are
    // exercised by the unit tests.
    const uint32_t width = data[0] | (data[1] & 3u) << 8;
    const int32_t height = static_cast<int16_t>((data[2] | data[3] << 8) << 6) >> 6;
    const bool rle4 = data[4] & 1;
    const uint32_t colours = rle4 ? 16 : 256;
    std::vector<uint8_t> codes(data + 5, data + size);

    const size_t liveBefore = kelm::testing::live_blocks();
    const size_t tableBytes = colours * 4;
    HGLOBAL src = GlobalAlloc(GHND, 40 + tableBytes + codes.size());
    require(src != nullptr);
    BYTE* p = static_cast<BYTE*>(GlobalLock(src));
    BITMAPINFOHEADER bi;
    std::memset(&bi, 0, sizeof bi);
    bi.biSize = 40;
    bi.biWidth = static_cast<LONG>(width);
    bi.biHeight = height;
    bi.biPlanes = 1;
    bi.biBitCount = rle4 ? 4 : 8;
    bi.biCompression = rle4 ? BI_RLE4 : BI_RLE8;
    bi.biSizeImage = static_cast<DWORD>(codes.size());
    bi.biClrUsed = colours;
    std::memcpy(p, &bi, sizeof bi);
    for (size_t i = 0; i < tableBytes; ++i)
        p[40 + i] = static_cast<BYTE>(i * 7);
    if (!codes.empty())
        std::memcpy(p + 40 + tableBytes, codes.data(), codes.size());
    GlobalUnlock(src);

    HGLOBAL out = DIBFromRle(src);
    const uint64_t stride = ((uint64_t{width} * bi.biBitCount + 31) / 32) * 4;
    if (height >= 0 && uint64_t(height) * stride <= codes.size() * kelm::kRleMaxExpansion + kelm::kZeroFillAllowance)
        require(out != nullptr);
    if (out) {
        require(height >= 0);
        const uint64_t pixelBytes = stride * static_cast<uint64_t>(height);
        require(GlobalSize(out) == 40 + tableBytes + pixelBytes);
        const BYTE* q = static_cast<const BYTE*>(GlobalLock(out));
        require(kelm::ld32(q, 16) == BI_RGB && kelm::ld32(q, 20) == pixelBytes);
        require(std::memcmp(q + 40, static_cast<const BYTE*>(GlobalLock(src)) + 40, tableBytes) == 0);
        GlobalUnlock(src);
        std::vector<uint8_t> expected(static_cast<size_t>(pixelBytes), 0);
        rle_reference::decode(codes, expected, stride, rle4);
        require(expected.empty() || std::memcmp(q + 40 + tableBytes, expected.data(), expected.size()) == 0);
        GlobalUnlock(out);
        DIBFree(out);
    }
    DIBFree(src);
    require(kelm::testing::live_blocks() == liveBefore);
    require(kelm::testing::locked_blocks() == 0);
    return 0;
}
