// The demo: the built-in cartoon clip with faint grain and with block-codec
// losses, denoised in a few setting groups, with the figures before and after and
// pictures to look at.
#pragma once

#include "abi/settings.h"
#include "cli/command/options.h"
#include "cli/picture/demo_clip.h"

namespace q5cli {

/// Sliders the demo sets unless they are given: the strongest wavelet reduction,
/// for grain of under one code step that the factory defaults mostly leave alone.
/// The rounding correction is off unless asked for (the clip is 10-bit), and the
/// pre-passes, where they run, are at full strength.
constexpr struct {
    Slider slider;
    int value;
} kDemoSliders[] = {{Slider::Tarnel, 20}, {Slider::W2dnrL, 20}, {Slider::W2dnrH, 20}, {Slider::MosqNr, 20},
                    {Slider::BlockNr, 20}};

/// The frame shown in the pictures.
constexpr int kDemoShownFrame = kDemoFrames / 2;

/// `quorvane5 demo [DIR]`: the exit status.
int runDemo(const Options &options);

}  // namespace q5cli
