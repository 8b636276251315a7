// --strength: auto by default and the editor's settings on request, the settings a run
// prints (which must reproduce it), and the automatic choice itself on small clips
// whose clean pictures are known: close to the best of a grid of fixed settings on a
// flat outlined cartoon, a photo-like texture and a gradient, and a setting given by
// hand always kept.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "cli/command/strength.h"
#include "cli/picture/convert.h"
#include "cli/picture/demo_clip.h"
#include "common/module.h"
#include "support/support.h"

namespace {

using q5cli::Options;

const FILTER &descriptor() { return *q5test::moduleEntry()(); }

Options parse(const std::vector<std::string> &args) {
    Options o;
    std::string error;
    EXPECT_TRUE(q5cli::parseOptions(args, &o, &error)) << error;
    return o;
}

q5cli::Y4mFormat formatOf(int w, int h, int bits = 8, char interlace = 'p') {
    q5cli::Y4mFormat f;
    std::string error;
    q5cli::parseY4mHeader(q5cli::makeY4mHeader(w, h, q5cli::Subsampling::S420, bits, 24, 1), &f, &error);
    f.interlace = interlace;
    return f;
}

TEST(StrengthOption, IsAutoUnlessTheEditorsSettingsAreAskedFor) {
    EXPECT_TRUE(parse({"a", "b"}).autoStrength);
    EXPECT_TRUE(parse({"--strength", "auto", "a", "b"}).autoStrength);
    EXPECT_FALSE(parse({"--strength=editor", "a", "b"}).autoStrength);
    for (const char *bad : {"Auto", "10", ""}) {
        Options o;
        std::string error;
        EXPECT_FALSE(q5cli::parseOptions({"--strength", bad, "a", "b"}, &o, &error));
        EXPECT_EQ(error, "--strength takes \"auto\" or \"editor\", not \"" + std::string(bad) + "\"");
    }
}

// A chunk measuring its own frames would be filtered unlike the whole run.
TEST(StrengthOption, FramesNeedSettingsFixedForTheWholeClip) {
    Options o;
    std::string error;
    EXPECT_FALSE(q5cli::parseOptions({"--frames", "3:9", "a", "b"}, &o, &error));
    EXPECT_NE(error.find("--frames needs settings fixed for the whole clip"), std::string::npos) << error;
    EXPECT_FALSE(q5cli::parseOptions({"--strength", "auto", "--frames", "3:9", "a", "b"}, &o, &error));
    EXPECT_TRUE(q5cli::parseOptions({"--strength", "editor", "--frames", "3:9", "a", "b"}, &o, &error)) << error;
}

// The line a run prints, given alone, resolves to exactly the settings it ran with,
// at any depth and interlacing, the rounding correction and per-field processing
// included whichever way they differ from that stream's defaults.
TEST(RunSettingsText, ReproducesTheSettingsOnEveryKindOfStream) {
    for (const int bits : {8, 10})
        for (const char interlace : {'p', 't'})
            for (const bool rounding : {false, true})
                for (const bool field : {false, true})
                    for (const bool block : {false, true}) {
                        const q5cli::Y4mFormat f = formatOf(64, 48, bits, interlace);
                        q5cli::DenoiseSettings s = q5cli::resolveSettings(parse({"a", "b"}), descriptor(), f);
                        s.set(Slider::W2dnrL, 77);
                        s.set(Slider::Tarnel, 0);
                        s.set(CheckBox::Rounding, rounding);
                        s.set(CheckBox::Fields, field);
                        s.set(CheckBox::BlockNr, block);
                        s.set(CheckBox::Anime, !block);
                        const std::string text = q5cli::runSettingsText(s, f);
                        SCOPED_TRACE(text);
                        std::vector<std::string> args;
                        for (std::size_t pos = 0; pos < text.size();) {
                            const std::size_t end = std::min(text.find(' ', pos), text.size());
                            args.push_back(text.substr(pos, end - pos));
                            pos = end + 1;
                        }
                        args.insert(args.end(), {"a", "b"});
                        const Options o = parse(args);
                        EXPECT_FALSE(o.autoStrength);
                        const q5cli::DenoiseSettings again = q5cli::resolveSettings(o, descriptor(), f);
                        for (int i = 0; i < kCheckBoxCount; ++i) EXPECT_EQ(again.check[i], s.check[i]) << i;
                        for (const SliderSetting &slider : kSliders) {
                            const bool gatedOff = (slider.slider == Slider::BlockNr && !block) ||
                                                  (slider.slider == Slider::MosqNr) ||
                                                  (slider.slider == Slider::Rounding && !rounding);
                            if (!gatedOff) {
                                EXPECT_EQ(again.slider(slider.slider), s.slider(slider.slider)) << slider.name;
                            }
                        }
                    }
}

TEST(PastEditorRange, NamesOnlyTheSlidersPastTheEditorsMaximum) {
    q5cli::DenoiseSettings s = q5cli::DenoiseSettings::defaults();
    EXPECT_EQ(q5cli::pastEditorRange(s, descriptor()), "");
    s.set(Slider::W2dnrL, 20);
    s.set(Slider::Rounding, 32);
    EXPECT_EQ(q5cli::pastEditorRange(s, descriptor()), "");
    s.set(Slider::W2dnrL, 21);
    s.set(Slider::Tarnel, 255);
    EXPECT_EQ(q5cli::pastEditorRange(s, descriptor()), "--tarnel 255, --w2dnrl 21");
}

// ---- The choice on clips of known content -------------------------------------

constexpr int kW = 192, kH = 128, kFrames = 3;

// Pictures in 8-bit luma codes (chroma flat), clean, moving a pixel a frame.
double outlinedCartoon(int x, int y, int t) {
    const double cx = 70 + t, cy = 64;
    const double d = std::hypot(x - cx, (y - cy) * 1.3) - 34;
    if (std::abs(d) < 1.2) return 30;                            // the outline, 2 pixels of ink
    if (d < 0) return x < cx ? 170 : 130;                        // two-tone shading
    if (std::abs(y - 100 - 0.2 * x) < 1.0) return 30;            // a hill's outline
    return y > 100 + 0.2 * x ? 110 : 180;
}
double photoTexture(int x, int y, int t) {
    const double u = x + t;
    return 120 + 25 * std::sin(u * 0.71 + 1.3 * std::sin(y * 0.23)) * std::cos(y * 0.53 + 0.4 * std::sin(u * 0.11)) +
           12 * std::sin((u + 2 * y) * 0.37) + 6 * std::sin(u * 1.9 - y * 1.3);
}
double gradient(int x, int y, int t) { return 60 + 0.6 * (x + t) + 0.5 * y + 10 * std::sin((x + y) * 0.03); }

struct TestClip {
    q5cli::Y4mFormat format = formatOf(kW, kH);
    std::vector<q5cli::Y4mFrame> noisy;
    std::vector<std::vector<PIXEL_YC>> clean, noisyYc;
};

TestClip makeClip(const std::function<double(int, int, int)> &picture, double sigma, std::uint32_t seed) {
    TestClip c;
    q5cli::Grain grain(seed);
    const q5cli::FrameConverter converter(c.format);
    for (int t = 0; t < kFrames; ++t) {
        q5cli::Y4mFrame clean, noisy;
        clean.data.assign(c.format.frameBytes(), 128);
        noisy.data = clean.data;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const double v = picture(x, y, t);
                clean.data[y * kW + x] = static_cast<std::uint8_t>(std::lround(v));
                noisy.data[y * kW + x] = static_cast<std::uint8_t>(std::lround(std::clamp(v + sigma * grain.next(), 1.0, 254.0)));
            }
        for (auto [from, to] : {std::pair{&clean, &c.clean}, std::pair{&noisy, &c.noisyYc}}) {
            to->emplace_back(static_cast<std::size_t>(kW) * kH);
            converter.toYc48(from->data.data(), "", to->back().data(), kW);
        }
        c.noisy.push_back(std::move(noisy));
    }
    return c;
}

