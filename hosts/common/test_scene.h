// The one generated clip the tests, the benchmarks and the Windows host's speed
// command play: a smooth scene (a sine grating drifting two pixels a frame over a
// still checker of 24-pixel squares, chroma in slow waves) with small noise from a
// fixed linear congruential generator, so that the clip depends on no library's
// random distributions and coring, the flat mask and the temporal fit all have work
// to do. The golden hashes are of this clip: it must not change.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "abi/host_api.h"

namespace q5scene {

namespace detail {

constexpr std::uint32_t kMultiplier = 1664525u, kIncrement = 1013904223u, kSeed = 12345u;

// The generator's state `steps` steps after `state`: the step x -> a x + c composed
// with itself by squaring, so that any frame can be made without the ones before.
inline std::uint32_t advance(std::uint32_t state, std::uint64_t steps) {
    std::uint32_t a = kMultiplier, c = kIncrement;  // the map of 2^i steps
    while (steps) {
        if (steps & 1) state = a * state + c;
        c = a * c + c;
        a = a * a;
        steps >>= 1;
    }
    return state;
}

}  // namespace detail

/// Frame n of the scene at w x h into image (pitch pixels from one row to the
/// next). The noise runs on through the frames, three draws a pixel (luma, Cb, Cr)
/// in row order; frame n starts where frame n - 1 ended, found without making it.
inline void fillFrame(int n, int w, int h, PIXEL_YC *image, long pitch) {
    std::uint32_t state = detail::advance(detail::kSeed, 3ull * static_cast<std::uint64_t>(w) * h * n);
    auto noise = [&state](int amplitude) {
        state = state * detail::kMultiplier + detail::kIncrement;
        return static_cast<int>((state >> 16) % (2 * amplitude + 1)) - amplitude;
    };
    // The grating's factor of each column, the same doubles as written out per pixel.
    std::vector<double> grating(static_cast<std::size_t>(w));
    for (int x = 0; x < w; ++x) grating[x] = 900 * std::sin((x + 2.0 * n) * 0.05);
    for (int y = 0; y < h; ++y) {
        const double rowWave = std::cos(y * 0.04);
        PIXEL_YC *row = image + static_cast<long>(y) * pitch;
        for (int x = 0; x < w; ++x) {
            const double u = x + 2 * n;
            const int luma = 2048 + static_cast<int>(grating[x] * rowWave) + ((x / 24 + y / 24) % 2 ? 300 : -300);
            row[x] = {static_cast<std::int16_t>(luma + noise(12)),
                      static_cast<std::int16_t>(static_cast<int>(300 * std::sin(u * 0.02 + y * 0.01)) + noise(6)),
                      static_cast<std::int16_t>(static_cast<int>(-200 * std::cos(u * 0.015 - y * 0.02)) + noise(6))};
        }
    }
}

}  // namespace q5scene
