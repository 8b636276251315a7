// Join comparisons for the chunked runs' tests.
#include "cli/join_support.h"

#include <algorithm>
#include <cstdlib>

#include "cli/cli_support.h"

namespace q5clitest {

bool carriedRemainderReach(int x, int y, int width, bool fields) {
    const int w = (width + 15) & ~15;
    const int k = fields ? y % 8 / 2 : y % 4;
    return x / 4 + 4 * k + x % 4 >= w / 4;
}

JoinDifference compareJoin(const q5cli::Y4mFormat &format, const std::vector<q5cli::Y4mFrame> &whole,
                           const std::vector<q5cli::Y4mFrame> &joined, bool fields) {
    JoinDifference d;
    const int width = format.width, cw = format.chromaWidth();
    const std::size_t luma = format.lumaBytes(), chroma = format.chromaBytes();
    for (std::size_t n = 0; n < whole.size() && n < joined.size(); ++n) {
        const std::vector<std::uint8_t> &a = whole[n].data, &b = joined[n].data;
        for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
            if (a[i] == b[i]) continue;
            bool reached;
            if (i < luma) {
                reached = carriedRemainderReach(static_cast<int>(i % width), static_cast<int>(i / width), width, fields);
            } else {
                const int cx = static_cast<int>((i - luma) % chroma % cw);
                reached = carriedRemainderReach(std::min(2 * cx + 1, width - 1), 3, width, false);
            }
            ++d.samples;
            d.largest = std::max(d.largest, std::abs(a[i] - b[i]));
            if (!reached) ++d.outside;
            if (d.firstFrame < 0) d.firstFrame = static_cast<int>(n);
        }
    }
    return d;
}

std::vector<q5cli::Y4mFrame> framesOf(const std::vector<std::uint8_t> &bytes, q5cli::Y4mFormat *format,
                                      std::string *error) {
    std::vector<q5cli::Y4mFrame> frames;
    if (!parseY4m(bytes, format, &frames, error)) frames.clear();
    return frames;
}

std::vector<std::uint8_t> flatBrightClip(const std::string &header, int frames, std::uint32_t seed) {
    q5cli::Y4mFormat format;
    std::string error;
    q5cli::parseY4mHeader(header, &format, &error);
    std::vector<std::uint8_t> out(header.begin(), header.end());
    out.push_back('\n');
    std::uint32_t state = seed * 2654435761u + 1;
    const auto bit = [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<int>(state >> 31);
    };
    for (int n = 0; n < frames; ++n) {
        for (char c : std::string("FRAME\n")) out.push_back(static_cast<std::uint8_t>(c));
        for (int y = 0; y < format.height; ++y)
            for (int x = 0; x < format.width; ++x)
                out.push_back(static_cast<std::uint8_t>(200 + (3 * x + 5 * y + n) / 40 % 3 + bit()));
        for (std::size_t i = 0; i < 2 * format.chromaBytes(); ++i) out.push_back(static_cast<std::uint8_t>(128 + bit()));
    }
    return out;
}

}  // namespace q5clitest
