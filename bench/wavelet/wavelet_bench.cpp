// Wavelet line kernels, scalar twin against SSE3, on the line lengths of the size
// classes (512-row columns, 1280-sample columns and rows, 2048-sample rows).
// Items are the samples of the line a call covers.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>

#include "core/control_word.h"
#include "core/core.h"
#include "wavelet/wavelet.h"

namespace {

// A 16-byte aligned float line of random video-scale values.
struct Line {
    explicit Line(int size, unsigned seed, float scale = 1000.0f)
        : data(static_cast<float *>(std::aligned_alloc(16, ((size * sizeof(float) + 15) / 16) * 16))) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
        for (int i = 0; i < size; ++i) data[i] = scale * unit(rng);
    }
    ~Line() { std::free(data); }
    Line(const Line &) = delete;
    Line &operator=(const Line &) = delete;
    float *data;
};

const WaveletKernels &table(bool simd) { return simd ? kSse3WaveletKernels : kScalarWaveletKernels; }

void finish(benchmark::State &state, int N) {
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * N);
}

template <bool Simd>
void BM_forwardLevel(benchmark::State &state) {
    const int N = static_cast<int>(state.range(0));
    ControlWordScope cw(kProcControlWord);
    Line src(N, 1), band(N, 2), h2(N, 3);
    auto kernel = table(Simd).forwardLevel;
    for (auto _ : state) {
        kernel(N, src.data, band.data, h2.data);
        benchmark::ClobberMemory();
    }
    finish(state, N);
}

template <bool Simd>
void BM_flatMask(benchmark::State &state) {
    const int N = static_cast<int>(state.range(0));
    ControlWordScope cw(kProcControlWord);
    // Details around the threshold, as in a flat area with noise.
    Line band(N, 4, 6.0f), h2(N, 5, 6.0f), mask(N, 6);
    auto kernel = table(Simd).flatMask;
    for (auto _ : state) {
        kernel(1, false, true, mask.data, N, band.data, h2.data, 4.0f);
        benchmark::ClobberMemory();
    }
    finish(state, N);
}

template <bool Simd>
void BM_coreBands(benchmark::State &state) {
    const int N = static_cast<int>(state.range(0));
    ControlWordScope cw(kProcControlWord);
    Line band(N, 7, 6.0f), h2(N, 8, 6.0f), mask(N, 9, 1.0f);
    for (int i = 0; i < N; ++i) mask.data[i] = mask.data[i] > 0.4f ? 1.0f : 0.0f;
    auto kernel = table(Simd).coreBands;
    for (auto _ : state) {
        kernel(N, band.data, h2.data, 2.0f, mask.data);
        benchmark::ClobberMemory();
    }
    finish(state, N);
}

template <bool Simd>
void BM_inverseLevel(benchmark::State &state) {
    const int N = static_cast<int>(state.range(0));
    ControlWordScope cw(kProcControlWord);
    Line band(N, 10), h2(N, 11), out(N, 12);
    auto kernel = table(Simd).inverseLevel;
    for (auto _ : state) {
        kernel(band.data, h2.data, N / 2, out.data);
        benchmark::ClobberMemory();
    }
    finish(state, N);
}

template <bool Simd>
void BM_mergeLowBand(benchmark::State &state) {
    const int N = static_cast<int>(state.range(0));
    ControlWordScope cw(kProcControlWord);
    Line band(N, 13), out(N / 2, 14);
    auto kernel = table(Simd).mergeLowBand;
    for (auto _ : state) {
        kernel(band.data, N / 2, out.data);
        benchmark::ClobberMemory();
    }
    finish(state, N);
}

template <bool Simd>
void BM_inverseD4(benchmark::State &state) {
    const int N = static_cast<int>(state.range(0));
    ControlWordScope cw(kProcControlWord);
    Line source(N, 15), out(N, 16);
    auto kernel = table(Simd).inverseD4;
    for (auto _ : state) {
        kernel(source.data, N / 2, out.data);
        benchmark::ClobberMemory();
    }
    finish(state, N);
}

// SSE3 kernels only where the processor has SSE3.
void registerAll() {
    const bool sse3 = detectCpuLevel() == 2;
    auto add = [&](const char *name, void (*scalar)(benchmark::State &),
                   void (*simd)(benchmark::State &)) {
        for (bool useSimd : {false, true}) {
            if (useSimd && !sse3) continue;
            std::string full = std::string(name) + (useSimd ? "Sse3" : "Scalar");
            benchmark::RegisterBenchmark(full.c_str(), useSimd ? simd : scalar)
                ->Arg(512)->Arg(1280)->Arg(2048);
        }
    };
    add("BM_forwardLevel", BM_forwardLevel<false>, BM_forwardLevel<true>);
    add("BM_flatMask", BM_flatMask<false>, BM_flatMask<true>);
    add("BM_coreBands", BM_coreBands<false>, BM_coreBands<true>);
    add("BM_inverseLevel", BM_inverseLevel<false>, BM_inverseLevel<true>);
    add("BM_mergeLowBand", BM_mergeLowBand<false>, BM_mergeLowBand<true>);
    add("BM_inverseD4", BM_inverseD4<false>, BM_inverseD4<true>);
}

const bool registered = (registerAll(), true);

}  // namespace
