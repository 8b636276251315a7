// Chroma's temporal stage over one plane of the largest size class on one thread,
// the AVX2 rebuild against the SSE2 one: the fit, the ring lines moved into octets
// (from memory: the ring is far larger than the caches), the inverse levels and the
// stores into the aux plane.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "core/control_word.h"
#include "core/core.h"
#include "temporal/temporal.h"
#include "wavelet/wavelet.h"

namespace {

void runChroma(benchmark::State &state, const TemporalKernels &temporal) {
    WorkBuffers b{};
    const SizeClass sc = {2048, 1280};
    if (!allocateWorkBuffers(b, sc)) {
        releaseWorkBuffers(b);
        return state.SkipWithError("no buffers");
    }
    // Three slots of small values: the fit accepts most neighbours.
    const long slot = static_cast<long>(sc.stride / 2) * sc.rows;
    for (long i = 0; i < 3 * slot; ++i) {
        b.cbRingA[i] = static_cast<float>((i * 7919) % 97) * 0.5f;
        b.cbRingB[i] = static_cast<float>((i * 104729) % 89) * 0.25f;
    }
    // Only the temporal table is read: the rebuilds bind their inverse levels.
    const KernelTables kernels = {kTierScalar, nullptr, nullptr, &temporal, nullptr};
    ControlWordScope cw(kProcControlWord);
    TemporalParams params{makeTemporalJob(4, false, false), 8.0f, true, {&kernels, &b, nullptr}};
    for (auto _ : state) {
        temporalChroma(b.cbAux, b.cbRingA, b.cbRingB, params, 32, 992, 0);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 960L * sc.rows);
    releaseWorkBuffers(b);
}

void BM_temporalChromaAvx2(benchmark::State &state) {
    if (!cpuHasAvx2()) return state.SkipWithError("the processor or system lacks AVX2");
    runChroma(state, kTemporalAvx2);
}
void BM_temporalChromaSse2(benchmark::State &state) { runChroma(state, kTemporalSse2); }

}  // namespace

BENCHMARK(BM_temporalChromaAvx2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_temporalChromaSse2)->Unit(benchmark::kMillisecond);
