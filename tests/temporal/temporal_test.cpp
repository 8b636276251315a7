// The three-frame fit, the AVX2 rebuild against the SSE2 one and the float-to-sample
// rule, on the kernels of the filter linked into the test program. (The synthesis
// and the output placement are held by the golden frames, in frame and in per-field
// mode.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "analysis/analysis.h"
#include "core/control_word.h"
#include "support/support.h"
#include "temporal/temporal.h"
#include "wavelet/sample_conversion.h"

namespace {

constexpr int kCount = 16;

// One ring line of kCount samples with prev, cur and next in slots 2, 0, 1 (frame 3k).
struct FitLine {
    alignas(16) float ring[3 * kCount];
    alignas(16) float out[kCount];
    void set(int j, float p, float c, float q) {
        ring[ringIndex(0, kCount, j, 2, 1)] = p;
        ring[ringIndex(0, kCount, j, 0, 1)] = c;
        ring[ringIndex(0, kCount, j, 1, 1)] = q;
    }
    decltype(&temporalFitSse2) kernel = &temporalFitSse2;
    float fit(int j, float threshold, bool prevEmpty = false, bool nextEmpty = false) {
        const TemporalJob job = makeTemporalJob(3, prevEmpty, nextEmpty);
        kernel(job, kCount, threshold, out, ring, kCount, 0);
        return out[j];
    }
};

}  // namespace

TEST(TemporalFit, AcceptsNeighboursOnlyStrictlyWithinTheThreshold) {
    ControlWordScope cw(kProcControlWord);
    const float t = 40.01f, c = 1000.0f;
    std::vector<decltype(&temporalFitSse2)> kernels = {&temporalFitSse2, &temporalFitScalar};
    if (cpuHasAvx2()) kernels.push_back(&temporalFitAvx2);
    for (auto kernel : kernels) {
        SCOPED_TRACE(kernel == &temporalFitSse2 ? "SSE2" : kernel == &temporalFitAvx2 ? "AVX2" : "scalar");
        FitLine line{};
        line.kernel = kernel;
        // p, then q, exactly T away (8 + T is exact in float): only the other one
        // accepted, and one neighbour alone leaves c.
        ASSERT_EQ((8.0f + t) - 8.0f, t);
        line.set(0, 8.0f + t, 8.0f, 8.0f);
        EXPECT_NEAR(line.fit(0, t), 8.0f, 1e-5);
        line.set(4, 8.0f, 8.0f, 8.0f + t);
        EXPECT_NEAR(line.fit(4, t), 8.0f, 1e-5);
        // Both within: the mean of the three.
        const float p = c + 0.999f * t, q = c - 10.0f;
        line.set(1, p, c, q);
        EXPECT_NEAR(line.fit(1, t), (p + c + q) / 3, 1e-3);
        // Neither within: exactly c.
        line.set(2, c - 50.0f, c, c + 41.0f);
        EXPECT_EQ(line.fit(2, t), c);
        // Only one within, from either side: c, not the mean of two.
        line.set(3, c + 20.0f, c, c + 500.0f);
        EXPECT_NEAR(line.fit(3, t), c, 1e-3);
    }
}

TEST(TemporalFit, AnEmptyNeighbourSlotIsRejectedWhateverItHolds) {
    ControlWordScope cw(kProcControlWord);
    const float t = 40.01f, c = 1000.0f, q = 1010.0f;
    FitLine line{};
    line.set(0, std::numeric_limits<float>::quiet_NaN(), c, q);
    line.set(1, 1005.0f, c, q);
    line.set(2, std::numeric_limits<float>::infinity(), c, c + 3.0f);
    EXPECT_NEAR(line.fit(1, t), (1005.0f + c + q) / 3, 1e-3);  // both slots in use
    EXPECT_NEAR(line.fit(0, t, true), c, 1e-3);                // prev empty: only q
    EXPECT_NEAR(line.fit(1, t, true), c, 1e-3);
    EXPECT_NEAR(line.fit(2, t, true), c, 1e-3);
    EXPECT_EQ(line.fit(1, t, true, true), c);  // both empty: the band stays as it is
    EXPECT_EQ(line.fit(0, t, true, true), c);
}

