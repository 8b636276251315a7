// Load, unload, settings and saving callbacks.
#include "core/core.h"
#include "host/callbacks.h"
#include "host/frame_ring.h"
#include "output/rounding.h"
#include "prefilter/prefilter.h"
#include "temporal/temporal.h"
#include "wavelet/wavelet.h"

BOOL func_init(FILTER *) noexcept {
    CpuLevel = detectCpuLevel();
    const KernelTier tier = kernelTier(CpuLevel);
    initWaveletKernels(tier);
    initPrefilterKernels(tier);
    initRoundingKernels(tier);
    initTemporalKernels(tier);
    // Buffers for the largest size class, so that a 1920 x 1080 clip needs no reallocation.
    sizeClass = {2048, 1280};
    lastW = 1920;
    lastH = 1088;
    buffersReady = allocateWorkBuffers();
    describeBufferLayout();
    emptyFrameRing();
    return TRUE;
}

BOOL func_exit(FILTER *) noexcept {
    releaseWorkBuffers();
    buffersReady = false;
    return TRUE;
}

BOOL func_update(FILTER *fp, int) noexcept {
    deriveStrengths(fp);
    // The ring holds analyses made with the old thresholds.
    emptyFrameRing();
    return TRUE;
}

BOOL func_save_start(FILTER *, int, int, void *) noexcept {
    emptyFrameRing();
    return TRUE;
}
