// The rounding-correction worker: splits the frame into whole groups of 8 rows per
// thread and runs the pass on each range with that thread's remainder arrays.
#include "output/rounding.h"

#include "abi/host_api.h"
#include "core/core.h"

RoundingKernels roundingKernels = {roundingRowsSse2};

void roundingWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept {
    // Only four remainder sets exist. Rather than fold the frame into four ranges
    // (which would move range boundaries and register seeds with the thread
    // count), every range of the host's split is kept: thread t runs the ranges of
    // threads t, t + 4, t + 8, ... in that order, each as a pass of its own that
    // seeds its registers from its own first row. Remainder set t therefore
    // serves those ranges one after another; the output stays deterministic for
    // a given thread count, and up to four threads it is exactly the plain split.
    if (thread_num <= 0 || thread_id < 0 || thread_id >= kScratchSets) return;
    const auto *params = static_cast<const RoundingParams *>(param1);
    const auto *fpip = static_cast<const FILTER_PROC_INFO *>(param2);
    std::int16_t *remainders = workBuffers.scratch[thread_id].scratchQuarter;
    const int remainderCount = sizeClass.stride / 4;

    const long long groups = fpip->h / 8;
    for (int range = thread_id; range < thread_num; range += kScratchSets) {
        const int firstRow = static_cast<int>(8 * (groups * range / thread_num));
        const int rowLimit = static_cast<int>(8 * (groups * (range + 1) / thread_num));
        roundingKernels.roundingRows(fpip, params, firstRow, rowLimit, remainders, remainderCount);
    }
}
