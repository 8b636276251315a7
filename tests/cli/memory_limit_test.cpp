// The command under a limit on its address space: a 4K clip either goes through or
// fails with status 1, advice and no file. Where the memory runs out (the filter's
// buffers, the host's frame cache, the command's own frames) depends on the limit;
// the outcome must not.
#include <gtest/gtest.h>

#include <cstdio>

#include <string>
#include <vector>

#include "cli/cli_support.h"

namespace {

using q5clitest::ScratchDir;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// Three 3840 x 2160 frames of a luma ramp: far from black.
std::vector<std::uint8_t> uhdClip() {
    const int w = 3840, h = 2160;
    std::string clip = "YUV4MPEG2 W3840 H2160 F25:1 Ip A1:1 C420jpeg\n";
    std::string row;
    for (int x = 0; x < w; ++x) row += static_cast<char>(x * 7 % 200 + 30);
    for (int n = 0; n < 3; ++n) {
        clip += "FRAME\n";
        for (int y = 0; y < h; ++y) clip += row;
        clip.append(static_cast<std::size_t>(w) * h / 2, static_cast<char>(128));
    }
    return {clip.begin(), clip.end()};
}

TEST(QuorvaneCommand, ShortOfMemoryFailsWithAdviceAndLeavesNothing) {
    if (kSanitized) GTEST_SKIP() << "the sanitizers reserve more address space than the limits here allow";
    ScratchDir dir;
    q5clitest::writeBytes(dir.file("uhd.y4m"), uhdClip());
    const std::string advice = "not enough memory for 3840x2160 frames: a run of five frames or more needs up to about ";
    int failed = 0;
    // From short of everything to short of the host's cache alone (in KB).
    for (const char *limit : {"450000", "684000", "760000"}) {
        SCOPED_TRACE(testing::Message() << "ulimit -v " << limit);
        const q5clitest::CliRun run = q5clitest::runShell("cd '" + dir.path() + "' && ulimit -v " + limit +
                                                          " && exec \"$Q5\" --threads 2 uhd.y4m out.y4m");
        if (run.status == 0) {
            EXPECT_EQ(dir.entries(), (std::vector<std::string>{"out.y4m", "uhd.y4m"}));
            std::remove(dir.file("out.y4m").c_str());  // the runs that follow must leave none
            continue;
        }
        ++failed;
        EXPECT_EQ(run.status, 1) << run.errText;
        EXPECT_NE(run.errText.find(advice), std::string::npos) << run.errText;
        EXPECT_NE(run.errText.find("try fewer threads"), std::string::npos) << run.errText;
        EXPECT_EQ(run.errText.find("frames of 3840x2160"), std::string::npos) << "a summary: " << run.errText;
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"uhd.y4m"}) << "the output or its temporary is left";
    }
    EXPECT_GT(failed, 0) << "no limit was tight enough to test anything";

    const q5clitest::CliRun preview = q5clitest::runShell(
        "cd '" + dir.path() + "' && ulimit -v 450000 && exec \"$Q5\" preview uhd.y4m --frame 1 --out p.png");
    EXPECT_EQ(preview.status, 1) << preview.errText;
    EXPECT_NE(preview.errText.find(advice), std::string::npos) << preview.errText;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"uhd.y4m"});

    // One thread is as few as there are: the advice is then to free memory.
    const q5clitest::CliRun one = q5clitest::runShell("cd '" + dir.path() +
                                                      "' && ulimit -v 450000 && exec \"$Q5\" --threads 1 uhd.y4m out.y4m");
    EXPECT_EQ(one.status, 1) << one.errText;
    EXPECT_NE(one.errText.find("on 1 thread; free some memory"), std::string::npos) << one.errText;
    EXPECT_EQ(one.errText.find("fewer threads"), std::string::npos) << one.errText;
}

}  // namespace
