// The frame driver seen through the host boundary: which frames it fetches,
// the padding it writes, the frames it refuses, and what it restores.
#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <cstring>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "core/core.h"
#include "core/failing_system_memory.h"
#include "common/service_log.h"
#include "host/callbacks.h"
#include "platform/platform.h"
#include "platform/recording_platform.h"
#include "support/support.h"

namespace {

using q5host::Host;
using q5host::ServiceCall;
using q5test::Clip;

bool isBlack(const Host &host, int rows) {
    const q5host::ClipInfo &c = host.clip();
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < c.maxW; ++x) {
            const PIXEL_YC &p = host.out()[static_cast<std::size_t>(y) * c.maxW + x];
            if (p.y || p.cb || p.cr) return false;
        }
    return true;
}

struct FrameDriverFixture : ::testing::Test {
    Clip clip;
    std::unique_ptr<Host> host;
    std::unique_ptr<q5host::ServiceLog> log;

    void start(GetFilterTableFn entry, const Clip &c, int maxW = 1920, int maxH = 1088,
               int threads = 2) {
        clip = c;
        // A second start in one test: the old log detaches from its host first.
        log.reset();
        host = std::make_unique<Host>(entry, threads);
        log = std::make_unique<q5host::ServiceLog>(*host);
        ASSERT_EQ(host->init(), TRUE);
        ASSERT_EQ(host->update(), TRUE);
        host->setClip(clip.info(maxW, maxH), clip.source());
        log->clear();
    }
};
using FrameDriver = FrameDriverFixture;

TEST_F(FrameDriver, FetchesThreeFramesFirstThenOnePerFrameMirroringAtBothEnds) {
    start(q5test::moduleEntry(), q5test::randomClip(64, 32, 6, 1));
    for (int n = 0; n < 6; ++n) ASSERT_EQ(host->process(n), TRUE);
    EXPECT_EQ(log->fetchedFrames(), (std::vector<int>{1, 0, 1, 2, 3, 4, 5, 4}));

    // Every fetch follows a request for a five-frame cache of the image size.
    const std::vector<ServiceCall> &calls = log->calls();
    int fetches = 0;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].kind != ServiceCall::Fetch) continue;
        ++fetches;
        ASSERT_GT(i, 0u);
        const ServiceCall &size = calls[i - 1];
        EXPECT_EQ(size.kind, ServiceCall::CacheSize);
        EXPECT_EQ(size.a, 1920);
        EXPECT_EQ(size.b, 1088);
        EXPECT_EQ(size.c, 5);
        EXPECT_EQ(size.d, 0);
    }
    EXPECT_EQ(fetches, 8);
}

// The ring keeps two frames whole and the coarsest band of the two before: a step
// back after forward playback fetches the new current frame alone, a second one
// also the frame before it (for its band), and forward playback from there is one
// new frame a call again.
TEST_F(FrameDriver, AStepBackFetchesTheNewCurrentFrameAndASecondOneItsPredecessorToo) {
    start(q5test::moduleEntry(), q5test::randomClip(64, 32, 8, 12));
    for (int n = 0; n < 5; ++n) ASSERT_EQ(host->process(n), TRUE);
    // Then a jump ahead: the band of 5, which left when 3 came back, still serves 6.
    const std::vector<std::pair<int, std::vector<int>>> steps = {{3, {3}}, {2, {1, 2}}, {3, {4}}, {4, {5}},
                                                                 {3, {3}}, {6, {6, 7}}};
    for (const auto &[frame, fetched] : steps) {
        log->clear();
        ASSERT_EQ(host->process(frame), TRUE);
        EXPECT_EQ(log->fetchedFrames(), fetched) << "frame " << frame;
    }
}

// The last frame's next neighbour is the one before it, reflected; once the clip is
// longer the same number is a frame of its own and is fetched, not taken from the ring.
TEST_F(FrameDriver, AReflectedNeighbourIsFetchedAgainOnceTheClipGrows) {
    start(q5test::moduleEntry(), q5test::randomClip(64, 32, 6, 13));
    host->setFrameCount(4);
    ASSERT_EQ(host->process(2), TRUE);
    ASSERT_EQ(host->process(3), TRUE);
    host->setFrameCount(6);
    log->clear();
    ASSERT_EQ(host->process(3), TRUE);
    EXPECT_EQ(log->fetchedFrames(), (std::vector<int>{4}));
}

