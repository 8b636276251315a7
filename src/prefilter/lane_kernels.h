// Bodies of the vector pre-pass kernels, written once over a lane type so that the
// SSE2 build (one unit of four pixels in eight 16-bit lanes) and the AVX2 build (two
// units side by side, one in each 128-bit half) perform the same operations in the
// same order, lane by lane.
//
// A lane type L gives the integer vector L::V and the float vector L::F, and:
//   loadUnits(row, x): the unit(s) starting at pixel x (AVX2: x and x + 4);
//   repeat(unit): a unit's lanes in every unit of the vector; units(first,
//   second): a vector of those units (SSE2: first); storeUnits and addUnits:
//   storeUnit and addUnit for each unit of the vector;
//   zero, set1, adds, subs, sub, max, cmplt, cmpgt, cmpeq, bitAnd, bitOr, andNot
//   (andNot(m, v) = v without the bits of m), select(mask, ifSet, ifClear) for
//   masks whose lanes are all ones or all zeros, in 16-bit lanes;
//   widenLow, widenHigh (sign-extended 32-bit lanes; the same split into halves for
//   the sums and the counts), toFloat, reciprocal, mul, add, truncate, pack32;
//   shiftRight3 (arithmetic); settle(unsettled, frozen): true once every unit
//   has no unsettled lane, marking settled units in frozen (for lane types of
//   more than one unit);
//   kUnits, the number of units in a vector.
//
// Included only by the vector kernel files, and with internal linkage: see
// prefilter_common.h.
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

#include "prefilter/prefilter_common.h"

namespace prefilter {
namespace {

/// One unit in eight 16-bit lanes.
struct Sse2Lanes {
    using V = __m128i;
    using F = __m128;
    static constexpr int kUnits = 1;

    static V loadUnits(const PIXEL_YC *row, std::ptrdiff_t x) noexcept { return loadUnit(row, x); }
    static V repeat(__m128i unit) noexcept { return unit; }
    static V units(__m128i first, __m128i /*second*/) noexcept { return first; }
    static void storeUnits(PIXEL_YC *out, V v) noexcept { storeUnit(out, v); }
    static void addUnits(PIXEL_YC *out, const PIXEL_YC *in, V v) noexcept { addUnit(out, in, v); }
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
    static V bitOr(V a, V b) noexcept { return _mm_or_si128(a, b); }
    static V andNot(V mask, V v) noexcept { return _mm_andnot_si128(mask, v); }
    static V select(V mask, V ifSet, V ifClear) noexcept {
        return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, ifClear));
    }
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
    static bool settle(V unsettled, V & /*frozen*/) noexcept { return _mm_movemask_epi8(unsettled) == 0; }
};

template <class L>
typename L::V absSat(typename L::V x) noexcept {
    return L::max(x, L::subs(L::zero(), x));
}

// ---- Block pass ----------------------------------------------------------------

/// Lane-wise mean offset: Sum x reciprocal estimate of Count + 0.5, truncated and
/// saturated; lanes without an accepted candidate get 0.
template <class L>
typename L::V meanCorrection(typename L::V sum, typename L::V count) noexcept {
    using V = typename L::V;
    using F = typename L::F;
    const V zero = L::zero();
    // Count 0 would make an infinite estimate; those lanes are cleared below anyway.
    const V divisor = L::max(count, L::set1(std::int16_t{1}));
    const F half = L::set1(0.5f);
    const V sumLo = L::shiftRight32(L::widenLow(sum, sum));
    const V sumHi = L::shiftRight32(L::widenHigh(sum, sum));
    const F rcpLo = L::reciprocal(L::toFloat(L::widenLow(divisor, zero)));
    const F rcpHi = L::reciprocal(L::toFloat(L::widenHigh(divisor, zero)));
    const V lo = L::truncate(L::add(L::mul(L::toFloat(sumLo), rcpLo), half));
    const V hi = L::truncate(L::add(L::mul(L::toFloat(sumHi), rcpHi), half));
    return L::andNot(L::cmpeq(count, zero), L::pack32(lo, hi));
}

