// The demo: a built-in clip with noise of known strength, denoised, with files
// to look at and the PSNR before and after.
#pragma once

#include <cstdint>
#include <vector>

#include "cli/options.h"
#include "cli/y4m.h"

namespace q5cli {

constexpr int kDemoWidth = 512, kDemoHeight = 288, kDemoFrames = 30;
/// Ten-bit samples: the filter's gentle corrections are finer than an 8-bit code, and
/// the editor's conversion back to 8 bits would round most of them away.
constexpr int kDemoBits = 10;
constexpr double kDemoLumaSigma = 4.0, kDemoChromaSigma = 4.0;  // in 10-bit codes
/// Sliders the demo sets unless they are given: the strongest wavelet reduction, for
/// noise the plug-in's defaults would mostly leave alone. The rounding correction,
/// which re-quantises to steps of about 3.4 ten-bit codes, is off unless asked for.
constexpr struct {
    int index, value;
} kDemoSliders[] = {{0, 20}, {1, 20}, {2, 20}};

struct DemoClip {
    Y4mFormat format;
    std::vector<std::vector<std::uint8_t>> clean, noisy;  // y4m frame bytes
};

/// The same clip on every machine: integer drawing, and Gaussian noise from a fixed
/// integer generator (sums of twelve uniform draws).
DemoClip makeDemoClip(int frames = kDemoFrames);

/// `quorvane5 demo [DIR]`: the exit status.
int runDemo(const Options &options);

}  // namespace q5cli
