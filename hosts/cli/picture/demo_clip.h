// The demo's built-in clip: cel-style animation (flat colours, dark anti-aliased
// outlines, smooth gradients) drawn in 10-bit codes, the same with faint film grain,
// and the grainy clip again after a block codec's 8 x 8 DCT quantisation.
#pragma once

#include <cstdint>
#include <vector>

#include "cli/io/y4m.h"

namespace q5cli {

constexpr int kDemoWidth = 512, kDemoHeight = 288, kDemoFrames = 16;
/// Ten-bit samples: the filter's corrections are finer than an 8-bit code, and a
/// clip of 8-bit codes would round most of them away again.
constexpr int kDemoBits = 10;
/// Grain in 8-bit code steps, the faint grain the filter is made for.
constexpr double kDemoGrainSigma = 0.75;
/// Scale of the JPEG quantisation tables for the blocky clip.
constexpr double kDemoBlockQuality = 2.0;

struct DemoClip {
    Y4mFormat format;  // 4:2:0, kDemoBits
    // y4m frame bytes: the drawing, with grain, and with grain through the block codec
    std::vector<std::vector<std::uint8_t>> clean, grainy, blocky;
};

/// Near-Gaussian numbers of unit variance, the same on every machine: sums of twelve
/// uniform draws of a xorshift32 generator.
class Grain {
public:
    explicit Grain(std::uint32_t seed = 0x2545F491u) : state_(seed) {}
    double next();

private:
    std::uint32_t state_;
};

/// The same clip on every machine: the drawing and the codec use plain double
/// arithmetic rounded once per sample, the grain a fixed integer generator.
DemoClip makeDemoClip(int frames = kDemoFrames);

/// Samples of a y4m frame of `format` as numbers, and back (rounded and clamped).
std::vector<double> frameSamples(const Y4mFormat &format, const std::uint8_t *frame);
std::vector<std::uint8_t> samplesToFrame(const Y4mFormat &format, const std::vector<double> &samples);

/// A clip of another depth with the same pictures: every sample rescaled and rounded.
std::vector<std::uint8_t> requantise(const Y4mFormat &from, const std::uint8_t *frame,
                                     const Y4mFormat &to);

}  // namespace q5cli
