// The pre-passes' lane type for AVX2: sixteen 16-bit values a vector, the same
// operations as lanes_sse2.h with the same result lane by lane. Where a step moves
// values between lanes it keeps to each 128-bit half, as the SSE2 type keeps to
// its one vector, so the bodies see the same lane order.
//
// Included only by the AVX2 kernel files, and with internal linkage: see
// prefilter_common.h.
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "prefilter/prefilter_common.h"

namespace prefilter {
namespace {

/// Three byte shuffles that move 16-bit values within each 128-bit half: value i
/// of part p takes value from(p, i), or zero where that is negative.
struct WordMoves {
    alignas(16) std::int8_t part[3][16];
};
template <class From>
constexpr WordMoves wordMoves(From from) {
    WordMoves g{};
    for (int p = 0; p < 3; ++p)
        for (int i = 0; i < 8; ++i) {
            const int f = from(p, i);
            g.part[p][2 * i] = static_cast<std::int8_t>(f < 0 ? -128 : 2 * f);
            g.part[p][2 * i + 1] = static_cast<std::int8_t>(f < 0 ? -128 : 2 * f + 1);
        }
    return g;
}

// cb, cr of pixels 0, 2, 4, 6 and of 1, 3, 5, 7: values 3 x pixel + 1 and + 2.
constexpr int chromaValue(int q, int odd) { return 3 * (2 * (q / 2) + odd) + 1 + q % 2; }

// Luma of eight pixels from their 24 values: value 3q of the three parts.
constexpr WordMoves kLumaGather = wordMoves([](int p, int q) {
    const int e = 3 * q;
    return e / 8 == p ? e % 8 : -1;
});

// Luma lane q of sixteen pixels to value 3q of their 48 (three 8-value parts of
// each half; the other values zero).
constexpr WordMoves kLumaScatter = wordMoves([](int p, int i) {
    const int e = 8 * p + i;
    return e % 3 == 0 ? e / 3 : -1;
});

constexpr WordMoves kGatherEven = wordMoves([](int p, int q) {
    const int e = chromaValue(q, 0);
    return e / 8 == p ? e % 8 : -1;
});

constexpr WordMoves kGatherOdd = wordMoves([](int p, int q) {
    const int e = chromaValue(q, 1);
    return e / 8 == p ? e % 8 : -1;
});

// The way back for cb and cr: stored value e (of 24) of part e / 8 takes the even
// pixel's chroma lane (pixel & ~1) + component - 1.
constexpr WordMoves kScatterChroma = wordMoves([](int p, int i) {
    const int e = 8 * p + i;
    return e % 3 == 0 ? -1 : ((e / 3) & ~1) + e % 3 - 1;
});

struct Avx2Lanes {
    using V = __m256i;
    using F = __m256;
    static constexpr int kLanes = 16;

