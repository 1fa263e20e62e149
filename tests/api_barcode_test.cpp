// DIBDetectBarCode through the public interface, on images drawn in memory
// from the test-side encoders: the result list, the callback's events and
// cancelling, line selection and direction, binarisation on green, the
// borders as quiet zones, and text buffers of every awkward size.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "kelm3.h"
#include "support/barcode_model.h"

namespace {

using kelm_test::Elements;

struct Event {
    int event;
    int position;
    std::string text;
    DWORD flags;
    DWORD userData;
};

std::vector<Event> g_events;
int g_stopAfterCodes = -1;  // answer 0 to the code event with this index

BOOL WINAPI record(int event, int position, LPCSTR text, DWORD flags, DWORD userData, DWORD reserved)
{
    EXPECT_EQ(reserved, 0u);
    g_events.push_back({event, position, text, flags, userData});
    if (event == DBC_EVENT_CODE) {
        int codes = 0;
        for (const Event& e : g_events)
            codes += e.event == DBC_EVENT_CODE;
        if (codes - 1 == g_stopAfterCodes)
            return FALSE;
    }
    return TRUE;
}

std::vector<Event> events_of(int kind)
{
    std::vector<Event> out;
    for (const Event& e : g_events)
        if (e.event == kind)
            out.push_back(e);
    return out;
}

// An image `height` rows high whose every row is the run list's line (first
// and last entries real light pixels), bars in `ink` on `paper`.
HGLOBAL draw_rows(const std::vector<uint32_t>& runs, int height, int bits, DWORD ink = 0, DWORD paper = 0xFFFFFF)
{
    const std::vector<bool> line = kelm_test::line_of(runs);
    HGLOBAL dib = CreateDIB(static_cast<int>(line.size()), height, bits, 0);
    EXPECT_NE(dib, nullptr);
    LPTRDIB rw = RWOpenDIB(dib);
    EXPECT_NE(rw, nullptr);
    for (int y = 0; y < height; ++y)
        for (size_t x = 0; x < line.size(); ++x)
            RWSetPixel(rw, static_cast<int>(x), y, line[x] ? ink : paper);
    RWClose(rw);
    return dib;
}

// The same symbol along the columns: column x of the result is row x's line,
// first pixel in the last stored row (the top of a bottom-up image).
HGLOBAL draw_columns(const std::vector<uint32_t>& runs, int width, int bits)
{
    const std::vector<bool> line = kelm_test::line_of(runs);
    const int h = static_cast<int>(line.size());
    HGLOBAL dib = CreateDIB(width, h, bits, 0);
    LPTRDIB rw = RWOpenDIB(dib);
    for (int x = 0; x < width; ++x)
        for (int i = 0; i < h; ++i)
            RWSetPixel(rw, x, h - 1 - i, line[static_cast<size_t>(i)] ? 0 : 0xFFFFFF);
    RWClose(rw);
    return dib;
}

std::vector<uint32_t> code39_runs(const std::string& text, uint32_t q = 30)
{
    return kelm_test::run_list(q, kelm_test::code39_elements(text, 2, 5, 2), q);
}

std::vector<uint32_t> ean13_runs(const std::string& digits, uint32_t q = 24)
{
    return kelm_test::run_list(q, kelm_test::modules_to_elements(kelm_test::ean13_modules(digits), 2), q);
}

// The entries of a result list.
std::vector<std::string> entries(const char* list)
{
    std::vector<std::string> out;
    for (const char* p = list; *p; p += std::strlen(p) + 1)
        out.push_back(p);
    return out;
}

struct Detect {
    char buf[512];
    BOOL result;
    Detect(HGLOBAL dib, DWORD flags, BarcodeCallback cb = record, DWORD userData = 0x1234)
    {
        g_events.clear();
        std::memset(buf, 0x55, sizeof buf);
        result = DIBDetectBarCode(dib, cb, userData, buf, sizeof buf, flags, 0xDEAD);
    }
};

constexpr DWORD kAllCodes = DBC_CODE39 | DBC_I2OF5 | DBC_EAN13 | DBC_EAN8 | DBC_EAN5_ADDON | DBC_EAN2_ADDON;

TEST(DetectBarCode, FindsEachSymbologyInEveryDepth)
{
    const std::string ean13 = "5901234123457", ean8 = "55123457";
    std::vector<uint32_t> withAddon = ean13_runs(ean13);
    withAddon.back() = 18;
    kelm_test::append_symbol(withAddon, kelm_test::modules_to_elements(kelm_test::addon2_modules("12"), 2), 24);
    const struct {
        const char* name;
        std::vector<uint32_t> runs;
        std::vector<std::string> list;
    } cases[] = {
        {"Code 39", code39_runs("KELM-3"), {"KELM-3\t3 of 9"}},
        {"Interleaved 2 of 5", kelm_test::run_list(30, kelm_test::i2of5_elements("0042", 2, 6), 30),
         {"0042\t2 of 5 interleaved"}},
        {"EAN-13", ean13_runs(ean13), {ean13 + "\tEAN 13"}},
        {"EAN-8", kelm_test::run_list(24, kelm_test::modules_to_elements(kelm_test::ean8_modules(ean8), 3), 36),
         {ean8 + "\tEAN 8"}},
        {"EAN-13 and add-on", withAddon, {ean13 + "+12\tEAN 13\tEAN 2 AddOn", "12\tEAN 2 AddOn"}},
    };
    for (const auto& c : cases)
        for (int bits : {1, 4, 8, 16, 24, 32}) {
            SCOPED_TRACE(testing::Message() << c.name << ", " << bits << " bits");
            HGLOBAL dib = draw_rows(c.runs, 3, bits);
            Detect d(dib, kAllCodes | DBC_ROWS);
            EXPECT_EQ(d.result, TRUE);
            EXPECT_EQ(entries(d.buf), c.list);
            DIBFree(dib);
        }
}

TEST(DetectBarCode, ProgressEventsFollowTheLinesScanned)
{
    HGLOBAL dib = draw_rows(code39_runs("A"), 4, 24);
    BITMAPINFOHEADER bi;
    ASSERT_EQ(DIBInfo(dib, &bi, sizeof bi), 1);
    const int w = bi.biWidth;
    const struct {
        DWORD flags;
        int rows, columns;
    } cases[] = {{0x10000, 4, 0}, {0x20000, 4, 0}, {0x40000, 0, w}, {0x80000, 0, w}, {0x50000, 4, w}, {0, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.flags);
        Detect d(dib, c.flags | DBC_CODE39 | DBC_NEW_ONLY);
        std::vector<Event> progress = events_of(DBC_EVENT_PROGRESS);
        ASSERT_EQ(progress.size(), static_cast<size_t>(c.rows + c.columns));
        for (int i = 0; i < c.rows; ++i) {
            EXPECT_EQ(progress[i].position, 3 - i);  // last stored row first
            EXPECT_EQ(progress[i].flags, 0x30000u);
            EXPECT_EQ(progress[i].text, "");
            EXPECT_EQ(progress[i].userData, 0x1234u);
        }
        for (int i = 0; i < c.columns; ++i) {
            EXPECT_EQ(progress[c.rows + i].position, i);
            EXPECT_EQ(progress[c.rows + i].flags, 0xC0000u);
        }
        // Columns cross the bars: only rows read the symbol.
        EXPECT_EQ(d.result, c.rows ? TRUE : FALSE);
        EXPECT_EQ(events_of(DBC_EVENT_CODE).size(), c.rows ? 1u : 0u);
    }
    DIBFree(dib);
}

TEST(DetectBarCode, CodeEventsOnEveryLineOrOnlyWhenNew)
{
    HGLOBAL dib = draw_rows(code39_runs("AB"), 5, 8);
    {
        Detect d(dib, DBC_CODE39 | DBC_ROWS);
        const std::vector<Event> codes = events_of(DBC_EVENT_CODE);
        ASSERT_EQ(codes.size(), 5u);
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(codes[i].position, 4 - i);
            EXPECT_EQ(codes[i].text, "AB");
            EXPECT_EQ(codes[i].flags, 0x100u);
        }
        EXPECT_EQ(entries(d.buf), std::vector<std::string>{"AB\t3 of 9"});
    }
    {
        Detect d(dib, DBC_CODE39 | DBC_ROWS | DBC_NEW_ONLY);
        EXPECT_EQ(events_of(DBC_EVENT_CODE).size(), 1u);
        EXPECT_EQ(events_of(DBC_EVENT_PROGRESS).size(), 5u);
    }
    // A zero answer stops the scan once the current line is done.
    g_stopAfterCodes = 1;
    {
        Detect d(dib, DBC_CODE39 | DBC_ROWS | DBC_COLUMNS);
        EXPECT_EQ(events_of(DBC_EVENT_CODE).size(), 2u);
        const std::vector<Event> progress = events_of(DBC_EVENT_PROGRESS);
        ASSERT_EQ(progress.size(), 2u);
        EXPECT_EQ(progress.back().position, 3);
        EXPECT_EQ(d.result, TRUE);
    }
    g_stopAfterCodes = -1;
    DIBFree(dib);
}

