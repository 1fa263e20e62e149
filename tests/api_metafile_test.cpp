// Metafile rotation through the public interface: the rewritten records of
// every record type against the reference model, the window query, the
// caller's points, bitmap records, hostile record streams, and (where GDI
// draws) the played rotation against the played original turned by
// RotateDIB.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <random>
#include <set>

#include "support/metafile_model.h"

using namespace kelm_test::meta;

namespace {

constexpr uint16_t kObjects = 2;

std::vector<uint16_t> words(std::initializer_list<int> v)
{
    std::vector<uint16_t> w;
    for (int x : v)
        w.push_back(uint16_t(x));
    return w;
}

// LOGFONT16 with the given escapement: 25 words, face name "Arial".
std::vector<uint16_t> font16(int escapement)
{
    std::vector<uint16_t> w = words({-20, 0, escapement, escapement, 400});
    w.resize(25, 0);
    const char face[] = "Arial";
    std::memcpy(reinterpret_cast<uint8_t*>(w.data()) + 18, face, sizeof face);
    return w;
}

// Every record type the rotation rewrites, and two it copies, in a picture
// of window (x0, y0, w, h).
std::vector<WmfRec> wmf_picture(int x0, int y0, int w, int h, bool window = true)
{
    std::vector<WmfRec> r;
    if (window) {
        r.push_back({0x0103, words({8})});
        r.push_back({0x020B, words({y0, x0})});
        r.push_back({0x020C, words({h, w})});
    }
    const std::vector<WmfRec> body = {
        {0x0201, words({0x00FF, 0x0000})},  // SETBKCOLOR: copied
        {0x02FB, font16(300)},
        {0x012D, words({0})},
        {0x0214, words({10, 20})},
        {0x0213, words({100, 200})},
        {0x0324, words({3, 10, 20, 100, 20, 50, 80})},
        {0x0325, words({2, 5, 5, 300, 250})},
        {0x0416, words({200, 300, 10, 20})},
        {0x0418, words({120, 130, 30, 40})},
        {0x041B, words({250, 350, 50, 60})},
        {0x0419, words({0x00FF, 0, 60, 70})},
        {0x041F, words({0xFF00, 0, 61, 71})},
        {0x0521, words({3, 'a' | 'b' << 8, 'c', 90, 80})},
        {0x0538, words({2, 3, 2, 1, 2, 30, 4, 5, 60, 7, 8, 90, 100})},
        {0x061C, words({10, 24, 150, 160, 40, 50})},
        {0x0817, words({5, 6, 7, 8, 100, 110, 20, 30})},
        {0x081A, words({15, 16, 17, 18, 101, 111, 21, 31})},
        {0x0830, words({25, 26, 27, 28, 102, 112, 22, 32})},
        {0x0A32, words({33, 44, 2, 2, 1, 2, 300, 200, 'h' | 'i' << 8})},
        {0x0A32, words({34, 45, 2, 0, 'h' | 'i' << 8})},
        {0x01F0, words({0})},
    };
    r.insert(r.end(), body.begin(), body.end());
    return r;
}

HMETAFILE wmf_handle(const std::vector<WmfRec>& recs)
{
    const auto bytes = wmf_bytes(recs, kObjects);
    return SetMetaFileBitsEx(UINT(bytes.size()), bytes.data());
}

struct Window {
    int x0, y0, w, h;
    bool present;
};
const Window kWindows[] = {{0, 0, 400, 300, true}, {-50, 20, 400, -300, true}, {10, 10, 0, 0, false}};
const int32_t kAngles[] = {0, 900, 1800, 2700, 450, 300, -900, 1234, 3599, 5400};

// Records as the platform's metafile DC writes them when they are played
// into it. Windows' GDI writes TextOut as ExtTextOut (no options) and
// FloodFill as ExtFloodFill (border mode), pads PolyPolygon to an even
// count of points words, and writes no DeleteObject for an object the
// playback created; the coordinates are the same words either way.
std::vector<WmfRec> as_recorded(const std::vector<WmfRec>& v)
{
    std::vector<WmfRec> out;
    for (WmfRec r : v) {
#if defined(_WIN32)
        if (r.fn == 0x01F0)
            continue;
        if (r.fn == 0x0521) {
            const size_t w = (r.parm[0] + 1) / 2;
            std::vector<uint16_t> p = {r.parm[1 + w], r.parm[2 + w], r.parm[0], 0};
            p.insert(p.end(), r.parm.begin() + 1, r.parm.begin() + 1 + long(w));
            r = {0x0A32, p};
        } else if (r.fn == 0x0419) {
            r.parm.insert(r.parm.begin(), 0);
            r.fn = 0x0548;
        } else if (r.fn == 0x0538 && r.parm.size() % 2) {
            r.parm.push_back(0);
        }
#endif
        out.push_back(r);
    }
    return out;
}

}  // namespace

