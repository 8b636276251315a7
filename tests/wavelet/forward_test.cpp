// The one-line forward kernels, the reference of the octet kernels: the properties
// of one analysis level, the flat mask and coring.
#include <cmath>
#include <limits>

#include "core/control_word.h"
#include "wavelet/line_support.h"

using namespace q5test;

namespace {

constexpr float kLTaps[10] = {-0.0301851816f, -0.05228227f,   0.257657647f, 0.478628516f,
                              0.397747576f,   0.397747576f,   0.0958957449f, -0.125075132f,
                              -0.0140089914f, 0.00808809511f};

}  // namespace

TEST(ForwardLevel, ConstantLineGivesScaledLowBandAndNoDetail) {
    ControlWordScope cw(kProcControlWord);
    for (auto [name, k] : lineKernelTables()) {
        for (int N : {32, 832, 2048}) {
            SCOPED_TRACE(testing::Message() << name << " N=" << N);
            const int n = N / 2;
            GuardedLine src(N), band(N), h2(N);
            for (int i = 0; i < N; ++i) src[i] = 1000.0f;
            k->forwardLevel(N, src.data(), band.data(), h2.data());
            for (int m = 0; m < n; ++m) {
                ASSERT_NEAR(band[m], 1414.21358f, 1e-3f) << "L at " << m;
                ASSERT_NEAR(band[n + m], 0.0f, 1e-3f) << "H1 at " << m;
                ASSERT_NEAR(h2[n + m], 0.0f, 1e-3f) << "H2 at " << m;
            }
        }
    }
}

TEST(ForwardLevel, ImpulseAtEitherEndShowsExactlyAtTheWrappedPositions) {
    ControlWordScope cw(kProcControlWord);
    for (auto [name, k] : lineKernelTables()) {
        const int N = 64, n = 32;
        // x[0] is reached by L/H1 outputs n-2, n-1, 0, 1, 2 (taps +4, +2, 0, -2, -4)
        // and by H2 outputs n-1 and 0; x[N-1] by n-3 .. 1 (taps +5 .. -3) and n-2, n-1.
        struct Case {
            int position;
            std::vector<std::pair<int, int>> lowHits;  // (m, tap offset)
            std::vector<int> h2Hits;
        };
        const Case cases[] = {{0, {{n - 2, 4}, {n - 1, 2}, {0, 0}, {1, -2}, {2, -4}}, {n - 1, 0}},
                              {N - 1, {{n - 3, 5}, {n - 2, 3}, {n - 1, 1}, {0, -1}, {1, -3}}, {n - 2, n - 1}}};
        for (const Case &c : cases) {
            SCOPED_TRACE(testing::Message() << name << " impulse at " << c.position);
            GuardedLine src(N), band(N), h2(N);
            for (int i = 0; i < N; ++i) src[i] = 0.0f;
            src[c.position] = 1.0f;
            k->forwardLevel(N, src.data(), band.data(), h2.data());
            std::vector<float> expectL(n, 0.0f);
            for (auto [m, offset] : c.lowHits) expectL[m] = kLTaps[offset + 4];
            for (int m = 0; m < n; ++m) {
                EXPECT_EQ(band[m], expectL[m]) << "L at " << m;
                bool hit = expectL[m] != 0.0f;
                EXPECT_EQ(band[n + m] != 0.0f, hit) << "H1 at " << m;
                bool h2Hit = m == c.h2Hits[0] || m == c.h2Hits[1];
                EXPECT_EQ(h2[n + m] != 0.0f, h2Hit) << "H2 at " << m;
            }
        }
    }
}

TEST(ForwardLevel, BandsKeepTheEnergyOfTheLine) {
    ControlWordScope cw(kProcControlWord);
    std::mt19937 rng(testSeed());
    for (auto [name, k] : lineKernelTables()) {
        const int N = 512, n = 256;
        GuardedLine src(N), band(N), h2(N);
        fillLine(src.data(), N, rng);
        k->forwardLevel(N, src.data(), band.data(), h2.data());
        double in = 0, out = 0;
        for (int i = 0; i < N; ++i) in += double(src[i]) * src[i];
        for (int i = 0; i < N; ++i) out += double(band[i]) * band[i];
        for (int i = n; i < N; ++i) out += double(h2[i]) * h2[i];
        EXPECT_NEAR(out / in, 1.0, 1e-5) << name;
    }
}

TEST(FlatMask, BendRepeatsTheEdgeValueAtBothEnds) {
    ControlWordScope cw(kProcControlWord);
    const float T = 10.0f;
    const int N = 64, n = 32;
    for (auto [name, k] : lineKernelTables()) {
        for (bool inH2 : {false, true}) {
            SCOPED_TRACE(testing::Message() << name << (inH2 ? " H2" : " H1"));
            // Every value and every bend stays below T when the ends repeat their edge
            // value; wrapping round or padding with zeros would give bends above T.
            GuardedLine band(N), h2(N), mask(N);
            for (int i = 0; i < N; ++i) band[i] = h2[i] = 0.0f;
            float *u = (inH2 ? h2.data() : band.data()) + n;
            u[0] = 0.9f * T, u[1] = 0.7f * T, u[2] = 0.5f * T;
            u[n - 1] = -0.9f * T, u[n - 2] = -0.7f * T, u[n - 3] = -0.5f * T;
            k->flatMask(1, false, true, mask.data(), N, band.data(), h2.data(), T);
            for (int i = n; i < N; ++i) EXPECT_EQ(mask[i], 0.0f) << "at " << i - n;
            // A step at either end: u[0] - u[1] and u[n-1] - u[n-2] reach T.
            u[1] = -0.2f * T, u[n - 2] = 0.2f * T;
            k->flatMask(1, false, true, mask.data(), N, band.data(), h2.data(), T);
            EXPECT_EQ(mask[n], 1.0f);
            EXPECT_EQ(mask[N - 1], 1.0f);
        }
    }
}

