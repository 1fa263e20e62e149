// libFuzzer target for LoadDIB: the input is a memory file. Beyond the
// sanitizers it checks that every image returned is a packed DIB that fits
// its block, that saving and loading it again gives the same bytes, and that
// nothing stays allocated or locked.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bmpio/bmpio.h"
#include "kelm3.h"

namespace {

void require(bool ok)
{
    if (!ok)
        std::abort();
}

HMMIO open_memory(char* buffer, LONG size, DWORD flags, DWORD growBy = 0)
{
    MMIOINFO info;
    std::memset(&info, 0, sizeof info);
    info.fccIOProc = FOURCC_MEM;
    info.pchBuffer = buffer;
    info.cchBuffer = size;
    info.adwInfo[0] = growBy;
    return mmioOpenA(nullptr, &info, flags);
}

std::vector<BYTE> block_bytes(HGLOBAL h)
{
    const size_t n = GlobalSize(h);
    const BYTE* p = static_cast<const BYTE*>(GlobalLock(h));
    std::vector<BYTE> v(p, p + n);
    GlobalUnlock(h);
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > (1u << 24))
        return 0;
    const size_t liveBefore = kelm::testing::live_blocks();
    std::vector<char> file(data, data + size);
    HMMIO in = open_memory(file.data(), static_cast<LONG>(size), MMIO_READ);
    require(in != nullptr);
    HGLOBAL dib = LoadDIB(in);
    mmioClose(in, 0);

    if (dib) {
        kelm::LockedDib check(dib);
        require(check.ok());
        const kelm::DibLayout& l = check.layout();
        require(l.headerSize == kelm::kInfoHeaderSize || l.headerSize == kelm::kV4HeaderSize);
        require(l.total == GlobalSize(dib));
        const bool compressed = l.compression == BI_RLE8 || l.compression == BI_RLE4;
        require(compressed || l.height >= 0);
    }
    // Save, load again: the same image, byte for byte. Images of more than
    // 4 MiB (zero-filled truncated files, mostly) skip this to keep the
    // fuzzer fast.
    if (dib && GlobalSize(dib) <= (4u << 20)) {
        HMMIO out = open_memory(nullptr, 0, MMIO_READWRITE | MMIO_CREATE, 1u << 16);
        require(out != nullptr);
        require(SaveDIB(out, dib) == TRUE);
        require(mmioSeek(out, 0, SEEK_SET) == 0);
        HGLOBAL again = LoadDIB(out);
        mmioClose(out, 0);
        require(again != nullptr);
        require(block_bytes(again) == block_bytes(dib));
        DIBFree(again);
    }
    if (dib)
        DIBFree(dib);
    require(kelm::testing::live_blocks() == liveBefore);
    require(kelm::testing::locked_blocks() == 0);
    return 0;
}
