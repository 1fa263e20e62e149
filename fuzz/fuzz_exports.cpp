// libFuzzer target for every export that takes an image: the input is a
// packed DIB handed over as the caller's own block, so hostile headers reach
// CreateCompatibleDIB, DIBFromRle, the pixel accessor, the geometry, colour,
// barcode and device exports, DIBNormalize, DIBCmyk2Rgb and SaveDIB directly
// rather than through the reader. Beyond the sanitizers: exactly the blocks
// the independent layout model calls sound are accepted, every image handed
// back is sound, and nothing stays allocated or locked.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "header_mutator.h"
#include "dib/dib.h"
#include "kelm3.h"
#include "platform/platform.h"
#include "platform/linux/gdi32.h"
#include "support/layout_model.h"

namespace {

void require(bool ok)
{
    if (!ok)
        std::abort();
}

BOOL WINAPI stop_after_line(int event, int, LPCSTR, DWORD, DWORD, DWORD)
{
    return event != 0;
}

void check_result(HGLOBAL h)
{
    if (!h)
        return;
    require(kelm_test::model_fits_block(h));
    DIBFree(h);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4 || size > (1u << 20))
        return 0;
    const size_t liveBefore = kelm::testing::live_blocks();
    HGLOBAL dib = GlobalAlloc(GMEM_MOVEABLE, size);
    require(dib != nullptr);
    std::memcpy(GlobalLock(dib), data, size);
    GlobalUnlock(dib);
    const auto m = kelm_test::model_layout(data, size);
    const bool sound = m && m->total <= size;

    BITMAPINFOHEADER bi;
    require(DIBInfo(dib, &bi, sizeof bi) == (sound ? 1 : 0));

    // New rows for the same header: at most 64 MiB, so the fuzzer stays fast.
    if (sound && size >= 40) {
        // Dimensions as the header holds them: 16-bit in a core header.
        const bool core = kelm::ld32(data, 0) == 12;
        const uint32_t w = core ? kelm::ld16(data, 4) : kelm::ld32(data, 4);
        const int64_t h = core ? kelm::ld16(data, 6) : static_cast<int32_t>(kelm::ld32(data, 8));
        // The same header uncompressed: the size of the rows these make.
        std::vector<uint8_t> head(data, data + 40);
        if (kelm::ld32(head.data(), 0) != 12)
            std::memset(&head[16], 0, 4);
        const auto rows = kelm_test::model_layout(head.data(), head.size());
        if (rows && rows->total <= (64u << 20)) {
            check_result(CreateCompatibleDIB(dib, w, static_cast<LONG>(h < 0 ? -h : h)));
            check_result(DIBFromRle(dib));
        }
    } else {
        require(CreateCompatibleDIB(dib, 1, 1) == nullptr);
        require(DIBFromRle(dib) == nullptr);
    }

    // Geometry, the block as source and as destination. Turning is limited
    // to modest sizes: a turned image can be far larger than its block.
    {
        const bool core = size >= 12 && kelm::ld32(data, 0) == 12;
        const int64_t w = size >= 12 ? (core ? kelm::ld16(data, 4) : static_cast<int32_t>(kelm::ld32(data, 4))) : 0;
        const int64_t h = size >= 12 ? (core ? kelm::ld16(data, 6) : static_cast<int32_t>(kelm::ld32(data, 8))) : 0;
        const bool modest = w >= 0 && w <= 1024 && h >= -1024 && h <= 1024;
        if (!sound || modest) {
            for (int angle : {450, 900, 1800, 2700, -7}) {
                HGLOBAL r = RotateDIB(dib, angle, angle == 450 ? 0xFFFFFFFFu : 0x00FF00FFu);
                require(!r || sound);
                check_result(r);
            }
            HGLOBAL s2 = StretchDIB(dib, 5, 3, nullptr);
            require(!s2 || sound);
            check_result(s2);
        }
        HGLOBAL other = CreateDIB(5, 4, 24, 0);
        require(other != nullptr);
        StretchDIB2DIBBlt(other, 0, 0, 5, 4, dib, 0, 0, 3, 3);
        StretchDIB2DIBBlt(other, -2, 1, 9, -3, dib, 1, -1, 7, 2);
        StretchDIB2DIBBlt(dib, 0, 0, 3, 2, other, 0, 0, 5, 4);
        StretchDIB2DIBBlt(dib, 1, 1, 2, 1, other, 4, 3, -4, -3);
        DIBAlphaBlend(other, 0, 0, 5, 4, dib, 0, 0, 2, 2, 100);
        DIBAlphaBlend(dib, 0, 0, 4, 2, other, 0, 0, 5, 4, 77);
        require(TransformDIB(dib, other, nullptr, nullptr, nullptr, 0) == 0 || sound);
        require(TransformDIB(other, dib, nullptr, nullptr, nullptr, 0x00FFFFFF) == 0 || sound);
        DIBFree(other);
    }

