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
        releaseWorkBuffers(b);
    }
    WorkBuffers b{};
};
using WorkBuffersTest = WorkBuffersFixture;

TEST_F(WorkBuffersTest, SizesFollowTheSizeClass) {
    struct Row {
        SizeClass sc;
        std::size_t luma, chroma, aux, quarter;
    } rows[] = {
        {{832, 512}, 10223616, 5111808, 425984, 1248},
        {{1536, 1280}, 47185920, 23592960, 1966080, 2304},
        {{2048, 1280}, 62914560, 31457280, 2621440, 3072},
    };
    for (const Row &r : rows) {
        const WorkBufferSizes s = workBufferSizes(r.sc);
        EXPECT_EQ(s.lumaBlock, r.luma);
        EXPECT_EQ(s.chromaBlock, r.chroma);
        EXPECT_EQ(s.chromaAux, r.aux);
        EXPECT_EQ(s.scratchQuarter, r.quarter);
        EXPECT_EQ(s.scratch400, 400u);
    }
}

TEST_F(WorkBuffersTest, PlanesAreCarvedAligned) {
    ASSERT_TRUE(allocateWorkBuffers(b, {832, 512}));
    EXPECT_EQ(b.planes.stride, 832);
    EXPECT_EQ(b.planes.rows, 512);
    const std::size_t plane = 832 * 512, chroma = 416 * 512;
    EXPECT_EQ(b.yRingA, b.lumaBlock);
    EXPECT_EQ(b.yRingB, b.lumaBlock + 3 * plane);
    EXPECT_EQ(b.cbRingB, b.cbBlock + 3 * chroma);
    EXPECT_EQ(b.crRingB, b.crBlock + 3 * chroma);
    for (const void *p : {(const void *)b.lumaBlock, (const void *)b.cbBlock, (const void *)b.cbAux,
                          (const void *)b.crBlock, (const void *)b.crAux})
        EXPECT_TRUE(aligned16(p));
    for (const ScratchSet &s : b.scratch) {
        EXPECT_TRUE(aligned16(s.scratch400));
        EXPECT_TRUE(aligned16(s.scratchOctets));
        ASSERT_TRUE(aligned16(s.scratchQuarter));
        for (int i = 0; i < 832 / 4 * 3; ++i) ASSERT_EQ(s.scratchQuarter[i], 0) << "remainders start at 0";
    }
}

TEST_F(WorkBuffersTest, ReleaseLeavesEveryPointerNullAndCanRunTwice) {
    ASSERT_TRUE(allocateWorkBuffers(b, {2048, 1280}));
    releaseWorkBuffers(b);
    releaseWorkBuffers(b);
    for (const void *p : {(const void *)b.lumaBlock, (const void *)b.cbBlock, (const void *)b.cbAux,
                          (const void *)b.crBlock, (const void *)b.crAux, (const void *)b.yRingA,
                          (const void *)b.crRingB})
        EXPECT_EQ(p, nullptr);
    for (const ScratchSet &s : b.scratch) {
        EXPECT_EQ(s.scratchQuarter, nullptr);
        EXPECT_EQ(s.scratch400, nullptr);
        EXPECT_EQ(s.scratchOctets, nullptr);
    }
}

TEST_F(WorkBuffersTest, RepeatedReallocationWithinAClassDoesNotGrow) {
    ASSERT_TRUE(allocateWorkBuffers(b, {832, 512}));
    const std::size_t before = mallinfo2().uordblks + mallinfo2().hblkhd;
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(allocateWorkBuffers(b, {832, 512}));
    const std::size_t after = mallinfo2().uordblks + mallinfo2().hblkhd;
    EXPECT_LE(after, before + 4096) << "before " << before << " after " << after;
}

TEST_F(WorkBuffersTest, AFailedAllocationIsReportedAndLaterRetried) {
    failAllocationsFrom = 0;
    EXPECT_FALSE(allocateWorkBuffers(b, {832, 512}));
    failAllocationsFrom = -1;
    EXPECT_TRUE(allocateWorkBuffers(b, {832, 512}));
}

