// The rounding pass with a whole 4 x 4 block in one vector of sixteen 16-bit lanes
// per component (rows 0 and 1 in the low half, 2 and 3 in the high one). Every step
// is the SSE2 pass's, lane for lane, so the frames are the same; the layout moves
// (split and join) are the SSE2 ones on both halves at once, since each of them
// works within a 128-bit half. Chosen at load only on processors and systems that
// run AVX2 (cpuHasAvx2). Intrinsics only, none limited to 64-bit code, and nothing
// shared with other files but the two kernels: the 32-bit module builds this file
// too, and code the linker may merge must not carry AVX.
#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "output/rounding.h"
#include "output/rounding_internal.h"
#include "output/rounding_lanes.h"

namespace {

using rounding::kBusyLimit;
using rounding::kGridMask;
using rounding::kLowMask;
using rounding::kMaxStart;
using rounding::kMinStart;

__m256i halves(__m128i low, __m128i high) noexcept {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
}

// splitComponents on both halves: rows 0, 1 | rows 2, 3 of a block.
[[gnu::always_inline]] inline void splitComponents4(__m256i &a, __m256i &b, __m256i &c) noexcept {
    for (int round = 0; round < 3; ++round) {
        const __m256i t0 = _mm256_unpacklo_epi16(a, _mm256_unpackhi_epi64(b, b));
        const __m256i t1 = _mm256_unpacklo_epi16(_mm256_unpackhi_epi64(a, a), c);
        const __m256i t2 = _mm256_unpacklo_epi16(b, _mm256_unpackhi_epi64(c, c));
        a = t0;
        b = t1;
        c = t2;
    }
}

template <int imm>
__m256i pick32x2(__m256i a, __m256i b) noexcept {
    return _mm256_castps_si256(_mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), imm));
}

// joinComponents on both halves.
[[gnu::always_inline]] inline void joinComponents4(__m256i y, __m256i cb, __m256i cr, __m256i &a, __m256i &b, __m256i &c) noexcept {
    const __m256i ycLo = _mm256_unpacklo_epi16(y, cb);
    const __m256i ycHi = _mm256_unpackhi_epi16(y, cb);
    const __m256i yNext = _mm256_srli_si256(y, 2);
    const __m256i ryLo = _mm256_unpacklo_epi16(cr, yNext);
    const __m256i ryHi = _mm256_unpackhi_epi16(cr, yNext);
    const __m256i crLo = _mm256_unpacklo_epi16(cb, cr);
    const __m256i crHi = _mm256_unpackhi_epi16(cb, cr);
    a = pick32x2<_MM_SHUFFLE(2, 0, 1, 0)>(_mm256_unpacklo_epi32(ycLo, ryLo),
                                          pick32x2<_MM_SHUFFLE(2, 2, 1, 1)>(crLo, ycLo));
    b = pick32x2<_MM_SHUFFLE(1, 0, 2, 0)>(pick32x2<_MM_SHUFFLE(3, 3, 2, 2)>(ryLo, crLo),
                                          _mm256_unpacklo_epi32(ycHi, ryHi));
    c = pick32x2<_MM_SHUFFLE(2, 0, 2, 0)>(pick32x2<_MM_SHUFFLE(2, 2, 1, 1)>(crHi, ycHi),
                                          pick32x2<_MM_SHUFFLE(3, 3, 2, 2)>(ryHi, crHi));
}

// Block b of four image rows into value[c] (pixel order j = 4k + p).
[[gnu::always_inline]] inline void loadBlock(PIXEL_YC *const row[4], int b, __m256i value[3]) noexcept {
    __m256i part[3];
    for (int h = 0; h < 2; ++h) {
        const auto *p0 = reinterpret_cast<const char *>(row[2 * h] + 4 * b);
        const auto *p1 = reinterpret_cast<const char *>(row[2 * h + 1] + 4 * b);
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p0));
        const __m128i m = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p0 + 16)),
                                             _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p1)));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p1 + 8));
        if (h == 0) {
            part[0] = _mm256_castsi128_si256(a);
            part[1] = _mm256_castsi128_si256(m);
            part[2] = _mm256_castsi128_si256(c);
        } else {
            part[0] = _mm256_inserti128_si256(part[0], a, 1);
            part[1] = _mm256_inserti128_si256(part[1], m, 1);
            part[2] = _mm256_inserti128_si256(part[2], c, 1);
        }
    }
    splitComponents4(part[0], part[1], part[2]);
    for (int c = 0; c < 3; ++c) value[c] = part[c];
}

