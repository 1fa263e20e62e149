// BMP input and output through the public interface: LoadDIB over memory and
// disk files, LoadDIBFromFile, LoadDIBResource, DIBFromRle, SaveDIB and
// SaveDIBToFile. Built for Linux and for Win32 (under Wine); files are built
// byte by byte here, and the sample bitmaps are checked against the pictures
// their generator describes. With KELM3_INTEROP_DIR set, the files each
// platform writes are compared with the other platform's.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kelm3.h"
#include "support/dib_builder.h"

using namespace kelm_test;

namespace {

using Bytes = std::vector<uint8_t>;

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

uint16_t get16(const Bytes& v, size_t off)
{
    return static_cast<uint16_t>(v[off] | v[off + 1] << 8);
}

uint32_t get32(const Bytes& v, size_t off)
{
    return rd32(v, off);
}

int32_t geti32(const Bytes& v, size_t off)
{
    return static_cast<int32_t>(rd32(v, off));
}

// A 40-byte (or, with v4, 108-byte) info header.
Bytes info(int32_t w, int32_t h, uint16_t bits, uint32_t comp = BI_RGB, uint32_t sizeImage = 0,
           uint32_t clrUsed = 0, uint32_t clrImportant = 0, bool v4 = false, uint16_t planes = 1)
{
    Bytes b;
    put32(b, v4 ? 108 : 40);
    put32(b, static_cast<uint32_t>(w));
    put32(b, static_cast<uint32_t>(h));
    put16(b, planes);
    put16(b, bits);
    put32(b, comp);
    put32(b, sizeImage);
    put32(b, 2835);
    put32(b, 2835);
    put32(b, clrUsed);
    put32(b, clrImportant);
    if (v4)
        b.resize(108, 0);
    return b;
}

Bytes core(uint16_t w, uint16_t h, uint16_t bits)
{
    Bytes b;
    put32(b, 12);
    put16(b, w);
    put16(b, h);
    put16(b, 1);
    put16(b, bits);
    return b;
}

// A BMP file: file header, DIB header, masks, table, a gap, pixels. bfOffBits
// points past the gap.
struct FileSpec {
    Bytes header;
    std::vector<uint32_t> masks;
    Bytes table;
    size_t gap = 0;
    Bytes pixels;
    bool fileHeader = true;
};

Bytes bmp(const FileSpec& s)
{
    Bytes dib = s.header;
    for (uint32_t m : s.masks)
        put32(dib, m);
    dib.insert(dib.end(), s.table.begin(), s.table.end());
    dib.resize(dib.size() + s.gap, 0xEE);
    const size_t offBits = 14 + dib.size();
    dib.insert(dib.end(), s.pixels.begin(), s.pixels.end());
    if (!s.fileHeader)
        return dib;
    Bytes f = {'B', 'M'};
    put32(f, static_cast<uint32_t>(14 + dib.size()));
    put32(f, 0);
    put32(f, static_cast<uint32_t>(offBits));
    f.insert(f.end(), dib.begin(), dib.end());
    return f;
}

Bytes ramp(size_t n, unsigned step = 1, unsigned start = 0)
{
    Bytes v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(start + i * step);
    return v;
}

// A memory file over a copy of `bytes` (or over a zeroed buffer of `size`).
class MemoryFile {
public:
    explicit MemoryFile(const Bytes& bytes, DWORD flags = MMIO_READ) : buffer_(bytes.begin(), bytes.end())
    {
        open(flags);
    }
    MemoryFile(size_t size, DWORD flags) : buffer_(size, 0) { open(flags); }
    ~MemoryFile()
    {
        if (h_)
            mmioClose(h_, 0);
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    HMMIO get() const { return h_; }
    LONG position() const { return mmioSeek(h_, 0, SEEK_CUR); }
    Bytes contents(size_t n) const { return Bytes(buffer_.begin(), buffer_.begin() + static_cast<long>(n)); }

private:
    void open(DWORD flags)
    {
        MMIOINFO mi;
        std::memset(&mi, 0, sizeof mi);
        mi.fccIOProc = FOURCC_MEM;
        mi.pchBuffer = buffer_.data();
        mi.cchBuffer = static_cast<LONG>(buffer_.size());
        h_ = mmioOpenA(nullptr, &mi, flags);
    }

    std::vector<char> buffer_;
    HMMIO h_ = nullptr;
};

HGLOBAL load(const Bytes& file)
{
    MemoryFile f(file);
    return f.get() ? LoadDIB(f.get()) : nullptr;
}

// A packed DIB block made by hand.
HGLOBAL block_of(const Bytes& bytes)
{
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    uint8_t* p = static_cast<uint8_t*>(GlobalLock(h));
    std::memcpy(p, bytes.data(), bytes.size());
    GlobalUnlock(h);
    return h;
}

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::string source_file(const std::string& rel)
{
    return std::string(KELM3_SOURCE_DIR) + "/" + rel;
}

Bytes read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string temp_path(const std::string& name)
{
#ifdef _WIN32
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    return std::string(dir) + name;
#else
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/" + name;
#endif
}

// ---------------------------------------------------------------------------
// Reader: the header stage, by table.

struct HeaderCase {
    const char* name;
    Bytes file;
    bool loads;
};

std::vector<HeaderCase> header_cases()
{
    const Bytes px8 = ramp(4 * 2);
    std::vector<HeaderCase> c;
    c.push_back({"info header 40", bmp({info(4, 2, 8, BI_RGB, 0, 2), {}, Bytes(8, 1), 0, px8}), true});
    Bytes v5 = concat({info(4, 2, 8, BI_RGB, 0, 2), Bytes(84, 0)});
    v5[0] = 124;
    c.push_back({"header size 124", bmp({v5, {}, Bytes(8), 0, px8}), false});
    Bytes h124 = info(4, 2, 8, BI_RGB, 0, 2);
    h124[0] = 124;
    c.push_back({"biSize 124 written over a 40-byte header", bmp({h124, {}, Bytes(8), 0, px8}), false});
    Bytes h64 = info(4, 2, 8);
    h64[0] = 64;
    c.push_back({"OS/2 v2 header size 64", bmp({h64, {}, Bytes(1024), 0, px8}), false});
    c.push_back({"file shorter than the file header", Bytes{'B', 'M', 0, 0, 0}, false});
    Bytes cut = bmp({info(4, 2, 8), {}, Bytes(1024), 0, px8});
    cut.resize(14 + 39);
    c.push_back({"DIB header cut at 39 bytes", cut, false});
    Bytes cutCore = bmp({core(4, 2, 8), {}, Bytes(768), 0, px8});
    cutCore.resize(14 + 11);
    c.push_back({"core header cut at 11 bytes", cutCore, false});
    c.push_back({"tiny core file (26 bytes after the file header)", bmp({core(2, 2, 1), {}, Bytes(6, 9), 0, Bytes(8)}),
                 true});
    c.push_back({"2 bits per pixel", bmp({info(4, 2, 2, BI_RGB, 0, 4), {}, Bytes(16), 0, Bytes(8)}), true});
    c.push_back({"64 bits per pixel", bmp({info(1, 1, 64), {}, {}, 0, Bytes(8)}), true});
    c.push_back({"BI_JPEG", bmp({info(4, 2, 24, 4), {}, {}, 0, Bytes(32)}), true});
    c.push_back({"BI_ALPHABITFIELDS", bmp({info(4, 2, 32, 6), {0xFF0000, 0xFF00, 0xFF, 0}, {}, 0, Bytes(32)}), true});
    c.push_back({"RLE8 at 4 bits", bmp({info(4, 2, 4, BI_RLE8, 2), {}, Bytes(64), 0, Bytes{0, 1}}), true});
    c.push_back({"BI_BITFIELDS at 24 bits", bmp({info(4, 2, 24, BI_BITFIELDS), {1, 2, 4}, {}, 0, Bytes(24)}), true});
    c.push_back({"negative width", bmp({info(-4, 2, 8, BI_RGB, 0, 2), {}, Bytes(8), 0, px8}), true});
    c.push_back({"three planes", bmp({info(4, 2, 8, BI_RGB, 0, 2, 0, false, 3), {}, Bytes(8), 0, px8}), true});
    c.push_back({"biClrUsed 65536", bmp({info(4, 2, 8, BI_RGB, 0, 65536), {}, Bytes(1024), 0, px8}), true});
    c.push_back({"width x stride beyond 2^31",
                 bmp({info(3000000, 2000000, 24), {}, {}, 0, Bytes(64)}), false});
    c.push_back({"height INT_MIN", bmp({info(1, INT32_MIN, 8, BI_RGB, 0, 2), {}, Bytes(8), 0, Bytes(8)}), false});
    c.push_back({"height INT_MIN, width 0", bmp({info(0, INT32_MIN, 8, BI_RGB, 0, 2), {}, Bytes(8), 0, {}}), false});
    c.push_back({"RLE8 with height INT_MIN", bmp({info(4, INT32_MIN, 8, BI_RLE8, 4, 2), {}, Bytes(8), 0, Bytes{0, 0, 0, 1}}),
                 false});
    // Two planes of 24 or 32 bits with 2^31 rows: |height| x stride x 2
    // passes 2^64 and once wrapped to a small size.
    c.push_back({"two planes, 0x55555555 x INT_MIN x 24",
                 bmp({info(0x55555555, INT32_MIN, 24, BI_RGB, 0, 0, 0, false, 2), {}, {}, 0, {}}), false});
    c.push_back({"two planes, 2^30 x INT_MIN x 32",
                 bmp({info(0x40000000, INT32_MIN, 32, BI_RGB, 0, 0, 0, false, 2), {}, {}, 0, {}}), false});
    c.push_back({"two planes, 0x55555555 x INT_MAX x 24",
                 bmp({info(0x55555555, INT32_MAX, 24, BI_RGB, 0, 0, 0, false, 2), {}, {}, 0, {}}), false});
    // 1.6 GB of pixels claimed by a file of a few dozen bytes: refused, not
    // zero-filled.
    c.push_back({"20000 x 20000 x 32 in a tiny file", bmp({info(20000, 20000, 32), {}, {}, 0, Bytes(16)}), false});
    return c;
}

TEST(LoadDib, HeaderStageAcceptsAndRefuses)
{
    for (const HeaderCase& c : header_cases()) {
        SCOPED_TRACE(c.name);
        Dib d(load(c.file));
        EXPECT_EQ(d.get() != nullptr, c.loads);
    }
}

// What the reader does not decode (compressions it does not know, RLE at the
// other depth, depths no export processes) it returns as stored: the header
// with biClrUsed and biClrImportant completed, the masks, the table, and the
// pixel bytes the stored size names, or the rows' size when that is 0, but
// never more than the stream holds; biSizeImage then says how many.
TEST(LoadDib, FormsItDoesNotDecodeComeBackAsStored)
{
    const struct {
        const char* name;
        Bytes header, table, pixels;
        uint32_t clrUsed, sizeImage;  // as loaded
        size_t pixelBytes;            // held by the block
    } cases[] = {
        {"2 bits", info(4, 2, 2, BI_RGB, 0, 4), ramp(16, 7), ramp(8, 5), 4, 8, 8},
        {"2 bits, stored size 6", info(4, 2, 2, BI_RGB, 6, 4), ramp(16, 7), ramp(8, 5), 4, 6, 6},
        {"2 bits, top-down, kept so", info(4, -2, 2, BI_RGB, 0, 4), ramp(16, 7), ramp(8, 5), 4, 8, 8},
        {"64 bits, size 0: the rows' size", info(1, 2, 64, BI_RGB, 0), {}, ramp(20, 3), 0, 16, 16},
        {"two planes of 16 bits, size past the stream", info(2, 1, 16, BI_RGB, 99, 0, 0, false, 2), {}, ramp(5, 9), 0,
         5, 5},
        {"RLE8 at 4 bits", info(4, 2, 4, BI_RLE8, 4), ramp(64, 3), Bytes{2, 0x12, 0, 1}, 16, 4, 4},
        {"RLE4 at 8 bits", info(4, 2, 8, BI_RLE4, 6, 3), ramp(12, 3), Bytes{4, 0x12, 0, 0, 0, 1}, 3, 6, 6},
        {"BI_JPEG, stored size", info(8, 8, 24, 4, 5), {}, Bytes{0xFF, 0xD8, 0xFF, 0xD9, 0, 9, 9}, 0, 5, 5},
        {"BI_PNG, size 0: the rows' size", info(2, 2, 24, 5, 0), {}, ramp(40, 1), 0, 16, 16},
        {"BI_PNG, size past the stream", info(2, 2, 24, 5, 1000), {}, ramp(10, 1), 0, 10, 10},
        {"RLE8, two planes", info(4, 1, 8, BI_RLE8, 2, 2, 0, false, 2), ramp(8, 3), Bytes{0, 1}, 2, 2, 2},
        // Decodable, but 2.5 GB of rows: kept compressed.
        {"RLE8 of 50000 x 50000", info(50000, 50000, 8, BI_RLE8, 4, 2), ramp(8, 9), Bytes{0, 0, 0, 1}, 2, 4, 4},
        {"RLE8 of 50000 x 50000, size 0", info(50000, 50000, 8, BI_RLE8, 0, 2), ramp(8, 9), Bytes{0, 0, 0, 1}, 2, 4, 4},
        {"unknown compression 0xFFFFFFFF", info(1, 1, 8, 0xFFFFFFFF, 3, 2), ramp(8, 1), Bytes{1, 2, 3}, 2, 3, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Dib d(load(bmp({c.header, {}, c.table, 0, c.pixels})));
        ASSERT_TRUE(d);
        const Bytes b = block_bytes(d.get());
        const size_t offset = 40 + c.table.size();
        ASSERT_EQ(b.size(), offset + c.pixelBytes);
        EXPECT_EQ(Bytes(b.begin() + 4, b.begin() + 20), Bytes(c.header.begin() + 4, c.header.begin() + 20)) << "fields";
        EXPECT_EQ(get32(b, 20), c.sizeImage);
        EXPECT_EQ(get32(b, 32), c.clrUsed);
        EXPECT_EQ(Bytes(b.begin() + 40, b.begin() + static_cast<long>(offset)), c.table);
        EXPECT_EQ(Bytes(b.begin() + static_cast<long>(offset), b.end()),
                  Bytes(c.pixels.begin(), c.pixels.begin() + static_cast<long>(c.pixelBytes)));
        // Nothing that processes pixels takes them; DIBFromRle only copies
        // uncompressed ones.
        EXPECT_EQ(RWOpenDIB(d.get()), nullptr);
        if (get32(c.header, 16) != BI_RGB) {
            EXPECT_EQ(DIBFromRle(d.get()), nullptr);
        }
    }
}

// An OS/2 colour table cut short keeps every byte that arrived: with 28 of
// its 48 bytes, entries 0-8 are whole and entry 9 has its blue byte.
TEST(LoadDib, TruncatedCoreTableKeepsEveryByte)
{
    Bytes file = bmp({core(2, 1, 4), {}, ramp(48, 3, 1), 0, {}});
    file.resize(14 + 12 + 28);
    Dib d(load(file));
    ASSERT_TRUE(d);
    const Bytes b = block_bytes(d.get());
    for (size_t i = 0; i < 16; ++i)
        for (size_t k = 0; k < 3; ++k) {
            const size_t n = 3 * i + k;
            EXPECT_EQ(b[40 + 4 * i + k], n < 28 ? static_cast<uint8_t>(1 + 3 * n) : 0) << "entry " << i << " byte " << k;
        }
}

TEST(LoadDib, NullStreamGivesNull)
{
    EXPECT_EQ(LoadDIB(nullptr), nullptr);
}

TEST(LoadDib, EightBitsWithZeroCountsIsCompleted)
{
    const Bytes pixels = ramp(8 * 3, 3);
    Dib d(load(bmp({info(5, 3, 8), {}, ramp(1024, 1), 0, pixels})));
    ASSERT_TRUE(d);
    const Bytes b = block_bytes(d.get());
    EXPECT_EQ(get32(b, 32), 256u);       // biClrUsed
    EXPECT_EQ(get32(b, 20), 3u * 8u);    // biSizeImage = height x stride
    ASSERT_EQ(b.size(), 40u + 1024u + 24u);
    EXPECT_EQ(Bytes(b.begin() + 40, b.begin() + 1064), ramp(1024, 1));
    EXPECT_EQ(Bytes(b.begin() + 1064, b.end()), pixels);
}

TEST(LoadDib, HeaderlessStreamGivesTheSameImage)
{
    FileSpec s{info(5, 3, 8, BI_RGB, 0, 4), {}, ramp(16, 5), 0, ramp(24, 7)};
    Dib a(load(bmp(s)));
    s.fileHeader = false;
    Dib b(load(bmp(s)));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(block_bytes(a.get()), block_bytes(b.get()));
}

TEST(LoadDib, GapBeforeThePixelsIsSkipped)
{
    const Bytes pixels = ramp(8 * 2, 11, 1);
    Dib d(load(bmp({info(6, 2, 8, BI_RGB, 0, 2), {}, Bytes{1, 2, 3, 0, 4, 5, 6, 0}, 100, pixels})));
    ASSERT_TRUE(d);
    const Bytes b = block_bytes(d.get());
    ASSERT_EQ(b.size(), 40u + 8u + 16u);
    EXPECT_EQ(Bytes(b.begin() + 48, b.end()), pixels);
}

TEST(LoadDib, CoreHeaderIsConverted)
{
    Bytes triples;
    for (int i = 0; i < 16; ++i) {
        triples.push_back(static_cast<uint8_t>(i));
        triples.push_back(static_cast<uint8_t>(2 * i));
        triples.push_back(static_cast<uint8_t>(3 * i));
    }
    const Bytes pixels = ramp(4 * 2, 17);
    Dib d(load(bmp({core(3, 2, 4), {}, triples, 0, pixels})));
    ASSERT_TRUE(d);
    const Bytes b = block_bytes(d.get());
    ASSERT_EQ(b.size(), 40u + 64u + 8u);
    EXPECT_EQ(get32(b, 0), 40u);
    EXPECT_EQ(geti32(b, 4), 3);
    EXPECT_EQ(geti32(b, 8), 2);
    EXPECT_EQ(get16(b, 12), 1u);
    EXPECT_EQ(get16(b, 14), 4u);
    EXPECT_EQ(get32(b, 16), 0u);
    EXPECT_EQ(get32(b, 20), 8u);
    EXPECT_EQ(get32(b, 32), 16u);
    EXPECT_EQ(get32(b, 36), 16u);
    for (int i = 0; i < 16; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(b[40 + 4 * i], i);
        EXPECT_EQ(b[41 + 4 * i], 2 * i);
        EXPECT_EQ(b[42 + 4 * i], 3 * i);
        EXPECT_EQ(b[43 + 4 * i], 0);
    }
    EXPECT_EQ(Bytes(b.begin() + 104, b.end()), pixels);
}

TEST(LoadDib, CoreWidthIsUnsigned)
{
    const uint32_t stride = 5000;  // 40000 pixels at 1 bit
    Dib d(load(bmp({core(40000, 1, 1), {}, Bytes{0, 0, 0, 255, 255, 255}, 0, Bytes(stride, 0x5A)})));
    ASSERT_TRUE(d);
    const Bytes b = block_bytes(d.get());
    EXPECT_EQ(geti32(b, 4), 40000);
    EXPECT_EQ(b.size(), 40u + 8u + stride);
}

TEST(LoadDib, ClrImportantOneBecomesZero)
{
    const struct {
        uint32_t stored, expected;
    } cases[] = {{1, 0}, {2, 2}, {0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        Dib d(load(bmp({info(4, 1, 8, BI_RGB, 0, 2, c.stored), {}, Bytes(8), 0, Bytes(4)})));
        ASSERT_TRUE(d);
        EXPECT_EQ(get32(block_bytes(d.get()), 36), c.expected);
    }
}

TEST(LoadDib, BitfieldMasksFollowTheHeader)
{
    const Bytes pixels = ramp(4 * 2, 9);
    Dib d(load(bmp({info(2, 2, 16, BI_BITFIELDS), {0xF800, 0x07E0, 0x001F}, {}, 4, pixels})));
    ASSERT_TRUE(d);
    const Bytes b = block_bytes(d.get());
    ASSERT_EQ(b.size(), 40u + 12u + 8u);
    EXPECT_EQ(get32(b, 40), 0xF800u);
    EXPECT_EQ(get32(b, 44), 0x07E0u);
    EXPECT_EQ(get32(b, 48), 0x001Fu);
    EXPECT_EQ(Bytes(b.begin() + 52, b.end()), pixels);
}

TEST(LoadDib, V4BitfieldFileWithMasksInsideTheHeader)
{
    // A 108-byte header BMP as other writers make it: masks at offset 40 of
    // the header and the pixels right after it.
    Bytes h = info(2, 1, 32, BI_BITFIELDS, 8, 0, 0, true);
    const uint32_t masks[3] = {0x00FF0000, 0x0000FF00, 0x000000FF};
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 4; ++k)
            h[40 + 4 * i + k] = static_cast<uint8_t>(masks[i] >> (8 * k));
    const Bytes pixels = ramp(8, 21, 3);
    Dib d(load(bmp({h, {}, {}, 0, pixels})));
    ASSERT_TRUE(d);
    const Bytes b = block_bytes(d.get());
    ASSERT_EQ(b.size(), 108u + 12u + 8u);
    EXPECT_EQ(get32(b, 108), masks[0]);
    EXPECT_EQ(get32(b, 112), masks[1]);
    EXPECT_EQ(get32(b, 116), masks[2]);
    EXPECT_EQ(Bytes(b.begin() + 120, b.end()), pixels);
}

TEST(LoadDib, TopDownRowsAreTurned)
{
    // Rows of 2 pixels x 3 bytes, stride 8; row k holds bytes 10k + i.
    Bytes pixels;
    for (int r = 0; r < 3; ++r)
        for (int i = 0; i < 8; ++i)
            pixels.push_back(static_cast<uint8_t>(10 * r + i));
    Dib d(load(bmp({info(2, -3, 24), {}, {}, 0, pixels})));
    ASSERT_TRUE(d);
    const Bytes b = block_bytes(d.get());
    EXPECT_EQ(geti32(b, 8), 3);
    ASSERT_EQ(b.size(), 40u + 24u);
    for (int r = 0; r < 3; ++r) {
        SCOPED_TRACE(r);
        EXPECT_EQ(Bytes(b.begin() + 40 + 8 * r, b.begin() + 48 + 8 * r),
                  Bytes(pixels.begin() + 8 * (2 - r), pixels.begin() + 8 * (3 - r)));
    }
}

TEST(LoadDib, Rle8IsDecodedAndRle4WithV4HeaderStaysCompressed)
{
    const Bytes codes8 = {0x03, 0x05, 0x00, 0x00, 0x02, 0x07, 0x00, 0x01};
    Dib d8(load(bmp({info(3, 2, 8, BI_RLE8, static_cast<uint32_t>(codes8.size()), 8), {}, ramp(32), 0, codes8})));
    ASSERT_TRUE(d8);
    const Bytes b8 = block_bytes(d8.get());
    EXPECT_EQ(get32(b8, 16), static_cast<uint32_t>(BI_RGB));
    EXPECT_EQ(get32(b8, 20), 2u * 4u);
    EXPECT_EQ(Bytes(b8.begin() + 72, b8.end()), (Bytes{5, 5, 5, 0, 7, 7, 0, 0}));

    const Bytes codes4 = {0x04, 0x12, 0x00, 0x01};
    Dib d4(load(bmp({info(4, 1, 4, BI_RLE4, 4, 16, 0, true), {}, ramp(64), 0, codes4})));
    ASSERT_TRUE(d4);
    const Bytes b4 = block_bytes(d4.get());
    EXPECT_EQ(get32(b4, 16), static_cast<uint32_t>(BI_RLE4));
    EXPECT_EQ(get32(b4, 20), 4u);
    EXPECT_EQ(Bytes(b4.begin() + 108 + 64, b4.end()), codes4);
}

TEST(LoadDib, TopDownRleStaysCompressedWithItsHeight)
{
    const Bytes codes = {0x02, 0x01, 0x00, 0x01};
    Dib d(load(bmp({info(2, -2, 8, BI_RLE8, 4, 2), {}, Bytes(8), 0, codes})));
    ASSERT_TRUE(d);
    const Bytes b = block_bytes(d.get());
    EXPECT_EQ(geti32(b, 8), -2);
    EXPECT_EQ(get32(b, 16), static_cast<uint32_t>(BI_RLE8));
    EXPECT_EQ(Bytes(b.begin() + 48, b.end()), codes);
}

TEST(LoadDib, StoredSizeImageDoesNotSizeTheBlock)
{
    // Uncompressed: the layout decides. RLE: the stored size, cut to what the
    // stream holds.
    Dib a(load(bmp({info(4, 2, 8, BI_RGB, 0x7FFFFF00, 2), {}, Bytes(8), 0, ramp(8)})));
    ASSERT_TRUE(a);
    EXPECT_EQ(GlobalSize(a.get()), 40u + 8u + 8u);
    EXPECT_EQ(get32(block_bytes(a.get()), 20), 8u);

    const Bytes codes = {0x02, 0x01, 0x00, 0x01};
    Dib b(load(bmp({info(2, 2, 8, BI_RLE8, 0x7FFFFF00, 2, 0, true), {}, Bytes(8), 0, codes})));
    ASSERT_TRUE(b);
    const Bytes bb = block_bytes(b.get());
    EXPECT_EQ(get32(bb, 20), 4u);
    EXPECT_EQ(bb.size(), 108u + 8u + 4u);
}

TEST(LoadDib, TruncatedPixelsAreZero)
{
    const Bytes full = bmp({info(4, 3, 8, BI_RGB, 0, 2), {}, Bytes{9, 9, 9, 0, 8, 8, 8, 0}, 0, ramp(12, 1, 1)});
    for (size_t keep = 14 + 40 + 8; keep <= full.size(); ++keep) {
        SCOPED_TRACE(keep);
        Dib d(load(Bytes(full.begin(), full.begin() + static_cast<long>(keep))));
        ASSERT_TRUE(d);
        const Bytes b = block_bytes(d.get());
        ASSERT_EQ(b.size(), 40u + 8u + 12u);
        for (size_t i = 0; i < 12; ++i)
            EXPECT_EQ(b[48 + i], 14 + 48 + i < keep ? i + 1 : 0) << "pixel byte " << i;
    }
}

TEST(LoadDib, TruncationAtEveryOffsetNeverFailsLate)
{
    // Every prefix that holds the whole DIB header loads; shorter ones do not.
    const Bytes full = bmp({info(3, 2, 16, BI_BITFIELDS), {0x7C00, 0x03E0, 0x001F}, {}, 0, ramp(16, 3)});
    for (size_t keep = 0; keep <= full.size(); ++keep) {
        SCOPED_TRACE(keep);
        Dib d(load(Bytes(full.begin(), full.begin() + static_cast<long>(keep))));
        EXPECT_EQ(d.get() != nullptr, keep >= 14 + 40);
    }
}

TEST(LoadDib, ModestTruncatedImageIsZeroFilled)
{
    // 2000 x 2000 x 32 bits = 16,000,000 bytes from a file of a few dozen: the
    // missing part is within the 16 MiB allowance.
    Dib d(load(bmp({info(2000, 2000, 32), {}, {}, 0, Bytes(16, 0xAB)})));
    ASSERT_TRUE(d);
    EXPECT_EQ(GlobalSize(d.get()), 40u + 16000000u);
    Locked l(d.get());
    EXPECT_EQ(l.get()[40], 0xAB);
    EXPECT_EQ(l.get()[40 + 16], 0);
    EXPECT_EQ(l.get()[40 + 15999999], 0);
}

TEST(LoadDib, StreamIsLeftAfterThePixels)
{
    Bytes file = bmp({info(4, 2, 8, BI_RGB, 0, 2), {}, Bytes(8), 0, ramp(8)});
    const size_t end = file.size();
    file.resize(end + 10, 0x77);
    MemoryFile f(file);
    Dib d(LoadDIB(f.get()));
    ASSERT_TRUE(d);
    EXPECT_EQ(f.position(), static_cast<LONG>(end));
}

TEST(LoadDib, TwoImagesInOneStream)
{
    const Bytes first = bmp({info(4, 1, 8, BI_RGB, 0, 2), {}, Bytes{1, 1, 1, 0, 2, 2, 2, 0}, 0, Bytes{1, 0, 1, 0}});
    const Bytes second = bmp({info(1, 1, 24), {}, {}, 0, Bytes{7, 8, 9, 0}});
    MemoryFile f(concat({first, second}));
    Dib a(LoadDIB(f.get()));
    Dib b(LoadDIB(f.get()));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(get16(block_bytes(a.get()), 14), 8u);
    const Bytes bb = block_bytes(b.get());
    EXPECT_EQ(Bytes(bb.begin() + 40, bb.end()), (Bytes{7, 8, 9, 0}));
}

TEST(LoadDib, MissingFileGivesNull)
{
    EXPECT_EQ(LoadDIBFromFile(temp_path("kelm3-no-such-file.bmp").c_str()), nullptr);
    EXPECT_EQ(LoadDIBFromFile(nullptr), nullptr);
    EXPECT_EQ(LoadDIBFromFile(""), nullptr);
}

// ---------------------------------------------------------------------------
// The sample bitmaps: known pixels.

// Pixel (x, y) of a loaded, bottom-up image, y counted from the top line.
const uint8_t* at(const Bytes& b, size_t offset, int height, uint32_t stride, int x, int y, int bits)
{
    return b.data() + offset + static_cast<size_t>(height - 1 - y) * stride + static_cast<size_t>(x * bits / 8);
}

int nibble(const Bytes& b, size_t offset, int height, uint32_t stride, int x, int y)
{
    const uint8_t v = *at(b, offset, height, stride, x, y, 4);
    return x % 2 == 0 ? v >> 4 : v & 15;
}

Bytes load_sample(const char* name)
{
    Dib d(LoadDIBFromFile(source_file(std::string("samples/") + name).c_str()));
    return d ? block_bytes(d.get()) : Bytes{};
}

TEST(Samples, Rle8)
{
    const int picture[5][10] = {{1, 1, 1, 1, 1, 2, 2, 2, 2, 2}, {3, 0, 1, 2, 3, 3, 3, 3, 0, 0},
                                {0, 0, 0, 0, 2, 2, 0, 0, 0, 0}, {1, 2, 3, 1, 2, 3, 1, 2, 3, 1},
                                {2, 2, 2, 2, 2, 2, 2, 2, 2, 2}};
    const Bytes b = load_sample("rle8.bmp");
    ASSERT_EQ(b.size(), 40u + 16u + 5u * 12u);
    EXPECT_EQ(get32(b, 16), static_cast<uint32_t>(BI_RGB));
    EXPECT_EQ(Bytes(b.begin() + 40, b.begin() + 56), (Bytes{0, 0, 0, 0, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0}));
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(*at(b, 56, 5, 12, x, y, 8), picture[y][x]) << x << "," << y;
}

TEST(Samples, Rle4)
{
    const int picture[4][7] = {
        {1, 2, 1, 2, 1, 2, 1}, {3, 4, 5, 6, 7, 8, 9}, {0, 0, 0, 10, 10, 10, 0}, {5, 5, 5, 12, 13, 12, 13}};
    const Bytes b = load_sample("rle4.bmp");
    ASSERT_EQ(b.size(), 40u + 64u + 4u * 4u);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 7; ++x)
            EXPECT_EQ(nibble(b, 104, 4, 4, x, y), picture[y][x]) << x << "," << y;
}

TEST(Samples, Os2CoreHeader)
{
    const Bytes b = load_sample("os2.bmp");
    ASSERT_EQ(b.size(), 40u + 64u + 3u * 4u);
    EXPECT_EQ(get32(b, 32), 16u);
    for (int i = 0; i < 16; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(b[40 + 4 * i], (i * 16) & 0xFF);
        EXPECT_EQ(b[41 + 4 * i], 255 - i * 16);
        EXPECT_EQ(b[42 + 4 * i], i * 8);
        EXPECT_EQ(b[43 + 4 * i], 0);
    }
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(nibble(b, 104, 3, 4, x, y), (x + 2 * y) % 16) << x << "," << y;
}

TEST(Samples, TopDown24)
{
    const Bytes b = load_sample("topdown24.bmp");
    ASSERT_EQ(b.size(), 40u + 3u * 16u);
    EXPECT_EQ(geti32(b, 8), 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            const uint8_t* p = at(b, 40, 3, 16, x, y, 24);
            EXPECT_EQ(p[0], 10 * x + 1);
            EXPECT_EQ(p[1], 50 * y + 2);
            EXPECT_EQ(p[2], 200);
        }
}

TEST(Samples, Bitfields16)
{
    const Bytes b = load_sample("bitfields16.bmp");
    ASSERT_EQ(b.size(), 40u + 12u + 2u * 12u);
    EXPECT_EQ(get32(b, 40), 0xF800u);
    EXPECT_EQ(get32(b, 44), 0x07E0u);
    EXPECT_EQ(get32(b, 48), 0x001Fu);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 6; ++x) {
            const uint8_t* p = at(b, 52, 2, 12, x, y, 16);
            EXPECT_EQ(p[0] | p[1] << 8, x << 11 | (9 * y) << 5 | (x + y)) << x << "," << y;
        }
}

TEST(Samples, Rgb24AndRgb32)
{
    const Bytes b24 = load_sample("rgb24.bmp");
    ASSERT_EQ(b24.size(), 40u + 3u * 24u);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 7; ++x) {
            const uint8_t* p = at(b24, 40, 3, 24, x, y, 24);
            EXPECT_EQ(p[0], 30 * x);
            EXPECT_EQ(p[1], 60 * y);
            EXPECT_EQ(p[2], 255 - 30 * x);
        }
    const Bytes b32 = load_sample("rgb32.bmp");
    ASSERT_EQ(b32.size(), 40u + 3u * 16u);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) {
            const uint8_t* p = at(b32, 40, 3, 16, x, y, 32);
            EXPECT_EQ(p[0], 60 * x);
            EXPECT_EQ(p[1], 80 * y);
            EXPECT_EQ(p[2], 17);
            EXPECT_EQ(p[3], x + y);
        }
}