// Every unit exactly once, in order, and no share more than a unit over its due:
// a gap would leave part of a plane as the previous frame left it, which no
// comparison of outputs from identical runs would see.
TEST_F(WorkBuffersTest, ThreadSharesCoverEveryUnitOnceAndEvenly) {
    const StageWork works[] = {{{160, 0, 0}, {1, 0, 0}},          // rows of the horizontal pass
                               {{240, 120, 0}, {3, 5, 0}},        // luma, chroma of the vertical pass
                               {{160, 128, 128}, {2048, 1408, 1408}},  // luma, Cb, Cr of the temporal stage
                               {{3, 0, 2}, {7, 1, 1}},            // fewer units than threads, an empty run
                               {{4, 0, 0}, {5, 0, 0}}};           // a few equal units
    for (const StageWork &work : works)
        for (int threads = 1; threads <= 40; ++threads) {
            long long total = 0, biggest = 0;
            int units = 0;
            for (int k = 0; k < 3; ++k) {
                total += static_cast<long long>(work.units[k]) * work.unitCost[k];
                if (work.units[k] > 0 && work.unitCost[k] > biggest) biggest = work.unitCost[k];
                units += work.units[k];
            }
            int next = 0;
            for (int t = 0; t < threads; ++t) {
                const UnitRange share = threadShare(work, t, threads);
                ASSERT_EQ(share.first, next) << threads << " threads, thread " << t;
                ASSERT_LE(share.first, share.end);
                long long cost = 0;
                int covered = 0;
                for (int k = 0; k < 3; ++k) {
                    const UnitRange part = runPart(work, share, k);
                    cost += static_cast<long long>(part.end - part.first) * work.unitCost[k];
                    covered += part.end - part.first;
                }
                ASSERT_EQ(covered, share.end - share.first);
                EXPECT_LE(cost * threads, total + biggest * threads) << threads << " threads, thread " << t;
                // Equal units: shares differ by one unit at most (4 on 2 threads are 2 and 2).
                if (work.units[1] == 0 && work.units[2] == 0) {
                    EXPECT_GE(share.end - share.first, units / threads) << threads << " threads, thread " << t;
                    EXPECT_LE(share.end - share.first, (units + threads - 1) / threads) << threads << " threads, thread " << t;
                }
                next = share.end;
            }
            EXPECT_EQ(next, units) << threads << " threads";
        }
}

// Threads past the four scratch sets get scratch once; without it the stages share
// among the threads that have it, and a new size class starts again from four.
TEST_F(WorkBuffersTest, ScratchPastFourThreadsIsMadeOnceAndBoundsTheSplit) {
    ASSERT_TRUE(allocateWorkBuffers(b, {832, 512}));
    failAllocationsFrom = 0;
    EXPECT_EQ(ensureOctetScratch(b, 16), kScratchSets);
    int seen = 1;
    const StageContext noting{nullptr, &b, &seen}, silent{nullptr, &b, nullptr};
    EXPECT_EQ(workingThreads(noting, 0, 16), kScratchSets);
    EXPECT_EQ(seen, 16) << "thread 0 notes the host's count for the driver";
    EXPECT_EQ(workingThreads(silent, 0, 3), 3);
    failAllocationsFrom = -1;
    EXPECT_EQ(ensureOctetScratch(b, 16), 16);
    EXPECT_EQ(workingThreads(silent, 0, 16), 16);
    for (int t = kScratchSets; t < 16; ++t) EXPECT_TRUE(aligned16(octetScratch(b, t)));
    const float *kept = octetScratch(b, 15);
    EXPECT_EQ(ensureOctetScratch(b, 16), 16);
    EXPECT_EQ(octetScratch(b, 15), kept);
    ASSERT_TRUE(allocateWorkBuffers(b, {832, 512}));
    EXPECT_EQ(workingThreads(silent, 0, 16), kScratchSets);
}

}  // namespace