    static V load(const std::int16_t *p) noexcept { return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)); }
    static void store(std::int16_t *p, V v) noexcept { _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v); }
    static V zero() noexcept { return _mm256_setzero_si256(); }
    static V set1(std::int16_t v) noexcept { return _mm256_set1_epi16(v); }
    static V add(V a, V b) noexcept { return _mm256_add_epi16(a, b); }
    static V sub(V a, V b) noexcept { return _mm256_sub_epi16(a, b); }
    static V adds(V a, V b) noexcept { return _mm256_adds_epi16(a, b); }
    static V subs(V a, V b) noexcept { return _mm256_subs_epi16(a, b); }
    static V addsUnsigned(V a, V b) noexcept { return _mm256_adds_epu16(a, b); }
    static V limitUnsigned(V v) noexcept { return _mm256_min_epu16(v, _mm256_set1_epi16(32767)); }
    /// |v| taken unsigned (|-32768| is 32768), then limited to 32767.
    static V magnitude(V v) noexcept { return _mm256_min_epu16(_mm256_abs_epi16(v), _mm256_set1_epi16(32767)); }
    /// |v| for v above -32768.
    static V abs(V v) noexcept { return _mm256_abs_epi16(v); }
    /// The magnitudes taken unsigned, added with unsigned saturation and then limited
    /// to 32767: the SSE2 type's value (each magnitude limited, added with signed
    /// saturation) in fewer steps.
    static V magnitudeSum(V x, V y) noexcept {
        return _mm256_min_epu16(_mm256_adds_epu16(_mm256_abs_epi16(x), _mm256_abs_epi16(y)), _mm256_set1_epi16(32767));
    }
    static V max(V a, V b) noexcept { return _mm256_max_epi16(a, b); }
    static V min(V a, V b) noexcept { return _mm256_min_epi16(a, b); }
    static V cmpgt(V a, V b) noexcept { return _mm256_cmpgt_epi16(a, b); }
    static V cmpeq(V a, V b) noexcept { return _mm256_cmpeq_epi16(a, b); }
    static V bitAnd(V a, V b) noexcept { return _mm256_and_si256(a, b); }
    static V bitOr(V a, V b) noexcept { return _mm256_or_si256(a, b); }
    static V andNot(V mask, V v) noexcept { return _mm256_andnot_si256(mask, v); }
    /// vpblendvb itself: the compiler's form of the intrinsic first tests the sign of
    /// every byte of the mask again, one more instruction in the passes' inner loops.
    static V select(V mask, V ifSet, V ifClear) noexcept {
        V r;
        __asm__("vpblendvb %3, %2, %1, %0" : "=x"(r) : "x"(ifClear), "x"(ifSet), "x"(mask));
        return r;
    }
    static V shiftRight3(V v) noexcept { return _mm256_srai_epi16(v, 3); }
    static V shiftRight1(V v) noexcept { return _mm256_srai_epi16(v, 1); }
    static bool any(V v) noexcept { return !_mm256_testz_si256(v, v); }
    static V unitsClear(V v) noexcept { return _mm256_cmpeq_epi64(v, _mm256_setzero_si256()); }

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

    // ---- Byte shuffles between pixels as stored and value rows or planes --------

    static V twice(const std::int8_t (&mask)[16]) noexcept {
        return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(mask)));
    }
    /// Pixels 0-7 of sixteen in the low halves of the three parts, 8-15 in the high ones.
    static void loadParts(const void *pixels, V part[3]) noexcept {
        const auto *at = static_cast<const __m128i *>(pixels);
        for (int p = 0; p < 3; ++p)
            part[p] = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(at + p)),
                                              _mm_loadu_si128(at + 3 + p), 1);
    }
    static V gather(const V part[3], const WordMoves &moves) noexcept {
        return _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(part[0], twice(moves.part[0])),
                                               _mm256_shuffle_epi8(part[1], twice(moves.part[1]))),
                               _mm256_shuffle_epi8(part[2], twice(moves.part[2])));
    }

    // ---- Block pass: luma of rows as stored ----------------------------------------


    static void lumaOf(const std::int16_t *values, std::int16_t *luma, int w) noexcept {
        for (int x = 0; x < w; x += 16) {
            V part[3];
            loadParts(values + 3 * x, part);
            store(luma + x, gather(part, kLumaGather));
        }
    }
    static void takeSkinLuma(std::int16_t *correction, const std::int16_t *lumaCorrection, const std::int16_t *skin,
                             int w) noexcept {
        for (int x = 0; x < w; x += 16) {
            const V luma = load(lumaCorrection + x);  // pixels x .. x + 7, then x + 8 .. x + 15
            const V p0 = _mm256_shuffle_epi8(luma, twice(kLumaScatter.part[0]));
            const V p1 = _mm256_shuffle_epi8(luma, twice(kLumaScatter.part[1]));
            const V p2 = _mm256_shuffle_epi8(luma, twice(kLumaScatter.part[2]));
            const V spread[3] = {_mm256_permute2x128_si256(p0, p1, 0x20), _mm256_permute2x128_si256(p2, p0, 0x30),
                                 _mm256_permute2x128_si256(p1, p2, 0x31)};
            for (int v = 0; v < 3; ++v) {
                const int at = 3 * x + 16 * v;
                // E's own luma and E + 1's, three values on.
                const V take = bitOr(load(skin + at), load(skin + at - 3));
                store(correction + at, select(take, spread[v], load(correction + at)));
            }
        }
    }

    // ---- Mosquito pass: pixels as stored and planes --------------------------------


    static void split(const PIXEL_YC *pixels, V &luma, V &evenChroma, V &oddChroma) noexcept {
        V part[3];
        loadParts(pixels, part);
        luma = gather(part, kLumaGather);
        evenChroma = gather(part, kGatherEven);
        oddChroma = gather(part, kGatherOdd);
    }
    static void join(V luma, V evenChroma, PIXEL_YC *pixels) noexcept {
        auto *to = reinterpret_cast<__m128i *>(pixels);
        for (int p = 0; p < 3; ++p) {
            const V v = _mm256_or_si256(_mm256_shuffle_epi8(luma, twice(kLumaScatter.part[p])),
                                        _mm256_shuffle_epi8(evenChroma, twice(kScatterChroma.part[p])));
            _mm_storeu_si128(to + p, _mm256_castsi256_si128(v));
            _mm_storeu_si128(to + 3 + p, _mm256_extracti128_si256(v, 1));
        }
    }
};

}  // namespace
}  // namespace prefilter
