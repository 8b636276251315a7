// The built quorvane5 program end to end: formats kept, pipes, errors with their
// messages and exit status and no file left behind, the demo, and ffmpeg.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "cli/cli_support.h"
#include "cli/demo.h"
#include "cli/png.h"
#include "support/support.h"

namespace {

using q5clitest::runCli;
using q5clitest::ScratchDir;

// Runs a failing command and checks status, message and that `dir` holds only `keep`.
void expectFailure(const ScratchDir &dir, const std::vector<std::string> &args, int status,
                   const std::string &messagePart, const std::vector<std::string> &keep,
                   const std::string &stdinPath = "") {
    SCOPED_TRACE(testing::Message() << "expecting: " << messagePart);
    const q5clitest::CliRun run = runCli(args, stdinPath);
    EXPECT_EQ(run.status, status) << run.errText;
    EXPECT_EQ(run.errText.rfind("quorvane5: ", 0), 0u) << run.errText;
    EXPECT_NE(run.errText.find(messagePart), std::string::npos) << run.errText;
    EXPECT_EQ(dir.entries(), keep);
}

TEST(QuorvaneCommand, KeepsEveryFormatAndTagFromFileToFile) {
    ScratchDir dir;
    const std::string in = dir.file("in.y4m"), out = dir.file("out.y4m");
    for (const char *header :
         {"YUV4MPEG2 W64 H36 F30000:1001 Ip A1:1 C420jpeg XYSCSS=420JPEG XCOLORRANGE=LIMITED",
          "YUV4MPEG2 W40 H34 F25:1 It A16:15 C420paldv", "YUV4MPEG2 W40 H32 Ib C420mpeg2",
          "YUV4MPEG2 W40 H32 Im C420 Xanything", "YUV4MPEG2 W38 H21 C422", "YUV4MPEG2 W37 H21 C444",
          "YUV4MPEG2 W37 H21 Cmono", "YUV4MPEG2 W40 H32 C420p10 XYSCSS=420P10", "YUV4MPEG2 W38 H21 C422p10",
          "YUV4MPEG2 W37 H21 C444p10", "YUV4MPEG2 W37 H21 Cmono10"}) {
        SCOPED_TRACE(header);
        const std::string params = std::string(header).find(" Im ") != std::string::npos ? " Itii" : "";
        q5clitest::writeBytes(in, q5clitest::randomY4m(header, 4, q5test::testSeed(), params));
        const q5clitest::CliRun run = runCli({"-q", "--threads", "2", in, out});
        ASSERT_EQ(run.status, 0) << run.errText;
        EXPECT_EQ(run.errText, "");  // -q: nothing to say
        q5cli::Y4mFormat format;
        std::vector<q5cli::Y4mFrame> frames;
        std::string error;
        ASSERT_TRUE(q5clitest::parseY4m(q5clitest::readBytes(out), &format, &frames, &error)) << error;
        EXPECT_EQ(format.header, header);
        ASSERT_EQ(frames.size(), 4u);
        for (const auto &f : frames) EXPECT_EQ(f.params, params);
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.y4m", "out.y4m"}));
    }
}

TEST(QuorvaneCommand, ReadsStandardInputAndWritesStandardOutputWithASummary) {
    ScratchDir dir;
    const auto clip = q5clitest::randomY4m("YUV4MPEG2 W32 H32 F24:1 C420jpeg", 5, 3);
    q5clitest::writeBytes(dir.file("in.y4m"), clip);
    const q5clitest::CliRun run = runCli({"-", "-"}, dir.file("in.y4m"), dir.file("out.y4m"));
    ASSERT_EQ(run.status, 0) << run.errText;
    EXPECT_NE(run.errText.find("quorvane5: 5 frames of 32x32 4:2:0 8-bit in "), std::string::npos) << run.errText;
    const auto out = q5clitest::readBytes(dir.file("out.y4m"));
    EXPECT_EQ(out.size(), clip.size());

    // Through real pipes, with a reference: metrics of the output against the input.
    const q5clitest::CliRun piped = q5clitest::runShell(
        "cat '" + dir.file("in.y4m") + "' | \"$Q5\" --reference '" + dir.file("in.y4m") +
        "' - - | cat > '" + dir.file("piped.y4m") + "'");
    ASSERT_EQ(piped.status, 0) << piped.errText;
    EXPECT_EQ(q5clitest::readBytes(dir.file("piped.y4m")), out);
    EXPECT_NE(piped.errText.find("PSNR Y "), std::string::npos) << piped.errText;
    EXPECT_NE(piped.errText.find("  Cb "), std::string::npos);
    EXPECT_NE(piped.errText.find("SSIM Y "), std::string::npos);
}

TEST(QuorvaneCommand, RefusesBadInputWithAReasonAndLeavesNoFile) {
    ScratchDir dir;
    const std::string out = dir.file("out.y4m");
    const auto put = [&](const std::string &name, const std::string &text) {
        q5clitest::writeBytes(dir.file(name), std::vector<std::uint8_t>(text.begin(), text.end()));
    };
    const std::string good = "YUV4MPEG2 W8 H8 C420jpeg\nFRAME\n" + std::string(96, 'x');
    put("good.y4m", good + "FRAME\n" + std::string(96, 'x'));
    put("empty.y4m", "");
    put("text.y4m", "hello\n");
    put("nosize.y4m", "YUV4MPEG2 W8 C420\n");
    put("c411.y4m", "YUV4MPEG2 W8 H8 C411\nFRAME\n");
    put("oddw.y4m", "YUV4MPEG2 W9 H8 C420jpeg\n");
    put("oddh.y4m", "YUV4MPEG2 W8 H9 C420p10\n");
    put("big.y4m", "YUV4MPEG2 W1920 H1090 C420jpeg\nFRAME\n");
    put("short.y4m", good + "FRAME\n" + std::string(95, 'x'));
    put("marker.y4m", good + "FRAMEX\n");
    put("cut.y4m", good + "FRA");
    const std::vector<std::string> inputs = {"big.y4m",  "c411.y4m",   "cut.y4m",   "empty.y4m",
                                             "good.y4m", "marker.y4m", "nosize.y4m", "oddh.y4m",
                                             "oddw.y4m", "short.y4m",  "text.y4m"};
    const auto fails = [&](const std::string &in, const std::string &why) {
        expectFailure(dir, {dir.file(in), out}, 1, why, inputs);
    };
    fails("missing.y4m", "cannot open " + dir.file("missing.y4m") + ": No such file");
    fails("empty.y4m", "is empty");
    fails("text.y4m", "not a YUV4MPEG2 stream");
    fails("nosize.y4m", "no frame size");
    fails("c411.y4m", "unsupported colour space \"C411\"");
    fails("oddw.y4m", "needs an even width, but the frames are 9x8");
    fails("oddh.y4m", "4:2:0 10-bit needs an even height");
    fails("big.y4m", "frames of 1920x1090 are larger than the filter's limit of 1920x1088");
    fails("short.y4m", "frame 2 is truncated: 95 of 96 bytes");
    fails("marker.y4m", "frame 2: expected a FRAME marker, found \"FRAMEX\"");
    fails("cut.y4m", "frame 2: the stream ends inside the FRAME marker");
    fails(".", "cannot read " + dir.file(".") + ": it is a directory");

    // Output that cannot be written, and bad settings: nothing is made either.
    expectFailure(dir, {dir.file("good.y4m"), dir.file("no/such/dir.y4m")}, 1,
                  "cannot write " + dir.file("no/such/dir.y4m") + ": No such file", inputs);
    expectFailure(dir, {dir.file("good.y4m"), dir.path()}, 1, "it is a directory", inputs);
    expectFailure(dir, {"--tarnel", "21", dir.file("good.y4m"), out}, 2,
                  "--tarnel 21 is out of range: it takes 0 to 20", inputs);
    expectFailure(dir, {"--rounding-strength=-1", dir.file("good.y4m"), out}, 2,
                  "--rounding-strength -1 is out of range: it takes 0 to 32", inputs);
    expectFailure(dir, {"--threads", "0", dir.file("good.y4m"), out}, 2, "--threads must be", inputs);
    expectFailure(dir, {"--bogus", dir.file("good.y4m"), out}, 2, "unknown option --bogus", inputs);
    expectFailure(dir, {"--module", dir.file("nothing.so"), dir.file("good.y4m"), out}, 1,
                  "cannot load the filter module", inputs);
    // A reference that does not fit, or runs out before the output.
    expectFailure(dir, {"--reference", dir.file("big.y4m"), dir.file("good.y4m"), out}, 1,
                  "the reference " + dir.file("big.y4m") + " is 1920x1090", inputs);
    put("one.y4m", good);
    std::vector<std::string> withOne = inputs;
    withOne.push_back("one.y4m");
    std::sort(withOne.begin(), withOne.end());
    expectFailure(dir, {"--reference", dir.file("one.y4m"), dir.file("good.y4m"), out}, 1,
                  "ends after 1 frames, before the input", withOne);
}

TEST(QuorvaneCommand, HelpNamesEveryOptionWithItsRange) {
    ScratchDir dir;
    ASSERT_EQ(runCli({"--help"}, "", dir.file("help.txt")).status, 0);
    const auto bytes = q5clitest::readBytes(dir.file("help.txt"));
    const std::string help(bytes.begin(), bytes.end());
    for (const char *part : {"--tarnel N", "0..20 [10]", "--w2dnrh N", "0..20 [16]", "--rounding-strength N",
                             "0..32 [16]", "--field, --no-field", "tagged interlaced (It, Ib, Im)",
                             "--anime, --no-anime", "--mosquito, --no-mosquito", "--block, --no-block",
                             "--rounding, --no-rounding", "--threads N", "--reference CLEAN.y4m",
                             "--module PATH", "-q, --quiet", "quorvane5 demo [DIR]", "Exit status"})
        EXPECT_NE(help.find(part), std::string::npos) << part;
    ASSERT_EQ(runCli({"--version"}, "", dir.file("version.txt")).status, 0);
    const auto v = q5clitest::readBytes(dir.file("version.txt"));
    EXPECT_NE(std::string(v.begin(), v.end()).find("filter: Quorvane5 version"), std::string::npos);
    const q5clitest::CliRun none = runCli({});
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.errText.find("usage: quorvane5 [OPTIONS] INPUT OUTPUT"), std::string::npos);
    EXPECT_NE(none.errText.find("Try 'quorvane5 --help'"), std::string::npos);
}

