// Horizontal pass: every row of yWork (vertical low rows over vertical high rows)
// is analysed over four levels, the two coarsest cored, and stored into the frame's
// slot of yRingA and yRingB. Rows go through all levels in scratch, so the only
// large writes are the two ring lines, sent past the cache.
#include <xmmintrin.h>

#include "analysis/analysis.h"
#include "core/core.h"
#include "host/pipeline.h"
#include "wavelet/wavelet.h"

void storeRingPositions(float *slotLine, const float *src, int first, int count) noexcept {
    // Position j of the slot sits at float 3 * j of its line (j a multiple of 4):
    // one 16-byte group of this slot every 48 bytes, the other slots untouched.
    float *dst = slotLine + 3L * first;
    if (!src) {
        const __m128 zero = _mm_setzero_ps();
        for (int j = 0; j < count; j += 4) _mm_stream_ps(dst + 3 * j, zero);
        return;
    }
    const float *in = src + first;
    for (int j = 0; j < count; j += 4) _mm_stream_ps(dst + 3 * j, _mm_load_ps(in + j));
}

void horizontalLumaRows(int thread_id, const AnalysisParams *params, int firstRow, int endRow,
                        long firstLineOffset) noexcept {
    const int stride = sizeClass.stride;
    const NrStrengths &s = nrStrengths;
    float *base = workBuffers.scratch[thread_id].scratchWide1;
    float *s0 = base, *s1 = base + stride, *s2 = base + 2 * stride, *mask = base + 3 * stride;
    float *lineA = workBuffers.yRingA + firstLineOffset + 4 * params->slot;
    float *lineB = workBuffers.yRingB + firstLineOffset + 4 * params->slot;
    const long lineFloats = 3L * stride;

    for (int r = firstRow; r < endRow; ++r) {
        const float *row = workBuffers.yWork + static_cast<long>(r) * stride;
        // The two finer levels are left as they are: the vertical pass has already
        // cored them along the columns.
        waveletKernels.forwardLevel(stride, row, s1, s2);
        waveletKernels.forwardLevel(stride / 2, s1, s0, s2);
        waveletKernels.forwardLevel(stride / 4, s0, s1, s2);
        waveletKernels.flatMask(3, false, mask, stride, s1, s2, s.lumaFlatThreshold[2]);
        waveletKernels.coreBands(stride / 4, s1, s2, s.lumaCoefThreshold[2], mask);
        waveletKernels.forwardLevel(stride / 8, s1, s0, s2);
        waveletKernels.flatMask(4, false, mask, stride, s0, s2, s.lumaFlatThreshold[3]);
        waveletKernels.coreBands(stride / 8, s0, s2, s.lumaCoefThreshold[3], mask);

        storeRingPositions(lineA, s0, 0, stride / 8);
        storeRingPositions(lineA, s1, stride / 8, stride / 8);
        storeRingPositions(lineA, s0, stride / 4, stride / 4);
        storeRingPositions(lineA, s1, stride / 2, stride / 2);
        storeRingPositions(lineB, nullptr, 0, stride / 16);
        storeRingPositions(lineB, s2, stride / 16, stride - stride / 16);
        lineA += lineFloats;
        lineB += lineFloats;
    }
}

void horizontalAnalysisWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept {
    (void)param2;
    const auto *params = static_cast<const AnalysisParams *>(param1);
    const int rows = sizeClass.rows;
    const int stride = sizeClass.stride;

    // Owner of each quarter of the rows; threads 4 and above idle.
    int owner[4];
    switch (thread_num) {
    case 1: owner[0] = 0, owner[1] = 0, owner[2] = 0, owner[3] = 0; break;
    case 2:
    case 3: owner[0] = 0, owner[1] = 0, owner[2] = 1, owner[3] = 1; break;
    default: owner[0] = 0, owner[1] = 1, owner[2] = 2, owner[3] = 3; break;
    }
    for (int q = 0; q < 4; ++q) {
        if (owner[q] != thread_id) continue;
        const int first = rows * q / 4;
        horizontalLumaRows(thread_id, params, first, rows * (q + 1) / 4, 3L * stride * first);
    }
    _mm_sfence();  // the ring lines are read by other threads in the next stage
}
