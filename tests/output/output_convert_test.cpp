// The output conversion's SSE2 pixels against its scalar statement, on every
// remainder of a run of eight pixels and with nothing written past the row.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "output/output_stage.h"
#include "support/support.h"

TEST(OutputConversion, Sse2PixelsMatchTheScalarStatement) {
    std::mt19937 rng(q5test::testSeed());
    std::uniform_int_distribution<int> sample(-32768, 32767);
    const PIXEL_YC guard{0x5A5A, 0x5A5A, 0x5A5A};
    for (int pairs : {0, 1, 3, 4, 5, 7, 8, 13, 960}) {
        SCOPED_TRACE(testing::Message() << pairs << " pairs, seed=" << q5test::testSeed());
        std::vector<std::int16_t> luma(2 * pairs + 8), cb(pairs + 8), cr(pairs + 8);
        for (auto *v : {&luma, &cb, &cr})
            for (std::int16_t &s : *v) s = static_cast<std::int16_t>(sample(rng));
        std::vector<PIXEL_YC> simd(2 * pairs + 4, guard), scalar(2 * pairs + 4, guard);
        writePixels(luma.data(), cb.data(), cr.data(), pairs, simd.data());
        writePixelsScalar(luma.data(), cb.data(), cr.data(), pairs, scalar.data());
        for (int i = 0; i < 2 * pairs + 4; ++i) {
            const PIXEL_YC a = simd[i], b = scalar[i];
            ASSERT_TRUE(a.y == b.y && a.cb == b.cb && a.cr == b.cr)
                << "pixel " << i << ": SSE2 " << a.y << " " << a.cb << " " << a.cr << ", scalar " << b.y << " "
                << b.cb << " " << b.cr;
        }
        // The scalar statement itself: both pixels of a pair carry its chroma, and
        // nothing past the row is written.
        for (int k = 0; k < pairs; ++k)
            ASSERT_TRUE(scalar[2 * k].y == luma[2 * k] && scalar[2 * k + 1].y == luma[2 * k + 1] &&
                        scalar[2 * k].cb == cb[k] && scalar[2 * k + 1].cr == cr[k]);
        for (int i = 2 * pairs; i < 2 * pairs + 4; ++i) ASSERT_EQ(scalar[i].y, guard.y);
    }
}
