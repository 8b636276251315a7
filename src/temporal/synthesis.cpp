// Vertical synthesis: each yWork column, still the vertical Daubechies-4 low band
// over its high band, is rebuilt in place into luma samples. Columns are gathered
// into aligned scratch so that the inverse kernel runs on contiguous lines.
#include "core/core.h"
#include "temporal/temporal.h"
#include "wavelet/wavelet.h"

void synthesizeColumns(int firstColumn, int thread, int endColumn) noexcept {
    const int stride = sizeClass.stride;
    const int rows = sizeClass.rows;
    float *gathered = workBuffers.scratch[thread].scratchWide0;
    float *rebuilt = gathered + stride;  // rows <= stride, so the two never overlap
    float *yWork = workBuffers.yWork;
    for (int c = firstColumn; c < endColumn; ++c) {
        const float *src = yWork + c;
        for (int r = 0; r < rows; ++r) gathered[r] = src[static_cast<long>(r) * stride];
        waveletKernels.inverseD4(gathered, rows / 2, rebuilt);
        float *dst = yWork + c;
        for (int r = 0; r < rows; ++r) dst[static_cast<long>(r) * stride] = rebuilt[r];
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
