// The noise meter on synthetic clips of known grain: flat drawings, textured ones,
// 8 and 10 bits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "cli/picture/demo_clip.h"
#include "cli/picture/noise_estimate.h"

namespace {

using q5cli::Y4mFormat;

Y4mFormat formatOf(int width, int height, int bits) {
    Y4mFormat f;
    f.width = width;
    f.height = height;
    f.bits = bits;
    return f;
}

// A drawing in 8-bit code values: flat cels with hard edges and a smooth sky, or, for
// `textured`, the same with a fine pattern of 12 codes over the lower half (the
// share of the picture held by detail stays under two thirds).
double drawing(int x, int y, int w, int h, bool textured) {
    double v = 60 + 100.0 * y / h;  // the sky: a ramp
    if ((x - w / 2) * (x - w / 2) + (y - h / 3) * (y - h / 3) < h * h / 16) v = 200;  // a disc
    if (y > h / 2) {
        v = x < w / 3 ? 90 : 140;  // ground: two cels
        if (textured)
            v += 6 * std::sin(x * 1.3 + 0.7 * y) + 6 * std::sin(y * 1.9 - 0.4 * x) +
                 4 * std::sin((x + y) * 2.7);
    }
    return v;
}

// Frames of the drawing with white noise of `sigma` 8-bit code steps, rounded to the depth.
q5cli::NoiseEstimate measure(const Y4mFormat &f, double sigma, bool textured, int frames = 2) {
    q5cli::NoiseMeter meter(f);
    q5cli::Grain grain(0x1234567u + static_cast<std::uint32_t>(sigma * 1000));
    const double unit = std::ldexp(1.0, f.bits - 8);
    std::vector<std::uint8_t> bytes(f.frameBytes());
    for (int n = 0; n < frames; ++n) {
        for (int y = 0; y < f.height; ++y)
            for (int x = 0; x < f.width; ++x) {
                const double v = (drawing(x, y, f.width, f.height, textured) + sigma * grain.next()) * unit;
                const int code = std::clamp(static_cast<int>(std::floor(v + 0.5)), 0, f.maxCode());
                const std::size_t i = static_cast<std::size_t>(y) * f.width + x;
                if (f.bits > 8) {
                    bytes[2 * i] = static_cast<std::uint8_t>(code & 0xFF);
                    bytes[2 * i + 1] = static_cast<std::uint8_t>(code >> 8);
                } else {
                    bytes[i] = static_cast<std::uint8_t>(code);
                }
            }
        meter.add(bytes.data());
    }
    return meter.estimate();
}

TEST(NoiseMeter, FindsTheGrainOnFlatAndTexturedDrawingsAt8And10Bits) {
    for (const int bits : {8, 10})
        for (const bool textured : {false, true})
            for (const double sigma : {0.5, 1.0, 2.0, 4.0, 8.0}) {
                const q5cli::NoiseEstimate e = measure(formatOf(320, 192, bits), sigma, textured);
                EXPECT_NEAR(e.sigma, sigma, 0.15 * sigma) << bits << "-bit, textured " << textured;
            }
}

// A frame of the drawing shifted by `dx` pixels, or of another picture altogether.
std::vector<std::uint8_t> drawn(const Y4mFormat &f, int dx, bool other) {
    std::vector<std::uint8_t> bytes(f.frameBytes(), 128);
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x) {
            const double v = other ? 230 - 0.5 * y + 20 * std::sin(x * 0.05) : drawing(x + dx, y, f.width, f.height, true);
            bytes[static_cast<std::size_t>(y) * f.width + x] = static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
        }
    return bytes;
}

TEST(SceneCut, FindsACutToOtherContentButNotAPan) {
    const Y4mFormat f = formatOf(320, 192, 8);
    const auto a = drawn(f, 0, false), panned = drawn(f, 12, false), other = drawn(f, 0, true);
    EXPECT_FALSE(q5cli::sceneCut(f, a.data(), a.data()));
    EXPECT_FALSE(q5cli::sceneCut(f, a.data(), panned.data()));
    EXPECT_TRUE(q5cli::sceneCut(f, a.data(), other.data()));
    EXPECT_TRUE(q5cli::sceneCut(f, other.data(), a.data()));
}

}  // namespace
