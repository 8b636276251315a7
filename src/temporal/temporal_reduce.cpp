// Three-frame temporal reduction: the coarsest band of the previous, current and
// next frame is fitted across time, and the current frame is rebuilt from it and
// its own detail bands: luma rows into yWork, chroma columns into cbAux / crAux.
#include <xmmintrin.h>

#include "core/core.h"
#include "host/pipeline.h"
#include "temporal/temporal.h"
#include "wavelet/wavelet.h"

namespace {

struct TemporalBuffers {
    float *s0, *s1, *s2;
};

TemporalBuffers temporalBuffers(int thread) noexcept {
    float *base = workBuffers.scratch[thread].scratchWide0;
    const int stride = sizeClass.stride;
    return {base, base + stride, base + 2 * stride};
}

// Copies positions [first, first + count) of the current slot out of a ring line,
// whole groups of four.
void copyCurrentSlot(const TemporalJob &job, const float *ring, long lineStart, int first, int count,
                     float *dst) noexcept {
    const char *group = reinterpret_cast<const char *>(ring + lineStart * job.slotCount) +
                        static_cast<long>(first / 4) * job.groupStride + job.curOffset;
    for (int j = 0; j < count; j += 4, group += job.groupStride)
        _mm_store_ps(dst + first + j, _mm_load_ps(reinterpret_cast<const float *>(group)));
}

// Rebuilds one ring line of length len from the fitted coarsest band in s0; the
// band buffers alternate level by level and the finest level lands in `last`.
void rebuildLine(const TemporalJob &job, const float *ringA, const float *ringB, long lineStart,
                 int len, const TemporalBuffers &b, float *last) noexcept {
    float *band = b.s0;
    float *out = b.s1;
    for (int n = len / 16; n <= len / 2; n *= 2) {
        copyCurrentSlot(job, ringA, lineStart, n, n, band);
        copyCurrentSlot(job, ringB, lineStart, n, n, b.s2);
        float *dst = n == len / 2 ? last : out;
        waveletKernels.inverseLevel(band, b.s2, n, dst);
        out = band;
        band = dst;
    }
}

}  // namespace

void temporalLuma(const TemporalJob &job, int firstRow, int thread) noexcept {
    const int stride = sizeClass.stride;
    const int rows = sizeClass.rows;
    const TemporalBuffers b = temporalBuffers(thread);
    const float threshold = nrStrengths.temporalThreshold;
    for (int r = firstRow; r < firstRow + rows / 2; ++r) {
        const long lineStart = static_cast<long>(r) * stride;
        temporalFit(job, thread, stride / 16, threshold, b.s0, workBuffers.yRingA, lineStart);
        rebuildLine(job, workBuffers.yRingA, workBuffers.yRingB, lineStart, stride, b,
                    workBuffers.yWork + lineStart);
    }
}

void temporalChroma(std::int16_t *aux, const float *ringA, const float *ringB,
                    const TemporalJob &job, int thread) noexcept {
    const int stride = sizeClass.stride;
    const int rows = sizeClass.rows;
    const TemporalBuffers b = temporalBuffers(thread);
    const float threshold = nrStrengths.temporalThreshold;
    for (int l = 0; l < stride / 2; ++l) {
        const long lineStart = static_cast<long>(l) * rows;
        temporalFit(job, thread, rows / 16, threshold, b.s0, ringA, lineStart);
        // Four levels end in s0 again (s1, s0, s1, s0).
        rebuildLine(job, ringA, ringB, lineStart, rows, b, b.s0);
        floatsToSamples(b.s0, rows, aux + lineStart);
    }
}

void temporalWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept {
    (void)param1;
    const auto *fpip = static_cast<const FILTER_PROC_INFO *>(param2);
    const int frame = fpip->frame;
    // The markers are written only between dispatches, so every thread reads the same.
    const TemporalJob job = makeTemporalJob(frame, frameRing.slotFrame[(frame + 2) % 3] == kEmptySlot,
                                            frameRing.slotFrame[(frame + 1) % 3] == kEmptySlot);
    const int rows = sizeClass.rows;
    WorkBuffers &wb = workBuffers;

    // Owner of luma top, luma bottom, Cb and Cr; threads 4 and above idle.
    int owner[4];
    switch (thread_num) {
    case 1: owner[0] = 0, owner[1] = 0, owner[2] = 0, owner[3] = 0; break;
    case 2: owner[0] = 0, owner[1] = 0, owner[2] = 1, owner[3] = 1; break;
    case 3: owner[0] = 0, owner[1] = 0, owner[2] = 1, owner[3] = 2; break;
    default: owner[0] = 0, owner[1] = 1, owner[2] = 2, owner[3] = 3; break;
    }
    if (owner[0] == thread_id) temporalLuma(job, 0, thread_id);
    if (owner[1] == thread_id) temporalLuma(job, rows / 2, thread_id);
    if (owner[2] == thread_id) temporalChroma(wb.cbAux, wb.cbRingA, wb.cbRingB, job, thread_id);
    if (owner[3] == thread_id) temporalChroma(wb.crAux, wb.crRingA, wb.crRingB, job, thread_id);
}
