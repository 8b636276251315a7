// The float-to-sample rule, shared by the stages that leave the float planes (the
// temporal stage's chroma and the output stage's luma, through the synthesis
// kernels): the nearest integer, halves up (the floor of v + 0.5), saturated to 16
// bits and clamped to -8192..8192. A plain truncation of v + 0.5 would round every
// negative value with a fraction one step too high, so a filter that changes
// nothing would still move negative samples.
#pragma once

#include <emmintrin.h>

#include <cstdint>

/// One value: add 0.5, convert with truncation (overflow and NaN give INT32_MIN),
/// one step down where that went up, saturate to 16 bits, clamp to -8192..8192.
std::int16_t floatToSample(float v) noexcept;

/// samplesOfEight over a run of floats; count is a multiple of 8.
void floatsToSamples(const float *in, int count, std::int16_t *out) noexcept;

namespace {

// Internal linkage: the AVX2 files include this too, and their copy (compiled with
// AVX) must never stand in for the SSE2 files' one.
[[gnu::always_inline]] inline __m128i samplesOfEight(__m128 low, __m128 high) noexcept {
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 x = _mm_add_ps(low, half), y = _mm_add_ps(high, half);
    // Truncation, then one step down where it went up (x below its truncation). A
    // value out of the 32-bit range truncates to INT32_MIN, which the saturating add
    // keeps at the bottom, as a NaN does (it compares false).
    const __m128i a = _mm_cvttps_epi32(x), b = _mm_cvttps_epi32(y);
    const __m128i down = _mm_packs_epi32(_mm_castps_si128(_mm_cmplt_ps(x, _mm_cvtepi32_ps(a))),
                                         _mm_castps_si128(_mm_cmplt_ps(y, _mm_cvtepi32_ps(b))));
    const __m128i samples = _mm_adds_epi16(_mm_packs_epi32(a, b), down);
    return _mm_max_epi16(_mm_min_epi16(samples, _mm_set1_epi16(8192)), _mm_set1_epi16(-8192));
}

}  // namespace