// ---------------------------------------------------------------------------
// DIBFromRle.

struct RleCase {
    const char* name;
    int width, height, bits;
    Bytes codes;
    Bytes pixels;  // the whole expected pixel array
};

std::vector<RleCase> rle_cases()
{
    return {
        {"rle8 runs, sixth pixel not written", 6, 2, 8, {0x03, 0x05, 0x02, 0x07, 0x00, 0x00, 0x00, 0x01},
         {5, 5, 5, 7, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"rle8 absolute run skips its pad byte", 4, 1, 8, {0x00, 0x03, 0x01, 0x02, 0x03, 0x00, 0x00, 0x01},
         {1, 2, 3, 0}},
        {"rle8 delta then end of line", 6, 3, 8,
         {0x02, 0x09, 0x00, 0x02, 0x02, 0x01, 0x01, 0x08, 0x00, 0x00, 0x01, 0x06, 0x00, 0x01},
         {9, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0}},
        {"rle8 run flows into the next row; end of line goes to the row after the first", 4, 3, 8,
         {0x06, 0x03, 0x00, 0x00, 0x01, 0x07, 0x00, 0x01}, {3, 3, 3, 3, 7, 3, 0, 0, 0, 0, 0, 0}},
        {"rle8 run past the end of the array stops there", 4, 1, 8, {0x0A, 0x05, 0x00, 0x00, 0x01, 0x09},
         {5, 5, 5, 5}},
        {"rle8 stream without end of bitmap", 4, 2, 8, {0x02, 0x04, 0x00}, {4, 4, 0, 0, 0, 0, 0, 0}},
        {"rle8 absolute run cut by the end of the data", 4, 1, 8, {0x00, 0x04, 0x01, 0x02}, {1, 2, 0, 0}},
        {"rle4 alternating nibbles", 5, 1, 4, {0x05, 0x12, 0x00, 0x01}, {0x12, 0x12, 0x10, 0x00}},
        {"rle4 absolute run of 3 already even", 5, 1, 4, {0x00, 0x03, 0x12, 0x30, 0x02, 0x45, 0x00, 0x01},
         {0x12, 0x34, 0x50, 0x00}},
        {"rle4 absolute run of 5 rounded up to 4 bytes", 6, 1, 4,
         {0x00, 0x05, 0x12, 0x34, 0x50, 0x00, 0x01, 0x66, 0x00, 0x01}, {0x12, 0x34, 0x56, 0x00}},
        {"rle4 run from an odd column", 3, 1, 4, {0x01, 0x90, 0x02, 0xAB, 0x00, 0x01}, {0x9A, 0xB0, 0x00, 0x00}},
        {"rle4 delta and end of line leave index 0", 4, 2, 4, {0x00, 0x02, 0x01, 0x01, 0x01, 0x70, 0x00, 0x01},
         {0x00, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00}},
    };
}

TEST(DibFromRle, DecodesTheEncodings)
{
    for (const RleCase& c : rle_cases()) {
        SCOPED_TRACE(c.name);
        const uint32_t colours = c.bits == 8 ? 256 : 16;
        const Bytes src = concat({info(c.width, c.height, static_cast<uint16_t>(c.bits), c.bits == 8 ? BI_RLE8 : BI_RLE4,
                                       static_cast<uint32_t>(c.codes.size()), colours),
                                  ramp(colours * 4, 3), c.codes});
        Dib in(block_of(src));
        Dib out(DIBFromRle(in.get()));
        ASSERT_TRUE(out);
        const Bytes b = block_bytes(out.get());
        const size_t offset = 40 + colours * 4;
        ASSERT_EQ(b.size(), offset + c.pixels.size());
        EXPECT_EQ(get32(b, 16), static_cast<uint32_t>(BI_RGB));
        EXPECT_EQ(get32(b, 20), c.pixels.size());
        EXPECT_EQ(get32(b, 32), colours);
        EXPECT_EQ(Bytes(b.begin() + 40, b.begin() + static_cast<long>(offset)), ramp(colours * 4, 3));
        EXPECT_EQ(Bytes(b.begin() + static_cast<long>(offset), b.end()), c.pixels);
        EXPECT_EQ(block_bytes(in.get()), src) << "source changed";
    }
}

TEST(DibFromRle, UncompressedIsCopied)
{
    const Bytes src = concat({info(3, 2, 24, BI_RGB, 24), ramp(24, 13)});
    Dib in(block_of(src));
    Dib out(DIBFromRle(in.get()));
    ASSERT_TRUE(out);
    EXPECT_EQ(block_bytes(out.get()), src);
}

TEST(DibFromRle, RefusesWhatItCannotDescribe)
{
    const struct {
        const char* name;
        Bytes block;
    } cases[] = {
        {"BI_BITFIELDS", concat({info(2, 1, 16, BI_BITFIELDS), Bytes(12, 1), Bytes(4)})},
        {"top-down RLE8", concat({info(2, -2, 8, BI_RLE8, 2, 2), Bytes(8), Bytes{0, 1}})},
        {"RLE8 at 4 bits", concat({info(2, 2, 4, BI_RLE8, 2, 2), Bytes(8), Bytes{0, 1}})},
        {"RLE4 at 8 bits", concat({info(2, 2, 8, BI_RLE4, 2, 2), Bytes(8), Bytes{0, 1}})},
        {"RLE data longer than the block", concat({info(2, 2, 8, BI_RLE8, 200, 2), Bytes(8), Bytes{0, 1}})},
        // 60000 x 60000 bytes from two bytes of codes.
        {"implausible decoded size", concat({info(60000, 60000, 8, BI_RLE8, 2, 2), Bytes(8), Bytes{0, 1}})},
        // Two planes of 24 bits: |height| x stride x 2 once wrapped past 2^64
        // to a size this small block seemed to hold.
        {"two planes, 1436596963 x 2140097343",
         concat({info(1436596963, 2140097343, 24, BI_RGB, 0, 0, 0, false, 2), Bytes(48296)})},
        {"two planes, 0x55555555 x INT_MAX", concat({info(0x55555555, INT32_MAX, 24, BI_RGB, 0, 0, 0, false, 2), Bytes(48296)})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Dib in(block_of(c.block));
        EXPECT_EQ(DIBFromRle(in.get()), nullptr);
    }
    EXPECT_EQ(DIBFromRle(nullptr), nullptr);
}

// ---------------------------------------------------------------------------
// Writer.

// The bytes SaveDIB writes for an image, through a memory file of `room`
// bytes; `ok` gets SaveDIB's result.
Bytes save_to_memory(HGLOBAL dib, size_t room, BOOL* ok, LONG* written = nullptr)
{
    MemoryFile f(room, MMIO_READWRITE);
    *ok = SaveDIB(f.get(), dib);
    const LONG n = f.position();
    if (written)
        *written = n;
    return f.contents(n > 0 ? static_cast<size_t>(n) : 0);
}

TEST(SaveDib, FileHeaderOfAn8BitImage)
{
    const Bytes block = concat({info(100, 50, 8, BI_RGB, 5000, 256), ramp(1024), ramp(5000, 7)});
    Dib d(block_of(block));
    BOOL ok = FALSE;
    const Bytes file = save_to_memory(d.get(), 8000, &ok);
    ASSERT_EQ(ok, TRUE);
    ASSERT_EQ(file.size(), 14u + block.size());
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(get32(file, 2), 14u + block.size());
    EXPECT_EQ(get32(file, 6), 0u);
    EXPECT_EQ(get32(file, 10), 1078u);
    EXPECT_EQ(Bytes(file.begin() + 14, file.end()), block);
}

TEST(SaveDib, BitfieldsAndRleOffsets)
{
    const struct {
        const char* name;
        Bytes block;
        uint32_t offBits;
    } cases[] = {
        {"16-bit BI_BITFIELDS", concat({info(2, 2, 16, BI_BITFIELDS, 8), Bytes{0, 0xF8, 0, 0, 0xE0, 7, 0, 0, 0x1F, 0, 0, 0},
                                        ramp(8)}),
         66},
        {"RLE8 stays compressed", concat({info(4, 4, 8, BI_RLE8, 6, 2), Bytes(8, 3), Bytes{4, 1, 0, 0, 0, 1}}), 62},
        {"108-byte header", concat({info(1, 1, 32, BI_RGB, 4, 0, 0, true), Bytes{1, 2, 3, 4}}), 122},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Dib d(block_of(c.block));
        BOOL ok = FALSE;
        const Bytes file = save_to_memory(d.get(), 4096, &ok);
        ASSERT_EQ(ok, TRUE);
        EXPECT_EQ(get32(file, 10), c.offBits);
        EXPECT_EQ(Bytes(file.begin() + 14, file.end()), c.block);
    }
}

TEST(SaveDib, FailuresWriteNothingOrReportShortWrites)
{
    Dib d(block_of(concat({info(4, 4, 8, BI_RGB, 16, 2), Bytes(8), ramp(16)})));
    BOOL ok = TRUE;
    LONG written = -1;
    save_to_memory(nullptr, 100, &ok, &written);
    EXPECT_EQ(ok, FALSE);
    EXPECT_EQ(written, 0);
    EXPECT_EQ(SaveDIB(nullptr, d.get()), FALSE);
#ifndef _WIN32
    // Room for the file header and part of the image only. (Wine's memory
    // files wrap around to the start of the buffer instead of stopping.)
    save_to_memory(d.get(), 30, &ok, &written);
    EXPECT_EQ(ok, FALSE);
    save_to_memory(d.get(), 10, &ok, &written);
    EXPECT_EQ(ok, FALSE);
#endif
    // A stream that refuses writes: a file opened for reading.
    const std::string path = temp_path("kelm3-api-readonly.bmp");
    {
        std::ofstream(path, std::ios::binary) << "x";
        MMIOINFO mi;
        std::memset(&mi, 0, sizeof mi);
        HMMIO r = mmioOpenA(const_cast<LPSTR>(path.c_str()), &mi, MMIO_READ);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(SaveDIB(r, d.get()), FALSE);
        mmioClose(r, 0);
        std::remove(path.c_str());
    }
    // A block too small for the layout its header declares.
    Dib small(block_of(concat({info(40, 40, 8, BI_RGB, 0, 2), Bytes(8), Bytes(10)})));
    save_to_memory(small.get(), 4096, &ok, &written);
    EXPECT_EQ(ok, FALSE);
    EXPECT_EQ(written, 0);
}

// Images for the round trips: each layout the library makes.
std::vector<std::pair<const char*, Bytes>> round_trip_images()
{
    return {
        {"1 bit", concat({info(9, 3, 1, BI_RGB, 12, 2), Bytes{0, 0, 0, 0, 255, 255, 255, 0}, ramp(12, 37)})},
        {"4 bits", concat({info(5, 2, 4, BI_RGB, 8, 16), ramp(64, 4), ramp(8, 29)})},
        {"8 bits, 20 colours", concat({info(3, 3, 8, BI_RGB, 12, 20), ramp(80, 3), ramp(12, 5)})},
        // The colour count is the low 16 bits of biClrUsed: 0x10014 is 20.
        {"8 bits, biClrUsed 0x10014", concat({info(3, 3, 8, BI_RGB, 12, 0x10014), ramp(80, 3), ramp(12, 5)})},
        // Forms the library keeps but does not process come back as they went.
        {"2 bits, 4 colours", concat({info(5, 2, 2, BI_RGB, 8, 4), ramp(16, 11), ramp(8, 3)})},
        {"2 bits, stored size past the rows", concat({info(5, 2, 2, BI_RGB, 13, 4), ramp(16, 11), ramp(13, 3)})},
        {"BI_JPEG data", concat({info(7, 7, 24, 4, 6), Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10}})},
        {"RLE8 data at 4 bits", concat({info(4, 1, 4, BI_RLE8, 4, 16), ramp(64, 2), Bytes{2, 0x11, 0, 1}})},
        {"16 bits 5-5-5", concat({info(3, 2, 16, BI_RGB, 16), ramp(16, 9)})},
        {"16 bits 5-6-5", concat({info(3, 2, 16, BI_BITFIELDS, 16), Bytes{0, 0xF8, 0, 0, 0xE0, 7, 0, 0, 0x1F, 0, 0, 0},
                                  ramp(16, 9)})},
        {"24 bits", concat({info(3, 2, 24, BI_RGB, 24), ramp(24, 11)})},
        {"32 bits", concat({info(2, 2, 32, BI_RGB, 16), ramp(16, 15)})},
        {"32 bits, 108-byte CMYK header", [] {
             Bytes h = info(2, 1, 32, BI_RGB, 8, 0, 0, true);
             h[56] = 2;
             return concat({h, ramp(8, 31)});
         }()},
        {"two-plane 24 bits", concat({info(1, 2, 24, BI_RGB, 16, 0, 0, false, 2), ramp(16, 23)})},
        {"two-plane 8 bits", concat({info(2, 1, 8, BI_RGB, 8, 256, 0, false, 2), Bytes(1024), ramp(8, 19)})},
    };
}

TEST(SaveDib, SaveThenLoadGivesTheSameBytes)
{
    for (const auto& [name, block] : round_trip_images()) {
        SCOPED_TRACE(name);
        Dib d(block_of(block));
        BOOL ok = FALSE;
        const Bytes file = save_to_memory(d.get(), block.size() + 64, &ok);
        ASSERT_EQ(ok, TRUE);
        Dib back(load(file));
        ASSERT_TRUE(back);
        EXPECT_EQ(block_bytes(back.get()), block);
    }
}

TEST(SaveDib, ToFileAndBack)
{
    const std::string path = temp_path("kelm3-api-bmpio.bmp");
    const Bytes block = concat({info(5, 3, 24, BI_RGB, 48), ramp(48, 5)});
    Dib d(block_of(block));
    ASSERT_EQ(SaveDIBToFile(path.c_str(), d.get()), TRUE);
    const Bytes file = read_file(path);
    ASSERT_EQ(file.size(), 14u + block.size());
    EXPECT_EQ(Bytes(file.begin() + 14, file.end()), block);
    Dib back(LoadDIBFromFile(path.c_str()));
    ASSERT_TRUE(back);
    EXPECT_EQ(block_bytes(back.get()), block);

    // Saving a null image leaves the existing file alone.
    EXPECT_EQ(SaveDIBToFile(path.c_str(), nullptr), FALSE);
    EXPECT_EQ(read_file(path), file);
    // A file in a directory that does not exist cannot be created.
    EXPECT_EQ(SaveDIBToFile(temp_path("kelm3-no-such-dir/x.bmp").c_str(), d.get()), FALSE);
    std::remove(path.c_str());
}

// ---------------------------------------------------------------------------
// Streams: the part of mmio the library relies on, the same on both platforms.

TEST(Mmio, MemoryFileReadSeekAndSize)
{
    MemoryFile f(ramp(10, 1, 1));
    ASSERT_NE(f.get(), nullptr);
    char buf[16] = {};
    EXPECT_EQ(mmioRead(f.get(), buf, 4), 4);
    EXPECT_EQ(buf[3], 4);
    EXPECT_EQ(mmioSeek(f.get(), 0, SEEK_CUR), 4);
    EXPECT_EQ(mmioSeek(f.get(), 2, SEEK_CUR), 6);
    EXPECT_EQ(mmioSeek(f.get(), 0, SEEK_END), 10);
    EXPECT_EQ(mmioSeek(f.get(), 8, SEEK_SET), 8);
    EXPECT_EQ(mmioRead(f.get(), buf, 16), 2);
    EXPECT_EQ(buf[1], 10);
    EXPECT_EQ(mmioRead(f.get(), buf, 16), 0);
}

TEST(Mmio, DiskFileWriteThenRead)
{
    const std::string path = temp_path("kelm3-api-mmio.bin");
    MMIOINFO mi;
    std::memset(&mi, 0, sizeof mi);
    HMMIO w = mmioOpenA(const_cast<LPSTR>(path.c_str()), &mi, MMIO_CREATE | MMIO_READWRITE);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(mmioWrite(w, "abcdef", 6), 6);
    EXPECT_EQ(mmioSeek(w, 0, SEEK_END), 6);
    EXPECT_EQ(mmioClose(w, 0), 0u);
    std::memset(&mi, 0, sizeof mi);
    HMMIO r = mmioOpenA(const_cast<LPSTR>(path.c_str()), &mi, MMIO_READ | MMIO_DENYWRITE);
    ASSERT_NE(r, nullptr);
    char buf[8] = {};
    EXPECT_EQ(mmioSeek(r, 2, SEEK_SET), 2);
    EXPECT_EQ(mmioRead(r, buf, 8), 4);
    EXPECT_EQ(std::string(buf, 4), "cdef");
    EXPECT_EQ(mmioClose(r, 0), 0u);
    std::remove(path.c_str());
}

// ---------------------------------------------------------------------------
// Resources.

#ifdef _WIN32
// tests/win32/bmpio_resources.rc, compiled into the test program.
HMODULE resource_module()
{
    return GetModuleHandleA(nullptr);
}
bool resources_available()
{
    return FindResourceA(resource_module(), "KELM_RGB24", RT_BITMAP) != nullptr;
}
#else
HMODULE resource_module()
{
    static int key;
    return &key;
}
bool resources_available()
{
    // The same resources the Win32 test program gets from its resource
    // script: the sample files without their file headers.
    static const bool added = [] {
        const Bytes rgb = read_file(source_file("samples/rgb24.bmp"));
        const Bytes os2 = read_file(source_file("samples/os2.bmp"));
        const Bytes rle = read_file(source_file("samples/rle8.bmp"));
        if (rgb.size() < 14 || os2.size() < 14 || rle.size() < 14)
            return false;
        return kelm3_AddResource(resource_module(), "KELM_RGB24", RT_BITMAP, rgb.data() + 14,
                                 static_cast<DWORD>(rgb.size() - 14)) &&
               kelm3_AddResource(resource_module(), "KELM_OS2", RT_BITMAP, os2.data() + 14,
                                 static_cast<DWORD>(os2.size() - 14)) &&
               kelm3_AddResource(resource_module(), MAKEINTRESOURCEA(7), RT_BITMAP, rle.data() + 14,
                                 static_cast<DWORD>(rle.size() - 14));
    }();
    return added;
}
#endif

TEST(LoadDibResource, CopiesBitmapResources)
{
    if (!resources_available())
        GTEST_SKIP() << "the test resources (tests/win32/bmpio_resources.rc) are not linked into this program";
    const Bytes rgb = read_file(source_file("samples/rgb24.bmp"));
    const Bytes rle = read_file(source_file("samples/rle8.bmp"));
    const struct {
        const char* what;
        LPCSTR name;
        Bytes expected;  // empty: NULL expected
    } cases[] = {
        {"string name", "KELM_RGB24", Bytes(rgb.begin() + 14, rgb.end())},
        {"string name in another case", "kelm_rgb24", Bytes(rgb.begin() + 14, rgb.end())},
        {"integer identifier, copied still compressed", MAKEINTRESOURCEA(7), Bytes(rle.begin() + 14, rle.end())},
        {"integer identifier as #7", "#7", Bytes(rle.begin() + 14, rle.end())},
        {"core header", "KELM_OS2", {}},
        {"missing", "KELM_NONE", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Dib d(LoadDIBResource(resource_module(), c.name));
        if (c.expected.empty()) {
            EXPECT_FALSE(d);
            continue;
        }
        ASSERT_TRUE(d);
        EXPECT_EQ(block_bytes(d.get()), c.expected);
    }
    EXPECT_EQ(LoadDIBResource(resource_module(), nullptr), nullptr);
}

// ---------------------------------------------------------------------------
// Files written by one platform read back by the other, byte for byte.

TEST(BmpInterop, FilesMatchTheOtherPlatform)
{
    const char* dir = std::getenv("KELM3_INTEROP_DIR");
    if (!dir || !*dir)
        GTEST_SKIP() << "KELM3_INTEROP_DIR is not set";
    std::string base = dir;
#ifdef _WIN32
    if (base[0] == '/')
        base = "Z:" + base;
    const std::string self = "win32", other = "linux";
#else
    const std::string self = "linux", other = "win32";
#endif
    auto images = round_trip_images();
    // And one image the library decoded itself.
    Dib rle(LoadDIBFromFile(source_file("samples/rle4.bmp").c_str()));
    ASSERT_TRUE(rle);
    images.push_back({"decoded rle4", block_bytes(rle.get())});
    int compared = 0;
    for (size_t i = 0; i < images.size(); ++i) {
        SCOPED_TRACE(images[i].first);
        const std::string name = "-image" + std::to_string(i) + ".bmp";
        Dib d(block_of(images[i].second));
        ASSERT_EQ(SaveDIBToFile((base + "/" + self + name).c_str(), d.get()), TRUE);
        const Bytes mine = read_file(base + "/" + self + name);
        const Bytes theirs = read_file(base + "/" + other + name);
        if (theirs.empty())
            continue;
        ++compared;
        EXPECT_EQ(theirs, mine) << other << name;
        Dib back(LoadDIBFromFile((base + "/" + other + name).c_str()));
        ASSERT_TRUE(back);
        EXPECT_EQ(block_bytes(back.get()), images[i].second);
    }
    if (compared == 0)
        GTEST_SKIP() << "wrote " << self << " files; no " << other << " files in " << base << " yet";
}

}  // namespace
