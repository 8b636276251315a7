// Three-frame temporal reduction: the fit of the coarsest band across the previous,
// current and next frame, and the rebuild of ring lines from it, chroma's into the
// aux planes here and luma's for the output stage's band sweep.
#pragma once

#include <cstdint>

#include "abi/host_api.h"
#include "core/core.h"

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

/// What the frame driver hands both per-frame workers as param1 (the rebuild
/// kernels read only the job and the threshold).
struct TemporalParams {
    TemporalJob job;
    float threshold;       // the temporal threshold of the strengths
    bool fieldMode;        // how the planes hold the picture's rows (the output's placement)
    StageContext context;  // the kernel tables and the working planes
};

/// param1 = TemporalParams, param2 = FILTER_PROC_INFO (w, for the picture's columns):
/// rebuilds both chroma planes into their aux planes (16-bit samples, `stride` / 2 to
/// a plane row), the octets of columns that hold the picture's chroma only.
void temporalChromaWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept;

/// Octet lines of the thread's octet scratch in b, each `len` positions: the band
/// buffer, the H2 buffer and the output of a level, then the fitted coarsest bands
/// of the eight lines.
struct OctetBuffers {
    float *band, *h2, *out, *fitted;
};
OctetBuffers octetBuffers(const WorkBuffers &b, int thread, int len) noexcept;

/// Rebuilds eight consecutive ring lines (lines first .. first+7 of length len, in
/// rings whose slots hold `lines` lines) into the octet line left in b.band: the
/// fit, then the wavelet's inverse levels. The scalar one moves and fits one value
/// at a time, the SSE2 one four, the AVX2 one eight; all give the same numbers.
void rebuildOctetScalar(const TemporalParams &params, const float *ringA, const float *ringB, long lines, long first,
                        int len, OctetBuffers &b) noexcept;
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

/// The temporal kernel table, and the tiers' tables.
struct TemporalKernels {
    TemporalFitFn temporalFit;
    RebuildOctetFn rebuildOctet;
};
extern const TemporalKernels kTemporalScalar;
extern const TemporalKernels kTemporalSse2;
extern const TemporalKernels kTemporalAvx2;

/// Rebuilds columns [firstLine, endLine) (multiples of 8) of one chroma plane into
/// its 16-bit aux plane, plane row after plane row, with the rebuild of params'
/// kernel tables in the thread's scratch of params' buffers.
void temporalChroma(std::int16_t *aux, const float *ringA, const float *ringB, const TemporalParams &params,
                    int firstLine, int endLine, int thread) noexcept;
