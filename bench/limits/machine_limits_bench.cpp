// What this machine can do at best: the peak 4-wide single-precision arithmetic
// rate of one core, and the memory bandwidth of streaming reads and writes. The
// filter's lower bound per frame is derived from these (bench/README.md).
#include <benchmark/benchmark.h>
#include <emmintrin.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Eight independent multiply and add chains keep both SSE arithmetic ports busy
// without waiting on latency; each iteration is 8 x (4 multiplies + 4 adds).
void BM_peakSseFlops(benchmark::State &state) {
    __m128 a0 = _mm_set1_ps(1.0f), a1 = a0, a2 = a0, a3 = a0, a4 = a0, a5 = a0, a6 = a0, a7 = a0;
    const __m128 m = _mm_set1_ps(0.999999f), c = _mm_set1_ps(1e-7f);
    const long iterations = 1 << 16;
    for (auto _ : state) {
        for (long i = 0; i < iterations; ++i) {
            a0 = _mm_add_ps(_mm_mul_ps(a0, m), c);
            a1 = _mm_add_ps(_mm_mul_ps(a1, m), c);
            a2 = _mm_add_ps(_mm_mul_ps(a2, m), c);
            a3 = _mm_add_ps(_mm_mul_ps(a3, m), c);
            a4 = _mm_add_ps(_mm_mul_ps(a4, m), c);
            a5 = _mm_add_ps(_mm_mul_ps(a5, m), c);
            a6 = _mm_add_ps(_mm_mul_ps(a6, m), c);
            a7 = _mm_add_ps(_mm_mul_ps(a7, m), c);
        }
        benchmark::DoNotOptimize(a0);
        benchmark::DoNotOptimize(a1);
        benchmark::DoNotOptimize(a2);
        benchmark::DoNotOptimize(a3);
        benchmark::DoNotOptimize(a4);
        benchmark::DoNotOptimize(a5);
        benchmark::DoNotOptimize(a6);
        benchmark::DoNotOptimize(a7);
    }
    state.counters["FLOPS"] = benchmark::Counter(static_cast<double>(iterations) * 64.0,
                                                 benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_peakSseFlops)->Threads(1)->Threads(2)->UseRealTime();

constexpr std::size_t kStreamBytes = 256u << 20;  // far larger than any cache

std::vector<float> &streamBuffer(int which) {
    static std::vector<float> a(kStreamBytes / sizeof(float), 1.0f), b(kStreamBytes / sizeof(float), 2.0f);
    return which ? b : a;
}

// Reads one buffer and writes the other: bytes moved = read + write.
void BM_memoryCopy(benchmark::State &state) {
    std::vector<float> &src = streamBuffer(0), &dst = streamBuffer(1);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), kStreamBytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<long>(state.iterations()) * 2 * kStreamBytes);
}
BENCHMARK(BM_memoryCopy)->Unit(benchmark::kMillisecond);

void BM_memoryRead(benchmark::State &state) {
    const std::vector<float> &src = streamBuffer(0);
    for (auto _ : state) {
        __m128 s0 = _mm_setzero_ps(), s1 = s0, s2 = s0, s3 = s0;
        for (std::size_t i = 0; i < src.size(); i += 16) {
            s0 = _mm_add_ps(s0, _mm_load_ps(&src[i]));
            s1 = _mm_add_ps(s1, _mm_load_ps(&src[i + 4]));
            s2 = _mm_add_ps(s2, _mm_load_ps(&src[i + 8]));
            s3 = _mm_add_ps(s3, _mm_load_ps(&src[i + 12]));
        }
        benchmark::DoNotOptimize(_mm_add_ps(_mm_add_ps(s0, s1), _mm_add_ps(s2, s3)));
    }
    state.SetBytesProcessed(static_cast<long>(state.iterations()) * kStreamBytes);
}
BENCHMARK(BM_memoryRead)->Unit(benchmark::kMillisecond)->Threads(1)->Threads(2)->UseRealTime();

// Non-temporal stores, as the filter writes its ring lines.
void BM_memoryStreamWrite(benchmark::State &state) {
    std::vector<float> &dst = streamBuffer(1);
    const __m128 v = _mm_set1_ps(3.0f);
    for (auto _ : state) {
        for (std::size_t i = 0; i < dst.size(); i += 4) _mm_stream_ps(&dst[i], v);
        _mm_sfence();
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<long>(state.iterations()) * kStreamBytes);
}
BENCHMARK(BM_memoryStreamWrite)->Unit(benchmark::kMillisecond);

}  // namespace
