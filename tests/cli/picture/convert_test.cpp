// YUV <-> YC48 sample rules and whole-frame conversion with chroma resampling.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "cli/cli_support.h"
#include "cli/picture/convert.h"
#include "cli/picture/convert_kernels.h"
#include "support/support.h"

namespace {

using q5cli::FrameConverter;
using q5cli::Y4mFormat;

Y4mFormat formatOf(const std::string &header) {
    Y4mFormat f;
    std::string error;
    EXPECT_TRUE(q5cli::parseY4mHeader(header, &f, &error)) << error;
    return f;
}

TEST(SampleRules, EightBitInIsTheHostsRuleAndOutIsTheNearestCode) {
    // Hand-evaluated points of the host's rules.
    EXPECT_EQ(q5cli::lumaToYc48(16, 8), 0);        // (16*1197 >> 6) - 299 = 299 - 299
    EXPECT_EQ(q5cli::lumaToYc48(235, 8), 4096);    // 4395 - 299
    EXPECT_EQ(q5cli::lumaToYc48(0, 8), -299);
    EXPECT_EQ(q5cli::chromaToYc48(128, 8), 0);     // 164 >> 8
    EXPECT_EQ(q5cli::chromaToYc48(16, 8), -2048);  // (-112*4681 + 164) >> 8 = -2047.3 floored
    EXPECT_EQ(q5cli::chromaToYc48(240, 8), 2048);
    EXPECT_EQ(q5cli::chromaToYc48(0, 8), -2340);
    EXPECT_EQ(q5cli::lumaFromYc48(0, 8), 16);
    EXPECT_EQ(q5cli::lumaFromYc48(4096, 8), 235);
    // Between codes the nearest one (the editor's truncating rule gave 125 here).
    EXPECT_EQ(q5cli::lumaFromYc48(q5cli::lumaToYc48(126, 8) - 8, 8), 126);
    EXPECT_EQ(q5cli::lumaFromYc48(-8192, 8), 0);   // clamped
    EXPECT_EQ(q5cli::lumaFromYc48(8192, 8), 255);
    EXPECT_EQ(q5cli::chromaFromYc48(-2048, 8), 16);
    EXPECT_EQ(q5cli::chromaFromYc48(2048, 8), 240);
    EXPECT_EQ(q5cli::chromaFromYc48(0, 8), 128);   // (2048*7 + 64) >> 7 = 112
    // Exact ties go up: chroma 64 is 131.5, luma 2048 is 125.5.
    EXPECT_EQ(q5cli::chromaFromYc48(64, 8), 132);
    EXPECT_EQ(q5cli::lumaFromYc48(2048, 8), 126);
}

TEST(SampleRules, BackToEveryDepthIsTheNearestCodeWithoutBias) {
    for (int bits = 8; bits <= 16; ++bits) {
        const double scale = 1 << (bits - 8), top = (1 << bits) - 1;
        double bias[2] = {0, 0};
        int n[2] = {0, 0};
        for (int v = -2600; v <= 4600; ++v) {
            // The exact codes of a YC48 value: 219 luma and 224 chroma steps over 4096.
            const double exact[2] = {(v * 219 / 4096.0 + 16) * scale, ((v + 2048) * 7 / 128.0 + 16) * scale};
            const int code[2] = {q5cli::lumaFromYc48(v, bits), q5cli::chromaFromYc48(v, bits)};
            for (int c = 0; c < 2; ++c) {
                ASSERT_LE(std::abs(code[c] - std::clamp(exact[c], 0.0, top)), 0.5)
                    << bits << " bits, " << (c ? "chroma " : "luma ") << v;
                if (exact[c] > 0.5 && exact[c] < top - 0.5) bias[c] += code[c] - exact[c], ++n[c];
            }
        }
        // Mean error within a hundredth of an 8-bit code.
        EXPECT_LT(std::abs(bias[0] / n[0]), 0.01 * scale) << bits << " bits, luma";
        EXPECT_LT(std::abs(bias[1] / n[1]), 0.01 * scale) << bits << " bits, chroma";
    }
}

TEST(SampleRules, DeeperCodesReadAsEightBitCodesWithFractionalBits) {
    // A 10-bit code four times an 8-bit one converts like the 8-bit code.
    for (int v = 0; v < 256; ++v) {
        EXPECT_EQ(q5cli::lumaToYc48(v * 4, 10), q5cli::lumaToYc48(v, 8));
        EXPECT_EQ(q5cli::chromaToYc48(v * 4, 10), q5cli::chromaToYc48(v, 8));
        EXPECT_EQ(q5cli::lumaToYc48(v * 256, 16), q5cli::lumaToYc48(v, 8));
    }
    // The fraction counts: 10-bit 66 is 8-bit 16.5.
    EXPECT_EQ(q5cli::lumaToYc48(66, 10), (66 * 1197 >> 8) - 299);
    EXPECT_EQ(q5cli::lumaFromYc48(0, 10), 64);
    EXPECT_EQ(q5cli::lumaFromYc48(4096, 10), 940);
    EXPECT_EQ(q5cli::chromaFromYc48(0, 10), 512);
    EXPECT_EQ(q5cli::chromaFromYc48(2048, 10), 960);
    EXPECT_EQ(q5cli::lumaFromYc48(8192, 10), 1023);
    EXPECT_EQ(q5cli::chromaFromYc48(-8192, 16), 0);
}

TEST(SampleRules, EveryCodeOfEightToElevenBitsComesBackUnchanged) {
    for (int bits = 8; bits <= 11; ++bits)
        for (int v = 0; v < (1 << bits); ++v) {
            ASSERT_EQ(q5cli::lumaFromYc48(q5cli::lumaToYc48(v, bits), bits), v) << bits << " bits";
            ASSERT_EQ(q5cli::chromaFromYc48(q5cli::chromaToYc48(v, bits), bits), v) << bits << " bits";
        }
    // Deeper codes outnumber the YC48 steps; they come back within one step of it.
    for (int bits = 12; bits <= 16; ++bits)
        for (int v = 0; v < (1 << bits); v += 7) {
            const int step = 1 << (bits - 11);
            ASSERT_NEAR(q5cli::lumaFromYc48(q5cli::lumaToYc48(v, bits), bits), v, step);
            ASSERT_NEAR(q5cli::chromaFromYc48(q5cli::chromaToYc48(v, bits), bits), v, step);
        }
}

TEST(ChromaRow, InterlacedRowsAlternateBetweenTheFields) {
    // Chroma row 2m + f serves lines 2m and 2m + 1 of field f: rows 4m + f and 4m + 2 + f.
    const int expected[8] = {0, 1, 0, 1, 2, 3, 2, 3};
    for (int y = 0; y < 8; ++y) EXPECT_EQ(q5cli::chromaRowOf(y, 8, true), expected[y]);
    for (int y = 0; y < 8; ++y) EXPECT_EQ(q5cli::chromaRowOf(y, 8, false), y / 2);
    // Height 6: the bottom field's last line shares its field's last chroma row.
    EXPECT_EQ(q5cli::chromaRowOf(4, 6, true), 2);
    EXPECT_EQ(q5cli::chromaRowOf(5, 6, true), 1);
    EXPECT_EQ(q5cli::chromaRowOf(1, 2, true), 0);
}

TEST(ChromaRow, MixedStreamsFollowEachFrameTag) {
    const Y4mFormat mixed = formatOf("YUV4MPEG2 W8 H8 Im C420jpeg");
    EXPECT_TRUE(q5cli::frameChromaInterlaced(mixed, " Itii"));
    EXPECT_FALSE(q5cli::frameChromaInterlaced(mixed, " Itip"));
    EXPECT_FALSE(q5cli::frameChromaInterlaced(mixed, " X=1 I1p?"));
    EXPECT_TRUE(q5cli::frameChromaInterlaced(mixed, ""));
    EXPECT_FALSE(q5cli::frameChromaInterlaced(formatOf("YUV4MPEG2 W8 H8 Ip"), " Itii"));
    EXPECT_TRUE(q5cli::frameChromaInterlaced(formatOf("YUV4MPEG2 W8 H8 Ib"), ""));
}

TEST(FrameConverter, EveryFormatComesBackExactlyWhereTheRulesAreExact) {
    const char *headers[] = {
        "YUV4MPEG2 W34 H18 Ip C420jpeg",  "YUV4MPEG2 W34 H18 It C420mpeg2", "YUV4MPEG2 W34 H22 Ib C420paldv",
        "YUV4MPEG2 W34 H18 C420",         "YUV4MPEG2 W34 H18 Im C420",      "YUV4MPEG2 W34 H17 C422",
        "YUV4MPEG2 W33 H17 C444",         "YUV4MPEG2 W33 H17 Cmono",        "YUV4MPEG2 W34 H18 It C420p10",
        "YUV4MPEG2 W34 H17 C422p10",      "YUV4MPEG2 W33 H17 C444p10",      "YUV4MPEG2 W33 H17 Cmono10",
        "YUV4MPEG2 W34 H18 C420p9",       "YUV4MPEG2 W34 H18 C444p16",
    };
    for (const char *header : headers) {
        SCOPED_TRACE(header);
        const Y4mFormat f = formatOf(header);
        const auto stream = q5clitest::randomY4m(header, 1, q5test::testSeed());
        const std::vector<std::uint8_t> in(stream.end() - f.frameBytes(), stream.end());
        const FrameConverter converter(f);
        const int pitch = f.width + 5;
        std::vector<PIXEL_YC> image(static_cast<std::size_t>(pitch) * f.height, PIXEL_YC{-1, -1, -1});
        for (const char *params : {"", " Itii", " Itpp"}) {
            converter.toYc48(in.data(), params, image.data(), pitch);
            std::vector<std::uint8_t> out(f.frameBytes());
            converter.fromYc48(image.data(), pitch, params, out.data(), in.data());
            EXPECT_EQ(out, in) << "frame params \"" << params << "\"";
        }
        // Nothing outside the picture is touched.
        for (int y = 0; y < f.height; ++y)
            for (int x = f.width; x < pitch; ++x) ASSERT_EQ(image[y * pitch + x].y, -1);
    }
}

TEST(FrameConverter, EveryCodeComesBackWhenTheFilterLeavesItAlone) {
    for (const char *header : {"YUV4MPEG2 W256 H1 C444", "YUV4MPEG2 W256 H4 C444p10",
                               "YUV4MPEG2 W256 H256 C444p16"}) {
        SCOPED_TRACE(header);
        const Y4mFormat f = formatOf(header);
        const int codes = f.maxCode() + 1;
        std::vector<std::uint8_t> in(f.frameBytes());
        for (int i = 0; i < codes; ++i) {
            const int sample[3] = {i, (i * 7 + 3) % codes, codes - 1 - i};
            for (int p = 0; p < 3; ++p) {
                const std::size_t at = (static_cast<std::size_t>(p) * codes + i) * f.bytesPerSample();
                in[at] = static_cast<std::uint8_t>(sample[p]);
                if (f.bits > 8) in[at + 1] = static_cast<std::uint8_t>(sample[p] >> 8);
            }
        }
        const FrameConverter converter(f);
        std::vector<PIXEL_YC> image(codes);
        converter.toYc48(in.data(), "", image.data(), f.width);
        std::vector<std::uint8_t> out(f.frameBytes());
        converter.fromYc48(image.data(), f.width, "", out.data(), in.data());
        EXPECT_EQ(out, in);
        // A value the filter moved comes back as its nearest code, not the input's.
        if (f.bits == 16) {
            image[1000].y += 3;
            converter.fromYc48(image.data(), f.width, "", out.data(), in.data());
            EXPECT_EQ(out[2000] | out[2001] << 8, q5cli::lumaFromYc48(image[1000].y, 16));
            EXPECT_NE(out[2000] | out[2001] << 8, 1000);
        }
    }
}

TEST(FrameConverter, RepeatsChromaOverItsPixelsAndAveragesOnTheWayOut) {
    const Y4mFormat f = formatOf("YUV4MPEG2 W4 H4 Ip C420jpeg");
    std::vector<std::uint8_t> frame(f.frameBytes(), 0);
    for (int i = 0; i < 16; ++i) frame[i] = static_cast<std::uint8_t>(16 + i);
    const std::uint8_t cb[4] = {16, 128, 200, 240}, cr[4] = {240, 100, 128, 16};
    std::copy(cb, cb + 4, frame.begin() + 16);
    std::copy(cr, cr + 4, frame.begin() + 20);
    const FrameConverter converter(f);
    std::vector<PIXEL_YC> image(16);
    converter.toYc48(frame.data(), "", image.data(), 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            const int c = (y / 2) * 2 + x / 2;
            EXPECT_EQ(image[y * 4 + x].y, q5cli::lumaToYc48(16 + y * 4 + x, 8));
            EXPECT_EQ(image[y * 4 + x].cb, q5cli::chromaToYc48(cb[c], 8));
            EXPECT_EQ(image[y * 4 + x].cr, q5cli::chromaToYc48(cr[c], 8));
        }
    // Four different values under the first chroma sample: their rounded mean.
    image[0].cb = 100, image[1].cb = 101, image[4].cb = -50, image[5].cb = 0;  // mean 37.75
    image[0].cr = -7, image[1].cr = -8, image[4].cr = -8, image[5].cr = -8;    // mean -7.75
    std::vector<std::uint8_t> out(f.frameBytes());
    converter.fromYc48(image.data(), 4, "", out.data());
    EXPECT_EQ(out[16], q5cli::chromaFromYc48(38, 8));
    EXPECT_EQ(out[20], q5cli::chromaFromYc48(-8, 8));
    EXPECT_EQ(out[17], 128);
}

TEST(FrameConverter, MonoHasNeutralChromaAndWritesLumaOnly) {
    const Y4mFormat f = formatOf("YUV4MPEG2 W3 H2 Cmono");
    const std::vector<std::uint8_t> frame = {0, 16, 100, 128, 235, 255};
    const FrameConverter converter(f);
    std::vector<PIXEL_YC> image(6);
    converter.toYc48(frame.data(), "", image.data(), 3);
    for (const PIXEL_YC &p : image) EXPECT_TRUE(p.cb == 0 && p.cr == 0);
    std::vector<std::uint8_t> out(f.frameBytes());
    ASSERT_EQ(out.size(), 6u);
    converter.fromYc48(image.data(), 3, "", out.data());
    EXPECT_EQ(out, frame);
}

TEST(FrameConverter, DeepSamplesAreLittleEndianAndStrayHighBitsClamp) {
    const Y4mFormat f = formatOf("YUV4MPEG2 W2 H1 C444p10");
    // Y = 940 (0x03AC) and an out-of-range 0xFFFF; Cb, Cr 512.
    const std::vector<std::uint8_t> frame = {0xAC, 0x03, 0xFF, 0xFF, 0, 2, 0, 2, 0, 2, 0, 2};
    std::vector<PIXEL_YC> image(2);
    FrameConverter(f).toYc48(frame.data(), "", image.data(), 2);
    EXPECT_EQ(image[0].y, 4096);
    EXPECT_EQ(image[1].y, q5cli::lumaToYc48(1023, 10));
    EXPECT_EQ(image[0].cb, 0);
}

}  // namespace

