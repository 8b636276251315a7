// Mosquito noise reduction with eight 16-bit lanes per unit of four pixels
// (y, cb, cr of the even pixels in lanes 0-2 and 4-6, luma of the odd ones in
// lanes 3 and 7). The choice of pair is a lane-wise select; a unit stops
// searching as soon as every lane has found a close pair.
#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

#include "prefilter/lanes_sse2.h"
#include "prefilter/prefilter.h"

namespace {

using namespace prefilter;
using L = Sse2Lanes;
using V = L::V;

struct MosquitoConstants {
    V chromaOffset;  // 2048 in the chroma lanes
    V lumaLanes;     // all ones in the luma lanes: pairs 11 and 12 are luma only
    V settled;       // the cost at which a lane needs no further pairs
    V four;
    V allOnes;
    V twiceT;        // twice the strength: a pair must cost no more to be taken
};

MosquitoConstants mosquitoConstants(int strengthC) noexcept {
    const V t = L::set1(saturate16(strengthC));
    return {_mm_setr_epi16(0, 2048, 2048, 0, 0, 2048, 2048, 0),
            _mm_setr_epi16(-1, 0, 0, -1, -1, 0, 0, -1),
            L::set1(std::int16_t{kSettledCost}),
            L::set1(std::int16_t{4}),
            L::set1(std::int16_t{-1}),
            L::adds(t, t)};
}

/// Member offsets in pixels from the unit's pixel X, for this field count and pitch.
void mosquitoOffsets(int fieldCount, int pitch, std::ptrdiff_t offsetA[19], std::ptrdiff_t offsetB[19]) noexcept {
    for (int p = 0; p < 19; ++p) {
        const Pair &pair = kPairs[p];
        const std::ptrdiff_t rowA = memberRowOffset(pair.a, fieldCount);
        const std::ptrdiff_t rowB = memberRowOffset(pair.b, fieldCount);
        offsetA[p] = rowA * pitch + pair.a.column;
        offsetB[p] = rowB * pitch + pair.b.column;
    }
}

/// The new lanes of the unit at pixel x: rowStart gives row r of each image.
V mosquitoUnit(const PIXEL_YC *const rowStart[3], const std::ptrdiff_t offsetA[19],
               const std::ptrdiff_t offsetB[19], std::ptrdiff_t x, const MosquitoConstants &k) noexcept {
    const V c = L::adds(loadUnit(rowStart[Cur], x), k.chromaOffset);
    const V twiceC = L::adds(c, c);
    V best = k.twiceT;
    V pick = twiceC;
    // Unrolled, the pairs' images, luma-only flags and group ends become constants.
#pragma GCC unroll 19
    for (int pair = 0; pair < 19; ++pair) {
        const Pair &p = kPairs[pair];
        const V a = L::adds(loadUnit(rowStart[p.a.image], offsetA[pair] + x), k.chromaOffset);
        const V b = L::adds(loadUnit(rowStart[p.b.image], offsetB[pair] + x), k.chromaOffset);
        const V sum = L::adds(a, b);
        const V cost = L::adds(L::magnitude(L::subs(sum, twiceC)), L::magnitude(L::subs(a, b)));
        V take = L::andNot(L::cmpgt(cost, best), k.allOnes);
        if (p.lumaOnly) take = L::bitAnd(take, k.lumaLanes);
        best = L::select(take, cost, best);
        pick = L::select(take, sum, pick);
        if (endsEarlyGroup(pair) && !L::any(L::cmpgt(best, k.settled))) break;
    }
    V v = L::adds(L::adds(pick, pick), pick);
    v = L::adds(L::adds(v, twiceC), k.four);
    return L::subs(L::shiftRight3(v), k.chromaOffset);
}

}  // namespace

void mosquitoNrRowsSse2(const PIXEL_YC *source, const PIXEL_YC *prevFrame,
                        const FILTER_PROC_INFO *fpip, const PIXEL_YC *nextFrame, int fieldCount,
                        int strengthC, int rowBegin, int rowEnd, PrepassScratch /*scratch*/) noexcept {
    const int w = fpip->w, pitch = fpip->max_w;
    const PIXEL_YC *images[3] = {prevFrame, nextFrame, source};  // indexed by Image
    const MosquitoConstants k = mosquitoConstants(strengthC);
    std::ptrdiff_t offsetA[19], offsetB[19];
    mosquitoOffsets(fieldCount, pitch, offsetA, offsetB);
    // Two rows in field mode as well: the pairs reach at most two rows away.
    forEachRow(source, fpip->ycp_temp, pitch, w, fpip->h, 2, rowBegin, rowEnd,
               [&](int r, const PIXEL_YC *, PIXEL_YC *out) {
        const PIXEL_YC *rowStart[3];
        for (int i = 0; i < 3; ++i) rowStart[i] = rowOf(images[i], r, pitch);
        for (int x = kFirstUnit; x + 4 <= w - 2; x += 4)
            storeUnit(out + x, mosquitoUnit(rowStart, offsetA, offsetB, x, k));
    });
}
