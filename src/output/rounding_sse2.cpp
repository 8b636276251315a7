// The rounding pass on SSE2, a 4 x 4 block per step in two vectors of eight 16-bit
// lanes per component (rows 0 and 1, rows 2 and 3): the body of rounding_lanes.h.
// The block's pixels are split into Y, Cb and Cr vectors in pixel order, the
// remainder entries the block touches ride along in registers, and the sixteen
// register states of the block are read from the registers' sequence. Matches
// roundingRowsScalar exactly.
#include <emmintrin.h>

#include <cstdint>

#include "output/rounding.h"
#include "output/rounding_lanes.h"

namespace {

struct Sse2Block {
    struct V {
        __m128i h[2];
    };

    static V fromHalves(__m128i lo, __m128i hi) noexcept { return {{lo, hi}}; }
    template <int k>
    static __m128i half(V v) noexcept {
        return v.h[k];
    }

    // Each operation on both halves.
    template <class Op>
    static V each(V a, V b, Op op) noexcept {
        return {{op(a.h[0], b.h[0]), op(a.h[1], b.h[1])}};
    }
    template <class Op>
    static V each(V a, Op op) noexcept {
        return {{op(a.h[0]), op(a.h[1])}};
    }

    static V unpackLo16(V a, V b) noexcept { return each(a, b, [](__m128i x, __m128i y) { return _mm_unpacklo_epi16(x, y); }); }
    static V unpackHi16(V a, V b) noexcept { return each(a, b, [](__m128i x, __m128i y) { return _mm_unpackhi_epi16(x, y); }); }
    static V unpackLo32(V a, V b) noexcept { return each(a, b, [](__m128i x, __m128i y) { return _mm_unpacklo_epi32(x, y); }); }
    static V unpackHi64(V a) noexcept { return each(a, [](__m128i x) { return _mm_unpackhi_epi64(x, x); }); }
    static V shiftOut16(V a) noexcept { return each(a, [](__m128i x) { return _mm_srli_si128(x, 2); }); }
    template <int imm>
    static V pick32(V a, V b) noexcept {
        return each(a, b, [](__m128i x, __m128i y) {
            return _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(x), _mm_castsi128_ps(y), imm));
        });
    }

    static V load(const std::int16_t *p) noexcept {
        return {{_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)),
                 _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 8))}};
    }
    static void store(std::int16_t *p, V v) noexcept {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v.h[0]);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p + 8), v.h[1]);
    }
    static V set1(std::int16_t x) noexcept { return {{_mm_set1_epi16(x), _mm_set1_epi16(x)}}; }
    static V bitAnd(V a, V b) noexcept { return each(a, b, [](__m128i x, __m128i y) { return _mm_and_si128(x, y); }); }
    static V bitXor(V a, V b) noexcept { return each(a, b, [](__m128i x, __m128i y) { return _mm_xor_si128(x, y); }); }
    static V add(V a, V b) noexcept { return each(a, b, [](__m128i x, __m128i y) { return _mm_add_epi16(x, y); }); }
    static V sub(V a, V b) noexcept { return each(a, b, [](__m128i x, __m128i y) { return _mm_sub_epi16(x, y); }); }
    static V adds(V a, V b) noexcept { return each(a, b, [](__m128i x, __m128i y) { return _mm_adds_epi16(x, y); }); }
    static V mullo(V a, V b) noexcept { return each(a, b, [](__m128i x, __m128i y) { return _mm_mullo_epi16(x, y); }); }
    template <int n>
    static V shiftRight(V a) noexcept {
        return each(a, [](__m128i x) { return _mm_srai_epi16(x, n); });
    }

    static int smallest(V v) noexcept {
        return across(_mm_min_epi16(v.h[0], v.h[1]), [](__m128i x, __m128i y) { return _mm_min_epi16(x, y); });
    }
    static int largest(V v) noexcept {
        return across(_mm_max_epi16(v.h[0], v.h[1]), [](__m128i x, __m128i y) { return _mm_max_epi16(x, y); });
    }
    // op of the eight lanes, pairwise.
    template <class Op>
    static int across(__m128i m, Op op) noexcept {
        m = op(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(1, 0, 3, 2)));
        m = op(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(2, 3, 0, 1)));
        m = op(m, _mm_shufflelo_epi16(m, _MM_SHUFFLE(2, 3, 0, 1)));
        return static_cast<std::int16_t>(_mm_cvtsi128_si32(m));
    }
    static int firstLane(V v) noexcept { return static_cast<std::int16_t>(_mm_cvtsi128_si32(v.h[0])); }
    static V shiftIn(V v, std::int16_t x) noexcept {
        const __m128i incoming = _mm_slli_si128(_mm_cvtsi32_si128(static_cast<std::uint16_t>(x)), 14);
        return {{_mm_or_si128(_mm_srli_si128(v.h[0], 2), _mm_slli_si128(v.h[1], 14)),
                 _mm_or_si128(_mm_srli_si128(v.h[1], 2), incoming)}};
    }
};

}  // namespace

void roundingGroupsSse2(const FILTER_PROC_INFO *fpip, RoundingPass &pass, int f, int yBegin, int yEnd) noexcept {
    roundImageGroups<Sse2Block>(fpip, pass, f, yBegin, yEnd);
}

void roundingGroupSamplesSse2(RoundingPass &pass, int w, const RoundingGroupSamples &group) noexcept {
    roundGroup<Sse2Block>(
        pass, w, [&](int b, Sse2Block::V value[3]) noexcept { loadSamples<Sse2Block>(group, b, value); },
        [&](int b, const Sse2Block::V value[3]) noexcept { storeBlock<Sse2Block>(group.out, b, value); });
}
