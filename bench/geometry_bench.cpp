// Geometry on 4000 x 3000 images: right-angle turns (tiled copiers at 24, 8,
// 1 and 32 bits), a 45-degree turn (the incremental general path),
// stretching to 50% and 200% (the byte path), alpha blending, and the cost
// of the zero-filled pixel array that every new image now gets. Each figure
// is also given as a ratio to memcpy of the destination's pixel bytes,
// measured in the same run.
#include "bench_support.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

using namespace kelm3_bench;

namespace {

size_t pixel_bytes(HGLOBAL h)
{
    auto* p = static_cast<BYTE*>(GlobalLock(h));
    const auto* bi = reinterpret_cast<BITMAPINFOHEADER*>(p);
    const size_t n = size_t(bi->biSizeImage);
    GlobalUnlock(h);
    return n;
}

void rotate(benchmark::State& state, WORD bits, int angle)
{
    HGLOBAL src = make_bench_image(bits, 1, true);
    HGLOBAL probe = RotateDIB(src, angle, 0);
    const size_t bytes = pixel_bytes(probe);
    DIBFree(probe);
    time_against_memcpy(state, bytes, [&] {
        HGLOBAL r = RotateDIB(src, angle, 0);
        benchmark::DoNotOptimize(r);
        DIBFree(r);
    });
    DIBFree(src);
}

void stretch(benchmark::State& state, WORD bits, LONG w, LONG h)
{
    HGLOBAL src = make_bench_image(bits, 2, true);
    time_against_memcpy(state, size_t(((w * bits + 31) / 32) * 4) * size_t(h), [&] {
        HGLOBAL r = StretchDIB(src, w, h, nullptr);
        benchmark::DoNotOptimize(r);
        DIBFree(r);
    });
    DIBFree(src);
}

// A 32-bit source with an alpha channel: a 108-byte header with alpha mask
// 0xFF000000 and colour-space type 1 over random pixels.
HGLOBAL alpha_image()
{
    const size_t pixels = size_t(kBenchWidth) * kBenchHeight * 4;
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 108 + pixels);
    auto* p = static_cast<BYTE*>(GlobalLock(h));
    BITMAPINFOHEADER bi{};
    bi.biSize = 108;
    bi.biWidth = kBenchWidth;
    bi.biHeight = kBenchHeight;
    bi.biPlanes = 1;
    bi.biBitCount = 32;
    std::memcpy(p, &bi, sizeof bi);
    const DWORD mask = 0xFF000000u, cs = 1;
    std::memcpy(p + 52, &mask, 4);
    std::memcpy(p + 56, &cs, 4);
    fill_random(p + 108, pixels, 3);
    GlobalUnlock(h);
    return h;
}

void BM_RotateDIB_900_24(benchmark::State& s) { rotate(s, 24, 900); }
void BM_RotateDIB_900_8(benchmark::State& s) { rotate(s, 8, 900); }
void BM_RotateDIB_900_1(benchmark::State& s) { rotate(s, 1, 900); }
void BM_RotateDIB_900_32(benchmark::State& s) { rotate(s, 32, 900); }
void BM_RotateDIB_2700_24(benchmark::State& s) { rotate(s, 24, 2700); }
void BM_RotateDIB_1800_24(benchmark::State& s) { rotate(s, 24, 1800); }
void BM_RotateDIB_450_24(benchmark::State& s) { rotate(s, 24, 450); }
void BM_RotateDIB_450_8(benchmark::State& s) { rotate(s, 8, 450); }
void BM_StretchDIB_50_24(benchmark::State& s) { stretch(s, 24, kBenchWidth / 2, kBenchHeight / 2); }
void BM_StretchDIB_200_24(benchmark::State& s) { stretch(s, 24, kBenchWidth * 2, kBenchHeight * 2); }

void BM_DIBAlphaBlend_32alpha_over_24(benchmark::State& state)
{
    HGLOBAL src = alpha_image();
    HGLOBAL dst = make_bench_image(24, 4);
    time_against_memcpy(state, pixel_bytes(dst), [&] {
        DIBAlphaBlend(dst, 0, 0, kBenchWidth, kBenchHeight, src, 0, 0, kBenchWidth, kBenchHeight, 200);
    });
    state.counters["Mpixel_per_s"] = benchmark::Counter(double(kBenchWidth) * kBenchHeight * double(state.iterations()) / 1e6,
                                                        benchmark::Counter::kIsRate);
    DIBFree(dst);
    DIBFree(src);
}

// The price of zero-filled new images: a 24-bit 4000 x 3000 image made and
// every pixel byte written once, with the zero fill (CreateCompatibleDIB)
// and without it (CreateDIB with KELM3_CREATE_NOZERO).
void new_image(benchmark::State& state, bool zero)
{
    HGLOBAL proto = make_bench_image(24, 5);
    const size_t bytes = pixel_bytes(proto);
    time_against_memcpy(state, bytes, [&] {
        HGLOBAL h = zero ? CreateCompatibleDIB(proto, kBenchWidth, kBenchHeight)
                         : CreateDIB(kBenchWidth, kBenchHeight, 24, KELM3_CREATE_NOZERO);
        auto* p = static_cast<BYTE*>(GlobalLock(h));
        std::memset(p + 40, 0x5A, bytes);
        benchmark::DoNotOptimize(p);
        GlobalUnlock(h);
        DIBFree(h);
    });
    DIBFree(proto);
}
void BM_NewImage_Zeroed_ThenWritten(benchmark::State& s) { new_image(s, true); }
void BM_NewImage_NotZeroed_ThenWritten(benchmark::State& s) { new_image(s, false); }

}  // namespace

BENCHMARK(BM_RotateDIB_900_24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RotateDIB_900_8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RotateDIB_900_1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RotateDIB_900_32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RotateDIB_2700_24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RotateDIB_1800_24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RotateDIB_450_24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RotateDIB_450_8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StretchDIB_50_24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StretchDIB_200_24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DIBAlphaBlend_32alpha_over_24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NewImage_Zeroed_ThenWritten)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NewImage_NotZeroed_ThenWritten)->Unit(benchmark::kMillisecond);
// glibc hands blocks above 32 MB straight to mmap and back on free, so every
// new 36 MB image would be fresh pages and the figure would mostly be the
// system's page-fault cost (on a loaded virtual machine, over 200 ms for
// 36 MB). Keeping big blocks in the heap times the operation itself, with
// the zero fill of new images then a real memset.
int main(int argc, char** argv)
{
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
#endif
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