TEST(MetafileWindow, LastRecordOfEachKindSignExtended)
{
    const struct {
        std::vector<WmfRec> recs;
        LONG cx, cy, x, y, mode;
    } cases[] = {
        {{}, 0, 0, 0, 0, 0},
        {{{0x020C, words({300, 400})}}, 400, 300, 0, 0, 0},
        {{{0x020C, words({1, 2})}, {0x020B, words({-5, -7})}, {0x020C, words({-300, 400})}, {0x0103, words({8})}},
         400, -300, -7, -5, 8},
        {{{0x0103, words({1})}, {0x0103, words({7})}, {0x020B, words({0x8000, 0x7FFF})}}, 0, 0, 32767, -32768, 7},
    };
    for (const auto& c : cases) {
        HMETAFILE h = wmf_handle(c.recs);
        ASSERT_NE(h, nullptr);
        SIZE ext{99, 99};
        POINT org{99, 99};
        LONG mode = 99;
        GetMetaFileWindowExt(h, &ext, &org, &mode);
        EXPECT_EQ(ext.cx, c.cx);
        EXPECT_EQ(ext.cy, c.cy);
        EXPECT_EQ(org.x, c.x);
        EXPECT_EQ(org.y, c.y);
        EXPECT_EQ(mode, c.mode);
        GetMetaFileWindowExt(h, nullptr, nullptr, nullptr);  // every output may be absent
        DeleteMetaFile(h);
    }
}

TEST(MetafileRotate, EveryRecordTypeAgainstTheModel)
{
    for (const Window& win : kWindows)
        for (int32_t angle : kAngles) {
            SCOPED_TRACE(::testing::Message() << "angle " << angle << " window " << win.x0 << "," << win.y0 << " "
                                              << win.w << "x" << win.h);
            const auto src = wmf_picture(win.x0, win.y0, win.w, win.h, win.present);
            HMETAFILE h = wmf_handle(src);
            ASSERT_NE(h, nullptr);
            LONG points[5] = {100, 50, -30, 7, 12345};
            HMETAFILE out = RotateMetaFile(h, angle, points);
            ASSERT_NE(out, nullptr);

            const int w = win.present ? win.w : 0, hh = win.present ? win.h : 0;
            const int x0 = win.present ? win.x0 : 0, y0 = win.present ? win.y0 : 0;
            const WmfFrame f = wmf_frame(angle, x0, y0, w, hh);
            std::vector<WmfRec> expected = {{0x0103, words({8})}, {0x020B, words({0, 0})},
                                            {0x020C, words({f.height, f.width})}};
            for (const WmfRec& r : src)
                if (auto e = wmf_expected(f.m, r))
                    expected.push_back(*e);
            const auto got = wmf_parse(wmf_of(out));
            EXPECT_EQ(got, as_recorded(expected));

            int32_t x, y;
            apply(f.m, 100, 50, &x, &y, false);
            EXPECT_EQ(points[0], x);
            EXPECT_EQ(points[1], y);
            apply(f.m, -30, 7, &x, &y, false);
            EXPECT_EQ(points[2], x);
            EXPECT_EQ(points[3], y);
            EXPECT_EQ(points[4], 12345);

            SIZE ext;
            POINT org;
            LONG mode;
            GetMetaFileWindowExt(out, &ext, &org, &mode);
            EXPECT_EQ(ext.cx, f.width);
            EXPECT_EQ(ext.cy, f.height);
            EXPECT_GE(ext.cy, 0);
            EXPECT_EQ(mode, MM_ANISOTROPIC);
            DeleteMetaFile(out);
            DeleteMetaFile(h);
        }
}

