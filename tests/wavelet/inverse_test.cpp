// The one-line inverse kernels, the reference of the octet kernels: the
// reconstruction properties they share with the forward level.
#include <algorithm>
#include <cmath>

#include "core/control_word.h"
#include "wavelet/line_support.h"

using namespace q5test;

namespace {

double maxAbs(const float *line, int count) {
    double m = 0;
    for (int i = 0; i < count; ++i) m = std::max(m, std::fabs(double(line[i])));
    return m;
}

// Largest difference between two lines relative to the magnitude of the first.
double relativeError(const float *expected, const float *actual, int count) {
    double worst = 0;
    for (int i = 0; i < count; ++i) worst = std::max(worst, std::fabs(double(expected[i]) - actual[i]));
    return worst / maxAbs(expected, count);
}

constexpr double h[4] = {0.482962906, 0.836516321, 0.224143863, -0.129409522};

}  // namespace

TEST(InverseLevel, RebuildsTheLineOfAForwardLevel) {
    ControlWordScope cw(kProcControlWord);
    std::mt19937 rng(testSeed());
    for (auto [name, k] : lineKernelTables()) {
        for (int N : {32, 104, 416, 2048}) {
            SCOPED_TRACE(testing::Message() << name << " N=" << N << " seed=" << testSeed());
            const int n = N / 2;
            GuardedLine x(N), band(N), h2(N), out(N);
            fillLine(x.data(), N, rng);
            k->forwardLevel(N, x.data(), band.data(), h2.data());
            h2.poison(0, n);  // the synthesis must not depend on the first half
            k->inverseLevel(band.data(), h2.data(), n, out.data());
            EXPECT_LT(relativeError(x.data(), out.data(), N), 4e-7);
            EXPECT_TRUE(h2.untouched(0, n));
        }
    }
}

TEST(InverseLevel, ConstantAndEdgeImpulsesComeBackInPlace) {
    ControlWordScope cw(kProcControlWord);
    const int N = 64, n = 32;
    for (auto [name, k] : lineKernelTables()) {
        for (int position : {-1, 0, N - 1}) {
            SCOPED_TRACE(testing::Message() << name << " impulse at " << position);
            GuardedLine x(N), band(N), h2(N), out(N);
            for (int i = 0; i < N; ++i) x[i] = position < 0 ? 1000.0f : 0.0f;
            if (position >= 0) x[position] = 1000.0f;
            k->forwardLevel(N, x.data(), band.data(), h2.data());
            k->inverseLevel(band.data(), h2.data(), n, out.data());
            for (int i = 0; i < N; ++i) ASSERT_NEAR(out[i], x[i], 2e-4f) << "at " << i;
        }
    }
}

TEST(InverseLevel, SynthesisOfAUnitCoefficientIsExactlyTheAnalysisTaps) {
    // The synthesis is the transpose of the analysis: a single 1 in L, H1 or H2
    // rebuilds the line whose samples are the taps each sample gets in that
    // coefficient. One product per output, so the two must agree to the bit; a tap
    // off in its last digit still rebuilds lines to within rounding.
    ControlWordScope cw(kProcControlWord);
    const int n = 16, N = 2 * n;
    for (auto [name, k] : lineKernelTables()) {
        // analysis[j][c]: coefficient c (L, H1 at 0..2n, H2 at 2n..3n) of a unit sample j.
        std::vector<std::vector<float>> analysis(N, std::vector<float>(3 * n));
        for (int j = 0; j < N; ++j) {
            GuardedLine x(N), band(N), h2(N);
            std::fill(x.data(), x.data() + N, 0.0f);
            x[j] = 1.0f;
            k->forwardLevel(N, x.data(), band.data(), h2.data());
            for (int c = 0; c < N; ++c) analysis[j][c] = band[c];
            for (int c = 0; c < n; ++c) analysis[j][N + c] = h2[n + c];
        }
        for (int c = 0; c < 3 * n; ++c) {
            SCOPED_TRACE(testing::Message() << name << " unit coefficient " << c);
            GuardedLine band(N), h2(N), out(N);
            std::fill(band.data(), band.data() + N, 0.0f);
            std::fill(h2.data() + n, h2.data() + N, 0.0f);
            if (c < N)
                band[c] = 1.0f;
            else
                h2[n + c - N] = 1.0f;
            k->inverseLevel(band.data(), h2.data(), n, out.data());
            for (int j = 0; j < N; ++j) ASSERT_EQ(out[j], analysis[j][c]) << "sample " << j;
        }
    }
}

TEST(MergeLowBand, YieldsTheDaubechiesLowBandAndMatchesInverseLevelThroughInverseD4) {
    ControlWordScope cw(kProcControlWord);
    std::mt19937 rng(testSeed());
    for (auto [name, k] : lineKernelTables()) {
        for (int N : {24, 64, 512, 1280}) {
            SCOPED_TRACE(testing::Message() << name << " N=" << N << " seed=" << testSeed());
            const int n = N / 2;
            GuardedLine x(N), band(N), h2(N), d4(N), viaMerge(N), viaLevel(N);
            fillLine(x.data(), N, rng);
            k->forwardLevel(N, x.data(), band.data(), h2.data());
            // lo from L and H1 goes below hi (= H2), as the luma vertical pass lays it out.
            k->mergeLowBand(band.data(), n, h2.data());
            std::vector<float> lo(n);
            for (int m = 0; m < n; ++m) {
                double s = 0;
                for (int j = 0; j < 4; ++j) s += h[j] * x[(2 * m + j) % N];
                lo[m] = float(s);
            }
            EXPECT_LT(relativeError(lo.data(), h2.data(), n), 4e-7);
            k->inverseD4(h2.data(), n, viaMerge.data());
            k->inverseLevel(band.data(), h2.data(), n, viaLevel.data());
            EXPECT_LT(relativeError(viaLevel.data(), viaMerge.data(), N), 4e-7);
            EXPECT_LT(relativeError(x.data(), viaMerge.data(), N), 4e-7);
        }
    }
}

TEST(InverseD4, InvertsTheDaubechiesAnalysisAcrossTheWrap) {
    ControlWordScope cw(kProcControlWord);
    std::mt19937 rng(testSeed());
    for (auto [name, k] : lineKernelTables()) {
        for (int n : {8, 256, 640}) {
            SCOPED_TRACE(testing::Message() << name << " n=" << n);
            const int N = 2 * n;
            GuardedLine x(N), bands(N), out(N);
            fillLine(x.data(), N, rng);
            x[0] = x[N - 1] = 4000.0f;  // large samples where the windows wrap
            for (int m = 0; m < n; ++m) {
                double lo = 0, hi = 0;
                for (int j = 0; j < 4; ++j) {
                    const double g = j % 2 ? -h[3 - j] : h[3 - j];
                    lo += h[j] * x[(2 * m + j) % N];
                    hi += g * x[(2 * m + j) % N];
                }
                bands[m] = float(lo), bands[n + m] = float(hi);
            }
            k->inverseD4(bands.data(), n, out.data());
            EXPECT_LT(relativeError(x.data(), out.data(), N), 4e-7);
        }
    }
}