TEST_F(FrameDriver, ReanalysesAllThreeFramesAfterUpdateSaveStartAndSizeChange) {
    start(q5test::moduleEntry(), q5test::randomClip(640, 480, 8, 2));
    host->process(0);
    host->process(1);
    log->clear();
    host->update();
    host->process(2);
    EXPECT_EQ(log->fetchedFrames(), (std::vector<int>{1, 2, 3}));

    log->clear();
    host->saveStart(0, 7);
    host->process(3);
    EXPECT_EQ(log->fetchedFrames(), (std::vector<int>{2, 3, 4}));

    // 640 x 480 and 704 x 480 share a size class, yet the buffers are reallocated.
    Clip wider = q5test::randomClip(704, 480, 8, 3);
    clip = wider;
    host->setClip(clip.info(), clip.source());
    log->clear();
    host->process(4);
    EXPECT_EQ(log->fetchedFrames(), (std::vector<int>{3, 4, 5}));
}

TEST_F(FrameDriver, OneFrameClipStillProducesItsFrame) {
    start(q5test::moduleEntry(), q5test::randomClip(64, 32, 1, 4));
    EXPECT_EQ(host->process(0), TRUE);
    EXPECT_EQ(log->fetchedFrames(), (std::vector<int>{1, 0, -1}));
    std::vector<bool> results;
    for (const ServiceCall &c : log->calls())
        if (c.kind == ServiceCall::Fetch) results.push_back(c.result);
    EXPECT_EQ(results, (std::vector<bool>{false, true, false}));
    EXPECT_FALSE(isBlack(*host, 32));
}

TEST_F(FrameDriver, AMissingCurrentFrameGivesABlackFrame) {
    Clip c = q5test::randomClip(64, 32, 3, 5);
    c.unavailable = {false, true, false};
    start(q5test::moduleEntry(), c);
    EXPECT_EQ(host->process(1), TRUE);
    EXPECT_TRUE(isBlack(*host, 32));
    EXPECT_EQ(host->process(2), TRUE);
    EXPECT_FALSE(isBlack(*host, 32)) << "a missing neighbour does not stop the frame";
}

// Frame 3 cannot be fetched, so frame 4 is made from itself and frame 5; the slot of
// frame 3 still holds the analysis of frame 0, which must not count. Two clips that
// differ only in frame 0 give the same frame 4.
TEST_F(FrameDriver, AMissingPreviousFrameIsLeftOutWhateverItsSlotStillHolds) {
    std::vector<PIXEL_YC> out[2];
    for (int i = 0; i < 2; ++i) {
        // Frames 0, 4 and 5 all but equal, so that a neighbour taken in would count.
        Clip c = q5test::randomClip(64, 32, 6, 11);
        std::mt19937 rng(20 + i);
        for (int k : {0, 5}) {
            c.frames[k] = c.frames[4];
            for (PIXEL_YC &p : c.frames[k]) p.y = static_cast<short>(p.y + static_cast<int>(rng() % 5) - 2);
        }
        c.unavailable = {false, false, false, true, false, false};
        start(q5test::moduleEntry(), c);
        ASSERT_EQ(host->process(0), TRUE);
        ASSERT_EQ(host->process(4), TRUE);
        out[i].assign(host->out(), host->out() + static_cast<std::size_t>(host->clip().maxW) * 32);
    }
    EXPECT_EQ(std::memcmp(out[0].data(), out[1].data(), out[0].size() * sizeof(PIXEL_YC)), 0);
}

TEST_F(FrameDriver, PadsRowsBelowThePictureByReflectionAndRestoresTheSize) {
    start(q5test::moduleEntry(), q5test::randomClip(1920, 1080, 2, 6));
    ASSERT_EQ(host->process(0), TRUE);
    EXPECT_EQ(host->lastProcInfo().w, 1920);
    EXPECT_EQ(host->lastProcInfo().h, 1080);
    const PIXEL_YC *image = host->cachedImage(0);
    ASSERT_NE(image, nullptr);
    for (int j = 1080; j < 1088; ++j) {
        const int from = 2 * 1080 - 2 - j;  // 1078 down to 1071
        for (int x = 0; x < 1920; ++x) {
            const PIXEL_YC &a = image[static_cast<std::size_t>(j) * 1920 + x];
            const PIXEL_YC &b = image[static_cast<std::size_t>(from) * 1920 + x];
            ASSERT_TRUE(a.y == b.y && a.cb == b.cb && a.cr == b.cr) << "row " << j << " x " << x;
        }
    }
}

