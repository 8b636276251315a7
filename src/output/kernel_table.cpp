// The rounding correction's kernel tables, one per tier.
#include "output/rounding.h"

const RoundingKernels kRoundingScalar = {roundingRowsScalar, roundingGroupsScalar, roundingGroupSamplesScalar};
const RoundingKernels kRoundingSse2 = {roundingRowsSse2, roundingGroupsSse2, roundingGroupSamplesSse2};
const RoundingKernels kRoundingAvx2 = {roundingRowsAvx2, roundingGroupsAvx2, roundingGroupSamplesAvx2};
