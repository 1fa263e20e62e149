// TWAIN on Linux: the string table against the DLL's resource script, the
// TW_FIX32 rule, the resolution patch on hostile blocks, and scanning from
// SANE's "test" backend through the built-in source manager, compared pixel
// for pixel with what scanimage writes for the same options.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kelm3.h"
#include "platform/platform.h"
#include "twain/twain.h"

// SANE's backends keep allocations that no call of theirs frees (the test
// backend's scan buffers); they are not this library's to find.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions()
{
    return "leak:libsane\n";
}

namespace {

TEST(TwainStrings, LinuxTableMatchesTheResourceScript)
{
    std::ifstream rc(std::string(KELM3_SOURCE_DIR) + "/src/exports/kelm3.rc");
    ASSERT_TRUE(rc.good());
    std::string line;
    int count = 0;
    // Entries are lines `    ID, "TEXT"`.
    while (std::getline(rc, line)) {
        unsigned id = 0;
        int used = 0;
        if (std::sscanf(line.c_str(), " %u, \"%n", &id, &used) != 1 || used == 0)
            continue;
        std::string::size_type end = line.rfind('"');
        if (end == std::string::npos || end < static_cast<std::size_t>(used))
            continue;
        std::string text = line.substr(static_cast<std::size_t>(used), end - static_cast<std::size_t>(used));
        ++count;
        SCOPED_TRACE(id);
        char buf[255];
        int n = LoadStringA(static_cast<HINSTANCE>(kelm::g_state.hInstance), id, buf, sizeof buf);
        EXPECT_EQ(n, static_cast<int>(text.size()));
        EXPECT_EQ(std::string(buf), text);
    }
    EXPECT_EQ(count, 20);
}

TEST(TwainFix32, RoundsByTheTwainRule)
{
    struct Case {
        double value;
        int whole;
        unsigned frac;
    } cases[] = {{0.5, 0, 32768},       {1.0, 1, 0},           {2.0, 2, 0},          {0.0, 0, 0},
                 {-0.5, -1, 32769},     {-1.0, -1, 1},         {1.0 / 1440, 0, 46},  {32767.0, 32767, 0},
                 {-32768.0, -32768, 1}, {1e-9, 0, 0},          {0.99999, 0, 65535}, {1.0 - 1e-7, 1, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        TW_FIX32 f = kelm::to_fix32(c.value);
        EXPECT_EQ(f.Whole, c.whole);
        EXPECT_EQ(f.Frac, c.frac);
    }
}

TEST(TwainResolution, OnlyReadableInfoHeadersArePatched)
{
    TW_IMAGEINFO info{};
    info.XResolution.Whole = 300;
    info.YResolution.Whole = 150;
    struct Case {
        std::size_t size;
        DWORD biSize;
        bool patched;
    } cases[] = {{40, 40, true}, {39, 40, false}, {64, 12, false}, {200, 108, false}, {200, 124, false},
                 {1000, 40, true}, {4, 40, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        HGLOBAL h = GlobalAlloc(GHND, c.size);
        ASSERT_NE(h, nullptr);
        auto* p = static_cast<BYTE*>(GlobalLock(h));
        std::memcpy(p, &c.biSize, c.size < 4 ? c.size : 4);
        GlobalUnlock(h);
        EXPECT_EQ(kelm::patch_resolution(h, info), c.patched);
        p = static_cast<BYTE*>(GlobalLock(h));
        if (c.size >= 40) {
            BITMAPINFOHEADER bi;
            std::memcpy(&bi, p, sizeof bi);
            EXPECT_EQ(bi.biXPelsPerMeter, c.patched ? 11811 : 0);
            EXPECT_EQ(bi.biYPelsPerMeter, c.patched ? 5906 : 0);
        }
        GlobalUnlock(h);
        GlobalFree(h);
    }
    // A discarded block does not lock: left alone.
    HGLOBAL gone = GlobalAlloc(GMEM_MOVEABLE, 0);
    EXPECT_FALSE(kelm::patch_resolution(gone, info));
    GlobalFree(gone);
}

TEST(TwainContext, ForeignHandlesAreRefusedLikeNull)
{
    // Handles the library never issued: every export answers with its
    // failure result instead of reading through them.
    HANDLE foreign[] = {reinterpret_cast<HANDLE>(1), reinterpret_cast<HANDLE>(0x55555555),
                        reinterpret_cast<HANDLE>(~static_cast<uintptr_t>(0))};
    for (HANDLE h : foreign) {
        SCOPED_TRACE(h);
        MSG msg{};
        RECT r{0, 0, 1, 1};
        EXPECT_FALSE(TWAINIsDSMOpen(h));
        EXPECT_EQ(TWAINSelectDS(h), 0);
        EXPECT_FALSE(TWAINAquire(h));
        EXPECT_FALSE(TWAINAquireExt(h, TRUE, 24));
        EXPECT_FALSE(TWAINIsTwainMessage(h, &msg, nullptr));
        EXPECT_FALSE(TWAINSetResolution(h, 300, 0));
        EXPECT_FALSE(TWAINSetRect(h, &r, 0));
        EXPECT_EQ(TWAINCallDS(h, DG_CONTROL, DAT_STATUS, MSG_GET, nullptr), static_cast<UINT>(TWRC_FAILURE));
        EXPECT_FALSE(TWAINTerminate(h));
    }
}

TEST(TwainContext, InitializeCutsTheNameAndFailsWithoutMemory)
{
    std::string name(200, 'n');
    HANDLE h = TWAINInitialize(nullptr, name.c_str());
    ASSERT_NE(h, nullptr);
    kelm::TwainContext* c = kelm::twain_context(h);
    EXPECT_EQ(std::string(c->appID.ProductName), std::string(33, 'n'));
    EXPECT_EQ(std::string(c->appID.Version.Info), std::string(33, 'n'));
    EXPECT_STREQ(c->appID.Manufacturer, "Quil Software Development");
    EXPECT_STREQ(c->appID.ProductFamily, "Tolvara");
    // Packed fields are copied out before comparing (no references to them).
    TW_UINT32 groups = c->appID.SupportedGroups;
    TW_UINT16 language = c->appID.Version.Language;
    EXPECT_EQ(groups, 3u);
    EXPECT_EQ(language, 13);
    EXPECT_TRUE(TWAINTerminate(h));
    kelm::testing::fail_allocation(1);
    EXPECT_EQ(TWAINInitialize(nullptr, "x"), nullptr);
}

// The window and module parts of the Linux platform layer.
LRESULT CALLBACK counting_proc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_USER)
        return static_cast<LRESULT>(wParam + 1);
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}

TEST(LinuxWindows, ClassesWindowsAndQueues)
{
    WNDCLASSA wc{};
    wc.lpfnWndProc = counting_proc;
    wc.cbWndExtra = 8;
    wc.lpszClassName = "kelm3Unit";
    ASSERT_NE(RegisterClassA(&wc), 0);
    EXPECT_EQ(RegisterClassA(&wc), 0) << "a second class of the same name";
    HWND w = CreateWindowExA(0, "KELM3UNIT", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(CreateWindowExA(0, "nope", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
    // Extra bytes: inside the class's 8, nothing outside.
    EXPECT_EQ(SetWindowLongA(w, 4, 77), 0);
    EXPECT_EQ(GetWindowLongA(w, 4), 77);
    EXPECT_EQ(SetWindowLongA(w, 5, 1), 0);
    EXPECT_EQ(GetWindowLongA(w, 5), 0);
    EXPECT_EQ(SetWindowLongPtrA(w, 0, 1234), static_cast<LONG_PTR>(77) << 32) << "the old 8 bytes";
    EXPECT_EQ(GetWindowLongPtrA(w, 0), 1234);
    EXPECT_EQ(GetWindowLongPtrA(w, 1), 0);
    EXPECT_EQ(SendMessageA(w, WM_USER, 41, 0), 42);
    // Posted messages come back in order; filters pick by window and range.
    PostMessageA(w, WM_USER, 1, 0);
    PostMessageA(nullptr, WM_APP, 2, 0);
    PostMessageA(w, WM_USER + 1, 3, 0);
    MSG m;
    ASSERT_EQ(GetMessageA(&m, nullptr, WM_APP, WM_APP), TRUE);
    EXPECT_EQ(m.wParam, 2u);
    ASSERT_EQ(GetMessageA(&m, w, 0, 0), TRUE);
    EXPECT_EQ(m.wParam, 1u);
    EXPECT_EQ(DispatchMessageA(&m), 2);
    EXPECT_FALSE(UnregisterClassA("kelm3Unit", nullptr)) << "a class with a window";
    EXPECT_TRUE(DestroyWindow(w));
    EXPECT_FALSE(IsWindow(w));
    EXPECT_FALSE(PostMessageA(w, WM_USER, 0, 0));
    // The queued message of the destroyed window went with it.
    PostQuitMessage(3);
    ASSERT_EQ(GetMessageA(&m, nullptr, 0, 0), FALSE);
    EXPECT_EQ(m.wParam, 3u);
    EXPECT_TRUE(UnregisterClassA("kelm3Unit", nullptr));
}

TEST(LinuxModules, WindowsDirectoryAndBuiltInManager)
{
    setenv("KELM3_WINDIR", "/nonexistent/win/", 1);
    char buf[64];
    EXPECT_EQ(GetWindowsDirectoryA(buf, sizeof buf), 16u);
    EXPECT_STREQ(buf, "/nonexistent/win");
    EXPECT_EQ(GetWindowsDirectoryA(buf, 16), 17u) << "too small: the size needed";
    OFSTRUCT of;
    EXPECT_EQ(OpenFile("/nonexistent/win\\TWAIN_32.DLL", &of, OF_EXIST), 1);
    EXPECT_EQ(OpenFile("/nonexistent/win\\twain_32.dll", &of, OF_EXIST), 1);
    EXPECT_EQ(OpenFile("/elsewhere\\TWAIN_32.DLL", &of, OF_EXIST), HFILE_ERROR);
    EXPECT_EQ(OpenFile("/nonexistent/win\\TWAIN_32.DLL", &of, OF_READ), HFILE_ERROR);
    HMODULE dsm = LoadLibraryA("/nonexistent/win\\TWAIN_32.DLL");
    ASSERT_NE(dsm, nullptr);
    EXPECT_NE(GetProcAddress(dsm, "DSM_Entry"), nullptr);
    EXPECT_EQ(GetProcAddress(dsm, "DS_Entry"), nullptr);
    EXPECT_TRUE(FreeLibrary(dsm));
    EXPECT_EQ(LoadLibraryA("/nonexistent/win\\other.dll"), nullptr);
    char out[1100];
    EXPECT_EQ(wsprintfA(out, "%s %d", "a", 5), 3);
    EXPECT_STREQ(out, "a 5");
    std::string big(2000, 'x');
    EXPECT_EQ(wsprintfA(out, "%s", big.c_str()), 1023);
    EXPECT_EQ(std::strlen(out), 1023u);
    unsetenv("KELM3_WINDIR");
}

// ---------------------------------------------------------------------------
// SANE's test backend.

struct Pnm {
    int kind = 0;  // 4 bitmap, 5 grey, 6 colour
    int width = 0, height = 0;
    std::vector<unsigned char> data;
};

bool read_pnm(FILE* f, Pnm& out)
{
    char magic[3] = {};
    if (std::fscanf(f, "%2s", magic) != 1 || magic[0] != 'P')
        return false;
    out.kind = magic[1] - '0';
    auto number = [&](int& v) {
        int ch;
        while ((ch = std::fgetc(f)) != EOF) {
            if (ch == '#') {
                while ((ch = std::fgetc(f)) != EOF && ch != '\n') {
                }
            } else if (!std::isspace(ch)) {
                std::ungetc(ch, f);
                break;
            }
        }
        return std::fscanf(f, "%d", &v) == 1;
    };
    int maxval = 1;
    if (!number(out.width) || !number(out.height) || (out.kind != 4 && !number(maxval)))
        return false;
    std::fgetc(f);
    std::size_t row = out.kind == 4 ? static_cast<std::size_t>((out.width + 7) / 8)
                                    : static_cast<std::size_t>(out.width) * (out.kind == 6 ? 3 : 1);
    out.data.resize(row * static_cast<std::size_t>(out.height));
    return std::fread(out.data.data(), 1, out.data.size(), f) == out.data.size();
}

LRESULT CALLBACK sink_proc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_TWAIN_NOTIFY && wParam && lParam == 0) {
        auto* images = reinterpret_cast<std::vector<HGLOBAL>*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
        images->push_back(reinterpret_cast<HGLOBAL>(wParam));
    }
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}

class SaneTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (system("command -v scanimage > /dev/null 2>&1") != 0)
            GTEST_SKIP() << "scanimage is not installed (Debian sane-utils)";
        char tmpl[] = "/tmp/kelm3_sane_XXXXXX";
        dir_ = mkdtemp(tmpl);
        mkdir((dir_ + "/windows").c_str(), 0755);
        setenv("KELM3_WINDIR", (dir_ + "/windows").c_str(), 1);
        setenv("SANE_CONFIG_DIR", dir_.c_str(), 1);
        unsetenv("KELM3_TWAIN_SOURCE");
        std::ofstream(dir_ + "/dll.conf") << "test\n";
        configure("");
    }
    void TearDown() override
    {
        if (!dir_.empty())
            std::system(("rm -rf '" + dir_ + "'").c_str());
    }

