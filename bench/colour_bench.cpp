// The colour operations on 4000 x 3000 images (random pixels: the worst case
// for the dithers' caches; the dithers also on a photo-like image), each reported in ms and as a ratio to memcpy of
// the 36,000,000 bytes of the 24-bit image in the same run, so every row is
// on one scale whatever the operation's own byte count. ScaleToGray runs on
// an A4 600 dpi bilevel scan (4960 x 7016) reduced to a quarter.
#include <benchmark/benchmark.h>


#include "bench_support.h"
#include "kelm3.h"

using namespace kelm3_bench;

namespace {

const size_t kReferenceBytes = static_cast<size_t>(kBenchWidth) * kBenchHeight * 3;

struct Image {
    HGLOBAL h;
    void* p;
    explicit Image(HGLOBAL handle) : h(handle), p(GlobalLock(handle)) {}
    ~Image()
    {
        GlobalUnlock(h);
        DIBFree(h);
    }
};

// The dithers of a 24-bit image, each timed as the caller sees it.
void dither_to_1(benchmark::State& state, HGLOBAL image)
{
    Image im(image);
    time_against_memcpy(state, kReferenceBytes, [&] { DIBFree(DitherTo1(im.p, nullptr)); });
}

void dither_to_8_cube(benchmark::State& state, HGLOBAL image)
{
    Image im(image);
    time_against_memcpy(state, kReferenceBytes, [&] { DIBFree(DitherTo8(im.p, 6, 0, nullptr)); });
}

void select_colours_then_dither(benchmark::State& state, HGLOBAL image)
{
    Image im(image);
    time_against_memcpy(state, kReferenceBytes, [&] {
        HGLOBAL pal = DIBSelectColors(im.h, 256);
        void* pp = GlobalLock(pal);
        DIBFree(DitherTo8(im.p, 0, 0, pp));
        GlobalUnlock(pal);
        DIBFree(pal);
    });
}

void BM_DitherTo1(benchmark::State& state) { dither_to_1(state, make_bench_image(24, 1)); }
void BM_DitherTo8Cube6(benchmark::State& state) { dither_to_8_cube(state, make_bench_image(24, 2)); }
void BM_SelectColors256ThenDitherTo8(benchmark::State& state)
{
    select_colours_then_dither(state, make_bench_image(24, 3));
}

// The same three on a photo-like image (see make_photo_image).
void BM_DitherTo1Photo(benchmark::State& state) { dither_to_1(state, make_photo_image(11)); }
void BM_DitherTo8Cube6Photo(benchmark::State& state) { dither_to_8_cube(state, make_photo_image(12)); }
void BM_SelectColors256ThenDitherTo8Photo(benchmark::State& state)
{
    select_colours_then_dither(state, make_photo_image(13));
}

void BM_SelectColors256(benchmark::State& state)
{
    Image im(make_bench_image(24, 3));
    time_against_memcpy(state, kReferenceBytes, [&] { DIBFree(DIBSelectColors(im.h, 256)); });
}

void BM_DitherTo4(benchmark::State& state)
{
    Image im(make_bench_image(24, 4));
    time_against_memcpy(state, kReferenceBytes, [&] { DIBFree(DitherTo4(im.p)); });
}

void BM_GrayDIB24(benchmark::State& state)
{
    HGLOBAL src = make_bench_image(24, 5);
    HGLOBAL copy = nullptr;
    time_with_setup(state, kReferenceBytes, [&] { copy = CopyHandle(src); }, [&] { DIBFree(GrayDIB(copy)); });
    DIBFree(src);
}

void BM_ConvertDIB24To32InPlace(benchmark::State& state)
{
    HGLOBAL src = make_bench_image(24, 6);
    HGLOBAL h = nullptr;
    time_with_setup(
        state, kReferenceBytes,
        [&] {
            DIBFree(h);
            h = CopyHandle(src);
        },
        [&] { ConvertDIB(&h, 32, 0); });
    DIBFree(h);
    DIBFree(src);
}

void BM_CreateSharpenedDIB(benchmark::State& state)
{
    Image im(make_bench_image(24, 7));
    time_against_memcpy(state, kReferenceBytes, [&] { DIBFree(CreateSharpenedDIB(im.h)); });
}

void BM_GammaCorrectionApplyToDIB(benchmark::State& state)
{
    Image im(make_bench_image(24, 8));
    BYTE table[256];
    GammaCorrectionGetArray(22000, 0, 0, table);
    time_against_memcpy(state, kReferenceBytes, [&] { GammaCorrectionApplyToDIB(im.h, 22000, 0, 0, table); });
}

void BM_ScaleToGrayA4Quarter(benchmark::State& state)
{
    Image im(make_bench_image(1, 9, true, 4960, 7016));
    time_against_memcpy(state, kReferenceBytes, [&] { DIBFree(ScaleToGray(im.h, 1240, 1754, nullptr, 0)); });
}

}  // namespace

BENCHMARK(BM_DitherTo1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DitherTo4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DitherTo8Cube6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SelectColors256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SelectColors256ThenDitherTo8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DitherTo1Photo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DitherTo8Cube6Photo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SelectColors256ThenDitherTo8Photo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GrayDIB24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertDIB24To32InPlace)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CreateSharpenedDIB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GammaCorrectionApplyToDIB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScaleToGrayA4Quarter)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
