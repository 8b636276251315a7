// The SSE2 pieces the rounding kernels share: a block's pixels split into Y, Cb and
// Cr vectors in pixel order and joined back, from the image or from a stage's
// samples, the block's extremes, the gains' division and the dither registers
// read from their sequence. Everything here has internal linkage, so that the AVX2
// file's copy (compiled with AVX) is never shared with the other files.
#pragma once

#include <emmintrin.h>

#include <cstdint>
#include <cstring>

#include "abi/host_api.h"
#include "output/rounding.h"
#include "output/rounding_internal.h"

namespace {

// ---- Pixel layout ------------------------------------------------------------

// Two rows of a block are 24 interleaved values y c r y c r ...; this turns them
// into Y, Cb and Cr vectors in pixel order. One round sends the value at
// position x of the 24 to position 2x mod 23; three rounds multiply by 8, which
// takes 3i + ch to 8ch + i.
inline void splitComponents(__m128i &a, __m128i &b, __m128i &c) noexcept {
    for (int round = 0; round < 3; ++round) {
        const __m128i t0 = _mm_unpacklo_epi16(a, _mm_unpackhi_epi64(b, b));
        const __m128i t1 = _mm_unpacklo_epi16(_mm_unpackhi_epi64(a, a), c);
        const __m128i t2 = _mm_unpacklo_epi16(b, _mm_unpackhi_epi64(c, c));
        a = t0;
        b = t1;
        c = t2;
    }
}

// Two 32-bit lanes from a, then two from b (the float shuffle only moves bits).
template <int imm>
inline __m128i pick32(__m128i a, __m128i b) noexcept {
    return _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), imm));
}

// The reverse: Y, Cb, Cr vectors back to 24 interleaved values, assembled from
// 32-bit pairs (y c), (r y') and (c r).
inline void joinComponents(__m128i y, __m128i cb, __m128i cr, __m128i &a, __m128i &b,
                           __m128i &c) noexcept {
    const __m128i ycLo = _mm_unpacklo_epi16(y, cb);  // y0c0 y1c1 y2c2 y3c3
    const __m128i ycHi = _mm_unpackhi_epi16(y, cb);  // y4c4 .. y7c7
    const __m128i yNext = _mm_srli_si128(y, 2);
    const __m128i ryLo = _mm_unpacklo_epi16(cr, yNext);  // r0y1 r1y2 r2y3 r3y4
    const __m128i ryHi = _mm_unpackhi_epi16(cr, yNext);  // r4y5 r5y6 r6y7 r7--
    const __m128i crLo = _mm_unpacklo_epi16(cb, cr);     // c0r0 .. c3r3
    const __m128i crHi = _mm_unpackhi_epi16(cb, cr);     // c4r4 .. c7r7

    // a = y0c0 r0y1 c1r1 y2c2
    a = pick32<_MM_SHUFFLE(2, 0, 1, 0)>(_mm_unpacklo_epi32(ycLo, ryLo),
                                        pick32<_MM_SHUFFLE(2, 2, 1, 1)>(crLo, ycLo));
    // b = r2y3 c3r3 y4c4 r4y5
    b = pick32<_MM_SHUFFLE(1, 0, 2, 0)>(pick32<_MM_SHUFFLE(3, 3, 2, 2)>(ryLo, crLo),
                                        _mm_unpacklo_epi32(ycHi, ryHi));
    // c = c5r5 y6c6 r6y7 c7r7
    c = pick32<_MM_SHUFFLE(2, 0, 2, 0)>(pick32<_MM_SHUFFLE(2, 2, 1, 1)>(crHi, ycHi),
                                        pick32<_MM_SHUFFLE(3, 3, 2, 2)>(ryHi, crHi));
}

// Pixels 4b .. 4b + 3 of two rows: exactly the block's 24 bytes of each row.
inline void loadRowPair(const PIXEL_YC *top, const PIXEL_YC *bottom, __m128i out[3]) noexcept {
    const auto *p0 = reinterpret_cast<const char *>(top);
    const auto *p1 = reinterpret_cast<const char *>(bottom);
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p0));
    __m128i b = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p0 + 16)),
                                   _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p1)));
    __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p1 + 8));
    splitComponents(a, b, c);
    out[0] = a;
    out[1] = b;
    out[2] = c;
}

inline void storeRowPair(PIXEL_YC *top, PIXEL_YC *bottom, __m128i y, __m128i cb,
                         __m128i cr) noexcept {
    __m128i a, b, c;
    joinComponents(y, cb, cr, a, b, c);
    auto *p0 = reinterpret_cast<char *>(top);
    auto *p1 = reinterpret_cast<char *>(bottom);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p0), a);
    _mm_storel_epi64(reinterpret_cast<__m128i *>(p0 + 16), b);
    _mm_storel_epi64(reinterpret_cast<__m128i *>(p1), _mm_unpackhi_epi64(b, b));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p1 + 8), c);
}

inline int horizontalMin(__m128i v) noexcept {
    v = _mm_min_epi16(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = _mm_min_epi16(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
    v = _mm_min_epi16(v, _mm_shufflelo_epi16(v, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<std::int16_t>(_mm_cvtsi128_si32(v));
}

inline int horizontalMax(__m128i v) noexcept {
    v = _mm_max_epi16(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = _mm_max_epi16(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
    v = _mm_max_epi16(v, _mm_shufflelo_epi16(v, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<std::int16_t>(_mm_cvtsi128_si32(v));
}

// floor(x / span) for 0 <= x <= 8 * 16352 and 1 <= span <= 16352, by multiplying
// with ceil(2^32 / span): the error stays below 2^-15, under the 1 / span gap
// between a non-integer quotient and the next integer.
struct Divider {
    std::uint64_t magic;
    explicit Divider(int span) noexcept
        : magic((std::uint64_t{1} << 32) / static_cast<std::uint64_t>(span) + 1) {}
    int operator()(int x) const noexcept {
        return static_cast<int>((static_cast<std::uint64_t>(x) * magic) >> 32);
    }
};

// The half-width chroma of block b in two rows, doubled to the block's four
// columns of each: eight values in pixel order.
inline __m128i loadChromaPair(const std::int16_t *top, const std::int16_t *bottom, int b) noexcept {
    std::int32_t t, u;
    std::memcpy(&t, top + 2 * b, 4);
    std::memcpy(&u, bottom + 2 * b, 4);
    const __m128i pairs = _mm_unpacklo_epi32(_mm_cvtsi32_si128(t), _mm_cvtsi32_si128(u));
    return _mm_unpacklo_epi16(pairs, pairs);
}

// Block b of a group from its samples: rows 2h and 2h + 1 into value[c] (pixel order).
inline void loadSamplePair(const RoundingGroupSamples &g, int h, int b, __m128i value[3]) noexcept {
    const int k = 2 * h;
    value[0] = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(g.luma[k] + 4 * b)),
                                  _mm_loadl_epi64(reinterpret_cast<const __m128i *>(g.luma[k + 1] + 4 * b)));
    value[1] = loadChromaPair(g.cb[k], g.cb[k + 1], b);
    value[2] = loadChromaPair(g.cr[k], g.cr[k + 1], b);
}

// A register's next steps, read from the sequence: its states after 1 .. n steps
// start at states + 1; then it moves on by n.
inline void advance(rounding::RegisterCursor &cursor, int n) noexcept {
    cursor.states += n * cursor.stride;
    cursor.position += n * cursor.stride;
    if (cursor.position >= rounding::kPeriod) {
        cursor.position -= rounding::kPeriod;
        cursor.states -= rounding::kPeriod;
    }
}

}  // namespace