TEST(DetectBarCode, SymbolsInEitherDirectionAndAlongColumns)
{
    std::vector<uint32_t> turned = ean13_runs("4006381333931");
    std::reverse(turned.begin(), turned.end());
    HGLOBAL rows = draw_rows(turned, 2, 24);
    EXPECT_EQ(Detect(rows, DBC_EAN13 | DBC_ROWS).result, TRUE);
    EXPECT_EQ(events_of(DBC_EVENT_CODE).at(0).text, "4006381333931");
    DIBFree(rows);

    HGLOBAL cols = draw_columns(code39_runs("UP"), 3, 1);
    EXPECT_EQ(Detect(cols, DBC_CODE39 | DBC_ROWS).result, FALSE);
    Detect d(cols, DBC_CODE39 | DBC_COLUMNS);
    EXPECT_EQ(d.result, TRUE);
    EXPECT_EQ(entries(d.buf), std::vector<std::string>{"UP\t3 of 9"});
    EXPECT_EQ(events_of(DBC_EVENT_CODE).at(0).position, 0);
    DIBFree(cols);
}

TEST(DetectBarCode, LightIsGreenAboveHalf)
{
    const struct {
        DWORD ink;
        BOOL found;
    } inks[] = {{0x0000FF, TRUE},  {0xFF0000, TRUE}, {0x007F00, TRUE},  // red, blue, green 0x7F7F: dark
                {0x008000, FALSE}, {0xFFFFFF, FALSE}};                  // green 0x8080: light
    for (const auto& i : inks) {
        SCOPED_TRACE(testing::Message() << std::hex << i.ink);
        HGLOBAL dib = draw_rows(code39_runs("G"), 1, 24, i.ink);
        EXPECT_EQ(Detect(dib, DBC_CODE39 | DBC_ROWS).result, i.found);
        DIBFree(dib);
    }
    // Paper of any colour whose green is light; magenta paper is dark.
    HGLOBAL cyan = draw_rows(code39_runs("G"), 1, 24, 0, 0xFFFF00);
    EXPECT_EQ(Detect(cyan, DBC_CODE39 | DBC_ROWS).result, TRUE);
    DIBFree(cyan);
    HGLOBAL magenta = draw_rows(code39_runs("G"), 1, 24, 0, 0xFF00FF);
    EXPECT_EQ(Detect(magenta, DBC_CODE39 | DBC_ROWS).result, FALSE);
    DIBFree(magenta);
}

