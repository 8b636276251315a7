// Mosquito noise reduction with eight 16-bit lanes per unit of four pixels
// (y, cb, cr of the even pixels in lanes 0-2 and 4-6, luma of the odd ones in
// lanes 3 and 7). The choice of pair is a lane-wise select; a unit stops
// searching as soon as every lane has found a close pair.
#include <emmintrin.h>

#include <cstddef>

#include "prefilter/lane_kernels.h"
#include "prefilter/prefilter.h"

void mosquitoNrRowsSse2(const PIXEL_YC *source, const PIXEL_YC *prevFrame,
                        const FILTER_PROC_INFO *fpip, const PIXEL_YC *nextFrame, int fieldCount,
                        int strengthC, int rowBegin, int rowEnd) noexcept {
    using prefilter::Sse2Lanes;
    const int w = fpip->w, pitch = fpip->max_w;
    const PIXEL_YC *images[3] = {prevFrame, nextFrame, source};  // indexed by prefilter::Image
    const auto k = prefilter::mosquitoConstants<Sse2Lanes>(strengthC);
    std::ptrdiff_t offsetA[19], offsetB[19];
    prefilter::mosquitoOffsets(fieldCount, pitch, offsetA, offsetB);

    prefilter::forEachRow(source, fpip->ycp_temp, pitch, w, fpip->h, 2, rowBegin, rowEnd,
                          [&](int r, const PIXEL_YC *, PIXEL_YC *out) {
        const PIXEL_YC *rowStart[3];
        for (int i = 0; i < 3; ++i) rowStart[i] = prefilter::rowOf(images[i], r, pitch);
        for (int u = 0, x = prefilter::kFirstUnit; u < prefilter::unitCount(w); ++u, x += 4)
            prefilter::storeUnit(out + x, prefilter::mosquitoUnits<Sse2Lanes>(rowStart, offsetA, offsetB, x, k));
    });
}
