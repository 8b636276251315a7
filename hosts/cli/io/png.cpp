// PNGs through libpng's simplified writer: it picks the row filters and compresses
// with zlib, so the files stay small and standard without a codec of our own.
#include "cli/io/png.h"

#include <png.h>

#include <algorithm>
#include <stdexcept>

namespace q5cli {

std::vector<std::uint8_t> encodePng(int width, int height, const std::vector<std::uint8_t> &rgb) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    if (width <= 0 || height <= 0 || width > 0x7FFFFFFF / 3 ||
        rgb.size() != static_cast<std::size_t>(width) * 3 * static_cast<std::size_t>(height))
        throw std::invalid_argument("a PNG needs a picture of at least one pixel, 3 bytes a pixel");
    const png_int_32 stride = width * 3;
    // The first call only measures; the second writes into a buffer of that size.
    png_alloc_size_t size = 0;
    std::vector<std::uint8_t> png;
    if (png_image_write_to_memory(&image, nullptr, &size, 0, rgb.data(), stride, nullptr)) {
        png.resize(size);
        if (png_image_write_to_memory(&image, png.data(), &size, 0, rgb.data(), stride, nullptr)) {
            png.resize(size);
            return png;
        }
    }
    const std::string why = image.message;
    png_image_free(&image);
    throw std::runtime_error("could not encode the PNG: " + why);
}

std::vector<std::uint8_t> frameToRgb(const Y4mFormat &f, const std::uint8_t *frame) {
    const int s = f.bits - 8;
    const auto code8 = [&](const std::uint8_t *plane, std::size_t i) {
        const int v = f.bits > 8 ? (plane[2 * i] | (plane[2 * i + 1] << 8)) : plane[i];
        return std::min(v >> s, 255);
    };
    const std::uint8_t *cb = frame + f.lumaBytes();
    const std::uint8_t *cr = cb + f.chromaBytes();
    const int cw = f.chromaWidth(), ch = f.chromaHeight();
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(f.width) * f.height * 3);
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * f.width + x;
            const int c = 298 * (code8(frame, i) - 16);
            int d = 0, e = 0;
            if (f.subsampling != Subsampling::Mono) {
                const int cx = static_cast<int>(static_cast<long long>(x) * cw / f.width);
                const int cy = static_cast<int>(static_cast<long long>(y) * ch / f.height);
                const std::size_t j = static_cast<std::size_t>(cy) * cw + cx;
                d = code8(cb, j) - 128;
                e = code8(cr, j) - 128;
            }
            const auto clip = [](int v) { return static_cast<std::uint8_t>(std::clamp((v + 128) >> 8, 0, 255)); };
            rgb[3 * i] = clip(c + 409 * e);
            rgb[3 * i + 1] = clip(c - 100 * d - 208 * e);
            rgb[3 * i + 2] = clip(c + 516 * d);
        }
    return rgb;
}

}  // namespace q5cli
