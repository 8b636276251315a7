// scripts/denoise-cluster end to end: a clip cut into chunks run through GNU parallel
// (on this machine, and over ssh to a server of the test's own), joined into the run
// over the whole clip; a failing chunk fails the job, is named, and leaves no clip.
#include <gtest/gtest.h>

#include <cstdlib>

#include "cli/cli_support.h"
#include "cli/join_support.h"

namespace {

using q5clitest::CliRun;
using q5clitest::ScratchDir;

const std::string kScript = std::string(Q5_SOURCE_DIR) + "/scripts/denoise-cluster";
const std::string kWithSshd = std::string(Q5_SOURCE_DIR) + "/tests/cluster/with-sshd";

// GNU parallel (and rsync for the files it sends) must be there in CI; elsewhere
// their absence skips the test.
bool toolsMissing(std::initializer_list<const char *> tools, std::string *why) {
    for (const char *tool : tools)
        if (std::system(("command -v " + std::string(tool) + " >/dev/null 2>&1").c_str()) != 0) {
            *why = std::string(tool) + " is not installed";
            return true;
        }
    return false;
}
#define REQUIRE_TOOLS(...)                                           \
    do {                                                             \
        std::string why;                                             \
        if (toolsMissing({__VA_ARGS__}, &why)) {                     \
            if (std::getenv("CI")) FAIL() << why;                    \
            GTEST_SKIP() << why;                                     \
        }                                                            \
    } while (0)

std::string quoted(const std::string &text) { return "'" + text + "'"; }

// The whole run and the joined chunks, compared.
q5clitest::JoinDifference compareFiles(const std::string &whole, const std::string &joined, bool fields) {
    q5cli::Y4mFormat format, joinedFormat;
    std::string error;
    const auto a = q5clitest::framesOf(q5clitest::readBytes(whole), &format, &error);
    const auto b = q5clitest::framesOf(q5clitest::readBytes(joined), &joinedFormat, &error);
    EXPECT_EQ(a.size(), b.size()) << error;
    EXPECT_EQ(format.header, joinedFormat.header);
    return q5clitest::compareJoin(format, a, b, fields);
}

TEST(DenoiseCluster, ChunksOnLocalJobSlotsJoinIntoTheWholeRun) {
    REQUIRE_TOOLS("parallel");
    ScratchDir dir;
    const std::string header = "YUV4MPEG2 W64 H48 F25:1 It A1:1 C420jpeg";
    q5clitest::writeBytes(dir.file("in.y4m"), q5clitest::flatBrightClip(header, 7, 11));
    const CliRun whole = q5clitest::runShell("\"$Q5\" -q --strength editor --threads 2 --mosquito --no-rounding " + quoted(dir.file("in.y4m")) +
                                             " " + quoted(dir.file("whole.y4m")));
    ASSERT_EQ(whole.status, 0) << whole.errText;
    // Seven frames in seven chunks: every join, chunks of one frame.
    const CliRun run = q5clitest::runShell(quoted(kScript) + " --quorvane5 \"$Q5\" --threads 2 --jobs 2 --chunks 7 " +
                                           quoted(dir.file("in.y4m")) + " " + quoted(dir.file("joined.y4m")) +
                                           " -- --mosquito --no-rounding");
    ASSERT_EQ(run.status, 0) << run.errText;
    EXPECT_EQ(q5clitest::readBytes(dir.file("joined.y4m")), q5clitest::readBytes(dir.file("whole.y4m")));
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.y4m", "joined.y4m", "whole.y4m"}));
}

TEST(DenoiseCluster, AFailingChunkFailsTheJobIsNamedAndLeavesNoClip) {
    REQUIRE_TOOLS("parallel");
    ScratchDir dir;
    q5clitest::writeBytes(dir.file("in.y4m"), q5clitest::randomY4m("YUV4MPEG2 W32 H32 C420jpeg", 9, 2));
    // quorvane5 failing for the chunk of frames 3 to 5 only.
    q5clitest::writeBytes(dir.file("q5"), {});
    const CliRun made = q5clitest::runShell("printf '#!/bin/sh\\ncase \" $* \" in *\" --frames 3:6 \"*) "
                                            "echo cannot >&2; exit 3;; esac\\nexec \"%s\" \"$@\"\\n' \"$Q5\" >" +
                                            quoted(dir.file("q5")) + " && chmod +x " + quoted(dir.file("q5")));
    ASSERT_EQ(made.status, 0) << made.errText;
    q5clitest::writeBytes(dir.file("out.y4m"), {'o', 'l', 'd'});
    const CliRun run = q5clitest::runShell(quoted(kScript) + " --quorvane5 " + quoted(dir.file("q5")) +
                                           " --threads 1 --chunks 3 " + quoted(dir.file("in.y4m")) + " " +
                                           quoted(dir.file("out.y4m")));
    EXPECT_EQ(run.status, 1) << run.errText;
    EXPECT_NE(run.errText.find("chunk 1 (frames 3:6) failed on this machine with status 3"), std::string::npos)
        << run.errText;
    EXPECT_NE(run.errText.find("out.y4m was not written"), std::string::npos) << run.errText;
    // The earlier file is untouched, and nothing else is left.
    EXPECT_EQ(q5clitest::readBytes(dir.file("out.y4m")), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.y4m", "out.y4m", "q5"}));

    // A chunk the join cannot find is named too.
    const CliRun join = q5clitest::runShell(quoted(kScript) + " --join --chunks 3 --workdir " + quoted(dir.file("work")) +
                                            " " + quoted(dir.file("in.y4m")) + " " + quoted(dir.file("out.y4m")));
    EXPECT_EQ(join.status, 1);
    EXPECT_NE(join.errText.find("chunk 0 (frames 0:3) is missing"), std::string::npos) << join.errText;

    // An automatic strength would be measured on each chunk's own frames, so chunks
    // could be filtered differently: refused before any chunk runs, in either spelling.
    for (const char *strength : {"--strength auto", "--strength=auto"}) {
        const CliRun autoRun = q5clitest::runShell(quoted(kScript) + " --quorvane5 \"$Q5\" --threads 1 --chunks 3 " +
                                                   quoted(dir.file("in.y4m")) + " " + quoted(dir.file("out.y4m")) +
                                                   " -- " + strength);
        EXPECT_EQ(autoRun.status, 2) << strength;
        EXPECT_NE(autoRun.errText.find("settings its summary prints"), std::string::npos) << autoRun.errText;
    }
    EXPECT_EQ(q5clitest::readBytes(dir.file("out.y4m")), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
}

// Four chunks through GNU parallel over ssh to 127.0.0.1: sent only their frames and
// context, and with the input read in place as on a shared file system.
TEST(DenoiseCluster, FourChunksOverSshJoinIntoTheWholeRun) {
    REQUIRE_TOOLS("parallel", "rsync", "ssh");
    ScratchDir dir;
    const std::string header = "YUV4MPEG2 W176 H144 F25:1 Ip A1:1 C420jpeg";
    q5clitest::writeBytes(dir.file("in.y4m"), q5clitest::flatBrightClip(header, 10, 5));
    const std::string in = quoted(dir.file("in.y4m"));
    const CliRun whole = q5clitest::runShell(
        "\"$Q5\" -q --strength editor --threads 2 --no-rounding " + in + " " + quoted(dir.file("whole.y4m")) + " && \"$Q5\" -q --strength editor --threads 2 " +
        in + " " + quoted(dir.file("whole-rounded.y4m")));
    ASSERT_EQ(whole.status, 0) << whole.errText;
    // The jobs over ssh, in a script run beside the test's ssh server.
    const std::string script = "set -e\ncluster() { " + quoted(kScript) +
                               " --sshlogin \"$Q5_SSHLOGIN\" --quorvane5 \"$Q5\" --threads 2 --jobs 2 --chunks 4 \"$@\"; }\n"
                               "cluster " + in + " " + quoted(dir.file("joined.y4m")) + " -- --no-rounding\n"
                               "cluster --shared " + in + " " + quoted(dir.file("joined-rounded.y4m")) + "\n";
    q5clitest::writeBytes(dir.file("jobs.sh"), std::vector<std::uint8_t>(script.begin(), script.end()));
    const CliRun run = q5clitest::runShell("Q5=\"$Q5\" " + quoted(kWithSshd) + " sh " + quoted(dir.file("jobs.sh")));
    if (run.status == 77) GTEST_SKIP() << run.errText;
    ASSERT_EQ(run.status, 0) << run.errText;
    EXPECT_EQ(q5clitest::readBytes(dir.file("joined.y4m")), q5clitest::readBytes(dir.file("whole.y4m")));
    const q5clitest::JoinDifference d = compareFiles(dir.file("whole-rounded.y4m"), dir.file("joined-rounded.y4m"), false);
    EXPECT_EQ(d.outside, 0);
    EXPECT_LE(d.largest, 1);
}

// The Slurm recipe of docs/cluster.md on a one-machine cluster: a job array of four chunks and
// a join that waits for all of them; a failing task cancels the join.
TEST(DenoiseCluster, TheSlurmRecipeJoinsAJobArrayOfChunks) {
    REQUIRE_TOOLS("sbatch", "munged");
    ScratchDir dir;
    const std::string in = quoted(dir.file("in.y4m"));
    q5clitest::writeBytes(dir.file("in.y4m"), q5clitest::flatBrightClip("YUV4MPEG2 W64 H48 F25:1 Ip C420jpeg", 9, 3));
    const CliRun whole = q5clitest::runShell("\"$Q5\" -q --strength editor --threads 2 --mosquito --no-rounding " + in + " " +
                                             quoted(dir.file("whole.y4m")));
    ASSERT_EQ(whole.status, 0) << whole.errText;
    // As in docs/cluster.md, with the chunks' program given and the join waited for; then
    // again with a program that fails.
    const std::string recipe = R"(set -e
cd "$1"
recipe() {
  chunks=4 work=$PWD/work-$2
  array=$(sbatch --parsable --array=0-$((chunks - 1)) --cpus-per-task=2 --output=/dev/null \
    --wrap="$SCRIPT --quorvane5 $3 --chunk \$SLURM_ARRAY_TASK_ID --chunks $chunks --threads 2 --workdir $work $1 $2 -- --mosquito --no-rounding")
  sbatch --wait --dependency=afterok:$array --kill-on-invalid-dep=yes --output=/dev/null \
    --wrap="$SCRIPT --join --chunks $chunks --workdir $work $1 $2 && rm -r $work" >/dev/null
}
recipe in.y4m joined.y4m "$Q5"
recipe in.y4m failed.y4m /bin/false || true
)";
    q5clitest::writeBytes(dir.file("recipe.sh"), std::vector<std::uint8_t>(recipe.begin(), recipe.end()));
    const CliRun run = q5clitest::runShell("SCRIPT=" + quoted(kScript) + " Q5=\"$Q5\" " +
                                           quoted(std::string(Q5_SOURCE_DIR) + "/tests/cluster/with-slurm") + " sh " +
                                           quoted(dir.file("recipe.sh")) + " " + quoted(dir.path()));
    if (run.status == 77) GTEST_SKIP() << run.errText;
    ASSERT_EQ(run.status, 0) << run.errText;
    EXPECT_EQ(q5clitest::readBytes(dir.file("joined.y4m")), q5clitest::readBytes(dir.file("whole.y4m")));
    // The failed array left its work folder and no joined clip.
    EXPECT_EQ(dir.entries(),
              (std::vector<std::string>{"in.y4m", "joined.y4m", "recipe.sh", "whole.y4m", "work-failed.y4m"}));
}

}  // namespace
