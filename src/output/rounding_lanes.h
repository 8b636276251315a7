// The rounding pass over a 4 x 4 block in sixteen 16-bit lanes per component,
// written once over a block type B so that the SSE2 build (two 128-bit vectors)
// and the AVX2 build (one 256-bit vector) perform the same operations in the same
// order, lane by lane. Lanes 0-7 hold rows 0 and 1 of the block, lanes 8-15 rows 2
// and 3, each half in pixel order; every layout move works within a half.
//
// A block type B gives the vector B::V of sixteen lanes and:
//   fromHalves(lo, hi) and half<k>(v) between V and its two 128-bit halves;
//   within each half: unpackLo16, unpackLo32, unpackHi16, unpackHi64 (of v with
//   itself), shiftOut16 (lanes down by one, zero in), pick32<imm> (two 32-bit lanes
//   of a and two of b, as shufps picks them);
//   load and store of sixteen values, set1, bitAnd, bitXor, add, sub, adds, mullo,
//   shiftRight (arithmetic, by an immediate), smallest and largest (signed, of all
//   sixteen lanes), firstLane, and shiftIn(v, x): the lanes down by one, x last.
//
// Everything here has internal linkage, so that the AVX2 file's copy (compiled
// with AVX) is never shared with the other files: no helper from elsewhere that
// is inline with external linkage (std::min, std::clamp, rounding::blockLevels)
// is called from here.
#pragma once

#include <emmintrin.h>

#include <cstdint>
#include <cstring>

#include "abi/host_api.h"
#include "output/rounding.h"
#include "output/rounding_internal.h"

namespace {

using rounding::kBusyLimit;
using rounding::kGridMask;
using rounding::kLowMask;
using rounding::kMaxStart;
using rounding::kMinStart;

// ---- Pixel layout ------------------------------------------------------------

// Two rows of a block are 24 interleaved values y c r y c r ...; this turns them
// into Y, Cb and Cr vectors in pixel order. One round sends the value at
// position x of the 24 to position 2x mod 23; three rounds multiply by 8, which
// takes 3i + ch to 8ch + i.
template <class B>
[[gnu::always_inline]] inline void splitComponents(typename B::V &a, typename B::V &b, typename B::V &c) noexcept {
    for (int round = 0; round < 3; ++round) {
        const typename B::V t0 = B::unpackLo16(a, B::unpackHi64(b));
        const typename B::V t1 = B::unpackLo16(B::unpackHi64(a), c);
        const typename B::V t2 = B::unpackLo16(b, B::unpackHi64(c));
        a = t0;
        b = t1;
        c = t2;
    }
}

// The reverse: Y, Cb, Cr vectors back to 24 interleaved values, assembled from
// 32-bit pairs (y c), (r y') and (c r).
template <class B>
[[gnu::always_inline]] inline void joinComponents(typename B::V y, typename B::V cb, typename B::V cr,
                                                  typename B::V &a, typename B::V &b, typename B::V &c) noexcept {
    using V = typename B::V;
    const V ycLo = B::unpackLo16(y, cb);  // y0c0 y1c1 y2c2 y3c3
    const V ycHi = B::unpackHi16(y, cb);  // y4c4 .. y7c7
    const V yNext = B::shiftOut16(y);
    const V ryLo = B::unpackLo16(cr, yNext);  // r0y1 r1y2 r2y3 r3y4
    const V ryHi = B::unpackHi16(cr, yNext);  // r4y5 r5y6 r6y7 r7--
    const V crLo = B::unpackLo16(cb, cr);     // c0r0 .. c3r3
    const V crHi = B::unpackHi16(cb, cr);     // c4r4 .. c7r7
    // a = y0c0 r0y1 c1r1 y2c2
    a = B::template pick32<_MM_SHUFFLE(2, 0, 1, 0)>(B::unpackLo32(ycLo, ryLo),
                                                    B::template pick32<_MM_SHUFFLE(2, 2, 1, 1)>(crLo, ycLo));
    // b = r2y3 c3r3 y4c4 r4y5
    b = B::template pick32<_MM_SHUFFLE(1, 0, 2, 0)>(B::template pick32<_MM_SHUFFLE(3, 3, 2, 2)>(ryLo, crLo),
                                                    B::unpackLo32(ycHi, ryHi));
    // c = c5r5 y6c6 r6y7 c7r7
    c = B::template pick32<_MM_SHUFFLE(2, 0, 2, 0)>(B::template pick32<_MM_SHUFFLE(2, 2, 1, 1)>(crHi, ycHi),
                                                    B::template pick32<_MM_SHUFFLE(3, 3, 2, 2)>(ryHi, crHi));
}

// Pixels 4b .. 4b + 3 of two rows: exactly the block's 24 bytes of each row.
inline void loadRowPair(const PIXEL_YC *top, const PIXEL_YC *bottom, __m128i &a, __m128i &m, __m128i &c) noexcept {
    const auto *p0 = reinterpret_cast<const char *>(top);
    const auto *p1 = reinterpret_cast<const char *>(bottom);
    a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p0));
    m = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p0 + 16)),
                           _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p1)));
    c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p1 + 8));
}

