// The frame import's SSE2 rows against its scalar statement: every position of every
// luma, Cb and Cr line, in both modes, with the extremes of a 16-bit sample.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "analysis/frame_import.h"
#include "support/support.h"

namespace {

struct AlignedFloats {
    explicit AlignedFloats(std::size_t n) : data(static_cast<float *>(std::aligned_alloc(64, (n * 4 + 63) / 64 * 64))) {
        // A NaN pattern no import writes: positions left unwritten show as differences.
        std::memset(data, 0xFF, n * 4);
    }
    ~AlignedFloats() { std::free(data); }
    float *data;
};

}  // namespace

TEST(FrameImport, Sse2RowsMatchTheScalarStatementInBothModes) {
    std::mt19937 rng(q5test::testSeed());
    std::uniform_int_distribution<int> sample(-32768, 32767);
    const struct {
        int w, h, rows, groups, x;
    } cases[] = {{64, 32, 64, 1, 0}, {96, 48, 80, 3, 16}, {48, 16, 48, 2, 0}};
    for (const auto &c : cases)
        for (bool fieldMode : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.groups << " groups, " << c.h << " rows in " << c.rows
                                            << (fieldMode ? ", field mode" : ", frame mode")
                                            << " seed=" << q5test::testSeed());
            const long pitch = c.w + 8;
            std::vector<PIXEL_YC> image(static_cast<std::size_t>(pitch) * c.h);
            for (PIXEL_YC &p : image)
                p = {static_cast<std::int16_t>(sample(rng)), static_cast<std::int16_t>(sample(rng)),
                     static_cast<std::int16_t>(sample(rng))};
            image[3] = {-32768, 32767, -32768};
            image.back() = {32767, -32768, 32767};
            const ImportSource src{image.data() + c.x, pitch, c.h, c.rows, fieldMode};
            const std::size_t floats = 4u * c.groups * 8 * c.rows;
            AlignedFloats simd(floats), scalar(floats);
            importPixelColumns(src, c.groups, simd.data);
            importPixelColumnsScalar(src, c.groups, scalar.data);
            for (std::size_t i = 0; i < floats; ++i)
                ASSERT_EQ(std::memcmp(simd.data + i, scalar.data + i, 4), 0)
                    << "line " << i / (8 * c.rows) << " position " << i % (8 * c.rows) / 8 << " lane " << i % 8
                    << ": SSE2 " << simd.data[i] << ", scalar " << scalar.data[i];
        }
}
