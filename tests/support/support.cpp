#include "support/support.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "host/callbacks.h"

namespace q5test {

std::uint32_t testSeed() {
    if (const char *s = std::getenv("Q5_TEST_SEED")) return static_cast<std::uint32_t>(std::strtoul(s, nullptr, 0));
    return 20261207u;
}

GetFilterTableFn moduleEntry() {
    static std::unique_ptr<q5host::Module> module = [] {
        std::string error;
        auto m = q5host::Module::open(q5host::defaultModulePath(), &error);
        if (!m) throw std::runtime_error("cannot load the module: " + error);
        return m;
    }();
    return module->getFilterTable();
}

namespace {
FILTER_DLL *linkedGetFilterTable() { return filterDescriptor(); }
}  // namespace

GetFilterTableFn linkedEntry() { return &linkedGetFilterTable; }

q5host::FrameSource Clip::source() const {
    return [this, packed = q5host::packedFrames(frames, width, height)](int n, PIXEL_YC *image, int pitch) {
        if (n >= 0 && n < static_cast<int>(unavailable.size()) && unavailable[n]) return false;
        return packed(n, image, pitch);
    };
}

q5host::ClipInfo Clip::info(int maxW, int maxH) const {
    q5host::ClipInfo ci;
    ci.width = width;
    ci.height = height;
    ci.maxW = maxW ? maxW : q5host::capacityFor(width, 1920);
    ci.maxH = maxH ? maxH : q5host::capacityFor(height, 1088);
    ci.frameCount = static_cast<int>(frames.size());
    return ci;
}

Clip flatClip(int width, int height, int frames, PIXEL_YC value) {
    Clip c;
    c.width = width;
    c.height = height;
    c.frames.assign(frames, std::vector<PIXEL_YC>(static_cast<std::size_t>(width) * height, value));
    return c;
}

Clip randomClip(int width, int height, int frames, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> luma(0, 4095), chroma(-2048, 2047);
    Clip c;
    c.width = width;
    c.height = height;
    for (int f = 0; f < frames; ++f) {
        std::vector<PIXEL_YC> frame(static_cast<std::size_t>(width) * height);
        for (PIXEL_YC &p : frame)
            p = {static_cast<std::int16_t>(luma(rng)), static_cast<std::int16_t>(chroma(rng)),
                 static_cast<std::int16_t>(chroma(rng))};
        c.frames.push_back(std::move(frame));
    }
    return c;
}

Clip movingPatternClip(int width, int height, int frames, double sigma, std::uint32_t seed,
                       Clip *clean) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, sigma);
    Clip noisy, ideal;
    noisy.width = ideal.width = width;
    noisy.height = ideal.height = height;
    for (int f = 0; f < frames; ++f) {
        std::vector<PIXEL_YC> a(static_cast<std::size_t>(width) * height), b(a.size());
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const double u = x + f;  // moves one pixel to the left per frame
                const double yv = 2048 + 900 * std::sin(u * 0.05) * std::cos(y * 0.04) +
                                  400 * ((static_cast<int>(u) / 32 + y / 32) % 2 ? 1 : -1);
                const double cb = 300 * std::sin(u * 0.02 + y * 0.01);
                const double cr = -200 * std::cos(u * 0.015 - y * 0.02);
                const PIXEL_YC p{static_cast<std::int16_t>(std::lround(yv)),
                                 static_cast<std::int16_t>(std::lround(cb)),
                                 static_cast<std::int16_t>(std::lround(cr))};
                const std::size_t i = static_cast<std::size_t>(y) * width + x;
                b[i] = p;
                auto clamp = [](double v) {
                    return static_cast<std::int16_t>(std::lround(std::min(8191.0, std::max(-8192.0, v))));
                };
                a[i] = {clamp(p.y + noise(rng)), clamp(p.cb + noise(rng) * 0.5),
                        clamp(p.cr + noise(rng) * 0.5)};
            }
        noisy.frames.push_back(std::move(a));
        ideal.frames.push_back(std::move(b));
    }
    if (clean) *clean = std::move(ideal);
    return noisy;
}

std::vector<std::vector<PIXEL_YC>> runClip(q5host::Host &host, const Clip &clip) {
    std::vector<std::vector<PIXEL_YC>> out;
    for (int n = 0; n < static_cast<int>(clip.frames.size()); ++n) {
        host.process(n);
        out.push_back(host.outputPicture());
    }
    return out;
}

double lumaPsnr(const std::vector<PIXEL_YC> &a, const std::vector<PIXEL_YC> &b) {
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double d = a[i].y - b[i].y;
        sum += d * d;
    }
    const double mse = sum / static_cast<double>(a.size());
    return mse == 0 ? 200.0 : 10.0 * std::log10(4096.0 * 4096.0 / mse);
}

bool samePictures(const Frames &a, const Frames &b) {
    if (a.size() != b.size()) return false;
    for (std::size_t f = 0; f < a.size(); ++f)
        if (a[f].size() != b[f].size() ||
            std::memcmp(a[f].data(), b[f].data(), a[f].size() * sizeof(PIXEL_YC)) != 0)
            return false;
    return true;
}

}  // namespace q5test