TEST(TemporalFit, SimdMatchesScalarTwinBitForBit) {
    ControlWordScope cw(kProcControlWord);
    std::mt19937 rng(q5test::testSeed());
    std::uniform_real_distribution<float> value(-3000.0f, 3000.0f), step(-60.0f, 60.0f);
    alignas(16) float ring[3 * 64], simd[64], scalar[64];
    for (int round = 0; round < 50; ++round) {
        for (int j = 0; j < 64; ++j) {
            const float c = value(rng);
            ring[ringIndex(0, 64, j, 0, 1)] = c;
            ring[ringIndex(0, 64, j, 1, 1)] = c + step(rng);
            ring[ringIndex(0, 64, j, 2, 1)] = c + step(rng);
        }
        const TemporalJob job = makeTemporalJob(round, round % 4 == 1, round % 4 == 2);
        temporalFitScalar(job, 64, 40.01f, scalar, ring, 64, 0);
        temporalFitSse2(job, 64, 40.01f, simd, ring, 64, 0);
        ASSERT_EQ(0, std::memcmp(simd, scalar, sizeof simd)) << "round " << round;
        if (!cpuHasAvx2()) continue;
        // Sixty samples: seven groups of eight and one of four.
        std::fill(std::begin(simd), std::end(simd), 0.0f);
        temporalFitAvx2(job, 60, 40.01f, simd, ring, 64, 0);
        ASSERT_EQ(0, std::memcmp(simd, scalar, 60 * sizeof(float))) << "AVX2, round " << round;
    }
}

// The AVX2 rebuild fits the coarsest band itself, eight positions at a time and four
// at the end: a coarsest band of 4 and of 12 positions (lines of 64 and 192) takes the
// four-wide step, and each neighbour left out must stay out there too, even though its
// slot holds a close analysis (a stale one, as after a missing frame).
TEST(TemporalFit, Avx2OctetRebuildMatchesSse2WithEitherNeighbourMissing) {
    if (!cpuHasAvx2()) GTEST_SKIP() << "no AVX2";
    ControlWordScope cw(kProcControlWord);
    std::mt19937 rng(q5test::testSeed());
    std::uniform_real_distribution<float> value(-3000.0f, 3000.0f), step(-30.0f, 30.0f);
    constexpr long kLines = 8;
    for (int len : {64, 192}) {
        std::vector<float> ringA(3 * kLines * len), ringB(3 * kLines * len);
        for (long i = 0; i < kLines; ++i)
            for (long j = 0; j < len; ++j) {
                const float c = value(rng);
                for (int s = 0; s < 3; ++s) {
                    ringA[ringIndex(i, len, j, s, kLines)] = s == 0 ? c : c + step(rng);
                    ringB[ringIndex(i, len, j, s, kLines)] = value(rng);
                }
            }
        for (int empty = 0; empty < 4; ++empty) {
            SCOPED_TRACE(testing::Message() << "len " << len << ", prev empty " << (empty & 1) << ", next empty "
                                            << (empty >> 1) << ", seed " << q5test::testSeed());
            const TemporalParams params{makeTemporalJob(3, empty & 1, empty >> 1), 40.01f, false, {}};
            std::vector<float> sse2Lines(4 * 8 * len), avx2Lines(4 * 8 * len);
            const auto buffers = [&](std::vector<float> &lines) {
                return OctetBuffers{lines.data(), lines.data() + 8 * len, lines.data() + 16 * len,
                                    lines.data() + 24 * len};
            };
            OctetBuffers sse2 = buffers(sse2Lines), avx2 = buffers(avx2Lines);
            rebuildOctetSse2(params, ringA.data(), ringB.data(), kLines, 0, len, sse2);
            rebuildOctetAvx2(params, ringA.data(), ringB.data(), kLines, 0, len, avx2);
            for (int i = 0; i < 8 * len; ++i)
                ASSERT_EQ(std::memcmp(&avx2.band[i], &sse2.band[i], sizeof(float)), 0)
                    << "octet position " << i / 8 << " lane " << i % 8 << ": " << avx2.band[i] << " against "
                    << sse2.band[i];
        }
    }
}

TEST(FloatToSample, RoundsToNearestHalvesUpAndClamps) {
    // Negative values round to the nearest integer as positive ones do: an integer
    // comes back exact, so a filter that changes nothing changes no sample.
    const struct {
        float in;
        int out;
    } cases[] = {{1.5f, 2},        {1.4f, 1},        {-1.2f, -1},      {-1.5f, -1},
                 {-2.4f, -2},      {4095.5f, 4096},  {100.49f, 100},   {-0.6f, -1},
                 {8192.4f, 8192},  {20000.0f, 8192}, {-20000.0f, -8192}, {3e9f, -8192},
                 {std::numeric_limits<float>::quiet_NaN(), -8192},     {-8192.9f, -8192},
                 {-20.0f, -20},    {-100.0f, -100},  {-0.5f, 0},       {-3e9f, -8192}};
    std::vector<float> in;
    for (const auto &c : cases) {
        EXPECT_EQ(floatToSample(c.in), c.out) << c.in;
        in.push_back(c.in);
    }
    in.resize(24, 0.25f);
    std::int16_t out[24];
    floatsToSamples(in.data(), 24, out);
    for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(out[i], cases[i].out) << cases[i].in;
}
