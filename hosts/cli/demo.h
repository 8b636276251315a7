// The demo: a built-in clip with noise of known strength, denoised, with files
// to look at and the PSNR before and after.
#pragma once

#include <cstdint>
#include <vector>

#include "cli/options.h"
#include "cli/y4m.h"

namespace q5cli {

constexpr int kDemoWidth = 512, kDemoHeight = 288, kDemoFrames = 30;
constexpr double kDemoLumaSigma = 2.5, kDemoChromaSigma = 2.0;  // in 8-bit codes

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
