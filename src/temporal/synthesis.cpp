// Vertical synthesis: each yWork column, still the vertical Daubechies-4 low band
// over its high band, is rebuilt in place into luma samples. Columns are gathered
// into aligned scratch so that the inverse kernel runs on contiguous lines.
#include "core/core.h"
#include "temporal/temporal.h"
#include "wavelet/wavelet.h"

void synthesizeColumns(int firstColumn, int thread, int endColumn) noexcept {
    const int stride = sizeClass.stride;
    const int rows = sizeClass.rows;
    // Four neighbouring columns per pass over the rows, so that the large row
    // stride is walked once for all four: gathered columns in the thread's second
    // wide scratch, rebuilt ones in the first, each line `stride` floats apart
    // (rows <= stride, so no two overlap).
    constexpr int kBatch = 4;
    float *gathered = workBuffers.scratch[thread].scratchWide1;
    float *rebuilt = workBuffers.scratch[thread].scratchWide0;
    float *yWork = workBuffers.yWork;
    for (int c0 = firstColumn; c0 < endColumn; c0 += kBatch) {
        const int count = endColumn - c0 < kBatch ? endColumn - c0 : kBatch;
        for (int r = 0; r < rows; ++r) {
            const float *src = yWork + static_cast<long>(r) * stride + c0;
            for (int k = 0; k < count; ++k) gathered[k * stride + r] = src[k];
        }
        for (int k = 0; k < count; ++k)
            waveletKernels.inverseD4(gathered + k * stride, rows / 2, rebuilt + k * stride);
        for (int r = 0; r < rows; ++r) {
            float *dst = yWork + static_cast<long>(r) * stride + c0;
            for (int k = 0; k < count; ++k) dst[k] = rebuilt[k * stride + r];
        }
    }
}

void synthesisWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept {
    (void)param1;
    (void)param2;
    // At most four workers, one scratch set each.
    if (thread_id >= 4) return;
    const int t = thread_num < 4 ? thread_num : 4;
    const int stride = sizeClass.stride;
    synthesizeColumns(thread_id * stride / t, thread_id, (thread_id + 1) * stride / t);
}
