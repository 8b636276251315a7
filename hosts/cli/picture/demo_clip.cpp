// The demo clip: a small cartoon drawn with anti-aliased shapes in fractional 8-bit
// code units, stored as 10-bit codes, then given grain and a block codec's losses.
#include "cli/picture/demo_clip.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace q5cli {

namespace {

struct Colour {
    double y, cb, cr;
};

constexpr Colour kInk = {32, 128, 129};

// Paint with coverage a (0..1) over what is there.
void over(Colour &c, const Colour &paint, double a) {
    if (a <= 0) return;
    a = std::min(a, 1.0);
    c.y += (paint.y - c.y) * a;
    c.cb += (paint.cb - c.cb) * a;
    c.cr += (paint.cr - c.cr) * a;
}

// Coverage of a pixel by a shape whose signed distance (negative inside) is d, and by
// an outline of the given width centred on the shape's edge.
double fill(double d) { return std::clamp(0.5 - d, 0.0, 1.0); }
double line(double d, double width) { return std::clamp(width / 2 + 0.5 - std::abs(d), 0.0, 1.0); }

double circle(double x, double y, double cx, double cy, double r) { return std::hypot(x - cx, y - cy) - r; }

double ellipse(double x, double y, double cx, double cy, double rx, double ry) {
    const double k = std::hypot((x - cx) / rx, (y - cy) / ry);
    return (k - 1) * std::min(rx, ry);
}

// Distance below a curve y = f(x), with its slope, so edges are equally soft at any angle.
double below(double y, double curve, double slope) { return (curve - y) / std::sqrt(1 + slope * slope); }

// One pixel of frame t, in 8-bit code units. A static background of sky, sun, cloud
// and hills, and a character that walks and bobs across it.
Colour scene(double x, double y, int t) {
    // Sky: a slow gradient, a fifth of a code a row, which bands at 8 bits.
    Colour c = {172 + 42 * std::min(y / 200, 1.0), 152 - 12 * y / 288, 112 + 5 * y / 288};

    const double sun = circle(x, y, 424, 64, 30);
    const double r2 = ((x - 424) * (x - 424) + (y - 64) * (y - 64)) / (30.0 * 30);
    over(c, {236 - 14 * r2, 80, 152}, fill(sun));
    over(c, kInk, line(sun, 2));

    const double cx = 110 + 0.6 * t;
    const double cloud = std::min({circle(x, y, cx, 70, 22), circle(x, y, cx + 26, 60, 28),
                                   circle(x, y, cx + 56, 72, 20)});
    const double cloudShape = std::max(cloud, y - 88);  // a flat base
    over(c, {226, 129, 126}, fill(cloudShape));
    over(c, kInk, line(cloudShape, 1.5));

    const double far = 176 + 16 * std::sin(x / 53 + 1);
    const double farHill = below(y, far, 16.0 / 53 * std::cos(x / 53 + 1));
    over(c, {150, 118, 116}, fill(farHill));
    over(c, kInk, line(farHill, 2));

    const double near = 220 + 12 * std::sin(x / 90);
    const double nearHill = below(y, near, 12.0 / 90 * std::cos(x / 90));
    over(c, {116 - 10 * std::max(0.0, y - near) / 68, 104, 100}, fill(nearHill));
    over(c, kInk, line(nearHill, 2.5));

    // The character: a round body with cel shading, eyes and an outline.
    const double bx = 140 + 5 * t, by = 196 + 4 * std::sin(t * 0.7);
    const double body = ellipse(x, y, bx, by, 46, 40);
    over(c, {172, 88, 172}, fill(body));
    const double shade = -circle(x, y, bx - 16, by - 14, 46);  // outside that circle
    over(c, {138, 94, 166}, fill(std::max(body, shade)));
    over(c, kInk, line(body, 3));
    for (const double side : {-1.0, 1.0}) {
        const double eye = ellipse(x, y, bx + 15 * side, by - 12, 9, 11);
        over(c, {235, 128, 128}, fill(eye));
        over(c, kInk, line(eye, 1.5));
        over(c, {24, 128, 128}, fill(circle(x, y, bx + 15 * side + 3, by - 10, 4)));
    }
    const double mouth = std::hypot(x - bx, (y - by - 4) * 1.6) - 18;
    if (y > by + 12) over(c, kInk, line(mouth, 2));
    return c;
}

// The JPEG example tables (quality 50) for luma and chroma.
constexpr std::array<int, 64> kLumaTable = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
constexpr std::array<int, 64> kChromaTable = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

// Quantises every 8 x 8 block of a plane (8-bit code units, w and h multiples of 8)
// as a block codec does: orthonormal DCT, uniform steps of table x scale, inverse.
void blockCodec(double *plane, int w, int h, const std::array<int, 64> &table, double scale) {
    static const auto basis = [] {
        std::array<double, 64> b{};
        for (int k = 0; k < 8; ++k)
            for (int n = 0; n < 8; ++n)
                b[k * 8 + n] = (k == 0 ? std::sqrt(0.125) : 0.5) * std::cos((2 * n + 1) * k * M_PI / 16);
        return b;
    }();
    // out = a' b' for 8 x 8 matrices, where ' transposes the operands marked so; each sum
    // runs over k in increasing order.
    const auto product = [](const double *a, bool aT, const double *b, bool bT, double *out) {
        for (int i = 0; i < 8; ++i)
            for (int j = 0; j < 8; ++j) {
                double s = 0;
                for (int k = 0; k < 8; ++k)
                    s += (aT ? a[k * 8 + i] : a[i * 8 + k]) * (bT ? b[j * 8 + k] : b[k * 8 + j]);
                out[i * 8 + j] = s;
            }
    };
    const double *const d = basis.data();
    for (int by = 0; by < h; by += 8)
        for (int bx = 0; bx < w; bx += 8) {
            double block[64], coef[64], tmp[64];
            for (int i = 0; i < 64; ++i) block[i] = plane[(by + i / 8) * w + bx + i % 8] - 128;
            product(d, false, block, false, tmp);  // columns
            product(tmp, false, d, true, coef);    // rows
            for (int i = 0; i < 64; ++i) {
                const double step = table[i] * scale;
                coef[i] = std::nearbyint(coef[i] / step) * step;
            }
            product(d, true, coef, false, tmp);
            product(tmp, false, d, false, block);
            for (int i = 0; i < 64; ++i) plane[(by + i / 8) * w + bx + i % 8] = block[i] + 128;
        }
}

}  // namespace