inline void storeRowPair(PIXEL_YC *top, PIXEL_YC *bottom, __m128i a, __m128i m, __m128i c) noexcept {
    auto *p0 = reinterpret_cast<char *>(top);
    auto *p1 = reinterpret_cast<char *>(bottom);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p0), a);
    _mm_storel_epi64(reinterpret_cast<__m128i *>(p0 + 16), m);
    _mm_storeh_pd(reinterpret_cast<double *>(p1), _mm_castsi128_pd(m));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p1 + 8), c);
}

// Block b of four image rows into value[c] (pixel order j = 4k + p).
template <class B>
[[gnu::always_inline]] inline void loadBlock(PIXEL_YC *const row[4], int b, typename B::V value[3]) noexcept {
    __m128i a0, m0, c0, a1, m1, c1;
    loadRowPair(row[0] + 4 * b, row[1] + 4 * b, a0, m0, c0);
    loadRowPair(row[2] + 4 * b, row[3] + 4 * b, a1, m1, c1);
    typename B::V a = B::fromHalves(a0, a1), m = B::fromHalves(m0, m1), c = B::fromHalves(c0, c1);
    splitComponents<B>(a, m, c);
    value[0] = a;
    value[1] = m;
    value[2] = c;
}

// The rounded block back into four image rows.
template <class B>
[[gnu::always_inline]] inline void storeBlock(PIXEL_YC *const row[4], int b, const typename B::V value[3]) noexcept {
    typename B::V a, m, c;
    joinComponents<B>(value[0], value[1], value[2], a, m, c);
    storeRowPair(row[0] + 4 * b, row[1] + 4 * b, B::template half<0>(a), B::template half<0>(m),
                 B::template half<0>(c));
    storeRowPair(row[2] + 4 * b, row[3] + 4 * b, B::template half<1>(a), B::template half<1>(m),
                 B::template half<1>(c));
}

// The half-width chroma of block b in two rows, as two 32-bit pairs side by side.
inline __m128i chromaPairs(const std::int16_t *top, const std::int16_t *bottom, int b) noexcept {
    std::int32_t t, u;
    std::memcpy(&t, top + 2 * b, 4);
    std::memcpy(&u, bottom + 2 * b, 4);
    return _mm_unpacklo_epi32(_mm_cvtsi32_si128(t), _mm_cvtsi32_si128(u));
}

// Block b from a group's samples: luma as it is, each chroma value doubled to the
// two columns it covers.
template <class B>
[[gnu::always_inline]] inline void loadSamples(const RoundingGroupSamples &g, int b, typename B::V value[3]) noexcept {
    const auto luma = [&](int k) noexcept {
        return _mm_loadl_epi64(reinterpret_cast<const __m128i *>(g.luma[k] + 4 * b));
    };
    value[0] = B::fromHalves(_mm_unpacklo_epi64(luma(0), luma(1)), _mm_unpacklo_epi64(luma(2), luma(3)));
    const typename B::V cb = B::fromHalves(chromaPairs(g.cb[0], g.cb[1], b), chromaPairs(g.cb[2], g.cb[3], b));
    const typename B::V cr = B::fromHalves(chromaPairs(g.cr[0], g.cr[1], b), chromaPairs(g.cr[2], g.cr[3], b));
    value[1] = B::unpackLo16(cb, cb);
    value[2] = B::unpackLo16(cr, cr);
}

// ---- Gains ----------------------------------------------------------------------

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

inline int clampLevel(int v, int low, int high) noexcept { return v < low ? low : v > high ? high : v; }
inline int magnitude(int v) noexcept { return v < 0 ? -v : v; }

// A block's gains, each broadcast to every lane: carry for bright flat blocks,
// dither for dark ones, both 0 in a busy block (which makes the update the plain
// rounding to the nearest multiple of 16).
template <class B>
struct BlockGains {
    typename B::V carry[3], noise[3];
};

