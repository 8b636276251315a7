// --frames and --excerpt on the command line: a chunk read by seeking in a file or
// through a pipe, cut out of the clip or from an excerpt, is the same frames of the
// whole run; a span outside the clip is refused with no file left behind.
#include <gtest/gtest.h>

#include "cli/cli_support.h"

namespace {

using q5clitest::CliRun;
using q5clitest::runCli;
using q5clitest::ScratchDir;

std::vector<q5cli::Y4mFrame> framesIn(const std::string &path, q5cli::Y4mFormat *format) {
    std::vector<q5cli::Y4mFrame> frames;
    std::string error;
    EXPECT_TRUE(q5clitest::parseY4m(q5clitest::readBytes(path), format, &frames, &error)) << path << ": " << error;
    return frames;
}

TEST(QuorvaneFrames, AChunkFromAFileOrAPipeIsThoseFramesOfTheWholeRun) {
    ScratchDir dir;
    // Bare FRAME lines (the length known from the file's size) and frames with
    // parameters (found by stepping over the markers).
    for (const std::string params : {"", " Ixyz"}) {
        SCOPED_TRACE("FRAME" + params);
        const std::string header = "YUV4MPEG2 W48 H32 F25:1 Ip A1:1 C420jpeg XCOLORRANGE=LIMITED";
        q5clitest::writeBytes(dir.file("in.y4m"), q5clitest::randomY4m(header, 9, 5, params));
        const std::vector<std::string> settings = {"--strength", "editor", "--mosquito", "--no-rounding", "--threads", "2"};
        const auto run = [&](std::vector<std::string> args, const std::string &out) {
            args.insert(args.begin(), settings.begin(), settings.end());
            args.push_back(out);
            return runCli(args, dir.file("in.y4m"));
        };
        ASSERT_EQ(run({dir.file("in.y4m")}, dir.file("whole.y4m")).status, 0);
        q5cli::Y4mFormat format;
        const auto whole = framesIn(dir.file("whole.y4m"), &format);
        ASSERT_EQ(whole.size(), 9u);
        for (const auto &[range, first, count] : std::vector<std::tuple<std::string, int, int>>{
                 {"4:7", 4, 3}, {"0:1", 0, 1}, {"8:", 8, 1}, {":3", 0, 3}, {"7:9", 7, 2}}) {
            SCOPED_TRACE("--frames " + range);
            // stdin is the file itself: seekable, so the command seeks.
            const CliRun seeked = run({"--frames", range, "-"}, dir.file("seeked.y4m"));
            ASSERT_EQ(seeked.status, 0) << seeked.errText;
            EXPECT_NE(seeked.errText.find(std::to_string(count) + (count == 1 ? " frame" : " frames") + " of 48x32"), std::string::npos) << seeked.errText;
            const CliRun piped = q5clitest::runShell("cat '" + dir.file("in.y4m") + "' | \"$Q5\" --strength editor --mosquito --no-rounding "
                                                     "--threads 2 -q --frames " + range + " - '" + dir.file("piped.y4m") + "'");
            ASSERT_EQ(piped.status, 0) << piped.errText;
            EXPECT_EQ(q5clitest::readBytes(dir.file("piped.y4m")), q5clitest::readBytes(dir.file("seeked.y4m")));
            q5cli::Y4mFormat chunkFormat;
            const auto chunk = framesIn(dir.file("seeked.y4m"), &chunkFormat);
            EXPECT_EQ(chunkFormat.header, header);
            ASSERT_EQ(static_cast<int>(chunk.size()), count);
            for (int n = 0; n < count; ++n) {
                EXPECT_EQ(chunk[n].params, params);
                EXPECT_TRUE(chunk[n].data == whole[first + n].data) << "frame " << first + n;
            }
        }
    }
}

// Standard input handed over partway into its file (an earlier command read the start):
// frames are found from where the stream begins, not from the file's start.
TEST(QuorvaneFrames, AChunkOfAStreamThatStartsPartwayIntoItsFile) {
    ScratchDir dir;
    const auto clip = q5clitest::randomY4m("YUV4MPEG2 W32 H32 F25:1 Ip C420jpeg", 8, 12);
    q5clitest::writeBytes(dir.file("in.y4m"), clip);
    std::vector<std::uint8_t> both(1000, 'j');
    both.insert(both.end(), clip.begin(), clip.end());
    q5clitest::writeBytes(dir.file("both"), both);
    const std::string settings = " -q --strength editor --threads 2 --no-rounding --frames 5:7 ";
    const CliRun direct = q5clitest::runShell("\"$Q5\"" + settings + "'" + dir.file("in.y4m") + "' '" + dir.file("a.y4m") + "'");
    ASSERT_EQ(direct.status, 0) << direct.errText;
    const CliRun handed = q5clitest::runShell("{ head -c 1000 >/dev/null && \"$Q5\"" + settings + "- '" + dir.file("b.y4m") +
                                              "'; } <'" + dir.file("both") + "'");
    ASSERT_EQ(handed.status, 0) << handed.errText;
    EXPECT_EQ(q5clitest::readBytes(dir.file("b.y4m")), q5clitest::readBytes(dir.file("a.y4m")));
}

TEST(QuorvaneFrames, AnExcerptWithItsContextGivesTheSameChunk) {
    ScratchDir dir;
    const std::string header = "YUV4MPEG2 W48 H32 F25:1 Ip C420jpeg";
    const auto clip = q5clitest::randomY4m(header, 12, 8);
    q5clitest::writeBytes(dir.file("in.y4m"), clip);
    // Frames 3..9 of the clip (5:8 with two frames around it).
    const std::size_t frameBytes = 6 + 48 * 32 * 3 / 2, start = header.size() + 1;
    std::vector<std::uint8_t> excerpt(clip.begin(), clip.begin() + start);
    excerpt.insert(excerpt.end(), clip.begin() + start + 3 * frameBytes, clip.begin() + start + 10 * frameBytes);
    q5clitest::writeBytes(dir.file("excerpt.y4m"), excerpt);
    const std::vector<std::string> settings = {"--strength", "editor", "--mosquito", "--threads", "2", "-q", "--frames", "5:8"};
    auto args = settings;
    args.insert(args.end(), {dir.file("in.y4m"), dir.file("a.y4m")});
    ASSERT_EQ(runCli(args).status, 0);
    args = settings;
    args.insert(args.end(), {"--excerpt", "3:12", dir.file("excerpt.y4m"), dir.file("b.y4m")});
    const CliRun run = runCli(args);
    ASSERT_EQ(run.status, 0) << run.errText;
    EXPECT_EQ(q5clitest::readBytes(dir.file("a.y4m")), q5clitest::readBytes(dir.file("b.y4m")));

    // Too little context before or after the span.
    for (const std::string &frames : {std::string("4:8"), std::string("5:9")}) {
        const CliRun shortRun =
            runCli({"--strength", "editor", "--mosquito", "--frames", frames, "--excerpt", "3:12", dir.file("excerpt.y4m"), dir.file("c.y4m")});
        EXPECT_EQ(shortRun.status, 1) << frames;
        EXPECT_NE(shortRun.errText.find(frames == "4:8" ? "starts at frame 3 of the clip" : "ends at frame 9 of the clip"),
                  std::string::npos)
            << shortRun.errText;
    }
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a.y4m", "b.y4m", "excerpt.y4m", "in.y4m"}));
}

TEST(QuorvaneFrames, ASpanOutsideTheClipOrABadOneIsRefused) {
    ScratchDir dir;
    q5clitest::writeBytes(dir.file("in.y4m"), q5clitest::randomY4m("YUV4MPEG2 W16 H16 C420jpeg", 5, 1));
    q5clitest::writeBytes(dir.file("params.y4m"), q5clitest::randomY4m("YUV4MPEG2 W16 H16 C420jpeg", 5, 1, " Xa"));
    const std::vector<std::string> files = {"in.y4m", "params.y4m"};
    const auto refused = [&](std::vector<std::string> args, int status, const std::string &why,
                             const std::string &stdinPath = "") {
        SCOPED_TRACE(testing::Message() << args[0] << " " << args[1]);
        args.insert(args.begin(), {"--strength", "editor"});
        const CliRun run = runCli(args, stdinPath);
        EXPECT_EQ(run.status, status) << run.errText;
        EXPECT_NE(run.errText.find(why), std::string::npos) << run.errText;
        EXPECT_EQ(dir.entries(), files);
    };
    const std::string in = dir.file("in.y4m"), out = dir.file("out.y4m");
    const std::string beyond = "the clip has 5 frames (0 to 4); --frames ";
    refused({"--frames", "5:", in, out}, 1, beyond + "5: reaches beyond it");
    refused({"--frames", "2:6", in, out}, 1, beyond + "2:6 reaches beyond it");
    refused({"--frames", "40:50", dir.file("params.y4m"), out}, 1, "the clip has 5 frames (0 to 4)");
    refused({"--frames", "3:6", dir.file("params.y4m"), out}, 1, beyond + "3:6 reaches beyond it");
    refused({"--frames", "3:6", "-", out}, 1, beyond + "3:6 reaches beyond it", in);
    const CliRun piped = q5clitest::runShell("cat '" + in + "' | \"$Q5\" --strength editor --frames 7: - '" + out + "'");
    EXPECT_EQ(piped.status, 1);
    EXPECT_NE(piped.errText.find(beyond + "7: reaches beyond it"), std::string::npos) << piped.errText;
    EXPECT_EQ(dir.entries(), files);

    refused({"--frames", "3:3", in, out}, 2, "--frames 3:3 holds no frame");
    for (const std::string bad : {"3", "-1:2", "a:b", "1:2:3", "+1:2"})
        refused({"--frames", bad, in, out}, 2, "--frames needs A:B");
    refused({"--excerpt", "2:9", in, out}, 2, "give --frames too");
    refused({"--frames", "1:2", "--excerpt", "4:4", in, out}, 2, "--excerpt needs S:N");
    refused({"preview", in, "--frames", "1:2"}, 2, "--frames is for INPUT OUTPUT, not preview");

    // Frame numbers the filter cannot count past (its neighbours' and ring slots'
    // numbers would overflow), from a file or a pipe.
    const std::string past = "frames a clip can have here";
    refused({"--excerpt", "2147483638:2147483647", "--frames", "2147483645:", in, out}, 2, past);
    refused({"--excerpt", "0:9", "--frames", "2147483641:2147483645", in, out}, 2, past);
    refused({"--frames", "2147483646:", "-", out}, 2, past, in);
    refused({"--frames", "0:2147483647", in, out}, 2, past);

    // An excerpt said to end the clip early while the input goes on: frames near that
    // end would be made with the wrong last frame mirrored.
    refused({"--excerpt", "0:3", "--frames", "0:3", in, out}, 1, "the input goes on past frame 2");
    refused({"--excerpt", "1:4", "--frames", "3:", in, out}, 1, "the input goes on past frame 3");
}

TEST(QuorvaneFrames, TheReferenceIsMeasuredFromTheSameFrame) {
    ScratchDir dir;
    q5clitest::writeBytes(dir.file("in.y4m"), q5clitest::randomY4m("YUV4MPEG2 W32 H32 C420jpeg", 6, 9));
    ASSERT_EQ(runCli({"-q", "--strength", "editor", "--threads", "2", dir.file("in.y4m"), dir.file("whole.y4m")}).status, 0);
    const CliRun run = runCli({"--strength", "editor", "--threads", "2", "--frames", "3:5", "--reference", dir.file("whole.y4m"),
                               dir.file("in.y4m"), dir.file("out.y4m")});
    ASSERT_EQ(run.status, 0) << run.errText;
    EXPECT_NE(run.errText.find("PSNR Y inf  Cb inf  Cr inf"), std::string::npos) << run.errText;
    // The reference goes on after the span, as the clip does: no warning about it.
    EXPECT_EQ(run.errText.find("warning"), std::string::npos) << run.errText;
    // A reference that ends inside the span is measured as far as it goes.
    const CliRun shortRef = q5clitest::runShell("head -c 7000 '" + dir.file("whole.y4m") + "' > '" + dir.file("short.y4m") +
                                                "' && \"$Q5\" --strength editor --threads 2 --frames 2: --reference '" + dir.file("short.y4m") +
                                                "' '" + dir.file("in.y4m") + "' '" + dir.file("out.y4m") + "'");
    EXPECT_EQ(shortRef.status, 0) << shortRef.errText;
    EXPECT_NE(shortRef.errText.find("the figures cover 2 frames from frame 2"), std::string::npos) << shortRef.errText;
}

}  // namespace
