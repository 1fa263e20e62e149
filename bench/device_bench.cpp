// The PostScript road for a 12-megapixel CMYK image: one escape per pixel and
// one per line break, into the Linux platform layer's printer file (about
// 125 MB of PostScript), and the same records into a sink that only counts
// them, which shows what the road itself costs beside the driver.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "bench_support.h"
#include "device/device.h"

namespace {

using kelm3_bench::kBenchHeight;
using kelm3_bench::kBenchWidth;

HGLOBAL make_cmyk_image()
{
    HGLOBAL rgb = kelm3_bench::make_bench_image(32, 11);
    const size_t pixels = static_cast<size_t>(kBenchWidth) * kBenchHeight * 4;
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 108 + pixels);
    auto* out = static_cast<BYTE*>(GlobalLock(h));
    auto* in = static_cast<BYTE*>(GlobalLock(rgb));
    std::memset(out, 0, 108);
    std::memcpy(out, in, 40);
    out[0] = 108;
    out[56] = KELM3_CS_CMYK;
    std::memcpy(out + 108, in + 40, pixels);
    GlobalUnlock(rgb);
    GlobalUnlock(h);
    DIBFree(rgb);
    return h;
}

void BM_PostScriptRoadToPrinterFile(benchmark::State& state)
{
    HGLOBAL dib = make_cmyk_image();
    const std::string path = "/tmp/kelm3_bench_" + std::to_string(getpid()) + ".ps";
    kelm3_bench::time_against_memcpy(state, static_cast<size_t>(kBenchWidth) * kBenchHeight * 4, [&] {
        HDC printer = CreateDCA(nullptr, KELM3_PS_PRINTER, nullptr, nullptr);
        DOCINFOA doc{sizeof(DOCINFOA), "bench", path.c_str(), nullptr, 0};
        StartDocA(printer, &doc);
        StartPage(printer);
        StretchDIBBlt(printer, 0, 0, 612, 459, dib, 0, 0, kBenchWidth, kBenchHeight, SRCCOPY);
        EndPage(printer);
        EndDoc(printer);
        DeleteDC(printer);
    });
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f) {
        std::fseek(f, 0, SEEK_END);
        state.counters["file_MB"] = static_cast<double>(std::ftell(f)) / 1e6;
        std::fclose(f);
    }
    std::remove(path.c_str());
    DIBFree(dib);
}

struct CountingSink : kelm::PostScriptSink {
    size_t records = 0, bytes = 0;
    void send(const char* record, int length) override
    {
        ++records;
        bytes += static_cast<size_t>(length);
        benchmark::DoNotOptimize(record);
    }
};

void BM_PostScriptRecordsOnly(benchmark::State& state)
{
    HGLOBAL dib = make_cmyk_image();
    auto* p = static_cast<BYTE*>(GlobalLock(dib));
    CountingSink sink;
    kelm3_bench::time_against_memcpy(state, static_cast<size_t>(kBenchWidth) * kBenchHeight * 4, [&] {
        kelm::postscript_image(sink, p, POINT{0, 0}, POINT{612, 459}, 0, 0, kBenchWidth, kBenchHeight);
    });
    state.counters["escapes_per_call"] = static_cast<double>(sink.records) / static_cast<double>(state.iterations());
    GlobalUnlock(dib);
    DIBFree(dib);
}

}  // namespace

BENCHMARK(BM_PostScriptRoadToPrinterFile)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PostScriptRecordsOnly)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_MAIN();
