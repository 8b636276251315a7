// The wavelet kernel tables and the choice between them at load.
#include "core/core.h"
#include "wavelet/wavelet.h"

const WaveletKernels kScalarWaveletKernels = {
    forwardOctetsScalar, shrinkOctetsScalar, inverseOctetsScalar,
    mergeLowBandOctetsScalar, synthesizeRowPairScalar,
};

const WaveletKernels kSse2WaveletKernels = {
    forwardOctetsSse2, shrinkOctetsSse2, inverseOctetsSse2,
    mergeLowBandOctetsSse2, synthesizeRowPairSse2,
};

const WaveletKernels kAvx2WaveletKernels = {
    forwardOctetsAvx2, shrinkOctetsAvx2, inverseOctetsAvx2,
    mergeLowBandOctetsAvx2, synthesizeRowPairAvx2,
};

// Scalar until func_init has checked the processor, so nothing runs SSE2 code
// on a processor without it.
WaveletKernels waveletKernels = kScalarWaveletKernels;

void initWaveletKernels(KernelTier tier) noexcept {
    waveletKernels = kScalarWaveletKernels;
    if (tier >= kTierSse2) waveletKernels = kSse2WaveletKernels;
    if (tier >= kTierAvx2) waveletKernels = kAvx2WaveletKernels;
}
