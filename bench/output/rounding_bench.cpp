// The rounding pass over a whole frame on one thread, SSE2 against the scalar
// reference, at the small and the largest picture size (1080 rows arrive rounded
// up to 1088). The frame mixes flat, lightly noisy 8 x 8 regions (carry and
// dither) with busy ones (plain rounding), as a denoised picture does.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "abi/host_api.h"
#include "output/rounding.h"

namespace {

struct BenchFrame {
    std::vector<PIXEL_YC> source, image;
    FILTER_PROC_INFO fpip{};
    RoundingParams params{16, true};  // the default slider and field mode
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

void BM_roundingRowsSse2(benchmark::State &state) { runPass(state, roundingRowsSse2); }
void BM_roundingRowsScalar(benchmark::State &state) { runPass(state, roundingRowsScalar); }

}  // namespace

BENCHMARK(BM_roundingRowsSse2)->Args({720, 480})->Args({1920, 1088})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_roundingRowsScalar)
    ->Args({720, 480})
    ->Args({1920, 1088})
    ->Unit(benchmark::kMillisecond);
