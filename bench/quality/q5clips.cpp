// Test clips for the quality comparison, made here so that every machine measures
// the same pictures:
//   q5clips cel|gradient|busy WIDTH HEIGHT FRAMES SIGMA OUT.y4m
//   q5clips pan|zoom WIDTH HEIGHT FRAMES SIGMA OUT.y4m STILL.y4m
// writes FRAMES frames of WIDTH x HEIGHT 4:2:0 8-bit, with Gaussian noise of SIGMA
// 8-bit code steps on every sample (0: the clean clip). The cartoons are drawn here,
// in three styles:
//   cel       flat colours with thin dark outlines, two characters moving
//   gradient  large smooth gradients (sky, glow, shaded shapes), soft edges, no ink
//   busy      a painted, finely textured background behind outlined flat characters
// pan and zoom move a camera over a photograph: STILL.y4m is one 4:4:4 8-bit frame
// (ffmpeg decodes the picture), sampled with a Catmull-Rom cubic at sub-pixel
// positions; the camera pans right and a little down, or zooms in by 15%.
// Drawings are made in units of the frame height, so the same scene comes at every size.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "cli/io/output_file.h"
#include "cli/picture/demo_clip.h"

namespace {

using namespace q5cli;

struct Colour {
    double y, cb, cr;
};

// Paint with coverage a (0..1) over what is there.
void over(Colour &c, const Colour &paint, double a) {
    a = std::clamp(a, 0.0, 1.0);
    c.y += (paint.y - c.y) * a;
    c.cb += (paint.cb - c.cb) * a;
    c.cr += (paint.cr - c.cr) * a;
}

// Coverage by a shape of signed distance d (pixels, negative inside), with an edge
// `soft` pixels wide, and by an outline of the given width along the shape's edge.
double fill(double d, double soft = 1) { return std::clamp(0.5 - d / soft, 0.0, 1.0); }
double line(double d, double width) { return std::clamp(width / 2 + 0.5 - std::abs(d), 0.0, 1.0); }

double ellipse(double x, double y, double cx, double cy, double rx, double ry) {
    return (std::hypot((x - cx) / rx, (y - cy) / ry) - 1) * std::min(rx, ry);
}

double roundedBox(double x, double y, double cx, double cy, double hw, double hh, double r) {
    const double qx = std::abs(x - cx) - hw + r, qy = std::abs(y - cy) - hh + r;
    return std::hypot(std::max(qx, 0.0), std::max(qy, 0.0)) + std::min(std::max(qx, qy), 0.0) - r;
}

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

// Octaves halving in size: x and y in units of the coarsest lattice.
double fractal(double x, double y, std::uint32_t seed, int octaves, double falloff) {
    double sum = 0, amplitude = 1;
    for (int octave = 0; octave < octaves; ++octave, amplitude *= falloff, x *= 2, y *= 2)
        sum += amplitude * valueNoise(x, y, seed + octave);
    return sum / 2;
}

constexpr Colour kInk = {30, 128, 130};

// A character: body, head, two eyes, flat colours, outlined when `ink` > 0. (cx, cy)
// is the foot point, `s` the size in pixels, `bob` tilts the head.
void character(Colour &c, double x, double y, double cx, double cy, double s, const Colour &body,
               const Colour &head, double ink, double soft, double bob) {
    const double b = ellipse(x, y, cx, cy - 0.45 * s, 0.28 * s, 0.45 * s);
    const double hx = cx + 0.05 * s * bob, hy = cy - 1.05 * s;
    const double hd = ellipse(x, y, hx, hy, 0.24 * s, 0.22 * s);
    over(c, body, fill(b, soft));
    if (ink > 0) over(c, kInk, line(b, ink));
    over(c, head, fill(hd, soft));
    if (ink > 0) over(c, kInk, line(hd, ink));
    for (double side : {-1.0, 1.0}) {
        const double e = ellipse(x, y, hx + side * 0.08 * s, hy - 0.02 * s, 0.03 * s, 0.05 * s);
        over(c, kInk, fill(e, soft));
    }
}

// Flat cels: sky, a hill band and a house in flat colours, every edge inked thinly.
Colour celPixel(double x, double y, double w, double h, double t) {
    const double k = h / 480, ink = 1.1 + 0.45 * k;  // 1.5 px at 480 lines, 2.1 at 1080
    const double bx = x + 0.8 * k * t;  // the background pans slowly
    Colour c = {186, 148, 112};
    const double hill = (0.62 * h + 0.05 * h * std::sin(bx / (0.35 * h))) - y;  // above the line: > 0
    over(c, {128, 108, 112}, fill(hill));
    over(c, kInk, line(hill, ink));
    const double ground = 0.8 * h - y;
    over(c, {104, 100, 120}, fill(ground));
    over(c, kInk, line(ground, ink));
    const double house = roundedBox(bx, y, 0.95 * h, 0.56 * h, 0.12 * h, 0.1 * h, 2 * k);
    over(c, {200, 120, 150}, fill(house));
    over(c, kInk, line(house, ink));
    const double door = roundedBox(bx, y, 0.95 * h, 0.61 * h, 0.025 * h, 0.05 * h, k);
    over(c, {90, 140, 150}, fill(door));
    over(c, kInk, line(door, ink));
    character(c, x, y, 0.12 * w + 2.2 * k * t, 0.86 * h, 0.32 * h, {150, 90, 180}, {200, 110, 150}, ink, 1,
              std::sin(t / 3));
    character(c, x, y, 0.72 * w, 0.88 * h - 0.01 * h * std::abs(std::sin(t / 2)), 0.26 * h, {120, 170, 90},
              {196, 112, 146}, ink, 1, 0);
    return c;
}

// Smooth gradients: a dusk sky, a glow, shaded hills and a shaded ball, no outlines.
Colour gradientPixel(double x, double y, double w, double h, double t) {
    const double k = h / 480;
    const double v = y / h, u = x / w;
    Colour c = {70 + 110 * v, 150 - 20 * v, 120 + 25 * v};  // darker and bluer above
    const double glow = std::exp(-(std::pow(u - 0.7, 2) * 2.5 + std::pow(v - 0.45, 2) * 6));
    over(c, {235, 100, 160}, 0.8 * glow);
    const double hillTop = 0.6 * h + 0.08 * h * std::sin((x + 0.5 * k * t) / (0.5 * h));
    const double hillShade = std::clamp((y - hillTop) / (0.4 * h), 0.0, 1.0);
    over(c, {120 - 60 * hillShade, 110, 125}, fill(hillTop - y, 2.5 * k));
    // A ball lit from the upper right rolling across.
    const double bx = 0.25 * w + 1.5 * k * t, by = 0.72 * h, r = 0.14 * h;
    const double d = std::hypot(x - bx, y - by) - r;
    const double light = std::clamp(0.5 + 0.5 * ((x - bx) * 0.6 - (y - by) * 0.8) / r, 0.0, 1.0);
    over(c, {60 + 140 * light, 100, 170 - 20 * light}, fill(d, 1.5 * k));
    // A soft-edged character with a body shaded top to bottom.
    const double cx = 0.62 * w - 0.8 * k * t, cy = 0.9 * h, s = 0.36 * h;
    const double body = ellipse(x, y, cx, cy - 0.45 * s, 0.28 * s, 0.45 * s);
    const double shade = std::clamp((y - (cy - 0.9 * s)) / (0.9 * s), 0.0, 1.0);
    over(c, {170 - 70 * shade, 150, 100}, fill(body, 1.5 * k));
    const double head = ellipse(x, y, cx, cy - 1.05 * s, 0.24 * s, 0.22 * s);
    over(c, {205 - 40 * shade, 112, 146}, fill(head, 1.5 * k));
    return c;
}

// A busy background: foliage-like fractal texture over brickwork, panning, behind
// flat outlined characters.
Colour busyPixel(double x, double y, double w, double h, double t) {
    const double k = h / 480, ink = 1.1 + 0.45 * k;
    const double bx = (x + 1.2 * k * t) / h, by = y / h;  // in frame heights
    const double leaves = fractal(bx * 14, by * 14, 21, 6, 0.75);
    Colour c = {110 + 70 * leaves, 112 + 12 * fractal(bx * 5, by * 5, 31, 3, 0.6), 118 + 10 * leaves};
    if (by > 0.55) {  // a brick wall below the foliage
        const double row = std::floor(by * 24), off = std::fmod(row, 2) * 0.5;
        const double fu = bx * 10 + off - std::floor(bx * 10 + off), fv = by * 24 - row;
        const double mortar = std::min(std::min(fu, 1 - fu) * h / 10, std::min(fv, 1 - fv) * h / 24);  // px to a joint
        const double grain = fractal(bx * 40, by * 40, 41, 4, 0.7);
        Colour brick = {96 + 30 * grain, 110, 158 + 8 * grain};
        over(brick, {150 + 15 * grain, 126, 130}, fill(mortar - 0.8 * k));
        over(c, brick, fill((0.55 - by) * h));
    }
    character(c, x, y, 0.2 * w + 2.5 * k * t, 0.9 * h, 0.36 * h, {210, 60, 140}, {200, 110, 150}, ink, 1,
              std::sin(t / 3));
    character(c, x, y, 0.75 * w - 1.0 * k * t, 0.93 * h, 0.3 * h, {60, 150, 100}, {196, 112, 146}, ink, 1, 0);
    return c;
}

// Two-tone cartoon: every shape in a lit and a shaded tone split by a hard line, and
// outlined in dense, aliased ink of whole pixels (2 px at 480 lines): clouds, hills,
// a fence, rocks and two characters.
Colour toonPixel(double x, double y, double w, double h, double t) {
    const double k = h / 480, ink = std::round(2 * k);
    const auto hard = [](double d) { return d < 0 ? 1.0 : 0.0; };
    const auto inked = [ink](double d) { return std::abs(d) < ink / 2 ? 1.0 : 0.0; };
    // A shape of distance d, lit above the line through it and shaded below, then inked.
    const auto shape = [&](Colour &c, double d, const Colour &lit, const Colour &shade, double split) {
        over(c, split < 0 ? lit : shade, hard(d));
        over(c, kInk, inked(d));
    };
    const double bx = x + 0.6 * k * t;
    Colour c = y < 0.3 * h ? Colour{150, 160, 105} : Colour{172, 150, 108};  // sky in two bands
    for (int i = 0; i < 5; ++i) {  // clouds: three puffs each
        const double cx = std::fmod(0.3 * h * i + 0.21 * h + 0.4 * k * t, 1.6 * h) - 0.1 * h, cy = (0.08 + 0.05 * (i % 3)) * h;
        double d = 1e9;
        for (int j = -1; j <= 1; ++j)
            d = std::min(d, ellipse(x, y, cx + j * 0.05 * h, cy - (j == 0) * 0.02 * h, 0.045 * h, 0.03 * h));
        shape(c, d, {235, 128, 126}, {205, 134, 122}, y - cy - 0.01 * h);
    }
    for (int i = 0; i < 3; ++i) {  // hills, each lit on its left flank
        const double hx = (0.35 + 0.55 * i) * h - 0.5 * k * t, top = (0.45 + 0.04 * i) * h;
        const double d = ellipse(bx, y, hx, top + 0.3 * h, 0.4 * h, 0.3 * h);
        shape(c, d, {140.0 - 10 * i, 100, 110}, {100.0 - 10 * i, 108, 116}, bx - hx);
    }
    const double ground = 0.75 * h - y;
    shape(c, ground, {120, 96, 120}, {120, 96, 120}, -1);
    for (int i = 0; i < 14; ++i) {  // a fence of outlined posts
        const double d = roundedBox(bx, y, (0.1 + 0.12 * i) * h, 0.7 * h, 0.015 * h, 0.06 * h, k);
        shape(c, d, {170, 110, 150}, {130, 114, 146}, bx - (0.1 + 0.12 * i) * h);
    }
    for (int i = 0; i < 6; ++i) {  // rocks
        const double rx = (0.2 + 0.27 * i) * h, ry = (0.83 + 0.03 * (i % 2)) * h;
        shape(c, ellipse(bx, y, rx, ry, 0.05 * h, 0.025 * h), {150, 125, 125}, {105, 130, 126}, y - ry);
    }
    const double cx[2] = {0.3 * w + 1.8 * k * t, 0.7 * w - 1.2 * k * t};
    for (int i = 0; i < 2; ++i) {  // characters: body and head, shaded on their right
        const double s = (0.3 - 0.05 * i) * h, fy = 0.92 * h;
        shape(c, ellipse(x, y, cx[i], fy - 0.45 * s, 0.28 * s, 0.45 * s), {160.0 - 40 * i, 90, 175},
              {110.0 - 30 * i, 100, 170}, cx[i] + 0.05 * s - x);
        const double hy = fy - 1.05 * s;
        shape(c, ellipse(x, y, cx[i], hy, 0.24 * s, 0.22 * s), {205, 110, 150}, {160, 114, 146}, cx[i] + 0.05 * s - x);
        for (double side : {-1.0, 1.0}) over(c, kInk, hard(ellipse(x, y, cx[i] + side * 0.08 * s, hy, 0.03 * s, 0.05 * s)));
    }
    return c;
}

// A 4:4:4 still, three planes of doubles.
struct Still {
    int w = 0, h = 0;
    std::vector<double> planes[3];

