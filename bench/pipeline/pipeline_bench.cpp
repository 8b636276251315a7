// Whole frames in forward playback through our host, on 1 and 2 host threads:
// frames per second and the time of each stage per frame, taken from the host's
// log of dispatches (wall time of each exec_multi_thread_func call).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "common/service_log.h"
#include "host/callbacks.h"
#include "output/output_stage.h"
#include "temporal/temporal.h"

namespace {

FILTER_DLL *linkedFilterTable() { return filterDescriptor(); }

// A few textured frames; the source hands them out in turn, so playback can run
// for as long as the benchmark wants without holding a long clip in memory.
std::vector<std::vector<PIXEL_YC>> patternFrames(int w, int h, int count) {
    std::vector<std::vector<PIXEL_YC>> frames;
    for (int f = 0; f < count; ++f) {
        std::vector<PIXEL_YC> frame(static_cast<std::size_t>(w) * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const double u = x + 3 * f;
                frame[static_cast<std::size_t>(y) * w + x] = {
                    static_cast<std::int16_t>(2048 + 900 * std::sin(u * 0.05) * std::cos(y * 0.04) +
                                              ((x * 7 + y * 13 + f * 5) % 61) - 30),
                    static_cast<std::int16_t>(300 * std::sin(u * 0.02 + y * 0.01)),
                    static_cast<std::int16_t>(-200 * std::cos(u * 0.015 - y * 0.02))};
            }
        frames.push_back(std::move(frame));
    }
    return frames;
}

const char *stageName(MULTI_THREAD_FUNC worker) {
    if (worker == verticalAnalysisWorker) return "vertical";
    if (worker == horizontalAnalysisWorker) return "horizontal";
    if (worker == temporalChromaWorker) return "temporal";
    if (worker == lumaOutputWorker) return "luma";
    return "other";
}

void BM_forwardPlayback(benchmark::State &state) {
    const int w = static_cast<int>(state.range(0));
    const int h = static_cast<int>(state.range(1));
    const int threads = static_cast<int>(state.range(2));
    const auto frames = patternFrames(w, h, 4);

    q5host::Host host(&linkedFilterTable, threads);
    q5host::ServiceLog log(host);  // each dispatch's time
    host.init();
    host.update();
    q5host::ClipInfo clip;
    clip.width = w;
    clip.height = h;
    clip.frameCount = 1 << 30;
    host.setClip(clip, [&](int n, PIXEL_YC *image, int pitch) {
        const std::vector<PIXEL_YC> &f = frames[n % frames.size()];
        for (int y = 0; y < h; ++y)
            std::memcpy(image + static_cast<std::size_t>(y) * pitch, f.data() + static_cast<std::size_t>(y) * w,
                        w * sizeof(PIXEL_YC));
        return true;
    });

    int frame = 0;
    for (; frame < 3; ++frame) host.process(frame);  // fill the ring
    log.clear();
    std::map<std::string, double> stageNs;
    for (auto _ : state) {
        host.process(frame++);
        for (const q5host::ServiceCall &call : log.calls())
            if (call.kind == q5host::ServiceCall::Exec) stageNs[stageName(call.worker)] += call.nanoseconds;
        log.clear();
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    for (const auto &[name, ns] : stageNs)
        state.counters[name + "_ms"] = benchmark::Counter(ns / 1e6 / static_cast<double>(state.iterations()));
}

BENCHMARK(BM_forwardPlayback)
    ->ArgNames({"w", "h", "threads"})
    ->Args({720, 480, 1})
    ->Args({720, 480, 2})
    ->Args({1920, 1080, 1})
    ->Args({1920, 1080, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
