// The kernel table the workers call follows the processor level.
#include <cstdlib>
#include <string>

#include "support/support.h"
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

// The Windows tests run the module's SSE3 path on an AVX2 processor through this
// variable: unless it reaches the choice func_init makes, they compare AVX2 with itself.
TEST(WaveletKernels, LoadKeepsToSse3WhereTheEnvironmentRefusesAvx2) {
    if (!q5test::cpuHasSse3()) GTEST_SKIP() << "the processor lacks SSE3";
    const WaveletKernels saved = waveletKernels;
    const char *set = std::getenv("Q5_NO_AVX2");
    const std::string previous = set ? set : "";
    FILTER_DLL *fp = q5test::linkedEntry()();
    for (const char *value : {"1", "0", ""}) {
        setenv("Q5_NO_AVX2", value, 1);
        ASSERT_EQ(fp->func_init(fp), TRUE);
        const bool avx2 = value[0] != '1' && cpuHasAvx2();
        EXPECT_EQ(waveletKernels.forwardOctets,
                  (avx2 ? kAvx2WaveletKernels : kSse3WaveletKernels).forwardOctets) << "Q5_NO_AVX2=" << value;
        fp->func_exit(fp);
    }
    if (set)
        setenv("Q5_NO_AVX2", previous.c_str(), 1);
    else
        unsetenv("Q5_NO_AVX2");
    waveletKernels = saved;
}
