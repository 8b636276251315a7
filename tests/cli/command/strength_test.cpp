// Strength past the editor's range and --strength auto: what a run names, and which
// wins when auto meets settings given by hand.
#include <gtest/gtest.h>

#include "cli/command/strength.h"
#include "support/support.h"

namespace {

using q5cli::NoiseEstimate;
using q5cli::Options;

const FILTER &descriptor() { return *q5test::moduleEntry()(); }

Options parse(const std::vector<std::string> &args) {
    Options o;
    std::string error;
    EXPECT_TRUE(q5cli::parseOptions(args, &o, &error)) << error;
    return o;
}

q5cli::Y4mFormat sd8() {
    q5cli::Y4mFormat f;
    f.width = 720;
    f.height = 480;
    return f;
}

q5cli::DenoiseSettings chosen(const std::vector<std::string> &args, double sigma, double texture) {
    const Options o = parse(args);
    NoiseEstimate e;
    e.sigma = sigma;
    e.texture = texture;
    e.frames = 3;
    return q5cli::chooseStrength(e, o, sd8(), q5cli::resolveSettings(o, descriptor(), sd8()));
}

TEST(StrengthOption, TakesAutoAndNothingElse) {
    EXPECT_TRUE(parse({"--strength", "auto", "a", "b"}).autoStrength);
    EXPECT_TRUE(parse({"--strength=auto", "a", "b"}).autoStrength);
    EXPECT_FALSE(parse({"a", "b"}).autoStrength);
    for (const char *bad : {"Auto", "10", ""}) {
        Options o;
        std::string error;
        EXPECT_FALSE(q5cli::parseOptions({"--strength", bad, "a", "b"}, &o, &error));
        EXPECT_EQ(error, "--strength takes \"auto\", not \"" + std::string(bad) + "\"");
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

// Auto fills in only what the command line left open: a setting given by hand wins,
// switches included.
TEST(ChooseStrength, SettingsGivenByHandWinOverAuto) {
    const q5cli::DenoiseSettings free = chosen({"--strength", "auto", "a", "b"}, 2.0, 0.05);
    const q5cli::DenoiseSettings pinned = chosen(
        {"--strength", "auto", "--w2dnrl", "7", "--tarnel", "0", "--rounding", "a", "b"}, 2.0, 0.05);
    EXPECT_EQ(pinned.slider(Slider::W2dnrL), 7);
    EXPECT_EQ(pinned.slider(Slider::Tarnel), 0);
    EXPECT_TRUE(pinned.on(CheckBox::Rounding));
    EXPECT_EQ(pinned.slider(Slider::W2dnrH), free.slider(Slider::W2dnrH));
    EXPECT_NE(free.slider(Slider::W2dnrL), 7);
    EXPECT_FALSE(free.on(CheckBox::Rounding));
}

// More noise, more strength; texture under the noise calls for less; and a clean clip
// is left alone.
TEST(ChooseStrength, FollowsTheNoiseAndHoldsBackOnTexture) {
    const auto l = [](double sigma, double texture) {
        return chosen({"--strength", "auto", "a", "b"}, sigma, texture).slider(Slider::W2dnrL);
    };
    EXPECT_LT(l(0.5, 0.05), l(1, 0.05));
    EXPECT_LT(l(1, 0.05), l(2, 0.05));
    EXPECT_LT(l(2, 0.05), l(4, 0.05));
    EXPECT_LT(l(1, 0.8), l(1, 0.05));
    EXPECT_EQ(l(0, 0), 0);
    for (const double sigma : {0.0, 0.5, 1.0, 4.0, 30.0})
        for (const double texture : {0.0, 0.5, 1.0}) {
            const q5cli::DenoiseSettings s = chosen({"--strength", "auto", "a", "b"}, sigma, texture);
            for (const SliderSetting &slider : kSliders) {
                EXPECT_GE(s.slider(slider.slider), 0);
                EXPECT_LE(s.slider(slider.slider), slider.slider == Slider::Rounding ? 32 : 255);
            }
        }
}

}  // namespace
