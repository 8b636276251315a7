// Builds the before/after picture. Grain of under one code step is invisible at
// normal contrast, so the magnified crops are histogram-stretched: the levels the
// crop is made of spread over the whole grey scale, the same mapping on both sides.
#include "cli/picture/comparison.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "cli/io/png.h"
#include "cli/picture/labels.h"

namespace q5cli {

namespace {

constexpr int kMaxTileWidth = 640, kMaxTileHeight = 480, kZoom = 4, kGap = 8;

int shrinkFor(const Y4mFormat &f) {
    const int kw = (f.width + kMaxTileWidth - 1) / kMaxTileWidth;
    const int kh = (f.height + kMaxTileHeight - 1) / kMaxTileHeight;
    return std::max({kw, kh, 1});
}

int lumaAt(const Y4mFormat &f, const std::uint8_t *frame, std::size_t i) {
    return f.bits > 8 ? frame[2 * i] | frame[2 * i + 1] << 8 : frame[i];
}

// Luma removed at each pixel, in 8-bit code steps.
std::vector<double> lumaRemoved(const Y4mFormat &f, const std::uint8_t *before, const std::uint8_t *after) {
    const double unit = std::ldexp(1.0, f.bits - 8);
    std::vector<double> d(static_cast<std::size_t>(f.width) * f.height);
    for (std::size_t i = 0; i < d.size(); ++i) d[i] = (lumaAt(f, before, i) - lumaAt(f, after, i)) / unit;
    return d;
}

class Canvas {
public:
    Canvas(int width, int height) : width_(width), height_(height), rgb_(std::size_t(width) * height * 3, 255) {}
    void put(int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
        std::uint8_t *p = &rgb_[(std::size_t(y) * width_ + x) * 3];
        p[0] = r, p[1] = g, p[2] = b;
    }
    void grey(int x, int y, double level) {
        const auto v = static_cast<std::uint8_t>(std::clamp(std::lround(level), 0L, 255L));
        put(x, y, v, v, v);
    }
    std::vector<std::uint8_t> take() { return std::move(rgb_); }

private:
    int width_, height_;
    std::vector<std::uint8_t> rgb_;
};

}  // namespace

Crop cropSize(const Y4mFormat &f) {
    const int k = shrinkFor(f);
    Crop c;
    c.width = std::max(1, f.width / k / kZoom);
    c.height = std::max(1, f.height / k / kZoom);
    return c;
}

Crop busiestCrop(const Y4mFormat &f, const std::uint8_t *before, const std::uint8_t *after) {
    const std::vector<double> d = lumaRemoved(f, before, after);
    const int w = f.width, h = f.height;
    // Summed-area table of |removed|: every window in constant time.
    std::vector<double> sums(std::size_t(w + 1) * (h + 1), 0.0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            sums[(y + 1) * std::size_t(w + 1) + x + 1] = std::abs(d[std::size_t(y) * w + x]) +
                                                       sums[y * std::size_t(w + 1) + x + 1] +
                                                       sums[(y + 1) * std::size_t(w + 1) + x] -
                                                       sums[y * std::size_t(w + 1) + x];
    Crop best = cropSize(f);
    const int stepX = std::max(1, best.width / 2), stepY = std::max(1, best.height / 2);
    double most = -1;
    for (int y = 0; y + best.height <= h; y += stepY)
        for (int x = 0; x + best.width <= w; x += stepX) {
            const auto at = [&](int xx, int yy) { return sums[std::size_t(yy) * (w + 1) + xx]; };
            const double s = at(x + best.width, y + best.height) - at(x, y + best.height) -
                             at(x + best.width, y) + at(x, y);
            if (s > most) most = s, best.x = x, best.y = y;
        }
    return best;
}

namespace {

const TextStyle kHeading{16, true}, kCaption{14, false};
constexpr int kTextPad = 5;  // above and below a line of text in its band

struct Captions {
    std::string whole, crop, removed, removedWhole, removedCrop;
};

Captions captionsFor(int shrink, int gain) {
    Captions c;
    c.whole = "whole frame" + (shrink > 1 ? " at 1/" + std::to_string(shrink) + " size" : std::string()) +
              ", the crop framed in yellow";
    c.crop = "crop \u00d7" + std::to_string(kZoom) + ", luma, contrast stretched";
    c.removed = "removed luma (before \u2212 after) \u00d7" + std::to_string(gain);
    c.removedWhole = "whole frame";
    c.removedCrop = "crop \u00d7" + std::to_string(kZoom);
    return c;
}

// Two sections. The top one, headed "before" and "after" over its columns, holds the
// whole frames and the magnified crops, a caption band above each row. Below a rule,
// the removed luma has a heading of its own across both columns and a caption over
// each of its two panels, so that nothing suggests it is a before or an after. Text
// never covers a picture; the columns widen (pictures centred in them) when a small
// frame is narrower than its captions, and the bottom row is as tall as its taller
// panel.
struct Layout {
    int width = 0, height = 0, column = 0, headingTop = 0, ruleY = 0, removedHeadingTop = 0;
    int bandTop[3] = {}, rowTop[3] = {};
    int left(int side) const { return side * (column + kGap); }
};

Layout layoutFor(int tileWidth, int tileHeight, const Crop &crop, const Captions &c) {
    Layout l;
    const int zoomedWidth = crop.width * kZoom, zoomedHeight = crop.height * kZoom;
    const int spanned = std::max({textWidth(c.whole, kCaption), textWidth(c.crop, kCaption),
                                  textWidth(c.removed, kHeading)}) +
                        2 * kTextPad;
    l.column = std::max({tileWidth, zoomedWidth, (spanned - kGap + 1) / 2,
                         textWidth(c.removedWhole, kCaption) + 2 * kTextPad,
                         textWidth(c.removedCrop, kCaption) + 2 * kTextPad,
                         textWidth("before", kHeading) + 2 * kTextPad, textWidth("after", kHeading) + 2 * kTextPad});
    l.width = 2 * l.column + kGap;
    const int heading = lineHeight(kHeading) + 2 * kTextPad, band = lineHeight(kCaption) + 2 * kTextPad;
    const int rowHeight[3] = {tileHeight, zoomedHeight, std::max(tileHeight, zoomedHeight)};
    int y = heading;
    for (int row = 0; row < 3; ++row) {
        if (row == 2) {
            l.ruleY = y + kGap;
            l.removedHeadingTop = l.ruleY + 1 + kGap;
            y = l.removedHeadingTop + heading;
        }
        l.bandTop[row] = y;
        l.rowTop[row] = y + band;
        y = l.rowTop[row] + rowHeight[row];
    }
    l.height = y;
    return l;
}

std::vector<Label> labelsFor(const Layout &l, const Captions &c) {
    const auto centre = [&](int side) { return l.left(side) + l.column / 2; };
    const int textTop = kTextPad;
    return {{"before", centre(0), l.headingTop + textTop, kHeading},
            {"after", centre(1), l.headingTop + textTop, kHeading},
            {c.whole, l.width / 2, l.bandTop[0] + textTop, kCaption},
            {c.crop, l.width / 2, l.bandTop[1] + textTop, kCaption},
            {c.removed, l.width / 2, l.removedHeadingTop + textTop, kHeading},
            {c.removedWhole, centre(0), l.bandTop[2] + textTop, kCaption},
            {c.removedCrop, centre(1), l.bandTop[2] + textTop, kCaption}};
}

// Four times the typical change reaches black or white; a power of two reads easily.
int differenceGainFor(const std::vector<double> &removed) {
    double squares = 0;
    for (double v : removed) squares += v * v;
    const double rms = std::sqrt(squares / static_cast<double>(removed.size()));
    int gain = 64;
    while (gain > 1 && gain * 4 * rms > 127) gain /= 2;
    return gain;
}

// Where each part goes: the whole frames centred in their columns, the magnified
// crops likewise; the bottom row has the whole frame's place on the left and the
// crop's on the right.
void placeParts(ComparisonPicture &pic, const Layout &layout, int tw, int th, const Crop &crop) {
    const int zw = crop.width * kZoom, zh = crop.height * kZoom;
    for (int side = 0; side < 2; ++side) {
        pic.parts[0][side] = {layout.left(side) + (layout.column - tw) / 2, layout.rowTop[0], tw, th};
        pic.parts[1][side] = {layout.left(side) + (layout.column - zw) / 2, layout.rowTop[1], zw, zh};
    }
    pic.parts[2][0] = {pic.parts[0][0].x, layout.rowTop[2], tw, th};
    pic.parts[2][1] = {pic.parts[1][1].x, layout.rowTop[2], zw, zh};
}

struct Rgb {
    std::uint8_t r, g, b;
};
constexpr Rgb kMarkYellow{255, 224, 0}, kMarkDark{24, 24, 24};

// The crop's place on the whole frame before: a yellow frame two pixels wide between
// two dark lines, just outside the crop so that none of it is hidden, which stands
// out from light and dark surroundings alike. Where the frame is shown much reduced
// (a 4K frame's crop is some 27 x 15 pixels of a 640 x 360 picture) short pointers
// of the same colours at the picture's four edges lead the eye to it.
void markCrop(Canvas &canvas, const Area &whole, int shrink, const Crop &crop) {
    const auto fill = [&](int x0, int y0, int x1, int y1, Rgb c) {  // [x0, x1) x [y0, y1), clipped
        for (int y = std::max(0, y0); y < std::min(whole.height, y1); ++y)
            for (int x = std::max(0, x0); x < std::min(whole.width, x1); ++x) canvas.put(whole.x + x, whole.y + y, c.r, c.g, c.b);
    };
    const int x0 = crop.x / shrink, y0 = crop.y / shrink;
    const int x1 = (crop.x + crop.width + shrink - 1) / shrink, y1 = (crop.y + crop.height + shrink - 1) / shrink;
    const auto ring = [&](int d, Rgb c) {
        fill(x0 - d, y0 - d, x1 + d, y0 - d + 1, c);
        fill(x0 - d, y1 + d - 1, x1 + d, y1 + d, c);
        fill(x0 - d, y0 - d, x0 - d + 1, y1 + d, c);
        fill(x1 + d - 1, y0 - d, x1 + d, y1 + d, c);
    };
    ring(1, kMarkDark), ring(2, kMarkYellow), ring(3, kMarkYellow), ring(4, kMarkDark);

    if (x1 - x0 >= whole.width / 8 && y1 - y0 >= whole.height / 8) return;
    const int reach = std::max(8, std::min(whole.width, whole.height) / 24);
    const int mx = (x0 + x1) / 2, my = (y0 + y1) / 2;
    const auto pointer = [&](int px0, int py0, int px1, int py1, bool across) {
        fill(px0 - !across, py0 - across, px1 + !across, py1 + across, kMarkDark);
        fill(px0, py0, px1, py1, kMarkYellow);
    };
    // Each pointer only where it stops short of the frame; a mark near an edge is found anyway.
    if (reach < y0 - 6) pointer(mx - 1, 0, mx + 1, reach, false);
    if (y1 + 6 < whole.height - reach) pointer(mx - 1, whole.height - reach, mx + 1, whole.height, false);
    if (reach < x0 - 6) pointer(0, my - 1, reach, my + 1, true);
    if (x1 + 6 < whole.width - reach) pointer(whole.width - reach, my - 1, whole.width, my + 1, true);
}

// Whole frames in colour, box-averaged down when large, the crop marked on the left.
void drawWholeFrames(Canvas &canvas, const ComparisonPicture &pic, const Y4mFormat &f, const std::uint8_t *before,
                     const std::uint8_t *after, const Crop &crop) {
    const int k = pic.shrink, tw = pic.parts[0][0].width, th = pic.parts[0][0].height;
    for (int side = 0; side < 2; ++side) {
        const std::vector<std::uint8_t> rgb = frameToRgb(f, side ? after : before);
        const Area &at = pic.parts[0][side];
        for (int y = 0; y < th; ++y)
            for (int x = 0; x < tw; ++x) {
                int sum[3] = {0, 0, 0};
                for (int j = 0; j < k; ++j)
                    for (int i = 0; i < k; ++i)
                        for (int c = 0; c < 3; ++c) sum[c] += rgb[((std::size_t(y) * k + j) * f.width + x * k + i) * 3 + c];
                const int n = k * k;
                canvas.put(at.x + x, at.y + y, std::uint8_t((sum[0] + n / 2) / n),
                           std::uint8_t((sum[1] + n / 2) / n), std::uint8_t((sum[2] + n / 2) / n));
            }
    }
    markCrop(canvas, pic.parts[0][0], k, crop);
}

std::string legendFor(const ComparisonPicture &pic, const Crop &crop) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "top: the whole frame%s, before (left, the crop framed in yellow) and after;\n"
                  "middle: the crop (%dx%d at %d,%d) magnified %d times, luma only, contrast "
                  "stretched alike on both sides;\n"
                  "bottom: the luma the filter removed (before - after), times %d around mid grey "
                  "(lighter: it lowered the pixel), the whole frame on the left and the crop on the right",
                  pic.shrink > 1 ? (" at 1/" + std::to_string(pic.shrink) + " size").c_str() : "", crop.width,
                  crop.height, crop.x, crop.y, kZoom, pic.differenceGain);
    return text;
}

}  // namespace

