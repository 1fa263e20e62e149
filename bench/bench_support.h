// Shared pieces of the benchmarks: test images of the size users work with,
// and timing an operation beside memcpy of the same bytes in the same run, so
// that figures from different machines can be compared by their ratio.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "kelm3.h"

namespace kelm3_bench {

// The benchmark size of the image operations: a 12-megapixel photo or scan.
constexpr LONG kBenchWidth = 4000;
constexpr LONG kBenchHeight = 3000;

inline void fill_random(BYTE* p, size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const uint32_t v = rng();
        std::memcpy(p + i, &v, 4);
    }
    for (; i < n; ++i)
        p[i] = static_cast<BYTE>(rng());
}

// Best time of a few memcpy runs of `bytes` between two buffers, in ms. The
// buffers are touched first so that page faults are not timed.
inline double memcpy_ms(size_t bytes)
{
    std::vector<unsigned char> a(bytes, 1), b(bytes, 0);
    double best = 1e30;
    for (int run = 0; run < 7; ++run) {
        const auto t0 = std::chrono::steady_clock::now();
        std::memcpy(b.data(), a.data(), bytes);
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
        const auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    return best;
}

// Sets the counters every benchmark reports beside Google Benchmark's own
// figures: "ms" (mean per call over n calls taking totalMs), "memcpy_ms"
// (memcpy of `bytes`, measured now) and "x_memcpy" (their ratio).
inline void report_against_memcpy(benchmark::State& state, double totalMs, int64_t n, size_t bytes)
{
    const double ms = n ? totalMs / static_cast<double>(n) : 0;
    const double base = memcpy_ms(bytes);
    state.counters["ms"] = ms;
    state.counters["memcpy_ms"] = base;
    state.counters["x_memcpy"] = base > 0 ? ms / base : 0;
}

// Runs `op` once per iteration and reports it against memcpy of `bytes`, the
// operation's natural reference: usually the destination's pixel bytes.
template <class Op>
void time_against_memcpy(benchmark::State& state, size_t bytes, Op&& op)
{
    double total = 0;
    int64_t n = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        op();
        const auto t1 = std::chrono::steady_clock::now();
        total += std::chrono::duration<double, std::milli>(t1 - t0).count();
        ++n;
    }
    report_against_memcpy(state, total, n, bytes);
}

// The same with an untimed `setup` before each timed call (for operations
// that consume or change their argument).
template <class Setup, class Op>
void time_with_setup(benchmark::State& state, size_t bytes, Setup&& setup, Op&& op)
{
    double total = 0;
    int64_t n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        setup();
        state.ResumeTiming();
        const auto t0 = std::chrono::steady_clock::now();
        op();
        const auto t1 = std::chrono::steady_clock::now();
        total += std::chrono::duration<double, std::milli>(t1 - t0).count();
        ++n;
    }
    report_against_memcpy(state, total, n, bytes);
}

// A bottom-up image of the benchmark size made by CreateDIB, its pixel bytes
// random (and its table, if any, random too unless `keepTable`).
inline HGLOBAL make_bench_image(WORD bits, unsigned seed, bool keepTable = false,
                                LONG width = kBenchWidth, LONG height = kBenchHeight)
{
    HGLOBAL h = CreateDIB(width, height, bits, KELM3_CREATE_NOZERO);
    if (!h)
        return nullptr;
    auto* p = static_cast<BYTE*>(GlobalLock(h));
    auto* bi = reinterpret_cast<BITMAPINFOHEADER*>(p);
    const DWORD colours = DIBNumPaletteColors(p);
    BYTE* table = p + bi->biSize;
    if (!keepTable && colours)
        fill_random(table, colours * 4u, seed ^ 0x5A5Au);
    const size_t stride = ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
    fill_random(table + colours * 4u, stride * static_cast<size_t>(height), seed);
    GlobalUnlock(h);
    return h;
}

// A 24-bit image of the benchmark size that behaves like a photograph for
// the operations whose caches depend on the colours met: smooth shading from
// a few broad waves per channel, edges where they cross, and a little sensor
// noise. Random pixels are the worst case for those caches; this is the
// ordinary one.
inline HGLOBAL make_photo_image(unsigned seed, LONG width = kBenchWidth, LONG height = kBenchHeight)
{
    HGLOBAL h = CreateDIB(width, height, 24, KELM3_CREATE_NOZERO);
    if (!h)
        return nullptr;
    auto* p = static_cast<BYTE*>(GlobalLock(h));
    auto* bi = reinterpret_cast<BITMAPINFOHEADER*>(p);
    BYTE* px = p + bi->biSize;
    const size_t stride = ((static_cast<size_t>(width) * 24 + 31) / 32) * 4;
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    double fx[3][3], fy[3][3], ph[3][3];
    for (int c = 0; c < 3; ++c)
        for (int k = 0; k < 3; ++k) {
            fx[c][k] = (1 + 6 * u(rng)) * 6.2832 / width;
            fy[c][k] = (1 + 6 * u(rng)) * 6.2832 / height;
            ph[c][k] = 6.2832 * u(rng);
        }
    std::vector<double> wave(static_cast<size_t>(width) * 9);
    for (LONG x = 0; x < width; ++x)
        for (int i = 0; i < 9; ++i)
            wave[static_cast<size_t>(x) * 9 + i] = fx[i / 3][i % 3] * x;
    for (LONG y = 0; y < height; ++y) {
        BYTE* row = px + stride * static_cast<size_t>(y);
        for (LONG x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                double v = 0;
                for (int k = 0; k < 3; ++k)
                    v += std::sin(wave[static_cast<size_t>(x) * 9 + c * 3 + k] + fy[c][k] * y + ph[c][k]);
                const int noise = static_cast<int>(rng() % 9) - 4;
                row[x * 3 + c] = static_cast<BYTE>(std::clamp(static_cast<int>(128 + 40 * v) + noise, 0, 255));
            }
    }
    GlobalUnlock(h);
    return h;
}

}  // namespace kelm3_bench
