// The built-in demo clip and the demo command.
#include "cli/demo.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "cli/metrics.h"
#include "cli/output_file.h"
#include "cli/png.h"
#include "cli/run.h"

namespace q5cli {

namespace {

// xorshift32: the same numbers everywhere.
struct Noise {
    std::uint32_t state = 0x2545F491u;
    std::uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    // A draw of a near-Gaussian with unit variance: twelve uniform draws, centred.
    double gaussian() {
        std::int64_t sum = 0;
        for (int i = 0; i < 12; ++i) sum += next() >> 16;
        return (static_cast<double>(sum) - 12 * 32767.5) / 65536.0;
    }
};

std::uint8_t clampCode(int v) { return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// The scene at frame t: a shaded background with a check texture drifting left, a
// ringed disc crossing to the right, and a fine static grating.
void drawFrame(int t, int w, int h, std::uint8_t *y, std::uint8_t *cb, std::uint8_t *cr) {
    const int discX = 90 + 6 * t, discY = 150 + (t % 20 < 10 ? t % 10 : 10 - t % 10) * 2;
    const int radius = 60;
    const auto inDisc = [&](int px, int py) {
        const int dx = px - discX, dy = py - discY;
        return dx * dx + dy * dy < radius * radius;
    };
    const auto inGrating = [&](int px, int py) { return px >= 370 && px < 490 && py >= 30 && py < 110; };
    for (int py = 0; py < h; ++py)
        for (int px = 0; px < w; ++px) {
            int v = 60 + (px + 2 * py) * 100 / (w + 2 * h);
            v += (((px + t) / 16 + py / 16) & 1) ? 12 : -12;
            if (inDisc(px, py)) {
                const int dx = px - discX, dy = py - discY;
                v = 150 + (((dx * dx + dy * dy) / 150) & 1 ? 50 : 0);
            }
            if (inGrating(px, py)) v = (px / 2) & 1 ? 200 : 50;
            y[py * w + px] = clampCode(v);
        }
    const int cw = w / 2, ch = h / 2;
    for (int qy = 0; qy < ch; ++qy)
        for (int qx = 0; qx < cw; ++qx) {
            const int px = 2 * qx, py = 2 * qy;
            int u = 128 + (qx - cw / 2) / 5, v = 128 + (qy - ch / 2) / 3;
            if (inDisc(px, py)) u = 95, v = 175;
            if (inGrating(px, py)) u = v = 128;
            cb[qy * cw + qx] = clampCode(u);
            cr[qy * cw + qx] = clampCode(v);
        }
}

std::string joinPath(const std::string &dir, const char *name) {
    return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
}

bool writeFile(const std::string &path, const std::vector<std::uint8_t> &bytes, std::string *error) {
    auto out = OutputFile::open(path, error);
    return out && out->write(bytes.data(), bytes.size(), error) && out->commit(error);
}

bool writeClip(const std::string &path, const DemoClip &clip,
               const std::vector<std::vector<std::uint8_t>> &frames, std::string *error) {
    auto out = OutputFile::open(path, error);
    if (!out) return false;
    Y4mWriter writer(*out);
    if (!writer.writeHeader(clip.format, error)) return false;
    for (const auto &frame : frames)
        if (!writer.writeFrame("", frame.data(), frame.size(), error)) return false;
    return out->commit(error);
}

bool readFrameOf(const std::string &path, int index, const Y4mFormat &format,
                 std::vector<std::uint8_t> *frame, std::string *error) {
    auto source = openInput(path, error);
    if (!source) return false;
    Y4mReader reader(*source, path);
    Y4mFormat f;
    Y4mFrame y4mFrame;
    if (!reader.readHeader(&f, error)) return false;
    for (int i = 0; i <= index; ++i)
        if (reader.readFrame(format, &y4mFrame, error) != Y4mReader::Frame) {
            if (error->empty()) *error = path + " has too few frames";
            return false;
        }
    *frame = std::move(y4mFrame.data);
    return true;
}

}  // namespace

DemoClip makeDemoClip(int frames) {
    DemoClip clip;
    Y4mFormat eight;
    std::string error;
    parseY4mHeader(makeY4mHeader(kDemoWidth, kDemoHeight, Subsampling::S420, 8, 25, 1), &eight, &error);
    parseY4mHeader(makeY4mHeader(kDemoWidth, kDemoHeight, Subsampling::S420, kDemoBits, 25, 1),
                   &clip.format, &error);
    const Y4mFormat &f = clip.format;
    const int shift = kDemoBits - 8, maxCode = (1 << kDemoBits) - 1;
    Noise noise;
    for (int t = 0; t < frames; ++t) {
        // The scene is drawn in 8-bit codes and widened; the noise has the finer steps.
        std::vector<std::uint8_t> drawn(eight.frameBytes());
        std::uint8_t *cb = drawn.data() + eight.lumaBytes();
        drawFrame(t, eight.width, eight.height, drawn.data(), cb, cb + eight.chromaBytes());
        std::vector<std::uint8_t> clean(f.frameBytes()), noisy(f.frameBytes());
        for (std::size_t i = 0; i < drawn.size(); ++i) {
            const int code = drawn[i] << shift;
            const double sigma = i < eight.lumaBytes() ? kDemoLumaSigma : kDemoChromaSigma;
            int v = static_cast<int>(std::floor(code + sigma * noise.gaussian() + 0.5));
            v = v < 0 ? 0 : v > maxCode ? maxCode : v;
            clean[2 * i] = static_cast<std::uint8_t>(code & 0xFF);
            clean[2 * i + 1] = static_cast<std::uint8_t>(code >> 8);
            noisy[2 * i] = static_cast<std::uint8_t>(v & 0xFF);
            noisy[2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
        }
        clip.clean.push_back(std::move(clean));
        clip.noisy.push_back(std::move(noisy));
    }
    return clip;
}

int runDemo(const Options &options) {
    const std::string &dir = options.demoDir;
    if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "quorvane5: cannot create %s: %s\n", dir.c_str(), std::strerror(errno));
        return 1;
    }
    const DemoClip clip = makeDemoClip();
    const std::string cleanPath = joinPath(dir, "clean.y4m"), noisyPath = joinPath(dir, "noisy.y4m"),
                      denoisedPath = joinPath(dir, "denoised.y4m"),
                      pngPath = joinPath(dir, "before-after.png");
    std::string error;
    if (!writeClip(cleanPath, clip, clip.clean, &error) ||
        !writeClip(noisyPath, clip, clip.noisy, &error)) {
        std::fprintf(stderr, "quorvane5: %s\n", error.c_str());
        return 1;
    }

