// Mosquito noise reduction, AVX2: the planes of mosquito_planes.h, sixteen pixels
// (four units) a step.
#include "prefilter/lanes_avx2.h"
#include "prefilter/mosquito_planes.h"
#include "prefilter/prefilter.h"

void mosquitoNrRowsAvx2(const PIXEL_YC *source, const PIXEL_YC *prevFrame, const FILTER_PROC_INFO *fpip,
                        const PIXEL_YC *nextFrame, int fieldCount, int strengthC, int rowBegin, int rowEnd,
                        PrepassScratch scratch) noexcept {
    using prefilter::Avx2Lanes;
    // A frame 16 pixels wide has three units, fewer than a group of sixteen pixels:
    // the SSE2 kernel, the same body with groups of eight, takes it (and what the
    // driver never sends).
    if (!prefilter::mosquitoGroupsFit<Avx2Lanes>(fpip->w, fieldCount)) {
        mosquitoNrRowsSse2(source, prevFrame, fpip, nextFrame, fieldCount, strengthC, rowBegin, rowEnd, scratch);
        return;
    }
    prefilter::mosquitoNrRowsWith<Avx2Lanes>(source, prevFrame, fpip, nextFrame, fieldCount, strengthC, rowBegin,
                                             rowEnd, scratch);
}
