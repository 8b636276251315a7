// What --strength auto costs: the noise meter on 1080p frames (it measures three per
// run). BM_forwardPlayback/1920/1080/2 in bench/pipeline is the filter's own time
// per frame on two threads, to set it against.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "cli/picture/demo_clip.h"
#include "cli/picture/noise_estimate.h"

namespace {

// A 1080p 4:2:0 8-bit frame: a ramp and two cels with grain of one code step.
std::vector<std::uint8_t> grainyFrame(const q5cli::Y4mFormat &f) {
    std::vector<std::uint8_t> bytes(f.frameBytes(), 128);
    q5cli::Grain grain;
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x) {
            const double v = (y < f.height / 2 ? 60 + 100.0 * y / f.height : x < f.width / 3 ? 90 : 140) + grain.next();
            bytes[static_cast<std::size_t>(y) * f.width + x] = static_cast<std::uint8_t>(std::lround(v));
        }
    return bytes;
}

void BM_noiseMeter1080p(benchmark::State &state) {
    q5cli::Y4mFormat f;
    f.width = 1920;
    f.height = 1080;
    const std::vector<std::uint8_t> frame = grainyFrame(f);
    for (auto _ : state) {
        q5cli::NoiseMeter meter(f);
        for (int n = 0; n < state.range(0); ++n) meter.add(frame.data());
        benchmark::DoNotOptimize(meter.estimate());
    }
    state.SetLabel(std::to_string(state.range(0)) + " frames measured");
}
BENCHMARK(BM_noiseMeter1080p)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);

}  // namespace