TEST(MetafileRotate, WorkedQuarterTurnsAndFonts)
{
    // Window 0, 0, 400 x 300: at 900 a point (x, y) becomes (y, 400 - x);
    // at 1800 (400 - x, 300 - y); a rectangle keeps right >= left.
    HMETAFILE h = wmf_handle({{0x020C, words({300, 400})},
                              {0x0214, words({10, 20})},
                              {0x041B, words({250, 350, 50, 60})},
                              {0x02FB, font16(300)},
                              {0x012D, words({0})}});
    ASSERT_NE(h, nullptr);
    HMETAFILE q = RotateMetaFile(h, 900, nullptr);
    auto r = wmf_parse(wmf_of(q));
    ASSERT_GE(r.size(), 7u);
    EXPECT_EQ(r[2], (WmfRec{0x020C, words({400, 300})}));
    EXPECT_EQ(r[3], (WmfRec{0x0214, words({380, 10})}));
    EXPECT_EQ(r[4], (WmfRec{0x041B, words({340, 250, 50, 50})}));
    EXPECT_EQ(s16(r[5].parm[2]), 1200);
    EXPECT_EQ(s16(r[5].parm[3]), 1200);
    DeleteMetaFile(q);
    q = RotateMetaFile(h, 1800, nullptr);
    r = wmf_parse(wmf_of(q));
    EXPECT_EQ(r[3], (WmfRec{0x0214, words({290, 380})}));
    DeleteMetaFile(q);
    DeleteMetaFile(h);
}

TEST(MetafileRotate, StretchedBitmapIsTurnedAndRecordedWithItsSize)
{
    HGLOBAL dib = CreateDIB(3, 2, 24, 0);
    LPTRDIB rw = RWOpenDIB(dib);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            RWSetPixel(rw, x, y, RGB(40 * x, 100 * y, 7));
    RWClose(rw);
    std::vector<uint8_t> bytes(GlobalSize(dib));
    std::memcpy(bytes.data(), GlobalLock(dib), bytes.size());
    GlobalUnlock(dib);
    std::vector<uint16_t> p = words({0x0020, 0x00CC, 0, 2, 3, 0, 0, 20, 30, 40, 50});
    const size_t at = p.size();
    p.resize(at + (bytes.size() + 1) / 2);
    std::memcpy(p.data() + at, bytes.data(), bytes.size());
    for (int32_t angle : {0, 900, 1800, 2700, 450}) {
        SCOPED_TRACE(angle);
        HMETAFILE h = wmf_handle({{0x020C, words({100, 120})}, {0x0F43, p}});
        HMETAFILE out = RotateMetaFile(h, angle, nullptr);
        const auto recs = wmf_parse(wmf_of(out));
        const auto it = std::find_if(recs.begin(), recs.end(), [](const WmfRec& r) { return r.fn == 0x0F43; });
        ASSERT_NE(it, recs.end());
        const WmfFrame f = wmf_frame(angle, 0, 0, 120, 100);
        int32_t ax, ay, bx, by;
        apply(f.m, 50, 40, &ax, &ay);
        apply(f.m, 80, 60, &bx, &by);
        const auto& q = it->parm;
        EXPECT_EQ(s16(q[10]), int16_t(std::min(ax, bx)));
        EXPECT_EQ(s16(q[9]), int16_t(std::min(ay, by)));
        EXPECT_EQ(s16(q[8]), std::abs(int16_t(bx) - int16_t(ax)));
        EXPECT_EQ(s16(q[7]), std::abs(int16_t(by) - int16_t(ay)));
        apply(f.m, 0, 0, &ax, &ay);
        apply(f.m, 3, 2, &bx, &by);
        EXPECT_EQ(s16(q[4]), std::abs(bx - ax));
        EXPECT_EQ(s16(q[3]), std::abs(by - ay));
        // The recorded image is RotateDIB's, with biSizeImage filled in.
        HGLOBAL turned = RotateDIB(dib, angle, 0x00FFFFFF);
        std::vector<uint8_t> want(GlobalSize(turned));
        std::memcpy(want.data(), GlobalLock(turned), want.size());
        GlobalUnlock(turned);
        DIBFree(turned);
        const auto* rec = reinterpret_cast<const uint8_t*>(q.data()) + 22;
        BITMAPINFOHEADER bi;
        std::memcpy(&bi, rec, sizeof bi);
        std::memcpy(&bi, want.data(), 20);  // all but biSizeImage as RotateDIB made it
        EXPECT_EQ(std::memcmp(&bi, rec, 20), 0);
        DWORD sizeImage;
        std::memcpy(&sizeImage, rec + 20, 4);
        const DWORD stride = ((bi.biWidth * 24 + 31) / 32) * 4;
        EXPECT_EQ(sizeImage, stride * DWORD(std::abs(bi.biHeight)));
        ASSERT_GE(q.size() * 2 - 22, want.size());
        EXPECT_EQ(std::memcmp(rec + 40, want.data() + 40, want.size() - 40), 0);
        DeleteMetaFile(out);
        DeleteMetaFile(h);
    }
    DIBFree(dib);
}

