// The public BMP test suite in ../shared/corpus/bmpsuite: every file loads
// without harm; every good (g/) and questionable (q/) file whose header size,
// depth and compression the reader supports decodes to the pixels the file
// describes, as worked out here by a small per-pixel reference decoder that
// reads the file directly (x, y coordinates, no packed-DIB layout); the
// others give NULL, or their bytes as stored when the header is one the
// reader knows.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "kelm3.h"
#include "platform/platform.h"
#include "support/dib_builder.h"
#include "support/layout_model.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

fs::path suite_dir()
{
    return fs::path(KELM3_CORPUS_DIR) / "bmpsuite";
}

Bytes read_file(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// What a file describes, worked out from its bytes alone.
struct Picture {
    bool supported = false;
    int width = 0, height = 0;  // height > 0
    int bits = 0;
    bool bitfields = false;
    uint32_t masks[3] = {};
    std::vector<std::array<uint8_t, 3>> palette;  // blue, green, red
    std::vector<uint32_t> raw;                    // per pixel, top line first
};

struct FileView {
    const Bytes& b;
    // Bytes past the end read as 0, as the reader zero-fills truncated files.
    uint32_t byte(size_t at) const { return at < b.size() ? b[at] : 0; }
    uint32_t u16(size_t at) const { return byte(at) | byte(at + 1) << 8; }
    uint32_t u32(size_t at) const { return u16(at) | u16(at + 2) << 16; }
};

Picture describe(const Bytes& file)
{
    Picture pic;
    FileView f{file};
    if (file.size() < 18 || file[0] != 'B' || file[1] != 'M')
        return pic;
    const uint32_t offBits = f.u32(10);
    const uint32_t hs = f.u32(14);
    int32_t w, h;
    uint32_t planes, bits, comp = 0, clrUsed = 0;
    if (hs == 12) {
        w = static_cast<int32_t>(f.u16(18));
        h = static_cast<int32_t>(f.u16(20));
        planes = f.u16(22);
        bits = f.u16(24);
    } else if (hs == 40 || hs == 108) {
        w = static_cast<int32_t>(f.u32(18));
        h = static_cast<int32_t>(f.u32(22));
        planes = f.u16(26);
        bits = f.u16(28);
        comp = f.u32(30);
        clrUsed = f.u32(46);
    } else {
        return pic;
    }
    const bool depthOk = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
    const bool compOk = comp == 0 || (comp == 1 && bits == 8) || (comp == 2 && bits == 4) ||
                        (comp == 3 && (bits == 16 || bits == 32));
    if (!depthOk || !compOk || planes != 1 || w < 0)
        return pic;
    pic.supported = true;
    pic.width = w;
    pic.bits = static_cast<int>(bits);
    const bool topDown = h < 0;
    pic.height = topDown ? -h : h;

    // Colour table and masks.
    const size_t entry = hs == 12 ? 3 : 4;
    size_t colours = hs == 12 ? (bits <= 8 ? 1u << bits : 0) : (clrUsed ? clrUsed : (bits <= 8 ? 1u << bits : 0));
    size_t tableAt = 14 + hs;
    if (comp == 3) {
        pic.bitfields = true;
        const size_t maskAt = 14 + 40;  // after a 40-byte header, inside a 108-byte one
        for (int i = 0; i < 3; ++i)
            pic.masks[i] = f.u32(maskAt + 4 * i);
        if (hs == 40)
            tableAt += 12;
    }
    for (size_t i = 0; i < colours; ++i)
        pic.palette.push_back({static_cast<uint8_t>(f.byte(tableAt + entry * i)),
                               static_cast<uint8_t>(f.byte(tableAt + entry * i + 1)),
                               static_cast<uint8_t>(f.byte(tableAt + entry * i + 2))});

    pic.raw.assign(static_cast<size_t>(pic.width) * pic.height, 0);
    if (comp == 1 || comp == 2) {
        // RLE by coordinates: (x, line counted from the bottom). The suite's
        // streams stay inside their rows.
        size_t at = offBits;
        const size_t end = std::min<size_t>(file.size(), size_t{offBits} + f.u32(34));
        int x = 0, line = 0;
        auto set = [&](int v) {
            if (x < pic.width && line < pic.height)
                pic.raw[static_cast<size_t>(pic.height - 1 - line) * pic.width + x] = static_cast<uint32_t>(v);
            ++x;
        };
        while (at + 1 < end) {
            const uint32_t n = file[at], v = file[at + 1];
            at += 2;
            if (n > 0) {
                for (uint32_t i = 0; i < n; ++i)
                    set(comp == 1 ? static_cast<int>(v) : static_cast<int>(i % 2 ? v & 15 : v >> 4));
            } else if (v == 0) {
                x = 0;
                ++line;
            } else if (v == 1) {
                break;
            } else if (v == 2) {
                x += static_cast<int>(f.byte(at));
                line += static_cast<int>(f.byte(at + 1));
                at += 2;
            } else {
                const size_t bytes = comp == 1 ? v : (v + 1) / 2;
                for (uint32_t i = 0; i < v; ++i) {
                    const uint32_t b = f.byte(at + (comp == 1 ? i : i / 2));
                    set(comp == 1 ? static_cast<int>(b) : static_cast<int>(i % 2 ? b & 15 : b >> 4));
                }
                at += bytes + bytes % 2;
            }
        }
        return pic;
    }

    const size_t stride = (static_cast<size_t>(pic.width) * bits + 31) / 32 * 4;
    for (int y = 0; y < pic.height; ++y) {
        const size_t row = offBits + stride * static_cast<size_t>(topDown ? y : pic.height - 1 - y);
        for (int x = 0; x < pic.width; ++x) {
            uint32_t v;
            const size_t bit = static_cast<size_t>(x) * bits;
            switch (bits) {
            case 1: v = f.byte(row + bit / 8) >> (7 - bit % 8) & 1; break;
            case 4: v = f.byte(row + bit / 8) >> (x % 2 ? 0 : 4) & 15; break;
            case 8: v = f.byte(row + x); break;
            case 16: v = f.u16(row + 2 * static_cast<size_t>(x)); break;
            case 24: v = f.u16(row + 3 * static_cast<size_t>(x)) | f.byte(row + 3 * static_cast<size_t>(x) + 2) << 16; break;
            default: v = f.u32(row + 4 * static_cast<size_t>(x)); break;
            }
            pic.raw[static_cast<size_t>(y) * pic.width + x] = v;
        }
    }
    return pic;
}

// The raw value of pixel (x, y from the top) of a loaded image.
uint32_t loaded_raw(const Bytes& b, size_t offset, int height, int bits, size_t stride, int x, int y)
{
    const size_t row = offset + stride * static_cast<size_t>(height - 1 - y);
    const size_t bit = static_cast<size_t>(x) * bits;
    const uint8_t* p = b.data() + row + bit / 8;
    switch (bits) {
    case 1: return *p >> (7 - bit % 8) & 1;
    case 4: return *p >> (x % 2 ? 0 : 4) & 15;
    case 8: return *p;
    case 16: return p[0] | p[1] << 8;
    case 24: return p[0] | p[1] << 8 | p[2] << 16;
    default: return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
    }
}

std::vector<fs::path> files_in(const char* sub)
{
    std::vector<fs::path> out;
    if (fs::is_directory(suite_dir() / sub))
        for (const auto& e : fs::directory_iterator(suite_dir() / sub))
            if (e.path().extension() == ".bmp")
                out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

#define SKIP_WITHOUT_SUITE()                                                                                    \
    if (!fs::is_directory(suite_dir()))                                                                         \
    GTEST_SKIP() << "the BMP suite is not at " << suite_dir() << " (KELM3_CORPUS_DIR); nothing to check"

TEST(BmpSuite, GoodAndQuestionableFilesDecodeToWhatTheyDescribe)
{
    SKIP_WITHOUT_SUITE();
    int decoded = 0, refused = 0;
    for (const char* sub : {"g", "q"}) {
        for (const fs::path& p : files_in(sub)) {
            SCOPED_TRACE(p.string());
            const Bytes file = read_file(p);
            const Picture pic = describe(file);
            kelm_test::Dib d(LoadDIBFromFile(p.string().c_str()));
            if (!pic.supported) {
                // Header sizes other than 12, 40 and 108 give NULL; other
                // forms come back as stored, and the pixel engine refuses
                // them.
                const uint32_t hs = file.size() >= 18 ? kelm_test::rd32(file, 14) : 0;
                EXPECT_EQ(static_cast<bool>(d), hs == 12 || hs == 40 || hs == 108);
                if (d && hs != 12) {
                    const Bytes b = kelm_test::block_bytes(d.get());
                    EXPECT_EQ(kelm_test::rd32(b, 4), kelm_test::rd32(file, 18)) << "width as stored";
                    EXPECT_EQ(Bytes(b.begin() + 12, b.begin() + 20), Bytes(file.begin() + 26, file.begin() + 34))
                        << "planes, bits and compression as stored";
                }
                if (d) {
                    EXPECT_EQ(RWOpenDIB(d.get()), nullptr);
                }
                ++refused;
                continue;
            }
            ASSERT_TRUE(d);
            ++decoded;
            const Bytes b = kelm_test::block_bytes(d.get());
            const uint32_t hs = kelm_test::rd32(b, 0);
            ASSERT_TRUE(hs == 40 || hs == 108);
            EXPECT_EQ(static_cast<int32_t>(kelm_test::rd32(b, 4)), pic.width);
            EXPECT_EQ(static_cast<int32_t>(kelm_test::rd32(b, 8)), pic.height);
            EXPECT_EQ(b[14], pic.bits);
            EXPECT_EQ(kelm_test::rd32(b, 16), pic.bitfields ? static_cast<uint32_t>(BI_BITFIELDS) : BI_RGB);
            size_t at = hs;
            if (pic.bitfields) {
                for (int i = 0; i < 3; ++i)
                    EXPECT_EQ(kelm_test::rd32(b, at + 4 * i), pic.masks[i]) << "mask " << i;
                at += 12;
            }
            const size_t colours = kelm_test::rd32(b, 32);
            ASSERT_EQ(colours, pic.palette.size());
            for (size_t i = 0; i < colours; ++i) {
                EXPECT_EQ(b[at + 4 * i], pic.palette[i][0]) << "entry " << i;
                EXPECT_EQ(b[at + 4 * i + 1], pic.palette[i][1]) << "entry " << i;
                EXPECT_EQ(b[at + 4 * i + 2], pic.palette[i][2]) << "entry " << i;
            }
            at += 4 * colours;
            const size_t stride = (static_cast<size_t>(pic.width) * pic.bits + 31) / 32 * 4;
            ASSERT_EQ(b.size(), at + stride * pic.height);
            int wrong = 0;
            for (int y = 0; y < pic.height; ++y)
                for (int x = 0; x < pic.width; ++x)
                    if (loaded_raw(b, at, pic.height, pic.bits, stride, x, y) !=
                        pic.raw[static_cast<size_t>(y) * pic.width + x] && ++wrong <= 3)
                        ADD_FAILURE() << "pixel " << x << "," << y;
            EXPECT_EQ(wrong, 0);
        }
    }
    EXPECT_GT(decoded, 40);
    EXPECT_GT(refused, 10);
}

// The 8-bit variants of the suite's picture (file header forms, OS/2, RLE,
// top-down, V4) all show the same colours as pal8.bmp.
TEST(BmpSuite, EightBitVariantsShowTheSamePicture)
{
    SKIP_WITHOUT_SUITE();
    auto colours = [](const char* name) {
        kelm_test::Dib d(LoadDIBFromFile((suite_dir() / name).string().c_str()));
        std::vector<uint32_t> rgb;
        if (!d)
            return rgb;
        const Bytes b = kelm_test::block_bytes(d.get());
        const size_t hs = kelm_test::rd32(b, 0), n = kelm_test::rd32(b, 32);
        const int w = static_cast<int>(kelm_test::rd32(b, 4)), h = static_cast<int>(kelm_test::rd32(b, 8));
        const size_t stride = (static_cast<size_t>(w) + 3) / 4 * 4;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const size_t i = b[hs + 4 * n + stride * static_cast<size_t>(y) + x];
                rgb.push_back(kelm_test::rd32(b, hs + 4 * i) & 0xFFFFFF);
            }
        return rgb;
    };
    const std::vector<uint32_t> reference = colours("g/pal8.bmp");
    ASSERT_EQ(reference.size(), 127u * 64u);
    for (const char* name : {"g/pal8-0.bmp", "g/pal8os2.bmp", "g/pal8rle.bmp", "g/pal8topdown.bmp", "g/pal8v4.bmp",
                             "q/pal8offs.bmp", "q/pal8os2sp.bmp", "q/pal8oversizepal.bmp"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(colours(name) == reference);
    }
}

// Every file of the suite, bad ones and the non-BMP container included:
// NULL, or an image whose layout fits its block; nothing left allocated.
TEST(BmpSuite, EveryFileLoadsWithoutHarm)
{
    SKIP_WITHOUT_SUITE();
    int files = 0;
    for (const char* sub : {"g", "q", "b", "x"}) {
        for (const fs::path& p : files_in(sub)) {
            SCOPED_TRACE(p.string());
            ++files;
            const size_t live = kelm::testing::live_blocks();
            HGLOBAL d = LoadDIBFromFile(p.string().c_str());
            if (d) {
                // Forms kept as stored need not fill their layout; DIBInfo
                // accepts exactly the blocks that do.
                BITMAPINFOHEADER bi;
                EXPECT_EQ(DIBInfo(d, &bi, sizeof bi), kelm_test::model_fits_block(d) ? 1 : 0);
                EXPECT_EQ(DIBFree(d), nullptr);
            }
            EXPECT_EQ(kelm::testing::live_blocks(), live);
            EXPECT_EQ(kelm::testing::locked_blocks(), 0u);
        }
    }
    EXPECT_GE(files, 90);
}

}  // namespace