TEST_F(FrameDriver, PadsPicturesShorterThanOneReflectionWithinThePicture) {
    // Four real rows must fill twelve padding rows: reflect again and again.
    for (int height : {1, 2, 4, 7}) {
        SCOPED_TRACE(height);
        start(q5test::moduleEntry(), q5test::randomClip(32, height, 1, 7), 64, 64);
        ASSERT_EQ(host->process(0), TRUE);
        const PIXEL_YC *image = host->cachedImage(0);
        ASSERT_NE(image, nullptr);
        for (int j = height; j < 16; ++j) {
            int from = 0;
            if (height > 1) {
                const int period = 2 * (height - 1), m = j % period;
                from = m < height ? m : period - m;
            }
            for (int x = 0; x < 32; ++x)
                ASSERT_EQ(image[j * 64 + x].y, clip.frames[0][from * 32 + x].y) << j;
        }
        EXPECT_EQ(host->lastProcInfo().h, height);
        EXPECT_EQ(host->lastProcInfo().w, 32);
    }
}

TEST_F(FrameDriver, TooSmallMaximumHeightShowsTheMessageAndABlackFrame) {
    start(q5test::moduleEntry(), q5test::randomClip(1905, 1080, 1, 8), 1910, 1080);
    testing::internal::CaptureStderr();
    EXPECT_EQ(host->process(0), TRUE);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err,
              "Quorvane4 Lite: 「システムの設定」の「最大画像サイズ」の「高さ」を 1088 "
              "以上に設定し、AviUtlを再起動してください\n"
              "Quorvane4 Lite: 「システムの設定」の「最大画像サイズ」の「幅」を 1920 "
              "以上に設定し、AviUtlを再起動してください\n");
    EXPECT_TRUE(isBlack(*host, 1080));
    EXPECT_TRUE(log->fetchedFrames().empty());
}

// Just past the largest frame: 4112 wide or 2320 high after rounding.
TEST_F(FrameDriver, OversizedFramesAreBlackWithoutAMessage) {
    struct Case { int w, h, maxW, maxH; } cases[] = {{4097, 64, 4112, 64}, {64, 2305, 64, 2320}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.w);
        start(q5test::moduleEntry(), q5test::randomClip(c.w, c.h, 1, 9), c.maxW, c.maxH);
        testing::internal::CaptureStderr();
        EXPECT_EQ(host->process(0), TRUE);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_TRUE(isBlack(*host, c.h));
        EXPECT_EQ(host->lastProcInfo().w, c.w);
        EXPECT_EQ(host->lastProcInfo().h, c.h);
    }
}

TEST_F(FrameDriver, NegativeFrameNumbersAreRefusedWithABlackFrame) {
    // A ring slot is picked from the frame number; a negative one must never index it.
    start(q5test::moduleEntry(), q5test::randomClip(64, 32, 3, 14));
    FILTER *fp = host->filter();
    FILTER_PROC_INFO fpip = {};
    std::vector<PIXEL_YC> edit(64 * 32, PIXEL_YC{100, 1, 2}), temp(edit.size());
    fpip.ycp_edit = edit.data();
    fpip.ycp_temp = temp.data();
    fpip.w = fpip.max_w = 64;
    fpip.h = fpip.max_h = 32;
    fpip.frame_n = 3;
    for (int frame : {-1, -7, -100}) {
        fpip.frame = frame;
        EXPECT_EQ(fp->func_proc(fp, &fpip), TRUE);
        for (const PIXEL_YC &p : edit) ASSERT_EQ(p.y, 0);
    }
}

TEST_F(FrameDriver, ProcessorWithoutSse3GivesBlackFramesSilently) {
    start(q5test::linkedEntry(), q5test::randomClip(64, 32, 2, 10));
    CpuLevel = 1;
    platformCalls().clear();
    EXPECT_EQ(host->process(0), TRUE);
    EXPECT_TRUE(isBlack(*host, 32));
    EXPECT_FALSE(host->filterRan()) << "the host sees the frame was not processed";
    EXPECT_TRUE(platformCalls().empty());
    EXPECT_TRUE(log->fetchedFrames().empty());
    CpuLevel = detectCpuLevel();
}

