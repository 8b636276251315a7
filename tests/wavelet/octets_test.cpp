// Octet kernels: every lane of an octet line against the line kernel run on that
// line alone (equal as floats: an exact zero may differ in sign), and each SIMD
// table's octet kernels against the scalar twins bit for bit.
#include <cmath>
#include <memory>

#include "core/control_word.h"
#include "wavelet/line_support.h"

using namespace q5test;

namespace {

constexpr int kLanes = 8;

// Eight lines of `size` positions, interleaved (with guard zones), and each line
// on its own.
struct Octet {
    explicit Octet(int size) : packed(kLanes * size) {
        for (int k = 0; k < kLanes; ++k) lines.push_back(std::make_unique<GuardedLine>(size));
    }
    float *line(int k) { return lines[k]->data(); }
    void fill(std::mt19937 &rng, int first, int end) {
        // A different kind of input in most lanes, so lanes cannot stand in for each other.
        const Fill kinds[kLanes] = {Fill::Random, Fill::FlatNoise, Fill::Large, Fill::Random,
                                    Fill::Tiny,   Fill::FlatNoise, Fill::Random, Fill::FlatNoise};
        for (int k = 0; k < kLanes; ++k) {
            fillLine(line(k) + first, end - first, rng, kinds[k]);
            for (int i = first; i < end; ++i) packed[kLanes * i + k] = line(k)[i];
        }
    }
    void poison(int first, int end) {
        packed.poison(kLanes * first, kLanes * end);
        for (auto &l : lines) l->poison(first, end);
    }
    GuardedLine packed;
    std::vector<std::unique_ptr<GuardedLine>> lines;
};

// Lane k of [first, end) against line k: the same floats (+0 == -0).
::testing::AssertionResult lanesMatchLines(Octet &o, int first, int end) {
    for (int k = 0; k < kLanes; ++k)
        for (int i = first; i < end; ++i) {
            const float lane = o.packed[kLanes * i + k], line = o.line(k)[i];
            if (!(lane == line))
                return ::testing::AssertionFailure()
                       << "lane " << k << " position " << i << ": octet " << lane << ", line " << line;
        }
    if (!o.packed.untouched(0, 0)) return ::testing::AssertionFailure() << "a guard zone was written";
    return ::testing::AssertionSuccess();
}

// Band lengths n of every synthesis the passes run.
std::vector<int> bandLengths() {
    std::vector<int> lengths;
    for (int N : forwardLengths()) lengths.push_back(N / 2);
    return lengths;
}

// Thresholds around the scale of the fills, including 0 (coring's replacement
// threshold) and a negative flat threshold (every position marked).
const float kThresholds[][2] = {{20.0f, 10.0f}, {1000.0f, 500.0f}, {0.0f, 0.0f}, {-1.0f, 3.0f}, {2.5f, 1.25f}};

}  // namespace

TEST(OctetKernels, ForwardLevelEqualsTheLineKernelInEveryLane) {
    ControlWordScope cw(kProcControlWord);
    std::mt19937 rng(testSeed());
    for (const auto &[name, table] : kernelTables())
        for (int N : forwardLengths()) {
            SCOPED_TRACE(testing::Message() << name << " N=" << N << " seed=" << testSeed());
            Octet x(N), band(N), h2(N);
            x.fill(rng, 0, N);
            h2.poison(0, N / 2);  // H2 goes to [N/2, N) only
            table->forwardOctets(N, x.packed.data(), band.packed.data(), h2.packed.data());
            for (int k = 0; k < kLanes; ++k) kScalarLineKernels.forwardLevel(N, x.line(k), band.line(k), h2.line(k));
            EXPECT_TRUE(lanesMatchLines(band, 0, N));
            EXPECT_TRUE(lanesMatchLines(h2, N / 2, N));
            EXPECT_TRUE(h2.packed.untouched(0, N * kLanes / 2));
        }
}

TEST(OctetKernels, ShrinkEqualsFlatMaskThenCoringInEveryLane) {
    ControlWordScope cw(kProcControlWord);
    std::mt19937 rng(testSeed());
    for (const auto &[name, table] : kernelTables())
        for (int n : {1024, 640, 80, 40, 16, 12})
            for (const auto &t : kThresholds)
                for (bool keepSmall : {false, true}) {
                    SCOPED_TRACE(testing::Message() << name << " n=" << n << " thresholds " << t[0] << ", " << t[1]
                                                    << (keepSmall ? " keep-small" : "") << " seed=" << testSeed());
                    Octet band(2 * n), h2(2 * n), mask(2 * n);
                    band.fill(rng, n, 2 * n);
                    h2.fill(rng, n, 2 * n);
                    band.poison(0, n);
                    h2.poison(0, n);
                    table->shrinkOctets(n, band.packed.data(), h2.packed.data(), t[0], t[1],
                                        keepSmall ? 0.4f : 0.0f);
                    // The line kernels keep small details for luma without anime mode.
                    for (int k = 0; k < kLanes; ++k) {
                        const int level = 1, N = 2 * n;
                        kScalarLineKernels.flatMask(level, false, !keepSmall, mask.line(k), N, band.line(k), h2.line(k), t[0]);
                        kScalarLineKernels.coreBands(N, band.line(k), h2.line(k), t[1], mask.line(k));
                    }
                    EXPECT_TRUE(lanesMatchLines(band, n, 2 * n));
                    EXPECT_TRUE(lanesMatchLines(h2, n, 2 * n));
                    EXPECT_TRUE(band.packed.untouched(0, n * kLanes));
                    EXPECT_TRUE(h2.packed.untouched(0, n * kLanes));
                }
}

