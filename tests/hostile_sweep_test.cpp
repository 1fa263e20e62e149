// Hostile headers through every export that takes an image: the cross
// product of boundary widths, heights, plane counts, depths, compressions and
// colour counts, each in blocks too small, exactly large enough and larger
// than its layout, and each also written as a BMP file for LoadDIB. Run under
// ASan and UBSan, a wild read or write anywhere fails the test; besides, every
// export must accept exactly the blocks that the reference layout model says
// are sound, change nothing it only reads, and leave no block allocated or
// locked.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "kelm3.h"
#include "platform/platform.h"
#include "support/layout_model.h"

namespace {

using Bytes = std::vector<uint8_t>;

const int32_t kWidths[] = {0, 1, 1 << 30, 0x55555555, INT32_MAX, -1, INT32_MIN};
const int32_t kHeights[] = {0, 1, -1, INT32_MIN, INT32_MAX, 2140097343};
const uint16_t kPlanes[] = {0, 1, 2, 3, 0xFFFF};
const uint16_t kBits[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 16, 24, 32, 48, 64, 0xFFFF};
const uint32_t kCompressions[] = {0, 1, 2, 3, 4, 5, 0xFFFFFFFF};
const uint32_t kClrUsed[] = {0, 2, 256, 0xFFFF, 0x10000, 0xFFFFFFFF};
// Blocks up to this size are also made exactly as large as their layout.
constexpr uint64_t kExactLimit = 1 << 16;
// biSizeImage of every header: the length of compressed data.
constexpr uint32_t kStoredSize = 24;

void put32(uint8_t* p, uint32_t v)
{
    std::memcpy(p, &v, 4);
}

Bytes header(int32_t w, int32_t h, uint16_t planes, uint16_t bits, uint32_t comp, uint32_t clrUsed)
{
    Bytes b(40, 0);
    put32(&b[0], 40);
    put32(&b[4], static_cast<uint32_t>(w));
    put32(&b[8], static_cast<uint32_t>(h));
    std::memcpy(&b[12], &planes, 2);
    std::memcpy(&b[14], &bits, 2);
    put32(&b[16], comp);
    put32(&b[20], kStoredSize);
    put32(&b[32], clrUsed);
    return b;
}

HGLOBAL block_of(const Bytes& bytes)
{
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    std::memcpy(GlobalLock(h), bytes.data(), bytes.size());
    GlobalUnlock(h);
    return h;
}

Bytes bytes_of(HGLOBAL h)
{
    const auto* p = static_cast<const uint8_t*>(GlobalLock(h));
    Bytes v(p, p + GlobalSize(h));
    GlobalUnlock(h);
    return v;
}

bool holds(HGLOBAL h, const Bytes& bytes)
{
    const auto* p = static_cast<const uint8_t*>(GlobalLock(h));
    const bool same = GlobalSize(h) == bytes.size() && std::memcmp(p, bytes.data(), bytes.size()) == 0;
    GlobalUnlock(h);
    return same;
}

// A memory file over buf.
HMMIO memory_file(std::vector<char>& buf, DWORD flags)
{
    MMIOINFO mi;
    std::memset(&mi, 0, sizeof mi);
    mi.fccIOProc = FOURCC_MEM;
    mi.pchBuffer = buf.data();
    mi.cchBuffer = static_cast<LONG>(buf.size());
    return mmioOpenA(nullptr, &mi, flags);
}

bool sound(const Bytes& block)
{
    const auto m = kelm_test::model_layout(block.data(), block.size());
    return m && m->total <= block.size();
}

// A result handed back by the library: its own header must describe it.
void expect_sound_result(HGLOBAL h, const char* what)
{
    EXPECT_TRUE(kelm_test::model_fits_block(h)) << what;
    BITMAPINFOHEADER bi;
    EXPECT_EQ(DIBInfo(h, &bi, sizeof bi), 1) << what;
    EXPECT_EQ(DIBFree(h), nullptr);
}

BOOL WINAPI stop_at_first_line(int, int, LPCSTR, DWORD, DWORD, DWORD)
{
    return FALSE;
}

// The colour operations that leave their image alone: each result is sound,
// and only a sound block gives one. (DIBSelectColors, ConvertDIB and GrayDIB
// allocate megabytes per readable image; they are swept by the fuzzer.)
void colour_read_only_exports(HGLOBAL h, bool ok)
{
    const RECT one{0, 0, 0, 0};
    if (HGLOBAL r = ScaleToGray(h, 1, 1, &one, 0)) {
        EXPECT_TRUE(ok) << "ScaleToGray";
        expect_sound_result(r, "ScaleToGray");
    }
    if (HGLOBAL r = CreateSharpenedDIB(h)) {
        EXPECT_TRUE(ok) << "CreateSharpenedDIB";
        expect_sound_result(r, "CreateSharpenedDIB");
    }
    const void* p = GlobalLock(h);
    const HGLOBAL dithered[] = {DitherTo1(p, nullptr), DitherTo4(p), DitherTo8(p, 6, 0, nullptr)};
    GlobalUnlock(h);
    for (HGLOBAL r : dithered)
        if (r) {
            EXPECT_TRUE(ok) << "DitherTo";
            expect_sound_result(r, "DitherTo");
        }
}

// The read-only exports: each refuses an unsound block, and none changes it.
void read_only_exports(HGLOBAL h, const Bytes& block)
{
    const bool ok = sound(block);
    BITMAPINFOHEADER bi;
    EXPECT_EQ(DIBInfo(h, &bi, sizeof bi), ok ? 1 : 0);

    HGLOBAL copy = CopyHandle(h);
    ASSERT_NE(copy, nullptr);
    EXPECT_TRUE(holds(copy, block));
    DIBFree(copy);

    const int32_t w = static_cast<int32_t>(block[4] | block[5] << 8 | block[6] << 16 | static_cast<uint32_t>(block[7]) << 24);
    const int32_t ht = static_cast<int32_t>(block[8] | block[9] << 8 | block[10] << 16 | static_cast<uint32_t>(block[11]) << 24);
    // The source's own size, when its rows (uncompressed) are small enough
    // to make quickly; an RLE header may claim rows of up to 2 GB.
    Bytes rowsHeader(block.begin(), block.begin() + 40);
    std::memset(&rowsHeader[16], 0, 4);
    const auto rows = kelm_test::model_layout(rowsHeader.data(), rowsHeader.size());
    const bool small = rows && rows->total <= kExactLimit;
    if (HGLOBAL c = CreateCompatibleDIB(h, small ? static_cast<UINT>(w) : 1, small && ht < 0 ? -ht : small ? ht : 1)) {
        EXPECT_TRUE(ok);
        expect_sound_result(c, "CreateCompatibleDIB");
    }
    if (HGLOBAL c = CreateCompatibleDIB(h, 1436596963, 2140097343))
        expect_sound_result(c, "CreateCompatibleDIB, 1436596963 x 2140097343");  // no pixel bytes at 0 bits
    if (HGLOBAL r = DIBFromRle(h)) {
        EXPECT_TRUE(ok);
        expect_sound_result(r, "DIBFromRle");
    }

    static std::vector<char> room;
    room.resize(block.size() + 64);
    HMMIO out = memory_file(room, MMIO_READWRITE);
    ASSERT_NE(out, nullptr);
    const BOOL saved = SaveDIB(out, h);
    mmioClose(out, 0);
    if (saved) {
        EXPECT_TRUE(ok) << "SaveDIB";
    }

    // Geometry with the block as the source. Turning and stretching make new
    // images of the source's size, so only small sources are turned; an
    // unsound block is refused whatever the angle.
    {
        const int angles[] = {450, 900, 1800, -1};
        // A turned image can be far larger than its source (a wide image
        // without rows turns into a tall one): only modest sizes are turned.
        const bool modest = small && w >= 0 && w <= 4096 && ht >= -4096 && ht <= 4096;
        for (int angle : angles) {
            if (!modest && ok)
                break;
            if (HGLOBAL r = RotateDIB(h, angle, angle == 450 ? 0xFFFFFFFFu : 0x00102030)) {
                EXPECT_TRUE(ok) << "RotateDIB " << angle;
                expect_sound_result(r, "RotateDIB");
            }
        }
        if (small || !ok) {
            if (HGLOBAL r = StretchDIB(h, 3, 2, nullptr)) {
                EXPECT_TRUE(ok) << "StretchDIB";
                expect_sound_result(r, "StretchDIB");
            }
        }
        const RECT hostile = {INT_MIN, INT_MAX, INT_MAX, INT_MIN};
        if (HGLOBAL r = StretchDIB(h, 2, 3, &hostile))
            expect_sound_result(r, "StretchDIB, hostile rectangle");
        HGLOBAL small24 = CreateDIB(3, 2, 24, 0);
        StretchDIB2DIBBlt(small24, 0, 0, 3, 2, h, 0, 0, 5, 5);
        StretchDIB2DIBBlt(small24, -1, INT_MIN, INT_MAX, 2, h, INT_MAX, INT_MIN, INT_MIN, 7);
        DIBAlphaBlend(small24, 0, 0, 3, 2, h, 0, 0, 1, 1, 128);
        DIBAlphaBlend(small24, 1, 0, 2, 2, h, INT_MAX - 1, 0, 2, 1, 200);
        if (TransformDIB(h, small24, nullptr, nullptr, nullptr, 0)) {
            EXPECT_TRUE(ok) << "TransformDIB";
        }
        DIBFree(small24);
    }

    if (LPTRDIB rw = RWOpenDIB(h)) {
        EXPECT_TRUE(ok) << "RWOpenDIB";
        RWGetPixel(rw, 0, 0);
        RWGetPixel(rw, -1, INT_MAX);
        Rgbq16 line[64];
        RWGetLineRGB16(rw, -3, 0, 64, line);
        RWClose(rw);
    }
    {
        // Barcode scan of rows and columns; the callback cancels after the
        // first line, so images of two billion empty lines end at once.
        char list[16];
        EXPECT_EQ(DIBDetectBarCode(h, stop_at_first_line, 0, list, sizeof list, 0x1FFFFF, 0), 0);
        EXPECT_EQ(list[0], 0);
    }

    // Device output: the exports that hand an image to GDI draw sound blocks,
    // refuse unsound ones, and leave every byte as it was (biPlanes too).
    {
        static HDC memory = [] {
            HDC dc = CreateCompatibleDC(nullptr);
            HDC screen = GetDC(nullptr);
            SelectObject(dc, CreateCompatibleBitmap(screen, 16, 16));
            ReleaseDC(nullptr, screen);
            return dc;
        }();
        if (DIBBlt(memory, 0, 0, 8, 8, h, 0, 0, SRCCOPY)) {
            EXPECT_TRUE(ok) << "DIBBlt";
        }
        if (StretchDIBBlt(memory, 0, 0, 8, 8, h, 0, 0, 4, 4, SRCCOPY)) {
            EXPECT_TRUE(ok) << "StretchDIBBlt";
        }
        if (HBITMAP bm = BitmapFromDIB(h, nullptr)) {
            EXPECT_TRUE(ok) << "BitmapFromDIB";
            DeleteObject(bm);
        }
        if (HPALETTE pal = CreateDIBPalette(h)) {
            EXPECT_TRUE(ok) << "CreateDIBPalette";
            DeleteObject(pal);
        }
    }
    colour_read_only_exports(h, ok);
    EXPECT_TRUE(holds(h, block)) << "a read-only export changed the block";
}

// The exports that write pixels or the header in place.
void writing_exports(HGLOBAL h, const Bytes& block)
{
    if (LPTRDIB rw = RWOpenDIB(h)) {
        RWSetPixel(rw, 0, 0, 0x00123456);
        RWSetPixel(rw, INT_MIN, -1, 0);
        Rgbq16 line[64] = {};
        RWSetLineRGB16(rw, -5, 0, 64, line);
        RWClose(rw);
    }
    // Geometry with the block as the destination, rectangles at the limits.
    {
        HGLOBAL src24 = CreateDIB(4, 3, 24, 0);
        HGLOBAL src8 = CreateDIB(4, 3, 8, 0);
        StretchDIB2DIBBlt(h, 0, 0, 2, 2, src24, 0, 0, 4, 3);
        StretchDIB2DIBBlt(h, 0, 0, 3, 2, src8, 1, 0, 2, 3);
        StretchDIB2DIBBlt(h, INT_MAX, INT_MIN, INT_MAX, INT_MAX, src8, INT_MIN, 0, -3, INT_MAX);
        StretchDIB2DIBBlt(h, INT_MIN, -1, INT_MAX, 2, src24, 0, 0, INT_MIN, INT_MIN);
        DIBAlphaBlend(h, 0, 0, 2, 2, src24, 0, 0, 3, 3, 100);
        DIBAlphaBlend(h, 1, 0, 5, 2, src24, 0, 0, 4, 3, 7);
        DIBAlphaBlend(h, INT_MAX, 0, INT_MAX, 2, src24, 0, 0, 4, 3, 7);
        TransformDIB(src8, h, nullptr, nullptr, nullptr, 0x00FFFFFF);
        DIBFree(src8);
        DIBFree(src24);
    }
    DIBNormalize(h);
    void* p = GlobalLock(h);
    // The pointer queries trust their header; call them only where the block
    // holds what they read.
    const uint64_t tableEnd = 40 + (block[16] == 3 && block[17] == 0 && block[18] == 0 && block[19] == 0 ? 12 : 0) +
                              uint64_t{DIBNumPaletteColors(p)} * 4;
    if (tableEnd <= block.size())
        DIBPaletteType(p);
    DIBCmyk2Rgb(p);
    GlobalUnlock(h);
    // Colour operations that work in place.
    GammaCorrectionApplyToDIB(h, 5000, 0, 0, nullptr);
    EXPECT_EQ(GlobalSize(h), block.size());
}

void load_as_file(const Bytes& block)
{
    static std::vector<char> file;
    file.assign(14 + block.size(), 0);
    file[0] = 'B';
    file[1] = 'M';
    put32(reinterpret_cast<uint8_t*>(&file[2]), static_cast<uint32_t>(file.size()));
    put32(reinterpret_cast<uint8_t*>(&file[10]), 0);
    std::memcpy(&file[14], block.data(), block.size());
    HMMIO in = memory_file(file, MMIO_READ);
    ASSERT_NE(in, nullptr);
    HGLOBAL d = LoadDIB(in);
    mmioClose(in, 0);
    if (!d)
        return;
    // A header claiming many rows loads zero-filled up to the reader's
    // allowance; such blocks are only checked for soundness, without
    // copying them through every export.
    const uint64_t size = GlobalSize(d);
    const auto* p = static_cast<const uint8_t*>(GlobalLock(d));
    const auto m = kelm_test::model_layout(p, size);
    // The layouts the library processes come back sound; other forms come
    // back as stored, sized by their stored length, and need not fill a
    // layout (a negative width has none).
    const bool processed = kelm_test::model_processed_form(p);
    GlobalUnlock(d);
    if (processed) {
        EXPECT_TRUE(m && m->total <= size) << "LoadDIB returned a block its header does not fit";
    }
    if (size <= kExactLimit)
        read_only_exports(d, bytes_of(d));
    DIBFree(d);
}

// Metafile rotation: the block as the packed DIB of a WMF stretched-bitmap
// record and of an EMF one, turned with the rest of the metafile.
void rotate_as_metafile_bitmap(const Bytes& block)
{
    if (block.size() > (1u << 20))
        return;
    Bytes wmf(18 + 28 + block.size() + block.size() % 2 + 6, 0);
    const uint16_t head[3] = {1, 9, 0x300};
    std::memcpy(wmf.data(), head, 6);
    put32(&wmf[6], static_cast<uint32_t>(wmf.size() / 2));
    put32(&wmf[18], static_cast<uint32_t>((28 + block.size() + block.size() % 2) / 2));
    const uint16_t parms[12] = {0x0F43, 0x20, 0xCC, 0, 1, 2, 0, 0, 20, 30, 40, 50};
    std::memcpy(&wmf[22], parms, sizeof parms);
    std::memcpy(&wmf[46], block.data(), block.size());
    put32(&wmf[wmf.size() - 6], 3);
    HMETAFILE h = SetMetaFileBitsEx(static_cast<UINT>(wmf.size()), wmf.data());
    ASSERT_NE(h, nullptr);
    HMETAFILE turned = RotateMetaFile(h, 900, nullptr);
    EXPECT_NE(turned, nullptr);
    DeleteMetaFile(turned);
    DeleteMetaFile(h);

    const size_t rec = 80 + (block.size() + 3) / 4 * 4;
    Bytes emf(108 + rec + 20, 0);
    const uint32_t fields[] = {1, 108, 0, 0, 100, 100, 0, 0, 2000, 2000, 0x464D4520, 0x10000,
                               static_cast<uint32_t>(emf.size()), 3, 1};
    std::memcpy(emf.data(), fields, sizeof fields);
    const uint32_t bits = block.size() > 40 ? static_cast<uint32_t>(block.size() - 40) : 0;
    const uint32_t r[] = {81, static_cast<uint32_t>(rec), 0, 0, 0, 0, 50, 40, 0, 0, 2, 1,
                          80, std::min<uint32_t>(40, static_cast<uint32_t>(block.size())), 120, bits, 0, 0xCC0020, 30, 20};
    std::memcpy(&emf[108], r, sizeof r);
    std::memcpy(&emf[108 + 80], block.data(), block.size());
    const uint32_t eof[] = {14, 20, 0, 16, 20};
    std::memcpy(&emf[108 + rec], eof, sizeof eof);
    HENHMETAFILE e = SetEnhMetaFileBits(static_cast<UINT>(emf.size()), emf.data());
    ASSERT_NE(e, nullptr);
    HENHMETAFILE eturned = RotateEnhMetaFile(e, 900);
    EXPECT_NE(eturned, nullptr);
    DeleteEnhMetaFile(eturned);
    DeleteEnhMetaFile(e);
}

TEST(HostileHeaders, EveryExportSurvivesTheBoundaryCrossProduct)
{
    const size_t live = kelm::testing::live_blocks();
    size_t cases = 0, soundBlocks = 0;
    for (int32_t w : kWidths)
        for (int32_t h : kHeights)
            for (uint16_t planes : kPlanes)
                for (uint16_t bits : kBits)
                    for (uint32_t comp : kCompressions)
                        for (uint32_t clrUsed : kClrUsed) {
                            const Bytes head = header(w, h, planes, bits, comp, clrUsed);
                            const auto m = kelm_test::model_layout(head.data(), head.size());
                            std::vector<uint64_t> sizes;
                            if (m && m->total <= kExactLimit) {
                                if (m->total > 40)
                                    sizes.push_back(m->total - 1);
                                sizes.push_back(m->total);
                                sizes.push_back(m->total + 5);
                            } else {
                                sizes = {40, 40 + 1024 + 12 + 16};
                            }
                            for (uint64_t size : sizes) {
                                SCOPED_TRACE(testing::Message() << w << " x " << h << ", planes " << planes << ", bits "
                                                                << bits << ", compression " << comp << ", colours "
                                                                << clrUsed << ", block " << size);
                                Bytes block(size);
                                for (size_t i = 40; i < size; ++i)
                                    block[i] = static_cast<uint8_t>(i * 37 + 11);
                                std::memcpy(block.data(), head.data(), 40);
                                // A white, black pair first in the table, so
                                // that DIBNormalize has work to do.
                                const uint8_t whiteBlack[8] = {255, 255, 255, 0, 0, 0, 0, 0};
                                std::memcpy(block.data() + 40, whiteBlack, std::min<size_t>(8, size - 40));
                                HGLOBAL dib = block_of(block);
                                read_only_exports(dib, block);
                                writing_exports(dib, block);
                                // The file form once per header, with the
                                // most bytes after it.
                                if (size == sizes.back()) {
                                    load_as_file(block);
                                    // A metafile's bitmap record carries the
                                    // header as it is: turned with the record
                                    // for the headers of modest size, which
                                    // keeps the sweep to seconds (a turned
                                    // bitmap is drawn at full size).
                                    if (planes == 1 && w >= 0 && w <= 256 && h >= -256 && h <= 256)
                                        rotate_as_metafile_bitmap(block);
                                }
                                EXPECT_EQ(DIBFree(dib), nullptr);
                                ASSERT_EQ(kelm::testing::live_blocks(), live);
                                ASSERT_EQ(kelm::testing::locked_blocks(), 0u);
                                ++cases;
                                soundBlocks += sound(block);
                            }
                        }
    // The sweep must reach both sides of every check.
    EXPECT_GT(soundBlocks, 1000u);
    EXPECT_GT(cases - soundBlocks, 100000u);
}

// CreateDIB over the same widths, heights and depths, with every flag. What
// the model says cannot fit is refused before any allocation is tried; what
// fits either is refused for its depth or gives a block exactly as large as
// its header says. Blocks above 16 MiB are valid but slow to make under the
// sanitizers, so their allocation is failed on purpose: NULL, nothing left.
TEST(HostileHeaders, CreateDibOverTheBoundaries)
{
    const size_t live = kelm::testing::live_blocks();
    for (int32_t w : kWidths)
        for (int32_t h : kHeights)
            for (uint16_t bits : kBits)
                for (int flags = 0; flags < 4; ++flags) {
                    SCOPED_TRACE(testing::Message() << w << " x " << h << " x " << bits << ", flags " << flags);
                    const unsigned n = (flags & KELM3_CREATE_TWOPLANE) ? 2u * bits : bits;
                    const uint16_t planes = (n > 32 || (flags & KELM3_CREATE_TWOPLANE)) ? 2 : 1;
                    const uint16_t perPlane = static_cast<uint16_t>(n / planes);
                    // biClrUsed 0: the default count for the depth.
                    const Bytes head = header(w, h, planes, perPlane, BI_RGB, 0);
                    const auto m = kelm_test::model_layout(head.data(), head.size());
                    const bool big = m && m->total > (16u << 20);
                    if (big)
                        kelm::testing::fail_allocation(1);
                    const unsigned long before = kelm::testing::allocation_count();
                    HGLOBAL d = CreateDIB(w, h, bits, flags);
                    const bool tried = kelm::testing::allocation_count() != before;
                    kelm::testing::fail_allocation(0);
                    if (!m || big) {
                        EXPECT_EQ(d, nullptr);
                    }
                    if (!m) {
                        EXPECT_FALSE(tried) << "refused only after trying to allocate";
                    }
                    if (d) {
                        EXPECT_EQ(GlobalSize(d), m->total);
                        DIBFree(d);
                    }
                    ASSERT_EQ(kelm::testing::live_blocks(), live);
                }
}

}  // namespace
