// The pre-passes' lane type for SSE2: eight 16-bit values a vector. The block and
// mosquito bodies (block_rows.h, mosquito_planes.h) are written over a lane type;
// this one and lanes_avx2.h give each operation in their instruction set, with
// the same result lane by lane.
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
    static constexpr int kLanes = 8;

    static V load(const std::int16_t *p) noexcept { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }
    static void store(std::int16_t *p, V v) noexcept { _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v); }
    static V zero() noexcept { return _mm_setzero_si128(); }
    static V set1(std::int16_t v) noexcept { return _mm_set1_epi16(v); }
    static V add(V a, V b) noexcept { return _mm_add_epi16(a, b); }
    static V sub(V a, V b) noexcept { return _mm_sub_epi16(a, b); }
    static V adds(V a, V b) noexcept { return _mm_adds_epi16(a, b); }
    static V subs(V a, V b) noexcept { return _mm_subs_epi16(a, b); }
    /// Unsigned saturating addition.
    static V addsUnsigned(V a, V b) noexcept { return _mm_adds_epu16(a, b); }
    /// Unsigned values above 32767 become 32767 (a - (a -sat 32767)).
    static V limitUnsigned(V v) noexcept { return _mm_sub_epi16(v, _mm_subs_epu16(v, _mm_set1_epi16(32767))); }
    /// |v|, with -32768 giving 32767: the larger of v and 0 - v, saturated.
    static V magnitude(V v) noexcept { return _mm_max_epi16(v, _mm_subs_epi16(_mm_setzero_si128(), v)); }
    /// |v| for v above -32768.
    static V abs(V v) noexcept { return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v)); }
    /// |x| + |y|, each magnitude as above, added with saturation.
    static V magnitudeSum(V x, V y) noexcept { return _mm_adds_epi16(magnitude(x), magnitude(y)); }
    static V max(V a, V b) noexcept { return _mm_max_epi16(a, b); }
    static V min(V a, V b) noexcept { return _mm_min_epi16(a, b); }
    static V cmpgt(V a, V b) noexcept { return _mm_cmpgt_epi16(a, b); }
    static V cmpeq(V a, V b) noexcept { return _mm_cmpeq_epi16(a, b); }
    static V bitAnd(V a, V b) noexcept { return _mm_and_si128(a, b); }
    static V bitOr(V a, V b) noexcept { return _mm_or_si128(a, b); }
    /// v without the bits of mask.
    static V andNot(V mask, V v) noexcept { return _mm_andnot_si128(mask, v); }
    /// For masks whose lanes are all ones or all zeros.
    static V select(V mask, V ifSet, V ifClear) noexcept {
        return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, ifClear));
    }
    static V shiftRight3(V v) noexcept { return _mm_srai_epi16(v, 3); }
    static V shiftRight1(V v) noexcept { return _mm_srai_epi16(v, 1); }
    /// True when any bit of v is set.
    static bool any(V v) noexcept { return _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())) != 0xffff; }
    /// All ones in each group of four lanes (a unit) whose lanes are all zero.
    static V unitsClear(V v) noexcept {
        const V clear = _mm_cmpeq_epi32(v, _mm_setzero_si128());
        return _mm_and_si128(clear, _mm_shuffle_epi32(clear, _MM_SHUFFLE(2, 3, 0, 1)));
    }

    // The reciprocal's lanes: the low or the high half of the lanes, interleaved
    // with `with`, as 32-bit lanes.
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

    // ---- Block pass: luma of rows as stored ----------------------------------------

    /// The luma of w pixels from their 3w values.
    static void lumaOf(const std::int16_t *values, std::int16_t *luma, int w) noexcept {
        for (int x = 0; x < w; ++x) luma[x] = values[3 * x];
    }
    /// The luma corrections of the pixels marked at their luma in skin, and of the
    /// pixel after each, from the corrections of the luma alone.
    static void takeSkinLuma(std::int16_t *correction, const std::int16_t *lumaCorrection, const std::int16_t *skin,
                             int w) noexcept {
        for (int x = 0; x + 1 < w; x += 2)
            if (skin[3 * x]) {
                correction[3 * x] = lumaCorrection[x];
                correction[3 * x + 3] = lumaCorrection[x + 1];
            }
    }

    // ---- Mosquito pass: pixels as stored and planes --------------------------------

    /// Eight pixels (24 values) into their luma, the cb and cr of the even pixels
    /// and those of the odd pixels (cb cr cb cr ..).
    static void split(const PIXEL_YC *pixels, V &luma, V &evenChroma, V &oddChroma) noexcept {
        const auto *at = reinterpret_cast<const __m128i *>(pixels);
        V a = _mm_loadu_si128(at), b = _mm_loadu_si128(at + 1), c = _mm_loadu_si128(at + 2);
        // Each round sends value x of the 24 to 2x mod 23; three take 3i + ch to 8ch + i.
        for (int round = 0; round < 3; ++round) {
            const V t0 = _mm_unpacklo_epi16(a, _mm_unpackhi_epi64(b, b));
            const V t1 = _mm_unpacklo_epi16(_mm_unpackhi_epi64(a, a), c);
            const V t2 = _mm_unpacklo_epi16(b, _mm_unpackhi_epi64(c, c));
            a = t0;
            b = t1;
            c = t2;
        }
        luma = a;
        const __m128 lo = _mm_castsi128_ps(_mm_unpacklo_epi16(b, c));  // cb0 cr0 cb1 cr1 ..
        const __m128 hi = _mm_castsi128_ps(_mm_unpackhi_epi16(b, c));
        evenChroma = _mm_castps_si128(_mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0)));
        oddChroma = _mm_castps_si128(_mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1)));
    }
    /// The way back: eight pixels from their luma and the even pixels' cb and cr,
    /// each odd pixel taking the chroma of the even pixel before it.
    static void join(V luma, V evenChroma, PIXEL_YC *pixels) noexcept {
        const __m128 lo = _mm_castsi128_ps(_mm_unpacklo_epi16(evenChroma, evenChroma));  // cb0 cb0 cr0 cr0 ..
        const __m128 hi = _mm_castsi128_ps(_mm_unpackhi_epi16(evenChroma, evenChroma));
        const V cb = _mm_castps_si128(_mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0)));
        const V cr = _mm_castps_si128(_mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1)));
        alignas(16) std::int16_t y[8], b[8], r[8];
        _mm_store_si128(reinterpret_cast<__m128i *>(y), luma);
        _mm_store_si128(reinterpret_cast<__m128i *>(b), cb);
        _mm_store_si128(reinterpret_cast<__m128i *>(r), cr);
        for (int i = 0; i < 8; ++i) pixels[i] = {y[i], b[i], r[i]};
    }
};

}  // namespace
}  // namespace prefilter
