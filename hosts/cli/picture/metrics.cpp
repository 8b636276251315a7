// PSNR and SSIM of y4m frames.
#include "cli/picture/metrics.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

namespace q5cli {

namespace {

int codeAt(const std::uint8_t *plane, std::size_t i, int bits) {
    return bits > 8 ? (plane[2 * i] | (plane[2 * i + 1] << 8)) : plane[i];
}

// Sums of x, y, x^2 + y^2 and x*y over one window, and the SSIM they give.
struct WindowSums {
    double x = 0, y = 0, xx = 0, yy = 0, xy = 0, n = 0;
    void add(const WindowSums &o) {
        x += o.x, y += o.y, xx += o.xx, yy += o.yy, xy += o.xy, n += o.n;
    }
    double ssim(double peak) const {
        const double c1 = (0.01 * peak) * (0.01 * peak), c2 = (0.03 * peak) * (0.03 * peak);
        const double mx = x / n, my = y / n;
        const double vx = xx / n - mx * mx, vy = yy / n - my * my, cxy = xy / n - mx * my;
        return ((2 * mx * my + c1) * (2 * cxy + c2)) / ((mx * mx + my * my + c1) * (vx + vy + c2));
    }
};

}  // namespace

double lumaSsim(const std::uint8_t *a, const std::uint8_t *b, int width, int height, int bits) {
    const double peak = (1 << bits) - 1;
    const auto blockSums = [&](int x0, int y0, int w, int h) {
        WindowSums s;
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x) {
                const std::size_t i = static_cast<std::size_t>(y) * width + x;
                const double p = codeAt(a, i, bits), q = codeAt(b, i, bits);
                s.x += p, s.y += q, s.xx += p * p, s.yy += q * q, s.xy += p * q;
                s.n += 1;
            }
        return s;
    };
    const int bw = width / 4, bh = height / 4;
    // Too small for two 4x4 blocks each way: one window over the whole picture.
    if (bw < 2 || bh < 2) return blockSums(0, 0, width, height).ssim(peak);
    std::vector<WindowSums> blocks(static_cast<std::size_t>(bw) * bh);
    for (int by = 0; by < bh; ++by)
        for (int bx = 0; bx < bw; ++bx) blocks[by * bw + bx] = blockSums(bx * 4, by * 4, 4, 4);
    double total = 0;
    for (int by = 0; by + 1 < bh; ++by)
        for (int bx = 0; bx + 1 < bw; ++bx) {
            WindowSums w = blocks[by * bw + bx];
            w.add(blocks[by * bw + bx + 1]);
            w.add(blocks[(by + 1) * bw + bx]);
            w.add(blocks[(by + 1) * bw + bx + 1]);
            total += w.ssim(peak);
        }
    return total / (static_cast<double>(bw - 1) * (bh - 1));
}

void QualityMeter::add(const std::uint8_t *frame, const std::uint8_t *reference) {
    const int bits = format_.bits;
    const std::size_t planeSamples[3] = {
        static_cast<std::size_t>(format_.width) * format_.height,
        static_cast<std::size_t>(format_.chromaWidth()) * format_.chromaHeight(),
        static_cast<std::size_t>(format_.chromaWidth()) * format_.chromaHeight()};
    std::size_t offset = 0;
    for (int p = 0; p < format_.planeCount(); ++p) {
        const std::uint8_t *a = frame + offset, *b = reference + offset;
        double sum = 0;
        for (std::size_t i = 0; i < planeSamples[p]; ++i) {
            const double d = codeAt(a, i, bits) - codeAt(b, i, bits);
            sum += d * d;
        }
        squaredError_[p] += sum;
        samples_[p] += static_cast<double>(planeSamples[p]);
        offset += planeSamples[p] * format_.bytesPerSample();
    }
    ssimSum_ += lumaSsim(frame, reference, format_.width, format_.height, bits);
    ++frames_;
}

double QualityMeter::psnr(int plane) const {
    if (samples_[plane] == 0 || squaredError_[plane] == 0)
        return std::numeric_limits<double>::infinity();
    const double peak = format_.maxCode();
    return 10.0 * std::log10(peak * peak / (squaredError_[plane] / samples_[plane]));
}

std::string QualityMeter::summary() const {
    const auto db = [](double v) {
        char text[32];
        if (std::isinf(v))
            std::snprintf(text, sizeof text, "inf");
        else
            std::snprintf(text, sizeof text, "%.2f dB", v);
        return std::string(text);
    };
    std::string s = "PSNR Y " + db(psnr(0));
    if (format_.planeCount() == 3) s += "  Cb " + db(psnr(1)) + "  Cr " + db(psnr(2));
    char text[32];
    std::snprintf(text, sizeof text, "  SSIM Y %.4f", ssim());
    return s + text;
}

}  // namespace q5cli
