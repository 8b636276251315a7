// The operations of the SSE2 pre-pass kernels on a unit of four pixels in eight
// 16-bit lanes (y, cb, cr of the even pixels in lanes 0-2 and 4-6, the luma of the
// odd ones in lanes 3 and 7), named for what the passes do with them so that the
// kernels read as their scalar twins do.
//
// Included only by the SSE2 kernel files, and with internal linkage: see
// prefilter_common.h.
#pragma once

#include <emmintrin.h>

#include <cstdint>

#include "prefilter/prefilter_common.h"

namespace prefilter {
namespace {

struct Sse2Lanes {
    using V = __m128i;
    using F = __m128;

    static V zero() noexcept { return _mm_setzero_si128(); }
    static V set1(std::int16_t v) noexcept { return _mm_set1_epi16(v); }
    static V adds(V a, V b) noexcept { return _mm_adds_epi16(a, b); }
    static V subs(V a, V b) noexcept { return _mm_subs_epi16(a, b); }
    static V sub(V a, V b) noexcept { return _mm_sub_epi16(a, b); }
    static V max(V a, V b) noexcept { return _mm_max_epi16(a, b); }
    static V cmplt(V a, V b) noexcept { return _mm_cmplt_epi16(a, b); }
    static V cmpgt(V a, V b) noexcept { return _mm_cmpgt_epi16(a, b); }
    static V cmpeq(V a, V b) noexcept { return _mm_cmpeq_epi16(a, b); }
    static V bitAnd(V a, V b) noexcept { return _mm_and_si128(a, b); }
    /// v without the bits of mask.
    static V andNot(V mask, V v) noexcept { return _mm_andnot_si128(mask, v); }
    /// For masks whose lanes are all ones or all zeros.
    static V select(V mask, V ifSet, V ifClear) noexcept {
        return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, ifClear));
    }
    /// Interleaved with `with`: the low or the high four lanes as 32-bit lanes.
    static V widenLow(V v, V with) noexcept { return _mm_unpacklo_epi16(v, with); }
    static V widenHigh(V v, V with) noexcept { return _mm_unpackhi_epi16(v, with); }
    static V shiftRight32(V v) noexcept { return _mm_srai_epi32(v, 16); }
    static F toFloat(V v) noexcept { return _mm_cvtepi32_ps(v); }
    static F reciprocal(F v) noexcept { return _mm_rcp_ps(v); }
    static F mul(F a, F b) noexcept { return _mm_mul_ps(a, b); }
    static F add(F a, F b) noexcept { return _mm_add_ps(a, b); }
    static F set1(float v) noexcept { return _mm_set1_ps(v); }
    static V truncate(F v) noexcept { return _mm_cvttps_epi32(v); }
    static V pack32(V lo, V hi) noexcept { return _mm_packs_epi32(lo, hi); }
    static V shiftRight3(V v) noexcept { return _mm_srai_epi16(v, 3); }
    /// True when no lane of the mask is set.
    static bool none(V mask) noexcept { return _mm_movemask_epi8(mask) == 0; }
    /// Formed as the larger of x and 0 - x, so -32768 gives 32767 rather than itself.
    static V absSat(V x) noexcept { return max(x, subs(zero(), x)); }
};

}  // namespace
}  // namespace prefilter