/// The correction of each lane: window[(i + 2) * 5 + (j + 2)] holds the lanes of
/// offset (i, j); t1 and t2 are the lanes' thresholds.
///
/// Candidate (a, b) compares each own sample p (the 3 x 3 around the target but
/// the target) with p + (a, b); the limited difference of two samples does not
/// depend on their order, so the candidate (-a, -b), tried later, takes the
/// differences of the pairs it shares with it instead of forming them again. The
/// centre candidate compares every sample with itself: all its differences are 0.
/// The distances are summed in the same order as ever, so the results are too.
template <class L>
typename L::V blockCorrection(const typename L::V *window, typename L::V t1, typename L::V t2) noexcept {
    using V = typename L::V;
    const V centre = window[12];
    V sum = L::zero();
    V count = L::zero();
    V mirrored[4][9];  // [candidate c < 4][own sample of candidate 8 - c]
#pragma GCC unroll 9
    for (int c = 0; c < 9; ++c) {
        const int a = c / 3 - 1, b = c % 3 - 1;
        V distance = L::zero();
        if (c == 4) {
            const V same = L::select(L::cmplt(L::zero(), t1), L::zero(), t2);
            for (int o = 0; o < 8; ++o) distance = L::adds(distance, same);
            count = L::sub(count, L::cmplt(distance, t2));  // its offset is 0
            continue;
        }
#pragma GCC unroll 9
        for (int o = 0; o < 9; ++o) {
            if (o == 4) continue;
            const int k = o / 3 - 1, l = o % 3 - 1;
            const int own = 12 + k * 5 + l;
            // The pair is shared when its other member is an own sample too: candidate
            // 8 - c meets it there, with this own sample as its other member.
            const int ak = k + a, bl = l + b;
            const bool shared = ak >= -1 && ak <= 1 && bl >= -1 && bl <= 1 && (ak != 0 || bl != 0);
            V d;
            if (c > 4 && shared) {
                d = mirrored[8 - c][o];
            } else {
                const V diff = absSat<L>(L::subs(window[own], window[own + a * 5 + b]));
                d = L::select(L::cmplt(diff, t1), diff, t2);
                if (c < 4 && shared) mirrored[c][(ak + 1) * 3 + (bl + 1)] = d;
            }
            distance = L::adds(distance, d);
        }
        const V accepted = L::cmplt(distance, t2);
        sum = L::adds(sum, L::bitAnd(accepted, L::subs(window[12 + a * 5 + b], centre)));
        count = L::sub(count, accepted);  // accepted lanes are -1
    }
    return meanCorrection<L>(sum, count);
}

/// A unit's thresholds: luma lanes 0, 3, 4, 7, chroma lanes 1, 2, 5, 6.
struct BlockThresholds {
    __m128i t1, t2;
};

/// The thresholds for the four skin-colour combinations of a unit's even pixels,
/// indexed by skinIndex.
inline void blockThresholdsBySkin(int strengthA, int strengthB, BlockThresholds bySkin[4]) noexcept {
    const std::int16_t a = saturate16(strengthA), aq = saturate16(strengthA / 4);
    const std::int16_t b = saturate16(strengthB), bq = saturate16(strengthB / 4);
    const std::int16_t ah = saturate16(strengthA / 2), bh = saturate16(strengthB / 2);
    for (int s = 0; s < 4; ++s) {
        const std::int16_t a0 = s & 1 ? aq : a, a2 = s & 2 ? aq : a;
        const std::int16_t b0 = s & 1 ? bq : b, b2 = s & 2 ? bq : b;
        bySkin[s].t1 = _mm_setr_epi16(a0, ah, ah, a0, a2, ah, ah, a2);
        bySkin[s].t2 = _mm_setr_epi16(b0, bh, bh, b0, b2, bh, bh, b2);
    }
}

/// Bit 0: pixel X is skin-coloured, bit 1: pixel X + 2 is; always 0 in anime mode.
inline int skinIndex(const PIXEL_YC *in, int x, bool animeMode) noexcept {
    if (animeMode) return 0;
    return (isSkinColoured(in[x]) ? 1 : 0) | (isSkinColoured(in[x + 2]) ? 2 : 0);
}