// The rounded block back into four image rows: 24 bytes of each.
[[gnu::always_inline]] inline void storeBlock(PIXEL_YC *const row[4], int b, const __m256i value[3]) noexcept {
    __m256i a, m, c;
    joinComponents4(value[0], value[1], value[2], a, m, c);
    const __m128i part[2][3] = {{_mm256_castsi256_si128(a), _mm256_castsi256_si128(m), _mm256_castsi256_si128(c)},
                                {_mm256_extracti128_si256(a, 1), _mm256_extracti128_si256(m, 1),
                                 _mm256_extracti128_si256(c, 1)}};
    for (int h = 0; h < 2; ++h) {
        auto *p0 = reinterpret_cast<char *>(row[2 * h] + 4 * b);
        auto *p1 = reinterpret_cast<char *>(row[2 * h + 1] + 4 * b);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p0), part[h][0]);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(p0 + 16), part[h][1]);
        _mm_storeh_pd(reinterpret_cast<double *>(p1), _mm_castsi128_pd(part[h][1]));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p1 + 8), part[h][2]);
    }
}

// Half-width chroma of block b in four rows, each value doubled: sixteen in pixel order.
[[gnu::always_inline]] inline __m256i chromaBlock(const std::int16_t *const row[4], int b) noexcept {
    std::int32_t v[4];
    for (int k = 0; k < 4; ++k) std::memcpy(&v[k], row[k] + 2 * b, 4);
    const __m256i pairs = halves(_mm_unpacklo_epi32(_mm_cvtsi32_si128(v[0]), _mm_cvtsi32_si128(v[1])),
                                 _mm_unpacklo_epi32(_mm_cvtsi32_si128(v[2]), _mm_cvtsi32_si128(v[3])));
    return _mm256_unpacklo_epi16(pairs, pairs);
}

// Block b from the group's samples.
[[gnu::always_inline]] inline void loadSamples(const RoundingGroupSamples &g, int b, __m256i value[3]) noexcept {
    const auto luma = [&](int k) noexcept {
        return _mm_loadl_epi64(reinterpret_cast<const __m128i *>(g.luma[k] + 4 * b));
    };
    value[0] = halves(_mm_unpacklo_epi64(luma(0), luma(1)), _mm_unpacklo_epi64(luma(2), luma(3)));
    value[1] = chromaBlock(g.cb, b);
    value[2] = chromaBlock(g.cr, b);
}

// The signed minimum and maximum of sixteen lanes, through the unsigned minimum of
// eight: x ^ 0x8000 orders as x does, x ^ 0x7FFF the other way round.
int lanesMin(__m256i v) noexcept {
    const __m128i m = _mm_min_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    const __m128i flip = _mm_set1_epi16(static_cast<short>(0x8000));
    return static_cast<std::int16_t>(_mm_cvtsi128_si32(_mm_xor_si128(_mm_minpos_epu16(_mm_xor_si128(m, flip)), flip)));
}

int lanesMax(__m256i v) noexcept {
    const __m128i m = _mm_max_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    const __m128i flip = _mm_set1_epi16(0x7FFF);
    return static_cast<std::int16_t>(_mm_cvtsi128_si32(_mm_xor_si128(_mm_minpos_epu16(_mm_xor_si128(m, flip)), flip)));
}

int clampLevel(int v, int low, int high) noexcept { return v < low ? low : v > high ? high : v; }
int magnitude(int v) noexcept { return v < 0 ? -v : v; }

// What runs on from block to block of a group: the remainder windows (entries
// b .. b + 15 of each array for block b) and the registers' places in their sequence.
struct GroupState {
    std::int16_t *const *rem;
    int blocks;
    __m256i parityMask;
    __m256i window[3];
    rounding::RegisterCursor lane[3];

