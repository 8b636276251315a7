// The noise meter. For white noise of deviation s the kernel
//    1 -2  1
//   -2  4 -2
//    1 -2  1
// gives a response of variance 36 s^2, and nothing for any picture that is locally a
// plane or a bend along one axis. The mean squared response of a block over 36 is
// then its noise variance plus whatever fine detail it holds; a low quantile of those
// block values, scaled by how far that quantile of pure noise falls below its mean,
// is the noise variance of the quiet parts of the picture. Grain that is smooth from
// one pixel to the next barely moves that kernel; the same kernel over every other
// pixel still sees it, and the ratio of the two responses says how far it is spread.
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

// The least difference over shifts, at this low quantile of the blocks (a picture
// busy all over may hold still or flat in only a few), times the quantile's scale,
// reads this many times the noise's variance for pure noise (measured on synthetic
// noise: twice the variance, less what the least of 25 shifts and the quantile pull
// down). The bound is taken with some room.
constexpr double kStepQuantile = 0.02;
constexpr double kStepToVariance = 0.54;
constexpr double kStepMargin = 1.0;

// The wide kernel reaches two pixels out.
constexpr int kMargin = 2;

// Spreads below this read as white: texture moves the wide kernel a little more
// than the near one even under white noise.
constexpr double kWhiteSpread = 0.08;

// |d * k|^2 / |k|^2 along one axis, d the second difference with taps `gap` apart
// and k = [c 1 c].
double axisResponse(double c, int gap) {
    const double k[3] = {c, 1, c};
    double g[3 + 2 * 2] = {};
    const double d[3] = {1, -2, 1};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) g[i + j * gap] += d[j] * k[i];
    double energy = 0;
    for (const double v : g) energy += v * v;
    return energy / (k[0] * k[0] + k[1] * k[1] + k[2] * k[2]);
}

double quantileOf(std::vector<float> v, double quantile = kQuantile) {
    const std::size_t k = static_cast<std::size_t>(quantile * static_cast<double>(v.size() - 1));
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
    return v[k] * kQuantileToMean;
}

}  // namespace

double nearResponse(double spread) { return std::pow(axisResponse(spread, 1), 2); }
double wideResponse(double spread) { return std::pow(axisResponse(spread, 2), 2); }

NoiseMeter::NoiseMeter(const Y4mFormat &format) : format_(format) {}

void NoiseMeter::add(const std::uint8_t *frame) {
    const int w = format_.width, h = format_.height;
    const bool wide = format_.bits > 8;
    const int top = format_.maxCode();
    const auto at = [&](int x, int y) -> int {
        const std::size_t i = static_cast<std::size_t>(y) * w + x;
        return wide ? std::min(frame[2 * i] | frame[2 * i + 1] << 8, top) : frame[i];
    };
    const double unit = std::ldexp(1.0, 8 - format_.bits);  // one sample step in 8-bit codes
    const double scale = unit * unit / 36.0;
    ++frames_;
    std::vector<int> luma(static_cast<std::size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) luma[static_cast<std::size_t>(y) * w + x] = at(x, y);
    if (w < kBlock + 2 * kMargin || h < kBlock + 2 * kMargin) tooSmall_ = true;
    // Blocks inside the frame, far enough from each edge for the wide kernel.
    for (int by = kMargin; by + kBlock <= h - kMargin; by += kBlock)
        for (int bx = kMargin; bx + kBlock <= w - kMargin; bx += kBlock) {
            double nearSum = 0, wideSum = 0;
            int silent = 0;  // pixels where the near kernel sees nothing at all
            bool heard[kBlock * kBlock];
            bool clipped = false;
            for (int y = by; y < by + kBlock; ++y)
                for (int x = bx; x < bx + kBlock; ++x) {
                    const int c = at(x, y);
                    if (c == 0 || c == top) clipped = true;
                    const auto response = [&](int g) {
                        return at(x - g, y - g) + at(x + g, y - g) + at(x - g, y + g) + at(x + g, y + g) -
                               2 * (at(x, y - g) + at(x - g, y) + at(x + g, y) + at(x, y + g)) + 4 * c;
                    };
                    const double n = response(1), d = response(2);
                    nearSum += n * n;
                    wideSum += d * d;
                    silent += n == 0;
                    heard[(y - by) * kBlock + x - bx] = n != 0;
                }
            // Noise is never exactly nothing: a block mostly silent is a clean bar or
            // title, and where part of it is (a block across a bar's edge, which the
            // kernel does not see), only the rest is measured.
            constexpr int kPixels = kBlock * kBlock;
            if (clipped || silent > kPixels * 3 / 4) continue;
            const int counted = silent > kPixels / 4 ? kPixels - silent : kPixels;
            nearEnergy_.push_back(static_cast<float>(nearSum * scale / counted));
            wideEnergy_.push_back(static_cast<float>(wideSum * scale / counted));
            if (!previous_.empty()) addStep(luma, bx, by, counted == kPixels ? nullptr : heard, counted, unit * unit);
        }
    previous_ = std::move(luma);
}

