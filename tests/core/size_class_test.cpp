// The size-class rule: the three fixed classes up to 1920 x 1088, and margins of their
// own for every larger frame up to the module's limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "abi/frame_limits.h"
#include "core/size_class.h"

TEST(SizeClass, TheRuleGivesTheFixedClassesForTheirLargestFramesAndFitsEveryLargerFrame) {
    // Applied to the largest frame of each fixed class, the rule for larger frames
    // gives that class back; the fixed classes themselves stay as they are.
    struct Fixed { int w, h, stride, rows; } fixed[] = {{720, 480, 832, 512}, {1440, 1088, 1536, 1280},
                                                        {1920, 1088, 2048, 1280}};
    for (const Fixed &f : fixed) {
        const SizeClass sc = sizeClassFor(f.w, f.h);
        EXPECT_EQ(sc.stride, f.stride);
        EXPECT_EQ(sc.rows, f.rows);
        EXPECT_EQ(sc.stride, (f.w + 96 + 63) / 64 * 64) << f.w;
        EXPECT_EQ(sc.rows, (f.h + 32 + 255) / 256 * 256) << f.h;
    }
    EXPECT_EQ(sizeClassFor(720, 576).stride, 1536);  // wider or taller than 720 x 480: the middle class
    EXPECT_EQ(sizeClassFor(3840, 2160).stride, 3968);
    EXPECT_EQ(sizeClassFor(3840, 2160).rows, 2304);
    EXPECT_EQ(sizeClassFor(4096, 2304).stride, 4224);
    EXPECT_EQ(sizeClassFor(4096, 2304).rows, 2560);
    // Every smaller frame its fixed class; every larger frame: its margins, whole groups of four at the coarsest
    // horizontal level and whole octets at chroma's coarsest vertical one.
    for (int w = 16; w <= kMaxFrameWidth; w += 16)
        for (int h = 16; h <= kMaxFrameHeight; h += 16) {
            const SizeClass sc = sizeClassFor(w, h);
            if (w <= 1920 && h <= 1088) {
                // Up to 1920 x 1088 the first fixed class the frame fits in, whatever
                // the rule would give (a 1280 x 1088 frame keeps 1536 x 1280).
                const Fixed &f = *std::find_if(std::begin(fixed), std::end(fixed),
                                               [&](const Fixed &c) { return w <= c.w && h <= c.h; });
                ASSERT_TRUE(sc.stride == f.stride && sc.rows == f.rows) << w << "x" << h;
                continue;
            }
            ASSERT_TRUE(sc.stride >= w + 96 && sc.stride % 64 == 0 && sc.rows >= h + 32 && sc.rows % 256 == 0)
                << w << "x" << h;
            ASSERT_EQ(mosquitoStepFactor(sc), 90) << w << "x" << h;  // a portrait frame too
        }
    EXPECT_EQ(mosquitoStepFactor(sizeClassFor(720, 480)), 8);
    EXPECT_EQ(mosquitoStepFactor(sizeClassFor(1280, 720)), 90);
}
