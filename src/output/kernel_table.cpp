// The rounding correction's kernel table: the scalar twin first, overridden tier
// by tier.
#include "output/rounding.h"
#include "output/rounding_internal.h"

const RoundingKernels kRoundingScalar = {roundingRowsScalar, roundingGroupsScalar, roundingGroupSamplesScalar};
const RoundingKernels kRoundingSse2 = {roundingRowsSse2, roundingGroupsSse2, roundingGroupSamplesSse2};
const RoundingKernels kRoundingAvx2 = {roundingRowsAvx2, roundingGroupsAvx2, roundingGroupSamplesAvx2};
RoundingKernels roundingKernels = kRoundingScalar;

void initRoundingKernels(KernelTier tier) noexcept {
    roundingKernels = kRoundingScalar;
    if (tier >= kTierSse2) {
        roundingKernels = kRoundingSse2;
        rounding::registerSequence();  // built here rather than in the first frame
    }
    if (tier >= kTierAvx2) roundingKernels = kRoundingAvx2;
}
