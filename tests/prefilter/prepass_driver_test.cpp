// The pre-passes as the frame driver runs them through our host: which image each
// pass and the analysis read for every combination of the two check boxes, the
// strengths and neighbours handed over, and outputs that do not depend on the
// number of host threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>

#include "analysis/analysis.h"
#include "prefilter/prefilter.h"
#include "prefilter/prepass_support.h"
#include "support/support.h"

using namespace q5test;

namespace {


struct Dispatch {
    MULTI_THREAD_FUNC worker;
    PrepassParams prepass{};        // copied for the two pre-passes
    const PIXEL_YC *analysisSource = nullptr;  // for the vertical analysis
};

// Sits between the filter and the host's thread pool and notes every dispatch.
class DispatchRecorder {
public:
    explicit DispatchRecorder(q5host::Host &host) : fp_(host.filter()), original_(fp_->exfunc) {
        mine_ = *original_;
        mine_.exec_multi_thread_func = &exec;
        fp_->exfunc = &mine_;
        active_ = this;
    }
    ~DispatchRecorder() {
        fp_->exfunc = original_;
        active_ = nullptr;
    }
    std::vector<Dispatch> dispatches;

private:
    static BOOL exec(MULTI_THREAD_FUNC func, void *param1, void *param2) {
        Dispatch d{func};
        if (func == &blockNrWorker || func == &mosquitoNrWorker) d.prepass = *static_cast<PrepassParams *>(param1);
        if (func == &verticalAnalysisWorker) d.analysisSource = static_cast<AnalysisParams *>(param1)->source;
        active_->dispatches.push_back(d);
        return active_->original_->exec_multi_thread_func(func, param1, param2);
    }
    static inline DispatchRecorder *active_ = nullptr;
    FILTER *fp_;
    EXFUNC *original_;
    EXFUNC mine_;
};

// The clip frame whose first row an image shows, or -1.
int frameShown(const Clip &clip, const PIXEL_YC *image) {
    for (int n = 0; n < static_cast<int>(clip.frames.size()); ++n)
        if (std::memcmp(image, clip.frames[n].data(), clip.width * sizeof(PIXEL_YC)) == 0) return n;
    return -1;
}

struct Settings {
    bool mosquito, block;
};

}  // namespace

TEST(PrepassDispatch, EachStageReadsTheImageOfTheLastPassBeforeIt) {
    const Clip clip = randomClip(48, 40, 3, testSeed());
    for (Settings s : {Settings{false, false}, Settings{true, false}, Settings{false, true}, Settings{true, true}}) {
        // Each pass sees both field counts across the four combinations.
        const int field = s.mosquito != s.block;
        SCOPED_TRACE(testing::Message() << "mosquito " << s.mosquito << " block " << s.block << " field " << field);
        q5host::Host host(linkedEntry(), 2);
        host.setCheck(CheckBox::MosquitoNr, s.mosquito);
        host.setCheck(CheckBox::BlockNr, s.block);
        host.setCheck(CheckBox::Fields, field);
        host.setCheck(CheckBox::Anime, 0);
        host.setTrack(Slider::MosqNr, 7);
        host.setTrack(Slider::BlockNr, 3);
        host.init();
        host.update();
        host.setClip(clip.info(), clip.source());
        DispatchRecorder recorder(host);
        for (int n = 0; n < 3; ++n) host.process(n);

        int frame = -1;  // the frame being prepared
        const PIXEL_YC *expectedAnalysisSource = nullptr;
        int analyses = 0;
        for (const Dispatch &d : recorder.dispatches) {
            if (d.worker == &blockNrWorker) {
                frame = frameShown(clip, d.prepass.source);
                ASSERT_GE(frame, 0) << "the block pass reads the fetched frame";
                EXPECT_EQ(d.prepass.fieldCount, field ? 2 : 1);
                EXPECT_EQ(d.prepass.strengthA, 24);
                EXPECT_EQ(d.prepass.strengthB, 48);
                EXPECT_FALSE(d.prepass.animeMode);
                expectedAnalysisSource = host.editImage();
            } else if (d.worker == &mosquitoNrWorker) {
                if (s.block) {
                    EXPECT_EQ(d.prepass.source, host.editImage()) << "the mosquito pass reads the block pass's result";
                } else {
                    frame = frameShown(clip, d.prepass.source);
                    ASSERT_GE(frame, 0) << "the mosquito pass reads the fetched frame";
                }
                EXPECT_EQ(d.prepass.fieldCount, field ? 2 : 1);
                EXPECT_EQ(d.prepass.strengthC, 8 * 7) << "small size class";
                // The neighbours as the host returns them; at the clip's ends the frame itself.
                if (frame == 0) {
                    EXPECT_EQ(d.prepass.prevFrame, d.prepass.source);
                } else {
                    EXPECT_EQ(frameShown(clip, d.prepass.prevFrame), frame - 1);
                }
                if (frame == 2) {
                    EXPECT_EQ(d.prepass.nextFrame, d.prepass.source);
                } else {
                    EXPECT_EQ(frameShown(clip, d.prepass.nextFrame), frame + 1);
                }
                expectedAnalysisSource = host.tempImage();
            } else if (d.worker == &verticalAnalysisWorker) {
                ++analyses;
                if (!s.block && !s.mosquito) {
                    EXPECT_GE(frameShown(clip, d.analysisSource), 0) << "the analysis reads the fetched frame";
                    EXPECT_NE(d.analysisSource, host.editImage());
                } else {
                    EXPECT_EQ(d.analysisSource, expectedAnalysisSource);
                }
                expectedAnalysisSource = nullptr;
            }
        }
        EXPECT_EQ(analyses, 5);  // frames 1, 0, 1, then 2, then 1 again for the mirrored frame 3
    }
}