/// Runs the block pass on the units of a row from pixel x while whole vectors of
/// units fit before xEnd, and returns the pixel where it stopped. rows[i] is row
/// r + (i - 2) x F; window has room for 25 vectors.
template <class L>
int blockUnits(const PIXEL_YC *const rows[5], const PIXEL_YC *in, PIXEL_YC *out, int x, int xEnd,
               typename L::V *window, const BlockThresholds bySkin[4], bool animeMode) noexcept {
    for (; x + 4 * L::kUnits <= xEnd; x += 4 * L::kUnits) {
        for (int i = 0; i < 5; ++i)
            for (int j = 0; j < 5; ++j) window[i * 5 + j] = L::loadUnits(rows[i], x + j - 2);
        const BlockThresholds &first = bySkin[skinIndex(in, x, animeMode)];
        const BlockThresholds &second = bySkin[L::kUnits > 1 ? skinIndex(in, x + 4, animeMode) : 0];
        L::addUnits(out + x, in + x,
                    blockCorrection<L>(window, L::units(first.t1, second.t1), L::units(first.t2, second.t2)));
    }
    return x;
}

/// The block pass's row kernel over lane type L: rows [rowBegin, rowEnd) of source
/// into fpip->ycp_edit. window holds 25 vectors of L, windowOfOne 25 of one unit,
/// for a row's units that do not fill a whole vector of L.
template <class L>
void blockNrRowsWith(int rowBegin, int rowEnd, int fieldCount, const FILTER_PROC_INFO *fpip,
                     const PIXEL_YC *source, int strengthA, int strengthB, bool animeMode, typename L::V *window,
                     __m128i *windowOfOne) noexcept {
    const int w = fpip->w, pitch = fpip->max_w, f = fieldCount;
    BlockThresholds bySkin[4];
    blockThresholdsBySkin(strengthA, strengthB, bySkin);
    forEachRow(source, fpip->ycp_edit, pitch, w, fpip->h, 2 * f, rowBegin, rowEnd,
               [&](int r, const PIXEL_YC *in, PIXEL_YC *out) {
        const PIXEL_YC *rows[5];
        for (int i = 0; i < 5; ++i) rows[i] = rowOf(source, r + (i - 2) * f, pitch);
        const int x = blockUnits<L>(rows, in, out, kFirstUnit, w - 2, window, bySkin, animeMode);
        if constexpr (L::kUnits > 1) blockUnits<Sse2Lanes>(rows, in, out, x, w - 2, windowOfOne, bySkin, animeMode);
    });
}

// ---- Mosquito pass -----------------------------------------------------------------

template <class V>
struct MosquitoConstants {
    V chromaOffset;  // 2048 in the chroma lanes
    V lumaLanes;     // all ones in the luma lanes: pairs 11 and 12 are luma only
    V settled;       // the cost at which a lane needs no further pairs
    V four;
    V allOnes;
    V twiceT;        // twice the strength: a pair must cost no more to be taken
};

template <class L>
MosquitoConstants<typename L::V> mosquitoConstants(int strengthC) noexcept {
    const typename L::V t = L::set1(saturate16(strengthC));
    return {L::repeat(_mm_setr_epi16(0, 2048, 2048, 0, 0, 2048, 2048, 0)),
            L::repeat(_mm_setr_epi16(-1, 0, 0, -1, -1, 0, 0, -1)),
            L::set1(std::int16_t{kSettledCost}),
            L::set1(std::int16_t{4}),
            L::set1(std::int16_t{-1}),
            L::adds(t, t)};
}

/// Member offsets in pixels from the unit's pixel X, for this field count and pitch.
inline void mosquitoOffsets(int fieldCount, int pitch, std::ptrdiff_t offsetA[19], std::ptrdiff_t offsetB[19]) noexcept {
    for (int p = 0; p < 19; ++p) {
        const Pair &pair = kPairs[p];
        const std::ptrdiff_t rowA = memberRowOffset(pair.a, fieldCount);
        const std::ptrdiff_t rowB = memberRowOffset(pair.b, fieldCount);
        offsetA[p] = rowA * pitch + pair.a.column;
        offsetB[p] = rowB * pitch + pair.b.column;
    }
}

