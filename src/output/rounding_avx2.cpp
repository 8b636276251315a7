// The rounding pass with a whole 4 x 4 block in one vector of sixteen 16-bit lanes
// per component (rows 0 and 1 in the low half, 2 and 3 in the high one): the body
// of rounding_lanes.h, whose layout moves work within each 128-bit half, so every
// step is the SSE2 pass's, lane for lane, and the frames are the same. From a
// stage's samples, the gains of sixteen blocks are worked out at once, away from
// the chain of the blocks. Chosen at load only on processors and systems that run
// AVX2 (cpuHasAvx2). Intrinsics only, none limited to 64-bit code, and nothing
// shared with other files but the kernels: the 32-bit module builds this file
// too, and code the linker may merge must not carry AVX.
#include <immintrin.h>

#include <cstdint>

#include "output/rounding.h"
#include "output/rounding_lanes.h"

namespace {

struct Avx2Block {
    using V = __m256i;

    static V fromHalves(__m128i lo, __m128i hi) noexcept {
        return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
    }
    template <int k>
    static __m128i half(V v) noexcept {
        if constexpr (k == 0)
            return _mm256_castsi256_si128(v);
        else
            return _mm256_extracti128_si256(v, 1);
    }

    static V unpackLo16(V a, V b) noexcept { return _mm256_unpacklo_epi16(a, b); }
    static V unpackHi16(V a, V b) noexcept { return _mm256_unpackhi_epi16(a, b); }
    static V unpackLo32(V a, V b) noexcept { return _mm256_unpacklo_epi32(a, b); }
    static V unpackHi64(V a) noexcept { return _mm256_unpackhi_epi64(a, a); }
    static V shiftOut16(V a) noexcept { return _mm256_srli_si256(a, 2); }
    template <int imm>
    static V pick32(V a, V b) noexcept {
        return _mm256_castps_si256(_mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), imm));
    }

    static V load(const std::int16_t *p) noexcept { return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)); }
    static void store(std::int16_t *p, V v) noexcept { _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v); }
    static V set1(std::int16_t x) noexcept { return _mm256_set1_epi16(x); }
    static V bitAnd(V a, V b) noexcept { return _mm256_and_si256(a, b); }
    static V bitXor(V a, V b) noexcept { return _mm256_xor_si256(a, b); }
    static V add(V a, V b) noexcept { return _mm256_add_epi16(a, b); }
    static V sub(V a, V b) noexcept { return _mm256_sub_epi16(a, b); }
    static V adds(V a, V b) noexcept { return _mm256_adds_epi16(a, b); }
    static V mullo(V a, V b) noexcept { return _mm256_mullo_epi16(a, b); }
    template <int n>
    static V shiftRight(V a) noexcept {
        return _mm256_srai_epi16(a, n);
    }

    // Through the unsigned minimum of eight: x ^ 0x8000 orders as x does, x ^ 0x7FFF
    // the other way round.
    static int smallest(V v) noexcept {
        const __m128i m = _mm_min_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
        const __m128i flip = _mm_set1_epi16(static_cast<short>(0x8000));
        return static_cast<std::int16_t>(
            _mm_cvtsi128_si32(_mm_xor_si128(_mm_minpos_epu16(_mm_xor_si128(m, flip)), flip)));
    }
    static int largest(V v) noexcept {
        const __m128i m = _mm_max_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
        const __m128i flip = _mm_set1_epi16(0x7FFF);
        return static_cast<std::int16_t>(
            _mm_cvtsi128_si32(_mm_xor_si128(_mm_minpos_epu16(_mm_xor_si128(m, flip)), flip)));
    }
    static int firstLane(V v) noexcept { return static_cast<std::int16_t>(_mm_cvtsi128_si32(_mm256_castsi256_si128(v))); }
    static V shiftIn(V v, std::int16_t x) noexcept {
        const __m256i incoming = _mm256_castsi128_si256(_mm_cvtsi32_si128(static_cast<std::uint16_t>(x)));
        return _mm256_alignr_epi8(_mm256_permute2x128_si256(v, incoming, 0x21), v, 2);
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

// The minimum and maximum of sixteen columns over four rows, from column `at`.
void columnExtremes(const std::int16_t *const row[4], int at, __m256i &lo, __m256i &hi) noexcept {
    __m256i r[4];
    for (int k = 0; k < 4; ++k) r[k] = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(row[k] + at));
    lo = _mm256_min_epi16(_mm256_min_epi16(r[0], r[1]), _mm256_min_epi16(r[2], r[3]));
    hi = _mm256_max_epi16(_mm256_max_epi16(r[0], r[1]), _mm256_max_epi16(r[2], r[3]));
}

// Luma: 64 columns of four rows, sixteen blocks.
Extremes lumaExtremes(const std::int16_t *const row[4]) noexcept {
    __m256i mn[4], mx[4];
    for (int q = 0; q < 4; ++q) {
        __m256i lo, hi;
        columnExtremes(row, 16 * q, lo, hi);
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
        __m256i lo, hi;
        columnExtremes(row, 16 * q, lo, hi);
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

void sixteenBlocksGains(const Extremes e[3], int levelLow, int levelHigh, Gains &out) noexcept {
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

}  // namespace

void roundingGroupsAvx2(const FILTER_PROC_INFO *fpip, RoundingPass &pass, int f, int yBegin, int yEnd) noexcept {
    roundImageGroups<Avx2Block>(fpip, pass, f, yBegin, yEnd);
}

void roundingGroupSamplesAvx2(RoundingPass &pass, int w, const RoundingGroupSamples &group) noexcept {
    GroupState<Avx2Block> state(pass, w);
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
        sixteenBlocksGains(e, pass.levelLow, pass.levelHigh, gains);

        for (int i = 0; i < count; ++i) {
            const int b = first + i;
            __m256i value[3];
            loadSamples<Avx2Block>(group, b, value);
            BlockGains<Avx2Block> g;
            for (int c = 0; c < 3; ++c) {
                g.carry[c] = _mm256_set1_epi16(static_cast<short>(gains.gain[c][i]));
                g.noise[c] = _mm256_set1_epi16(static_cast<short>(gains.gain[3 + c][i]));
            }
            state.round(b, value, g);
            storeBlock<Avx2Block>(group.out, b, value);
        }
    }
    state.finish(pass);
}
