// The temporal rebuild of eight ring lines with eight lanes of AVX: the fit of the
// coarsest band eight samples at a time, and the lines moved into the octet line
// by 8 x 8 transposes instead of pairs of 4 x 4 ones. The same operations on every
// value as the SSE2 twins (a lane of the 8-wide reciprocal estimate is the 4-wide
// one's), so the same numbers. Chosen at load only on processors and systems that
// run AVX2 (cpuHasAvx2). The rebuild is rebuildOctetWith over these steps and the
// AVX2 inverse level. Intrinsics only, none limited to 64-bit code, and nothing the
// linker could share with other files but the two kernels.
#include <immintrin.h>

#include <cstdint>

#include "temporal/fit_steps.h"
#include "temporal/rebuild_octet.h"
#include "temporal/temporal.h"
#include "wavelet/wavelet.h"

namespace {

constexpr int kLanes = 8;
// The ring lines come from memory, eight streams at once: each is asked for 512
// bytes ahead of the positions read.
constexpr int kPrefetchAhead = 128;

// The fit's steps (fit_steps.h) on eight samples at a time.
struct Fit8 {
    using V = __m256;
    static V load(const float *p) noexcept { return _mm256_loadu_ps(p); }
    static void store(float *p, V v) noexcept { _mm256_storeu_ps(p, v); }
    static V set1(float x) noexcept { return _mm256_set1_ps(x); }
    static V allOnes() noexcept { return _mm256_castsi256_ps(_mm256_set1_epi32(-1)); }
    static V zero() noexcept { return _mm256_setzero_ps(); }
    static V add(V a, V b) noexcept { return _mm256_add_ps(a, b); }
    static V sub(V a, V b) noexcept { return _mm256_sub_ps(a, b); }
    static V mul(V a, V b) noexcept { return _mm256_mul_ps(a, b); }
    static V band(V a, V b) noexcept { return _mm256_and_ps(a, b); }
    static V bor(V a, V b) noexcept { return _mm256_or_ps(a, b); }
    static V andnot(V a, V b) noexcept { return _mm256_andnot_ps(a, b); }
    static V cmplt(V a, V b) noexcept { return _mm256_cmp_ps(a, b, _CMP_LT_OS); }
    static V cmpeq(V a, V b) noexcept { return _mm256_cmp_ps(a, b, _CMP_EQ_OQ); }
    static V rcp(V a) noexcept { return _mm256_rcp_ps(a); }
};

// Positions j .. j + 7 of eight lines (line k's at row(k)) to octet positions
// j .. j + 7: an 8 x 8 transpose.
[[gnu::always_inline]] inline void transpose8(const __m256 in[8], float *out) noexcept {
    const __m256 t0 = _mm256_unpacklo_ps(in[0], in[1]), t1 = _mm256_unpackhi_ps(in[0], in[1]);
    const __m256 t2 = _mm256_unpacklo_ps(in[2], in[3]), t3 = _mm256_unpackhi_ps(in[2], in[3]);
    const __m256 t4 = _mm256_unpacklo_ps(in[4], in[5]), t5 = _mm256_unpackhi_ps(in[4], in[5]);
    const __m256 t6 = _mm256_unpacklo_ps(in[6], in[7]), t7 = _mm256_unpackhi_ps(in[6], in[7]);
    const __m256 u0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 u1 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
    const __m256 u2 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 u3 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
    const __m256 u4 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 u5 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(3, 2, 3, 2));
    const __m256 u6 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 u7 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(3, 2, 3, 2));
    // u0..u3 hold positions 0..3 (low half) and 4..7 (high half) of lines 0..3,
    // u4..u7 the same of lines 4..7.
    _mm256_storeu_ps(out + 0 * kLanes, _mm256_permute2f128_ps(u0, u4, 0x20));
    _mm256_storeu_ps(out + 1 * kLanes, _mm256_permute2f128_ps(u1, u5, 0x20));
    _mm256_storeu_ps(out + 2 * kLanes, _mm256_permute2f128_ps(u2, u6, 0x20));
    _mm256_storeu_ps(out + 3 * kLanes, _mm256_permute2f128_ps(u3, u7, 0x20));
    _mm256_storeu_ps(out + 4 * kLanes, _mm256_permute2f128_ps(u0, u4, 0x31));
    _mm256_storeu_ps(out + 5 * kLanes, _mm256_permute2f128_ps(u1, u5, 0x31));
    _mm256_storeu_ps(out + 6 * kLanes, _mm256_permute2f128_ps(u2, u6, 0x31));
    _mm256_storeu_ps(out + 7 * kLanes, _mm256_permute2f128_ps(u3, u7, 0x31));
}