// Every rewritten record type cut short at every length: what does not
// hold the fields its type carries is left out, and nothing past a record
// is read (the sanitizer builds watch the reads).
TEST(MetafileRotate, ShortRecordsAreLeftOut)
{
    const auto full = wmf_picture(0, 0, 400, 300, false);
    for (const WmfRec& r : full) {
        if (r.fn == 0x012D || r.fn == 0x01F0 || r.fn == 0x0201)
            continue;
        for (size_t n = 0; n < r.parm.size(); ++n) {
            SCOPED_TRACE(::testing::Message() << std::hex << r.fn << std::dec << " with " << n << " words");
            WmfRec cut{r.fn, std::vector<uint16_t>(r.parm.begin(), r.parm.begin() + long(n))};
            HMETAFILE h = wmf_handle({{0x020C, words({300, 400})}, cut});
            ASSERT_NE(h, nullptr);
            HMETAFILE out = RotateMetaFile(h, 900, nullptr);
            ASSERT_NE(out, nullptr);
            for (const WmfRec& o : wmf_parse(wmf_of(out)))
                EXPECT_NE(o.fn, r.fn);
            DeleteMetaFile(out);
            DeleteMetaFile(h);
        }
    }
}

TEST(MetafileRotate, CountsBeyondTheRecordAndForeignSlotsAreLeftOut)
{
    const std::vector<WmfRec> hostile = {
        {0x0324, words({0xFFFF, 1, 2})},
        {0x0325, words({3, 1, 2, 3, 4})},
        {0x0538, words({0xFFFF, 1})},
        {0x0538, words({1, 0xFFFF, 1, 2})},
        {0x0521, words({0xFFFF, 1, 2})},
        {0x0A32, words({1, 2, 200, 0, 'a'})},
        {0x012D, words({kObjects})},
        {0x01F0, words({0xFFFF})},
    };
    for (const WmfRec& r : hostile) {
        SCOPED_TRACE(::testing::Message() << std::hex << r.fn);
        HMETAFILE h = wmf_handle({{0x020C, words({300, 400})}, r});
        ASSERT_NE(h, nullptr);
        HMETAFILE out = RotateMetaFile(h, 450, nullptr);
        ASSERT_NE(out, nullptr);
        for (const WmfRec& o : wmf_parse(wmf_of(out)))
            EXPECT_NE(o.fn, r.fn);
        DeleteMetaFile(out);
        DeleteMetaFile(h);
    }
}

// Random record streams: each record a random function (mostly ones the
// rotation knows) with random words and sizes; the rotation must return.
TEST(MetafileRotate, RandomRecordStreams)
{
    const uint16_t known[] = {0x0213, 0x0214, 0x02FB, 0x0324, 0x0325, 0x0416, 0x0418, 0x041B, 0x0419,
                              0x041F, 0x0521, 0x0538, 0x061C, 0x0817, 0x081A, 0x0830, 0x0A32, 0x0F43,
                              0x012D, 0x01F0, 0x0201, 0x020C, 0x020B};
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        std::vector<WmfRec> recs;
        const int n = int(rng() % 12);
        for (int k = 0; k < n; ++k) {
            WmfRec r{known[rng() % (sizeof known / 2)], {}};
            r.parm.resize(rng() % 30);
            for (auto& w : r.parm)
                w = uint16_t(rng() % 4 == 0 ? rng() : rng() % 8);
            recs.push_back(r);
        }
        HMETAFILE h = wmf_handle(recs);
        if (!h)
            continue;
        HMETAFILE out = RotateMetaFile(h, int32_t(rng() % 7200) - 3600, nullptr);
        EXPECT_NE(out, nullptr);
        DeleteMetaFile(out);
        DeleteMetaFile(h);
    }
}

