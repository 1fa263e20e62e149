// Throughput of the pixel accessor: whole-row RWGetLineRGB16/RWSetLineRGB16 per
// layout, the specialised line routines beside the per-pixel path they replace,
// and the nearest-colour search with a warm cache against the bare table scan.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "kelm3.h"
#include "pixel/pixel.h"

namespace {

constexpr LONG kWidth = 1024;
constexpr LONG kHeight = 64;

enum Layout { kBits1, kBits4, kBits8Default, kBits8Random, kBits16, kBits16Fields, kBits24, kBits32, kBits32Cmyk,
              kPlane8, kPlane24, kPlane32 };

const char* const kNames[] = {"1bit_bw", "4bit_std16", "8bit_default", "8bit_random_palette", "16bit_555",
                              "16bit_565_fields", "24bit", "32bit", "32bit_cmyk", "plane8", "plane24", "plane32"};

void fill_random(BYTE* p, size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    for (size_t i = 0; i < n; ++i)
        p[i] = static_cast<BYTE>(rng());
}

// A block with a hand-made header, for the layouts CreateDIB does not make.
HGLOBAL make_raw(DWORD headerSize, WORD bits, DWORD compression, const DWORD* masks, bool cmyk)
{
    const size_t stride = ((kWidth * bits + 31) / 32) * 4;
    const size_t maskBytes = masks ? 12 : 0;
    const size_t total = headerSize + maskBytes + stride * kHeight;
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, total);
    BYTE* p = static_cast<BYTE*>(GlobalLock(h));
    BITMAPINFOHEADER bi{};
    bi.biSize = headerSize;
    bi.biWidth = kWidth;
    bi.biHeight = kHeight;
    bi.biPlanes = 1;
    bi.biBitCount = bits;
    bi.biCompression = compression;
    std::memcpy(p, &bi, sizeof bi);
    if (cmyk)
        p[56] = 2;
    if (masks)
        std::memcpy(p + headerSize, masks, 12);
    fill_random(p + headerSize + maskBytes, stride * kHeight, 7);
    GlobalUnlock(h);
    return h;
}

HGLOBAL make_image(Layout l)
{
    static const DWORD k565[3] = {0xF800, 0x07E0, 0x001F};
    switch (l) {
    case kBits16Fields: return make_raw(40, 16, BI_BITFIELDS, k565, false);
    case kBits32Cmyk: return make_raw(108, 32, BI_RGB, nullptr, true);
    default: break;
    }
    static const struct {
        UINT bits;
        int flags;
    } made[] = {{1, 0}, {4, 0}, {8, 0}, {8, 0}, {16, 0}, {0, 0}, {24, 0}, {32, 0}, {0, 0}, {8, 2}, {24, 2}, {32, 2}};
    HGLOBAL h = CreateDIB(kWidth, kHeight, made[l].bits, made[l].flags);
    BYTE* p = static_cast<BYTE*>(GlobalLock(h));
    BITMAPINFOHEADER bi;
    std::memcpy(&bi, p, sizeof bi);
    const size_t table = 4 * static_cast<size_t>(bi.biClrUsed);
    if (l == kBits8Random)
        fill_random(p + 40, table, 3);
    fill_random(p + 40 + table, bi.biSizeImage, 5);
    GlobalUnlock(h);
    return h;
}

// Pixels per second (shown as M/s or G/s): `perIteration` pixels a loop.
benchmark::Counter pixel_rate(const benchmark::State& state, double perIteration)
{
    return benchmark::Counter(static_cast<double>(state.iterations()) * perIteration, benchmark::Counter::kIsRate);
}

// Whole rows through the export, one row per iteration.
void BM_GetLine(benchmark::State& state)
{
    const Layout l = static_cast<Layout>(state.range(0));
    HGLOBAL h = make_image(l);
    LPTRDIB rw = RWOpenDIB(h);
    std::vector<Rgbq16> line(kWidth);
    int y = 0;
    for (auto _ : state) {
        RWGetLineRGB16(rw, 0, y, kWidth, line.data());
        benchmark::DoNotOptimize(line.data());
        y = (y + 1) % kHeight;
    }
    state.counters["pixels"] = pixel_rate(state, kWidth);
    state.SetLabel(kNames[l]);
    RWClose(rw);
    GlobalFree(h);
}

