// Block noise reduction, one target value at a time: the readable statement of
// the pass, which the vector kernels (block_rows.h) reproduce exactly. Each target
// moves to the mean of the 3 x 3 candidates whose surrounding patch matches its own.
#include <xmmintrin.h>

#include <cstdint>

#include "prefilter/prefilter.h"
#include "prefilter/prefilter_common.h"

namespace {

// The pre-passes' shared helpers, read as this file's own.
using namespace prefilter;

std::int16_t component(const PIXEL_YC &p, int c) noexcept {
    return c == 0 ? p.y : c == 1 ? p.cb : p.cr;
}

struct Neighbourhood {
    std::int16_t n[5][5];  // n[i + 2][j + 2] = N(i, j)
    std::int16_t at(int i, int j) const noexcept { return n[i + 2][j + 2]; }
};

// The correction of one target value: the rounded mean offset of the accepted candidates.
std::int16_t targetCorrection(const Neighbourhood &nb, std::int16_t t1, std::int16_t t2) noexcept {
    std::int16_t sum = 0;
    int count = 0;
    for (int a = -1; a <= 1; ++a)
        for (int b = -1; b <= 1; ++b) {
            std::int16_t distance = 0;
            for (int k = -1; k <= 1; ++k)
                for (int l = -1; l <= 1; ++l) {
                    if (k == 0 && l == 0) continue;  // the two centres are not compared
                    const std::int16_t d = absSat(subs(nb.at(k, l), nb.at(a + k, b + l)));
                    distance = adds(distance, d < t1 ? d : t2);
                }
            if (distance < t2) {
                sum = adds(sum, subs(nb.at(a, b), nb.at(0, 0)));
                ++count;
            }
        }
    if (count == 0) return 0;
    // The packed estimate's scalar form, so every tier rounds alike.
    const float reciprocal = _mm_cvtss_f32(_mm_rcp_ss(_mm_set_ss(static_cast<float>(count))));
    const float product = static_cast<float>(sum) * reciprocal;
    const float rounded = product + 0.5f;
    return saturate16(static_cast<int>(rounded));
}

void processUnit(int r, int x0, int f, const PIXEL_YC *source, PIXEL_YC *edit, int pitch,
                 const std::int16_t t1[8], const std::int16_t t2[8]) noexcept {
    std::int16_t correction[8];
    for (int t = 0; t < 8; ++t) {
        Neighbourhood nb;
        const int x = x0 + kTargetPixel[t];
        for (int i = -2; i <= 2; ++i)
            for (int j = -2; j <= 2; ++j)
                nb.n[i + 2][j + 2] = component(rowOf(source, r + i * f, pitch)[x + j], kTargetComponent[t]);
        correction[t] = targetCorrection(nb, t1[t], t2[t]);
    }
    // Odd pixels take the chroma correction of the even pixel to their left.
    const PIXEL_YC *in = rowOf(source, r, pitch) + x0;
    PIXEL_YC *out = rowOf(edit, r, pitch) + x0;
    for (int p = 0; p < 4; ++p) {
        const int even = p & 2;
        const int lumaTarget = p == 0 ? 0 : p == 1 ? 3 : p == 2 ? 4 : 7;
        const int chromaTarget = even == 0 ? 1 : 5;
        out[p].y = adds(in[p].y, correction[lumaTarget]);
        out[p].cb = adds(in[p].cb, correction[chromaTarget]);
        out[p].cr = adds(in[p].cr, correction[chromaTarget + 1]);
    }
}

}  // namespace

void blockNrRowsScalar(int rowBegin, int rowEnd, int fieldCount, const FILTER_PROC_INFO *fpip,
                       const PIXEL_YC *source, int strengthA, int strengthB, bool animeMode,
                       PrepassScratch /*scratch*/) noexcept {
    const int pitch = fpip->max_w, f = fieldCount;
    PIXEL_YC *edit = fpip->ycp_edit;
    const std::int16_t lumaT1 = saturate16(strengthA), lumaT2 = saturate16(strengthB);
    const std::int16_t skinT1 = saturate16(strengthA / 4), skinT2 = saturate16(strengthB / 4);
    const std::int16_t chromaT1 = saturate16(strengthA / 2), chromaT2 = saturate16(strengthB / 2);

    prefilter::forEachRow(source, edit, pitch, fpip->w, fpip->h, 2 * f, rowBegin, rowEnd,
                          [&](int r, const PIXEL_YC *in, PIXEL_YC *) {
        for (int u = 0, x = prefilter::kFirstUnit; u < prefilter::unitCount(fpip->w); ++u, x += 4) {
            std::int16_t t1[8], t2[8];
            for (int t = 0; t < 8; ++t) {
                const bool luma = kTargetComponent[t] == 0;
                const bool skin = luma && !animeMode && prefilter::isSkinColoured(in[x + (t & 4 ? 2 : 0)]);
                t1[t] = !luma ? chromaT1 : skin ? skinT1 : lumaT1;
                t2[t] = !luma ? chromaT2 : skin ? skinT2 : lumaT2;
            }
            processUnit(r, x, f, source, edit, pitch, t1, t2);
        }
    });
}
