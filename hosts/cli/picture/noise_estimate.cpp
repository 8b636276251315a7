// The noise meter. For white noise of deviation s the kernel
//    1 -2  1
//   -2  4 -2
//    1 -2  1
// gives a response of variance 36 s^2, and nothing for any picture that is locally a
// plane or a bend along one axis. The mean squared response of a block over 36 is
// then its noise variance plus whatever fine detail it holds; a low quantile of those
// block values, scaled by how far that quantile of pure noise falls below its mean,
// is the noise variance of the quiet parts of the picture.
#include "cli/picture/noise_estimate.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace q5cli {

namespace {

// The quantile of block values taken as the noise, and the ratio of the mean to that
// quantile for blocks of pure white noise (measured on synthetic noise: the 196
// responses of a block are not independent, so it is wider than a chi-square of 196).
constexpr double kQuantile = 0.10;
constexpr double kQuantileToMean = 1.25;

// A block counts as textured when its value exceeds the noise variance this much:
// pure noise blocks almost never do.
constexpr double kTextureRatio = 3.0;

}  // namespace

NoiseMeter::NoiseMeter(const Y4mFormat &format) : format_(format) {}

void NoiseMeter::add(const std::uint8_t *frame) {
    const int w = format_.width, h = format_.height;
    const bool wide = format_.bits > 8;
    const int top = format_.maxCode();
    const auto at = [&](int x, int y) -> int {
        const std::size_t i = static_cast<std::size_t>(y) * w + x;
        return wide ? frame[2 * i] | frame[2 * i + 1] << 8 : frame[i];
    };
    const double unit = std::ldexp(1.0, 8 - format_.bits);  // one sample step in 8-bit codes
    const double scale = unit * unit / 36.0;
    // Blocks inside the frame, one pixel in from each edge so the kernel stays inside.
    for (int by = 1; by + kBlock <= h - 1; by += kBlock)
        for (int bx = 1; bx + kBlock <= w - 1; bx += kBlock) {
            double energy = 0;
            bool clipped = false;
            for (int y = by; y < by + kBlock; ++y)
                for (int x = bx; x < bx + kBlock; ++x) {
                    const int c = at(x, y);
                    if (c == 0 || c == top) clipped = true;
                    const int r = at(x - 1, y - 1) + at(x + 1, y - 1) + at(x - 1, y + 1) + at(x + 1, y + 1) -
                                  2 * (at(x, y - 1) + at(x - 1, y) + at(x + 1, y) + at(x, y + 1)) + 4 * c;
                    energy += static_cast<double>(r) * r;
                }
            if (!clipped) blockVariance_.push_back(static_cast<float>(energy * scale / (kBlock * kBlock)));
        }
    ++frames_;
}

bool sceneCut(const Y4mFormat &format, const std::uint8_t *before, const std::uint8_t *at) {
    constexpr int kBins = 32;
    const int shift = format.bits - 5;  // codes to bins
    const bool wide = format.bits > 8;
    long counts[2][kBins] = {};
    long total = 0;
    const std::uint8_t *frames[2] = {before, at};
    // Every other pixel of every other row is plenty for a histogram.
    for (int y = 0; y < format.height; y += 2)
        for (int x = 0; x < format.width; x += 2, ++total) {
            const std::size_t i = static_cast<std::size_t>(y) * format.width + x;
            for (int f = 0; f < 2; ++f) {
                const int code = wide ? frames[f][2 * i] | frames[f][2 * i + 1] << 8 : frames[f][i];
                ++counts[f][std::min(code >> shift, kBins - 1)];
            }
        }
    long moved = 0;
    for (int b = 0; b < kBins; ++b) moved += std::abs(counts[0][b] - counts[1][b]);
    return total > 0 && moved > 2 * total / 3;  // |a - b| counts what moved twice
}

NoiseEstimate NoiseMeter::estimate() const {
    NoiseEstimate e;
    e.frames = frames_;
    if (blockVariance_.empty()) return e;
    std::vector<float> v = blockVariance_;
    const std::size_t k = static_cast<std::size_t>(kQuantile * static_cast<double>(v.size() - 1));
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
    const double measured = v[k] * kQuantileToMean;
    // The samples' own rounding adds a step^2 / 12 of its own.
    const double step = std::ldexp(1.0, 8 - format_.bits);
    e.sigma = std::sqrt(std::max(0.0, measured - step * step / 12));
    const double textured = std::max(measured, step * step / 12) * kTextureRatio;
    const auto busy = std::count_if(blockVariance_.begin(), blockVariance_.end(),
                                    [&](float b) { return b > textured; });
    e.texture = static_cast<double>(busy) / static_cast<double>(blockVariance_.size());
    return e;
}

}  // namespace q5cli
