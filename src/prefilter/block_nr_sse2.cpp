// Block noise reduction with eight 16-bit lanes per unit of four pixels: lanes
// 0-2 and 4-6 hold y, cb, cr of the two even pixels, lanes 3 and 7 the luma of
// the odd ones, so the nine candidates are nine passes of the same lane-wise steps.
#include <emmintrin.h>

#include <cstdint>

#include "core/core.h"
#include "prefilter/lane_kernels.h"
#include "prefilter/prefilter.h"

void blockNrRowsSse2(int rowBegin, int rowEnd, int fieldCount, const FILTER_PROC_INFO *fpip,
                     const PIXEL_YC *source, int strengthA, int strengthB, bool animeMode,
                     int thread_id) noexcept {
    using prefilter::Sse2Lanes;
    const int w = fpip->w, pitch = fpip->max_w, f = fieldCount;

    // Threads beyond the four scratch sets get a window of their own on the stack.
    alignas(16) std::int16_t localWindow[200];
    std::int16_t *scratch = thread_id >= 0 && thread_id < kScratchSets
                                ? workBuffers.scratch[thread_id].scratch400
                                : nullptr;
    __m128i *window = reinterpret_cast<__m128i *>(scratch ? scratch : localWindow);

    prefilter::BlockThresholds bySkin[4];
    prefilter::blockThresholdsBySkin(strengthA, strengthB, bySkin);

    prefilter::forEachRow(source, fpip->ycp_edit, pitch, w, fpip->h, 2 * f, rowBegin, rowEnd,
                          [&](int r, const PIXEL_YC *in, PIXEL_YC *out) {
        const PIXEL_YC *rows[5];
        for (int i = 0; i < 5; ++i) rows[i] = prefilter::rowOf(source, r + (i - 2) * f, pitch);
        for (int u = 0, x = prefilter::kFirstUnit; u < prefilter::unitCount(w); ++u, x += 4) {
            for (int i = 0; i < 5; ++i)
                for (int j = 0; j < 5; ++j) window[i * 5 + j] = Sse2Lanes::loadUnits(rows[i], x + j - 2);
            const prefilter::BlockThresholds &t = bySkin[prefilter::skinIndex(in, x, animeMode)];
            prefilter::addUnit(out + x, in + x, prefilter::blockCorrection<Sse2Lanes>(window, t.t1, t.t2));
        }
    });
}
