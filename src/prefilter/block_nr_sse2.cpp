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
    // Threads beyond the four scratch sets get a window of their own on the stack.
    alignas(16) std::int16_t localWindow[200];
    std::int16_t *scratch = thread_id >= 0 && thread_id < kScratchSets
                                ? workBuffers.scratch[thread_id].scratch400
                                : nullptr;
    __m128i *window = reinterpret_cast<__m128i *>(scratch ? scratch : localWindow);
    prefilter::blockNrRowsWith<prefilter::Sse2Lanes>(rowBegin, rowEnd, fieldCount, fpip, source, strengthA,
                                                     strengthB, animeMode, window, window);
}
