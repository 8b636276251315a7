// Command-line parsing and the settings it gives the filter.
#include <gtest/gtest.h>

#include "cli/command/options.h"
#include "support/support.h"

namespace {

using q5cli::Options;

Options parse(const std::vector<std::string> &args, std::string *error = nullptr) {
    Options o;
    std::string e;
    const bool ok = q5cli::parseOptions(args, &o, &e);
    if (error) *error = ok ? "" : e;
    else
        EXPECT_TRUE(ok) << e;
    return o;
}

std::string parseError(const std::vector<std::string> &args) {
    std::string error;
    parse(args, &error);
    EXPECT_FALSE(error.empty());
    return error;
}

const FILTER &descriptor() { return *q5test::moduleEntry()(); }

TEST(ParseOptions, ReadsSettingsInBothSpellingsAndFilesInOrder) {
    const Options o = parse({"--tarnel", "3", "--w2dnrl=0", "--rounding-strength", "32", "-q",
                             "--no-anime", "--mosquito", "--threads=4", "in.y4m", "-"});
    EXPECT_EQ(o.command, Options::Denoise);
    EXPECT_EQ(o.input, "in.y4m");
    EXPECT_EQ(o.output, "-");
    const auto given = [&](auto setting, int value) {
        return o.choice(setting).given && o.choice(setting).value == value;
    };
    EXPECT_TRUE(given(Slider::Tarnel, 3));
    EXPECT_TRUE(given(Slider::W2dnrL, 0));
    EXPECT_TRUE(given(Slider::Rounding, 32));
    EXPECT_FALSE(o.choice(Slider::W2dnrH).given);
    EXPECT_TRUE(given(CheckBox::Anime, 0));
    EXPECT_TRUE(given(CheckBox::MosquitoNr, 1));
    EXPECT_FALSE(o.choice(CheckBox::Fields).given);
    EXPECT_EQ(o.threads, 4);
    EXPECT_TRUE(o.quiet);

    const Options late = parse({"-", "--", "-odd-name.y4m"});
    EXPECT_EQ(late.output, "-odd-name.y4m");
    const Options demo = parse({"demo", "--tarnel", "2"});
    EXPECT_EQ(demo.command, Options::Demo);
    EXPECT_EQ(demo.demoDir, "quorvane5-demo");
    EXPECT_EQ(parse({"demo", "out/dir"}).demoDir, "out/dir");
    EXPECT_TRUE(parse({"demo", "out/dir"}).demoMayBeFile);
    EXPECT_FALSE(demo.demoMayBeFile);
    // After "--" every operand is a file, demo included.
    const Options file = parse({"-q", "--", "demo", "out.y4m"});
    EXPECT_EQ(file.command, Options::Denoise);
    EXPECT_EQ(file.input, "demo");
    EXPECT_EQ(file.output, "out.y4m");
    EXPECT_EQ(parse({"--help", "x"}).command, Options::Help);
    EXPECT_EQ(parse({"--version"}).command, Options::Version);
}

TEST(ParseOptions, RejectsBadCommandLinesWithReasons) {
    EXPECT_NE(parseError({"in"}).find("give an input and an output"), std::string::npos);
    EXPECT_NE(parseError({"a", "b", "c"}).find("too many arguments: c"), std::string::npos);
    EXPECT_NE(parseError({"--frobnicate", "a", "b"}).find("unknown option --frobnicate"), std::string::npos);
    EXPECT_EQ(parseError({"--frobnicate", "a", "b"}), "unknown option --frobnicate");
    EXPECT_NE(parseError({"-x", "a", "b"}).find("unknown option -x"), std::string::npos);
    // A slip of a letter or two is met with the option nearest to it.
    EXPECT_EQ(parseError({"--mosqito", "a", "b"}), "unknown option --mosqito (did you mean --mosquito?)");
    EXPECT_EQ(parseError({"--thread=2", "a", "b"}), "unknown option --thread (did you mean --threads?)");
    EXPECT_EQ(parseError({"-no-rounding", "a", "b"}), "unknown option -no-rounding (did you mean --no-rounding?)");
    EXPECT_EQ(parseError({"---", "a", "b"}), "unknown option ---");
    EXPECT_NE(parseError({"a", "b", "--tarnel"}).find("--tarnel needs a value"), std::string::npos);
    EXPECT_NE(parseError({"--tarnel", "5x", "a", "b"}).find("needs a whole number, not \"5x\""),
              std::string::npos);
    EXPECT_NE(parseError({"--anime=1", "a", "b"}).find("takes no value"), std::string::npos);
    for (const char *t : {"0", "17", "-2", "many"})
        EXPECT_NE(parseError({"--threads", t, "a", "b"}).find("--threads must be a whole number from 1 to 16"),
                  std::string::npos);
    EXPECT_NE(parseError({"demo", "a", "b"}).find("at most one directory"), std::string::npos);
    // A switch given a value is named as such, not as unknown; an empty file name is
    // not taken to mean "none given".
    for (const char *sw : {"--quiet=1", "--stats=", "--help=yes", "--version=2"})
        EXPECT_EQ(parseError({sw, "a", "b"}), std::string(sw).substr(0, std::string(sw).find('=')) + " takes no value");
    EXPECT_EQ(parseError({"--module=", "a", "b"}), "--module needs a file name");
    EXPECT_EQ(parseError({"--reference", "", "a", "b"}), "--reference needs a file name");
}

TEST(ParseOptions, ReadsASpanOfFramesWithEitherEndLeftOut) {
    const auto span = [](const std::string &text) {
        const Options o = parse({"--strength", "editor", "--frames", text, "in.y4m", "out.y4m"});
        EXPECT_TRUE(o.framesGiven);
        return std::make_pair(o.framesFirst, o.framesEnd);
    };
    EXPECT_EQ(span("3:7"), std::make_pair(3, 7));
    EXPECT_EQ(span("3:"), std::make_pair(3, -1));
    EXPECT_EQ(span(":7"), std::make_pair(0, 7));
    EXPECT_EQ(span(":"), std::make_pair(0, -1));
    const Options excerpt = parse({"--strength=editor", "--frames=5:8", "--excerpt=3:12", "in.y4m", "out.y4m"});
    EXPECT_EQ(excerpt.excerptFirst, 3);
    EXPECT_EQ(excerpt.excerptLength, 12);
    EXPECT_FALSE(parse({"in.y4m", "out.y4m"}).framesGiven);
    // The demo takes no span, so with one "demo" is the input file.
    const Options demo = parse({"--strength", "editor", "--frames", "1:3", "demo", "out.y4m"});
    EXPECT_EQ(demo.command, Options::Denoise);
    EXPECT_EQ(demo.input, "demo");
    EXPECT_EQ(parseError({"--frames", "1:99999999999", "in.y4m", "out.y4m"}).find("--frames needs A:B"), 0u);
    EXPECT_EQ(parseError({"--strength", "editor", "--excerpt", ":5", "--frames", "1:2", "in", "out"}).find("--excerpt needs S:N"), 0u);
}

// The strength sliders go past the editor's range up to the command's bound; the
// rounding strength stops where the editor's does.
TEST(CheckSettings, HoldsEverySliderToTheEditorsMinimumAndTheCommandsMaximum) {
    const FILTER &d = descriptor();
    std::string error;
    for (const SliderSetting &s : kSliders) {
        const int i = indexOf(s.slider);
        const bool extended = s.slider != Slider::Rounding;
        const int most = extended ? 255 : d.track_e[i];
        for (int value : {d.track_s[i], d.track_e[i], d.track_e[i] + 1, most}) {
            const bool ok = value <= most;
            EXPECT_EQ(q5cli::checkSettings(parse({"--" + std::string(s.name), std::to_string(value), "a", "b"}), d,
                                           &error),
                      ok)
                << s.name << " " << value << ": " << error;
        }
        for (int value : {d.track_s[i] - 1, most + 1}) {
            const Options o = parse({"--" + std::string(s.name), std::to_string(value), "a", "b"});
            ASSERT_FALSE(q5cli::checkSettings(o, d, &error));
            EXPECT_EQ(error, "--" + std::string(s.name) + " " + std::to_string(value) +
                                 " is out of range: it takes " + std::to_string(d.track_s[i]) + " to " +
                                 std::to_string(most) +
                                 (extended ? " (the editor's slider ends at " + std::to_string(d.track_e[i]) + ")"
                                           : ""));
        }
    }
}

q5cli::Y4mFormat formatOf(const std::string &header) {
    q5cli::Y4mFormat f;
    std::string error;
    EXPECT_TRUE(q5cli::parseY4mHeader(header, &f, &error)) << error;
    return f;
}

// Per-field processing follows the stream's interlacing and the rounding correction
// its depth (off above 8 bits, where it would re-quantise to 8-bit steps), unless given.
TEST(ResolveSettings, PerFieldAndRoundingFollowTheStreamUnlessGiven) {
    const FILTER &d = descriptor();
    const q5cli::Y4mFormat progressive8 = formatOf("YUV4MPEG2 W16 H16 Ip C420jpeg");
    const q5cli::Y4mFormat interlaced10 = formatOf("YUV4MPEG2 W16 H16 It C420p10");
    q5cli::DenoiseSettings s = q5cli::resolveSettings(parse({"a", "b"}), d, progressive8);
    EXPECT_FALSE(s.on(CheckBox::Fields));
    EXPECT_TRUE(s.on(CheckBox::Rounding));
    for (int i = 0; i < kSliderCount; ++i) EXPECT_EQ(s.track[i], d.track_default[i]);
    for (const CheckBox c : {CheckBox::Anime, CheckBox::MosquitoNr, CheckBox::BlockNr})
        EXPECT_EQ(s.check[indexOf(c)], d.check_default[indexOf(c)]);

    s = q5cli::resolveSettings(parse({"a", "b"}), d, interlaced10);
    EXPECT_TRUE(s.on(CheckBox::Fields));
    EXPECT_FALSE(s.on(CheckBox::Rounding));
    s = q5cli::resolveSettings(parse({"--no-field", "--rounding", "a", "b"}), d, interlaced10);
    EXPECT_FALSE(s.on(CheckBox::Fields));
    EXPECT_TRUE(s.on(CheckBox::Rounding));
    s = q5cli::resolveSettings(parse({"--field", "--no-rounding", "a", "b"}), d, progressive8);
    EXPECT_TRUE(s.on(CheckBox::Fields));
    EXPECT_FALSE(s.on(CheckBox::Rounding));
}

}  // namespace
