// The rounding correction's pass over a range of rows, the same for every tier but
// for its groups (the pass's set-up, the remainder seeds, the cursor into the
// dither registers' sequence), and the worker that splits the frame into whole
// groups of 8 rows per thread and runs the pass on each range with that thread's
// remainder arrays.
#include "output/rounding.h"

#include "abi/host_api.h"
#include "core/core.h"
#include "output/rounding_internal.h"

bool beginRoundingPass(const FILTER_PROC_INFO *fpip, const RoundingParams *params, int firstRow,
                       std::int16_t *remainders, int remainderCount, RoundingPass &pass) noexcept {
    using namespace rounding;
    if (!remaindersFit(fpip->w, remainders, remainderCount)) return false;
    for (int c = 0; c < 3; ++c) pass.rem[c] = remainders + c * remainderCount;
    const Levels levels = roundingLevels(params->strength);
    pass.levelLow = levels.low;
    pass.levelHigh = levels.high;
    pass.oddFrame = (fpip->frame & 1) != 0;
    pass.fieldStep = params->fieldMode ? 2 : 1;
    for (int i = 0; i < 3; ++i) pass.lane[i] = static_cast<std::uint16_t>(firstRow) ^ kLaneSeed[i];
    return true;
}

rounding::RegisterCursor rounding::registerCursor(std::uint16_t lane) noexcept {
    static const std::uint16_t stopped[kWrap] = {};
    if (lane == 0) return {stopped, 0, 0};
    const int position = kRegisterSequence.positionOf[lane];
    return {kRegisterSequence.state + position, position, 1};
}

void seedRoundingField(RoundingPass &pass, int w) noexcept { rounding::seedRemainders(pass, w); }

namespace {

// A whole pass over a range with one tier's groups. Here rather than beside the
// groups: the pass's set-up is shared inline code, which must not be compiled for AVX2.
template <RoundingGroupsFn groups>
void roundingRowsWith(const FILTER_PROC_INFO *fpip, const RoundingParams *params, int firstRow, int rowLimit,
                      std::int16_t *remainders, int remainderCount) noexcept {
    rounding::Pass pass;
    if (!rounding::startPass(fpip, params, firstRow, rowLimit, remainders, remainderCount, pass)) return;
    for (int f = 0; f < pass.fieldStep; ++f) {
        rounding::seedRemainders(pass, fpip->w);
        groups(fpip, pass, f, firstRow, rowLimit);
    }
}

}  // namespace

void roundingRowsScalar(const FILTER_PROC_INFO *fpip, const RoundingParams *params, int firstRow, int rowLimit,
                        std::int16_t *remainders, int remainderCount) noexcept {
    roundingRowsWith<roundingGroupsScalar>(fpip, params, firstRow, rowLimit, remainders, remainderCount);
}

void roundingRowsSse2(const FILTER_PROC_INFO *fpip, const RoundingParams *params, int firstRow, int rowLimit,
                      std::int16_t *remainders, int remainderCount) noexcept {
    roundingRowsWith<roundingGroupsSse2>(fpip, params, firstRow, rowLimit, remainders, remainderCount);
}

void roundingRowsAvx2(const FILTER_PROC_INFO *fpip, const RoundingParams *params, int firstRow, int rowLimit,
                      std::int16_t *remainders, int remainderCount) noexcept {
    roundingRowsWith<roundingGroupsAvx2>(fpip, params, firstRow, rowLimit, remainders, remainderCount);
}

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
    const WorkBuffers &buffers = *params->context.buffers;
    const RoundingRowsFn roundingRows = params->context.kernels->rounding->roundingRows;
    std::int16_t *remainders = buffers.scratch[thread_id].scratchQuarter;
    const int remainderCount = buffers.planes.stride / 4;

    for (int range = thread_id; range < thread_num; range += kScratchSets) {
        const RoundingRange rows = roundingRange(fpip->h, range, thread_num);
        roundingRows(fpip, params, rows.firstRow, rows.rowLimit, remainders, remainderCount);
    }
}
