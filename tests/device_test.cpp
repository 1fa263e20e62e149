// Device output on Linux, where the platform layer's hooks show what the
// library hands to GDI: the spline's exact vertices, the PostScript road's
// escape records, the wait cursor, and every DC, bitmap, palette and block
// given back on every failure path. A real PostScript interpreter checks the
// printer file when one is installed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <unistd.h>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "device/device.h"
#include "platform/linux/gdi32.h"
#include "platform/platform.h"
#include "support/device_model.h"
#include "support/dib_builder.h"

using namespace kelm_test;

namespace {

std::vector<POINT> pts(std::initializer_list<std::pair<int, int>> list)
{
    std::vector<POINT> out;
    for (auto [x, y] : list)
        out.push_back(POINT{x, y});
    return out;
}

::testing::AssertionResult same_points(const std::vector<POINT>& got, const std::vector<POINT>& want)
{
    if (got.size() != want.size())
        return ::testing::AssertionFailure() << got.size() << " points, expected " << want.size();
    for (size_t i = 0; i < got.size(); ++i)
        if (got[i].x != want[i].x || got[i].y != want[i].y)
            return ::testing::AssertionFailure() << "vertex " << i << " is (" << got[i].x << ", " << got[i].y
                                                 << "), expected (" << want[i].x << ", " << want[i].y << ")";
    return ::testing::AssertionSuccess();
}

std::vector<POINT> library_vertices(const std::vector<POINT>& control)
{
    std::vector<POINT> out(5 * control.size() + 2);
    EXPECT_TRUE(kelm::spline_vertices(control.data(), static_cast<int>(control.size()), out.data()));
    return out;
}

// ---------------------------------------------------------------------------
// Splines.

TEST(Spline, PublishedVertices)
{
    struct Case {
        std::vector<POINT> control, vertices;
    } cases[] = {
        {pts({{0, 0}, {100, 0}, {100, 100}}),
         pts({{0, 0}, {0, 0}, {12, 0}, {25, 2}, {36, 4}, {46, 7}, {55, 11}, {64, 16}, {72, 22}, {78, 28}, {84, 36},
              {88, 44}, {93, 54}, {96, 64}, {98, 75}, {99, 87}, {100, 100}})},
        {pts({{0, 0}, {100, 0}, {100, 100}, {0, 100}}),
         pts({{0, 0}, {0, 0}, {20, 1}, {36, 2}, {52, 5}, {64, 8}, {76, 13}, {84, 18}, {92, 25}, {96, 32}, {99, 41},
              {100, 50}, {99, 60}, {96, 68}, {91, 76}, {84, 82}, {74, 87}, {64, 92}, {50, 95}, {36, 98}, {18, 99},
              {0, 100}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.control.size());
        EXPECT_TRUE(same_points(library_vertices(c.control), c.vertices));
        EXPECT_TRUE(same_points(device_model::spline_vertices(c.control), c.vertices));
    }
}

// Random control polygons of many sizes, large coordinates included: the
// library's local evaluation gives the full recursion's vertices, and the
// DC receives them through Polyline.
TEST(Spline, MatchesTheFullRecursionAndReachesPolyline)
{
    std::mt19937 rng(1234);
    HDC dc = CreateCompatibleDC(nullptr);
    for (int n : {3, 4, 5, 7, 10, 33, 100, 257}) {
        for (int round = 0; round < 4; ++round) {
            const int range = round == 3 ? 1000000 : 2000;
            std::uniform_int_distribution<int> coord(-range, range);
            std::vector<POINT> control(n);
            for (auto& p : control)
                p = POINT{coord(rng), coord(rng)};
            SCOPED_TRACE(testing::Message() << n << " points, round " << round);
            const auto want = device_model::spline_vertices(control);
            EXPECT_TRUE(same_points(library_vertices(control), want));
            ASSERT_NE(Splineline(dc, control.data(), n), 0);
            EXPECT_TRUE(same_points(kelm::testing::last_polyline(), want));
        }
    }
    DeleteDC(dc);
}

// Collinear, evenly spaced points give samples on their line, in order
// (each term is rounded alone, so equal coordinates round alike).
TEST(Spline, CollinearEvenlySpacedPointsStayOnTheLine)
{
    const auto control = pts({{-20, -20}, {10, 10}, {40, 40}, {70, 70}, {100, 100}, {130, 130}});
    const auto vertices = library_vertices(control);
    for (size_t i = 0; i < vertices.size(); ++i) {
        EXPECT_EQ(vertices[i].x, vertices[i].y) << "vertex " << i;
        if (i > 0)
            EXPECT_GE(vertices[i].x, vertices[i - 1].x) << "vertex " << i;
    }
}

// Fewer than three points: two are drawn as their segment, fewer draw
// nothing.
TEST(Spline, FewerThanThreePoints)
{
    HDC dc = CreateCompatibleDC(nullptr);
    const auto two = pts({{3, 4}, {9, 1}});
    EXPECT_NE(Splineline(dc, two.data(), 2), 0);
    EXPECT_TRUE(same_points(kelm::testing::last_polyline(), two));
    const auto before = kelm::testing::last_polyline();
    EXPECT_EQ(Splineline(dc, two.data(), 1), 0);
    EXPECT_EQ(Splineline(dc, two.data(), -5), 0);
    EXPECT_EQ(Splineline(dc, nullptr, 4), 0);
    EXPECT_TRUE(same_points(kelm::testing::last_polyline(), before)) << "nothing more was drawn";
    DeleteDC(dc);
}

// ---------------------------------------------------------------------------
// The PostScript road's records.

struct Recorder : kelm::PostScriptSink {
    std::vector<std::string> texts;
    void send(const char* record, int length) override
    {
        ASSERT_GE(length, 2);
        const int n = static_cast<unsigned char>(record[0]) | (static_cast<unsigned char>(record[1]) << 8);
        ASSERT_EQ(n + 2, length) << "count and record length disagree";
        texts.emplace_back(record + 2, static_cast<size_t>(n));
    }
};

std::vector<uint8_t> cmyk_header(int w, int h)
{
    std::vector<uint8_t> header(108, 0);
    BITMAPINFOHEADER bi = info_header(w, h, 32);
    bi.biSize = 108;
    std::memcpy(header.data(), &bi, sizeof bi);
    header[56] = KELM3_CS_CMYK;
    return header;
}

TEST(PostScript, TheTwoPixelExample)
{
    std::vector<uint8_t> image = cmyk_header(2, 1);
    image.insert(image.end(), {0x10, 0x20, 0x30, 0x40, 0x01, 0x02, 0x03, 0x04});
    Recorder r;
    kelm::postscript_image(r, image.data(), POINT{100, 200}, POINT{300, 400}, 0, 0, 2, 1);
    const std::vector<std::string> want = {
        "save\r100 200 translate\r200 200 scale\r",
        "/DeviceCMYK setcolorspace << /ImageType 1 /Width 2 /Height 1 /BitsPerComponent 8 /ImageMatrix [2 0 0 -1 0 1] "
        "/Decode [0 1 0 1 0 1 0 1] /DataSource currentfile /ASCIIHexDecode filter >> image\r",
        "30201040",
        "03020104",
        "\r",
        ">\rrestore\r",
    };
    EXPECT_EQ(r.texts, want);
}

// Line breaks after every 16th pixel counted across rows, one more at the
// end, none for an empty rectangle; pixels outside the image are no ink.
TEST(PostScript, RecordsFollowTheModel)
{
    struct Case {
        int w, h, xSrc, ySrc, sw, sh;
    } cases[] = {{17, 1, 0, 0, 17, 1}, {16, 1, 0, 0, 16, 1}, {5, 7, 1, 2, 3, 5}, {4, 4, 0, 0, 0, 4},
                 {4, 4, 0, 0, 4, 0},   {6, 6, 0, 0, 6, 6},   {3, 3, 1, 1, 2, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " from " << c.xSrc << "," << c.ySrc << " " << c.sw
                                        << "x" << c.sh);
        std::vector<std::vector<device_model::Cmyk>> rows(c.h, std::vector<device_model::Cmyk>(c.w));
        std::vector<uint8_t> image = cmyk_header(c.w, c.h);
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) {
                rows[y][x] = {uint8_t(x * 31 + y), uint8_t(y * 17), uint8_t(x ^ 0xA5), uint8_t(x + y * 7)};
                image.insert(image.end(), {rows[y][x].b0, rows[y][x].b1, rows[y][x].b2, rows[y][x].b3});
            }
        Recorder r;
        kelm::postscript_image(r, image.data(), POINT{7, 9}, POINT{-3, 40}, c.xSrc, c.ySrc, c.sw, c.sh);
        EXPECT_EQ(r.texts, device_model::postscript_escapes(rows, 7, 9, -3, 40, c.xSrc, c.ySrc, c.sw, c.sh));
    }
    // A rectangle reaching past the image: the pixels beyond it are sent
    // as 00000000 rather than read from outside the block.
    std::vector<uint8_t> image = cmyk_header(2, 1);
    image.insert(image.end(), {1, 2, 3, 4, 5, 6, 7, 8});
    Recorder r;
    kelm::postscript_image(r, image.data(), POINT{0, 0}, POINT{1, 1}, 1, 0, 3, 2);
    const std::vector<std::string> pixels(r.texts.begin() + 2, r.texts.begin() + 8);
    EXPECT_EQ(pixels, (std::vector<std::string>{"07060508", "00000000", "00000000", "00000000", "00000000",
                                                "00000000"}));
}

// ---------------------------------------------------------------------------
// Sound behaviour: biPlanes, the wait cursor, and nothing left behind.

HGLOBAL two_plane_image()
{
    return CreateDIB(6, 4, 24, KELM3_CREATE_TWOPLANE);
}

WORD planes_of(HGLOBAL dib)
{
    auto* bi = static_cast<BITMAPINFOHEADER*>(GlobalLock(dib));
    const WORD planes = bi->biPlanes;
    GlobalUnlock(dib);
    return planes;
}

// Every export that hands the header to GDI puts biPlanes back, also when
// GDI refuses the call (an invalid DC).
TEST(SoundBehaviour, PlanesAreRestoredOnEveryPath)
{
    HGLOBAL dib = two_plane_image();
    ASSERT_EQ(planes_of(dib), 2);
    HDC bogus = reinterpret_cast<HDC>(dib);  // not a DC
    HDC memory = CreateCompatibleDC(nullptr);
    EXPECT_EQ(DIBBlt(bogus, 0, 0, 6, 4, dib, 0, 0, SRCCOPY), 1);
    EXPECT_EQ(StretchDIBBlt(bogus, 0, 0, 6, 4, dib, 0, 0, 6, 4, SRCCOPY), 0);
    EXPECT_EQ(StretchDIBBlt(memory, 0, 0, 6, 4, dib, 0, 0, 6, 4, SRCCOPY), 1);
    HBITMAP bm = BitmapFromDIB(dib, nullptr);
    EXPECT_NE(bm, nullptr);
    DeleteObject(bm);
    EXPECT_EQ(planes_of(dib), 2);
    DeleteDC(memory);
    DIBFree(dib);
}

TEST(SoundBehaviour, WaitCursorIsPutBack)
{
    HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    SetCursor(arrow);
    HGLOBAL dib = CreateDIB(3, 3, 8, 0);
    HBITMAP bm = BitmapFromDIB(dib, nullptr);
    EXPECT_EQ(kelm::testing::current_cursor(), arrow);
    EXPECT_EQ(BitmapFromDIB(nullptr, nullptr), nullptr);
    EXPECT_EQ(kelm::testing::current_cursor(), arrow);
    DeleteObject(bm);
    DIBFree(dib);
}

// Each step that can fail for want of memory, made to fail in turn: the
// call fails or succeeds cleanly, and afterwards no DC, bitmap, palette or
// block it took is still held (only its result, released here).
TEST(SoundBehaviour, FailurePathsReleaseEverything)
{
    HGLOBAL image = CreateDIB(9, 5, 8, 0);
    HGLOBAL cmyk = GlobalAlloc(GHND, 108 + 9 * 5 * 4);
    {
        auto* p = static_cast<BYTE*>(GlobalLock(cmyk));
        auto h = cmyk_header(9, 5);
        std::memcpy(p, h.data(), h.size());
        GlobalUnlock(cmyk);
    }
    HDC screen = GetDC(nullptr);
    HBITMAP source = CreateCompatibleBitmap(screen, 9, 5);
    ReleaseDC(nullptr, screen);
    HDC memory = CreateCompatibleDC(nullptr);
    const std::size_t objects = kelm::testing::live_gdi_objects();
    const std::size_t blocks = kelm::testing::live_blocks();

    struct Step {
        const char* name;
        std::function<void()> run;
    } steps[] = {
        {"DIBFromBitmap", [&] { DIBFree(DIBFromBitmap(source, BI_RGB, 8, nullptr)); }},
        {"DIBFromBitmap 24", [&] { DIBFree(DIBFromBitmap(source, BI_RGB, 24, nullptr)); }},
        {"DIBScreenShot", [&] {
             RECT r{0, 0, 30, 20};
             DIBFree(DIBScreenShot(nullptr, &r));
         }},
        {"StretchDIBBlt CMYK", [&] { StretchDIBBlt(memory, 0, 0, 9, 5, cmyk, 0, 0, 9, 5, SRCCOPY); }},
        {"CreateDIBPalette", [&] { DeleteObject(CreateDIBPalette(image)); }},
        {"BitmapFromDIB", [&] { DeleteObject(BitmapFromDIB(image, nullptr)); }},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        const unsigned long start = kelm::testing::allocation_count();
        step.run();
        const unsigned long needed = kelm::testing::allocation_count() - start;
        for (unsigned n = 1; n <= needed + 1; ++n) {
            kelm::testing::fail_allocation(n);
            step.run();
            kelm::testing::fail_allocation(0);
            EXPECT_EQ(kelm::testing::live_gdi_objects(), objects) << "failing allocation " << n;
            EXPECT_EQ(kelm::testing::live_blocks(), blocks) << "failing allocation " << n;
            EXPECT_EQ(kelm::testing::locked_blocks(), 0u) << "failing allocation " << n;
        }
    }
    DeleteDC(memory);
    DeleteObject(source);
    DIBFree(cmyk);
    DIBFree(image);
}

// ---------------------------------------------------------------------------
// The platform layer's raster operations are Win32's ternary codes.

TEST(Gdi, RasterOperationsFollowTheirBooleanDefinitions)
{
    struct Case {
        DWORD rop;
        COLORREF (*f)(COLORREF p, COLORREF s, COLORREF d);
    } cases[] = {
        {SRCCOPY, [](COLORREF, COLORREF s, COLORREF) { return s; }},
        {SRCPAINT, [](COLORREF, COLORREF s, COLORREF d) { return s | d; }},
        {SRCAND, [](COLORREF, COLORREF s, COLORREF d) { return s & d; }},
        {SRCINVERT, [](COLORREF, COLORREF s, COLORREF d) { return s ^ d; }},
        {SRCERASE, [](COLORREF, COLORREF s, COLORREF d) { return s & ~d; }},
        {NOTSRCCOPY, [](COLORREF, COLORREF s, COLORREF) { return ~s; }},
        {NOTSRCERASE, [](COLORREF, COLORREF s, COLORREF d) { return ~(s | d); }},
        {MERGECOPY, [](COLORREF p, COLORREF s, COLORREF) { return p & s; }},
        {MERGEPAINT, [](COLORREF, COLORREF s, COLORREF d) { return ~s | d; }},
        {PATCOPY, [](COLORREF p, COLORREF, COLORREF) { return p; }},
        {PATPAINT, [](COLORREF p, COLORREF s, COLORREF d) { return p | ~s | d; }},
        {PATINVERT, [](COLORREF p, COLORREF, COLORREF d) { return p ^ d; }},
        {DSTINVERT, [](COLORREF, COLORREF, COLORREF d) { return ~d; }},
        {BLACKNESS, [](COLORREF, COLORREF, COLORREF) { return COLORREF{0}; }},
        {WHITENESS, [](COLORREF, COLORREF, COLORREF) { return COLORREF{0xFFFFFF}; }},
    };
    HDC screen = GetDC(nullptr);
    HDC src = CreateCompatibleDC(screen), dst = CreateCompatibleDC(screen);
    HBITMAP sb = CreateCompatibleBitmap(screen, 1, 1), db = CreateCompatibleBitmap(screen, 1, 1);
    SelectObject(src, sb);
    SelectObject(dst, db);
    std::mt19937 rng(7);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.rop);
        for (int i = 0; i < 20; ++i) {
            const COLORREF p = rng() & 0xFFFFFF, s = rng() & 0xFFFFFF, d = rng() & 0xFFFFFF;
            HBRUSH brush = CreateSolidBrush(p);
            HGDIOBJ old = SelectObject(dst, brush);
            SetPixel(src, 0, 0, s);
            SetPixel(dst, 0, 0, d);
            ASSERT_TRUE(BitBlt(dst, 0, 0, 1, 1, src, 0, 0, c.rop));
            EXPECT_EQ(GetPixel(dst, 0, 0), c.f(p, s, d) & 0xFFFFFF);
            SelectObject(dst, old);
            DeleteObject(brush);
        }
    }
    DeleteDC(src);
    DeleteDC(dst);
    DeleteObject(sb);
    DeleteObject(db);
    ReleaseDC(nullptr, screen);
}

