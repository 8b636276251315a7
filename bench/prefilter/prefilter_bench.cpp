// Times the block and mosquito passes over whole frames, the scalar twin beside
// the SSE2 and AVX2 kernels, at the two common frame sizes (1080 lines are
// processed as 1088).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "abi/host_api.h"
#include "core/control_word.h"
#include "core/core.h"
#include "prefilter/prefilter.h"

namespace {

// A softly textured picture with blocks and noise, moving one pixel a frame, so
// that both passes find candidates in some places and none in others.
std::vector<PIXEL_YC> makeFrame(int w, int h, int shift, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 10.0);
    std::vector<PIXEL_YC> frame(static_cast<std::size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double u = x + shift;
            const double luma = 2000 + 700 * std::sin(u * 0.03) * std::cos(y * 0.02) +
                                200 * ((static_cast<int>(u) / 8 + y / 8) % 3) + noise(rng);
            frame[static_cast<std::size_t>(y) * w + x] = {
                static_cast<std::int16_t>(luma), static_cast<std::int16_t>(200 * std::sin(u * 0.01) + noise(rng) / 2),
                static_cast<std::int16_t>(-150 * std::cos(y * 0.015) + noise(rng) / 2)};
        }
    return frame;
}

struct Frames {
    int w, h;
    std::vector<PIXEL_YC> prev, cur, next, edit, temp;
    FILTER_PROC_INFO fpip{};

    Frames(int width, int height)
        : w(width), h(height), prev(makeFrame(w, h, -1, 1)), cur(makeFrame(w, h, 0, 2)),
          next(makeFrame(w, h, 1, 3)), edit(cur.size()), temp(cur.size()) {
        fpip.ycp_edit = edit.data();
        fpip.ycp_temp = temp.data();
        fpip.w = w;
        fpip.h = h;
        fpip.max_w = w;
        fpip.max_h = h;
    }
};

bool skipWithoutAvx2(benchmark::State &state, bool avx2) {
    if (!avx2 || cpuHasAvx2()) return false;
    state.SkipWithError("this processor or system does not run AVX2");
    return true;
}

// The AVX2 kernels keep their rows in thread 0's octet scratch of the 1920 x 1088
// class's buffers, as in the filter; made once for every benchmark here.
WorkBuffers benchBuffers{};
bool buffersMade = false;

bool haveBuffers(benchmark::State &state) {
    if (buffersMade || (buffersMade = allocateWorkBuffers(benchBuffers, {2048, 1280}))) return true;
    state.SkipWithError("no working buffers");
    return false;
}

PrepassScratch threadScratch() {
    return {octetScratch(benchBuffers, 0), workBufferSizes(benchBuffers.planes).scratchOctets - 32};
}

void runBlock(benchmark::State &state, BlockNrRowsFn kernel, bool avx2 = false) {
    if (skipWithoutAvx2(state, avx2) || !haveBuffers(state)) return;
    Frames f(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    ControlWordScope cw(kProcControlWord);
    for (auto _ : state) {
        kernel(0, f.h, 2, &f.fpip, f.cur.data(), 8 * 5, 16 * 5, false, threadScratch());
        benchmark::DoNotOptimize(f.edit.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * f.w * f.h);
}

void runMosquito(benchmark::State &state, MosquitoNrRowsFn kernel, bool avx2 = false) {
    if (skipWithoutAvx2(state, avx2) || !haveBuffers(state)) return;
    Frames f(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const int strengthC = (f.w > 720 ? 90 : 8) * 5;
    for (auto _ : state) {
        kernel(f.cur.data(), f.prev.data(), &f.fpip, f.next.data(), 2, strengthC, 0, f.h, threadScratch());
        benchmark::DoNotOptimize(f.temp.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * f.w * f.h);
}

void BM_blockNrRowsScalar(benchmark::State &state) { runBlock(state, &blockNrRowsScalar); }
void BM_blockNrRowsSse2(benchmark::State &state) { runBlock(state, &blockNrRowsSse2); }
void BM_blockNrRowsAvx2(benchmark::State &state) { runBlock(state, &blockNrRowsAvx2, true); }
void BM_mosquitoNrRowsScalar(benchmark::State &state) { runMosquito(state, &mosquitoNrRowsScalar); }
void BM_mosquitoNrRowsSse2(benchmark::State &state) { runMosquito(state, &mosquitoNrRowsSse2); }
void BM_mosquitoNrRowsAvx2(benchmark::State &state) { runMosquito(state, &mosquitoNrRowsAvx2, true); }

}  // namespace

BENCHMARK(BM_blockNrRowsScalar)->Args({720, 480})->Args({1920, 1088})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_blockNrRowsSse2)->Args({720, 480})->Args({1920, 1088})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_blockNrRowsAvx2)->Args({720, 480})->Args({1920, 1088})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_mosquitoNrRowsScalar)->Args({720, 480})->Args({1920, 1088})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_mosquitoNrRowsSse2)->Args({720, 480})->Args({1920, 1088})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_mosquitoNrRowsAvx2)->Args({720, 480})->Args({1920, 1088})->Unit(benchmark::kMillisecond);