    // test.conf: one device with the colour pattern, and extra lines.
    void configure(const std::string& extra)
    {
        std::ofstream(dir_ + "/test.conf") << "number_of_devices 1\ntest-picture \"Color pattern\"\n" << extra;
    }

    Pnm scanimage(const std::string& options)
    {
        Pnm pnm;
        std::string cmd = "SANE_CONFIG_DIR='" + dir_ + "' scanimage -d test:0 --format=pnm " + options + " 2>/dev/null";
        FILE* f = popen(cmd.c_str(), "r");
        EXPECT_NE(f, nullptr);
        if (f) {
            EXPECT_TRUE(read_pnm(f, pnm));
            pclose(f);
        }
        return pnm;
    }

    // One batch from the default source, with the given settings.
    std::vector<HGLOBAL> scan(int bitDepth, LONG dpi, const RECT* area)
    {
        std::vector<HGLOBAL> images;
        WNDCLASSA wc{};
        wc.lpfnWndProc = sink_proc;
        wc.lpszClassName = "kelm3SaneSink";
        RegisterClassA(&wc);
        HWND hWnd = CreateWindowExA(0, "kelm3SaneSink", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        SetWindowLongPtrA(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&images));
        HANDLE ctx = TWAINInitialize(hWnd, "sane test");
        if (dpi) {
            EXPECT_TRUE(TWAINSetResolution(ctx, dpi, 0));
        }
        if (area) {
            EXPECT_TRUE(TWAINSetRect(ctx, area, 0));
        }
        if (TWAINAquireExt(ctx, FALSE, bitDepth)) {
            MSG msg;
            while (TWAINIsDSMOpen(ctx) && GetMessageA(&msg, nullptr, 0, 0) > 0) {
                if (!TWAINIsTwainMessage(ctx, &msg, hWnd))
                    DispatchMessageA(&msg);
            }
        }
        TWAINTerminate(ctx);
        DestroyWindow(hWnd);
        UnregisterClassA("kelm3SaneSink", nullptr);
        return images;
    }