TEST(DetectBarCode, ImageBordersAreQuietZones)
{
    // The symbol touches both borders: no light pixel before or after it.
    std::vector<uint32_t> tight = code39_runs("EDGE", 0);
    HGLOBAL dib = draw_rows(tight, 2, 1);
    Detect d(dib, DBC_CODE39 | DBC_ROWS);
    EXPECT_EQ(entries(d.buf), std::vector<std::string>{"EDGE\t3 of 9"});
    DIBFree(dib);
    std::vector<uint32_t> eanTight = ean13_runs("5901234123457", 0);
    dib = draw_rows(eanTight, 1, 8);
    EXPECT_EQ(Detect(dib, DBC_EAN13 | DBC_ROWS).result, TRUE);
    DIBFree(dib);
}

TEST(DetectBarCode, TextBuffersOfAwkwardSizes)
{
    HGLOBAL dib = draw_rows(code39_runs("AB"), 2, 24);
    // No buffer: still found, and the callback hears the text.
    g_events.clear();
    EXPECT_EQ(DIBDetectBarCode(dib, record, 7, nullptr, 100, DBC_CODE39 | DBC_ROWS, 0), TRUE);
    EXPECT_EQ(events_of(DBC_EVENT_CODE).size(), 2u);
    EXPECT_EQ(DIBDetectBarCode(dib, nullptr, 0, nullptr, 0, DBC_CODE39 | DBC_ROWS, 0), TRUE);
    // Only the bytes the size allows are touched; "AB\t3 of 9" (9 bytes)
    // needs a size above 11.
    const std::string entry("AB\t3 of 9\0\0", 11);
    const struct {
        int size;
        std::string written;
    } sizes[] = {{-5, ""}, {0, ""}, {1, std::string(1, 0)}, {2, std::string(2, 0)}, {11, std::string(2, 0)}, {12, entry}};
    for (const auto& c : sizes) {
        SCOPED_TRACE(c.size);
        char buf[16];
        std::memset(buf, 0x55, sizeof buf);
        EXPECT_EQ(DIBDetectBarCode(dib, nullptr, 0, buf, c.size, DBC_CODE39 | DBC_ROWS, 0), TRUE);
        const std::string expected = c.written + std::string(16 - c.written.size(), 0x55);
        EXPECT_EQ(std::string(buf, 16), expected);
    }
    DIBFree(dib);
}

