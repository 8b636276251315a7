// How much noise a clip carries, how it is spread over neighbouring pixels, and how
// much texture lies under it, measured on the luma of a few frames: the basis of
// --strength auto.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/io/y4m.h"

namespace q5cli {

struct NoiseEstimate {
    /// Standard deviation of the luma noise, in 8-bit code steps at any depth (the
    /// rounding of the samples themselves taken out).
    double sigma = 0;
    /// How the noise is spread: it reads as white noise passed through [c 1 c] along
    /// both axes (normalised), c from 0 (white, each pixel's own) to 0.5 (grain about
    /// two pixels wide: upscaled, or smoothed by a camera or an earlier encode).
    double spread = 0;
    /// The deviation read as if the noise were white (spread 0): what the grain is
    /// when the spread was texture taken for grain.
    double whiteSigma = 0;
    /// The share of the picture, 0..1, whose fine detail stands well above that noise:
    /// texture, edges and lines.
    double texture = 0;
    int frames = 0;  // frames measured
    /// False when the frames held too little to measure (too small, clipped flat or
    /// without any frame); `why` then says so and the other figures mean nothing.
    bool measured = false;
    std::string why;
};

/// Noise is measured on 16 x 16 blocks of luma through a 3 x 3 second-difference
/// kernel (blind to flat areas, ramps and bends that span a few pixels, so that the
/// response of a flat or smooth block is its noise), and through the same kernel
/// spread over every other pixel, which sees grain that is smooth from one pixel to
/// the next. The quietest blocks give the noise level. Blocks touching the lowest or
/// highest code are left out, since clipping hides noise there, and so are blocks
/// with no response at all (clean bars, a still title): noise is never exactly nothing.
/// From one frame to the next the noise is new while the picture mostly moves: the
/// difference of the quietest blocks, matched over small shifts, bounds the noise
/// from above, where fine texture everywhere would pass for noise to a kernel.
class NoiseMeter {
public:
    explicit NoiseMeter(const Y4mFormat &format);

    /// One y4m frame of the meter's format. Samples above the depth's maximum are
    /// read as the maximum, as the rest of the command reads them.
    void add(const std::uint8_t *frame);
    NoiseEstimate estimate() const;

    static constexpr int kBlock = 16;
    /// Fewer quiet blocks than this over the frames measured are too few to tell
    /// noise from picture.
    static constexpr int kMinBlocks = 16;
    /// Frame-to-frame differences are matched over shifts up to this many pixels.
    static constexpr int kShift = 2;

private:
    void addStep(const std::vector<int> &luma, int bx, int by, const bool *heard, int counted, double unit2);
    Y4mFormat format_;
    // Per block measured: each kernel's response energy (near, spread over two pixels).
    std::vector<float> nearEnergy_, wideEnergy_;
    // Per block of each frame after the first: the least mean squared difference to
    // the frame before over small shifts (twice the noise's whole variance where the
    // picture holds still or is flat, whatever the grain's spread).
    std::vector<float> stepEnergy_;
    std::vector<int> previous_;  // the last frame's luma
    int frames_ = 0;
    bool tooSmall_ = false;
};

/// The response of the near kernel, and of the wide one, to noise of unit variance
/// spread by [c 1 c] (normalised) along both axes: what the meter inverts.
double nearResponse(double spread);
double wideResponse(double spread);

/// Whether frame `at` begins another scene than frame `before` (y4m frames of
/// `format`): their luma histograms differ in more than a third of their mass. A
/// pan or a moving character keeps the histogram; a cut to other content does not.
bool sceneCut(const Y4mFormat &format, const std::uint8_t *before, const std::uint8_t *at);

}  // namespace q5cli