    if (LPTRDIB rw = RWOpenDIB(dib)) {
        require(sound);
        Rgbq16 line[16];
        for (int y : {0, 1, -1})
            for (int x : {0, 3, -2}) {
                RWGetPixel(rw, x, y);
                RWSetPixel(rw, x, y, 0x00345678);
            }
        RWGetLineRGB16(rw, -2, 0, 16, line);
        RWSetLineRGB16(rw, 1, 0, 16, line);
        RWClose(rw);
    }

    // Barcode scan of every symbology along rows and columns, cancelled after
    // the first line of each direction it reaches, so that huge empty images
    // stay fast; a refused block finds nothing.
    {
        char list[32];
        const BOOL found = DIBDetectBarCode(dib, stop_after_line, 0, list, sizeof list, 0x1FFFFF, 0);
        require(list[0] == 0 || found);
        if (!sound)
            require(!found);
    }

    MMIOINFO info;
    std::memset(&info, 0, sizeof info);
    info.fccIOProc = FOURCC_MEM;
    info.adwInfo[0] = 1u << 16;
    HMMIO out = mmioOpenA(nullptr, &info, MMIO_READWRITE | MMIO_CREATE);
    require(out != nullptr);
    require(SaveDIB(out, dib) == (sound ? TRUE : FALSE));
    mmioClose(out, 0);

    // Device output: drawing, device bitmaps and palettes take the block as
    // it is, refuse unsound ones and give back every GDI object.
    {
        static HDC memory = [] {
            HDC dc = CreateCompatibleDC(nullptr);
            HDC screen = GetDC(nullptr);
            SelectObject(dc, CreateCompatibleBitmap(screen, 16, 16));
            ReleaseDC(nullptr, screen);
            return dc;
        }();
        const size_t objects = kelm::testing::live_gdi_objects();
        require(!DIBBlt(memory, 0, 0, 8, 8, dib, 0, 0, SRCCOPY) || sound);
        require(!StretchDIBBlt(memory, 0, 0, 8, 8, dib, -1, 2, 5, 3, SRCCOPY) || sound);
        if (HBITMAP bm = BitmapFromDIB(dib, nullptr)) {
            require(sound);
            DeleteObject(bm);
        }
        if (HPALETTE pal = CreateDIBPalette(dib)) {
            require(sound);
            DeleteObject(pal);
        }
        require(kelm::testing::live_gdi_objects() == objects);
    }

    // Colour operations: only sound blocks give results, and each result is
    // sound. Small result sizes keep the fuzzer fast.
    {
        auto colour_result = [&](HGLOBAL r) {
            if (r) {
                require(sound);
                check_result(r);
            }
        };
        check_result(DIBSelectColors(dib, 1 + static_cast<int>(size % 256)));
        const RECT one{0, 0, 0, 0};
        colour_result(ScaleToGray(dib, 2, 3, nullptr, 0));
        colour_result(ScaleToGray(dib, 1, 1, &one, 0));
        static const LONG kKernel[9] = {-1, 2, -3, 40, 300, -40, 3, -2, 1};
        colour_result(CreateFIRFilteredDIB(dib, kKernel, 3, 3, -7));
        const void* hp = GlobalLock(dib);
        colour_result(DitherTo1(hp, nullptr));
        colour_result(DitherTo4(hp));
        colour_result(DitherTo8(hp, 5, 0, nullptr));
        colour_result(DitherTo8(hp, 0, static_cast<int>(size % 200), nullptr));
        GlobalUnlock(dib);
        for (int bits : {32, 4}) {
            HGLOBAL c = CopyHandle(dib);
            require(c != nullptr);
            if (ConvertDIB(&c, bits, 0))
                require(sound && kelm_test::model_fits_block(c));
            DIBFree(c);
        }
        HGLOBAL c = CopyHandle(dib);
        require(c != nullptr);
        HGLOBAL g = GrayDIB(c);
        if (g)
            require(sound && kelm_test::model_fits_block(g));
        DIBFree(g ? g : c);
        GammaCorrectionApplyToDIB(dib, 4000 + static_cast<LONG>(size % 30000), 0, 0, nullptr);
    }

    DIBNormalize(dib);
    void* p = GlobalLock(dib);
    DIBCmyk2Rgb(p);
    GlobalUnlock(dib);
    require(GlobalSize(dib) == size);
    DIBFree(dib);
    require(kelm::testing::live_blocks() == liveBefore);
    require(kelm::testing::locked_blocks() == 0);
    return 0;
}

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned seed)
{
    return kelm_fuzz::mutate_header(data, size, maxSize, seed, 0);
}
