// Working buffers: sizes per class, alignment, release, and no growth from
// repeated reallocation.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdint>

#include "core/core.h"
#include "core/failing_system_memory.h"
#include "support/support.h"

namespace {

bool aligned16(const void *p) { return p && (reinterpret_cast<std::uintptr_t>(p) & 15) == 0; }

struct WorkBuffersFixture : ::testing::Test {
    void TearDown() override {
        failAllocationsFrom = -1;
        releaseWorkBuffers();
        sizeClass = {2048, 1280};
    }
};
using WorkBuffersTest = WorkBuffersFixture;

TEST_F(WorkBuffersTest, SizesFollowTheSizeClass) {
    struct Row {
        SizeClass sc;
        std::size_t luma, chroma, aux, wide, quarter, half;
    } rows[] = {
        {{832, 512}, 11927552, 5111808, 425984, 13312, 1248, 1664},
        {{1536, 1280}, 55050240, 23592960, 1966080, 24576, 2304, 3072},
        {{2048, 1280}, 73400320, 31457280, 2621440, 32768, 3072, 4096},
    };
    for (const Row &r : rows) {
        const WorkBufferSizes s = workBufferSizes(r.sc);
        EXPECT_EQ(s.lumaBlock, r.luma);
        EXPECT_EQ(s.chromaBlock, r.chroma);
        EXPECT_EQ(s.chromaAux, r.aux);
        EXPECT_EQ(s.scratchWide, r.wide);
        EXPECT_EQ(s.scratchQuarter, r.quarter);
        EXPECT_EQ(s.scratchHalf, r.half);
        EXPECT_EQ(s.scratch112, 112u);
        EXPECT_EQ(s.scratch400, 400u);
    }
}

TEST_F(WorkBuffersTest, PlanesAreCarvedAligned) {
    sizeClass = {832, 512};
    ASSERT_TRUE(allocateWorkBuffers());
    const WorkBuffers &b = workBuffers;
    const std::size_t plane = 832 * 512, chroma = 416 * 512;
    EXPECT_EQ(b.yRingA, b.lumaBlock);
    EXPECT_EQ(b.yRingB, b.lumaBlock + 3 * plane);
    EXPECT_EQ(b.yWork, b.lumaBlock + 6 * plane);
    EXPECT_EQ(b.cbRingB, b.cbBlock + 3 * chroma);
    EXPECT_EQ(b.crRingB, b.crBlock + 3 * chroma);
    for (const void *p : {(const void *)b.lumaBlock, (const void *)b.cbBlock, (const void *)b.cbAux,
                          (const void *)b.crBlock, (const void *)b.crAux})
        EXPECT_TRUE(aligned16(p));
    for (const ScratchSet &s : b.scratch) {
        EXPECT_TRUE(aligned16(s.scratchWide0));
        EXPECT_TRUE(aligned16(s.scratchWide1));
        EXPECT_TRUE(aligned16(s.scratch112));
        EXPECT_TRUE(aligned16(s.scratchHalf));
        EXPECT_TRUE(aligned16(s.scratch400));
        ASSERT_TRUE(aligned16(s.scratchQuarter));
        for (int i = 0; i < 832 / 4 * 3; ++i) ASSERT_EQ(s.scratchQuarter[i], 0) << "remainders start at 0";
    }
}

TEST_F(WorkBuffersTest, ReleaseLeavesEveryPointerNullAndCanRunTwice) {
    ASSERT_TRUE(allocateWorkBuffers());
    releaseWorkBuffers();
    releaseWorkBuffers();
    const WorkBuffers &b = workBuffers;
    for (const void *p : {(const void *)b.lumaBlock, (const void *)b.cbBlock, (const void *)b.cbAux,
                          (const void *)b.crBlock, (const void *)b.crAux, (const void *)b.yRingA,
                          (const void *)b.yWork, (const void *)b.crRingB})
        EXPECT_EQ(p, nullptr);
    for (const ScratchSet &s : b.scratch) {
        EXPECT_EQ(s.scratchWide0, nullptr);
        EXPECT_EQ(s.scratchWide1, nullptr);
        EXPECT_EQ(s.scratch112, nullptr);
        EXPECT_EQ(s.scratchQuarter, nullptr);
        EXPECT_EQ(s.scratchHalf, nullptr);
        EXPECT_EQ(s.scratch400, nullptr);
    }
}

TEST_F(WorkBuffersTest, RepeatedReallocationWithinAClassDoesNotGrow) {
    sizeClass = {832, 512};
    ASSERT_TRUE(allocateWorkBuffers());
    const std::size_t before = mallinfo2().uordblks + mallinfo2().hblkhd;
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(allocateWorkBuffers());
    const std::size_t after = mallinfo2().uordblks + mallinfo2().hblkhd;
    EXPECT_LE(after, before + 4096) << "before " << before << " after " << after;
}

TEST_F(WorkBuffersTest, AFailedAllocationIsReportedAndLaterRetried) {
    sizeClass = {832, 512};
    failAllocationsFrom = 0;
    EXPECT_FALSE(allocateWorkBuffers());
    failAllocationsFrom = -1;
    EXPECT_TRUE(allocateWorkBuffers());
}

}  // namespace