// The kernels against the scalar rules over every YC48 value the filter can leave,
// extremes included (where a 16-bit sum or a packed product would overflow), and
// over input words with stray high bits; widths that leave a scalar tail.
TEST(FrameConverter, VectorKernelsGiveTheScalarRulesBytes) {
    if (!q5cli::convert_kernels::available()) GTEST_SKIP() << "no SSSE3";
    for (const char *header :
         {"YUV4MPEG2 W50 H6 Ip C420jpeg", "YUV4MPEG2 W50 H6 It C420mpeg2", "YUV4MPEG2 W34 H5 C422",
          "YUV4MPEG2 W47 H3 C444", "YUV4MPEG2 W47 H3 Cmono", "YUV4MPEG2 W50 H6 C420p10",
          "YUV4MPEG2 W34 H5 C422p9", "YUV4MPEG2 W47 H3 C444p11", "YUV4MPEG2 W48 H4 Ib C420p11"}) {
        SCOPED_TRACE(testing::Message() << header << " seed=" << q5test::testSeed());
        const Y4mFormat f = formatOf(header);
        std::mt19937 rng(q5test::testSeed());
        const auto value = [&rng] {
            switch (rng() % 4) {
            case 0: return static_cast<std::int16_t>(rng());
            case 1: return static_cast<std::int16_t>(rng() % 2 ? 32767 : -32768);
            default: return static_cast<std::int16_t>(static_cast<int>(rng() % 5000) - 500);
            }
        };
        std::vector<PIXEL_YC> picture(static_cast<std::size_t>(f.width) * f.height);
        for (PIXEL_YC &p : picture) p = {value(), value(), value()};
        std::vector<std::uint8_t> in(f.frameBytes());
        for (std::uint8_t &b : in) b = static_cast<std::uint8_t>(rng() % 8 ? rng() : 0xFF);
        const FrameConverter vector(f, 1), scalar(f, 1, FrameConverter::Kernels::Scalar);
        std::vector<std::uint8_t> outs[2] = {std::vector<std::uint8_t>(f.frameBytes()),
                                             std::vector<std::uint8_t>(f.frameBytes())};
        std::vector<PIXEL_YC> images[2];
        bool inRange[2];
        for (int k = 0; k < 2; ++k) {
            const FrameConverter &converter = k == 0 ? vector : scalar;
            converter.fromYc48(picture.data(), f.width, "", outs[k].data());
            images[k].assign(picture.size(), PIXEL_YC{-1, -1, -1});
            inRange[k] = converter.toYc48(in.data(), "", images[k].data(), f.width);
        }
        for (std::size_t i = 0; i < outs[0].size(); ++i)
            ASSERT_EQ(outs[0][i], outs[1][i]) << "output byte " << i;
        for (std::size_t i = 0; i < picture.size(); ++i) {
            const PIXEL_YC &v = images[0][i], &s = images[1][i];
            ASSERT_TRUE(v.y == s.y && v.cb == s.cb && v.cr == s.cr)
                << "pixel " << i << ": " << v.y << " " << v.cb << " " << v.cr << " against " << s.y << " "
                << s.cb << " " << s.cr;
        }
        EXPECT_EQ(inRange[0], inRange[1]);
    }
}

