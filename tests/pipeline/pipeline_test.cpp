// The whole wavelet pipeline through the built module, driven by our host on a real
// thread pool: thread independence, pass-through and flat cases, empty neighbour
// slots, and denoising of a noisy synthetic clip.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <vector>

#include "support/support.h"
#include "temporal/temporal.h"
#include "wavelet/sample_conversion.h"

namespace {

using q5test::Frames;
using q5test::samePictures;


struct Session {
    q5host::Host host;
    explicit Session(int threads) : host(q5test::moduleEntry(), threads) {
        host.init();
        // The rounding correction depends on the thread count by design; leave it
        // out wherever outputs are compared exactly.
        host.setCheck(CheckBox::Rounding, 0);
        host.update();
    }
    void set(bool fieldMode) {
        host.setCheck(CheckBox::Fields, fieldMode ? 1 : 0);
        host.update();
    }
    Frames run(const q5test::Clip &clip, int frames = -1) {
        host.setClip(clip.info(), clip.source());
        host.update();  // a fresh ring for every run
        Frames out;
        const int n = frames < 0 ? static_cast<int>(clip.frames.size()) : frames;
        for (int f = 0; f < n; ++f) {
            host.process(f);
            out.push_back(host.outputPicture());
        }
        return out;
    }
};

// Runs the first `processed` frames of a random clip with each thread count and
// compares every output byte with the single-threaded run.
void expectSameOutputForThreadCounts(int w, int h, int frames, int processed, bool fieldMode,
                                     std::initializer_list<int> threadCounts) {
    Session s(1);
    s.set(fieldMode);
    const q5test::Clip clip = q5test::randomClip(w, h, frames, q5test::testSeed());
    const Frames one = s.run(clip, processed);
    for (int threads : threadCounts) {
        SCOPED_TRACE(testing::Message() << w << "x" << h << (fieldMode ? " field" : " frame") << " mode, "
                                        << threads << " threads");
        s.host.setThreads(threads);
        EXPECT_TRUE(samePictures(one, s.run(clip, processed)));
    }
}

}  // namespace

// Thread counts past the four scratch sets too, where the stages split their work
// further. Both modes, one picture per size class; the larger classes
// with a single-frame clip (neighbours unavailable) to stay short. Under the thread
// sanitizer (many times slower) the small class alone on 3 and 8 threads: one
// output frame (three analyses) a run.
TEST(FilterOutput, IsIdenticalForEveryThreadCountInEverySizeClass) {
#if defined(__SANITIZE_THREAD__)
    for (bool fieldMode : {false, true}) expectSameOutputForThreadCounts(720, 480, 3, 1, fieldMode, {3, 8});
#else
    const struct {
        int w, h, frames;
    } sizes[] = {{720, 480, 3}, {1280, 720, 1}, {1916, 1080, 1}};
    for (const auto &size : sizes)
        for (bool fieldMode : {false, true})
            expectSameOutputForThreadCounts(size.w, size.h, size.frames, 1, fieldMode, {2, 3, 4, 5, 8, 16});
#endif
}

// Negative chroma too, exactly: an integer rebuilt to within float rounding comes
// back as itself on either side of zero.
TEST(FilterOutput, FlatPictureComesOutAtItsOwnValue) {
    Session s(2);
    const PIXEL_YC value{1000, -300, 200};
    for (bool fieldMode : {false, true}) {
        s.set(fieldMode);
        const Frames out = s.run(q5test::flatClip(712, 480, 2, value));
        for (const auto &picture : out)
            for (const PIXEL_YC &p : picture)
                ASSERT_TRUE(p.y == value.y && p.cb == value.cb && p.cr == value.cr)
                    << p.y << " " << p.cb << " " << p.cr << (fieldMode ? " field mode" : " frame mode");
    }
}