    std::string dir_;
};

// Compares the packed DIB with scanimage's picture, pixel by pixel.
void expect_same(HGLOBAL h, const Pnm& pnm, LONG pelsPerMeter)
{
    ASSERT_NE(h, nullptr);
    auto* p = static_cast<BYTE*>(GlobalLock(h));
    BITMAPINFOHEADER bi;
    std::memcpy(&bi, p, sizeof bi);
    ASSERT_EQ(bi.biWidth, pnm.width);
    ASSERT_EQ(bi.biHeight, pnm.height);
    EXPECT_EQ(bi.biBitCount, pnm.kind == 6 ? 24 : pnm.kind == 5 ? 8 : 1);
    EXPECT_EQ(bi.biXPelsPerMeter, pelsPerMeter);
    LPTRDIB rw = RWOpenDIB(h);
    GlobalUnlock(h);
    ASSERT_NE(rw, nullptr);
    int wrong = 0;
    for (int y = 0; y < pnm.height; ++y)
        for (int x = 0; x < pnm.width; ++x) {
            DWORD c = RWGetPixel(rw, x, pnm.height - 1 - y);
            unsigned r, g, b;
            if (pnm.kind == 6) {
                const unsigned char* s = &pnm.data[(static_cast<std::size_t>(y) * pnm.width + x) * 3];
                r = s[0];
                g = s[1];
                b = s[2];
            } else if (pnm.kind == 5) {
                r = g = b = pnm.data[static_cast<std::size_t>(y) * pnm.width + x];
            } else {
                std::size_t row = static_cast<std::size_t>((pnm.width + 7) / 8);
                bool black = (pnm.data[y * row + x / 8] >> (7 - x % 8)) & 1;
                r = g = b = black ? 0 : 255;
            }
            wrong += c != RGB(r, g, b);
        }
    RWClose(rw);
    EXPECT_EQ(wrong, 0);
}

