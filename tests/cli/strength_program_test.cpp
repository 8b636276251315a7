// --strength auto and values past the editor's range, end to end through the built
// program: from a pipe and from files, what the summary, --stats and preview say,
// and that the settings printed reproduce the run when given by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "cli/cli_support.h"
#include "cli/join_support.h"
#include "cli/picture/convert.h"
#include "cli/picture/demo_clip.h"
#include "cli/session/filter_session.h"
#include "common/host.h"
#include "support/support.h"

namespace {

using q5clitest::runCli;
using q5clitest::ScratchDir;

// Flat grey cels with grain of `sigma` code steps, 4:2:0 8-bit; from frame `cut` on,
// darker cels with grain of `sigma2`.
std::vector<std::uint8_t> grainyClip(int frames, double sigma, int cut = -1, double sigma2 = 0, char interlace = 'p') {
    const int w = 160, h = 96;
    std::string text = std::string("YUV4MPEG2 W160 H96 F24:1 I") + interlace + " A1:1 C420jpeg\n";
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    q5cli::Grain grain(77);
    for (int n = 0; n < frames; ++n) {
        const bool second = cut >= 0 && n >= cut;
        for (const char c : std::string("FRAME\n")) bytes.push_back(static_cast<std::uint8_t>(c));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const double v = (second ? (x < w / 2 ? 40 : 70) : (x < w / 2 ? 100 : 150)) +
                                 (second ? sigma2 : sigma) * grain.next();
                bytes.push_back(static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 255.0))));
            }
        bytes.insert(bytes.end(), w * h / 2, 128);
    }
    return bytes;
}

// The settings after "strength auto: ...: " on the summary line.
std::string chosenSettings(const std::string &errText) {
    const std::size_t line = errText.find("strength auto: noise ");
    if (line == std::string::npos) return "";
    const std::size_t start = errText.find("): ", line) + 3, end = errText.find('\n', start);
    return errText.substr(start, end - start);
}

std::vector<std::string> words(const std::string &text) {
    std::vector<std::string> out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = std::min(text.find(' ', pos), text.size());
        if (end > pos) out.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return out;
}

TEST(StrengthAuto, MeasuresTheGrainInAPipeAndPrintsSettingsThatReproduceTheRun) {
    ScratchDir dir;
    q5clitest::writeBytes(dir.file("in.y4m"), grainyClip(6, 2.0));
    const q5clitest::CliRun piped = q5clitest::runShell("cat '" + dir.file("in.y4m") +
                                                         "' | \"$Q5\" --strength auto - - | cat > '" +
                                                         dir.file("auto.y4m") + "'");
    ASSERT_EQ(piped.status, 0) << piped.errText;
    double sigma = 0;
    ASSERT_EQ(std::sscanf(piped.errText.c_str() + piped.errText.find("strength auto: noise "),
                          "strength auto: noise %lf code steps", &sigma),
              1)
        << piped.errText;
    EXPECT_NEAR(sigma, 2.0, 0.3);
    const std::string settings = chosenSettings(piped.errText);
    ASSERT_NE(settings.find("--w2dnrl "), std::string::npos) << piped.errText;
    // Grain of two code steps on flat cels takes strength past the editor's range.
    EXPECT_NE(piped.errText.find("past the editor's range (this command only): "), std::string::npos)
        << piped.errText;

    std::vector<std::string> args = words(settings);
    args.insert(args.begin(), "-q");
    args.push_back(dir.file("in.y4m"));
    args.push_back(dir.file("pinned.y4m"));
    ASSERT_EQ(runCli(args).status, 0);
    EXPECT_EQ(q5clitest::readBytes(dir.file("pinned.y4m")), q5clitest::readBytes(dir.file("auto.y4m")));
    EXPECT_NE(q5clitest::readBytes(dir.file("pinned.y4m")), q5clitest::readBytes(dir.file("in.y4m")));
}

TEST(StrengthAuto, SettingsGivenByHandWinAndStatsAndPreviewReportTheEstimate) {
    ScratchDir dir;
    q5clitest::writeBytes(dir.file("in.y4m"), grainyClip(4, 1.0));
    const q5clitest::CliRun run = runCli({"--stats", "-q", "--strength", "auto", "--w2dnrl", "7", "--rounding",
                                          dir.file("in.y4m"), dir.file("out.y4m")});
    ASSERT_EQ(run.status, 0) << run.errText;
    const std::string settings = chosenSettings(run.errText);
    EXPECT_NE(settings.find("--w2dnrl 7 "), std::string::npos) << run.errText;
    EXPECT_EQ(settings.find("--no-rounding"), std::string::npos) << run.errText;
    EXPECT_NE(run.errText.find("(3 frames, measured in "), std::string::npos) << run.errText;

    const q5clitest::CliRun preview = runCli({"preview", dir.file("in.y4m"), "--strength", "auto", "--frame", "2",
                                              "--out", dir.file("p.png")},
                                             "", dir.file("report.txt"));
    ASSERT_EQ(preview.status, 0) << preview.errText;
    const auto report = q5clitest::readBytes(dir.file("report.txt"));
    const std::string text(report.begin(), report.end());
    EXPECT_NE(text.find("Strength auto, from the frames around it: noise "), std::string::npos) << text;
}

