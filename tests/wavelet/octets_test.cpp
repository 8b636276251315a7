// Octet kernels: every lane of an octet line against the line kernel run on that
// line alone (equal as floats: an exact zero may differ in sign), and each SIMD
// table's octet kernels against the scalar twins bit for bit.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>

#include "core/control_word.h"
#include "wavelet/line_support.h"
#include "wavelet/sample_conversion.h"

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

TEST(OctetKernels, MergeEqualsTheLineKernelAndHonoursTheOutputStep) {
    ControlWordScope cw(kProcControlWord);
    std::mt19937 rng(testSeed());
    for (const auto &[name, table] : kernelTables())
        for (int n : {1024, 640, 416, 256, 12}) {
            SCOPED_TRACE(testing::Message() << name << " n=" << n << " seed=" << testSeed());
            Octet in(2 * n), merged(n);
            in.fill(rng, 0, 2 * n);
            // The merge writes every third octet of a wider buffer: output step 24 floats.
            GuardedLine spread(3 * kLanes * n);
            table->mergeLowBandOctets(in.packed.data(), n, spread.data(), 3 * kLanes);
            for (int i = 0; i < n; ++i)
                for (int k = 0; k < kLanes; ++k) merged.packed[kLanes * i + k] = spread[3 * kLanes * i + k];
            for (int k = 0; k < kLanes; ++k) kScalarLineKernels.mergeLowBand(in.line(k), n, merged.line(k));
            EXPECT_TRUE(lanesMatchLines(merged, 0, n));
            for (int i = 0; i < n; ++i) ASSERT_TRUE(spread.untouched(3 * kLanes * i + kLanes, 3 * kLanes * (i + 1)));
        }
}

// The row synthesis rebuilds, at every position of a row pair, what the line
// kernel's Daubechies-4 inverse makes of that column (rows p and p - 1 of each band,
// periodic at the top), then rounds it by the float-to-sample rule; it writes only
// the rows asked for and nothing past count.
TEST(RowSynthesis, EveryColumnIsTheLineInverseRoundedToSamples) {
    ControlWordScope cw(kProcControlWord);
    std::mt19937 rng(testSeed());
    std::uniform_real_distribution<float> value(-9000.0f, 9000.0f), tiny(-2.0f, 2.0f);
    for (const auto &[name, table] : kernelTables())
        for (int count : {8, 40, 1920}) {
            const int n = 12;  // band rows
            SCOPED_TRACE(testing::Message() << name << " count=" << count << " seed=" << testSeed());
            // Band rows, row r of the low band at low[r]: large values (clamped at
            // +-8192) in some columns, values near a half in others.
            std::vector<std::unique_ptr<GuardedLine>> low, high;
            for (int r = 0; r < n; ++r) {
                low.push_back(std::make_unique<GuardedLine>(count));
                high.push_back(std::make_unique<GuardedLine>(count));
                for (int c = 0; c < count; ++c) {
                    const bool small = c % 3 == 1;
                    (*low.back())[c] = small ? tiny(rng) : value(rng);
                    (*high.back())[c] = small ? tiny(rng) : value(rng);
                }
            }
            constexpr int kGuard = 8;
            std::vector<std::int16_t> even(count + kGuard), odd(count + kGuard);
            for (int p = 0; p < n; ++p) {
                const int q = p == 0 ? n - 1 : p - 1;
                for (int want = 1; want < 4; ++want) {
                    std::fill(even.begin(), even.end(), std::int16_t{0x5A5A});
                    std::fill(odd.begin(), odd.end(), std::int16_t{0x5A5A});
                    table->synthesizeRowPair(low[p]->data(), low[q]->data(), high[p]->data(), high[q]->data(), count,
                                             even.data(), odd.data(), want & 1, want & 2);
                    for (int c = 0; c < count; ++c) {
                        float column[2 * n], rebuilt[2 * n];
                        for (int r = 0; r < n; ++r) column[r] = (*low[r])[c], column[n + r] = (*high[r])[c];
                        kScalarLineKernels.inverseD4(column, n, rebuilt);
                        const std::int16_t e = want & 1 ? floatToSample(rebuilt[2 * p]) : 0x5A5A;
                        const std::int16_t o = want & 2 ? floatToSample(rebuilt[2 * p + 1]) : 0x5A5A;
                        ASSERT_EQ(even[c], e) << "row " << 2 * p << " column " << c;
                        ASSERT_EQ(odd[c], o) << "row " << 2 * p + 1 << " column " << c;
                    }
                    for (int c = count; c < count + kGuard; ++c)
                        ASSERT_TRUE(even[c] == 0x5A5A && odd[c] == 0x5A5A) << "written past count at " << c;
                }
            }
        }
}

TEST(OctetKernels, SimdTablesMatchTheScalarTwinsBitForBit) {
    ControlWordScope cw(kProcControlWord);
    std::mt19937 rng(testSeed());
    auto tables = kernelTables();
    const WaveletKernels &ref = kWaveletScalar;
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
            // The row synthesis over the band as rows of N positions (a NaN, an
            // infinity and values past the 16-bit range among them).
            x.packed[5] = std::numeric_limits<float>::quiet_NaN();
            x.packed[kLanes * N - 3] = std::numeric_limits<float>::infinity();
            x.packed[kLanes * n + 9] = 1.0e6f;
            std::vector<std::int16_t> samplesA(2 * N), samplesB(2 * N);
            const float *rows = x.packed.data();
            for (int pass = 0; pass < 2; ++pass) {
                const WaveletKernels &k = pass ? simd : ref;
                std::int16_t *s = pass ? samplesB.data() : samplesA.data();
                k.synthesizeRowPair(rows, rows + N, rows + 2 * N, rows + 3 * N, N, s, s + N, true, true);
                k.synthesizeRowPair(rows + 4 * N, rows + 5 * N, rows + 6 * N, rows + 7 * N, N - 8, s, s + N, false,
                                    true);
            }
            EXPECT_EQ(samplesA, samplesB);
        }
    }
}
