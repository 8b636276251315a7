// The frame's last stage: luma rebuilt band by band (the temporal rebuild, then the
// vertical synthesis) and written with its chroma into the host's output image, and
// the rounding correction following it band by band when the driver runs them
// together.
#pragma once

#include <cstdint>

#include "abi/host_api.h"
#include "output/rounding.h"
#include "temporal/temporal.h"

/// param1 = TemporalParams, param2 = FILTER_PROC_INFO: rebuilds luma (temporal fit,
/// horizontal and vertical synthesis) and writes the picture into fpip->ycp_edit,
/// sixteen plane rows at a time, with nothing but the output image written outside
/// the thread's scratch. The aux planes must be finished (temporalChromaWorker).
void lumaOutputWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept;

/// The sweep of lumaOutputWorker on one thread over plane rows [planeBegin,
/// planeEnd) (the picture rows they hold; multiples of 8), top down. With a rounding
/// pass (else null), the rows are that pass's groups of one field, in its order:
/// each group of four is rounded as it is written (roundingGroupSamples), while its
/// samples are in the thread's cache.
void lumaOutputPlaneRows(const TemporalParams &params, const FILTER_PROC_INFO *fpip, int thread, int planeBegin,
                         int planeEnd, RoundingPass *rounding) noexcept;

/// Pixel pairs of one picture row: pixel 2k gets (luma[2k], cb[k], cr[k]) and pixel
/// 2k+1 (luma[2k+1], cb[k], cr[k]). Eight pixels at a time with SSE2; the scalar
/// twin states the rule a pair at a time (and writes what the SSE2 one leaves over).
void writePixels(const std::int16_t *luma, const std::int16_t *cb, const std::int16_t *cr, int pairs,
                 PIXEL_YC *out) noexcept;
void writePixelsScalar(const std::int16_t *luma, const std::int16_t *cb, const std::int16_t *cr, int pairs,
                       PIXEL_YC *out) noexcept;

/// What the driver hands outputRoundingWorker as param1.
struct OutputRoundingParams {
    TemporalParams temporal;  // the sweep's, and the kernel tables and buffers both run with
    RoundingParams rounding;  // its fieldMode must be the temporal record's
};

/// param1 = OutputRoundingParams, param2 = FILTER_PROC_INFO: lumaOutputWorker and
/// roundingWorker in one dispatch. Each rounding range is written by the thread that
/// rounds it, and rounded as soon as each group of its rows is written, while the
/// rows are in cache: the ranges, their order on each remainder set and so the
/// frames are roundingWorker's. Threads 4 and above idle (they have no remainders),
/// so the driver runs this only where the host has at most four threads.
void outputRoundingWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept;