// Decodes a PNG with Python's zlib, which shares nothing with our writer: every chunk's
// CRC, the zlib stream with its Adler-32, one filter byte and 3 bytes a pixel a row.
// Gives the picture's size.
void expectValidPng(const std::string &path, int *width, int *height) {
    const q5clitest::CliRun run = q5clitest::runShell("python3 - '" + path + "' >&2 <<'EOF'\n"
R"(import struct, sys, zlib
data = open(sys.argv[1], 'rb').read()
assert data[:8] == b'\x89PNG\r\n\x1a\n', 'signature'
pos, idat, kinds = 8, b'', []
while pos < len(data):
    length, = struct.unpack('>I', data[pos:pos + 4])
    kind, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + length]
    assert zlib.crc32(kind + body) == struct.unpack('>I', data[pos + 8 + length:pos + 12 + length])[0], kind
    if kind == b'IHDR':
        width, height, depth, colour = struct.unpack('>IIBB', body[:10])
        assert (depth, colour) == (8, 2), 'not 8-bit RGB'
    if kind == b'IDAT':
        idat += body
    kinds.append(kind)
    pos += 12 + length
assert pos == len(data) and kinds[0] == b'IHDR' and kinds[-1] == b'IEND', kinds
raw = zlib.decompress(idat)
row = 3 * width + 1
assert len(raw) == height * row, 'scanlines'
assert all(raw[y * row] <= 4 for y in range(height)), 'filter byte'
print('png', width, height)
)" "EOF\n");
    ASSERT_EQ(run.status, 0) << run.errText;
    ASSERT_EQ(std::sscanf(run.errText.c_str(), "png %d %d", width, height), 2) << run.errText;
}