// A 4K clip in an editor short of memory: black frames, one message naming the size,
// and the next size change tries again.
TEST_F(FrameDriver, FailedAllocationGivesBlackFramesAndOneMessageUntilTheNextSizeChange) {
    start(q5test::linkedEntry(), q5test::flatClip(3840, 2160, 2, PIXEL_YC{1000, 100, -100}), 3840, 2160);
    platformCalls().clear();
    failAllocationsFrom = 0;  // every later allocation fails
    EXPECT_EQ(host->process(0), TRUE);
    EXPECT_TRUE(isBlack(*host, 2160));
    EXPECT_FALSE(host->filterRan());
    failAllocationsFrom = -1;
    EXPECT_EQ(host->process(1), TRUE);
    EXPECT_TRUE(isBlack(*host, 2160)) << "no retry without a size change";
    EXPECT_FALSE(host->filterRan());
    EXPECT_TRUE(log->fetchedFrames().empty());
    std::vector<std::vector<std::string>> messages;
    for (const PlatformCall &call : platformCalls())
        if (call.name == "MessageBoxA") messages.push_back(call.texts);
    EXPECT_EQ(messages, (std::vector<std::vector<std::string>>{{"not enough memory for 3840 × 2160", "Quorvane5"}}))
        << "one message, not one per frame";

    clip = q5test::flatClip(1920, 1080, 2, PIXEL_YC{1000, 100, -100});
    host->setClip(clip.info(3840, 2160), clip.source());
    EXPECT_EQ(host->process(1), TRUE);
    EXPECT_FALSE(isBlack(*host, 1080));
    EXPECT_TRUE(host->filterRan());
    EXPECT_EQ(host->lastProcInfo().h, 1080);
}

// A host service never throws into the filter (its callbacks are noexcept): a frame
// source that throws gives the filter a missing frame, and the host rethrows once
// func_proc has returned; the next frame is served as usual.
TEST_F(FrameDriver, AFrameSourceThatThrowsFailsTheCallAfterTheFilterReturns) {
    start(q5test::linkedEntry(), q5test::randomClip(64, 32, 4, 14));
    const q5host::FrameSource inner = clip.source();
    bool thrown = false;
    host->setClip(clip.info(), [&](int n, PIXEL_YC *image, int pitch) {
        if (n == 2 && !thrown) {
            thrown = true;
            throw std::bad_alloc();
        }
        return inner(n, image, pitch);
    });
    EXPECT_THROW(host->process(1), std::bad_alloc);
    EXPECT_TRUE(thrown);
    EXPECT_EQ(host->process(1), TRUE);
    EXPECT_TRUE(host->filterRan());
    EXPECT_FALSE(isBlack(*host, 32));
}

TEST_F(FrameDriver, RunsWithTheProcessingControlWordAndRestoresTheCallers) {
    Clip c = q5test::randomClip(64, 32, 3, 13);
    start(q5test::moduleEntry(), c);
    std::vector<unsigned> seen;
    q5host::FrameSource inner = clip.source();
    host->setClip(clip.info(), [&](int n, PIXEL_YC *image, int pitch) {
        seen.push_back(_mm_getcsr());  // fetches run on the calling thread, inside func_proc
        return inner(n, image, pitch);
    });
    const unsigned callers = 0x1F80 | 0x6000;  // all masked, round toward zero
    const unsigned saved = _mm_getcsr();
    _mm_setcsr(callers);
    host->process(0);
    const unsigned after = _mm_getcsr();
    _mm_setcsr(saved);
    EXPECT_EQ(after, callers);
    ASSERT_FALSE(seen.empty());
    // The first value is the host's own copy of the current frame, made before the call.
    for (std::size_t i = 1; i < seen.size(); ++i) EXPECT_EQ(seen[i] & 0xFFC0u, 0x9D80u) << i;
}

// Before the first settings update the wavelet stages work in frame mode (the derived
// settings start so), while the pre-passes and the rounding correction follow the
// per-field check box, which is on by default: turning the box off must change them.
TEST_F(FrameDriver, BeforeTheFirstUpdateThePrepassesFollowTheFieldCheckBox) {
    const Clip c = q5test::movingPatternClip(64, 48, 3, 24.0, 21);
    std::vector<std::vector<PIXEL_YC>> outputs[2];
    for (int box : {0, 1}) {
        Host h(q5test::moduleEntry(), 2);
        ASSERT_EQ(h.init(), TRUE);
        h.setCheck(CheckBox::Fields, box);
        h.setCheck(CheckBox::BlockNr, 1);
        h.setClip(c.info(), c.source());
        outputs[box] = q5test::runClip(h, c);
    }
    bool same = true;
    for (std::size_t f = 0; f < outputs[0].size(); ++f)
        same &= std::memcmp(outputs[0][f].data(), outputs[1][f].data(), outputs[0][f].size() * sizeof(PIXEL_YC)) == 0;
    EXPECT_FALSE(same);
}

}  // namespace
