// The wavelet kernel tables and the choice between them at load.
#include "wavelet/wavelet.h"

const WaveletKernels kScalarWaveletKernels = {
    forwardLevelScalar, flatMaskScalar,     coreBandsScalar,
    inverseLevelScalar, mergeLowBandScalar, inverseD4Scalar,
};

const WaveletKernels kSse3WaveletKernels = {
    forwardLevelSse3, flatMaskSse3,     coreBandsSse3,
    inverseLevelSse3, mergeLowBandSse3, inverseD4Sse3,
};

// Scalar until func_init has checked the processor, so nothing runs SSE3 code
// on a processor without it.
WaveletKernels waveletKernels = kScalarWaveletKernels;

void initWaveletKernels(int cpuLevel) noexcept {
    waveletKernels = cpuLevel == 2 ? kSse3WaveletKernels : kScalarWaveletKernels;
}