TEST(FilterOutput, WithoutSpatialAndTemporalReductionThePicturePassesThrough) {
    Session s(2);
    s.host.setTrack(Slider::W2dnrL, 0);
    s.host.setTrack(Slider::Tarnel, 0);
    // Luma below black as well as chroma on both sides of zero.
    q5test::Clip clip = q5test::randomClip(704, 480, 3, q5test::testSeed() + 1);
    for (auto &frame : clip.frames)
        for (PIXEL_YC &p : frame) p.y = static_cast<std::int16_t>(p.y - 300);
    for (bool fieldMode : {false, true}) {
        s.set(fieldMode);
        const Frames out = s.run(clip);
        for (std::size_t f = 0; f < out.size(); ++f)
            for (int y = 0; y < clip.height; ++y)
                for (int x = 0; x < clip.width; ++x) {
                    const PIXEL_YC in = clip.frames[f][y * clip.width + x];
                    const PIXEL_YC chroma = clip.frames[f][y * clip.width + (x & ~1)];
                    const PIXEL_YC o = out[f][y * clip.width + x];
                    ASSERT_TRUE(o.y == in.y && o.cb == chroma.cb && o.cr == chroma.cr)
                        << "frame " << f << " row " << y << " x " << x << (fieldMode ? " field" : " frame")
                        << " mode: " << o.y << " " << o.cb << " " << o.cr << " from " << in.y << " "
                        << chroma.cb << " " << chroma.cr;
                }
    }
}

TEST(FilterOutput, EmptyNeighbourSlotsLeaveTheCurrentFrameAsItsSpatialPass) {
    Session s(2);
    s.set(false);
    q5test::Clip single = q5test::randomClip(640, 480, 1, q5test::testSeed() + 2);
    const Frames alone = s.run(single);

    // Fill the ring with neighbours close to the picture (well within the temporal
    // threshold), then empty it: those analyses stay in memory behind empty markers.
    q5test::Clip close = single;
    close.frames.assign(3, single.frames[0]);
    for (auto *frame : {&close.frames[0], &close.frames[2]})
        for (PIXEL_YC &p : *frame) p.y = static_cast<std::int16_t>(p.y + 3);
    const Frames withNeighbours = s.run(close);
    EXPECT_FALSE(samePictures({withNeighbours[1]}, alone)) << "the neighbours should have counted";

    EXPECT_TRUE(samePictures(s.run(single), alone));
}

TEST(FilterOutput, StillClipEqualsTheSpatialPassOfTheCurrentFrame) {
    Session s(2);
    s.set(false);
    q5test::Clip still = q5test::randomClip(640, 480, 1, q5test::testSeed() + 3);
    const Frames alone = s.run(still);
    still.frames.assign(3, still.frames[0]);
    const Frames out = s.run(still);
    // The mean of three equal values differs from the value only by float rounding.
    long differing = 0;
    for (std::size_t i = 0; i < alone[0].size(); ++i) {
        const PIXEL_YC a = alone[0][i], b = out[1][i];
        ASSERT_LE(std::abs(a.y - b.y) + std::abs(a.cb - b.cb) + std::abs(a.cr - b.cr), 1) << i;
        differing += a.y != b.y || a.cb != b.cb || a.cr != b.cr;
    }
    EXPECT_LT(differing, static_cast<long>(alone[0].size() / 1000));
}

TEST(FilterOutput, DefaultSettingsRaiseLumaPsnrOfANoisyClip) {
    // Noise of a few YC48 steps, the level the default thresholds are made for. The
    // rounding correction is left out: it re-quantises to steps of 16, which costs
    // more than such noise and would hide what the wavelet stages do.
    const double sigma = 6.0;
    q5test::Clip clean;
    const q5test::Clip noisy = q5test::movingPatternClip(720, 480, 5, sigma, q5test::testSeed(), &clean);
    for (bool fieldMode : {true, false}) {  // per-field processing is on by default
        q5host::Host host(q5test::moduleEntry(), 2);
        host.init();
        host.setCheck(CheckBox::Rounding, 0);
        host.setCheck(CheckBox::Fields, fieldMode ? 1 : 0);
        host.update();
        host.setClip(noisy.info(), noisy.source());
        const Frames out = q5test::runClip(host, noisy);
        double before = 0, after = 0;
        for (std::size_t f = 0; f < out.size(); ++f) {
            before += q5test::lumaPsnr(noisy.frames[f], clean.frames[f]);
            after += q5test::lumaPsnr(out[f], clean.frames[f]);
        }
        before /= out.size();
        after /= out.size();
        std::printf("luma PSNR, moving pattern 720x480, sigma %.0f, %s mode: noisy %.2f dB, denoised %.2f dB (%+.2f dB)\n",
                    sigma, fieldMode ? "field" : "frame", before, after, after - before);
        EXPECT_GT(after, before + (fieldMode ? 0.75 : 1.5));
    }
}