TEST(PrepassDispatch, MosquitoStrengthFollowsTheSizeClass) {
    for (auto [width, factor] : {std::pair{720, 8}, std::pair{736, 90}}) {
        const Clip clip = flatClip(width, 16, 2, {1000, 0, 0});
        q5host::Host host(linkedEntry(), 2);
        host.setCheck(CheckBox::MosquitoNr, 1);
        host.setTrack(Slider::MosqNr, 5);
        host.init();
        host.update();
        host.setClip(clip.info(), clip.source());
        DispatchRecorder recorder(host);
        host.process(0);
        int mosquitoPasses = 0;
        for (const Dispatch &d : recorder.dispatches)
            if (d.worker == &mosquitoNrWorker) {
                ++mosquitoPasses;
                EXPECT_EQ(d.prepass.strengthC, factor * 5) << "width " << width;
            }
        EXPECT_EQ(mosquitoPasses, 3);
    }
}

TEST(FrameDriverPrepasses, OutputIsTheSameForAnyNumberOfHostThreads) {
    // 72 x 40 is padded to 80 x 48, so the passes also read the reflected rows.
    // (This one also runs under the thread sanitizer.)
    const Clip clip = randomClip(72, 40, 3, testSeed());
    for (int field : {1, 0}) {
        std::optional<std::vector<std::vector<PIXEL_YC>>> reference;
        std::vector<PIXEL_YC> referenceTemp;
        for (int threads : field ? std::vector{1, 2, 3, 5, 8, 16} : std::vector{1, 5, 16}) {
            SCOPED_TRACE(testing::Message() << "field " << field << " threads " << threads);
            q5host::Host host(linkedEntry(), threads);
            host.setCheck(CheckBox::MosquitoNr, 1);
            host.setCheck(CheckBox::BlockNr, 1);
            host.setCheck(CheckBox::Fields, field);
            host.setTrack(Slider::BlockNr, 10);
            host.init();
            host.update();
            host.setClip(clip.info(), clip.source());
            const auto out = runClip(host, clip);
            // The padded picture, 80 x 48, of the last mosquito result.
            std::vector<PIXEL_YC> temp;
            for (int y = 0; y < 48; ++y) {
                const PIXEL_YC *row = host.tempImage() + static_cast<std::size_t>(y) * clip.info().maxW;
                temp.insert(temp.end(), row, row + 80);
            }
            if (!reference) {
                reference = out;
                referenceTemp = temp;
                continue;
            }
            for (std::size_t n = 0; n < out.size(); ++n)
                EXPECT_EQ(std::memcmp(out[n].data(), (*reference)[n].data(), out[n].size() * sizeof(PIXEL_YC)), 0)
                    << "frame " << n;
            EXPECT_EQ(std::memcmp(temp.data(), referenceTemp.data(), temp.size() * sizeof(PIXEL_YC)), 0)
                << "the last mosquito result";
        }
    }
}

