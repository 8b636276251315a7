// Block noise reduction with eight 16-bit lanes per unit of four pixels: lanes
// 0-2 and 4-6 hold y, cb, cr of the two even pixels, lanes 3 and 7 the luma of
// the odd ones, so the nine candidates are nine passes of the same lane-wise steps.
#include <emmintrin.h>

#include <cstdint>

#include "prefilter/lane_kernels.h"
#include "prefilter/prefilter.h"

namespace {

using namespace prefilter;
using L = Sse2Lanes;
using V = L::V;
using F = L::F;

/// Lane-wise mean offset: Sum x reciprocal estimate of Count + 0.5, truncated and
/// saturated; lanes without an accepted candidate get 0.
V meanCorrection(V sum, V count) noexcept {
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
V blockCorrection(const V *window, V t1, V t2) noexcept {
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
                const V diff = L::absSat(L::subs(window[own], window[own + a * 5 + b]));
                d = L::select(L::cmplt(diff, t1), diff, t2);
                if (c < 4 && shared) mirrored[c][(ak + 1) * 3 + (bl + 1)] = d;
            }
            distance = L::adds(distance, d);
        }
        const V accepted = L::cmplt(distance, t2);
        sum = L::adds(sum, L::bitAnd(accepted, L::subs(window[12 + a * 5 + b], centre)));
        count = L::sub(count, accepted);  // accepted lanes are -1
    }
    return meanCorrection(sum, count);
}

/// A unit's thresholds: luma lanes 0, 3, 4, 7, chroma lanes 1, 2, 5, 6.
struct BlockThresholds {
    V t1, t2;
};

/// The thresholds for the four skin-colour combinations of a unit's even pixels,
/// indexed by skinIndex.
void blockThresholdsBySkin(int strengthA, int strengthB, BlockThresholds bySkin[4]) noexcept {
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
int skinIndex(const PIXEL_YC *in, int x, bool animeMode) noexcept {
    if (animeMode) return 0;
    return (isSkinColoured(in[x]) ? 1 : 0) | (isSkinColoured(in[x + 2]) ? 2 : 0);
}

}  // namespace

void blockNrRowsSse2(int rowBegin, int rowEnd, int fieldCount, const FILTER_PROC_INFO *fpip,
                     const PIXEL_YC *source, int strengthA, int strengthB, bool animeMode,
                     PrepassScratch /*scratch*/) noexcept {
    const int w = fpip->w, pitch = fpip->max_w, f = fieldCount;
    BlockThresholds bySkin[4];
    blockThresholdsBySkin(strengthA, strengthB, bySkin);
    // The window stays in memory, read by address: left to itself the compiler keeps
    // some of its 25 vectors in registers and spills others around the candidates'
    // loops, which costs a fifth of the pass.
    V storage[25];
    V *window = storage;
    __asm__("" : "+r"(window));
    forEachRow(source, fpip->ycp_edit, pitch, w, fpip->h, 2 * f, rowBegin, rowEnd,
               [&](int r, const PIXEL_YC *in, PIXEL_YC *out) {
        const PIXEL_YC *rows[5];
        for (int i = 0; i < 5; ++i) rows[i] = rowOf(source, r + (i - 2) * f, pitch);
        for (int x = kFirstUnit; x + 4 <= w - 2; x += 4) {
            for (int i = 0; i < 5; ++i)
                for (int j = 0; j < 5; ++j) window[i * 5 + j] = loadUnit(rows[i], x + j - 2);
            const BlockThresholds &t = bySkin[skinIndex(in, x, animeMode)];
            addUnit(out + x, in + x, blockCorrection(window, t.t1, t.t2));
        }
    });
}
