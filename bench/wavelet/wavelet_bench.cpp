// The wavelet kernels the stages run, scalar twin beside SSE2 beside AVX2, on the
// line lengths of the size classes (512-row columns, 1280-sample columns and rows,
// 2048-sample rows). Each octet kernel's call covers eight lines side by side;
// items are the samples of the eight lines it covers.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "core/control_word.h"
#include "core/core.h"
#include "wavelet/wavelet.h"

namespace {

constexpr int kLanes = 8;

// An octet line of `positions` positions of random video-scale values, 32-byte
// aligned as the octet scratch is.
struct Octet {
    explicit Octet(int positions, unsigned seed, float scale = 1000.0f)
        : data(static_cast<float *>(std::aligned_alloc(32, ((positions * kLanes * sizeof(float) + 31) / 32) * 32))) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
        for (int i = 0; i < positions * kLanes; ++i) data[i] = scale * unit(rng);
    }
    ~Octet() { std::free(data); }
    Octet(const Octet &) = delete;
    Octet &operator=(const Octet &) = delete;
    float *data;
};

void finish(benchmark::State &state, int N) {
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * N * kLanes);
}

void BM_forwardOctets(benchmark::State &state, const WaveletKernels *k) {
    const int N = static_cast<int>(state.range(0));
    ControlWordScope cw(kProcControlWord);
    Octet src(N, 1), band(N, 2), h2(N, 3);
    for (auto _ : state) {
        k->forwardOctets(N, src.data, band.data, h2.data);
        benchmark::ClobberMemory();
    }
    finish(state, N);
}

void BM_shrinkOctets(benchmark::State &state, const WaveletKernels *k) {
    const int N = static_cast<int>(state.range(0));
    ControlWordScope cw(kProcControlWord);
    // Details around the thresholds, as in a flat area with noise; luma outside anime mode.
    Octet band(N, 4, 6.0f), h2(N, 5, 6.0f);
    for (auto _ : state) {
        k->shrinkOctets(N / 2, band.data, h2.data, 4.0f, 2.0f, 0.4f);
        benchmark::ClobberMemory();
    }
    finish(state, N);
}

void BM_inverseOctets(benchmark::State &state, const WaveletKernels *k) {
    const int N = static_cast<int>(state.range(0));
    ControlWordScope cw(kProcControlWord);
    Octet band(N, 10), h2(N, 11), out(N, 12);
    for (auto _ : state) {
        k->inverseOctets(band.data, h2.data, N / 2, out.data);
        benchmark::ClobberMemory();
    }
    finish(state, N);
}

void BM_mergeLowBandOctets(benchmark::State &state, const WaveletKernels *k) {
    const int N = static_cast<int>(state.range(0));
    ControlWordScope cw(kProcControlWord);
    Octet band(N, 13), out(N / 2, 14);
    for (auto _ : state) {
        k->mergeLowBandOctets(band.data, N / 2, out.data, kLanes);
        benchmark::ClobberMemory();
    }
    finish(state, N);
}

// The luma output's last vertical level: one pair of plane rows of N positions
// from four band rows, straight to samples (items: the 2N samples).
void BM_synthesizeRowPair(benchmark::State &state, const WaveletKernels *k) {
    const int N = static_cast<int>(state.range(0));
    ControlWordScope cw(kProcControlWord);
    Octet bands(N / 2, 15);  // four rows of N positions
    std::vector<std::int16_t> samples(2 * N);
    const float *rows = bands.data;
    for (auto _ : state) {
        k->synthesizeRowPair(rows, rows + N, rows + 2 * N, rows + 3 * N, N, samples.data(), samples.data() + N, true,
                             true);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 2 * N);
}

// Each kernel for every table this processor runs, side by side: BM_forwardOctetsScalar,
// BM_forwardOctetsSse2, BM_forwardOctetsAvx2, ...
void registerAll() {
    std::vector<std::pair<const char *, const WaveletKernels *>> tables = {{"Scalar", &kWaveletScalar}};
    if (detectCpuLevel() == 2) {
        tables.push_back({"Sse2", &kWaveletSse2});
        if (cpuHasAvx2()) tables.push_back({"Avx2", &kWaveletAvx2});
    }
    const std::pair<const char *, void (*)(benchmark::State &, const WaveletKernels *)> kernels[] = {
        {"BM_forwardOctets", BM_forwardOctets},           {"BM_shrinkOctets", BM_shrinkOctets},
        {"BM_inverseOctets", BM_inverseOctets},           {"BM_mergeLowBandOctets", BM_mergeLowBandOctets},
        {"BM_synthesizeRowPair", BM_synthesizeRowPair},
    };
    for (const auto &[name, run] : kernels)
        for (const auto &[isa, table] : tables)
            benchmark::RegisterBenchmark((std::string(name) + isa).c_str(), run, table)
                ->Arg(512)->Arg(1280)->Arg(2048);
}

const bool registered = (registerAll(), true);

}  // namespace
