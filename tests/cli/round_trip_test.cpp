// The command with the filter set to change nothing gives every code back, at every
// depth it reads: the conversions into YC48 and back and the module's own
// float-to-sample step leave untouched samples where they were.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli_support.h"

namespace {

using q5clitest::ScratchDir;

// Two 256 x 256 frames of 4:2:2 at `bits`: luma runs through every code, and Cb and
// Cr between them through every code too (each half in one plane, then swapped),
// each chroma value on a pair of pixels so that the filter's pairs carry it whole.
std::vector<std::uint8_t> everyCodeClip(int bits) {
    const int w = 256, h = 256, codes = 1 << bits;
    std::string clip = "YUV4MPEG2 W256 H256 F25:1 Ip A1:1 C422" + (bits > 8 ? "p" + std::to_string(bits) : "") + "\n";
    const auto sample = [&](int code) {
        clip += static_cast<char>(code & 0xFF);
        if (bits > 8) clip += static_cast<char>(code >> 8);
    };
    const int half = w / 2 * h;
    for (int frame = 0; frame < 2; ++frame) {
        clip += "FRAME\n";
        for (int i = 0; i < w * h; ++i) sample(i % codes);
        for (int plane = 0; plane < 2; ++plane)
            for (int i = 0; i < half; ++i) sample((i + (plane == frame ? 0 : half)) % codes);
    }
    return {clip.begin(), clip.end()};
}

TEST(QuorvaneRoundTrip, EveryCodeComesBackAtEveryDepthWithEveryStrengthAtZero) {
    ScratchDir dir;
    const std::string in = dir.file("in.y4m"), out = dir.file("out.y4m");
    for (int bits = 8; bits <= 16; ++bits) {
        SCOPED_TRACE(testing::Message() << bits << " bits");
        const std::vector<std::uint8_t> clip = everyCodeClip(bits);
        q5clitest::writeBytes(in, clip);
        const q5clitest::CliRun run =
            q5clitest::runCli({"-q", "--threads", "2", "--tarnel", "0", "--w2dnrl", "0", "--w2dnrh", "0",
                               "--no-mosquito", "--no-block", "--no-rounding", in, out});
        ASSERT_EQ(run.status, 0) << run.errText;
        const std::vector<std::uint8_t> back = q5clitest::readBytes(out);
        ASSERT_EQ(back.size(), clip.size());
        // The first differing sample, by plane, so a failure says what moved.
        const std::size_t header = std::string(clip.begin(), clip.end()).find('\n') + 1 + 6;
        const std::size_t bytesPerSample = bits > 8 ? 2 : 1;
        for (std::size_t i = header; i < clip.size(); i += bytesPerSample) {
            const int sent = clip[i] | (bits > 8 ? clip[i + 1] << 8 : 0);
            const int got = back[i] | (bits > 8 ? back[i + 1] << 8 : 0);
            ASSERT_EQ(got, sent) << "at byte " << i << " of " << clip.size();
        }
    }
}

}  // namespace
