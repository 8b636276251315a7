// Load, unload, settings and saving callbacks, and the module state they own: the
// kernel tables chosen at load and the working buffers.
#include "host/callbacks.h"

#include "host/frame_ring.h"
#include "output/rounding.h"
#include "prefilter/prefilter.h"
#include "temporal/temporal.h"
#include "wavelet/wavelet.h"

// Scalar until func_init has checked the processor, so nothing runs SSE2 code on a
// processor without it.
KernelTables moduleKernels = {kTierScalar, &kWaveletScalar, &kPrefilterScalar, &kTemporalScalar, &kRoundingScalar};
WorkBuffers workBuffers = {};
int lastW = 1920;
int lastH = 1088;
bool buffersReady = false;

KernelTables kernelTablesFor(KernelTier tier) noexcept {
    KernelTables k = {tier, &kWaveletScalar, &kPrefilterScalar, &kTemporalScalar, &kRoundingScalar};
    if (tier >= kTierSse2) k = {tier, &kWaveletSse2, &kPrefilterSse2, &kTemporalSse2, &kRoundingSse2};
    if (tier >= kTierAvx2) k = {tier, &kWaveletAvx2, &kPrefilterAvx2, &kTemporalAvx2, &kRoundingAvx2};
    return k;
}

BOOL func_init(FILTER *) noexcept {
    CpuLevel = detectCpuLevel();
    moduleKernels = kernelTablesFor(kernelTier(CpuLevel));
    // Buffers for 1920 x 1088 (the 2048 x 1280 class), the editor's usual size, so
    // that a 1920 x 1080 clip needs no reallocation.
    lastW = 1920;
    lastH = 1088;
    buffersReady = allocateWorkBuffers(workBuffers, {2048, 1280});
    emptyFrameRing();
    return TRUE;
}

BOOL func_exit(FILTER *) noexcept {
    releaseWorkBuffers(workBuffers);
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
