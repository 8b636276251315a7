// AVX2 octet kernels: the eight lanes of an octet line in one 256-bit vector. The
// same template bodies as the SSE2 and scalar builds, so the same operations in
// the same order lane by lane: plain multiplies and adds, never fused. Chosen at
// run time only on processors and systems that run AVX2 (cpuHasAvx2).
#include <immintrin.h>

#include "wavelet/octet_kernels.h"
#include "wavelet/sample_conversion.h"
#include "wavelet/wavelet.h"

namespace {

struct AvxOctet {
    __m256 v;
    using Tap = __m256;

    static AvxOctet load(const float *p) noexcept { return {_mm256_loadu_ps(p)}; }
    static void store(float *p, AvxOctet x) noexcept { _mm256_storeu_ps(p, x.v); }
    // The rule on each half: the eight samples fit one 128-bit store.
    static void storeSamples(std::int16_t *p, AvxOctet x) noexcept {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p),
                         samplesOfEight(_mm256_castps256_ps128(x.v), _mm256_extractf128_ps(x.v, 1)));
    }
    static AvxOctet set1(float x) noexcept { return {_mm256_set1_ps(x)}; }
    static Tap tap(float x) noexcept { return _mm256_set1_ps(x); }
    static AvxOctet add(AvxOctet x, AvxOctet y) noexcept { return {_mm256_add_ps(x.v, y.v)}; }
    static AvxOctet sub(AvxOctet x, AvxOctet y) noexcept { return {_mm256_sub_ps(x.v, y.v)}; }
    static AvxOctet mul(AvxOctet x, AvxOctet y) noexcept { return {_mm256_mul_ps(x.v, y.v)}; }
    static AvxOctet mul(AvxOctet x, Tap t) noexcept { return {_mm256_mul_ps(x.v, t)}; }
    static AvxOctet max(AvxOctet x, AvxOctet y) noexcept { return {_mm256_max_ps(x.v, y.v)}; }
    static AvxOctet absolute(AvxOctet x) noexcept { return {_mm256_andnot_ps(_mm256_set1_ps(-0.0f), x.v)}; }
    // >=, > and < with the predicates SSE's own compares use: ordered (false when
    // either side is NaN) and signalling (a NaN raises the invalid-operation flag,
    // which the module's control word masks, so it never traps).
    static AvxOctet cmpge(AvxOctet x, AvxOctet y) noexcept { return {_mm256_cmp_ps(x.v, y.v, _CMP_GE_OS)}; }
    static AvxOctet cmpgt(AvxOctet x, AvxOctet y) noexcept { return {_mm256_cmp_ps(x.v, y.v, _CMP_GT_OS)}; }
    static AvxOctet cmplt(AvxOctet x, AvxOctet y) noexcept { return {_mm256_cmp_ps(x.v, y.v, _CMP_LT_OS)}; }
    static AvxOctet bitAnd(AvxOctet x, AvxOctet y) noexcept { return {_mm256_and_ps(x.v, y.v)}; }
    static AvxOctet bitOr(AvxOctet x, AvxOctet y) noexcept { return {_mm256_or_ps(x.v, y.v)}; }
};

}  // namespace

Q5_DEFINE_OCTET_KERNELS(AvxOctet, Avx2)