// A cut to a scene of other grain is measured again and gets settings of its own.
TEST(StrengthAuto, MeasuresEachNewSceneAgain) {
    ScratchDir dir;
    q5clitest::writeBytes(dir.file("in.y4m"), grainyClip(10, 0.5, 5, 3.0));
    const q5clitest::CliRun run = runCli({"--strength", "auto", dir.file("in.y4m"), dir.file("out.y4m")});
    ASSERT_EQ(run.status, 0) << run.errText;
    double first = 0, second = 0;
    const std::size_t at = run.errText.find("strength auto: noise ");
    ASSERT_NE(at, std::string::npos) << run.errText;
    ASSERT_EQ(std::sscanf(run.errText.c_str() + at, "strength auto: noise %lf", &first), 1);
    const std::size_t next = run.errText.find("strength auto: noise ", at + 1);
    ASSERT_NE(next, std::string::npos) << run.errText;
    ASSERT_EQ(std::sscanf(run.errText.c_str() + next, "strength auto: noise %lf", &second), 1);
    EXPECT_NEAR(first, 0.5, 0.15);
    EXPECT_NEAR(second, 3.0, 0.45);
    EXPECT_NE(run.errText.find("(3 frames from frame 5): "), std::string::npos) << run.errText;
}

TEST(StrengthPastTheEditor, RunsAndIsNamedInTheSummary) {
    ScratchDir dir;
    q5clitest::writeBytes(dir.file("in.y4m"), grainyClip(3, 1.0));
    const q5clitest::CliRun run = runCli({"--w2dnrl", "255", "--tarnel", "20", dir.file("in.y4m"), dir.file("out.y4m")});
    ASSERT_EQ(run.status, 0) << run.errText;
    EXPECT_NE(run.errText.find("past the editor's range (this command only): --w2dnrl 255\n"), std::string::npos)
        << run.errText;
    const q5clitest::CliRun inside =
        runCli({"--strength", "editor", "--w2dnrl", "20", dir.file("in.y4m"), dir.file("out.y4m")});
    EXPECT_EQ(inside.errText.find("past the editor's range"), std::string::npos) << inside.errText;
    const q5clitest::CliRun over = runCli({"--w2dnrl", "256", dir.file("in.y4m"), dir.file("out2.y4m")});
    EXPECT_EQ(over.status, 2);
    EXPECT_NE(over.errText.find("it takes 0 to 255 (the editor's slider ends at 20)"), std::string::npos);
}

// Without --strength the command chooses; with --strength editor it gives exactly
// the frames of the module driven at the settings it comes with (an interlaced 8-bit
// clip, so that per-field processing and the rounding correction are the editor's
// too), the frames the golden hashes pin.
TEST(StrengthEditor, GivesTheModulesFactoryFramesWhileAutoIsTheDefault) {
    ScratchDir dir;
    q5clitest::writeBytes(dir.file("in.y4m"), grainyClip(5, 1.5, -1, 0, 't'));
    const q5clitest::CliRun editor =
        runCli({"--strength", "editor", "--threads", "2", dir.file("in.y4m"), dir.file("editor.y4m")});
    ASSERT_EQ(editor.status, 0) << editor.errText;
    EXPECT_EQ(editor.errText.find("strength auto"), std::string::npos) << editor.errText;
    const q5clitest::CliRun automatic = runCli({"--threads", "2", dir.file("in.y4m"), dir.file("auto.y4m")});
    ASSERT_EQ(automatic.status, 0) << automatic.errText;
    EXPECT_NE(automatic.errText.find("strength auto: noise "), std::string::npos) << automatic.errText;
    EXPECT_NE(q5clitest::readBytes(dir.file("auto.y4m")), q5clitest::readBytes(dir.file("editor.y4m")));

    q5cli::Y4mFormat format;
    std::string error;
    const auto input = q5clitest::framesOf(q5clitest::readBytes(dir.file("in.y4m")), &format, &error);
    const auto output = q5clitest::framesOf(q5clitest::readBytes(dir.file("editor.y4m")), &format, &error);
    ASSERT_EQ(output.size(), input.size()) << error;
    const q5cli::FrameConverter converter(format);
    q5host::Host host(q5test::moduleEntry(), 2);
    host.init();
    host.update();
    const q5host::ClipInfo clip = q5cli::streamClip(format, static_cast<int>(input.size()));
    host.setClip(clip, [&](int n, PIXEL_YC *image, int pitch) {
        return converter.toYc48(input[n].data.data(), input[n].params, image, pitch), true;
    });
    host.saveStart(0, static_cast<int>(input.size()) - 1);
    std::vector<std::uint8_t> bytes(format.frameBytes());
    for (int n = 0; n < static_cast<int>(input.size()); ++n) {
        host.process(n);
        converter.fromYc48(host.out(), clip.maxW, input[n].params, bytes.data(), input[n].data.data());
        EXPECT_TRUE(bytes == output[n].data) << "frame " << n;
    }
}

}  // namespace