    Options run = options;
    run.command = Options::Denoise;
    run.input = noisyPath;
    run.output = denoisedPath;
    run.reference = cleanPath;
    run.quiet = true;  // the demo reports for itself
    for (const auto &slider : kDemoSliders)
        if (!run.trackGiven[slider.index]) {
            run.track[slider.index] = slider.value;
            run.trackGiven[slider.index] = true;
        }
    if (!run.checkGiven[4]) {
        run.check[4] = 0;
        run.checkGiven[4] = true;
    }
    DenoiseOutcome denoised;
    if (const int status = runDenoiseCommand(run, &denoised); status != 0) return status;

    // One frame from the middle, noisy on the left and denoised on the right.
    const int shown = kDemoFrames / 2;
    std::vector<std::uint8_t> after;
    if (!readFrameOf(denoisedPath, shown, clip.format, &after, &error)) {
        std::fprintf(stderr, "quorvane5: %s\n", error.c_str());
        return 1;
    }
    const std::vector<std::uint8_t> left = frameToRgb(clip.format, clip.noisy[shown].data());
    const std::vector<std::uint8_t> right = frameToRgb(clip.format, after.data());
    const int gap = 8, w = clip.format.width, h = clip.format.height, pw = 2 * w + gap;
    std::vector<std::uint8_t> picture(static_cast<std::size_t>(pw) * h * 3, 255);
    for (int y = 0; y < h; ++y) {
        std::memcpy(&picture[(static_cast<std::size_t>(y) * pw) * 3], &left[static_cast<std::size_t>(y) * w * 3], w * 3);
        std::memcpy(&picture[(static_cast<std::size_t>(y) * pw + w + gap) * 3],
                    &right[static_cast<std::size_t>(y) * w * 3], w * 3);
    }
    if (!writeFile(pngPath, encodePng(pw, h, picture), &error)) {
        std::fprintf(stderr, "quorvane5: %s\n", error.c_str());
        return 1;
    }

    QualityMeter noisy(clip.format);
    for (int t = 0; t < kDemoFrames; ++t) noisy.add(clip.noisy[t].data(), clip.clean[t].data());
    std::printf("Demo clip: %d frames of %dx%d %s with Gaussian noise, sigma %.1f (luma) and "
                "%.1f (chroma) %d-bit codes;\ndenoised with --tarnel %d --w2dnrl %d --w2dnrh %d%s\n",
                kDemoFrames, w, h, clip.format.describe().c_str(), kDemoLumaSigma, kDemoChromaSigma,
                kDemoBits, run.track[0], run.track[1], run.track[2],
                run.check[4] == 1 ? "" : " --no-rounding");
    std::printf("Denoised in %.1f s (%.1f frames a second)\n", denoised.seconds,
                denoised.seconds > 0 ? denoised.frames / denoised.seconds : 0.0);
    std::printf("Wrote %s, %s, %s\n  and %s (frame %d: noisy left, denoised right)\n",
                cleanPath.c_str(), noisyPath.c_str(), denoisedPath.c_str(), pngPath.c_str(), shown);
    std::printf("Against the clean clip:\n  noisy     %s\n", noisy.summary().c_str());
    if (denoised.haveMetrics) std::printf("  denoised  %s\n", denoised.summary.c_str());
    return 0;
}

}  // namespace q5cli
