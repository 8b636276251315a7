// The kernel table the workers call follows the processor level.
#include "wavelet/line_support.h"

TEST(WaveletKernels, InitPicksSse3OnlyAtLevelTwo) {
    const WaveletKernels saved = waveletKernels;
    for (int level : {0, 1, 2}) {
        initWaveletKernels(level);
        const WaveletKernels &want = level == 2 ? kSse3WaveletKernels : kScalarWaveletKernels;
        EXPECT_EQ(waveletKernels.forwardLevel, want.forwardLevel) << level;
        EXPECT_EQ(waveletKernels.flatMask, want.flatMask) << level;
        EXPECT_EQ(waveletKernels.coreBands, want.coreBands) << level;
        EXPECT_EQ(waveletKernels.inverseLevel, want.inverseLevel) << level;
        EXPECT_EQ(waveletKernels.mergeLowBand, want.mergeLowBand) << level;
        EXPECT_EQ(waveletKernels.inverseD4, want.inverseD4) << level;
    }
    waveletKernels = saved;
}
