// Block noise reduction with eight 16-bit lanes per unit of four pixels: lanes
// 0-2 and 4-6 hold y, cb, cr of the two even pixels, lanes 3 and 7 the luma of
// the odd ones, so the nine candidates are nine passes of the same lane-wise steps.
#include <emmintrin.h>

#include <cstdint>

#include "core/core.h"
#include "prefilter/prefilter.h"
#include "prefilter/prefilter_common.h"

namespace {

using prefilter::copyPixels;
using prefilter::rowOf;
using prefilter::saturate16;

using prefilter::absSat;
using prefilter::loadUnit;
using prefilter::select;

// Lane-wise mean offset: Sum x reciprocal estimate of Count + 0.5, truncated and
// saturated; lanes without an accepted candidate get 0.
inline __m128i meanCorrection(__m128i sum, __m128i count) noexcept {
    const __m128i zero = _mm_setzero_si128();
    // Count 0 would make an infinite estimate; those lanes are cleared below anyway.
    const __m128i divisor = _mm_max_epi16(count, _mm_set1_epi16(1));
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128i sumLo = _mm_srai_epi32(_mm_unpacklo_epi16(sum, sum), 16);
    const __m128i sumHi = _mm_srai_epi32(_mm_unpackhi_epi16(sum, sum), 16);
    const __m128 rcpLo = _mm_rcp_ps(_mm_cvtepi32_ps(_mm_unpacklo_epi16(divisor, zero)));
    const __m128 rcpHi = _mm_rcp_ps(_mm_cvtepi32_ps(_mm_unpackhi_epi16(divisor, zero)));
    const __m128i lo = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(sumLo), rcpLo), half));
    const __m128i hi = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(sumHi), rcpHi), half));
    return _mm_andnot_si128(_mm_cmpeq_epi16(count, zero), _mm_packs_epi32(lo, hi));
}

// Adds the eight lane values to pixels X .. X+3: the odd pixels' cb and cr take
// lanes 1-2 and 5-6, the values of the even pixel to their left.
inline void addUnit(PIXEL_YC *out, const PIXEL_YC *in, __m128i c) noexcept {
    const __m128i shifted = _mm_shufflelo_epi16(c, _MM_SHUFFLE(3, 3, 2, 1));  // c1 c2 c3 c3 c4..c7
    const __m128i mixed = _mm_unpacklo_epi32(shifted, _mm_srli_si128(c, 8));  // c1 c2 c4 c5 ..
    const __m128i first = _mm_unpacklo_epi64(c, mixed);                       // c0 c1 c2 c3 c1 c2 c4 c5
    const __m128i last = _mm_srli_si128(_mm_shufflehi_epi16(c, _MM_SHUFFLE(2, 1, 3, 2)), 8);  // c6 c7 c5 c6
    const auto *src = reinterpret_cast<const __m128i *>(in);
    auto *dst = reinterpret_cast<__m128i *>(out);
    const auto *srcTail = reinterpret_cast<const __m128i *>(reinterpret_cast<const std::int16_t *>(in) + 8);
    auto *dstTail = reinterpret_cast<__m128i *>(reinterpret_cast<std::int16_t *>(out) + 8);
    _mm_storeu_si128(dst, _mm_adds_epi16(_mm_loadu_si128(src), first));
    _mm_storel_epi64(dstTail, _mm_adds_epi16(_mm_loadl_epi64(srcTail), last));
}

struct Thresholds {
    __m128i t1, t2;
};

