// DIBDetectBarCode on 12-megapixel images, rows and columns, every
// symbology: a white page with one EAN-13 and its add-on (a scanned label),
// and random pixels (the most runs a line can have).
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "../tests/support/barcode_model.h"

namespace {

constexpr DWORD kEverything = DBC_CODE39 | DBC_I2OF5 | DBC_EAN13 | DBC_EAN8 | DBC_EAN5_ADDON | DBC_EAN2_ADDON |
                              DBC_ROWS | DBC_COLUMNS;

// A white page at `bits` with an EAN-13 + 5 of 6-pixel modules across its
// middle third.
HGLOBAL make_label(WORD bits)
{
    using namespace kelm3_bench;
    HGLOBAL h = CreateDIB(kBenchWidth, kBenchHeight, bits, 0);
    const std::string modules = kelm_test::ean13_modules("4006381333931") + std::string(9, '0') +
                                kelm_test::addon5_modules("52495");
    std::vector<Rgbq16> white(kBenchWidth, Rgbq16{0xFFFF, 0xFFFF, 0xFFFF, 0});
    std::vector<Rgbq16> line = white;
    const size_t left = 1200;
    for (size_t i = 0; i < modules.size(); ++i)
        if (modules[i] == '1')
            for (size_t k = 0; k < 6; ++k)
                line[left + 6 * i + k] = Rgbq16{0, 0, 0, 0};
    LPTRDIB rw = RWOpenDIB(h);
    for (int y = 0; y < kBenchHeight; ++y)
        RWSetLineRGB16(rw, 0, y, kBenchWidth, (y > 1000 && y < 2000 ? line : white).data());
    RWClose(rw);
    return h;
}

void run(benchmark::State& state, HGLOBAL h, bool expectFound)
{
    char list[512];
    const size_t bytes = static_cast<size_t>(kelm3_bench::kBenchWidth) * kelm3_bench::kBenchHeight * 3;
    BOOL found = 0;
    kelm3_bench::time_against_memcpy(state, bytes, [&] {
        found = DIBDetectBarCode(h, nullptr, 0, list, sizeof list, kEverything, 0);
    });
    // What random pixels yield is reported, not an error: the 2-digit add-on
    // has only a parity check.
    std::string codes;
    for (const char* p = list; *p; p += std::strlen(p) + 1)
        codes += std::string(codes.empty() ? "" : "; ") + p;
    if ((found != 0) != expectFound)
        state.SetLabel("found: " + codes);
}

void BM_DetectLabel24(benchmark::State& state)
{
    HGLOBAL h = make_label(24);
    run(state, h, true);
    DIBFree(h);
}
BENCHMARK(BM_DetectLabel24)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_DetectLabel8(benchmark::State& state)
{
    HGLOBAL h = make_label(8);
    run(state, h, true);
    DIBFree(h);
}
BENCHMARK(BM_DetectLabel8)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_DetectRandom24(benchmark::State& state)
{
    HGLOBAL h = kelm3_bench::make_bench_image(24, 7);
    run(state, h, false);
    DIBFree(h);
}
BENCHMARK(BM_DetectRandom24)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