struct Chooser {
    std::unique_ptr<q5cli::TrialFilter> trial;
    Chooser() {
        std::string error;
        trial = q5cli::TrialFilter::open(q5host::defaultModulePath(), 2, &error);
        EXPECT_TRUE(trial) << error;
    }
    // PSNR-Y in dB of the filter's output with `s` against the clean clip.
    double psnr(const TestClip &c, const q5cli::DenoiseSettings &s) {
        q5cli::TrialClip clip{kW, kH, c.noisyYc};
        std::vector<std::int16_t> luma;
        EXPECT_TRUE(trial->run(s, clip, &luma));
        double e = 0;
        for (int f = 0; f < kFrames; ++f)
            for (int i = 0; i < kW * kH; ++i) e += std::pow(luma[f * kW * kH + i] - c.clean[f][i].y, 2);
        // YC48 luma spans 4096 where 8-bit codes span 219.
        return 10 * std::log10(std::pow(4096.0 * 255 / 219, 2) / (e / (kFrames * kW * kH)));
    }
    q5cli::AutoStrength choose(const TestClip &c, const std::vector<std::string> &args) {
        const Options o = parse(args);
        std::vector<const q5cli::Y4mFrame *> frames;
        for (const auto &f : c.noisy) frames.push_back(&f);
        return q5cli::autoStrength(frames, o, c.format, q5cli::resolveSettings(o, descriptor(), c.format), *trial);
    }
};

