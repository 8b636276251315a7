// Three-frame temporal reduction, vertical synthesis and output conversion: the
// per-frame stages that rebuild the current frame from the frame ring, chroma first
// into the aux planes, then luma band by band straight into the output image.
#pragma once

#include "core/kernel_tier.h"

#include <cstdint>

#include "abi/host_api.h"

struct RoundingPass;

/// Which ring slots hold the previous, current and next frame, built once per
/// output frame from the frame number.
struct TemporalJob {
    int prevSlot;
    int curSlot;
    int nextSlot;
    // A neighbour whose slot the driver had to leave empty holds stale or never
    // written floats; it takes no part in the fit.
    bool prevEmpty;
    bool nextEmpty;
};

/// The job for output frame `frame`, with the emptiness of the neighbour slots.
TemporalJob makeTemporalJob(int frame, bool prevEmpty, bool nextEmpty) noexcept;

/// What the frame driver hands both per-frame workers as param1.
struct TemporalParams {
    TemporalJob job;
    float threshold;  // the temporal threshold of the strengths
    bool fieldMode;   // how the planes hold the picture's rows (the output's placement)
    int *threadsSeen;  // the driver's note of the host's thread count (or null)
};

/// param1 = TemporalParams, param2 = FILTER_PROC_INFO (w, for the picture's columns):
/// rebuilds both chroma planes into their aux planes (16-bit samples, `stride` / 2 to
/// a plane row), the octets of columns that hold the picture's chroma only.
void temporalChromaWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept;

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

/// Octet lines of the thread's octet scratch, each `len` positions: the band buffer,
/// the H2 buffer and the output of a level, then the fitted coarsest bands of the
/// eight lines.
struct OctetBuffers {
    float *band, *h2, *out, *fitted;
};
OctetBuffers octetBuffers(int thread, int len) noexcept;

/// Rebuilds eight consecutive ring lines (lines first .. first+7 of length len, in
/// rings whose slots hold `lines` lines) into the octet line left in b.band.
/// The SSE2 one moves four positions at a time and fits through the kernel table
/// (so it serves the scalar tier too); the AVX2 one moves and fits eight at a time.
void rebuildOctetSse2(const TemporalParams &params, const float *ringA, const float *ringB, long lines, long first,
                      int len, OctetBuffers &b) noexcept;
void rebuildOctetAvx2(const TemporalParams &params, const float *ringA, const float *ringB, long lines, long first,
                      int len, OctetBuffers &b) noexcept;
using RebuildOctetFn = void (*)(const TemporalParams &, const float *, const float *, long, long, int,
                                OctetBuffers &) noexcept;

/// Fits the first count samples (a multiple of 4) of one ring line across the three
/// frames: the line starts at float lineStart of each slot, and the slots of ringA
/// are slotFloats apart. Writes count floats to output (16-byte aligned).
/// SSE2, four samples at a time.
void temporalFitSse2(const TemporalJob &job, int count, float threshold, float *output, const float *ringA,
                     long slotFloats, long lineStart) noexcept;
/// The same, eight samples at a time (the 8-wide estimate, lane for lane the 4-wide one).
void temporalFitAvx2(const TemporalJob &job, int count, float threshold, float *output, const float *ringA,
                     long slotFloats, long lineStart) noexcept;
/// The same, one sample at a time, with the scalar form of the same reciprocal.
void temporalFitScalar(const TemporalJob &job, int count, float threshold, float *output,
                       const float *ringA, long slotFloats, long lineStart) noexcept;
using TemporalFitFn = void (*)(const TemporalJob &, int, float, float *, const float *, long, long) noexcept;

/// The fit the workers run: the scalar twin until initTemporalKernels picks the
/// processor's tier.
struct TemporalKernels {
    TemporalFitFn temporalFit;
    RebuildOctetFn rebuildOctet;
};
extern TemporalKernels temporalKernels;
extern const TemporalKernels kTemporalScalar;
extern const TemporalKernels kTemporalSse2;
extern const TemporalKernels kTemporalAvx2;

/// The scalar twin, overridden by the SSE2 one from that tier up and by the AVX2
/// one at the AVX2 tier.
void initTemporalKernels(KernelTier tier) noexcept;

/// The rebuild through the kernel table.
inline void rebuildOctet(const TemporalParams &params, const float *ringA, const float *ringB, long lines,
                         long first, int len, OctetBuffers &b) noexcept {
    temporalKernels.rebuildOctet(params, ringA, ringB, lines, first, len, b);
}

/// The fit through the kernel table.
inline void temporalFit(const TemporalJob &job, int count, float threshold, float *output, const float *ringA,
                        long slotFloats, long lineStart) noexcept {
    temporalKernels.temporalFit(job, count, threshold, output, ringA, slotFloats, lineStart);
}

/// Rebuilds columns [firstLine, endLine) (multiples of 8) of one chroma plane into
/// its 16-bit aux plane, plane row after plane row.
void temporalChroma(std::int16_t *aux, const float *ringA, const float *ringB, const TemporalParams &params,
                    int firstLine, int endLine, int thread) noexcept;

/// Pixel pairs of one picture row: pixel 2k gets (luma[2k], cb[k], cr[k]) and pixel
/// 2k+1 (luma[2k+1], cb[k], cr[k]).
void writePixels(const std::int16_t *luma, const std::int16_t *cb, const std::int16_t *cr, int pairs,
                 PIXEL_YC *out) noexcept;

/// Float to sample: add 0.5, truncate to 32 bits (overflow and NaN give INT32_MIN),
/// saturate to 16 bits, clamp to -8192..8192.
std::int16_t floatToSample(float v) noexcept;
/// The same, eight at a time; count is a multiple of 8.
void floatsToSamples(const float *in, int count, std::int16_t *out) noexcept;
