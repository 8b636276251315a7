// Block noise reduction, AVX2: the rows of block_rows.h sixteen values a vector.
#include "prefilter/block_rows.h"
#include "prefilter/lanes_avx2.h"
#include "prefilter/prefilter.h"

void blockNrRowsAvx2(int rowBegin, int rowEnd, int fieldCount, const FILTER_PROC_INFO *fpip,
                     const PIXEL_YC *source, int strengthA, int strengthB, bool animeMode,
                     PrepassScratch scratch) noexcept {
    prefilter::blockNrRowsWith<prefilter::Avx2Lanes>(rowBegin, rowEnd, fieldCount, fpip, source, strengthA,
                                                     strengthB, animeMode, scratch);
}
