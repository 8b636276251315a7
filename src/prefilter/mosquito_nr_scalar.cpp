// Mosquito noise reduction, one target value at a time: the readable statement
// of the pass, which the vector kernels (mosquito_planes.h) reproduce exactly.
// Each value is pulled three quarters of the way to the closest symmetric pair
// around it, looked for first across the neighbouring frames and then within the
// frame.
#include <cstdint>

#include "prefilter/prefilter.h"
#include "prefilter/prefilter_common.h"

namespace {

// The pre-passes' shared helpers, read as this file's own.
using namespace prefilter;

// Chroma is centred on 2048 so that luma and chroma share one working range.
std::int16_t working(const PIXEL_YC &p, int c) noexcept {
    return c == 0 ? p.y : adds(c == 1 ? p.cb : p.cr, 2048);
}

struct Inputs {
    const PIXEL_YC *image[3];  // indexed by prefilter::Image
    int pitch, fieldCount;
};

std::int16_t memberValue(const Inputs &in, const prefilter::Member &m, int r, int x, int c) noexcept {
    const int row = r + prefilter::memberRowOffset(m, in.fieldCount);
    return working(rowOf(in.image[m.image], row, in.pitch)[x + m.column], c);
}

void processUnit(const Inputs &in, PIXEL_YC *out, int r, int x0, std::int16_t twiceT) noexcept {
    std::int16_t twiceC[8], best[8], pick[8];
    for (int t = 0; t < 8; ++t) {
        const std::int16_t c = working(rowOf(in.image[prefilter::Cur], r, in.pitch)[x0 + kTargetPixel[t]],
                                       kTargetComponent[t]);
        twiceC[t] = adds(c, c);
        best[t] = twiceT;
        pick[t] = twiceC[t];
    }
    int pair = 0;
    for (int g = 0; g < 6; ++g) {
        for (; pair < prefilter::kGroupEnd[g]; ++pair) {
            const prefilter::Pair &p = prefilter::kPairs[pair];
            for (int t = 0; t < 8; ++t) {
                if (p.lumaOnly && kTargetComponent[t] != 0) continue;
                const int x = x0 + kTargetPixel[t];
                const std::int16_t a = memberValue(in, p.a, r, x, kTargetComponent[t]);
                const std::int16_t b = memberValue(in, p.b, r, x, kTargetComponent[t]);
                const std::int16_t sum = adds(a, b);
                const std::int16_t cost = adds(absSat(subs(sum, twiceC[t])), absSat(subs(a, b)));
                if (cost <= best[t]) {
                    best[t] = cost;
                    pick[t] = sum;
                }
            }
        }
        if (g < 5) {
            bool settled = true;
            for (int t = 0; t < 8; ++t) settled &= best[t] <= prefilter::kSettledCost;
            if (settled) break;
        }
    }
    std::int16_t value[8];
    for (int t = 0; t < 8; ++t) {
        const std::int16_t v = adds(adds(adds(adds(pick[t], pick[t]), pick[t]), twiceC[t]), 4);
        const std::int16_t shifted = static_cast<std::int16_t>(v >> 3);
        value[t] = kTargetComponent[t] == 0 ? shifted : subs(shifted, 2048);
    }
    // Odd pixels take the chroma of the even pixel to their left.
    PIXEL_YC *o = out + x0;
    o[0] = {value[0], value[1], value[2]};
    o[1] = {value[3], value[1], value[2]};
    o[2] = {value[4], value[5], value[6]};
    o[3] = {value[7], value[5], value[6]};
}

}  // namespace

void mosquitoNrRowsScalar(const PIXEL_YC *source, const PIXEL_YC *prevFrame,
                          const FILTER_PROC_INFO *fpip, const PIXEL_YC *nextFrame, int fieldCount,
                          int strengthC, int rowBegin, int rowEnd, PrepassScratch /*scratch*/) noexcept {
    const Inputs in = {{prevFrame, nextFrame, source}, fpip->max_w, fieldCount};
    const std::int16_t t = saturate16(strengthC);
    const std::int16_t twiceT = adds(t, t);
    // Two rows in field mode as well: the pairs reach at most two rows away.
    prefilter::forEachRow(source, fpip->ycp_temp, in.pitch, fpip->w, fpip->h, 2, rowBegin, rowEnd,
                          [&](int r, const PIXEL_YC *, PIXEL_YC *out) {
        for (int u = 0, x = prefilter::kFirstUnit; u < prefilter::unitCount(fpip->w); ++u, x += 4)
            processUnit(in, out, r, x, twiceT);
    });
}
