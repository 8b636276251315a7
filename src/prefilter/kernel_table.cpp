// The pre-passes' kernel tables, one per tier.
#include "prefilter/prefilter.h"

const PrefilterKernels kPrefilterScalar = {&blockNrRowsScalar, &mosquitoNrRowsScalar};
const PrefilterKernels kPrefilterSse2 = {&blockNrRowsSse2, &mosquitoNrRowsSse2};
const PrefilterKernels kPrefilterAvx2 = {&blockNrRowsAvx2, &mosquitoNrRowsAvx2};
