// The demo: a built-in clip with noise of known strength, denoised, with files
// to look at and the PSNR before and after.
#pragma once

#include <cstdint>
#include <vector>

#include "cli/options.h"
#include "cli/y4m.h"

namespace q5cli {

constexpr int kDemoWidth = 512, kDemoHeight = 288, kDemoFrames = 30;
constexpr double kDemoLumaSigma = 1.0, kDemoChromaSigma = 1.0;  // in 8-bit codes
/// Sliders the demo sets unless they are given: the strongest wavelet reduction, for
/// noise the plug-in's defaults would mostly leave alone.
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