// ---------------------------------------------------------------------------
// Pictures drawn through GDI into metafiles.

namespace {

// Lines, polygons, rectangles, ellipses, arcs, text with a font, and a
// bitmap, in a window of W x H logical units.
constexpr int kW = 160, kH = 120;

void draw_picture(HDC dc, bool enhanced, bool axisBound = true)
{
    if (!enhanced) {
        SetMapMode(dc, MM_ANISOTROPIC);
        SetWindowOrgEx(dc, 0, 0, nullptr);
        SetWindowExtEx(dc, kW, kH, nullptr);
    }
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(200, 0, 0));
    HBRUSH brush = CreateSolidBrush(RGB(0, 0, 200));
    HGDIOBJ oldPen = SelectObject(dc, pen);
    HGDIOBJ oldBrush = SelectObject(dc, brush);
    MoveToEx(dc, 5, 5, nullptr);
    LineTo(dc, 150, 40);
    const POINT tri[3] = {{20, 60}, {70, 60}, {45, 100}};
    Polygon(dc, tri, 3);
    const POINT zig[4] = {{90, 10}, {110, 30}, {130, 10}, {150, 30}};
    Polyline(dc, zig, 4);
    if (axisBound) {
        Rectangle(dc, 80, 50, 120, 80);
        Ellipse(dc, 125, 60, 155, 110);
        Arc(dc, 10, 10, 50, 50, 50, 30, 10, 30);
    }
    LOGFONTA lf{};
    lf.lfHeight = -14;
    lf.lfWeight = 700;
    std::strcpy(lf.lfFaceName, "Arial");
    HFONT font = CreateFontIndirectA(&lf);
    HGDIOBJ oldFont = SelectObject(dc, font);
    TextOutA(dc, 60, 95, "kelm", 4);
    SelectObject(dc, oldFont);
    DeleteObject(font);
    // A 4 x 3 bitmap of distinct colours stretched to 24 x 18.
    BITMAPINFOHEADER bi{};
    bi.biSize = 40;
    bi.biWidth = 4;
    bi.biHeight = 3;
    bi.biPlanes = 1;
    bi.biBitCount = 32;
    bi.biSizeImage = 4 * 3 * 4;
    uint32_t px[12];
    for (int i = 0; i < 12; ++i)
        px[i] = 0x00102030u * uint32_t(i + 1);
    if (axisBound)
        StretchDIBits(dc, 90, 85, 24, 18, 0, 0, 4, 3, px, reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS, SRCCOPY);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(pen);
    DeleteObject(brush);
}

}  // namespace

TEST(MetafileDrawn, RecordsOfGdiDrawingTurnAsTheModelSays)
{
    HDC dc = CreateMetaFileA(nullptr);
    ASSERT_NE(dc, nullptr);
    draw_picture(dc, false);
    HMETAFILE src = CloseMetaFile(dc);
    ASSERT_NE(src, nullptr);
    const std::set<uint16_t> coordinates = {0x0213, 0x0214, 0x0324, 0x0325, 0x041B, 0x0418, 0x0817, 0x0521};
    auto pick = [&](const std::vector<WmfRec>& v) {
        std::vector<WmfRec> out;
        for (const auto& r : v)
            if (coordinates.count(r.fn))
                out.push_back(r);
        return out;
    };
    const auto before = wmf_parse(wmf_of(src));
    for (int32_t angle : {0, 900, 1800, 2700, 300}) {
        SCOPED_TRACE(angle);
        HMETAFILE out = RotateMetaFile(src, angle, nullptr);
        ASSERT_NE(out, nullptr);
        const WmfFrame f = wmf_frame(angle, 0, 0, kW, kH);
        std::vector<WmfRec> expected;
        for (const auto& r : pick(before))
            expected.push_back(*wmf_expected(f.m, r));
        const auto after = wmf_parse(wmf_of(out));
        EXPECT_EQ(pick(after), expected);
        // The bitmap comes back as one stretched-bitmap record.
        EXPECT_EQ(std::count_if(after.begin(), after.end(), [](const WmfRec& r) { return r.fn == 0x0F43; }), 1);
        DeleteMetaFile(out);
    }
    DeleteMetaFile(src);
}