/// The new lanes of the unit(s) at pixel x: rowStart gives row r of each image.
template <class L>
typename L::V mosquitoUnits(const PIXEL_YC *const rowStart[3], const std::ptrdiff_t offsetA[19],
                            const std::ptrdiff_t offsetB[19], std::ptrdiff_t x,
                            const MosquitoConstants<typename L::V> &k) noexcept {
    using V = typename L::V;
    const V c = L::adds(L::loadUnits(rowStart[Cur], x), k.chromaOffset);
    const V twiceC = L::adds(c, c);
    V best = k.twiceT;
    V pick = twiceC;
    V frozen = L::zero();  // lanes of units that stopped searching while another goes on
    // Unrolled, the pairs' images, luma-only flags and group ends become constants.
#pragma GCC unroll 19
    for (int pair = 0; pair < 19; ++pair) {
        const Pair &p = kPairs[pair];
        const V a = L::adds(L::loadUnits(rowStart[p.a.image], offsetA[pair] + x), k.chromaOffset);
        const V b = L::adds(L::loadUnits(rowStart[p.b.image], offsetB[pair] + x), k.chromaOffset);
        const V sum = L::adds(a, b);
        const V cost = L::adds(absSat<L>(L::subs(sum, twiceC)), absSat<L>(L::subs(a, b)));
        V take = L::andNot(L::cmpgt(cost, best), k.allOnes);
        if (p.lumaOnly) take = L::bitAnd(take, k.lumaLanes);
        if constexpr (L::kUnits > 1) take = L::andNot(frozen, take);
        best = L::select(take, cost, best);
        pick = L::select(take, sum, pick);
        if (endsEarlyGroup(pair) && L::settle(L::cmpgt(best, k.settled), frozen)) break;
    }
    V v = L::adds(L::adds(pick, pick), pick);
    v = L::adds(L::adds(v, twiceC), k.four);
    return L::subs(L::shiftRight3(v), k.chromaOffset);
}

/// Runs the mosquito pass on the units of a row from pixel x while whole vectors of
/// units fit before xEnd, and returns the pixel where it stopped.
template <class L>
int mosquitoRowUnits(const PIXEL_YC *const rowStart[3], const std::ptrdiff_t offsetA[19],
                     const std::ptrdiff_t offsetB[19], PIXEL_YC *out, int x, int xEnd,
                     const MosquitoConstants<typename L::V> &k) noexcept {
    for (; x + 4 * L::kUnits <= xEnd; x += 4 * L::kUnits)
        L::storeUnits(out + x, mosquitoUnits<L>(rowStart, offsetA, offsetB, x, k));
    return x;
}

/// The mosquito pass's row kernel over lane type L: rows [rowBegin, rowEnd) of
/// source into fpip->ycp_temp.
template <class L>
void mosquitoNrRowsWith(const PIXEL_YC *source, const PIXEL_YC *prevFrame, const FILTER_PROC_INFO *fpip,
                        const PIXEL_YC *nextFrame, int fieldCount, int strengthC, int rowBegin,
                        int rowEnd) noexcept {
    const int w = fpip->w, pitch = fpip->max_w;
    const PIXEL_YC *images[3] = {prevFrame, nextFrame, source};  // indexed by Image
    const auto k = mosquitoConstants<L>(strengthC);
    const auto kOfOne = mosquitoConstants<Sse2Lanes>(strengthC);
    std::ptrdiff_t offsetA[19], offsetB[19];
    mosquitoOffsets(fieldCount, pitch, offsetA, offsetB);
    // Two rows in field mode as well: the pairs reach at most two rows away.
    forEachRow(source, fpip->ycp_temp, pitch, w, fpip->h, 2, rowBegin, rowEnd,
               [&](int r, const PIXEL_YC *, PIXEL_YC *out) {
        const PIXEL_YC *rowStart[3];
        for (int i = 0; i < 3; ++i) rowStart[i] = rowOf(images[i], r, pitch);
        const int x = mosquitoRowUnits<L>(rowStart, offsetA, offsetB, out, kFirstUnit, w - 2, k);
        if constexpr (L::kUnits > 1) mosquitoRowUnits<Sse2Lanes>(rowStart, offsetA, offsetB, out, x, w - 2, kOfOne);
    });
}

}  // namespace
}  // namespace prefilter