// Four positions of eight lines: two 4 x 4 transposes.
[[gnu::always_inline]] inline void transpose4(const __m128 in[8], float *out) noexcept {
    for (int half = 0; half < 2; ++half) {
        __m128 r0 = in[4 * half], r1 = in[4 * half + 1], r2 = in[4 * half + 2], r3 = in[4 * half + 3];
        _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
        _mm_storeu_ps(out + 4 * half, r0);
        _mm_storeu_ps(out + kLanes + 4 * half, r1);
        _mm_storeu_ps(out + 2 * kLanes + 4 * half, r2);
        _mm_storeu_ps(out + 3 * kLanes + 4 * half, r3);
    }
}

// Positions [first, first + count) (multiples of 4) of eight lines, line k starting
// at line + k * lineStep, into the octet line.
void gatherLines(const float *line, long lineStep, int first, int count, float *octet) noexcept {
    int j = first;
    for (; j + 8 <= first + count; j += 8) {
        __m256 in[8];
        for (int k = 0; k < kLanes; ++k) {
            _mm_prefetch(reinterpret_cast<const char *>(line + k * lineStep + j + kPrefetchAhead), _MM_HINT_T0);
            in[k] = _mm256_loadu_ps(line + k * lineStep + j);
        }
        transpose8(in, octet + kLanes * j);
    }
    if (j < first + count) {
        __m128 in[8];
        for (int k = 0; k < kLanes; ++k) in[k] = _mm_loadu_ps(line + k * lineStep + j);
        transpose4(in, octet + kLanes * j);
    }
}

// The fitted coarsest band of eight lines, straight into the octet line.
void fitIntoOctet(const TemporalJob &job, float threshold, const float *ringA, long slotFloats, long lineStart,
                  long len, int coarse, float *octet) noexcept {
    const FitLines lines(job, ringA, slotFloats, lineStart);
    int j = 0;
    {
        const FitRun<Fit8> fit(job, threshold);
        for (; j + 8 <= coarse; j += 8) {
            __m256 fitted[8];
            for (int k = 0; k < kLanes; ++k) fitted[k] = fit(lines, k * len + j);
            transpose8(fitted, octet + kLanes * j);
        }
    }
    if (j < coarse) {
        const FitRun<Fit4> fit(job, threshold);
        __m128 fitted[8];
        for (int k = 0; k < kLanes; ++k) fitted[k] = fit(lines, k * len + j);
        transpose4(fitted, octet + kLanes * j);
    }
}

// Eight positions of the eight lines at a time by 8 x 8 transposes, the fit straight
// into the octet line.
struct Avx2Steps {
    static void fitOctet(const TemporalJob &job, float threshold, const float *ringA, long slotFloats,
                         long lineStart, int len, int coarse, OctetBuffers &b) noexcept {
        fitIntoOctet(job, threshold, ringA, slotFloats, lineStart, len, coarse, b.band);
    }
    static void gather(const float *lines, long lineStep, int first, int count, float *octet) noexcept {
        gatherLines(lines, lineStep, first, count, octet);
    }
    static constexpr auto inverse = inverseOctetsAvx2;
};

}  // namespace

void temporalFitAvx2(const TemporalJob &job, int count, float threshold, float *output, const float *ringA,
                     long slotFloats, long lineStart) noexcept {
    const FitLines lines(job, ringA, slotFloats, lineStart);
    int i = 0;
    {
        const FitRun<Fit8> fit(job, threshold);
        for (; i + 8 <= count; i += 8) Fit8::store(output + i, fit(lines, i));
    }
    if (i < count) Fit4::store(output + i, FitRun<Fit4>(job, threshold)(lines, i));
}

void rebuildOctetAvx2(const TemporalParams &params, const float *ringA, const float *ringB, long lines, long first,
                      int len, OctetBuffers &b) noexcept {
    rebuildOctetWith<Avx2Steps>(params, ringA, ringB, lines, first, len, b);
}