    // Catmull-Rom cubic at (x, y) in pixel centres, edges clamped.
    double sample(int p, double x, double y) const {
        const double fx = std::floor(x), fy = std::floor(y);
        const int ix = static_cast<int>(fx), iy = static_cast<int>(fy);
        double wx[4], wy[4];
        weights(x - fx, wx);
        weights(y - fy, wy);
        double sum = 0;
        for (int j = 0; j < 4; ++j) {
            const int yy = std::clamp(iy - 1 + j, 0, h - 1);
            double row = 0;
            for (int i = 0; i < 4; ++i) row += wx[i] * planes[p][yy * w + std::clamp(ix - 1 + i, 0, w - 1)];
            sum += wy[j] * row;
        }
        return sum;
    }
    static void weights(double t, double *out) {
        const double t2 = t * t, t3 = t2 * t;
        out[0] = (-t3 + 2 * t2 - t) / 2;
        out[1] = (3 * t3 - 5 * t2 + 2) / 2;
        out[2] = (-3 * t3 + 4 * t2 + t) / 2;
        out[3] = (t3 - t2) / 2;
    }
};

// White noise through [1 2 1] / 4 along both axes (edges reflected), scaled to `sigma`:
// each axis keeps (1 + 4 + 1) / 16 of the variance, so the gain is sigma / (6 / 16).
void addSpreadGrain(double *plane, int w, int h, double sigma, Grain &grain) {
    std::vector<double> n(static_cast<std::size_t>(w) * h), m(n.size());
    for (double &v : n) v = grain.next();
    const auto at = [](int i, int size) { return i < 0 ? -i : i >= size ? 2 * size - 2 - i : i; };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            m[y * w + x] = (n[y * w + at(x - 1, w)] + 2 * n[y * w + x] + n[y * w + at(x + 1, w)]) / 4;
    const double gain = sigma / (6.0 / 16);  // each axis keeps (1 + 4 + 1) / 16 of the variance
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            plane[y * w + x] += gain * (m[at(y - 1, h) * w + x] + 2 * m[y * w + x] + m[at(y + 1, h) * w + x]) / 4;
}

bool readStill(const char *path, Still *still, std::string *error) {
    std::ifstream in(path, std::ios::binary);
    std::string header, frameLine;
    Y4mFormat f;
    if (!std::getline(in, header) || !parseY4mHeader(header, &f, error)) {
        if (error->empty()) *error = std::string(path) + ": not a y4m file";
        return false;
    }
    if (f.subsampling != Subsampling::S444 || f.bits != 8) {
        *error = std::string(path) + ": the still must be 4:4:4 8-bit";
        return false;
    }
    std::vector<unsigned char> bytes(f.frameBytes());
    if (!std::getline(in, frameLine) || !in.read(reinterpret_cast<char *>(bytes.data()), bytes.size())) {
        *error = std::string(path) + ": no frame";
        return false;
    }
    still->w = f.width;
    still->h = f.height;
    const std::size_t n = static_cast<std::size_t>(f.width) * f.height;
    for (int p = 0; p < 3; ++p) still->planes[p].assign(bytes.begin() + p * n, bytes.begin() + (p + 1) * n);
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    const std::string content = argc > 1 ? argv[1] : "";
    const bool photo = content == "pan" || content == "zoom";
    const bool drawn = content == "cel" || content == "gradient" || content == "busy" || content == "toon";
    const int w = argc > 3 ? std::atoi(argv[2]) : 0, h = argc > 3 ? std::atoi(argv[3]) : 0;
    const int frames = argc > 4 ? std::atoi(argv[4]) : 0;
    if (!(drawn && argc == 7) && !(photo && argc == 8)) {
        std::fprintf(stderr,
                     "usage: q5clips cel|gradient|busy|toon WIDTH HEIGHT FRAMES [c]SIGMA OUT.y4m\n"
                     "       q5clips pan|zoom WIDTH HEIGHT FRAMES SIGMA OUT.y4m STILL.y4m\n");
        return 2;
    }
    // "c2": grain of deviation 2 spread over neighbours, white noise through [1 2 1] / 4
    // along both axes, as upscaled or softened grain is.
    const bool spread = argv[5][0] == 'c';
    const double sigma = std::atof(argv[5] + (spread ? 1 : 0));
    Y4mFormat f;
    std::string error;
    if (w < 16 || h < 16 || w % 2 || h % 2 || frames < 1 ||
        !parseY4mHeader(makeY4mHeader(w, h, Subsampling::S420, 8, 24, 1), &f, &error)) {
        std::fprintf(stderr, "q5clips: bad size or frame count\n");
        return 2;
    }
    Still still;
    if (photo && !readStill(argv[7], &still, &error)) {
        std::fprintf(stderr, "q5clips: %s\n", error.c_str());
        return 1;
    }

    auto out = OutputFile::open(argv[6], &error);
    if (!out) {
        std::fprintf(stderr, "q5clips: %s\n", error.c_str());
        return 1;
    }
    Y4mWriter writer(*out);
    bool ok = writer.writeHeader(f, &error);
    Grain grain;
    const int cw = f.chromaWidth(), ch = f.chromaHeight();
    // The camera over the still: the view's scale in still pixels per output pixel at
    // the start, fitting the still's height or width with a small margin.
    const double fit = photo ? std::min(double(still.w) / w, double(still.h) / h) * 0.97 : 0;
    for (int t = 0; ok && t < frames; ++t) {
        std::vector<double> s(f.frameBytes(), 0.0);
        double *cb = s.data() + static_cast<std::size_t>(w) * h, *cr = cb + static_cast<std::size_t>(cw) * ch;
        // Relative time 0..1 for the camera; the drawn scenes move in pixels per frame.
        const double u = frames > 1 ? double(t) / (frames - 1) : 0;
        const double scale = content == "zoom" ? fit / (1 + 0.15 * u) : fit;
        // Panning: 0.25% of the width per frame right, a third of that down, whatever the frame count.
        const double x0 = content == "pan" ? 0.0025 * still.w * t : (still.w - scale * w) / 2;
        const double y0 = content == "pan" ? 0.0008 * still.h * t : (still.h - scale * h) / 2;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                Colour c;
                if (photo) {
                    const double sx = x0 + (x + 0.5) * scale - 0.5, sy = y0 + (y + 0.5) * scale - 0.5;
                    c = {still.sample(0, sx, sy), still.sample(1, sx, sy), still.sample(2, sx, sy)};
                } else {
                    const double px = x + 0.5, py = y + 0.5;
                    c = content == "cel"        ? celPixel(px, py, w, h, t)
                        : content == "gradient" ? gradientPixel(px, py, w, h, t)
                        : content == "toon"     ? toonPixel(px, py, w, h, t)
                                                : busyPixel(px, py, w, h, t);
                }
                s[static_cast<std::size_t>(y) * w + x] = c.y;
                cb[(y / 2) * cw + x / 2] += c.cb / 4;
                cr[(y / 2) * cw + x / 2] += c.cr / 4;
            }
        if (sigma > 0 && !spread)
            for (double &v : s) v += sigma * grain.next();
        if (sigma > 0 && spread) {
            const std::size_t planeStart[3] = {0, static_cast<std::size_t>(w) * h,
                                               static_cast<std::size_t>(w) * h + static_cast<std::size_t>(cw) * ch};
            for (int p = 0; p < 3; ++p) addSpreadGrain(s.data() + planeStart[p], p ? cw : w, p ? ch : h, sigma, grain);
        }
        const std::vector<std::uint8_t> frame = samplesToFrame(f, s);
        ok = writer.writeFrame("", frame.data(), frame.size(), &error);
    }
    if (!ok || !out->commit(&error)) {
        std::fprintf(stderr, "q5clips: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
