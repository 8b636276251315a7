// Mosquito noise reduction with eight 16-bit lanes per unit of four pixels
// (y, cb, cr of the even pixels in lanes 0-2 and 4-6, luma of the odd ones in
// lanes 3 and 7). The choice of pair is a lane-wise select; a unit stops
// searching as soon as every lane has found a close pair.
#include <emmintrin.h>

#include "prefilter/lane_kernels.h"
#include "prefilter/prefilter.h"

void mosquitoNrRowsSse2(const PIXEL_YC *source, const PIXEL_YC *prevFrame,
                        const FILTER_PROC_INFO *fpip, const PIXEL_YC *nextFrame, int fieldCount,
                        int strengthC, int rowBegin, int rowEnd, int /*thread_id*/) noexcept {
    prefilter::mosquitoNrRowsWith<prefilter::Sse2Lanes>(source, prevFrame, fpip, nextFrame, fieldCount, strengthC,
                                                        rowBegin, rowEnd);
}