TEST(FlatMask, MarksAtTheThresholdAndKeepsSmallDetailOnlyForLumaOutsideAnimeMode) {
    ControlWordScope cw(kProcControlWord);
    const int N = 64, n = 32;
    const float T = 8.0f;
    for (auto [name, k] : lineKernelTables()) {
        SCOPED_TRACE(name);
        GuardedLine band(N), h2(N), mask(N);
        // A smooth ramp of details between 0.5 and 3: no bend, no magnitude near T.
        for (int i = 0; i < n; ++i) band[n + i] = h2[n + i] = 0.5f + 0.08f * i;
        band[n + 10] = T;           // equal to the flat threshold: marked
        h2[n + 20] = 0.3f;          // below the keep-small bound (luma, anime off)
        band[n + 25] = -0.39f;      // likewise, negative
        // Soften the bends around the special values so only their magnitudes count.
        band[n + 9] = band[n + 11] = T - 1.0f;
        h2[n + 19] = h2[n + 21] = 0.3f;
        band[n + 24] = band[n + 26] = -0.39f;
        for (bool chroma : {false, true}) {
            for (bool anime : {false, true}) {
                k->flatMask(1, chroma, anime, mask.data(), N, band.data(), h2.data(), T);
                const bool keepSmall = !chroma && !anime;
                EXPECT_EQ(mask[n + 10], 1.0f);
                EXPECT_EQ(mask[n + 20], keepSmall ? 1.0f : 0.0f) << chroma << anime;
                EXPECT_EQ(mask[n + 25], keepSmall ? 1.0f : 0.0f) << chroma << anime;
                EXPECT_EQ(mask[n + 2], 0.0f);
            }
        }
        // A threshold of 0 or below marks every position.
        for (float t : {0.0f, -3.0f}) {
            k->flatMask(1, true, true, mask.data(), N, band.data(), h2.data(), t);
            for (int i = n; i < N; ++i) ASSERT_EQ(mask[i], 1.0f) << "T=" << t << " at " << i;
        }
    }
}

TEST(CoreBands, ZeroesUnmaskedDetailUpToTheThresholdInclusive) {
    ControlWordScope cw(kProcControlWord);
    const int N = 32, n = 16;
    for (auto [name, k] : lineKernelTables()) {
        SCOPED_TRACE(name);
        GuardedLine band(N), h2(N), mask(N);
        auto reset = [&](float a, float b) {
            for (int i = 0; i < N; ++i) band[i] = h2[i] = mask[i] = 0.0f;
            for (int i = 0; i < n; ++i) band[i] = 77.0f;  // L is never cored
            for (int i = n; i < N; i += 2) band[i] = a, h2[i] = b;
            for (int i = n + 1; i < N; i += 2) band[i] = -a, h2[i] = -b;
        };
        for (bool equalInH2 : {false, true}) {
            reset(equalInH2 ? 5.5f : 5.0f, equalInH2 ? 5.0f : 5.5f);
            k->coreBands(N, band.data(), h2.data(), 5.0f, mask.data());
            for (int i = 0; i < n; ++i) EXPECT_EQ(band[i], 77.0f);
            GuardedLine &equal = equalInH2 ? h2 : band, &above = equalInH2 ? band : h2;
            for (int i = n; i < N; ++i) {
                EXPECT_EQ(equal[i], 0.0f) << "equal to the threshold, at " << i;
                EXPECT_FALSE(std::signbit(equal[i])) << "cored to +0";
                EXPECT_EQ(std::fabs(above[i]), 5.5f) << "above the threshold, at " << i;
            }
        }
        // A marked position keeps both coefficients, whatever their size.
        reset(1.0f, 2.0f);
        mask[n + 3] = 1.0f;
        k->coreBands(N, band.data(), h2.data(), 5.0f, mask.data());
        EXPECT_EQ(band[n + 3], -1.0f);
        EXPECT_EQ(h2[n + 3], -2.0f);
        EXPECT_EQ(band[n + 4], 0.0f);
        // Threshold 0 cores up to 0.0001; a negative one keeps everything.
        reset(0.0001f, 0.00011f);
        k->coreBands(N, band.data(), h2.data(), 0.0f, mask.data());
        for (int i = n; i < N; ++i) EXPECT_EQ(band[i], 0.0f) << i;
        for (int i = n; i < N; ++i) EXPECT_NE(h2[i], 0.0f) << i;
        reset(0.0f, 0.00001f);
        k->coreBands(N, band.data(), h2.data(), -1.0f, mask.data());
        for (int i = n; i < N; ++i) EXPECT_NE(h2[i], 0.0f) << i;
    }
}