TEST(OctetKernels, InverseLevelEqualsTheLineKernelInEveryLane) {
    ControlWordScope cw(kProcControlWord);
    std::mt19937 rng(testSeed());
    for (const auto &[name, table] : kernelTables())
        for (int n : bandLengths()) {
            SCOPED_TRACE(testing::Message() << name << " n=" << n << " seed=" << testSeed());
            Octet band(2 * n), h2(2 * n), out(2 * n);
            band.fill(rng, 0, 2 * n);
            h2.fill(rng, n, 2 * n);
            h2.poison(0, n);  // never read
            table->inverseOctets(band.packed.data(), h2.packed.data(), n, out.packed.data());
            for (int k = 0; k < kLanes; ++k) kScalarLineKernels.inverseLevel(band.line(k), h2.line(k), n, out.line(k));
            EXPECT_TRUE(lanesMatchLines(out, 0, 2 * n));
        }
}

TEST(OctetKernels, MergeAndDaubechiesInverseEqualTheLineKernelsAndHonourTheOutputStep) {
    ControlWordScope cw(kProcControlWord);
    std::mt19937 rng(testSeed());
    for (const auto &[name, table] : kernelTables())
        for (int n : {1024, 640, 416, 256, 12}) {
            SCOPED_TRACE(testing::Message() << name << " n=" << n << " seed=" << testSeed());
            Octet in(2 * n), merged(n), rebuilt(2 * n);
            in.fill(rng, 0, 2 * n);
            table->mergeLowBandOctets(in.packed.data(), n, merged.packed.data(), kLanes);
            // The inverse writes every third octet of a wider buffer: output step 24 floats.
            GuardedLine spread(3 * kLanes * 2 * n);
            table->inverseD4Octets(in.packed.data(), n, spread.data(), 3 * kLanes);
            for (int i = 0; i < 2 * n; ++i)
                for (int k = 0; k < kLanes; ++k) rebuilt.packed[kLanes * i + k] = spread[3 * kLanes * i + k];
            for (int k = 0; k < kLanes; ++k) {
                kScalarLineKernels.mergeLowBand(in.line(k), n, merged.line(k));
                kScalarLineKernels.inverseD4(in.line(k), n, rebuilt.line(k));
            }
            EXPECT_TRUE(lanesMatchLines(merged, 0, n));
            EXPECT_TRUE(lanesMatchLines(rebuilt, 0, 2 * n));
            for (int i = 0; i < 2 * n; ++i) ASSERT_TRUE(spread.untouched(3 * kLanes * i + kLanes, 3 * kLanes * (i + 1)));
        }
}

TEST(OctetKernels, SimdTablesMatchTheScalarTwinsBitForBit) {
    ControlWordScope cw(kProcControlWord);
    std::mt19937 rng(testSeed());
    auto tables = kernelTables();
    const WaveletKernels &ref = kScalarWaveletKernels;
    for (std::size_t t = 1; t < tables.size(); ++t) {
        const WaveletKernels &simd = *tables[t].second;
        for (int N : {2048, 1280, 512, 32}) {
            const int n = N / 2;
            SCOPED_TRACE(testing::Message() << tables[t].first << " N=" << N << " seed=" << testSeed());
            Octet x(N), bandA(N), bandB(N), h2A(N), h2B(N), outA(N), outB(N);
            x.fill(rng, 0, N);
            ref.forwardOctets(N, x.packed.data(), bandA.packed.data(), h2A.packed.data());
            simd.forwardOctets(N, x.packed.data(), bandB.packed.data(), h2B.packed.data());
            EXPECT_TRUE(bitExact(bandA.packed.data(), bandB.packed.data(), 0, kLanes * N));
            EXPECT_TRUE(bitExact(h2A.packed.data(), h2B.packed.data(), kLanes * n, kLanes * N));
            ref.shrinkOctets(n / 2, bandA.packed.data(), h2A.packed.data(), 30.0f, 15.0f, 0.4f);
            simd.shrinkOctets(n / 2, bandB.packed.data(), h2B.packed.data(), 30.0f, 15.0f, 0.4f);
            EXPECT_TRUE(bitExact(bandA.packed.data(), bandB.packed.data(), 0, kLanes * N));
            EXPECT_TRUE(bitExact(h2A.packed.data(), h2B.packed.data(), kLanes * n, kLanes * N));
            ref.inverseOctets(bandA.packed.data(), h2A.packed.data(), n, outA.packed.data());
            simd.inverseOctets(bandA.packed.data(), h2A.packed.data(), n, outB.packed.data());
            EXPECT_TRUE(bitExact(outA.packed.data(), outB.packed.data(), 0, kLanes * N));
            ref.mergeLowBandOctets(x.packed.data(), n, outA.packed.data(), kLanes);
            simd.mergeLowBandOctets(x.packed.data(), n, outB.packed.data(), kLanes);
            EXPECT_TRUE(bitExact(outA.packed.data(), outB.packed.data(), 0, kLanes * n));
            ref.inverseD4Octets(x.packed.data(), n, outA.packed.data(), kLanes);
            simd.inverseD4Octets(x.packed.data(), n, outB.packed.data(), kLanes);
            EXPECT_TRUE(bitExact(outA.packed.data(), outB.packed.data(), 0, kLanes * N));
        }
    }
}
