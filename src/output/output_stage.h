// The last stages of a frame as the driver runs them together: the luma sweep to
// the output image with the rounding correction following it band by band.
#pragma once

#include "output/rounding.h"
#include "temporal/temporal.h"

/// What the driver hands outputRoundingWorker as param1.
struct OutputRoundingParams {
    TemporalParams temporal;
    RoundingParams rounding;  // its fieldMode must be the temporal record's
};

/// param1 = OutputRoundingParams, param2 = FILTER_PROC_INFO: lumaOutputWorker and
/// roundingWorker in one dispatch. Each rounding range is written by the thread that
/// rounds it, and rounded as soon as each group of its rows is written, while the
/// rows are in cache: the ranges, their order on each remainder set and so the
/// frames are roundingWorker's. Threads 4 and above idle (they have no remainders),
/// so the driver runs this only where the host has at most four threads.
void outputRoundingWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept;
