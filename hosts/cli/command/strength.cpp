// The command's range for the strength sliders and how a run names values past the
// editor's.
#include "cli/command/strength.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace q5cli {

bool extendsPastEditor(Slider s) { return s != Slider::Rounding; }

int commandMaximum(Slider s, int editorMaximum) {
    return extendsPastEditor(s) ? std::max(editorMaximum, kCommandStrengthMaximum) : editorMaximum;
}

std::string pastEditorRange(const DenoiseSettings &settings, const FILTER &descriptor) {
    std::string text;
    for (const SliderSetting &s : kSliders) {
        const int value = settings.slider(s.slider);
        if (value <= descriptor.track_e[indexOf(s.slider)]) continue;
        text += (text.empty() ? "--" : ", --") + std::string(s.name) + " " + std::to_string(value);
    }
    return text;
}



namespace {

// W2DNRL per code step of noise on flat drawings and on textured pictures, and the
// shares of textured blocks that mark the two (between them the strength slides).
constexpr double kFlatPerStep = 45, kTexturedPerStep = 10;
constexpr double kFlatShare = 0.05, kTexturedShare = 0.25;
// Above this share of textured blocks the block pass stays off.
constexpr double kBlockShare = 0.15;
// Noise below this many code steps is left to the rounding of the samples: a clean
// picture's own fine detail measures as about this much.
constexpr double kNoiseFloor = 0.2;

int roundedClamped(double v, int most) { return std::clamp(static_cast<int>(std::lround(v)), 0, most); }

}  // namespace

DenoiseSettings chooseStrength(const NoiseEstimate &e, const Options &options, const Y4mFormat &format,
                               DenoiseSettings settings) {
    (void)format;
    const auto choose = [&](Slider s, double v) {
        if (!options.choice(s).given) settings.set(s, roundedClamped(v, kCommandStrengthMaximum));
    };
    const auto chooseBox = [&](CheckBox c, bool on) {
        if (!options.choice(c).given) settings.set(c, on);
    };
    // Flat drawings take coring far above the noise (about 45 steps of W2DNRL per code
    // step of noise). Where fine texture covers a fifth of the picture or more, it is
    // mostly indistinguishable from grain (a photograph's own grain reads as noise),
    // and the picture loses more than the grain gives: there the hand is light.
    const double flat = std::clamp((kTexturedShare - e.texture) / (kTexturedShare - kFlatShare), 0.0, 1.0);
    const double perStep = kTexturedPerStep + (kFlatPerStep - kTexturedPerStep) * flat;
    const double spatial = std::max(0.0, e.sigma - kNoiseFloor) * perStep;
    choose(Slider::W2dnrL, spatial);
    choose(Slider::W2dnrH, spatial);  // the same threshold at every level
    const double noise = std::max(0.0, e.sigma - kNoiseFloor);
    choose(Slider::Tarnel, std::min(10 * noise * (0.3 + 0.7 * flat), 40.0));
    // The block pass evens out the clumps that strong grain leaves on flat drawings;
    // on texture, and under faint grain, it smooths detail.
    const bool block = e.texture < kBlockShare && e.sigma >= 0.75;
    chooseBox(CheckBox::BlockNr, block);
    if (block) choose(Slider::BlockNr, std::clamp(15 * e.sigma, 5.0, 60.0));
    // The dither of the rounding correction adds noise of its own.
    chooseBox(CheckBox::Rounding, false);
    return settings;
}

AutoStrength autoStrength(const std::vector<const Y4mFrame *> &frames, const Options &options,
                          const Y4mFormat &format, const DenoiseSettings &settings, int firstFrame) {
    const auto start = std::chrono::steady_clock::now();
    NoiseMeter meter(format);
    for (const Y4mFrame *frame : frames) meter.add(frame->data.data());
    AutoStrength chosen;
    chosen.firstFrame = firstFrame;
    chosen.estimate = meter.estimate();
    chosen.settings = chooseStrength(chosen.estimate, options, format, settings);
    chosen.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return chosen;
}

std::string autoStrengthText(const AutoStrength &chosen, bool withTime) {
    const NoiseEstimate &e = chosen.estimate;
    char text[160];
    std::snprintf(text, sizeof text, "noise %.2f code steps, texture %.0f%% (%d %s", e.sigma, 100 * e.texture, e.frames,
                  e.frames == 1 ? "frame" : "frames");
    std::string out = text;
    if (chosen.firstFrame > 0) out += " from frame " + std::to_string(chosen.firstFrame);
    if (withTime) {
        std::snprintf(text, sizeof text, ", measured in %.1f ms", 1000 * chosen.seconds);
        out += text;
    }
    return out + "): " + settingsText(chosen.settings);
}

}  // namespace q5cli
