// Test clips for the quality comparison, made here so that every machine measures
// the same pictures:
//   q5clips cel|texture SIGMA OUT.y4m
// writes 24 frames of 512x288 4:2:0 8-bit: the demo's cartoon, or a natural-looking
// scene (a sky gradient over fractal ground texture, the camera panning), with
// Gaussian noise of SIGMA 8-bit code steps on every sample (0: the clean clip).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/picture/demo_clip.h"
#include "cli/io/output_file.h"

namespace {

using namespace q5cli;

constexpr int kFrames = 24;

// Value noise: random levels on a lattice, blended with a smooth step.
double lattice(int x, int y, std::uint32_t seed) {
    std::uint32_t h = static_cast<std::uint32_t>(x) * 0x8DA6B343u ^ static_cast<std::uint32_t>(y) * 0xD8163841u ^ seed;
    h ^= h >> 13;
    h *= 0x5BD1E995u;
    h ^= h >> 15;
    return (h & 0xFFFF) / 32767.5 - 1;
}

double valueNoise(double x, double y, std::uint32_t seed) {
    const double fx = std::floor(x), fy = std::floor(y);
    const int ix = static_cast<int>(fx), iy = static_cast<int>(fy);
    const auto smooth = [](double t) { return t * t * t * (t * (t * 6 - 15) + 10); };
    const double u = smooth(x - fx), v = smooth(y - fy);
    const double a = lattice(ix, iy, seed), b = lattice(ix + 1, iy, seed);
    const double c = lattice(ix, iy + 1, seed), d = lattice(ix + 1, iy + 1, seed);
    return (a + (b - a) * u) * (1 - v) + (c + (d - c) * u) * v;
}

// Octaves halving in size and falling gently in amplitude: rough ground seen from afar.
double fractal(double x, double y, std::uint32_t seed) {
    double sum = 0, amplitude = 1, scale = 1.0 / 48;
    for (int octave = 0; octave < 7; ++octave, amplitude *= 0.7, scale *= 2)
        sum += amplitude * valueNoise(x * scale, y * scale, seed + octave);
    return sum / 2;
}

// One pixel of the textured scene at frame t in 8-bit units: Y, Cb, Cr.
void texturePixel(double x, double y, int t, double out[3]) {
    const double wx = x + 1.5 * t;  // the camera pans right
    const double horizon = 96 + 10 * fractal(wx * 0.5, 0, 7);
    const double ground = std::clamp((y - horizon) + 0.5, 0.0, 1.0);  // an anti-aliased edge
    const double sky[3] = {200 - 30 * y / 288, 140 - 8 * y / 288, 118};
    const double depth = std::max(0.0, y - horizon) / (288 - horizon);
    const double tex = fractal(wx, y * 1.6, 1) + 0.4 * fractal(wx * 3, y * 3, 3) * depth;
    const double soil[3] = {105 + 55 * tex - 25 * depth, 112 + 10 * fractal(wx, y, 11), 136 + 10 * fractal(wx, y, 13)};
    for (int c = 0; c < 3; ++c) out[c] = sky[c] + (soil[c] - sky[c]) * ground;
}

std::vector<double> textureFrame(const Y4mFormat &f, int t) {
    const int w = f.width, h = f.height, cw = f.chromaWidth(), ch = f.chromaHeight();
    std::vector<double> s(f.frameBytes(), 0.0);
    double *cb = s.data() + w * h, *cr = cb + cw * ch;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double p[3];
            texturePixel(x + 0.5, y + 0.5, t, p);
            s[y * w + x] = p[0];
            cb[(y / 2) * cw + x / 2] += p[1] / 4;
            cr[(y / 2) * cw + x / 2] += p[2] / 4;
        }
    return s;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 4 || (std::string(argv[1]) != "cel" && std::string(argv[1]) != "texture")) {
        std::fprintf(stderr, "usage: q5clips cel|texture SIGMA OUT.y4m\n");
        return 2;
    }
    const bool cel = std::string(argv[1]) == "cel";
    const double sigma = std::atof(argv[2]);
    Y4mFormat f;
    std::string error;
    parseY4mHeader(makeY4mHeader(kDemoWidth, kDemoHeight, Subsampling::S420, 8, 24, 1), &f, &error);
    const DemoClip demo = cel ? makeDemoClip(kFrames) : DemoClip{};

    auto out = OutputFile::open(argv[3], &error);
    if (!out) {
        std::fprintf(stderr, "q5clips: %s\n", error.c_str());
        return 1;
    }
    Y4mWriter writer(*out);
    bool ok = writer.writeHeader(f, &error);
    Grain grain;
    for (int t = 0; ok && t < kFrames; ++t) {
        std::vector<double> s;
        if (cel) {
            s = frameSamples(demo.format, demo.clean[t].data());
            for (double &v : s) v /= 1 << (kDemoBits - 8);
        } else {
            s = textureFrame(f, t);
        }
        for (double &v : s) v += sigma * grain.next();
        const std::vector<std::uint8_t> frame = samplesToFrame(f, s);
        ok = writer.writeFrame("", frame.data(), frame.size(), &error);
    }
    if (!ok || !out->commit(&error)) {
        std::fprintf(stderr, "q5clips: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
