// The pre-pass workers: each takes its band of rows and runs the row kernel of
// the table its parameters carry on it.
#include "prefilter/prefilter.h"

#include "abi/host_api.h"
#include "core/core.h"

namespace {

PrepassScratch scratchOf(const PrepassParams &params, int thread_id) noexcept {
    if (thread_id < 0 || thread_id >= params.scratchCount || !params.scratch) return {nullptr, 0};
    return params.scratch[thread_id];
}

}  // namespace

void blockNrWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept {
    const auto *params = static_cast<const PrepassParams *>(param1);
    const auto *fpip = static_cast<const FILTER_PROC_INFO *>(param2);
    params->kernels->prefilter->blockNrRows(prepassBandStart(fpip->h, thread_id, thread_num),
                                            prepassBandStart(fpip->h, thread_id + 1, thread_num),
                                            params->fieldCount, fpip, params->source, params->strengthA,
                                            params->strengthB, params->animeMode, scratchOf(*params, thread_id));
}

void mosquitoNrWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept {
    const auto *params = static_cast<const PrepassParams *>(param1);
    const auto *fpip = static_cast<const FILTER_PROC_INFO *>(param2);
    params->kernels->prefilter->mosquitoNrRows(params->source, params->prevFrame, fpip, params->nextFrame,
                                               params->fieldCount, params->strengthC,
                                               prepassBandStart(fpip->h, thread_id, thread_num),
                                               prepassBandStart(fpip->h, thread_id + 1, thread_num),
                                               scratchOf(*params, thread_id));
}
