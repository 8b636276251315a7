// The wavelet kernel tables and the choice between them at load.
#include "core/core.h"
#include "wavelet/wavelet.h"

const WaveletKernels kScalarWaveletKernels = {
    forwardOctetsScalar, shrinkOctetsScalar, inverseOctetsScalar,
    mergeLowBandOctetsScalar, inverseD4OctetsScalar,
};

const WaveletKernels kSse3WaveletKernels = {
    forwardOctetsSse3, shrinkOctetsSse3, inverseOctetsSse3,
    mergeLowBandOctetsSse3, inverseD4OctetsSse3,
};

const WaveletKernels kAvx2WaveletKernels = {
    forwardOctetsAvx2, shrinkOctetsAvx2, inverseOctetsAvx2,
    mergeLowBandOctetsAvx2, inverseD4OctetsAvx2,
};

// Scalar until func_init has checked the processor, so nothing runs SSE3 code
// on a processor without it.
WaveletKernels waveletKernels = kScalarWaveletKernels;

void initWaveletKernels(KernelTier tier) noexcept {
    waveletKernels = kScalarWaveletKernels;
    if (tier >= kTierSse3) waveletKernels = kSse3WaveletKernels;
    if (tier >= kTierAvx2) waveletKernels = kAvx2WaveletKernels;
}
