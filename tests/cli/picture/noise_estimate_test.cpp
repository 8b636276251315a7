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

// Frames of flat grey with grain of `sigma`, black clean bars of `bar` rows above and
// below, and `spread` grain (through [1 2 1] / 4 each way) instead of white if asked.
std::vector<std::uint8_t> barred(const Y4mFormat &f, double sigma, int bar, bool spread, std::uint32_t seed) {
    q5cli::Grain grain(seed);
    std::vector<double> n(static_cast<std::size_t>(f.width) * f.height);
    for (double &v : n) v = grain.next();
    if (spread) {
        std::vector<double> m = n;
        const auto at = [&](int x, int y) { return m[std::clamp(y, 0, f.height - 1) * f.width + std::clamp(x, 0, f.width - 1)]; };
        for (int y = 0; y < f.height; ++y)
            for (int x = 0; x < f.width; ++x)
                n[y * f.width + x] = (at(x - 1, y) + 2 * at(x, y) + at(x + 1, y)) / 4;
        m = n;
        for (int y = 0; y < f.height; ++y)
            for (int x = 0; x < f.width; ++x)
                n[y * f.width + x] = (at(x, y - 1) + 2 * at(x, y) + at(x, y + 1)) / 4 / (6.0 / 16);
    }
    std::vector<std::uint8_t> bytes(f.frameBytes(), 128);
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x) {
            const double v = y < bar || y >= f.height - bar ? 16 : 120 + sigma * n[y * f.width + x];
            bytes[static_cast<std::size_t>(y) * f.width + x] = static_cast<std::uint8_t>(std::lround(std::clamp(v, 1.0, 254.0)));
        }
    return bytes;
}

// Clean bars take most of the blocks of a letterboxed frame; they hold no noise and
// must not pull the estimate to nothing.
TEST(NoiseMeter, LooksThroughCleanLetterboxBars) {
    const Y4mFormat f = formatOf(320, 256, 8);
    for (const int bar : {0, 48, 80}) {
        q5cli::NoiseMeter meter(f);
        for (std::uint32_t n = 0; n < 3; ++n) meter.add(barred(f, 1.0, bar, false, 11 + n).data());
        const q5cli::NoiseEstimate e = meter.estimate();
        ASSERT_TRUE(e.measured) << e.why;
        EXPECT_NEAR(e.sigma, 1.0, 0.15) << "bars of " << bar << " rows";
    }
}

// Grain spread over two pixels barely moves a second difference: the meter must see
// its full deviation and say it is spread; white grain must read as white.
TEST(NoiseMeter, MeasuresGrainSpreadOverNeighboursAndItsSpread) {
    const Y4mFormat f = formatOf(320, 192, 8);
    for (const bool spread : {false, true})
        for (const double sigma : {1.0, 2.0, 4.0}) {
            q5cli::NoiseMeter meter(f);
            for (std::uint32_t n = 0; n < 3; ++n) meter.add(barred(f, sigma, 0, spread, 5 + n).data());
            const q5cli::NoiseEstimate e = meter.estimate();
            SCOPED_TRACE(testing::Message() << "sigma " << sigma << (spread ? " spread" : " white"));
            EXPECT_NEAR(e.sigma, sigma, 0.15 * sigma);
            EXPECT_NEAR(e.spread, spread ? 0.5 : 0.0, 0.1);
        }
}

// Words above a deep clip's maximum are read as the maximum, as the rest of the command
// reads them: a scatter of 0xFFFF words must not read as texture or noise.
TEST(NoiseMeter, ReadsSamplesAboveTheDepthsMaximumAsTheMaximum) {
    const Y4mFormat f = formatOf(320, 192, 10);
    q5cli::NoiseMeter clean(f), spiked(f);
    q5cli::Grain grain(3);
    std::vector<std::uint8_t> bytes(f.frameBytes(), 0);
    for (int n = 0; n < 3; ++n) {
        for (std::size_t i = 0; i < static_cast<std::size_t>(f.width) * f.height; ++i) {
            const int code = static_cast<int>(std::lround(1016 + 4 * grain.next()));  // near the top
            bytes[2 * i] = code & 0xFF;
            bytes[2 * i + 1] = static_cast<std::uint8_t>(code >> 8);
        }
        clean.add(bytes.data());
        for (std::size_t i = 0; i < static_cast<std::size_t>(f.width) * f.height; i += 997)
            bytes[2 * i] = bytes[2 * i + 1] = 0xFF;
        spiked.add(bytes.data());
    }
    const q5cli::NoiseEstimate a = clean.estimate(), b = spiked.estimate();
    EXPECT_NEAR(b.sigma, a.sigma, 0.05 * a.sigma);
    EXPECT_NEAR(b.texture, a.texture, 0.02);
}

// Too small, clipped flat or empty: said so, never a figure.
TEST(NoiseMeter, SaysWhenThereIsNothingToMeasure) {
    const auto estimateOf = [](const Y4mFormat &f, int frames, int value) {
        q5cli::NoiseMeter meter(f);
        q5cli::Grain grain(9);
        std::vector<std::uint8_t> bytes(f.frameBytes(), 128);
        for (int n = 0; n < frames; ++n) {
            for (int i = 0; i < f.width * f.height; ++i)
                bytes[i] = static_cast<std::uint8_t>(value < 0 ? std::lround(128 + 20 * grain.next()) : value);
            meter.add(bytes.data());
        }
        return meter.estimate();
    };
    const q5cli::NoiseEstimate tiny = estimateOf(formatOf(18, 18, 8), 3, -1), empty = estimateOf(formatOf(64, 64, 8), 0, -1),
                               clipped = estimateOf(formatOf(128, 128, 8), 3, 255),
                               flat = estimateOf(formatOf(128, 128, 8), 3, 90);
    for (const q5cli::NoiseEstimate *e : {&tiny, &empty, &clipped, &flat}) {
        EXPECT_FALSE(e->measured);
        EXPECT_FALSE(e->why.empty());
    }
    EXPECT_EQ(tiny.why, "the frames are smaller than 20 pixels across");
    EXPECT_EQ(empty.why, "the clip has no frames");
}

}  // namespace