// window[(i + 2) * 5 + (j + 2)] holds the lanes of offset (i, j).
inline __m128i unitCorrection(const __m128i *window, Thresholds th) noexcept {
    const __m128i centre = window[12];
    __m128i sum = _mm_setzero_si128();
    __m128i count = _mm_setzero_si128();
    for (int a = -1; a <= 1; ++a)
        for (int b = -1; b <= 1; ++b) {
            const int candidate = 12 + a * 5 + b;
            __m128i distance = _mm_setzero_si128();
            for (int k = -1; k <= 1; ++k)
                for (int l = -1; l <= 1; ++l) {
                    if (k == 0 && l == 0) continue;
                    const int own = 12 + k * 5 + l;
                    const __m128i d = absSat(_mm_subs_epi16(window[own], window[own + candidate - 12]));
                    distance = _mm_adds_epi16(distance, select(_mm_cmplt_epi16(d, th.t1), d, th.t2));
                }
            const __m128i accepted = _mm_cmplt_epi16(distance, th.t2);
            sum = _mm_adds_epi16(sum, _mm_and_si128(accepted, _mm_subs_epi16(window[candidate], centre)));
            count = _mm_sub_epi16(count, accepted);  // accepted lanes are -1
        }
    return meanCorrection(sum, count);
}

}  // namespace

void blockNrRowsSse2(int rowBegin, int rowEnd, int fieldCount, const FILTER_PROC_INFO *fpip,
                     const PIXEL_YC *source, int strengthA, int strengthB, bool animeMode,
                     int thread_id) noexcept {
    const int w = fpip->w, h = fpip->h, pitch = fpip->max_w, f = fieldCount;
    PIXEL_YC *edit = fpip->ycp_edit;

    // Threads beyond the four scratch sets get a window of their own on the stack.
    alignas(16) std::int16_t localWindow[200];
    std::int16_t *scratch = thread_id >= 0 && thread_id < kScratchSets
                                ? workBuffers.scratch[thread_id].scratch400
                                : nullptr;
    __m128i *window = reinterpret_cast<__m128i *>(scratch ? scratch : localWindow);

    // Threshold vectors for the four skin-colour combinations of the unit's even pixels
    // (bit 0: pixel X, bit 1: pixel X+2); luma lanes 0, 3, 4, 7, chroma lanes 1, 2, 5, 6.
    const std::int16_t a = saturate16(strengthA), aq = saturate16(strengthA / 4);
    const std::int16_t b = saturate16(strengthB), bq = saturate16(strengthB / 4);
    const std::int16_t ah = saturate16(strengthA / 2), bh = saturate16(strengthB / 2);
    Thresholds byskin[4];
    for (int s = 0; s < 4; ++s) {
        const std::int16_t a0 = s & 1 ? aq : a, a2 = s & 2 ? aq : a;
        const std::int16_t b0 = s & 1 ? bq : b, b2 = s & 2 ? bq : b;
        byskin[s].t1 = _mm_setr_epi16(a0, ah, ah, a0, a2, ah, ah, a2);
        byskin[s].t2 = _mm_setr_epi16(b0, bh, bh, b0, b2, bh, bh, b2);
    }

    for (int r = rowBegin; r < rowEnd; ++r) {
        const PIXEL_YC *in = rowOf(source, r, pitch);
        PIXEL_YC *out = rowOf(edit, r, pitch);
        if (r < 2 * f || r >= h - 2 * f) {
            copyPixels(out, in, w);
            continue;
        }
        const PIXEL_YC *rows[5];
        for (int i = 0; i < 5; ++i) rows[i] = rowOf(source, r + (i - 2) * f, pitch);
        copyPixels(out, in, 2);
        for (int u = 0, x = prefilter::kFirstUnit; u < prefilter::unitCount(w); ++u, x += 4) {
            for (int i = 0; i < 5; ++i)
                for (int j = 0; j < 5; ++j) window[i * 5 + j] = loadUnit(rows[i], x + j - 2);
            int skin = 0;
            if (!animeMode)
                skin = (prefilter::isSkinColoured(in[x]) ? 1 : 0) |
                       (prefilter::isSkinColoured(in[x + 2]) ? 2 : 0);
            addUnit(out + x, in + x, unitCorrection(window, byskin[skin]));
        }
        copyPixels(out + w - 2, in + w - 2, 2);
    }
}