    GroupState(RoundingPass &pass, int w) noexcept
        : rem(pass.rem), blocks(w / 4), parityMask(_mm256_set1_epi16(pass.oddFrame ? -1 : 0)) {
        for (int c = 0; c < 3; ++c) {
            window[c] = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(rem[c]));
            lane[c] = rounding::registerCursor(pass.lane[c]);
        }
    }
    void finish(RoundingPass &pass) const noexcept {
        for (int i = 0; i < 3; ++i) pass.lane[i] = lane[i].states[0];
    }

    // Block b with its gains (each broadcast; all 0 in a busy block, which makes the
    // update the plain rounding): the carries from the window, the update, and the
    // window moved on by one, entry b final and back to memory.
    [[gnu::always_inline]] void round(int b, __m256i value[3], const __m256i carryGain[3],
                                      const __m256i noiseGain[3]) noexcept {
        const __m256i lowMask = _mm256_set1_epi16(kLowMask);
        const __m256i gridMask = _mm256_set1_epi16(static_cast<short>(kGridMask));
#pragma GCC unroll 3
        for (int c = 0; c < 3; ++c) {
            const __m256i v = value[c];
            const __m256i low = _mm256_and_si256(v, lowMask);
            const __m256i s = _mm256_adds_epi16(window[c], low);
            window[c] = _mm256_and_si256(s, lowMask);
            const __m256i carry = _mm256_and_si256(s, gridMask);
            const __m256i states = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(lane[c].states + 1));
            advance(lane[c], 16);
            const __m256i n = _mm256_srai_epi16(_mm256_xor_si256(states, parityMask), 11);
            __m256i t = _mm256_add_epi16(_mm256_mullo_epi16(carryGain[c], _mm256_sub_epi16(carry, low)),
                                         _mm256_mullo_epi16(noiseGain[c], n));
            t = _mm256_srai_epi16(_mm256_add_epi16(t, _mm256_set1_epi16(4)), 3);
            value[c] = _mm256_and_si256(_mm256_add_epi16(_mm256_add_epi16(v, t), _mm256_set1_epi16(8)), gridMask);
            if (b + 1 < blocks) {
                rem[c][b] = static_cast<std::int16_t>(_mm_cvtsi128_si32(_mm256_castsi256_si128(window[c])));
                const __m256i incoming =
                    _mm256_castsi128_si256(_mm_cvtsi32_si128(static_cast<std::uint16_t>(rem[c][b + 16])));
                window[c] = _mm256_alignr_epi8(_mm256_permute2x128_si256(window[c], incoming, 0x21), window[c], 2);
            } else {
                _mm256_storeu_si256(reinterpret_cast<__m256i *>(rem[c] + b), window[c]);
            }
        }
    }
};

// ---- Gains of sixteen blocks at once ----------------------------------------
//
// A block's gains depend on its pixels only, not on the remainders that run from
// block to block, so the samples' kernel works them out sixteen blocks at a time,
// eight to a vector in 32-bit lanes, away from the chain of the blocks.

// Extremes of each block of sixteen: minimum and maximum, eight blocks a vector.
struct Extremes {
    __m256i min[2], max[2];
};

// The signed 16-bit value in bits 0-15 of each 64-bit lane of a and b, as eight
// 32-bit values: those of a's four lanes, then b's.
__m256i lowWordsOf64(__m256i a, __m256i b) noexcept {
    const __m256i ea = _mm256_srai_epi32(_mm256_slli_epi64(a, 48), 16);  // in the odd 32-bit lanes
    const __m256i eb = _mm256_srai_epi32(_mm256_slli_epi64(b, 48), 16);
    const __m256i mixed = _mm256_castps_si256(
        _mm256_shuffle_ps(_mm256_castsi256_ps(ea), _mm256_castsi256_ps(eb), _MM_SHUFFLE(3, 1, 3, 1)));
    return _mm256_permute4x64_epi64(mixed, _MM_SHUFFLE(3, 1, 2, 0));
}

// Luma: 64 columns of four rows, sixteen blocks.
Extremes lumaExtremes(const std::int16_t *const row[4]) noexcept {
    __m256i mn[4], mx[4];
    for (int q = 0; q < 4; ++q) {
        __m256i r[4];
        for (int k = 0; k < 4; ++k) r[k] = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(row[k] + 16 * q));
        __m256i lo = _mm256_min_epi16(_mm256_min_epi16(r[0], r[1]), _mm256_min_epi16(r[2], r[3]));
        __m256i hi = _mm256_max_epi16(_mm256_max_epi16(r[0], r[1]), _mm256_max_epi16(r[2], r[3]));
        lo = _mm256_min_epi16(lo, _mm256_srli_epi64(lo, 32));
        hi = _mm256_max_epi16(hi, _mm256_srli_epi64(hi, 32));
        mn[q] = _mm256_min_epi16(lo, _mm256_srli_epi64(lo, 16));
        mx[q] = _mm256_max_epi16(hi, _mm256_srli_epi64(hi, 16));
    }
    return {{lowWordsOf64(mn[0], mn[1]), lowWordsOf64(mn[2], mn[3])},
            {lowWordsOf64(mx[0], mx[1]), lowWordsOf64(mx[2], mx[3])}};
}