// ---------------------------------------------------------------------------
// Ghostscript renders the printer file to the image's own inks.

std::string temp_path(const std::string& name)
{
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/kelm3_" + std::to_string(::getpid()) + "_" + name;
}

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool have_ghostscript()
{
    return std::system("gs --version > /dev/null 2>&1") == 0;
}

TEST(Ghostscript, RendersTheImagesOwnInks)
{
    if (!have_ghostscript())
        GTEST_SKIP() << "gs not installed (Debian package ghostscript)";
    const int w = 23, h = 17;
    std::vector<uint8_t> bytes = cmyk_header(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            bytes.insert(bytes.end(), {uint8_t(x * 11), uint8_t(y * 15), uint8_t((x * y) & 0xFF), uint8_t(255 - x * 9)});
    BlockSpec spec;
    spec.header = bytes;
    HGLOBAL dib = make_block(spec);

    struct Case {
        int x, y, scale;
    } cases[] = {{40, 30, 1}, {100, 200, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scale);
        const std::string ps = temp_path("render.ps"), raw = temp_path("render.cmyk");
        HDC printer = CreateDCA(nullptr, KELM3_PS_PRINTER, nullptr, nullptr);
        DOCINFOA doc{sizeof(DOCINFOA), "render", ps.c_str(), nullptr, 0};
        ASSERT_GT(StartDocA(printer, &doc), 0);
        StartPage(printer);
        ASSERT_EQ(StretchDIBBlt(printer, c.x, c.y, w * c.scale, h * c.scale, dib, 0, 0, w, h, SRCCOPY), 1);
        EndPage(printer);
        EndDoc(printer);
        DeleteDC(printer);
        const std::string cmd = "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=bitcmyk -dGrayValues=256 -r72 -o '" + raw +
                                "' '" + ps + "' 2>&1";
        FILE* pipe = popen(cmd.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string messages;
        char buf[256];
        while (std::fgets(buf, sizeof buf, pipe))
            messages += buf;
        EXPECT_EQ(pclose(pipe), 0) << messages;
        EXPECT_EQ(messages, "") << "PostScript errors";
        const std::string page = slurp(raw);
        ASSERT_EQ(page.size(), 612u * 792u * 4u);
        // The device's y grows downwards from the page's top; stored row 0
        // of a bottom-up image is the picture's bottom line.
        int mismatches = 0;
        for (int y = 0; y < h * c.scale; ++y)
            for (int x = 0; x < w * c.scale; ++x) {
                const int sx = x / c.scale, row = h - 1 - y / c.scale;
                const uint8_t* px = bytes.data() + 108 + (static_cast<size_t>(row) * w + sx) * 4;
                const auto* out = reinterpret_cast<const uint8_t*>(page.data()) +
                                  (static_cast<size_t>(c.y + y) * 612 + c.x + x) * 4;
                const uint8_t want[4] = {px[2], px[1], px[0], px[3]};
                if (std::memcmp(out, want, 4) != 0 && ++mismatches <= 5)
                    ADD_FAILURE() << "pixel " << x << "," << y << ": " << int(out[0]) << " " << int(out[1]) << " "
                                  << int(out[2]) << " " << int(out[3]) << " != " << int(want[0]) << " "
                                  << int(want[1]) << " " << int(want[2]) << " " << int(want[3]);
            }
        EXPECT_EQ(mismatches, 0);
        // Around the picture the page has no ink.
        const auto* corner = reinterpret_cast<const uint8_t*>(page.data()) + (static_cast<size_t>(c.y - 1) * 612 + c.x - 1) * 4;
        EXPECT_EQ(corner[0] | corner[1] | corner[2] | corner[3], 0);
        std::remove(ps.c_str());
        std::remove(raw.c_str());
    }
    DIBFree(dib);
}

}  // namespace
