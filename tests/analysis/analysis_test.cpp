// Frame import, vertical and horizontal analysis, run as workers on the filter
// linked into the test program, with the working planes inspected directly.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "analysis/analysis.h"
#include "analysis/small_planes.h"
#include "support/support.h"

namespace {

using q5test::SmallPlanes;

constexpr float kSentinel = -12345.0f;
constexpr double kSqrt2 = 1.4142135623730951;

void fillRandom(std::vector<PIXEL_YC> &image, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> luma(0, 4095), chroma(-2048, 2047);
    for (PIXEL_YC &p : image)
        p = {static_cast<std::int16_t>(luma(rng)), static_cast<std::int16_t>(chroma(rng)),
             static_cast<std::int16_t>(chroma(rng))};
}

// Runs a worker the way the host would with thread_num threads, one after another.
void runWorker(MULTI_THREAD_FUNC worker, int threads, void *param1, void *param2) {
    for (int t = 0; t < threads; ++t) worker(t, threads, param1, param2);
}

void analyse(AnalysisParams &params, FILTER_PROC_INFO &fi, int threads) {
    runWorker(verticalAnalysisWorker, threads, &params, &fi);
    runWorker(horizontalAnalysisWorker, threads, &params, &fi);
}

struct RingPlanes {
    float *ring;
    std::size_t floats;
};

std::vector<RingPlanes> allRings(const WorkBuffers &b) {
    const std::size_t luma = 3ul * SmallPlanes::kStride * SmallPlanes::kRows;
    const std::size_t chroma = luma / 2;
    return {{b.yRingA, luma},    {b.yRingB, luma},    {b.cbRingA, chroma},
            {b.cbRingB, chroma}, {b.crRingA, chroma}, {b.crRingB, chroma}};
}

}  // namespace

using VerticalAnalysis = SmallPlanes;
using HorizontalAnalysis = SmallPlanes;

TEST_F(VerticalAnalysis, FlatPictureGivesScaledLowBandOverZeroHighBandInEveryColumn) {
    for (bool fieldMode : {false, true}) {
        SCOPED_TRACE(fieldMode ? "field mode" : "frame mode");
        setStrengths(10, 10, 16, true, fieldMode);
        std::vector<PIXEL_YC> image;
        FILTER_PROC_INFO fi = frameInfo(image, 720, 480);
        std::fill(image.begin(), image.end(), PIXEL_YC{1000, 0, 0});
        AnalysisParams params{image.data(), 0, &strengths_, context()};
        runWorker(verticalAnalysisWorker, 1, &params, &fi);
        int bad = 0;
        for (int r = 0; r < kRows; ++r)
            for (int c = 0; c < kStride; ++c) {
                const float v = buffers_.yRingA[ringIndex(r, kStride, c, 0, kRows)];
                const double expected = r < kRows / 2 ? kSqrt2 * 1000 : 0.0;
                if (std::fabs(v - expected) > 1e-2 && bad++ < 5)
                    ADD_FAILURE() << "row " << r << " column " << c << ": " << v;
            }
        EXPECT_EQ(bad, 0);
    }
}

TEST_F(HorizontalAnalysis, FlatPictureGivesFourTimesTheRowValueInTheCoarsestBand) {
    // Slot 2, luma line 1, position 5 of the 832 x 512 class.
    EXPECT_EQ(ringIndex(1, 832, 5, 2, 512), (2 * 512 + 1) * 832 + 5);
    std::vector<PIXEL_YC> image;
    FILTER_PROC_INFO fi = frameInfo(image, 720, 480);
    std::fill(image.begin(), image.end(), PIXEL_YC{1000, -300, 200});
    AnalysisParams params{image.data(), 2, &strengths_, context()};
    analyse(params, fi, 2);
    for (int line = 0; line < kRows; line += 37)
        for (int j = 0; j < kStride; ++j) {
            const double expected = line < kRows / 2 && j < kStride / 16 ? 4 * kSqrt2 * 1000 : 0.0;
            ASSERT_NEAR(buffers_.yRingA[ringIndex(line, kStride, j, 2, kRows)], expected, 5e-2)
                << "line " << line << " position " << j;
        }
}

TEST_F(HorizontalAnalysis, AnalysingIntoOneSlotRewritesItAndLeavesTheOtherSlotsUntouched) {
    for (const RingPlanes &r : allRings(buffers_)) std::fill(r.ring, r.ring + r.floats, kSentinel);
    std::vector<PIXEL_YC> image;
    FILTER_PROC_INFO fi = frameInfo(image, 640, 480);
    fillRandom(image, q5test::testSeed() + 2);
    AnalysisParams params{image.data(), 1, &strengths_, context()};
    analyse(params, fi, 4);
    int ring = 0;
    for (const RingPlanes &r : allRings(buffers_)) {
        SCOPED_TRACE(testing::Message() << "ring " << ring++);
        long stale = 0, overwritten = 0;
        for (std::size_t k = 0; k < r.floats; ++k) {
            const bool inSlot = k / (r.floats / 3) == 1;
            if (inSlot && r.ring[k] == kSentinel) ++stale;
            if (!inSlot && r.ring[k] != kSentinel) ++overwritten;
        }
        EXPECT_EQ(stale, 0);
        EXPECT_EQ(overwritten, 0);
    }
}