TEST(QuorvaneDemo, WritesTheClipsAndTheComparisonAndPrintsTheFigures) {
    ScratchDir dir;
    const std::string demo = dir.file("demo");
    const q5clitest::CliRun run = runCli({"-q", "demo", demo}, "", dir.file("stdout.txt"));
    ASSERT_EQ(run.status, 0) << run.errText;
    const auto text = q5clitest::readBytes(dir.file("stdout.txt"));
    const std::string report(text.begin(), text.end());
    for (const char *name : {"clean.y4m", "noisy.y4m", "denoised.y4m", "blocky.y4m", "blocky-denoised.y4m",
                             "before-after.png", "blocky-before-after.png"})
        EXPECT_NE(report.find(name), std::string::npos) << report;

    // Gaussian grain of the demo's sigma, rounded to codes: PSNR 20 log10(peak / rms).
    const std::size_t at = report.find("with grain (sigma 0.75)    PSNR Y ");
    ASSERT_NE(at, std::string::npos) << report;
    const double sigma = q5cli::kDemoGrainSigma * (1 << (q5cli::kDemoBits - 8));
    const double rms = std::sqrt(sigma * sigma + 1.0 / 12);
    const double peak = (1 << q5cli::kDemoBits) - 1;
    EXPECT_NEAR(std::atof(report.c_str() + at + 34), 20 * std::log10(peak / rms), 0.1) << report;
    for (const char *group : {"wavelet stages ", "rounding correction off", "rounding correction on",
                              "with both pre-passes"})
        EXPECT_NE(report.find(group), std::string::npos) << report;

    q5cli::Y4mFormat noisyFormat, denoisedFormat;
    std::vector<q5cli::Y4mFrame> noisy, denoised;
    std::string error;
    ASSERT_TRUE(q5clitest::parseY4m(q5clitest::readBytes(demo + "/noisy.y4m"), &noisyFormat, &noisy, &error));
    ASSERT_TRUE(q5clitest::parseY4m(q5clitest::readBytes(demo + "/denoised.y4m"), &denoisedFormat, &denoised, &error));
    EXPECT_EQ(denoisedFormat.header, noisyFormat.header);
    EXPECT_EQ(denoised.size(), noisy.size());
    EXPECT_EQ(q5clitest::readBytes(demo + "/clean.y4m").size(), q5clitest::readBytes(demo + "/noisy.y4m").size());

    if (std::system("command -v python3 >/dev/null 2>&1") != 0) GTEST_SKIP() << "python3 is not installed";
    int width = 0, height = 0;
    expectValidPng(demo + "/before-after.png", &width, &height);
    EXPECT_EQ(width, 2 * noisyFormat.width + 8);
    EXPECT_EQ(height, 3 * noisyFormat.height + 16);
}

