// Thresholds derived from the sliders, and the ring emptied by every update.
#include <gtest/gtest.h>

#include "core/core.h"
#include "host/frame_ring.h"
#include "support/support.h"

namespace {

struct StrengthsFixture : ::testing::Test {
    q5host::Host host{q5test::linkedEntry(), 1};
    void SetUp() override { host.init(); }
    void derive(int t0, int l, int h, int anime) {
        host.setTrack(Slider::Tarnel, t0);
        host.setTrack(Slider::W2dnrL, l);
        host.setTrack(Slider::W2dnrH, h);
        host.setCheck(CheckBox::Anime, anime);
        EXPECT_EQ(host.update(), TRUE);
    }
};

using Strengths = StrengthsFixture;

TEST_F(Strengths, FactoryDefaultsGiveTheDocumentedThresholds) {
    derive(10, 10, 16, 1);
    const NrStrengths &s = nrStrengths;
    EXPECT_EQ(s.temporalThreshold, 40.0099983215332f);
    const float coef[] = {14, 20, 26, 32, 38}, flat[] = {28, 40, 52, 64, 76};
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(s.chromaCoefThreshold[k], coef[k]) << k;
        EXPECT_EQ(s.chromaFlatThreshold[k], flat[k]) << k;
        if (k < 4) {
            EXPECT_EQ(s.lumaCoefThreshold[k], coef[k]) << k;
            EXPECT_EQ(s.lumaFlatThreshold[k], flat[k]) << k;
        }
    }
    EXPECT_TRUE(s.animeMode);
    EXPECT_TRUE(s.fieldMode);
}

TEST_F(Strengths, RoundsOnceFromDoubleToFloat) {
    // d = 0.6f; 7 x (2 x 0.6f + 1.4f) evaluated in double, then rounded once.
    derive(3, 7, 13, 1);
    const double d = 0.6f;
    EXPECT_EQ(nrStrengths.lumaCoefThreshold[2], static_cast<float>(7 * (2 * d + double(1.4f))));
    EXPECT_EQ(nrStrengths.lumaFlatThreshold[3], static_cast<float>(7 * (6 * d + double(2.8f))));
    EXPECT_EQ(nrStrengths.temporalThreshold, static_cast<float>(12.0 + double(0.01f)));
}

TEST_F(Strengths, AnimeOffHalvesEveryThreshold) {
    derive(10, 10, 16, 0);
    EXPECT_FALSE(nrStrengths.animeMode);
    EXPECT_EQ(nrStrengths.temporalThreshold, 40.0099983215332f * 0.5f);
    EXPECT_EQ(nrStrengths.lumaCoefThreshold[0], 7.0f);
    EXPECT_EQ(nrStrengths.chromaFlatThreshold[4], 38.0f);
    // Only exactly 1 counts as on.
    derive(10, 10, 16, 2);
    EXPECT_FALSE(nrStrengths.animeMode);
}

TEST_F(Strengths, LowerHighSliderMakesThresholdsFallWithoutClamping) {
    derive(10, 20, 0, 1);
    const float expected[] = {28, -12, -52, -92};
    for (int k = 0; k < 4; ++k) EXPECT_EQ(nrStrengths.lumaCoefThreshold[k], expected[k]) << k;
    EXPECT_EQ(nrStrengths.chromaCoefThreshold[4], -132.0f);
}

TEST_F(Strengths, ZeroSlidersGiveZeroSpatialAndSmallestTemporalThresholds) {
    derive(0, 0, 20, 1);
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(nrStrengths.chromaCoefThreshold[k], 0.0f);
        EXPECT_EQ(nrStrengths.chromaFlatThreshold[k], 0.0f);
    }
    EXPECT_EQ(nrStrengths.temporalThreshold, 0.01f);
    derive(0, 0, 20, 0);
    EXPECT_EQ(nrStrengths.temporalThreshold, 0.005f);
}

TEST_F(Strengths, FieldModeFollowsCheckBoxZeroExactly) {
    host.setCheck(CheckBox::Fields, 0);
    host.update();
    EXPECT_FALSE(nrStrengths.fieldMode);
    host.setCheck(CheckBox::Fields, 1);
    host.update();
    EXPECT_TRUE(nrStrengths.fieldMode);
    host.setCheck(CheckBox::Fields, -1);
    host.update();
    EXPECT_FALSE(nrStrengths.fieldMode);
}

TEST_F(Strengths, UpdateAndSaveStartEmptyTheRing) {
    derive(10, 10, 16, 1);
    const NrStrengths before = nrStrengths;
    frameRing = {{4, 5}, {2, 3}, 10};
    EXPECT_EQ(host.update(), TRUE);
    EXPECT_EQ(frameRing.fullFrame[0], kEmptySlot);
    EXPECT_EQ(frameRing.pastFrame[1], kEmptySlot);
    frameRing = {{4, 5}, {2, 3}, 10};
    EXPECT_EQ(host.saveStart(0, 10), TRUE);
    EXPECT_EQ(frameRing.fullFrame[1], kEmptySlot);
    EXPECT_EQ(frameRing.pastFrame[0], kEmptySlot);
    EXPECT_EQ(nrStrengths.temporalThreshold, before.temporalThreshold);
    EXPECT_EQ(nrStrengths.lumaCoefThreshold[3], before.lumaCoefThreshold[3]);
}

}  // namespace
