// The pre-pass workers and their kernel table: each worker takes its band of
// rows and runs the row kernel on it.
#include "prefilter/prefilter.h"

#include "abi/host_api.h"
#include "core/core.h"

const PrefilterKernels kPrefilterScalar = {&blockNrRowsScalar, &mosquitoNrRowsScalar};
const PrefilterKernels kPrefilterSse2 = {&blockNrRowsSse2, &mosquitoNrRowsSse2};
const PrefilterKernels kPrefilterAvx2 = {&blockNrRowsAvx2, &mosquitoNrRowsAvx2};
PrefilterKernels prefilterKernels = kPrefilterScalar;

void initPrefilterKernels(KernelTier tier) noexcept {
    prefilterKernels = kPrefilterScalar;
    if (tier >= kTierSse2) prefilterKernels = kPrefilterSse2;
    if (tier >= kTierAvx2) prefilterKernels = kPrefilterAvx2;
}

void blockNrWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept {
    const auto *params = static_cast<const PrepassParams *>(param1);
    const auto *fpip = static_cast<const FILTER_PROC_INFO *>(param2);
    blockNrRows(prepassBandStart(fpip->h, thread_id, thread_num),
                prepassBandStart(fpip->h, thread_id + 1, thread_num), params->fieldCount, fpip,
                params->source, params->strengthA, params->strengthB, params->animeMode, thread_id);
}

void mosquitoNrWorker(int thread_id, int thread_num, void *param1, void *param2) noexcept {
    const auto *params = static_cast<const PrepassParams *>(param1);
    const auto *fpip = static_cast<const FILTER_PROC_INFO *>(param2);
    mosquitoNrRows(params->source, params->prevFrame, fpip, params->nextFrame, params->fieldCount,
                   params->strengthC, prepassBandStart(fpip->h, thread_id, thread_num),
                   prepassBandStart(fpip->h, thread_id + 1, thread_num), thread_id);
}
