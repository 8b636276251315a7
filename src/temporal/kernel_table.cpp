// The temporal kernel tables, one per tier.
#include "temporal/temporal.h"

const TemporalKernels kTemporalScalar = {temporalFitScalar, rebuildOctetScalar};
const TemporalKernels kTemporalSse2 = {temporalFitSse2, rebuildOctetSse2};
const TemporalKernels kTemporalAvx2 = {temporalFitAvx2, rebuildOctetAvx2};