double Grain::next() {
    std::int64_t sum = 0;
    for (int i = 0; i < 12; ++i) {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        sum += state_ >> 16;
    }
    return (static_cast<double>(sum) - 12 * 32767.5) / 65536.0;
}

std::vector<double> frameSamples(const Y4mFormat &f, const std::uint8_t *frame) {
    const std::size_t n = f.frameBytes() / f.bytesPerSample();
    std::vector<double> s(n);
    for (std::size_t i = 0; i < n; ++i) s[i] = f.bits > 8 ? frame[2 * i] | frame[2 * i + 1] << 8 : frame[i];
    return s;
}

std::vector<std::uint8_t> samplesToFrame(const Y4mFormat &f, const std::vector<double> &samples) {
    std::vector<std::uint8_t> frame(f.frameBytes());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const int v = static_cast<int>(std::clamp(std::floor(samples[i] + 0.5), 0.0, double(f.maxCode())));
        if (f.bits > 8) {
            frame[2 * i] = static_cast<std::uint8_t>(v);
            frame[2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
        } else {
            frame[i] = static_cast<std::uint8_t>(v);
        }
    }
    return frame;
}

std::vector<std::uint8_t> requantise(const Y4mFormat &from, const std::uint8_t *frame, const Y4mFormat &to) {
    std::vector<double> s = frameSamples(from, frame);
    const double k = std::ldexp(1.0, to.bits - from.bits);
    for (double &v : s) v *= k;
    return samplesToFrame(to, s);
}

DemoClip makeDemoClip(int frames) {
    DemoClip clip;
    std::string error;
    parseY4mHeader(makeY4mHeader(kDemoWidth, kDemoHeight, Subsampling::S420, kDemoBits, 24, 1),
                   &clip.format, &error);
    const Y4mFormat &f = clip.format;
    const int w = f.width, h = f.height, cw = f.chromaWidth(), ch = f.chromaHeight();
    const double unit = std::ldexp(1.0, kDemoBits - 8);  // one 8-bit step in codes
    Grain grain;
    std::vector<Colour> pixels(static_cast<std::size_t>(w) * h);
    for (int t = 0; t < frames; ++t) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) pixels[y * w + x] = scene(x + 0.5, y + 0.5, t);
        // Planes in 8-bit units; chroma the mean of the four pixels it covers.
        std::vector<double> planes(f.frameBytes() / f.bytesPerSample());
        double *cb = planes.data() + w * h, *cr = cb + cw * ch;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const Colour &p = pixels[y * w + x];
                planes[y * w + x] = p.y;
                cb[(y / 2) * cw + x / 2] += p.cb / 4;
                cr[(y / 2) * cw + x / 2] += p.cr / 4;
            }
        std::vector<double> clean = planes, grainy = planes;
        for (double &v : clean) v *= unit;
        for (double &v : grainy) v = (v + kDemoGrainSigma * grain.next()) * unit;
        clip.clean.push_back(samplesToFrame(f, clean));
        clip.grainy.push_back(samplesToFrame(f, grainy));

        // The codec sees the grainy frame as stored, in 8-bit units.
        std::vector<double> coded = frameSamples(f, clip.grainy.back().data());
        for (double &v : coded) v /= unit;
        blockCodec(coded.data(), w, h, kLumaTable, kDemoBlockQuality);
        blockCodec(coded.data() + w * h, cw, ch, kChromaTable, kDemoBlockQuality);
        blockCodec(coded.data() + w * h + cw * ch, cw, ch, kChromaTable, kDemoBlockQuality);
        for (double &v : coded) v *= unit;
        clip.blocky.push_back(samplesToFrame(f, coded));
    }
    return clip;
}

}  // namespace q5cli
