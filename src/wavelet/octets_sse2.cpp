// SSE octet kernels: eight lanes as two 4-wide vectors, so each template step is
// two independent instructions.
#include <emmintrin.h>

#include "wavelet/octet_kernels.h"
#include "wavelet/sample_conversion.h"
#include "wavelet/wavelet.h"

namespace {

struct SseOctet {
    __m128 a, b;
    using Tap = __m128;

    static SseOctet load(const float *p) noexcept { return {_mm_load_ps(p), _mm_load_ps(p + 4)}; }
    static void store(float *p, SseOctet x) noexcept {
        _mm_store_ps(p, x.a);
        _mm_store_ps(p + 4, x.b);
    }
    static void storeSamples(std::int16_t *p, SseOctet x) noexcept {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p), samplesOfEight(x.a, x.b));
    }
    static SseOctet set1(float x) noexcept { return {_mm_set1_ps(x), _mm_set1_ps(x)}; }
    static Tap tap(float x) noexcept { return _mm_set1_ps(x); }
    static SseOctet mul(SseOctet x, Tap t) noexcept { return {_mm_mul_ps(x.a, t), _mm_mul_ps(x.b, t)}; }
    static SseOctet add(SseOctet x, SseOctet y) noexcept { return {_mm_add_ps(x.a, y.a), _mm_add_ps(x.b, y.b)}; }
    static SseOctet sub(SseOctet x, SseOctet y) noexcept { return {_mm_sub_ps(x.a, y.a), _mm_sub_ps(x.b, y.b)}; }
    static SseOctet mul(SseOctet x, SseOctet y) noexcept { return {_mm_mul_ps(x.a, y.a), _mm_mul_ps(x.b, y.b)}; }
    static SseOctet max(SseOctet x, SseOctet y) noexcept { return {_mm_max_ps(x.a, y.a), _mm_max_ps(x.b, y.b)}; }
    static SseOctet absolute(SseOctet x) noexcept {
        const __m128 sign = _mm_set1_ps(-0.0f);
        return {_mm_andnot_ps(sign, x.a), _mm_andnot_ps(sign, x.b)};
    }
    static SseOctet cmpge(SseOctet x, SseOctet y) noexcept {
        return {_mm_cmpge_ps(x.a, y.a), _mm_cmpge_ps(x.b, y.b)};
    }
    static SseOctet cmpgt(SseOctet x, SseOctet y) noexcept {
        return {_mm_cmpgt_ps(x.a, y.a), _mm_cmpgt_ps(x.b, y.b)};
    }
    static SseOctet cmplt(SseOctet x, SseOctet y) noexcept {
        return {_mm_cmplt_ps(x.a, y.a), _mm_cmplt_ps(x.b, y.b)};
    }
    static SseOctet bitAnd(SseOctet x, SseOctet y) noexcept { return {_mm_and_ps(x.a, y.a), _mm_and_ps(x.b, y.b)}; }
    static SseOctet bitOr(SseOctet x, SseOctet y) noexcept { return {_mm_or_ps(x.a, y.a), _mm_or_ps(x.b, y.b)}; }
};

}  // namespace

Q5_DEFINE_OCTET_KERNELS(SseOctet, Sse2)
