// The exact bytes of whole filtered clips, as 64-bit hashes recorded from a build
// known to be right: any change to the arithmetic, the order of a sum, a split or
// a rounding shows up here, while speed work on the passes must leave them alone.
// A change that is meant to alter the output updates the hashes together with it.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "support/support.h"

namespace {

enum Check { kFieldCheck = 0, kAnimeCheck = 1, kMosquitoCheck = 2, kBlockCheck = 3, kRoundingCheck = 4 };

// A smooth moving scene with small pseudo-random noise from a fixed linear
// congruential generator, so the clip does not depend on a library's
// distributions: coring, the flat mask and the temporal fit all have work to do.
q5test::Clip noisyScene(int w, int h, int frames) {
    q5test::Clip clip;
    clip.width = w;
    clip.height = h;
    std::uint32_t state = 12345u;
    auto noise = [&state](int amplitude) {
        state = state * 1664525u + 1013904223u;
        return static_cast<int>((state >> 16) % (2 * amplitude + 1)) - amplitude;
    };
    for (int f = 0; f < frames; ++f) {
        std::vector<PIXEL_YC> frame(static_cast<std::size_t>(w) * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const double u = x + 2 * f;
                const int luma = 2048 + static_cast<int>(900 * std::sin(u * 0.05) * std::cos(y * 0.04)) +
                                 ((x / 24 + y / 24) % 2 ? 300 : -300);
                frame[static_cast<std::size_t>(y) * w + x] = {
                    static_cast<std::int16_t>(luma + noise(12)),
                    static_cast<std::int16_t>(static_cast<int>(300 * std::sin(u * 0.02 + y * 0.01)) + noise(6)),
                    static_cast<std::int16_t>(static_cast<int>(-200 * std::cos(u * 0.015 - y * 0.02)) + noise(6))};
            }
        clip.frames.push_back(std::move(frame));
    }
    return clip;
}

// FNV-1a over every sample of every output picture.
std::uint64_t hashClipOutput(int threads, const q5test::Clip &clip,
                             std::initializer_list<std::pair<int, int>> checks) {
    q5host::Host host(q5test::moduleEntry(), threads);
    host.init();
    for (auto [index, value] : checks) host.setCheck(index, value);
    host.update();
    host.setClip(clip.info(), clip.source());
    std::uint64_t hash = 14695981039346656037ull;
    for (const auto &picture : q5test::runClip(host, clip))
        for (const PIXEL_YC &p : picture)
            for (std::int16_t v : {p.y, p.cb, p.cr})
                for (int byte = 0; byte < 2; ++byte) {
                    hash ^= (static_cast<std::uint16_t>(v) >> (8 * byte)) & 0xFF;
                    hash *= 1099511628211ull;
                }
    return hash;
}

void expectHash(std::uint64_t expected, std::uint64_t actual) {
    EXPECT_EQ(expected, actual) << "got 0x" << std::hex << actual;
}

}  // namespace

TEST(GoldenOutput, DefaultSettingsKeepTheirBytesInTheSmallClass) {
    expectHash(0xb0d2bf539e98d379ull, hashClipOutput(2, noisyScene(720, 480, 5), {}));
}

TEST(GoldenOutput, FrameModeWithoutAnimeAndWithBothPrepassesKeepsItsBytes) {
    expectHash(0x9794aaa9131c33beull, hashClipOutput(1, noisyScene(704, 476, 4),
                                      {{kFieldCheck, 0}, {kAnimeCheck, 0}, {kMosquitoCheck, 1}, {kBlockCheck, 1}}));
}

TEST(GoldenOutput, DefaultSettingsKeepTheirBytesInTheLargeClasses) {
    expectHash(0xe98231f43012812aull, hashClipOutput(2, noisyScene(1920, 1080, 3), {}));
    expectHash(0x0f1073b24d6b43c9ull,
               hashClipOutput(3, noisyScene(1280, 720, 3), {{kFieldCheck, 0}, {kRoundingCheck, 0}}));
}
