// Mosquito noise reduction, SSE2: the planes of mosquito_planes.h, eight pixels
// (two units) a step.
#include "prefilter/lanes_sse2.h"
#include "prefilter/mosquito_planes.h"
#include "prefilter/prefilter.h"

void mosquitoNrRowsSse2(const PIXEL_YC *source, const PIXEL_YC *prevFrame, const FILTER_PROC_INFO *fpip,
                        const PIXEL_YC *nextFrame, int fieldCount, int strengthC, int rowBegin, int rowEnd,
                        PrepassScratch scratch) noexcept {
    using prefilter::Sse2Lanes;
    // Frames the driver never sends (not a whole number of 16 pixels wide, another
    // row step): the scalar statement.
    if (!prefilter::mosquitoGroupsFit<Sse2Lanes>(fpip->w, fieldCount)) {
        mosquitoNrRowsScalar(source, prevFrame, fpip, nextFrame, fieldCount, strengthC, rowBegin, rowEnd, scratch);
        return;
    }
    prefilter::mosquitoNrRowsWith<Sse2Lanes>(source, prevFrame, fpip, nextFrame, fieldCount, strengthC, rowBegin,
                                             rowEnd, scratch);
}
