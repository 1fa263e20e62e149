// libFuzzer target for LoadDIB: the input is a memory file. Beyond the
// sanitizers it checks that every image returned is a packed DIB that fits
// its block (by the independent layout model), that saving and loading it
// again gives the same bytes, and that nothing stays allocated or locked.
// Mutations edit the header's fields as integers as well as bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bmpio/bmpio.h"
#include "header_mutator.h"
#include "kelm3.h"
#include "support/layout_model.h"

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

    bool sound = false;
    if (dib) {
        // The forms the reader processes must fit their block; the others
        // come back as stored, sized by their stored length.
        const std::vector<BYTE> b = block_bytes(dib);
        require(b.size() >= 40);
        const uint32_t headerSize = kelm::ld32(b.data(), 0);
        require(headerSize == kelm::kInfoHeaderSize || headerSize == kelm::kV4HeaderSize);
        const auto m = kelm_test::model_layout(b.data(), b.size());
        sound = m && m->total == b.size();
        require(sound || !kelm_test::model_processed_form(b.data()));
        const uint32_t comp = kelm::ld32(b.data(), 16);
        const bool uncompressed = comp == BI_RGB || comp == BI_BITFIELDS;
        require(!uncompressed || !kelm_test::model_processed_form(b.data()) ||
                static_cast<int32_t>(kelm::ld32(b.data(), 8)) >= 0);
    }
    // Save, load again: the same image, byte for byte. Images of more than
    // 4 MiB (zero-filled truncated files, mostly) skip this to keep the
    // fuzzer fast.
    if (dib && sound && GlobalSize(dib) <= (4u << 20)) {
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

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned seed)
{
    // The DIB header follows the 14-byte file header when there is one.
    const bool file = size >= 2 && data[0] == 'B' && data[1] == 'M';
    return kelm_fuzz::mutate_header(data, size, maxSize, seed, file ? 14 : 0, file ? 10 : 0);
}
