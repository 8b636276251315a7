// The kernel table the workers call follows the processor level.
#include "wavelet/line_support.h"

TEST(WaveletKernels, InitPicksSse3OnlyAtLevelTwo) {
    const WaveletKernels saved = waveletKernels;
    for (int level : {0, 1, 2}) {
        const WaveletKernels &want = level == 2 ? kSse3WaveletKernels : kScalarWaveletKernels;
        // Without AVX2 the SSE3 table is what level 2 gets in full.
        initWaveletKernels(level, false);
        EXPECT_EQ(waveletKernels.forwardOctets, want.forwardOctets) << level;
        EXPECT_EQ(waveletKernels.shrinkOctets, want.shrinkOctets) << level;
        EXPECT_EQ(waveletKernels.inverseOctets, want.inverseOctets) << level;
        EXPECT_EQ(waveletKernels.mergeLowBandOctets, want.mergeLowBandOctets) << level;
        EXPECT_EQ(waveletKernels.inverseD4Octets, want.inverseD4Octets) << level;
    }
    waveletKernels = saved;
}

TEST(WaveletKernels, AvxTwoOctetKernelsOnlyWhereTheProcessorRunsThemAndNotWhenRefused) {
    const WaveletKernels saved = waveletKernels;
    initWaveletKernels(2);
    const WaveletKernels &best = cpuHasAvx2() ? kAvx2WaveletKernels : kSse3WaveletKernels;
    EXPECT_EQ(waveletKernels.forwardOctets, best.forwardOctets);
    EXPECT_EQ(waveletKernels.inverseD4Octets, best.inverseD4Octets);
    initWaveletKernels(2, false);
    EXPECT_EQ(waveletKernels.forwardOctets, kSse3WaveletKernels.forwardOctets);
    EXPECT_EQ(waveletKernels.shrinkOctets, kSse3WaveletKernels.shrinkOctets);
    initWaveletKernels(1);
    EXPECT_EQ(waveletKernels.forwardOctets, kScalarWaveletKernels.forwardOctets);
    waveletKernels = saved;
}