// The demo's files appear all together or not at all, and it takes no clean clip of the user's.
TEST(QuorvaneDemo, LeavesNoFileWhenOneCannotBeWrittenAndRefusesAReference) {
    ScratchDir dir;
    ASSERT_EQ(mkdir(dir.file("blocky.y4m").c_str(), 0777), 0);
    expectFailure(dir, {"-q", "demo", dir.path()}, 1, "blocky.y4m: it is a directory", {"blocky.y4m"});
    expectFailure(dir, {"demo", dir.file("other"), "--reference", dir.file("x.y4m")}, 2,
                  "--reference is for INPUT OUTPUT", {"blocky.y4m"});
}

// The preview from a pipe and from a file, and frame numbers it cannot show.
TEST(QuorvanePreview, WritesThePictureAndRefusesBadFrameNumbers) {
    ScratchDir dir;
    q5clitest::writeBytes(dir.file("in.y4m"), q5clitest::randomY4m("YUV4MPEG2 W176 H144 F25:1 C420jpeg", 5, 7));
    const q5clitest::CliRun pipe =
        q5clitest::runShell("cat '" + dir.file("in.y4m") + "' | \"$Q5\" preview - --frame 4 --out '" + dir.file("p.png") + "'");
    ASSERT_EQ(pipe.status, 0) << pipe.errText;
    if (std::system("command -v python3 >/dev/null 2>&1") == 0) {
        int width = 0, height = 0;
        expectValidPng(dir.file("p.png"), &width, &height);
        EXPECT_EQ(width, 2 * 176 + 8);
        EXPECT_EQ(height, 3 * 144 + 16);
    }
    std::remove(dir.file("p.png").c_str());

    const std::vector<std::string> keep = {"in.y4m"};
    expectFailure(dir, {"preview", dir.file("in.y4m"), "--frame", "5", "--out", dir.file("p.png")}, 1,
                  "the clip has 5 frames (0 to 4); there is no frame 5", keep);
    expectFailure(dir, {"preview", "-", "--frame", "9", "--out", dir.file("p.png")}, 1,
                  "standard input: the clip has 5 frames (0 to 4); there is no frame 9", keep, dir.file("in.y4m"));
    expectFailure(dir, {"preview", dir.file("in.y4m"), "--frame", "-1"}, 2, "--frame needs a frame number", keep);
    expectFailure(dir, {"preview", dir.file("in.y4m"), "--frame", "2x"}, 2, "--frame needs a frame number", keep);
    expectFailure(dir, {"--frame", "2", dir.file("in.y4m"), dir.file("out.y4m")}, 2, "--frame is for preview", keep);
}

TEST(QuorvaneCommand, WorksBetweenTwoFfmpegs) {
    if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg is not installed";
    ScratchDir dir;
    const std::string out = dir.file("out.mkv");
    const q5clitest::CliRun run = q5clitest::runShell(
        "ffmpeg -v error -f lavfi -i testsrc2=size=176x144:rate=25:duration=0.6 -pix_fmt yuv420p "
        "-f yuv4mpegpipe - | \"$Q5\" -q - - | ffmpeg -v error -y -i - -c:v ffv1 '" + out + "' && "
        "ffprobe -v error -count_frames -select_streams v -show_entries "
        "stream=width,height,pix_fmt,nb_read_frames -of csv=p=0 '" + out + "' >&2");
    ASSERT_EQ(run.status, 0) << run.errText;
    EXPECT_NE(run.errText.find("176,144,yuv420p,15"), std::string::npos) << run.errText;
}

}  // namespace
