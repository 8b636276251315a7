// The temporal kernel tables and the choice between them at load.
#include "temporal/temporal.h"

const TemporalKernels kTemporalScalar = {temporalFitScalar, rebuildOctetScalar};
const TemporalKernels kTemporalSse2 = {temporalFitSse2, rebuildOctetSse2};
const TemporalKernels kTemporalAvx2 = {temporalFitAvx2, rebuildOctetAvx2};

// Scalar until func_init has checked the processor, so nothing runs SSE2 code
// on a processor without it.
TemporalKernels temporalKernels = kTemporalScalar;

void initTemporalKernels(KernelTier tier) noexcept {
    temporalKernels = kTemporalScalar;
    if (tier >= kTierSse2) temporalKernels = kTemporalSse2;
    if (tier >= kTierAvx2) temporalKernels = kTemporalAvx2;
}