// Chroma: 32 half-width columns of four rows, two to a block.
Extremes chromaExtremes(const std::int16_t *const row[4]) noexcept {
    Extremes e;
    for (int q = 0; q < 2; ++q) {
        __m256i r[4];
        for (int k = 0; k < 4; ++k) r[k] = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(row[k] + 16 * q));
        __m256i lo = _mm256_min_epi16(_mm256_min_epi16(r[0], r[1]), _mm256_min_epi16(r[2], r[3]));
        __m256i hi = _mm256_max_epi16(_mm256_max_epi16(r[0], r[1]), _mm256_max_epi16(r[2], r[3]));
        lo = _mm256_min_epi16(lo, _mm256_srli_epi32(lo, 16));
        hi = _mm256_max_epi16(hi, _mm256_srli_epi32(hi, 16));
        e.min[q] = _mm256_srai_epi32(_mm256_slli_epi32(lo, 16), 16);
        e.max[q] = _mm256_srai_epi32(_mm256_slli_epi32(hi, 16), 16);
    }
    return e;
}

// The six gains of sixteen blocks, as blockLevels and the pass's divisions give
// them, 0 in busy blocks: gain[g][i] for block i, g = carry Y, Cb, Cr, noise Y, Cb, Cr.
// Each quotient is floor(8d / span) for 0 <= d <= span: the division of two
// integers below 2^24 in single precision, correctly rounded, never crosses the
// next integer (a quotient that is not one is at least 1 / span away from it), and
// the span is never 0.
struct alignas(32) Gains {
    std::int32_t gain[6][16];
};

void blockGains(const Extremes e[3], int levelLow, int levelHigh, Gains &out) noexcept {
    const __m256i low = _mm256_set1_epi32(levelLow), high = _mm256_set1_epi32(levelHigh);
    const __m256 span = _mm256_set1_ps(static_cast<float>(levelHigh - levelLow));
    const __m256i busyLimit = _mm256_set1_epi32(kBusyLimit);
    const __m256i minStart = _mm256_set1_epi32(kMinStart), maxStart = _mm256_set1_epi32(kMaxStart);
    for (int q = 0; q < 2; ++q) {
        __m256i mn[3], busy = _mm256_setzero_si256();
#pragma GCC unroll 3
        for (int c = 0; c < 3; ++c) {
            mn[c] = _mm256_min_epi32(e[c].min[q], minStart);
            const __m256i mx = _mm256_max_epi32(e[c].max[q], maxStart);
            busy = _mm256_or_si256(busy, _mm256_cmpgt_epi32(_mm256_sub_epi32(mx, mn[c]), busyLimit));
        }
        const __m256i sum =
            _mm256_add_epi32(mn[0], _mm256_add_epi32(_mm256_abs_epi32(mn[1]), _mm256_abs_epi32(mn[2])));
        // sum / 4, truncated toward zero.
        const __m256i m =
            _mm256_srai_epi32(_mm256_add_epi32(sum, _mm256_and_si256(_mm256_srai_epi32(sum, 31), _mm256_set1_epi32(3))), 2);
        const __m256i dark = _mm256_cmpgt_epi32(low, m);
        __m256i level[3];
        level[0] = _mm256_min_epi32(_mm256_max_epi32(m, low), high);
        for (int c = 1; c < 3; ++c)
            level[c] = _mm256_blendv_epi8(level[0], _mm256_min_epi32(_mm256_max_epi32(mn[c], low), high), dark);
#pragma GCC unroll 3
        for (int c = 0; c < 3; ++c) {
            const __m256 carry = _mm256_cvtepi32_ps(_mm256_slli_epi32(_mm256_sub_epi32(level[c], low), 3));
            const __m256 noise = _mm256_cvtepi32_ps(_mm256_slli_epi32(_mm256_sub_epi32(high, level[c]), 3));
            const __m256i carryGain = _mm256_cvttps_epi32(_mm256_div_ps(carry, span));
            const __m256i noiseGain = _mm256_cvttps_epi32(_mm256_div_ps(noise, span));
            _mm256_store_si256(reinterpret_cast<__m256i *>(out.gain[c] + 8 * q), _mm256_andnot_si256(busy, carryGain));
            _mm256_store_si256(reinterpret_cast<__m256i *>(out.gain[3 + c] + 8 * q),
                               _mm256_andnot_si256(busy, noiseGain));
        }
    }
}