#if defined(_WIN32)
// Where GDI draws: the turned metafile played into a bitmap looks like the
// played original turned by RotateDIB.
namespace {

// Plays a WMF whose window is w x h into a w x h white 32-bit picture, as
// a packed DIB.
HGLOBAL play_wmf(HMETAFILE mf, int w, int h)
{
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = 40;
    bmi.bmiHeader.biWidth = w;
    bmi.bmiHeader.biHeight = h;  // bottom-up, as packed DIBs are
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(mem, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, section);
    PatBlt(mem, 0, 0, w, h, WHITENESS);
    SetMapMode(mem, MM_ANISOTROPIC);
    SetWindowExtEx(mem, w, h, nullptr);
    SetViewportExtEx(mem, w, h, nullptr);
    PlayMetaFile(mem, mf);
    GdiFlush();
    HGLOBAL dib = CreateDIB(w, h, 32, 0);
    std::memcpy(static_cast<uint8_t*>(GlobalLock(dib)) + 40, bits, size_t(w) * h * 4);
    GlobalUnlock(dib);
    SelectObject(mem, old);
    DeleteObject(section);
    DeleteDC(mem);
    return dib;
}

// Pixels of a that differ from every pixel of b within `reach` of the same
// place shifted by (dx, dy), as a share of a's non-white pixels.
double mismatch(HGLOBAL a, HGLOBAL b, int dx, int dy, int reach)
{
    LPTRDIB ra = RWOpenDIB(a), rb = RWOpenDIB(b);
    BITMAPINFOHEADER ia, ib;
    DIBInfo(a, &ia, sizeof ia);
    DIBInfo(b, &ib, sizeof ib);
    long inked = 0, bad = 0;
    for (int y = 0; y < ia.biHeight; ++y)
        for (int x = 0; x < ia.biWidth; ++x) {
            const DWORD c = RWGetPixel(ra, x, y) & 0xFFFFFF;
            if (c == 0xFFFFFF)
                continue;
            ++inked;
            bool found = false;
            for (int j = -reach; j <= reach && !found; ++j)
                for (int i = -reach; i <= reach && !found; ++i) {
                    const int u = x + dx + i, v = y + dy + j;
                    found = u >= 0 && v >= 0 && u < ib.biWidth && v < ib.biHeight &&
                            (RWGetPixel(rb, u, v) & 0xFFFFFF) == c;
                }
            bad += !found;
        }
    RWClose(ra);
    RWClose(rb);
    return inked ? double(bad) / double(inked) : 1.0;
}

double best_mismatch(HGLOBAL a, HGLOBAL b, int reach)
{
    double best = 1.0;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            best = std::min(best, mismatch(a, b, dx, dy, reach));
    return best;
}

}  // namespace

