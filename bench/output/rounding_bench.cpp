// The rounding pass over a whole frame on one thread, AVX2 and SSE2 against
// the scalar reference, at the small and the largest picture size (1080 rows arrive rounded
// up to 1088). The frame mixes flat, lightly noisy 8 x 8 regions (carry and
// dither) with busy ones (plain rounding), as a denoised picture does.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "abi/host_api.h"
#include "core/core.h"
#include "output/rounding.h"

namespace {

struct BenchFrame {
    std::vector<PIXEL_YC> source, image;
    FILTER_PROC_INFO fpip{};
    RoundingParams params{16, true, {}};  // the default slider and field mode
    std::vector<std::int16_t> remainders;
    int remainderCount;

    BenchFrame(int w, int h) : remainderCount((w <= 720 && h <= 480 ? 832 : 2048) / 4) {
        std::mt19937 rng(12345);
        auto uni = [&rng](int lo, int hi) {
            return std::uniform_int_distribution<int>(lo, hi)(rng);
        };
        source.resize(static_cast<std::size_t>(w) * h);
        for (int ry = 0; ry < h; ry += 8)
            for (int rx = 0; rx < w; rx += 8) {
                const bool busy = uni(0, 9) < 3;
                const int by = uni(0, 4000), bc = uni(-1500, 1500), br = uni(-1500, 1500);
                for (int y = ry; y < ry + 8; ++y)
                    for (int x = rx; x < rx + 8; ++x) {
                        const int spread = busy ? 200 : 9;
                        source[static_cast<std::size_t>(y) * w + x] = {
                            static_cast<std::int16_t>(by + uni(0, spread)),
                            static_cast<std::int16_t>(bc + uni(0, spread)),
                            static_cast<std::int16_t>(br + uni(0, spread))};
                    }
            }
        image = source;
        remainders.assign(3 * static_cast<std::size_t>(remainderCount), 0);
        fpip.ycp_edit = image.data();
        fpip.w = fpip.max_w = w;
        fpip.h = fpip.max_h = h;
        fpip.frame = 1;
    }
};

void runPass(benchmark::State &state, RoundingRowsFn rows) {
    BenchFrame f(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state) {
        state.PauseTiming();
        f.image = f.source;
        state.ResumeTiming();
        rows(&f.fpip, &f.params, 0, f.fpip.h, f.remainders.data(), f.remainderCount);
        benchmark::DoNotOptimize(f.image.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}

// The same frame made from its samples (luma, and chroma at half width) and rounded
// group by group as the luma sweep does it: the pixels written and rounded in one go.
void runSamples(benchmark::State &state, RoundingGroupSamplesFn kernel) {
    BenchFrame f(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const int w = f.fpip.w, h = f.fpip.h, stride = w + 128;
    std::vector<std::int16_t> luma(static_cast<std::size_t>(h) * stride), cb(luma.size() / 2), cr(luma.size() / 2);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const PIXEL_YC &p = f.source[static_cast<std::size_t>(y) * w + x];
            luma[static_cast<std::size_t>(y) * stride + x] = p.y;
            cb[static_cast<std::size_t>(y) * stride / 2 + x / 2] = p.cb;
            cr[static_cast<std::size_t>(y) * stride / 2 + x / 2] = p.cr;
        }
    for (auto _ : state) {
        RoundingPass pass;
        beginRoundingPass(&f.fpip, &f.params, 0, f.remainders.data(), f.remainderCount, pass);
        for (int field = 0; field < pass.fieldStep; ++field) {
            seedRoundingField(pass, w);
            for (int y = 0; y < h; y += 4 * pass.fieldStep) {
                RoundingGroupSamples group;
                for (int k = 0; k < 4; ++k) {
                    const int row = y + field + k * pass.fieldStep;
                    group.luma[k] = luma.data() + static_cast<std::size_t>(row) * stride;
                    group.cb[k] = cb.data() + static_cast<std::size_t>(row) * stride / 2;
                    group.cr[k] = cr.data() + static_cast<std::size_t>(row) * stride / 2;
                    group.out[k] = f.image.data() + static_cast<std::size_t>(row) * w;
                }
                kernel(pass, w, group);
            }
        }
        benchmark::DoNotOptimize(f.image.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}

void BM_roundingGroupSamplesAvx2(benchmark::State &state) {
    if (!cpuHasAvx2()) return state.SkipWithError("the processor or system lacks AVX2");
    runSamples(state, roundingGroupSamplesAvx2);
}
void BM_roundingGroupSamplesSse2(benchmark::State &state) { runSamples(state, roundingGroupSamplesSse2); }

void BM_roundingRowsAvx2(benchmark::State &state) {
    if (!cpuHasAvx2()) return state.SkipWithError("the processor or system lacks AVX2");
    runPass(state, roundingRowsAvx2);
}
void BM_roundingRowsSse2(benchmark::State &state) { runPass(state, roundingRowsSse2); }
void BM_roundingRowsScalar(benchmark::State &state) { runPass(state, roundingRowsScalar); }

}  // namespace

BENCHMARK(BM_roundingGroupSamplesAvx2)->Args({256, 128})->Args({720, 480})->Args({1920, 1088})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_roundingGroupSamplesSse2)->Args({256, 128})->Args({720, 480})->Args({1920, 1088})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_roundingRowsAvx2)->Args({720, 480})->Args({1920, 1088})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_roundingRowsSse2)->Args({256, 128})->Args({720, 480})->Args({1920, 1088})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_roundingRowsScalar)
    ->Args({720, 480})
    ->Args({1920, 1088})
    ->Unit(benchmark::kMillisecond);
