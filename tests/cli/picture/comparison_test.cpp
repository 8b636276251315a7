// The before/after picture's layout: labels in bands of their own, the pictures
// untouched by them, for frames down to a few pixels; the crop's mark easy to find
// on a 4K frame shown at a sixth of its size.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "cli/io/png.h"
#include "cli/picture/comparison.h"
#include "support/support.h"

namespace {

TEST(ComparisonPicture, LabelsLieInBandsOfTheirOwnAndEveryPartFitsEvenForTinyFrames) {
    std::uint32_t state = q5test::testSeed() | 1;
    SCOPED_TRACE(testing::Message() << "seed=" << q5test::testSeed());
    const auto next = [&] { return state ^= state << 13, state ^= state >> 17, state ^= state << 5; };
    for (const int size : {64, 2}) {
        q5cli::Y4mFormat f;
        f.width = size, f.height = size * 9 / 16 + (size < 16);
        SCOPED_TRACE(testing::Message() << f.width << "x" << f.height);
        std::vector<std::uint8_t> before(f.frameBytes()), after;
        for (auto &b : before) b = static_cast<std::uint8_t>(16 + next() % 200);
        after = before;
        for (std::size_t i = 0; i < f.lumaBytes(); ++i) after[i] += static_cast<std::uint8_t>(next() % 3) - 1;
        const q5cli::Crop crop = q5cli::busiestCrop(f, before.data(), after.data());
        const q5cli::ComparisonPicture pic = q5cli::makeComparison(f, before.data(), after.data(), crop);
        ASSERT_EQ(pic.rgb.size(), std::size_t(pic.width) * pic.height * 3);
        const auto at = [&](int x, int y) { return &pic.rgb[(std::size_t(y) * pic.width + x) * 3]; };

        // Every part inside the picture, none overlapping another.
        for (int i = 0; i < 6; ++i) {
            const q5cli::Area &a = pic.parts[i / 2][i % 2];
            EXPECT_TRUE(a.x >= 0 && a.y >= 0 && a.x + a.width <= pic.width && a.y + a.height <= pic.height) << i;
            for (int j = 0; j < i; ++j) {
                const q5cli::Area &b = pic.parts[j / 2][j % 2];
                EXPECT_TRUE(a.x >= b.x + b.width || b.x >= a.x + a.width || a.y >= b.y + b.height ||
                            b.y >= a.y + a.height) << i << " overlaps " << j;
            }
        }
        // No text over the pictures: the whole frame after is the frame's colours, and
        // the magnified crops are blocks of one grey.
        const std::vector<std::uint8_t> rgb = q5cli::frameToRgb(f, after.data());
        const q5cli::Area &whole = pic.parts[0][1];
        for (int y = 0; y < whole.height; ++y)
            for (int x = 0; x < whole.width; ++x)
                ASSERT_TRUE(std::equal(at(whole.x + x, whole.y + y), at(whole.x + x, whole.y + y) + 3,
                                       &rgb[(std::size_t(y) * f.width + x) * 3])) << x << "," << y;
        for (const q5cli::Area &zoomed : {pic.parts[1][0], pic.parts[1][1], pic.parts[2][1]})
            for (int y = 0; y < zoomed.height; ++y)
                for (int x = 0; x < zoomed.width; ++x)
                    ASSERT_EQ(*at(zoomed.x + x, zoomed.y + y), *at(zoomed.x + x / 4 * 4, zoomed.y + y / 4 * 4))
                        << x << "," << y;
        // The labels are there: dark text above each column and above each row.
        const auto darkIn = [&](int x0, int x1, int y0, int y1) {
            int dark = 0;
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x) dark += *at(x, y) < 96;
            return dark;
        };
        const int heading = pic.parts[0][0].y - 1, halfway = pic.width / 2;
        EXPECT_GT(darkIn(0, halfway, 0, heading / 2), 0) << "before";
        EXPECT_GT(darkIn(halfway, pic.width, 0, heading / 2), 0) << "after";
        for (int row = 1; row < 3; ++row) {
            const int top = std::max(pic.parts[row - 1][0].y + pic.parts[row - 1][0].height,
                                     pic.parts[row - 1][1].y + pic.parts[row - 1][1].height);
            EXPECT_GT(darkIn(0, pic.width, top, pic.parts[row][0].y), 0) << "row " << row;
        }
    }
}

