// The three-frame fit and the float-to-sample rule, on the kernels of the filter
// linked into the test program (each SIMD fit and rebuild against its scalar twin:
// tests/kernels). (The synthesis
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

// One line of kCount samples in the previous, current and next frame.
struct FitLine {
    alignas(16) float prev[kCount], cur[kCount], next[kCount];
    alignas(16) float out[kCount];
    void set(int j, float p, float c, float q) {
        prev[j] = p;
        cur[j] = c;
        next[j] = q;
    }
    decltype(&temporalFitSse2) kernel = &temporalFitSse2;
    float fit(int j, float threshold, bool prevEmpty = false, bool nextEmpty = false) {
        const TemporalJob job = makeTemporalJob(3, prevEmpty, nextEmpty);
        kernel(job, kCount, threshold, out, prev, cur, next);
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
