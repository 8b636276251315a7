// How much noise a clip carries and how much texture lies under it, measured on the
// luma of a few frames: the basis of --strength auto.
#pragma once

#include <cstdint>
#include <vector>

#include "cli/io/y4m.h"

namespace q5cli {

struct NoiseEstimate {
    /// Standard deviation of white luma noise, in 8-bit code steps at any depth
    /// (the rounding of the samples themselves taken out).
    double sigma = 0;
    /// The share of the picture, 0..1, whose fine detail stands well above that noise:
    /// texture, edges and lines, which strong coring would take away with the noise.
    double texture = 0;
    int frames = 0;  // frames measured
};

/// Noise is measured on 16 x 16 blocks of luma through a 3 x 3 second-difference
/// kernel (blind to flat areas, ramps and bends that span a few pixels, so that the
/// response of a flat or smooth block is its noise). The quietest blocks give the
/// noise level; blocks touching the lowest or highest code are left out, since
/// clipping hides noise there.
class NoiseMeter {
public:
    explicit NoiseMeter(const Y4mFormat &format);

    /// One y4m frame of the meter's format.
    void add(const std::uint8_t *frame);
    NoiseEstimate estimate() const;

    static constexpr int kBlock = 16;

private:
    Y4mFormat format_;
    std::vector<float> blockVariance_;  // per block measured: the kernel's response energy
    int frames_ = 0;
};

/// Whether frame `at` begins another scene than frame `before` (y4m frames of
/// `format`): their luma histograms differ in more than a third of their mass. A
/// pan or a moving character keeps the histogram; a cut to other content does not.
bool sceneCut(const Y4mFormat &format, const std::uint8_t *before, const std::uint8_t *at);

}  // namespace q5cli
