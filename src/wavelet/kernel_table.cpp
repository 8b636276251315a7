// The wavelet kernel tables, one per tier.
#include "wavelet/wavelet.h"

const WaveletKernels kWaveletScalar = {
    forwardOctetsScalar, shrinkOctetsScalar, inverseOctetsScalar,
    mergeLowBandOctetsScalar, synthesizeRowPairScalar,
};

const WaveletKernels kWaveletSse2 = {
    forwardOctetsSse2, shrinkOctetsSse2, inverseOctetsSse2,
    mergeLowBandOctetsSse2, synthesizeRowPairSse2,
};

const WaveletKernels kWaveletAvx2 = {
    forwardOctetsAvx2, shrinkOctetsAvx2, inverseOctetsAvx2,
    mergeLowBandOctetsAvx2, synthesizeRowPairAvx2,
};