template <class B>
[[gnu::always_inline]] inline BlockGains<B> blockGains(const typename B::V value[3], int levelLow, int levelHigh,
                                                       const Divider &divideBySpan) noexcept {
    int blockMin[3], blockMax[3];
#pragma GCC unroll 3
    for (int c = 0; c < 3; ++c) {
        const int mn = B::smallest(value[c]), mx = B::largest(value[c]);
        blockMin[c] = mn < kMinStart ? mn : kMinStart;
        blockMax[c] = mx > kMaxStart ? mx : kMaxStart;
    }
    const bool busy = blockMax[0] - blockMin[0] > kBusyLimit || blockMax[1] - blockMin[1] > kBusyLimit ||
                      blockMax[2] - blockMin[2] > kBusyLimit;
    // The block's brightness m, or, in a block darker than the low level, each
    // chroma's own minimum.
    int level[3];
    const int m = (blockMin[0] + magnitude(blockMin[1]) + magnitude(blockMin[2])) / 4;
    level[0] = clampLevel(m, levelLow, levelHigh);
    if (m >= levelLow) {
        level[1] = level[2] = level[0];
    } else {
        level[0] = levelLow;
        level[1] = clampLevel(blockMin[1], levelLow, levelHigh);
        level[2] = clampLevel(blockMin[2], levelLow, levelHigh);
    }
    const int keep = busy ? 0 : -1;
    BlockGains<B> g;
#pragma GCC unroll 3
    for (int c = 0; c < 3; ++c) {
        g.noise[c] = B::set1(static_cast<std::int16_t>(divideBySpan((levelHigh - level[c]) * 8) & keep));
        g.carry[c] = B::set1(static_cast<std::int16_t>(divideBySpan((level[c] - levelLow) * 8) & keep));
    }
    return g;
}

// ---- The blocks of a group ------------------------------------------------------

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

// What runs on from block to block of a group: the remainder windows (entries
// b .. b + 15 of each array for block b) and the registers' places in their sequence.
template <class B>
struct GroupState {
    using V = typename B::V;
    std::int16_t *const *rem;
    int blocks;
    V parityMask;
    V window[3];
    rounding::RegisterCursor lane[3];

    GroupState(RoundingPass &pass, int w) noexcept
        : rem(pass.rem), blocks(w / 4), parityMask(B::set1(pass.oddFrame ? -1 : 0)) {
        for (int c = 0; c < 3; ++c) {
            window[c] = B::load(rem[c]);
            lane[c] = rounding::registerCursor(pass.lane[c]);
        }
    }
    void finish(RoundingPass &pass) const noexcept {
        for (int i = 0; i < 3; ++i) pass.lane[i] = lane[i].states[0];
    }

    // Block b with its gains: every pixel feeds its low bits into its own remainder
    // entry, the carries come from the window, one register step per pixel dithers
    // each component, and the window moves on by one, entry b final and back to memory.
    [[gnu::always_inline]] void round(int b, V value[3], const BlockGains<B> &gains) noexcept {
        const V lowMask = B::set1(kLowMask);
        const V gridMask = B::set1(static_cast<std::int16_t>(kGridMask));
#pragma GCC unroll 3
        for (int c = 0; c < 3; ++c) {
            const V v = value[c];
            const V low = B::bitAnd(v, lowMask);
            const V s = B::adds(window[c], low);
            window[c] = B::bitAnd(s, lowMask);
            const V carry = B::bitAnd(s, gridMask);
            const V states = B::load(reinterpret_cast<const std::int16_t *>(lane[c].states + 1));
            advance(lane[c], 16);
            const V n = B::template shiftRight<11>(B::bitXor(states, parityMask));
            V t = B::add(B::mullo(gains.carry[c], B::sub(carry, low)), B::mullo(gains.noise[c], n));
            t = B::template shiftRight<3>(B::add(t, B::set1(4)));
            value[c] = B::bitAnd(B::add(B::add(v, t), B::set1(8)), gridMask);
            if (b + 1 < blocks) {
                rem[c][b] = static_cast<std::int16_t>(B::firstLane(window[c]));
                window[c] = B::shiftIn(window[c], rem[c][b + 16]);
            } else {
                B::store(rem[c] + b, window[c]);
            }
        }
    }
};

// The pass's next group: load(b, value) gives block b's components, store(b,
// value) takes them rounded.
template <class B, class Load, class Store>
[[gnu::always_inline]] inline void roundGroup(RoundingPass &pass, int w, Load load, Store store) noexcept {
    const int levelLow = pass.levelLow, levelHigh = pass.levelHigh;
    const Divider divideBySpan(levelHigh - levelLow);
    GroupState<B> group(pass, w);
    for (int b = 0; b < group.blocks; ++b) {
        typename B::V value[3];
        load(b, value);
        group.round(b, value, blockGains<B>(value, levelLow, levelHigh, divideBySpan));
        store(b, value);
    }
    group.finish(pass);
}

// The groups of field f from row yBegin on, in the image.
template <class B>
void roundImageGroups(const FILTER_PROC_INFO *fpip, RoundingPass &pass, int f, int yBegin, int yEnd) noexcept {
    for (int y = yBegin; y < yEnd; y += 4 * pass.fieldStep) {
        PIXEL_YC *row[4];
        for (int k = 0; k < 4; ++k) row[k] = fpip->ycp_edit + static_cast<long>(y + f + k * pass.fieldStep) * fpip->max_w;
        roundGroup<B>(
            pass, fpip->w, [&](int b, typename B::V value[3]) noexcept { loadBlock<B>(row, b, value); },
            [&](int b, const typename B::V value[3]) noexcept { storeBlock<B>(row, b, value); });
    }
}

}  // namespace