TEST_F(SaneTest, ListsTheTestDeviceAsASource)
{
    HANDLE ctx = TWAINInitialize(nullptr, "list");
    ASSERT_EQ(TWAINSelectDS(ctx), TWRC_SUCCESS);
    // The default source is the test device; its identity comes from SANE.
    kelm::TwainContext* c = kelm::twain_context(ctx);
    EXPECT_STREQ(c->dsID.ProductName, "test:0");
    EXPECT_STREQ(c->dsID.Manufacturer, "Noname");
    EXPECT_STREQ(c->dsID.ProductFamily, "frontend-tester");
    EXPECT_TRUE(TWAINTerminate(ctx));
}

TEST_F(SaneTest, ScansAsScanimageDoes)
{
    struct Case {
        int bitDepth;
        LONG dpi;
        RECT area;  // twips
        const char* options;
        const char* conf;
    } cases[] = {
        {24, 75, {0, 0, 1440, 720}, "--mode Color --depth 8 --resolution 75 -l 0 -t 0 -x 25.4 -y 12.7", ""},
        {8, 50, {720, 360, 2160, 1440}, "--mode Gray --depth 8 --resolution 50 -l 12.7 -t 6.35 -x 25.4 -y 19.05", ""},
        {1, 100, {0, 0, 1440, 1440}, "--mode Gray --depth 1 --resolution 100 -l 0 -t 0 -x 25.4 -y 25.4", ""},
        {24, 60, {0, 0, 1440, 1440}, "--mode Color --depth 8 --resolution 60 -l 0 -t 0 -x 25.4 -y 25.4 --three-pass=yes",
         "three-pass true\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        configure(c.conf);
        Pnm expected = scanimage(c.options);
        std::vector<HGLOBAL> images = scan(c.bitDepth, c.dpi, &c.area);
        ASSERT_EQ(images.size(), 1u);
        expect_same(images[0], expected, kelm::MulDiv(c.dpi, 10000, 254));
        for (HGLOBAL h : images)
            GlobalFree(h);
    }
}

}  // namespace