q5cli::DenoiseSettings fixedSetting(int spatial, int block) {
    q5cli::DenoiseSettings s = q5cli::DenoiseSettings::defaults();
    s.set(CheckBox::Fields, false);
    s.set(CheckBox::Rounding, false);
    s.set(Slider::Tarnel, spatial / 3);
    s.set(Slider::W2dnrL, spatial);
    s.set(Slider::W2dnrH, spatial);
    s.set(CheckBox::BlockNr, block > 0);
    s.set(Slider::BlockNr, block);
    return s;
}

// Whatever the content, the choice comes within half a dB of the best of a grid of
// fixed settings (wavelet strength 0 to 160 with the temporal at a third, the block
// pass off or on), and never leaves the clip worse than it came.
TEST(AutoStrength, ComesCloseToTheBestFixedSettingOnCartoonPhotoAndGradient) {
    Chooser chooser;
    const std::pair<const char *, double (*)(int, int, int)> contents[] = {
        {"outlined cartoon", outlinedCartoon}, {"photo-like texture", photoTexture}, {"gradient", gradient}};
    for (const auto &[name, picture] : contents)
        for (const double sigma : {1.0, 3.0}) {
            SCOPED_TRACE(testing::Message() << name << ", sigma " << sigma);
            const TestClip clip = makeClip(picture, sigma, 40 + static_cast<std::uint32_t>(sigma));
            const q5cli::AutoStrength chosen = chooser.choose(clip, {"a", "b"});
            ASSERT_TRUE(chosen.searched);
            EXPECT_NEAR(chosen.estimate.sigma, sigma, 0.2 * sigma);
            double best = 0;
            for (const int spatial : {0, 10, 20, 40, 60, 100, 160})
                for (const int block : {0, 15, 40}) best = std::max(best, chooser.psnr(clip, fixedSetting(spatial, block)));
            const double got = chooser.psnr(clip, chosen.settings), noisy = chooser.psnr(clip, fixedSetting(0, 0));
            EXPECT_GT(got, best - 0.5) << q5cli::runSettingsText(chosen.settings, clip.format);
            EXPECT_GT(got, noisy - 0.1);
        }
}

// Options given by hand keep their values whatever the search finds; the rest is chosen.
TEST(AutoStrength, KeepsEverySettingGivenByHand) {
    Chooser chooser;
    const TestClip clip = makeClip(outlinedCartoon, 2.0, 7);
    const q5cli::AutoStrength free = chooser.choose(clip, {"a", "b"});
    const q5cli::AutoStrength pinned =
        chooser.choose(clip, {"--w2dnrl", "7", "--tarnel", "0", "--rounding", "--no-block", "a", "b"});
    EXPECT_EQ(pinned.settings.slider(Slider::W2dnrL), 7);
    EXPECT_EQ(pinned.settings.slider(Slider::Tarnel), 0);
    EXPECT_TRUE(pinned.settings.on(CheckBox::Rounding));
    EXPECT_FALSE(pinned.settings.on(CheckBox::BlockNr));
    EXPECT_GT(free.settings.slider(Slider::W2dnrL), 20);
    EXPECT_FALSE(free.settings.on(CheckBox::Rounding));
}

// Frames too small to measure fall back to the editor's settings, and say so.
TEST(AutoStrength, FallsBackToTheEditorsSettingsWhenNothingCanBeMeasured) {
    Chooser chooser;
    const q5cli::Y4mFormat f = formatOf(18, 18);
    q5cli::Y4mFrame frame;
    frame.data.assign(f.frameBytes(), 100);
    q5cli::Grain grain(1);
    for (int i = 0; i < 18 * 18; ++i) frame.data[i] = static_cast<std::uint8_t>(std::lround(100 + 20 * grain.next()));
    const Options o = parse({"a", "b"});
    const q5cli::DenoiseSettings editor = q5cli::resolveSettings(o, descriptor(), f);
    const q5cli::AutoStrength chosen = q5cli::autoStrength({&frame, &frame, &frame}, o, f, editor, *chooser.trial);
    EXPECT_FALSE(chosen.searched);
    EXPECT_EQ(chosen.trials, 0);
    EXPECT_EQ(q5cli::runSettingsText(chosen.settings, f), q5cli::runSettingsText(editor, f));
    EXPECT_EQ(q5cli::autoStrengthText(chosen, f).rfind("could not measure the noise: the frames are smaller than 20 "
                                                        "pixels across; the editor's factory settings (3 frames): ",
                                                        0),
              0u)
        << q5cli::autoStrengthText(chosen, f);
}

}  // namespace
