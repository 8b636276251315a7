// The luma sweep with the rounding correction in it: the sweep rounds each group of
// four rows of the range's field as it writes the group.
#include "output/output_stage.h"

#include "core/core.h"

void outputRoundingWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept {
    if (thread_num <= 0 || thread_id < 0 || thread_id >= kScratchSets) return;
    const auto *params = static_cast<const OutputRoundingParams *>(param1);
    const auto *fpip = static_cast<const FILTER_PROC_INFO *>(param2);
    const WorkBuffers &buffers = *params->temporal.context.buffers;
    const PlaneGeometry g = planeGeometry(fpip, buffers.planes);
    std::int16_t *remainders = buffers.scratch[thread_id].scratchQuarter;
    const int remainderCount = g.stride / 4;

    // The ranges of roundingWorker: thread t takes those of threads t, t + 4, ...
    for (int range = thread_id; range < thread_num; range += kScratchSets) {
        const auto [firstRow, rowLimit] = roundingRange(fpip->h, range, thread_num);
        RoundingPass pass;
        const bool fieldMode = params->temporal.fieldMode;
        if (!beginRoundingPass(fpip, &params->rounding, firstRow, remainders, remainderCount, pass)) {
            // Arrays too short for the picture: the plain rounding of the whole range.
            const int top = (g.rows - g.h) / 2;
            if (!fieldMode) {
                lumaOutputPlaneRows(params->temporal, fpip, thread_id, top + firstRow, top + rowLimit, nullptr);
            } else {
                for (int f = 0; f < 2; ++f) {
                    const int offset = f * (g.rows / 2) + (g.rows - g.h) / 4;
                    lumaOutputPlaneRows(params->temporal, fpip, thread_id, offset + firstRow / 2,
                                        offset + rowLimit / 2, nullptr);
                }
            }
            params->temporal.context.kernels->rounding->roundingRows(fpip, &params->rounding, firstRow, rowLimit,
                                                                     remainders, remainderCount);
            continue;
        }
        for (int f = 0; f < pass.fieldStep; ++f) {
            seedRoundingField(pass, fpip->w);
            const int lineOffset = fieldMode ? f * (g.rows / 2) + (g.rows - g.h) / 4 : (g.rows - g.h) / 2;
            const int first = fieldMode ? firstRow / 2 : firstRow, limit = fieldMode ? rowLimit / 2 : rowLimit;
            lumaOutputPlaneRows(params->temporal, fpip, thread_id, lineOffset + first, lineOffset + limit, &pass);
        }
    }
}
