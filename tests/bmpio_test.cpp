// The BMP reader and writer from inside: the byte reader, failure injection
// on every allocation of LoadDIB, synthetic extreme headers in tiny files
// (no allocation may grow with what a header claims beyond what the file
// can back), and every input that ever crashed a fuzzer.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "bmpio/bmpio.h"
#include "kelm3.h"
#include "support/dib_builder.h"
#include "support/layout_model.h"

using namespace kelm;
using Bytes = std::vector<uint8_t>;

namespace {

void put16(Bytes& v, uint32_t x)
{
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}

void put32(Bytes& v, uint32_t x)
{
    for (int i = 0; i < 4; ++i)
        v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

// A BMP file with a 40-byte header, `tableBytes` of colour table, `masks`
// and the given pixel bytes.
Bytes bmp_file(int32_t w, int32_t h, uint16_t bits, uint32_t comp, uint32_t sizeImage, size_t tableBytes,
               const Bytes& pixels)
{
    Bytes dib;
    put32(dib, 40);
    put32(dib, static_cast<uint32_t>(w));
    put32(dib, static_cast<uint32_t>(h));
    put16(dib, 1);
    put16(dib, bits);
    put32(dib, comp);
    put32(dib, sizeImage);
    put32(dib, 0);
    put32(dib, 0);
    put32(dib, 0);
    put32(dib, 0);
    if (comp == BI_BITFIELDS)
        for (uint32_t m : {0xF800u, 0x07E0u, 0x001Fu})
            put32(dib, m);
    for (size_t i = 0; i < tableBytes; ++i)
        dib.push_back(static_cast<uint8_t>(i));
    Bytes f = {'B', 'M'};
    put32(f, static_cast<uint32_t>(14 + dib.size() + pixels.size()));
    put32(f, 0);
    put32(f, static_cast<uint32_t>(14 + dib.size()));
    f.insert(f.end(), dib.begin(), dib.end());
    f.insert(f.end(), pixels.begin(), pixels.end());
    return f;
}

HGLOBAL load_bytes(const Bytes& file)
{
    std::vector<char> buffer(file.begin(), file.end());
    MMIOINFO mi;
    std::memset(&mi, 0, sizeof mi);
    mi.fccIOProc = FOURCC_MEM;
    mi.pchBuffer = buffer.data();
    mi.cchBuffer = static_cast<LONG>(buffer.size());
    HMMIO h = mmioOpenA(nullptr, &mi, MMIO_READ);
    if (!h)
        return nullptr;
    HGLOBAL dib = LoadDIB(h);
    mmioClose(h, 0);
    return dib;
}

TEST(ByteReader, ReadsLittleEndianAndStopsAtTheEnd)
{
    const BYTE data[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};
    ByteReader r(data);
    uint16_t a = 0;
    uint32_t b = 0;
    uint8_t c = 0;
    EXPECT_TRUE(r.u16(&a));
    EXPECT_EQ(a, 0x0201);
    EXPECT_TRUE(r.u32(&b));
    EXPECT_EQ(b, 0x06050403u);
    EXPECT_FALSE(r.u16(&a));
    EXPECT_EQ(r.remaining(), 0u) << "a failed read leaves the reader at the end";
    EXPECT_FALSE(r.u8(&c));

    ByteReader t(data);
    EXPECT_EQ(t.take(5).size(), 5u);
    EXPECT_EQ(t.take(5).size(), 2u);
    EXPECT_TRUE(t.take(5).empty());
    ByteReader s(data);
    int32_t neg = 0;
    const BYTE minus2[] = {0xFE, 0xFF, 0xFF, 0xFF};
    ByteReader m(minus2);
    EXPECT_TRUE(m.i32(&neg));
    EXPECT_EQ(neg, -2);
    EXPECT_FALSE(s.skip(8));
}

// Every allocation LoadDIB makes, failed in turn: NULL and nothing left
// allocated or locked; for RLE, a failed decode allocation returns the image
// compressed, which is then checked to be exactly that.
TEST(LoadDibFaults, EveryAllocationCanFail)
{
    const struct {
        const char* name;
        Bytes file;
    } cases[] = {
        {"8 bits", bmp_file(5, 3, 8, BI_RGB, 0, 1024, Bytes(24, 3))},
        {"top-down 24 bits", bmp_file(3, -2, 24, BI_RGB, 0, 0, Bytes(24, 5))},
        {"16-bit bit-fields", bmp_file(3, 2, 16, BI_BITFIELDS, 0, 0, Bytes(16, 7))},
        {"rle8", bmp_file(4, 2, 8, BI_RLE8, 6, 1024, Bytes{0x04, 0x02, 0x00, 0x00, 0x00, 0x01})},
        {"rle4", bmp_file(4, 2, 4, BI_RLE4, 4, 64, Bytes{0x04, 0x21, 0x00, 0x01})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t live = kelm::testing::live_blocks();
        int failures = 0;
        for (unsigned n = 1;; ++n) {
            const unsigned long before = kelm::testing::allocation_count();
            kelm::testing::fail_allocation(n);
            HGLOBAL dib = load_bytes(c.file);
            kelm::testing::fail_allocation(0);
            const bool fired = kelm::testing::allocation_count() - before >= n;
            if (!fired) {
                EXPECT_NE(dib, nullptr);
                GlobalFree(dib);
                break;
            }
            ++failures;
            if (dib) {
                // Only the decode of an RLE image may fail softly.
                const Bytes b = kelm_test::block_bytes(dib);
                const uint32_t compression = kelm_test::rd32(b, 16);
                EXPECT_TRUE(compression == BI_RLE8 || compression == BI_RLE4) << "allocation " << n;
                EXPECT_EQ(n, 2u);
                GlobalFree(dib);
            }
            EXPECT_EQ(kelm::testing::live_blocks(), live) << "allocation " << n;
            EXPECT_EQ(kelm::testing::locked_blocks(), 0u);
        }
        EXPECT_GE(failures, 1);
    }
}

TEST(LoadDibFaults, ResourceCopyCanFail)
{
    static int module;
    const Bytes file = bmp_file(3, 2, 24, BI_RGB, 0, 0, Bytes(16, 9));
    ASSERT_TRUE(kelm3_AddResource(&module, "PIC", RT_BITMAP, file.data() + 14, static_cast<DWORD>(file.size() - 14)));
    const size_t live = kelm::testing::live_blocks();
    kelm::testing::fail_allocation(1);
    EXPECT_EQ(LoadDIBResource(&module, "PIC"), nullptr);
    kelm::testing::fail_allocation(0);
    EXPECT_EQ(kelm::testing::live_blocks(), live);
    EXPECT_EQ(kelm::testing::locked_blocks(), 0u);
    kelm_test::Dib d(LoadDIBResource(&module, "PIC"));
    ASSERT_TRUE(d);
    EXPECT_EQ(kelm_test::block_bytes(d.get()), Bytes(file.begin() + 14, file.end()));
}

// Headers claiming every combination of extreme sizes, in files of a few
// hundred bytes at most: each loads to NULL or to a block no larger than the
// zero-fill allowance plus a small multiple of the file.
TEST(LoadDibHostile, ExtremeHeadersInTinyFiles)
{
    const int32_t widths[] = {0, 1, 255, 65535, 1 << 24, INT32_MAX, -1, INT32_MIN};
    const int32_t heights[] = {0, 1, -1, 65535, -65535, 1 << 24, INT32_MAX, INT32_MIN};
    const struct {
        uint16_t bits;
        uint32_t comp;
    } layouts[] = {{1, BI_RGB}, {4, BI_RGB}, {8, BI_RGB}, {16, BI_RGB}, {24, BI_RGB}, {32, BI_RGB},
                   {16, BI_BITFIELDS}, {32, BI_BITFIELDS}, {8, BI_RLE8}, {4, BI_RLE4}};
    const uint32_t sizes[] = {0, 16, 0xFFFFFFFF};
    const Bytes pixels = {0x04, 0x02, 0x00, 0x00, 0x00, 0x02, 0x10, 0x10, 0x03, 0x07, 0x00, 0x01, 1, 2, 3, 4};
    const size_t live = kelm::testing::live_blocks();
    for (int32_t w : widths)
        for (int32_t h : heights)
            for (const auto& l : layouts)
                for (uint32_t sizeImage : sizes) {
                    const size_t table = l.bits <= 8 ? (size_t{4} << l.bits) : 0;
                    const Bytes file = bmp_file(w, h, l.bits, l.comp, sizeImage, table, pixels);
                    HGLOBAL dib = load_bytes(file);
                    if (!dib)
                        continue;
                    EXPECT_LE(GlobalSize(dib), kZeroFillAllowance + 2 * file.size())
                        << w << " x " << h << " x " << l.bits << " compression " << l.comp;
                    // A negative width has no layout: such a block comes
                    // back as stored and every export refuses it.
                    BITMAPINFOHEADER bi;
                    EXPECT_EQ(DIBInfo(dib, &bi, sizeof bi), w >= 0 ? 1 : 0) << "the result's layout must fit its block";
                    GlobalFree(dib);
                }
    EXPECT_EQ(kelm::testing::live_blocks(), live);
}

TEST(LoadDibHostile, UncompressedAllowanceBoundary)
{
    // Missing bytes may exceed what the file supplies only up to 16 MiB.
    const uint32_t width = 4096;  // 8 bits, stride 4096
    const struct {
        int32_t height;
        size_t supplied;
        bool loads;
    } cases[] = {
        {4096, 0, true},                        // 16 MiB missing: the allowance
        {4097, 0, false},                       // one row more
        {4097 + 64, 64 * 4096 + 4096, true},    // the part supplied counts as well
        {8195, 4096 * 4096 + 4096, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.height);
        const Bytes file = bmp_file(static_cast<int32_t>(width), c.height, 8, BI_RGB, 0, 8, Bytes(c.supplied, 1));
        HGLOBAL dib = load_bytes(file);
        EXPECT_EQ(dib != nullptr, c.loads);
        if (dib)
            GlobalFree(dib);
    }
}

// Inputs that once crashed a fuzz target (tests/data/crashers/<target>/), run
// through the same path as in the fuzzer.
TEST(Crashers, EveryKnownCrasherIsHarmless)
{
    const std::filesystem::path root = std::filesystem::path(KELM3_SOURCE_DIR) / "tests/data/crashers";
    ASSERT_TRUE(std::filesystem::is_directory(root)) << root;
    int seen = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file() || entry.path().filename().string()[0] == '.')
            continue;
        SCOPED_TRACE(entry.path().string());
        std::ifstream in(entry.path(), std::ios::binary);
        const Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const size_t live = kelm::testing::live_blocks();
        ++seen;
        if (entry.path().parent_path().filename() == "dibfromrle") {
            if (data.size() < 5)
                continue;
            const uint32_t width = data[0] | (data[1] & 3u) << 8;
            const int32_t height = static_cast<int16_t>((data[2] | data[3] << 8) << 6) >> 6;
            const bool rle4 = data[4] & 1;
            kelm_test::BlockSpec s;
            BITMAPINFOHEADER bi = kelm_test::info_header(static_cast<LONG>(width), height, rle4 ? 4 : 8,
                                                         rle4 ? BI_RLE4 : BI_RLE8, 2);
            bi.biSizeImage = static_cast<DWORD>(data.size() - 5);
            s.header = kelm_test::header_bytes(bi);
            s.table = {RGBQUAD{0, 0, 0, 0}, RGBQUAD{1, 1, 1, 0}};
            s.pixels.assign(data.begin() + 5, data.end());
            kelm_test::Dib in(kelm_test::make_block(s));
            kelm_test::Dib out(DIBFromRle(in.get()));
            if (out) {
                BITMAPINFOHEADER info;
                EXPECT_EQ(DIBInfo(out.get(), &info, sizeof info), 1);
            }
        } else {
            HGLOBAL dib = load_bytes(data);
            if (dib) {
                // The forms the reader processes fit their block; DIBInfo
                // accepts exactly the blocks that fit.
                const bool fits = kelm_test::model_fits_block(dib);
                const Bytes head = kelm_test::block_bytes(dib);
                if (kelm_test::model_processed_form(head.data())) {
                    EXPECT_TRUE(fits);
                }
                BITMAPINFOHEADER info;
                EXPECT_EQ(DIBInfo(dib, &info, sizeof info), fits ? 1 : 0);
                GlobalFree(dib);
            }
        }
        EXPECT_EQ(kelm::testing::live_blocks(), live);
        EXPECT_EQ(kelm::testing::locked_blocks(), 0u);
    }
    EXPECT_GE(seen, 1);
}

}  // namespace