ComparisonPicture makeComparison(const Y4mFormat &f, const std::uint8_t *before, const std::uint8_t *after,
                                 const Crop &crop) {
    ComparisonPicture pic;
    const int k = shrinkFor(f), tw = f.width / k, th = f.height / k;
    pic.shrink = k;
    const std::vector<double> removed = lumaRemoved(f, before, after);
    pic.differenceGain = differenceGainFor(removed);
    const double gain = pic.differenceGain;

    const Captions captions = captionsFor(k, pic.differenceGain);
    const Layout layout = layoutFor(tw, th, crop, captions);
    pic.width = layout.width;
    pic.height = layout.height;
    placeParts(pic, layout, tw, th, crop);
    Canvas canvas(pic.width, pic.height);
    for (int x = 0; x < pic.width; ++x) canvas.put(x, layout.ruleY, 160, 160, 160);
    drawWholeFrames(canvas, pic, f, before, after, crop);

    // Histogram stretch from the before crop: a level's grey is its mid-rank there.
    std::vector<int> levels;
    levels.reserve(std::size_t(crop.width) * crop.height);
    for (int y = 0; y < crop.height; ++y)
        for (int x = 0; x < crop.width; ++x)
            levels.push_back(lumaAt(f, before, std::size_t(crop.y + y) * f.width + crop.x + x));
    std::sort(levels.begin(), levels.end());
    const auto stretch = [&](int v) {
        const auto lo = std::lower_bound(levels.begin(), levels.end(), v) - levels.begin();
        const auto hi = std::upper_bound(levels.begin(), levels.end(), v) - levels.begin();
        return 255.0 * static_cast<double>(lo + hi) / (2.0 * static_cast<double>(levels.size()));
    };

    const Area &zoomBefore = pic.parts[1][0], &zoomAfter = pic.parts[1][1], &zoomRemoved = pic.parts[2][1];
    for (int y = 0; y < zoomBefore.height; ++y)
        for (int x = 0; x < zoomBefore.width; ++x) {
            const std::size_t i = std::size_t(crop.y + y / kZoom) * f.width + crop.x + x / kZoom;
            canvas.grey(zoomBefore.x + x, zoomBefore.y + y, stretch(lumaAt(f, before, i)));
            canvas.grey(zoomAfter.x + x, zoomAfter.y + y, stretch(lumaAt(f, after, i)));
            canvas.grey(zoomRemoved.x + x, zoomRemoved.y + y, 128 + gain * removed[i]);
        }
    const Area &wholeRemoved = pic.parts[2][0];
    for (int y = 0; y < th; ++y)
        for (int x = 0; x < tw; ++x) {
            double sum = 0;
            for (int j = 0; j < k; ++j)
                for (int i = 0; i < k; ++i) sum += removed[(std::size_t(y) * k + j) * f.width + x * k + i];
            canvas.grey(wholeRemoved.x + x, wholeRemoved.y + y, 128 + gain * sum / (k * k));
        }
    pic.rgb = canvas.take();
    // Without a font to draw with the picture still stands; the printed legend names the parts.
    drawLabels(pic.rgb, pic.width, pic.height, labelsFor(layout, captions));
    pic.legend = legendFor(pic, crop);
    return pic;
}

}  // namespace q5cli
