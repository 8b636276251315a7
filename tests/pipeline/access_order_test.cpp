// The frame ring seen from the frames it gives: every output frame the same bytes
// whatever order the host asks for them in (the ring re-analyses what it lacks),
// and the same in the split layout taken when the blocks cannot be had.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "abi/settings.h"
#include "core/core.h"
#include "core/failing_system_memory.h"
#include "host/callbacks.h"
#include "platform/platform.h"
#include "support/support.h"

namespace {

using q5test::Frames;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kLight = true;
#else
constexpr bool kLight = false;
#endif

constexpr WPARAM kCacheResetId = 40001;

// Every stage on: both pre-passes (the mosquito pass fetches the neighbours too),
// the wavelet stages and the rounding correction.
void everyStageOn(q5host::Host &host) {
    host.setCheck(CheckBox::BlockNr, 1);
    host.setCheck(CheckBox::MosquitoNr, 1);
    host.setCheck(CheckBox::Rounding, 1);
    host.update();
}

// Forward playback, frame 0 to the last: what every other order must give.
Frames forward(q5host::Host &host, const q5test::Clip &clip) {
    host.update();  // a fresh ring
    return q5test::runClip(host, clip);
}

// Frames asked for in `order` from a fresh ring, each checked against forward
// playback; a -1 stands for a press of Cache Reset.
void expectSameFramesIn(q5host::Host &host, const Frames &expected, const std::vector<int> &order,
                        const char *name) {
    host.update();
    for (std::size_t i = 0; i < order.size(); ++i) {
        const int n = order[i];
        if (n >= static_cast<int>(expected.size())) continue;  // past a short clip's end
        if (n < 0) {
            ASSERT_EQ(host.windowMessage(WM_COMMAND, kCacheResetId, 0), TRUE);
            continue;
        }
        ASSERT_EQ(host.process(n), TRUE);
        const std::vector<PIXEL_YC> out = host.outputPicture();
        ASSERT_TRUE(out.size() == expected[n].size() &&
                    std::memcmp(out.data(), expected[n].data(), out.size() * sizeof(PIXEL_YC)) == 0)
            << name << ": frame " << n << ", request " << i << " of the order";
    }
}

// Backward, steps back and forth, jumps, a random order and Cache Reset in the
// middle of playback, on a clip of `frames` frames (backward alone unless allOrders).
void expectEveryOrderGivesForwardFrames(int w, int h, int frames, bool allOrders) {
    q5host::Host host(q5test::linkedEntry(), 2);
    host.init();
    everyStageOn(host);
    const q5test::Clip clip = q5test::movingPatternClip(w, h, frames, 40.0, q5test::testSeed());
    host.setClip(clip.info(), clip.source());
    const Frames expected = forward(host, clip);
    ASSERT_EQ(static_cast<int>(expected.size()), frames);

    std::vector<int> backward(frames);
    for (int n = 0; n < frames; ++n) backward[n] = frames - 1 - n;
    expectSameFramesIn(host, expected, backward, "backward");
    if (!allOrders) return;
    // One step back after forward playback, then back again, forward, and two back.
    std::vector<int> steps = {0, 1, 2, 1, 2, 3, 2, 1, 0};
    steps.erase(std::remove_if(steps.begin(), steps.end(), [&](int n) { return n >= frames; }), steps.end());
    expectSameFramesIn(host, expected, steps, "steps");
    expectSameFramesIn(host, expected, {frames - 1, 0, frames / 2, frames - 2, 1}, "jumps");
    // A step back leaves the band of frame 3 in a past slot and frame 1 whole in the
    // full slot that frame 5 takes: 1 must not push out the band that 4 needs.
    if (frames >= 6) expectSameFramesIn(host, expected, {0, 1, 2, 1, 4}, "back, then ahead");
    expectSameFramesIn(host, expected, {1, 2, -1, 2, 3 % frames, -1, 1}, "Cache Reset");
    std::vector<int> shuffled(frames);
    for (int n = 0; n < frames; ++n) shuffled[n] = n;
    std::mt19937 rng(q5test::testSeed());
    std::shuffle(shuffled.begin(), shuffled.end(), rng);
    expectSameFramesIn(host, expected, shuffled, "random");
}

}  // namespace

TEST(AccessOrder, EveryOrderGivesTheForwardFramesIn1080p) {
    SCOPED_TRACE(testing::Message() << "seed " << q5test::testSeed());
    expectEveryOrderGivesForwardFrames(1920, 1080, kLight ? 4 : 6, true);
}

TEST(AccessOrder, EveryOrderGivesTheForwardFramesIn4k) {
    SCOPED_TRACE(testing::Message() << "seed " << q5test::testSeed());
    // Under the sanitizers (unoptimised, many times slower) backward alone: the
    // orders' logic is the 1080p test's, the 4K strides are what this one adds.
    expectEveryOrderGivesForwardFrames(3840, 2160, kLight ? 2 : 4, !kLight);
}

// Where no free run is as long as a block, each ring is an allocation of its own:
// the same planes, so the same frames; where not even a ring fits, the memory
// message and black frames as before.
TEST(AccessOrder, TheSplitLayoutGivesTheFramesOfTheWholeBlocks) {
    const q5test::Clip clip = q5test::movingPatternClip(720, 480, 4, 40.0, q5test::testSeed());
    Frames frames[2];
    for (int split = 0; split < 2; ++split) {
        struct Restore {
            ~Restore() { failAllocationsOver = 0; }
        } restore;
        // The small class's luma block is 7 MB, its largest ring 3.4 MB (each asks
        // for 2 MB more, to start on a large page).
        failAllocationsOver = split ? std::size_t{6} << 20 : 0;
        q5host::Host host(q5test::linkedEntry(), 2);
        host.init();
        everyStageOn(host);
        host.setClip(clip.info(720, 480), clip.source());
        frames[split] = forward(host, clip);
        EXPECT_STREQ(workBufferLayout(workBuffers), split ? "split rings" : "whole blocks");
        // Backward in the split layout too: the past slots are allocations of their own.
        if (split) expectSameFramesIn(host, frames[0], {3, 2, 1, 0}, "backward, split");
    }
    EXPECT_TRUE(q5test::samePictures(frames[0], frames[1]));

    failAllocationsOver = std::size_t{1} << 20;
    q5host::Host host(q5test::linkedEntry(), 2);
    host.init();
    host.setClip(clip.info(720, 480), clip.source());
    host.process(0);
    failAllocationsOver = 0;
    EXPECT_STREQ(workBufferLayout(workBuffers), "none");
}