TEST(FrameConverter, ThreadsSplitTheWorkWithoutChangingAByte) {
    for (const char *header : {"YUV4MPEG2 W722 H484 It C420mpeg2", "YUV4MPEG2 W720 H480 Ip C420jpeg",
                               "YUV4MPEG2 W301 H203 C422p10", "YUV4MPEG2 W300 H200 C444"}) {
        SCOPED_TRACE(header);
        const Y4mFormat f = formatOf(header);
        const auto stream = q5clitest::randomY4m(header, 1, q5test::testSeed());
        const std::vector<std::uint8_t> in(stream.end() - f.frameBytes(), stream.end());
        // A picture whose chroma differs from pixel to pixel, so the averages matter.
        std::vector<PIXEL_YC> picture(static_cast<std::size_t>(f.width) * f.height);
        std::mt19937 rng(q5test::testSeed());
        std::uniform_int_distribution<int> value(-3000, 5000);
        for (PIXEL_YC &p : picture)
            p = {static_cast<std::int16_t>(value(rng)), static_cast<std::int16_t>(value(rng) / 2),
                 static_cast<std::int16_t>(value(rng) / 2)};
        std::vector<PIXEL_YC> images[2];
        std::vector<std::uint8_t> outs[2];
        for (int threads : {1, 3}) {
            const FrameConverter converter(f, threads);
            std::vector<PIXEL_YC> &image = images[threads > 1];
            image.assign(picture.size(), PIXEL_YC{-1, -1, -1});
            converter.toYc48(in.data(), "", image.data(), f.width);
            outs[threads > 1].resize(f.frameBytes());
            converter.fromYc48(picture.data(), f.width, "", outs[threads > 1].data());
        }
        EXPECT_TRUE(std::memcmp(images[0].data(), images[1].data(), images[0].size() * sizeof(PIXEL_YC)) == 0);
        EXPECT_EQ(outs[0], outs[1]);
    }
}