TEST(DetectBarCode, EmptyAndUnreadableImages)
{
    char buf[8];
    std::memset(buf, 0x55, sizeof buf);
    EXPECT_EQ(DIBDetectBarCode(nullptr, record, 0, buf, sizeof buf, DBC_CODE39 | DBC_ROWS, 0), FALSE);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(buf[1], 0);
    for (const auto& size : {std::pair<int, int>{0, 5}, {40, 0}}) {
        HGLOBAL dib = CreateDIB(size.first, size.second, 24, 0);
        ASSERT_NE(dib, nullptr);
        Detect d(dib, kAllCodes | DBC_ROWS | DBC_COLUMNS);
        EXPECT_EQ(d.result, FALSE);
        EXPECT_EQ(events_of(DBC_EVENT_PROGRESS).size(), static_cast<size_t>(size.first + size.second));
        DIBFree(dib);
    }
    // A top-down image: the pixel API reads none of its rows.
    HGLOBAL dib = draw_rows(code39_runs("TD"), 2, 24);
    BITMAPINFOHEADER* bi = static_cast<BITMAPINFOHEADER*>(GlobalLock(dib));
    bi->biHeight = -bi->biHeight;
    GlobalUnlock(dib);
    Detect d(dib, DBC_CODE39 | DBC_ROWS | DBC_COLUMNS);
    EXPECT_EQ(d.result, FALSE);
    EXPECT_EQ(entries(d.buf).size(), 0u);
    DIBFree(dib);
}

}  // namespace

namespace {

// The held-out files: zint symbols turned, recoloured or noised, decoded
// alike on every platform.
TEST(DetectBarCode, HeldOutFiles)
{
    const struct {
        const char* file;
        std::vector<std::string> list;
    } files[] = {
        {"ean8_m2_r270_1bit_navy_on_yellow.bmp", {"96385074\tEAN 8"}},
        {"i2of5_m2_r180_1bit_red_on_white.bmp", {"12345678\t2 of 5 interleaved"}},
        {"ean13_5_m2_r90_1bit_navy_on_yellow.bmp",
         {"4006381333931+52495\tEAN 13\tEAN 5 AddOn", "4006381333931\tEAN 13", "52495\tEAN 5 AddOn"}},
        {"code39_m2_r0_1bit_red_on_white.bmp", {"KELM-3 TEST\t3 of 9"}},
        {"ean13_m3_r270_1bit_plain.bmp", {"5901234123457\tEAN 13"}},
        {"i2of5_m4_r0_1bit_noise.bmp", {"12345678\t2 of 5 interleaved"}},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.file);
        const std::string path = std::string(KELM3_SOURCE_DIR) + "/tests/data/barcode/" + f.file;
        HGLOBAL dib = LoadDIBFromFile(path.c_str());
        ASSERT_NE(dib, nullptr);
        Detect d(dib, kAllCodes | DBC_ROWS | DBC_COLUMNS);
        EXPECT_EQ(d.result, TRUE);
        std::vector<std::string> got = entries(d.buf), want = f.list;
        std::sort(got.begin(), got.end());
        std::sort(want.begin(), want.end());
        EXPECT_EQ(got, want);
        DIBFree(dib);
    }
}

}  // namespace