__m256i broadcastGain(const std::int32_t *gain) noexcept {
    return _mm256_set1_epi16(static_cast<short>(*gain));
}

}  // namespace

void roundingGroupsAvx2(const FILTER_PROC_INFO *fpip, RoundingPass &pass, int f, int yBegin, int yEnd) noexcept {
    const int levelLow = pass.levelLow, levelHigh = pass.levelHigh;
    const Divider divideBySpan(levelHigh - levelLow);
    for (int y = yBegin; y < yEnd; y += 4 * pass.fieldStep) {
        PIXEL_YC *row[4];
        for (int k = 0; k < 4; ++k) row[k] = fpip->ycp_edit + static_cast<long>(y + f + k * pass.fieldStep) * fpip->max_w;
        GroupState group(pass, fpip->w);
        for (int b = 0; b < group.blocks; ++b) {
            __m256i value[3];
            loadBlock(row, b, value);
            int blockMin[3], blockMax[3];
#pragma GCC unroll 3
            for (int c = 0; c < 3; ++c) {
                const int mn = lanesMin(value[c]), mx = lanesMax(value[c]);
                blockMin[c] = mn < kMinStart ? mn : kMinStart;
                blockMax[c] = mx > kMaxStart ? mx : kMaxStart;
            }
            const bool busy = blockMax[0] - blockMin[0] > kBusyLimit || blockMax[1] - blockMin[1] > kBusyLimit ||
                              blockMax[2] - blockMin[2] > kBusyLimit;
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
            __m256i carryGain[3], noiseGain[3];
#pragma GCC unroll 3
            for (int c = 0; c < 3; ++c) {
                noiseGain[c] = _mm256_set1_epi16(static_cast<short>(divideBySpan((levelHigh - level[c]) * 8) & keep));
                carryGain[c] = _mm256_set1_epi16(static_cast<short>(divideBySpan((level[c] - levelLow) * 8) & keep));
            }
            group.round(b, value, carryGain, noiseGain);
            storeBlock(row, b, value);
        }
        group.finish(pass);
    }
}

void roundingGroupSamplesAvx2(RoundingPass &pass, int w, const RoundingGroupSamples &group) noexcept {
    GroupState state(pass, w);
    Gains gains;
    for (int first = 0; first < state.blocks; first += 16) {
        const int count = state.blocks - first < 16 ? state.blocks - first : 16;
        // The extremes of sixteen blocks from the rows, or from a copy padded with
        // the last block's pixels where fewer are left.
        Extremes e[3];
        const std::int16_t *luma[4], *cb[4], *cr[4];
        alignas(32) std::int16_t tail[3][4][64];
        for (int k = 0; k < 4; ++k) {
            luma[k] = group.luma[k] + 4 * first;
            cb[k] = group.cb[k] + 2 * first;
            cr[k] = group.cr[k] + 2 * first;
            if (count < 16) {
                for (int x = 0; x < 64; ++x) tail[0][k][x] = luma[k][x < 4 * count ? x : 4 * count - 1];
                for (int x = 0; x < 32; ++x) {
                    tail[1][k][x] = cb[k][x < 2 * count ? x : 2 * count - 1];
                    tail[2][k][x] = cr[k][x < 2 * count ? x : 2 * count - 1];
                }
                luma[k] = tail[0][k];
                cb[k] = tail[1][k];
                cr[k] = tail[2][k];
            }
        }
        e[0] = lumaExtremes(luma);
        e[1] = chromaExtremes(cb);
        e[2] = chromaExtremes(cr);
        blockGains(e, pass.levelLow, pass.levelHigh, gains);

        for (int i = 0; i < count; ++i) {
            const int b = first + i;
            __m256i value[3];
            loadSamples(group, b, value);
            const __m256i carryGain[3] = {broadcastGain(gains.gain[0] + i), broadcastGain(gains.gain[1] + i),
                                          broadcastGain(gains.gain[2] + i)};
            const __m256i noiseGain[3] = {broadcastGain(gains.gain[3] + i), broadcastGain(gains.gain[4] + i),
                                          broadcastGain(gains.gain[5] + i)};
            state.round(b, value, carryGain, noiseGain);
            storeBlock(group.out, b, value);
        }
    }
    state.finish(pass);
}
