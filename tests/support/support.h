// Shared test helpers: seeded random input, synthetic clips, and hosts that load
// the built module or the filter linked into the test program.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "abi/host_api.h"
#include "common/module.h"

namespace q5test {

/// Seed for random input: Q5_TEST_SEED when set, else a fixed value; printed by tests.
std::uint32_t testSeed();

/// The built module, loaded once per test program.
GetFilterTableFn moduleEntry();
/// The filter linked into the test program (its internals are visible to tests).
GetFilterTableFn linkedEntry();

/// A clip held in memory: frames of w x h pixels, packed rows.
struct Clip {
    int width = 0, height = 0;
    std::vector<std::vector<PIXEL_YC>> frames;
    std::vector<bool> unavailable;  // frames the host cannot supply

    q5host::FrameSource source() const;
    /// maxW x maxH 0 x 0: 1920 x 1088, or the picture rounded up to multiples of 16
    /// in a direction where it is larger.
    q5host::ClipInfo info(int maxW = 0, int maxH = 0) const;
};

/// A clip of identical frames of one colour.
Clip flatClip(int width, int height, int frames, PIXEL_YC value);
/// A clip of random frames: luma 0..4095, chroma -2048..2047.
Clip randomClip(int width, int height, int frames, std::uint32_t seed);
/// A textured scene that moves by one pixel a frame, with Gaussian noise of sigma
/// (in YC48 luma steps) added; clean gets the noiseless frames when not null.
Clip movingPatternClip(int width, int height, int frames, double sigma, std::uint32_t seed,
                       Clip *clean = nullptr);

/// Output pictures, one per frame.
using Frames = std::vector<std::vector<PIXEL_YC>>;

/// Runs a whole clip through a host in forward playback and returns every output picture.
Frames runClip(q5host::Host &host, const Clip &clip);

/// Whether two runs gave the same pictures, byte for byte.
bool samePictures(const Frames &a, const Frames &b);

/// PSNR of luma against a reference, peak 4096.
double lumaPsnr(const std::vector<PIXEL_YC> &a, const std::vector<PIXEL_YC> &b);

}  // namespace q5test