void BM_SetLine(benchmark::State& state)
{
    const Layout l = static_cast<Layout>(state.range(0));
    HGLOBAL h = make_image(l);
    LPTRDIB rw = RWOpenDIB(h);
    // Rows read from the image itself: realistic colours, and for palette
    // layouts a mix of cached and fresh nearest-colour searches.
    std::vector<Rgbq16> rows(static_cast<size_t>(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y)
        RWGetLineRGB16(rw, 0, y, kWidth, &rows[static_cast<size_t>(y) * kWidth]);
    int y = 0;
    for (auto _ : state) {
        RWSetLineRGB16(rw, 0, y, kWidth, &rows[static_cast<size_t>(y) * kWidth]);
        benchmark::ClobberMemory();
        y = (y + 1) % kHeight;
    }
    state.counters["pixels"] = pixel_rate(state, kWidth);
    state.SetLabel(kNames[l]);
    RWClose(rw);
    GlobalFree(h);
}

// The plain per-pixel line path (two indirect calls per pixel) on the same
// layouts, to show what the specialised line routines save.
void BM_GetLineGeneric(benchmark::State& state)
{
    const Layout l = static_cast<Layout>(state.range(0));
    HGLOBAL h = make_image(l);
    LPTRDIB rw = RWOpenDIB(h);
    std::vector<Rgbq16> line(kWidth);
    int y = 0;
    for (auto _ : state) {
        kelm::generic_get_line(rw, 0, y, kWidth, line.data());
        benchmark::DoNotOptimize(line.data());
        y = (y + 1) % kHeight;
    }
    state.counters["pixels"] = pixel_rate(state, kWidth);
    state.SetLabel(kNames[l]);
    RWClose(rw);
    GlobalFree(h);
}

// Random colours, 4096 of them: few enough that a warm cache holds them all.
std::vector<DWORD> probe_colours()
{
    std::mt19937 rng(11);
    std::vector<DWORD> v(4096);
    for (DWORD& c : v)
        c = rng() & 0xFFFFFF;
    return v;
}

// RWSetPixel on an 8-bit image with an arbitrary palette: every call runs
// the nearest-colour search, here always answered from the warm cache.
void BM_SetPixelNearestWarm(benchmark::State& state)
{
    HGLOBAL h = make_image(kBits8Random);
    LPTRDIB rw = RWOpenDIB(h);
    const std::vector<DWORD> colours = probe_colours();
    for (size_t i = 0; i < colours.size(); ++i)
        RWSetPixel(rw, static_cast<int>(i % kWidth), 0, colours[i]);
    size_t i = 0;
    for (auto _ : state) {
        RWSetPixel(rw, static_cast<int>(i % kWidth), 1, colours[i % colours.size()]);
        ++i;
    }
    state.counters["pixels"] = pixel_rate(state, 1);
    RWClose(rw);
    GlobalFree(h);
}

// The same searches without the cache: the 256-entry scan every time.
void BM_NearestUncached(benchmark::State& state)
{
    HGLOBAL h = make_image(kBits8Random);
    LPTRDIB rw = RWOpenDIB(h);
    const std::vector<DWORD> colours = probe_colours();
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(kelm::scan_palette(rw, colours[i % colours.size()]));
        ++i;
    }
    state.counters["pixels"] = pixel_rate(state, 1);
    RWClose(rw);
    GlobalFree(h);
}

// The cached search alone, without the export around it.
void BM_NearestWarm(benchmark::State& state)
{
    HGLOBAL h = make_image(kBits8Random);
    LPTRDIB rw = RWOpenDIB(h);
    const std::vector<DWORD> colours = probe_colours();
    for (DWORD c : colours)
        kelm::nearest_colour(rw, c);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(kelm::nearest_colour(rw, colours[i % colours.size()]));
        ++i;
    }
    state.counters["pixels"] = pixel_rate(state, 1);
    RWClose(rw);
    GlobalFree(h);
}

}  // namespace

BENCHMARK(BM_GetLine)->DenseRange(kBits1, kPlane32);
BENCHMARK(BM_SetLine)->DenseRange(kBits1, kPlane32);
BENCHMARK(BM_GetLineGeneric)->Arg(kBits1)->Arg(kBits24)->Arg(kBits32)->Arg(kPlane8)->Arg(kPlane24);
BENCHMARK(BM_SetPixelNearestWarm);
BENCHMARK(BM_NearestWarm);
BENCHMARK(BM_NearestUncached);

BENCHMARK_MAIN();
