// PNG without a compression library: rows through PNG's adaptive filters, then one
// deflate block with the fixed Huffman codes and LZ77 matches; checksums computed here.
#include "cli/io/png.h"

#include <algorithm>
#include <array>
#include <cstdlib>

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

// Deflate bits go out least significant first; Huffman codes most significant first.
class BitWriter {
public:
    explicit BitWriter(std::vector<std::uint8_t> &out) : out_(out) {}
    void bits(std::uint32_t value, int count) {
        acc_ |= value << fill_;
        fill_ += count;
        while (fill_ >= 8) {
            out_.push_back(static_cast<std::uint8_t>(acc_));
            acc_ >>= 8;
            fill_ -= 8;
        }
    }
    void code(std::uint32_t code, int length) {
        std::uint32_t reversed = 0;
        for (int i = 0; i < length; ++i) reversed |= ((code >> i) & 1) << (length - 1 - i);
        bits(reversed, length);
    }
    void flush() {
        if (fill_ > 0) out_.push_back(static_cast<std::uint8_t>(acc_));
        acc_ = 0, fill_ = 0;
    }

private:
    std::vector<std::uint8_t> &out_;
    std::uint32_t acc_ = 0;
    int fill_ = 0;
};

// The fixed literal/length code of deflate.
void literalCode(BitWriter &w, int symbol) {
    if (symbol < 144) w.code(0x30 + symbol, 8);
    else if (symbol < 256) w.code(0x190 + symbol - 144, 9);
    else if (symbol < 280) w.code(symbol - 256, 7);
    else w.code(0xC0 + symbol - 280, 8);
}

constexpr int kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr int kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr int kDistanceBase[30] = {1,   2,   3,   4,   5,    7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                   193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};

void matchCode(BitWriter &w, int length, int distance) {
    int l = 28;
    while (kLengthBase[l] > length) --l;
    literalCode(w, 257 + l);
    w.bits(static_cast<std::uint32_t>(length - kLengthBase[l]), kLengthExtra[l]);
    int d = 29;
    while (kDistanceBase[d] > distance) --d;
    w.code(static_cast<std::uint32_t>(d), 5);
    w.bits(static_cast<std::uint32_t>(distance - kDistanceBase[d]), d < 4 ? 0 : d / 2 - 1);
}

// One deflate block with the fixed codes, matches found by hash chains in a 32 KiB window.
std::vector<std::uint8_t> deflate(const std::vector<std::uint8_t> &data) {
    constexpr int kWindow = 32768, kHashBits = 15, kChain = 24, kMaxMatch = 258;
    std::vector<std::uint8_t> out;
    BitWriter w(out);
    w.bits(1, 1);  // the last block
    w.bits(1, 2);  // fixed Huffman codes
    std::vector<int> head(1 << kHashBits, -1), prev(data.size(), -1);
    const std::size_t n = data.size();
    const auto hash = [&](std::size_t i) {
        return ((data[i] << 10) ^ (data[i + 1] << 5) ^ data[i + 2]) & ((1 << kHashBits) - 1);
    };
    const auto insert = [&](std::size_t i) {
        if (i + 2 >= n) return;
        const int h = hash(i);
        prev[i] = head[h];
        head[h] = static_cast<int>(i);
    };
    for (std::size_t i = 0; i < n;) {
        int bestLength = 0, bestDistance = 0;
        if (i + 2 < n) {
            int candidate = head[hash(i)];
            const int limit = static_cast<int>(std::min<std::size_t>(kMaxMatch, n - i));
            for (int chain = 0; candidate >= 0 && static_cast<int>(i) - candidate <= kWindow && chain < kChain;
                 ++chain, candidate = prev[candidate]) {
                int length = 0;
                while (length < limit && data[candidate + length] == data[i + length]) ++length;
                if (length > bestLength) bestLength = length, bestDistance = static_cast<int>(i) - candidate;
                if (length == limit) break;
            }
        }
        if (bestLength >= 3) {
            matchCode(w, bestLength, bestDistance);
            for (int k = 0; k < bestLength; ++k) insert(i + k);
            i += bestLength;
        } else {
            literalCode(w, data[i]);
            insert(i);
            ++i;
        }
    }
    literalCode(w, 256);
    w.flush();
    return out;
}

// PNG's row filters; each row takes the one whose output is smallest in magnitude,
// which suits both the flat whole frames and the noisy crops.
std::vector<std::uint8_t> filterRows(int width, int height, const std::vector<std::uint8_t> &rgb) {
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    std::vector<std::uint8_t> raw;
    raw.reserve((rowBytes + 1) * height);
    std::vector<std::uint8_t> candidate(rowBytes), best(rowBytes);
    const std::vector<std::uint8_t> zeros(rowBytes, 0);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t *row = &rgb[y * rowBytes];
        const std::uint8_t *up = y > 0 ? &rgb[(y - 1) * rowBytes] : zeros.data();
        long bestCost = -1;
        int bestType = 0;
        for (int type = 0; type < 5; ++type) {
            long cost = 0;
            for (std::size_t i = 0; i < rowBytes; ++i) {
                const int a = i >= 3 ? row[i - 3] : 0, b = up[i], c = i >= 3 ? up[i - 3] : 0;
                int predicted = 0;
                if (type == 1) predicted = a;
                else if (type == 2) predicted = b;
                else if (type == 3) predicted = (a + b) / 2;
                else if (type == 4) {
                    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
                    predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
                }
                candidate[i] = static_cast<std::uint8_t>(row[i] - predicted);
                cost += std::abs(static_cast<std::int8_t>(candidate[i]));
            }
            if (bestCost < 0 || cost < bestCost) bestCost = cost, bestType = type, best.swap(candidate);
        }
        raw.push_back(static_cast<std::uint8_t>(bestType));
        raw.insert(raw.end(), best.begin(), best.end());
    }
    return raw;
}

}  // namespace

std::vector<std::uint8_t> encodePng(int width, int height, const std::vector<std::uint8_t> &rgb) {
    const std::vector<std::uint8_t> raw = filterRows(width, height, rgb);
    std::vector<std::uint8_t> zlib = {0x78, 0x01};  // deflate, 32 KiB window, no preset dictionary
    const std::vector<std::uint8_t> body = deflate(raw);
    zlib.insert(zlib.end(), body.begin(), body.end());
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
