// The pre-passes' kernel table: the scalar twins first, overridden tier by tier.
#include "prefilter/prefilter.h"

const PrefilterKernels kPrefilterScalar = {&blockNrRowsScalar, &mosquitoNrRowsScalar};
const PrefilterKernels kPrefilterSse2 = {&blockNrRowsSse2, &mosquitoNrRowsSse2};
const PrefilterKernels kPrefilterAvx2 = {&blockNrRowsAvx2, &mosquitoNrRowsAvx2};
PrefilterKernels prefilterKernels = kPrefilterScalar;

void initPrefilterKernels(KernelTier tier) noexcept {
    prefilterKernels = kPrefilterScalar;
    if (tier >= kTierSse2) prefilterKernels = kPrefilterSse2;
    if (tier >= kTierAvx2) prefilterKernels = kPrefilterAvx2;
}
