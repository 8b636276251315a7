// What this machine can do at best: the peak 4-wide (SSE) and 8-wide (AVX)
// single-precision arithmetic rate of one core, the memory bandwidth of streaming
// reads and writes, and what one ring slot's stores cost. The filter's lower bound
// per frame is derived from these (bench/README.md).
//
//   q5bench --benchmark_filter='peak|memory|ringSlot'
//
// Rates ("FLOPS", "bytes_per_second") are the machine's total over all threads of
// a run.
#include <benchmark/benchmark.h>
#include <immintrin.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kChains = 12;

// Twelve independent multiply-then-add chains in twelve registers: enough in flight
// to keep the multiply and add ports busy whatever their latencies, with as many
// multiplies as adds, like the filter's dot products. Written out for each vector
// width (a macro, so that the AVX copy is compiled for AVX as a whole).
#define Q5_PEAK_CHAINS(Vec, set1, mul, add, lanes)                                                         \
    const Vec m = set1(0.999999f), c = set1(1e-7f);                                                       \
    /* Different starting values, so that no two chains are the same computation. */                    \
    Vec a0 = set1(1.00f), a1 = set1(1.01f), a2 = set1(1.02f), a3 = set1(1.03f), a4 = set1(1.04f);         \
    Vec a5 = set1(1.05f), a6 = set1(1.06f), a7 = set1(1.07f), a8 = set1(1.08f), a9 = set1(1.09f);         \
    Vec a10 = set1(1.10f), a11 = set1(1.11f);                                                             \
    const long iterations = 1 << 14;                                                                      \
    for (auto _ : state) {                                                                                \
        for (long k = 0; k < iterations; ++k) {                                                           \
            a0 = add(mul(a0, m), c);                                                                      \
            a1 = add(mul(a1, m), c);                                                                      \
            a2 = add(mul(a2, m), c);                                                                      \
            a3 = add(mul(a3, m), c);                                                                      \
            a4 = add(mul(a4, m), c);                                                                      \
            a5 = add(mul(a5, m), c);                                                                      \
            a6 = add(mul(a6, m), c);                                                                      \
            a7 = add(mul(a7, m), c);                                                                      \
            a8 = add(mul(a8, m), c);                                                                      \
            a9 = add(mul(a9, m), c);                                                                      \
            a10 = add(mul(a10, m), c);                                                                    \
            a11 = add(mul(a11, m), c);                                                                    \
        }                                                                                                 \
    }                                                                                                     \
    Vec sum = add(add(add(a0, a1), add(a2, a3)), add(add(a4, a5), add(a6, a7)));                          \
    sum = add(sum, add(add(a8, a9), add(a10, a11)));                                                      \
    benchmark::DoNotOptimize(sum);                                                                        \
    state.counters["FLOPS"] = benchmark::Counter(static_cast<double>(iterations) * kChains * 2 * (lanes), \
                                                 benchmark::Counter::kIsIterationInvariantRate |           \
                                                     benchmark::Counter::kAvgThreads)

void BM_peakSseFlops(benchmark::State &state) { Q5_PEAK_CHAINS(__m128, _mm_set1_ps, _mm_mul_ps, _mm_add_ps, 4); }
BENCHMARK(BM_peakSseFlops)->Threads(1)->Threads(2)->UseRealTime();

// The same with 8-wide AVX vectors (no fused multiply-add), for the AVX2 kernels.
__attribute__((target("avx"))) void BM_peakAvxFlops(benchmark::State &state) {
    Q5_PEAK_CHAINS(__m256, _mm256_set1_ps, _mm256_mul_ps, _mm256_add_ps, 8);
}
BENCHMARK(BM_peakAvxFlops)->Threads(1)->Threads(2)->UseRealTime();

constexpr std::size_t kStreamBytes = 256u << 20;  // far larger than any cache

float *streamBuffer(int which) {
    static float *buffers[3] = {};
    if (!buffers[which]) {
        buffers[which] = static_cast<float *>(std::aligned_alloc(64, kStreamBytes));
        std::memset(buffers[which], 0, kStreamBytes);
    }
    return buffers[which];
}

// Reads and writes: bytes moved = read + write.
void BM_memoryCopy(benchmark::State &state) {
    const float *src = streamBuffer(0);
    float *dst = streamBuffer(1);
    for (auto _ : state) {
        std::memcpy(dst, src, kStreamBytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<long>(state.iterations()) * 2 * kStreamBytes);
}
BENCHMARK(BM_memoryCopy)->Unit(benchmark::kMillisecond);

// Each thread reads its own half of the buffer.
void BM_memoryRead(benchmark::State &state) {
    const std::size_t bytes = kStreamBytes / state.threads();
    const float *src = streamBuffer(0) + state.thread_index() * (bytes / sizeof(float));
    for (auto _ : state) {
        __m128 s[8];
        for (__m128 &v : s) v = _mm_setzero_ps();
        for (std::size_t i = 0; i < bytes / sizeof(float); i += 32)
            for (int k = 0; k < 8; ++k) s[k] = _mm_add_ps(s[k], _mm_load_ps(src + i + 4 * k));
        for (__m128 &v : s) benchmark::DoNotOptimize(v);
    }
    state.SetBytesProcessed(static_cast<long>(state.iterations()) * bytes);
}
BENCHMARK(BM_memoryRead)->Unit(benchmark::kMillisecond)->Threads(1)->Threads(2)->UseRealTime();

// Non-temporal stores of whole lines.
void BM_memoryStreamWrite(benchmark::State &state) {
    float *dst = streamBuffer(1);
    const __m128 v = _mm_set1_ps(3.0f);
    for (auto _ : state) {
        for (std::size_t i = 0; i < kStreamBytes / sizeof(float); i += 4) _mm_stream_ps(dst + i, v);
        _mm_sfence();
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<long>(state.iterations()) * kStreamBytes);
}
BENCHMARK(BM_memoryStreamWrite)->Unit(benchmark::kMillisecond);

// One slot of a frame ring (three slots interleaved in 48-byte groups), written
// as the analysis writes it: 16 bytes of every 48, eight ring lines at a time.
// bytes_per_second counts the slot's own bytes. Argument: 1 = non-temporal stores,
// 0 = ordinary stores (which first read each line into the cache).
void BM_ringSlotStores(benchmark::State &state) {
    const bool nonTemporal = state.range(0) != 0;
    const long lineFloats = 3L * 1280;  // a chroma ring line of the 1080p class
    const long lines = kStreamBytes / sizeof(float) / lineFloats;
    float *ring = streamBuffer(2);
    const __m128 v = _mm_set1_ps(1.0f);
    for (auto _ : state) {
        for (long l0 = 0; l0 + 8 <= lines; l0 += 8)
            for (long j = 0; j < lineFloats; j += 12)
                for (long k = 0; k < 8; ++k) {
                    float *p = ring + (l0 + k) * lineFloats + j;
                    if (nonTemporal)
                        _mm_stream_ps(p, v);
                    else
                        _mm_store_ps(p, v);
                }
        _mm_sfence();
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<long>(state.iterations()) * (lines / 8 * 8) * lineFloats / 3 *
                            static_cast<long>(sizeof(float)));
}
BENCHMARK(BM_ringSlotStores)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