// A 4K frame is shown at 1/6 size, where its crop is some 27 x 15 pixels: a hairline
// of yellow there is lost, and on a white frame barely differs in brightness. The
// mark must stand out by brightness on light and dark ground alike, at least two
// pixels thick on every side, leave the crop itself visible, and be pointed at from
// the picture's edges. The frame is white and black in quadrants around the crop's
// centre, so that every side of the mark crosses both.
TEST(ComparisonPicture, TheCropMarkStandsOutOnLightAndDarkGroundAt4K) {
    q5cli::Y4mFormat f;
    f.width = 3840, f.height = 2160, f.subsampling = q5cli::Subsampling::Mono;
    q5cli::Crop crop = q5cli::cropSize(f);
    crop.x = 2000, crop.y = 1000;
    const int cx = crop.x + crop.width / 2, cy = crop.y + crop.height / 2;
    std::vector<std::uint8_t> frame(f.frameBytes());
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x) frame[std::size_t(y) * f.width + x] = (x < cx) != (y < cy) ? 235 : 16;
    const q5cli::ComparisonPicture pic = q5cli::makeComparison(f, frame.data(), frame.data(), crop);
    ASSERT_GE(pic.shrink, 5);
    // The whole frame after is unmarked: it is the ground the mark must stand out from.
    const auto luminance = [&](int side, int x, int y) {
        const q5cli::Area &a = pic.parts[0][side];
        const std::uint8_t *p = &pic.rgb[(std::size_t(a.y + y) * pic.width + a.x + x) * 3];
        return 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2];
    };
    const auto stands = [&](int x, int y) { return std::abs(luminance(0, x, y) - luminance(1, x, y)) >= 96; };
    const int k = pic.shrink, x0 = crop.x / k, y0 = crop.y / k;
    const int x1 = (crop.x + crop.width + k - 1) / k, y1 = (crop.y + crop.height + k - 1) / k;
    ASSERT_LT(x1 - x0, 40);

    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) ASSERT_EQ(luminance(0, x, y), luminance(1, x, y)) << "inside the crop at " << x << "," << y;
    for (const int quarter : {1, 3}) {
        const int mx = x0 + (x1 - x0) * quarter / 4, my = y0 + (y1 - y0) * quarter / 4;
        int sides[4] = {};
        for (int d = 1; d <= 6; ++d) {
            sides[0] += stands(x0 - d, my), sides[1] += stands(x1 - 1 + d, my);
            sides[2] += stands(mx, y0 - d), sides[3] += stands(mx, y1 - 1 + d);
        }
        for (int side = 0; side < 4; ++side) EXPECT_GE(sides[side], 2) << "side " << side << ", quarter " << quarter;
    }

    const q5cli::Area &whole = pic.parts[0][0];
    const auto edgeMarked = [&](bool column, int at, int from, int to) {
        for (int i = from; i < to; ++i)
            if (column ? stands(at, i) : stands(i, at)) return true;
        return false;
    };
    EXPECT_TRUE(edgeMarked(false, 0, x0, x1)) << "top edge";
    EXPECT_TRUE(edgeMarked(false, whole.height - 1, x0, x1)) << "bottom edge";
    EXPECT_TRUE(edgeMarked(true, 0, y0, y1)) << "left edge";
    EXPECT_TRUE(edgeMarked(true, whole.width - 1, y0, y1)) << "right edge";
}

}  // namespace
