// The float-to-sample rule on eight values at once, shared by the stages that
// leave the float planes: add 0.5, truncate to 32 bits, saturate to 16 bits, clamp
// to -8192..8192 (floatToSample is the same rule one value at a time).
#pragma once

#include <emmintrin.h>

inline __m128i samplesOfEight(__m128 low, __m128 high) noexcept {
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128i a = _mm_cvttps_epi32(_mm_add_ps(low, half));
    const __m128i b = _mm_cvttps_epi32(_mm_add_ps(high, half));
    return _mm_max_epi16(_mm_min_epi16(_mm_packs_epi32(a, b), _mm_set1_epi16(8192)), _mm_set1_epi16(-8192));
}