// The block at (bx, by) against the frame before, over the pixels `heard` (null: all).
void NoiseMeter::addStep(const std::vector<int> &luma, int bx, int by, const bool *heard, int counted, double unit2) {
    const int w = format_.width;
    long least = -1;
    for (int sy = -kShift; sy <= kShift; ++sy)
        for (int sx = -kShift; sx <= kShift; ++sx) {
            long sum = 0;
            for (int y = 0; y < kBlock; ++y) {
                const int *now = luma.data() + static_cast<std::size_t>(by + y) * w + bx;
                const int *then = previous_.data() + static_cast<std::size_t>(by + y + sy) * w + bx + sx;
                for (int x = 0; x < kBlock; ++x)
                    if (!heard || heard[y * kBlock + x]) sum += static_cast<long>(now[x] - then[x]) * (now[x] - then[x]);
            }
            if (least < 0 || sum < least) least = sum;
        }
    stepEnergy_.push_back(static_cast<float>(static_cast<double>(least) * unit2 / counted));
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
    if (frames_ == 0) {
        e.why = "the clip has no frames";
        return e;
    }
    if (tooSmall_ && nearEnergy_.empty()) {
        e.why = "the frames are smaller than " + std::to_string(kBlock + 2 * kMargin) + " pixels across";
        return e;
    }
    if (nearEnergy_.size() < static_cast<std::size_t>(kMinBlocks)) {
        e.why = "too little of the picture is neither flat without grain nor clipped";
        return e;
    }
    e.measured = true;
    // The samples' own rounding adds a step^2 / 12 to both responses, white.
    const double step = std::ldexp(1.0, 8 - format_.bits);
    const double rounding = step * step / 12;
    const double nearMeasured = quantileOf(nearEnergy_);
    const double nearNoise = std::max(0.0, nearMeasured - rounding);
    // The spread is read where the picture is quietest to both kernels (the sum of
    // their responses at most its low quantile): there the ratio of the two is the
    // noise's, where elsewhere texture too coarse for the near kernel would pass for
    // spread grain.
    std::vector<float> sums(nearEnergy_.size());
    for (std::size_t i = 0; i < sums.size(); ++i) sums[i] = nearEnergy_[i] + wideEnergy_[i];
    std::vector<float> sorted = sums;
    const std::size_t k = static_cast<std::size_t>(kQuantile * static_cast<double>(sorted.size() - 1));
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(k), sorted.end());
    std::vector<double> ratios;
    for (std::size_t i = 0; i < sums.size(); ++i)
        if (sums[i] <= sorted[k]) {
            const double nearBlock = nearEnergy_[i] - rounding, wideBlock = wideEnergy_[i] - rounding;
            if (nearBlock > 0) ratios.push_back(std::max(0.0, wideBlock) / nearBlock);
        }
    if (!ratios.empty()) {
        std::nth_element(ratios.begin(), ratios.begin() + static_cast<std::ptrdiff_t>(ratios.size() / 2), ratios.end());
        const double ratio = ratios[ratios.size() / 2];
        // wide / near grows with the spread; find the spread whose ratio this is.
        double lo = 0, hi = 0.5;
        for (int i = 0; i < 30; ++i) {
            const double mid = (lo + hi) / 2;
            (wideResponse(mid) / nearResponse(mid) < ratio ? lo : hi) = mid;
        }
        e.spread = lo < kWhiteSpread ? 0 : lo;
    }
    e.sigma = std::sqrt(nearNoise * 36 / nearResponse(e.spread));
    e.whiteSigma = std::sqrt(nearNoise);
    // Fine texture everywhere passes for noise, spread or white, to the kernels; the
    // difference between frames cannot read more than the noise where anything holds
    // still or is flat. Above that bound, the noise is the bound, and the spread the
    // one that makes the near kernel's reading of it (white where that reads more).
    if (stepEnergy_.size() >= static_cast<std::size_t>(kMinBlocks)) {
        const double bound = std::sqrt(std::max(0.0, quantileOf(stepEnergy_, kStepQuantile) * kStepToVariance - rounding));
        if (e.sigma > kStepMargin * bound) {
            e.sigma = kStepMargin * bound;
            const double near = e.sigma > 0 ? 36 * nearNoise / (e.sigma * e.sigma) : 36;
            double lo = 0, hi = 0.5;  // nearResponse falls as the spread grows
            for (int i = 0; i < 30; ++i) {
                const double mid = (lo + hi) / 2;
                (nearResponse(mid) > near ? lo : hi) = mid;
            }
            e.spread = lo < kWhiteSpread ? 0 : lo;
            // Where even the near kernel reads more than the bound, it is reading texture.
            e.whiteSigma = std::min(e.whiteSigma, e.sigma);
        }
    }
    const double textured = std::max(nearMeasured, rounding) * kTextureRatio;
    const auto busy = std::count_if(nearEnergy_.begin(), nearEnergy_.end(), [&](float b) { return b > textured; });
    e.texture = static_cast<double>(busy) / static_cast<double>(nearEnergy_.size());
    return e;
}

}  // namespace q5cli