TEST(MetafileDrawn, PlayedRotationMatchesTheTurnedPlayback)
{
    // A rectangle, ellipse, arc or bitmap record keeps its axes: at odd
    // angles it becomes the box of its two turned corners, not the turned
    // shape, so the picture there holds lines, polygons and text only.
    const struct {
        int32_t angle;
        bool axisBound;
        int reach;
        double tolerance;
    } cases[] = {{0, true, 0, 0.0},     {900, true, 0, 0.08},  {1800, true, 0, 0.08},
                 {2700, true, 0, 0.08}, {300, false, 1, 0.2}, {-450, false, 1, 0.2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.angle);
        HDC dc = CreateMetaFileA(nullptr);
        draw_picture(dc, false, c.axisBound);
        HMETAFILE src = CloseMetaFile(dc);
        HGLOBAL original = play_wmf(src, kW, kH);
        HMETAFILE out = RotateMetaFile(src, c.angle, nullptr);
        SIZE ext;
        GetMetaFileWindowExt(out, &ext, nullptr, nullptr);
        HGLOBAL turned = RotateDIB(original, c.angle, 0x00FFFFFF);
        BITMAPINFOHEADER bi;
        DIBInfo(turned, &bi, sizeof bi);
        // The turned window is the turned picture's size, within the
        // matrix's rounding.
        EXPECT_LE(std::abs(ext.cx - bi.biWidth), 2);
        EXPECT_LE(std::abs(ext.cy - bi.biHeight), 2);
        HGLOBAL played = play_wmf(out, bi.biWidth, bi.biHeight);
        // Both ways: nothing drawn that the other lacks.
        EXPECT_LE(best_mismatch(played, turned, c.reach), c.tolerance);
        EXPECT_LE(best_mismatch(turned, played, c.reach), c.tolerance);
        if (const char* dump = std::getenv("KELM3_METAFILE_DUMP")) {
            const std::string base = std::string(dump) + "/wmf" + std::to_string(c.angle);
            SaveDIBToFile((base + "-played.bmp").c_str(), played);
            SaveDIBToFile((base + "-turned.bmp").c_str(), turned);
        }
        DIBFree(played);
        DIBFree(turned);
        DeleteMetaFile(out);
        DIBFree(original);
        DeleteMetaFile(src);
    }
}

TEST(EnhMetafileDrawn, PlayedRotationMatchesTheTurnedPlayback)
{
    HDC screen = GetDC(nullptr);
    HDC dc = CreateEnhMetaFileA(screen, nullptr, nullptr, "kelm\0test\0");
    ReleaseDC(nullptr, screen);
    draw_picture(dc, true);
    HENHMETAFILE src = CloseEnhMetaFile(dc);
    ENHMETAHEADER h0;
    GetEnhMetaFileHeader(src, sizeof h0, &h0);
    auto play = [](HENHMETAFILE mf, const ENHMETAHEADER& h) {
        const int w = h.rclBounds.right - h.rclBounds.left, ht = h.rclBounds.bottom - h.rclBounds.top;
        HDC scr = GetDC(nullptr);
        HDC mem = CreateCompatibleDC(scr);
        ReleaseDC(nullptr, scr);
        BITMAPINFO bmi{};
        bmi.bmiHeader = {40, w, ht, 1, 32, 0, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        HBITMAP section = CreateDIBSection(mem, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ old = SelectObject(mem, section);
        PatBlt(mem, 0, 0, w, ht, WHITENESS);
        const RECT rc{0, 0, w, ht};
        PlayEnhMetaFile(mem, mf, &rc);
        GdiFlush();
        HGLOBAL dib = CreateDIB(w, ht, 32, 0);
        std::memcpy(static_cast<uint8_t*>(GlobalLock(dib)) + 40, bits, size_t(w) * ht * 4);
        GlobalUnlock(dib);
        SelectObject(mem, old);
        DeleteObject(section);
        DeleteDC(mem);
        return dib;
    };
    HGLOBAL original = play(src, h0);
    for (int32_t angle : {900, 1800, 2700}) {
        SCOPED_TRACE(angle);
        HENHMETAFILE out = RotateEnhMetaFile(src, angle);
        ASSERT_NE(out, nullptr);
        char desc[64] = {};
        EXPECT_EQ(GetEnhMetaFileDescriptionA(out, sizeof desc, desc), 11u);
        EXPECT_STREQ(desc, "kelm");
        ENHMETAHEADER h;
        GetEnhMetaFileHeader(out, sizeof h, &h);
        HGLOBAL played = play(out, h);
        HGLOBAL turned = RotateDIB(original, angle, 0x00FFFFFF);
        // Bounds may be a pixel off after turning: the offset search of
        // best_mismatch takes that up.
        EXPECT_LE(best_mismatch(played, turned, 1), 0.1);
        EXPECT_LE(best_mismatch(turned, played, 1), 0.1);
        DIBFree(played);
        DIBFree(turned);
        DeleteEnhMetaFile(out);
    }
    DIBFree(original);
    DeleteEnhMetaFile(src);
}
#endif
