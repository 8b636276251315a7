// PNG without a compression library: the zlib stream holds stored (uncompressed)
// deflate blocks, which every decoder reads; the checksums are computed here.
#include "cli/png.h"

#include <algorithm>
#include <array>

namespace q5cli {

std::uint32_t crc32(const std::uint8_t *data, std::size_t size, std::uint32_t crc) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::uint32_t adler32(const std::uint8_t *data, std::size_t size, std::uint32_t adler) {
    std::uint32_t a = adler & 0xFFFF, b = adler >> 16;
    for (std::size_t i = 0; i < size; ++i) {
        a = (a + data[i]) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

namespace {

void put32(std::vector<std::uint8_t> &out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void putChunk(std::vector<std::uint8_t> &out, const char type[4], const std::vector<std::uint8_t> &body) {
    put32(out, static_cast<std::uint32_t>(body.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
    put32(out, crc32(out.data() + start, out.size() - start));
}

}  // namespace

std::vector<std::uint8_t> encodePng(int width, int height, const std::vector<std::uint8_t> &rgb) {
    // Raw scanlines, each behind filter type 0 (none).
    std::vector<std::uint8_t> raw;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    raw.reserve((rowBytes + 1) * height);
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), rgb.begin() + y * rowBytes, rgb.begin() + (y + 1) * rowBytes);
    }

    std::vector<std::uint8_t> zlib = {0x78, 0x01};  // deflate, 32K window, no preset dictionary
    std::size_t pos = 0;
    do {
        const std::size_t n = std::min<std::size_t>(65535, raw.size() - pos);
        const bool last = pos + n == raw.size();
        zlib.push_back(last ? 1 : 0);  // BFINAL, BTYPE 00 (stored)
        zlib.push_back(static_cast<std::uint8_t>(n));
        zlib.push_back(static_cast<std::uint8_t>(n >> 8));
        zlib.push_back(static_cast<std::uint8_t>(~n));
        zlib.push_back(static_cast<std::uint8_t>(~n >> 8));
        zlib.insert(zlib.end(), raw.begin() + pos, raw.begin() + pos + n);
        pos += n;
    } while (pos < raw.size());
    put32(zlib, adler32(raw.data(), raw.size()));

    std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> ihdr;
    put32(ihdr, static_cast<std::uint32_t>(width));
    put32(ihdr, static_cast<std::uint32_t>(height));
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, adaptive filters, no interlace
    putChunk(png, "IHDR", ihdr);
    putChunk(png, "IDAT", zlib);
    putChunk(png, "IEND", {});
    return png;
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