TEST(FrameDriverPrepasses, OutputDoesNotDependOnWhatTheHostLeftBelowThePicture) {
    // 1080 rows are padded to 1088: the mosquito pass reads the neighbours' rows
    // 1080 to 1087, which no host writes. Zeros there, then noise, must give the same frames.
    const Clip clip = randomClip(48, 1080, 4, testSeed());
    std::optional<std::vector<std::vector<PIXEL_YC>>> reference;
    for (bool noiseBelow : {false, true}) {
        SCOPED_TRACE(testing::Message() << (noiseBelow ? "noise" : "zeros") << " below the picture");
        const q5host::FrameSource picture = clip.source();
        std::mt19937 rng(testSeed() + 1);
        std::uniform_int_distribution<int> any(-32768, 32767);
        auto source = [&](int n, PIXEL_YC *image, int pitch) {
            if (!picture(n, image, pitch)) return false;
            for (int y = clip.height; noiseBelow && y < 1088; ++y)
                for (int x = 0; x < pitch; ++x) {
                    PIXEL_YC &p = image[static_cast<std::size_t>(y) * pitch + x];
                    p = {static_cast<std::int16_t>(any(rng)), static_cast<std::int16_t>(any(rng)),
                         static_cast<std::int16_t>(any(rng))};
                }
            return true;
        };
        q5host::Host host(linkedEntry(), 2);
        host.setCheck(CheckBox::MosquitoNr, 1);
        host.setCheck(CheckBox::BlockNr, 1);
        host.init();
        host.update();
        host.setClip(clip.info(64, 1088), source);
        const auto out = runClip(host, clip);
        if (!reference) {
            reference = out;
            continue;
        }
        for (std::size_t n = 0; n < out.size(); ++n)
            EXPECT_EQ(std::memcmp(out[n].data(), (*reference)[n].data(), out[n].size() * sizeof(PIXEL_YC)), 0)
                << "frame " << n;
    }
}

namespace {

// A clip frame as a pre-pass test image (48 x 32).
Image imageOf(const Clip &clip, int n) {
    Image im(clip.width, clip.height);
    for (int y = 0; y < clip.height; ++y)
        for (int x = 0; x < clip.width; ++x) im.at(x, y) = clip.frames[n][static_cast<std::size_t>(y) * clip.width + x];
    return im;
}

// Largest difference in luma and in the chroma of even pixels (the odd pixels'
// chroma is rebuilt from the even ones by the output conversion).
int maxDifference(const std::vector<PIXEL_YC> &out, const Image &expected) {
    int worst = 0;
    for (int y = 0; y < expected.h; ++y)
        for (int x = 0; x < expected.w; ++x)
            for (int c = 0; c < (x % 2 ? 1 : 3); ++c)
                worst = std::max(worst, std::abs(componentOf(out[static_cast<std::size_t>(y) * expected.w + x], c) -
                                                 componentOf(expected.at(x, y), c)));
    return worst;
}

}  // namespace

TEST(PrepassDispatch, OutputShowsThePrepassResultWhenTheWaveletStagesAreNeutral) {
    // Flat ground with noise that both passes act on.
    Clip clip = flatClip(48, 32, 3, {0, 0, 0});
    for (int n = 0; n < 3; ++n) {
        const Image noisy = filledImage(48, 32, Fill::NearThreshold, testSeed() + n, 12);
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 48; ++x) clip.frames[n][static_cast<std::size_t>(y) * 48 + x] = noisy.at(x, y);
    }
    const Image frame = imageOf(clip, 1), prev = imageOf(clip, 0), next = imageOf(clip, 2);
    const BlockSettings block{1, 8 * 6, 16 * 6, true};
    const Image blocked = runBlock(&blockNrRowsScalar, frame, block);
    const Image expected[4] = {frame, runMosquito(&mosquitoNrRowsScalar, frame, prev, next, 1, 8 * 9), blocked,
                               runMosquito(&mosquitoNrRowsScalar, blocked, prev, next, 1, 8 * 9)};
    for (int combination = 0; combination < 4; ++combination) {
        q5host::Host host(linkedEntry(), 2);
        host.setCheck(CheckBox::MosquitoNr, combination & 1);
        host.setCheck(CheckBox::BlockNr, combination >> 1);
        host.setCheck(CheckBox::Fields, 0);
        host.setCheck(CheckBox::Rounding, 0);
        host.setTrack(Slider::Tarnel, 0);  // no temporal pull
        host.setTrack(Slider::W2dnrL, 0);  // no spatial coring
        host.setTrack(Slider::MosqNr, 9);
        host.setTrack(Slider::BlockNr, 6);
        host.init();
        host.update();
        host.setClip(clip.info(), clip.source());
        host.process(1);
        const std::vector<PIXEL_YC> out = host.outputPicture();
        // Up to one step from the float round trip and the conversion back to
        // 16 bits; the other combinations' results lie far further away.
        for (int e = 0; e < 4; ++e) {
            SCOPED_TRACE(testing::Message() << "mosquito " << (combination & 1) << " block " << (combination >> 1)
                                            << " against the result of combination " << e);
            if (e == combination) {
                EXPECT_LE(maxDifference(out, expected[e]), 1);
            } else {
                EXPECT_GT(maxDifference(out, expected[e]), 10);
            }
        }
    }
}
