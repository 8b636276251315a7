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

TEST(ParseOptions, BuiltInTablesMatchTheFilterDescriptor) {
    const FILTER &d = descriptor();
    for (const q5cli::SliderOption &s : q5cli::kSliderOptions) {
        EXPECT_EQ(s.defaultValue, d.track_default[s.index]) << s.name;
        EXPECT_EQ(s.minimum, d.track_s[s.index]) << s.name;
        EXPECT_EQ(s.maximum, d.track_e[s.index]) << s.name;
    }
    for (const q5cli::CheckOption &c : q5cli::kCheckOptions)
        EXPECT_EQ(c.defaultValue, d.check_default[c.index]) << c.name;
}

TEST(ParseOptions, ReadsSettingsInBothSpellingsAndFilesInOrder) {
    const Options o = parse({"--tarnel", "3", "--w2dnrl=0", "--rounding-strength", "32", "-q",
                             "--no-anime", "--mosquito", "--threads=4", "in.y4m", "-"});
    EXPECT_EQ(o.command, Options::Denoise);
    EXPECT_EQ(o.input, "in.y4m");
    EXPECT_EQ(o.output, "-");
    EXPECT_TRUE(o.trackGiven[0] && o.track[0] == 3);
    EXPECT_TRUE(o.trackGiven[1] && o.track[1] == 0);
    EXPECT_TRUE(o.trackGiven[5] && o.track[5] == 32);
    EXPECT_FALSE(o.trackGiven[2]);
    EXPECT_TRUE(o.checkGiven[1] && o.check[1] == 0);
    EXPECT_TRUE(o.checkGiven[2] && o.check[2] == 1);
    EXPECT_FALSE(o.checkGiven[0]);
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
    EXPECT_NE(parseError({"-x", "a", "b"}).find("unknown option -x"), std::string::npos);
    EXPECT_NE(parseError({"a", "b", "--tarnel"}).find("--tarnel needs a value"), std::string::npos);
    EXPECT_NE(parseError({"--tarnel", "5x", "a", "b"}).find("needs a whole number, not \"5x\""),
              std::string::npos);
    EXPECT_NE(parseError({"--anime=1", "a", "b"}).find("takes no value"), std::string::npos);
    for (const char *t : {"0", "17", "-2", "many"})
        EXPECT_NE(parseError({"--threads", t, "a", "b"}).find("--threads must be a whole number from 1 to 16"),
                  std::string::npos);
    EXPECT_NE(parseError({"demo", "a", "b"}).find("at most one directory"), std::string::npos);
}

TEST(ResolveSettings, HoldsEverySliderToTheDescriptorRange) {
    const FILTER &d = descriptor();
    int track[6], check[5];
    std::string error;
    for (const q5cli::SliderOption &s : q5cli::kSliderOptions) {
        for (int value : {d.track_s[s.index], d.track_e[s.index]}) {
            const Options o = parse({"--" + std::string(s.name), std::to_string(value), "a", "b"});
            ASSERT_TRUE(q5cli::resolveSettings(o, d, false, track, check, &error)) << error;
            EXPECT_EQ(track[s.index], value);
        }
        for (int value : {d.track_s[s.index] - 1, d.track_e[s.index] + 1}) {
            const Options o = parse({"--" + std::string(s.name), std::to_string(value), "a", "b"});
            ASSERT_FALSE(q5cli::resolveSettings(o, d, false, track, check, &error));
            EXPECT_EQ(error, "--" + std::string(s.name) + " " + std::to_string(value) +
                                 " is out of range: it takes " + std::to_string(d.track_s[s.index]) +
                                 " to " + std::to_string(d.track_e[s.index]));
        }
    }
}

TEST(ResolveSettings, PerFieldFollowsTheStreamUnlessGiven) {
    const FILTER &d = descriptor();
    int track[6], check[5];
    std::string error;
    ASSERT_TRUE(q5cli::resolveSettings(parse({"a", "b"}), d, false, track, check, &error));
    EXPECT_EQ(check[0], 0);
    for (int i = 1; i < 5; ++i) EXPECT_EQ(check[i], d.check_default[i]);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(track[i], d.track_default[i]);
    ASSERT_TRUE(q5cli::resolveSettings(parse({"a", "b"}), d, true, track, check, &error));
    EXPECT_EQ(check[0], 1);
    ASSERT_TRUE(q5cli::resolveSettings(parse({"--no-field", "a", "b"}), d, true, track, check, &error));
    EXPECT_EQ(check[0], 0);
    ASSERT_TRUE(q5cli::resolveSettings(parse({"--field", "a", "b"}), d, false, track, check, &error));
    EXPECT_EQ(check[0], 1);
}

}  // namespace
