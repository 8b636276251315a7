// The block pass unit by unit, two units side by side in 16 lanes of 16 bits: unit
// X in the low 128 bits, unit X + 4 in the high ones. Every AVX2 step used here
// works within each 128-bit half, so each unit goes through exactly the SSE2
// kernel's operations; a row's odd unit out is done with the SSE2 lanes. It serves
// what the row kernel (block_nr_avx2.cpp) does not cover. Chosen at load only on
// processors and systems that run AVX2 (cpuHasAvx2). Intrinsics only, none limited
// to 64-bit code: the 32-bit module builds this file too.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "prefilter/lane_kernels.h"
#include "prefilter/prefilter.h"

namespace {

struct Avx2Lanes {
    using V = __m256i;
    using F = __m256;
    static constexpr int kUnits = 2;

    // A unit is bytes 0-7 and 12-19 from its pixel X, so the two units are bytes
    // 0-7, 12-19 | 24-31, 36-43: the low and the high 8 bytes of each half of two
    // 32-byte loads 12 bytes apart. The reads stay within those of the units' 8-byte loads.
    static V loadUnits(const PIXEL_YC *row, std::ptrdiff_t x) noexcept {
        const char *p = reinterpret_cast<const char *>(row + x);
        const __m256i at0 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
        const __m256i at12 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + 12));
        return _mm256_blend_epi32(_mm256_unpacklo_epi64(at0, at12), _mm256_unpackhi_epi64(at0, at12), 0xF0);
    }
    static V repeat(__m128i unit) noexcept { return _mm256_broadcastsi128_si256(unit); }
    static V units(__m128i first, __m128i second) noexcept {
        return _mm256_inserti128_si256(_mm256_castsi128_si256(first), second, 1);
    }
    static void storeUnits(PIXEL_YC *out, V v) noexcept {
        prefilter::storeUnit(out, _mm256_castsi256_si128(v));
        prefilter::storeUnit(out + 4, _mm256_extracti128_si256(v, 1));
    }
    static void addUnits(PIXEL_YC *out, const PIXEL_YC *in, V v) noexcept {
        prefilter::addUnit(out, in, _mm256_castsi256_si128(v));
        prefilter::addUnit(out + 4, in + 4, _mm256_extracti128_si256(v, 1));
    }
    static V zero() noexcept { return _mm256_setzero_si256(); }
    static V set1(std::int16_t v) noexcept { return _mm256_set1_epi16(v); }
    static V adds(V a, V b) noexcept { return _mm256_adds_epi16(a, b); }
    static V subs(V a, V b) noexcept { return _mm256_subs_epi16(a, b); }
    static V sub(V a, V b) noexcept { return _mm256_sub_epi16(a, b); }
    static V max(V a, V b) noexcept { return _mm256_max_epi16(a, b); }
    static V cmplt(V a, V b) noexcept { return _mm256_cmpgt_epi16(b, a); }
    static V cmpgt(V a, V b) noexcept { return _mm256_cmpgt_epi16(a, b); }
    static V cmpeq(V a, V b) noexcept { return _mm256_cmpeq_epi16(a, b); }
    static V bitAnd(V a, V b) noexcept { return _mm256_and_si256(a, b); }
    static V bitOr(V a, V b) noexcept { return _mm256_or_si256(a, b); }
    static V andNot(V mask, V v) noexcept { return _mm256_andnot_si256(mask, v); }
    // The masks are whole 16-bit lanes, so a byte-wise blend picks what and-or would.
    static V select(V mask, V ifSet, V ifClear) noexcept { return _mm256_blendv_epi8(ifClear, ifSet, mask); }
    static V widenLow(V v, V with) noexcept { return _mm256_unpacklo_epi16(v, with); }
    static V widenHigh(V v, V with) noexcept { return _mm256_unpackhi_epi16(v, with); }
    static V shiftRight32(V v) noexcept { return _mm256_srai_epi32(v, 16); }
    static F toFloat(V v) noexcept { return _mm256_cvtepi32_ps(v); }
    static F reciprocal(F v) noexcept { return _mm256_rcp_ps(v); }
    static F mul(F a, F b) noexcept { return _mm256_mul_ps(a, b); }
    static F add(F a, F b) noexcept { return _mm256_add_ps(a, b); }
    static F set1(float v) noexcept { return _mm256_set1_ps(v); }
    static V truncate(F v) noexcept { return _mm256_cvttps_epi32(v); }
    static V pack32(V lo, V hi) noexcept { return _mm256_packs_epi32(lo, hi); }
    static V shiftRight3(V v) noexcept { return _mm256_srai_epi16(v, 3); }
};

}  // namespace

void blockNrUnitsAvx2(int rowBegin, int rowEnd, int fieldCount, const FILTER_PROC_INFO *fpip,
                      const PIXEL_YC *source, int strengthA, int strengthB, bool animeMode,
                      int /*thread_id*/) noexcept {
    alignas(32) __m256i window[25];
    alignas(16) __m128i windowOfOne[25];
    prefilter::blockNrRowsWith<Avx2Lanes>(rowBegin, rowEnd, fieldCount, fpip, source, strengthA, strengthB,
                                          animeMode, window, windowOfOne);
}
