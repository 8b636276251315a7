// Load, unload, settings and saving callbacks, and the frame ring markers they reset.
#include "core/core.h"
#include "host/pipeline.h"
#include "wavelet/wavelet.h"

FrameRing frameRing = {{kEmptySlot, kEmptySlot, kEmptySlot}};

void emptyFrameRing() noexcept {
    for (int &marker : frameRing.slotFrame) marker = kEmptySlot;
}

BOOL func_init(FILTER *) noexcept {
    CpuLevel = detectCpuLevel();
    initWaveletKernels(CpuLevel, !avx2Refused());
    // Buffers for the largest size class, so that a 1920 x 1080 clip needs no reallocation.
    sizeClass = {2048, 1280};
    lastW = 1920;
    lastH = 1088;
    buffersReady = allocateWorkBuffers();
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
