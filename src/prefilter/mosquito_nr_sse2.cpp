// Mosquito noise reduction with eight 16-bit lanes per unit of four pixels
// (y, cb, cr of the even pixels in lanes 0-2 and 4-6, luma of the odd ones in
// lanes 3 and 7). The choice of pair is a lane-wise select; a unit stops
// searching as soon as every lane has found a close pair.
#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

#include "prefilter/prefilter.h"
#include "prefilter/prefilter_common.h"

namespace {

using prefilter::copyPixels;
using prefilter::rowOf;
using prefilter::saturate16;

using prefilter::absSat;
using prefilter::loadUnit;
using prefilter::select;

// Writes pixels X .. X+3 from the eight lanes: the odd pixels' cb and cr are
// lanes 1-2 and 5-6, those of the even pixel to their left.
inline void storeUnit(PIXEL_YC *out, __m128i v) noexcept {
    const __m128i shifted = _mm_shufflelo_epi16(v, _MM_SHUFFLE(3, 3, 2, 1));
    const __m128i mixed = _mm_unpacklo_epi32(shifted, _mm_srli_si128(v, 8));
    const __m128i first = _mm_unpacklo_epi64(v, mixed);  // v0 v1 v2 v3 v1 v2 v4 v5
    const __m128i last = _mm_srli_si128(_mm_shufflehi_epi16(v, _MM_SHUFFLE(2, 1, 3, 2)), 8);  // v6 v7 v5 v6
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), first);
    _mm_storel_epi64(reinterpret_cast<__m128i *>(reinterpret_cast<std::int16_t *>(out) + 8), last);
}

struct Constants {
    __m128i chromaOffset;  // 2048 in the chroma lanes
    __m128i lumaLanes;     // all ones in the luma lanes: pairs 11 and 12 are luma only
    __m128i settled;       // the cost at which a lane needs no further pairs
    __m128i four;
};

}  // namespace

void mosquitoNrRowsSse2(const PIXEL_YC *source, const PIXEL_YC *prevFrame,
                        const FILTER_PROC_INFO *fpip, const PIXEL_YC *nextFrame, int fieldCount,
                        int strengthC, int rowBegin, int rowEnd) noexcept {
    const int w = fpip->w, h = fpip->h, pitch = fpip->max_w;
    const PIXEL_YC *images[3] = {prevFrame, nextFrame, source};  // indexed by prefilter::Image
    const Constants k = {_mm_setr_epi16(0, 2048, 2048, 0, 0, 2048, 2048, 0),
                         _mm_setr_epi16(-1, 0, 0, -1, -1, 0, 0, -1),
                         _mm_set1_epi16(prefilter::kSettledCost), _mm_set1_epi16(4)};
    const __m128i t = _mm_set1_epi16(saturate16(strengthC));
    const __m128i twiceT = _mm_adds_epi16(t, t);

    // Member offsets in pixels from the unit's pixel X, for this field count.
    std::ptrdiff_t offsetA[19], offsetB[19];
    for (int p = 0; p < 19; ++p) {
        const prefilter::Pair &pair = prefilter::kPairs[p];
        const std::ptrdiff_t rowA = prefilter::memberRowOffset(pair.a, fieldCount);
        const std::ptrdiff_t rowB = prefilter::memberRowOffset(pair.b, fieldCount);
        offsetA[p] = rowA * pitch + pair.a.column;
        offsetB[p] = rowB * pitch + pair.b.column;
    }

    for (int r = rowBegin; r < rowEnd; ++r) {
        const PIXEL_YC *src = rowOf(source, r, pitch);
        PIXEL_YC *out = rowOf(fpip->ycp_temp, r, pitch);
        if (r < 2 || r >= h - 2) {
            copyPixels(out, src, w);
            continue;
        }
        const PIXEL_YC *rowStart[3];
        for (int i = 0; i < 3; ++i) rowStart[i] = rowOf(images[i], r, pitch);
        copyPixels(out, src, 2);
        for (int u = 0, x = prefilter::kFirstUnit; u < prefilter::unitCount(w); ++u, x += 4) {
            const __m128i c = _mm_adds_epi16(loadUnit(src, x), k.chromaOffset);
            const __m128i twiceC = _mm_adds_epi16(c, c);
            __m128i best = twiceT;
            __m128i pick = twiceC;
            int pair = 0;
            for (int g = 0; g < 6; ++g) {
                for (; pair < prefilter::kGroupEnd[g]; ++pair) {
                    const prefilter::Pair &p = prefilter::kPairs[pair];
                    const __m128i a =
                        _mm_adds_epi16(loadUnit(rowStart[p.a.image], offsetA[pair] + x), k.chromaOffset);
                    const __m128i b =
                        _mm_adds_epi16(loadUnit(rowStart[p.b.image], offsetB[pair] + x), k.chromaOffset);
                    const __m128i sum = _mm_adds_epi16(a, b);
                    const __m128i cost = _mm_adds_epi16(absSat(_mm_subs_epi16(sum, twiceC)),
                                                        absSat(_mm_subs_epi16(a, b)));
                    __m128i take = _mm_andnot_si128(_mm_cmpgt_epi16(cost, best), _mm_set1_epi16(-1));
                    if (p.lumaOnly) take = _mm_and_si128(take, k.lumaLanes);
                    best = select(take, cost, best);
                    pick = select(take, sum, pick);
                }
                if (g < 5 && _mm_movemask_epi8(_mm_cmpgt_epi16(best, k.settled)) == 0) break;
            }
            __m128i v = _mm_adds_epi16(_mm_adds_epi16(pick, pick), pick);
            v = _mm_adds_epi16(_mm_adds_epi16(v, twiceC), k.four);
            storeUnit(out + x, _mm_subs_epi16(_mm_srai_epi16(v, 3), k.chromaOffset));
        }
        copyPixels(out + w - 2, src + w - 2, 2);
    }
}
