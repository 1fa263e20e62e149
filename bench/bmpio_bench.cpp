// BMP input and output against the system calls underneath: loading and
// saving a 24-bit 4000 x 3000 file next to plain read() and write() of the
// same bytes in the same run (the goal is within 1.1x), and RLE8 decoding
// throughput through DIBFromRle and through the bare decoder.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bmpio/bmpio.h"
#include "kelm3.h"

namespace {

constexpr LONG kWidth = 4000, kHeight = 3000;

// The fastest of the repetitions: on a shared machine the other statistics
// mostly measure the neighbours.
double fastest(const std::vector<double>& v)
{
    return *std::min_element(v.begin(), v.end());
}

std::string bench_path(const char* name)
{
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/" + name;
}

// A 24-bit image with varied pixels, made once.
HGLOBAL picture()
{
    static HGLOBAL h = [] {
        HGLOBAL d = CreateDIB(kWidth, kHeight, 24, 0);
        BYTE* p = static_cast<BYTE*>(GlobalLock(d));
        BYTE* bits = p + 40;
        const size_t stride = ((kWidth * 24 + 31) / 32) * 4;
        for (LONG y = 0; y < kHeight; ++y)
            for (LONG x = 0; x < kWidth * 3; ++x)
                bits[y * stride + x] = static_cast<BYTE>(x * 7 + y * 3);
        GlobalUnlock(d);
        return d;
    }();
    return h;
}

size_t saved_file_size()
{
    static size_t n = 14 + GlobalSize(picture());
    return n;
}

// The picture saved once as a BMP file for the load benchmarks.
const std::string& saved_file()
{
    static const std::string path = [] {
        std::string p = bench_path("kelm3-bench-24.bmp");
        SaveDIBToFile(p.c_str(), picture());
        return p;
    }();
    return path;
}

void BM_LoadDIBFromFile24(benchmark::State& state)
{
    const std::string& path = saved_file();
    for (auto _ : state) {
        HGLOBAL d = LoadDIBFromFile(path.c_str());
        if (!d)
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(d);
        DIBFree(d);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * saved_file_size()));
}
BENCHMARK(BM_LoadDIBFromFile24)->Unit(benchmark::kMillisecond)->UseRealTime()->ComputeStatistics("min", fastest);

void BM_PlainRead24(benchmark::State& state)
{
    const std::string& path = saved_file();
    const size_t n = saved_file_size();
    for (auto _ : state) {
        std::unique_ptr<char[]> buffer(new char[n]);
        const int fd = ::open(path.c_str(), O_RDONLY);
        size_t done = 0;
        while (done < n) {
            const ssize_t got = ::read(fd, buffer.get() + done, n - done);
            if (got <= 0)
                break;
            done += static_cast<size_t>(got);
        }
        ::close(fd);
        benchmark::DoNotOptimize(buffer.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}
BENCHMARK(BM_PlainRead24)->Unit(benchmark::kMillisecond)->UseRealTime()->ComputeStatistics("min", fastest);

void BM_SaveDIBToFile24(benchmark::State& state)
{
    const std::string path = bench_path("kelm3-bench-save.bmp");
    for (auto _ : state)
        if (!SaveDIBToFile(path.c_str(), picture()))
            state.SkipWithError("save failed");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * saved_file_size()));
    std::remove(path.c_str());
}
BENCHMARK(BM_SaveDIBToFile24)->Unit(benchmark::kMillisecond)->UseRealTime()->ComputeStatistics("min", fastest);

void BM_PlainWrite24(benchmark::State& state)
{
    const std::string path = bench_path("kelm3-bench-write.bmp");
    const size_t n = saved_file_size();
    const BYTE* block = static_cast<const BYTE*>(GlobalLock(picture()));
    BYTE header[14] = {'B', 'M'};
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (::write(fd, header, 14) != 14 || ::write(fd, block, n - 14) != static_cast<ssize_t>(n - 14))
            state.SkipWithError("write failed");
        ::close(fd);
    }
    GlobalUnlock(picture());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
    std::remove(path.c_str());
}
BENCHMARK(BM_PlainWrite24)->Unit(benchmark::kMillisecond)->UseRealTime()->ComputeStatistics("min", fastest);

// An RLE8 stream of a 4000 x 3000 picture with the mix a real encoder gives:
// per row, runs of 1 to 40 bytes alternating with absolute runs of 3 to 20.
std::vector<BYTE> rle8_stream()
{
    std::vector<BYTE> s;
    unsigned seed = 12345;
    auto next = [&] { return seed = seed * 1103515245 + 12345, (seed >> 16) & 0x7FFF; };
    for (LONG y = 0; y < kHeight; ++y) {
        LONG x = 0;
        while (x < kWidth) {
            if (next() % 2) {
                const LONG n = std::min<LONG>(1 + next() % 40, kWidth - x);
                s.push_back(static_cast<BYTE>(n));
                s.push_back(static_cast<BYTE>(next()));
                x += n;
            } else {
                LONG n = std::min<LONG>(3 + next() % 18, kWidth - x);
                if (n < 3) {
                    s.push_back(static_cast<BYTE>(n));
                    s.push_back(0);
                    x += n;
                    continue;
                }
                s.push_back(0);
                s.push_back(static_cast<BYTE>(n));
                for (LONG i = 0; i < n; ++i)
                    s.push_back(static_cast<BYTE>(next()));
                if (n % 2)
                    s.push_back(0);
                x += n;
            }
        }
        s.push_back(0);
        s.push_back(0);
    }
    s.push_back(0);
    s.push_back(1);
    return s;
}

void BM_DIBFromRle8(benchmark::State& state)
{
    const std::vector<BYTE> codes = rle8_stream();
    HGLOBAL src = GlobalAlloc(GHND, 40 + 1024 + codes.size());
    BYTE* p = static_cast<BYTE*>(GlobalLock(src));
    BITMAPINFOHEADER bi{};
    bi.biSize = 40;
    bi.biWidth = kWidth;
    bi.biHeight = kHeight;
    bi.biPlanes = 1;
    bi.biBitCount = 8;
    bi.biCompression = BI_RLE8;
    bi.biSizeImage = static_cast<DWORD>(codes.size());
    std::memcpy(p, &bi, sizeof bi);
    std::memcpy(p + 40 + 1024, codes.data(), codes.size());
    GlobalUnlock(src);
    for (auto _ : state) {
        HGLOBAL d = DIBFromRle(src);
        if (!d)
            state.SkipWithError("decode failed");
        DIBFree(d);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kWidth * kHeight);
    state.counters["codes_MB"] = static_cast<double>(codes.size()) / 1e6;
    DIBFree(src);
}
BENCHMARK(BM_DIBFromRle8)->Unit(benchmark::kMillisecond)->UseRealTime()->ComputeStatistics("min", fastest);

void BM_DecodeRle8Bare(benchmark::State& state)
{
    const std::vector<BYTE> codes = rle8_stream();
    std::vector<BYTE> target(static_cast<size_t>(kWidth) * kHeight);
    for (auto _ : state) {
        benchmark::DoNotOptimize(kelm::decode_rle8(codes, target, kWidth));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kWidth * kHeight);
}
BENCHMARK(BM_DecodeRle8Bare)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", fastest);

}  // namespace

BENCHMARK_MAIN();
