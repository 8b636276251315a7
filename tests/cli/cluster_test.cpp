// scripts/denoise-cluster end to end: a clip cut into chunks run through GNU parallel
// (on this machine, and over ssh to a server of the test's own), joined into the run
// over the whole clip; a failing chunk fails the job, is named, and leaves no clip.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
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
    // Seven frames in seven chunks: every join, chunks of one frame; in three, chunks
    // of two and three frames, whose ends an off-by-one in the cuts would move.
    for (const char *chunks : {"7", "3"}) {
        const CliRun run = q5clitest::runShell(quoted(kScript) + " --quorvane5 \"$Q5\" --threads 2 --jobs 2 --chunks " +
                                               chunks + " " + quoted(dir.file("in.y4m")) + " " +
                                               quoted(dir.file("joined.y4m")) + " -- --mosquito --no-rounding");
        ASSERT_EQ(run.status, 0) << run.errText;
        EXPECT_EQ(q5clitest::readBytes(dir.file("joined.y4m")), q5clitest::readBytes(dir.file("whole.y4m"))) << chunks;
    }
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.y4m", "joined.y4m", "whole.y4m"}));
}

TEST(DenoiseCluster, AFailingChunkFailsTheJobIsNamedAndLeavesNoClip) {
    REQUIRE_TOOLS("parallel");
    ScratchDir dir;
    q5clitest::writeBytes(dir.file("in.y4m"), q5clitest::randomY4m("YUV4MPEG2 W32 H32 C420jpeg", 9, 2));
    // quorvane5 failing for the last chunk (frames 6 to 8) only, once every other chunk is whole.
    q5clitest::writeBytes(dir.file("q5"), {});
    // It writes its whole chunk first: only its status tells the job that it failed.
    const CliRun made = q5clitest::runShell("printf '#!/bin/sh\\n\"%s\" \"$@\" || exit\\ncase \" $* \" in *\" --frames 6:9 \"*) "
                                            "echo cannot >&2; exit 3;; esac\\n' \"$Q5\" >" +
                                            quoted(dir.file("q5")) + " && chmod +x " + quoted(dir.file("q5")));
    ASSERT_EQ(made.status, 0) << made.errText;
    q5clitest::writeBytes(dir.file("out.y4m"), {'o', 'l', 'd'});
    const CliRun run = q5clitest::runShell(quoted(kScript) + " --quorvane5 " + quoted(dir.file("q5")) +
                                           " --threads 1 --chunks 3 " + quoted(dir.file("in.y4m")) + " " +
                                           quoted(dir.file("out.y4m")));
    EXPECT_EQ(run.status, 1) << run.errText;
    EXPECT_NE(run.errText.find("chunk 2 (frames 6:9) failed on this machine with status 3"), std::string::npos)
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
                               "cluster --shared " + in + " " + quoted(dir.file("joined-rounded.y4m")) + "\n"
                               // Chunk 1 fails at once while chunk 0 is still running on its
                               // host: the host's job is stopped and its folder removed.
                               "d=" + quoted(dir.path()) + "\n"
                               "printf '#!/bin/sh\\necho \"$PWD\" >>%s/folders\\necho $$ >>%s/pids\\n"
                               "case \" $* \" in *\" --frames 2:5 \"*) exit 3;; esac\\nexec sleep 60\\n' \"$d\" \"$d\" "
                               ">\"$d/failing\"\n"
                               "chmod +x \"$d/failing\"\n"
                               "! " + quoted(kScript) + " --sshlogin \"$Q5_SSHLOGIN\" --quorvane5 \"$d/failing\" --threads 1 "
                               "--jobs 2 --chunks 4 " + in + " \"$d/failed.y4m\"\n"
                               "for i in $(seq 50); do alive=''; for p in $(cat \"$d/pids\"); do "
                               "case $(ps -o stat= -p $p) in \"\"|Z*) ;; *) alive=$p;; esac; done; [ -n \"$alive\" ] || break; sleep 0.2; done\n"
                               "[ -z \"$alive\" ] || { kill $alive; echo 'a chunk ran on after the job failed' >&2; exit 1; }\n"
                               "while read -r f; do case $f in */.parallel/tmp/*) [ ! -e \"$f\" ] || "
                               "{ echo \"$f is left on the host\" >&2; exit 1; };; esac; done <\"$d/folders\"\n";
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

// Chunks made one at a time as the tasks of a job array make them (no GNU parallel
// needed), then joined: the join takes only chunks made together, from this input,
// whole and undamaged, and says which one is not.
class ClusterJoin : public testing::Test {
protected:
    void SetUp() override {
        q5clitest::writeBytes(dir.file("in.y4m"), q5clitest::randomY4m(kHeader, 9, 4));
        q5clitest::writeBytes(dir.file("other.y4m"), q5clitest::randomY4m(kHeader, 9, 5));
        const CliRun whole = q5clitest::runShell("\"$Q5\" -q --threads 2 --no-rounding " + quoted(dir.file("in.y4m")) + " " +
                                                 quoted(dir.file("whole.y4m")));
        ASSERT_EQ(whole.status, 0) << whole.errText;
    }
    // Chunk k of `chunks` into `work`, from `input`, with more options for quorvane5.
    CliRun make(int k, const std::string &work, const std::string &threads = "2", const std::string &more = "",
                int chunks = 4, const std::string &input = "in.y4m", const std::string &program = "\"$Q5\"") {
        return q5clitest::runShell(quoted(kScript) + " --quorvane5 " + program + " --chunk " + std::to_string(k) +
                                   " --chunks " + std::to_string(chunks) + " --threads " + threads + " --workdir " +
                                   quoted(dir.file(work)) + " " + quoted(dir.file(input)) + " " +
                                   quoted(dir.file("out.y4m")) + " -- --no-rounding " + more);
    }
    void makeAll(const std::string &work, int chunks = 4) {
        for (int k = 0; k < chunks; ++k) ASSERT_EQ(make(k, work, "2", "", chunks).status, 0) << k;
    }
    CliRun join(const std::string &work, const std::string &output = "out.y4m", int chunks = 4) {
        return q5clitest::runShell(quoted(kScript) + " --join --chunks " + std::to_string(chunks) + " --workdir " +
                                   quoted(dir.file(work)) + " " + quoted(dir.file("in.y4m")) + " " +
                                   (output[0] == '/' ? output : quoted(dir.file(output))));
    }
    // A copy of the good work folder, changed by `change` (a shell command run in it).
    std::string spoilt(const std::string &name, const std::string &change) {
        const CliRun copy = q5clitest::runShell("cp -a " + quoted(dir.file("work")) + " " + quoted(dir.file(name)) +
                                                " && cd " + quoted(dir.file(name)) + " && " + change);
        EXPECT_EQ(copy.status, 0) << copy.errText;
        return name;
    }
    void refused(const std::string &work, const std::string &why, int chunks = 4) {
        SCOPED_TRACE(work);
        const CliRun run = join(work, "out.y4m", chunks);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.errText.find(why), std::string::npos) << run.errText;
        EXPECT_NE(run.errText.find("out.y4m was not written"), std::string::npos) << run.errText;
        EXPECT_FALSE(q5clitest::readBytes(dir.file("whole.y4m")).empty());
        struct stat st {};
        EXPECT_NE(stat(dir.file("out.y4m").c_str(), &st), 0);
    }

    static constexpr const char *kHeader = "YUV4MPEG2 W32 H32 F25:1 Ip C420jpeg";
    ScratchDir dir;
};

TEST_F(ClusterJoin, TakesOnlyChunksMadeTogetherFromTheInput) {
    makeAll("work");
    // Chunk 1 with another setting, chunk 2 with another thread count, chunk 0 of
    // another clip with the same header.
    ASSERT_EQ(make(1, spoilt("options", "true"), "2", "--mosquito").status, 0);
    ASSERT_EQ(make(2, spoilt("threads", "true"), "1").status, 0);
    ASSERT_EQ(make(0, spoilt("clip", "true"), "2", "", 4, "other.y4m").status, 0);
    refused("options", "chunk 1 (frames 2:4) was made with other settings than chunk 0");
    refused("threads", "chunk 2 (frames 4:6) was made with other settings than chunk 0");
    refused("clip", "chunk 0 (frames 0:2) was made from another clip");
    // Chunks 0 and 1 (two frames each) in each other's place, with or without their records.
    refused(spoilt("swapped", "mv chunk-00000.y4m x && mv chunk-00001.y4m chunk-00000.y4m && mv x chunk-00001.y4m"),
            "chunk 0 (frames 0:2) is not the file its record describes");
    refused(spoilt("renamed", "for e in y4m y4m.made; do mv chunk-00000.$e x && mv chunk-00001.$e chunk-00000.$e && "
                              "mv x chunk-00001.$e; done"),
            "as chunk 1 of another --chunks");
    // A FRAME marker damaged after the chunk was made (its checksum made to fit).
    const std::size_t frameBytes = 6 + 32 * 32 * 3 / 2, at = std::string(kHeader).size() + 1 + frameBytes;
    refused(spoilt("damaged", "printf X | dd of=chunk-00003.y4m bs=1 seek=" + std::to_string(at + 2) +
                                  " conv=notrunc status=none && sed -i \"s/^sum .*/sum $(cksum <chunk-00003.y4m)/\" "
                                  "chunk-00003.y4m.made"),
            "chunk 3 (frames 6:9) is damaged");
    refused(spoilt("unrecorded", "rm chunk-00002.y4m.made"), "chunk 2 (frames 4:6) has no record");
    // Joined with another chunk count: chunk 0 holds more frames than frames 0:1.
    refused("work", "chunk 0 (frames 0:1) is too large", 5);
    // A chunk made short by a program that says it succeeded.
    q5clitest::writeBytes(dir.file("short-q5"), {});
    ASSERT_EQ(q5clitest::runShell("printf '#!/bin/sh\\n\"%s\" \"$@\" || exit\\nfor o; do f=$o; done\\ntruncate -s -100 \"$f\"\\n' "
                                  "\"$Q5\" >" + quoted(dir.file("short-q5")) + " && chmod +x " + quoted(dir.file("short-q5")))
                  .status,
              0);
    ASSERT_EQ(make(1, spoilt("short", "true"), "2", "", 4, "in.y4m", quoted(dir.file("short-q5"))).status, 0);
    refused("short", "chunk 1 (frames 2:4) is incomplete");

    const CliRun good = join("work");
    ASSERT_EQ(good.status, 0) << good.errText;
    EXPECT_EQ(q5clitest::readBytes(dir.file("out.y4m")), q5clitest::readBytes(dir.file("whole.y4m")));
}

// A job array of more tasks than the clip has frames: the tasks past them have
// nothing to do, and the join takes the chunks there are.
TEST_F(ClusterJoin, AJobArrayOfMoreChunksThanFramesJoins) {
    for (int k = 0; k < 16; ++k) {
        const CliRun task = make(k, "work", "2", "", 16);
        ASSERT_EQ(task.status, 0) << k << ": " << task.errText;
        if (k >= 9) {
            EXPECT_NE(task.errText.find("nothing to do"), std::string::npos) << task.errText;
        }
    }
    const CliRun run = join("work", "out.y4m", 16);
    ASSERT_EQ(run.status, 0) << run.errText;
    EXPECT_EQ(q5clitest::readBytes(dir.file("out.y4m")), q5clitest::readBytes(dir.file("whole.y4m")));
}

// The joined clip goes where quorvane5 would put its own output: through a link, into
// every name of a hard-linked file, keeping a replaced file's permissions; a full
// disk is said once.
TEST_F(ClusterJoin, WritesTheOutputAsTheCommandDoes) {
    makeAll("work");
    const auto whole = q5clitest::readBytes(dir.file("whole.y4m"));
    q5clitest::writeBytes(dir.file("private.y4m"), {'o', 'l', 'd'});
    ASSERT_EQ(chmod(dir.file("private.y4m").c_str(), 0600), 0);
    q5clitest::writeBytes(dir.file("target.y4m"), {'o', 'l', 'd'});
    ASSERT_EQ(symlink("target.y4m", dir.file("link.y4m").c_str()), 0);
    q5clitest::writeBytes(dir.file("a.y4m"), {'o', 'l', 'd'});
    ASSERT_EQ(link(dir.file("a.y4m").c_str(), dir.file("b.y4m").c_str()), 0);
    for (const char *name : {"private.y4m", "link.y4m", "a.y4m"}) {
        const CliRun run = join("work", name);
        EXPECT_EQ(run.status, 0) << name << ": " << run.errText;
    }
    struct stat st {};
    ASSERT_EQ(stat(dir.file("private.y4m").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(q5clitest::readBytes(dir.file("private.y4m")), whole);
    ASSERT_EQ(lstat(dir.file("link.y4m").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(q5clitest::readBytes(dir.file("target.y4m")), whole);
    EXPECT_EQ(q5clitest::readBytes(dir.file("b.y4m")), whole);

    const CliRun full = join("work", "/dev/full");
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.errText.find("tail:"), std::string::npos) << full.errText;
    const std::string said = "cannot write /dev/full: ";
    EXPECT_NE(full.errText.find(said), std::string::npos) << full.errText;
    EXPECT_EQ(full.errText.find(said), full.errText.rfind(said)) << full.errText;
}

// Counts are decimal whatever their zeros, --threads is held to what quorvane5 takes,
// and a script run from a checkout finds the command built there.
TEST(DenoiseCluster, ReadsCountsAsWrittenAndFindsTheBuiltCommand) {
    REQUIRE_TOOLS("parallel");
    ScratchDir dir;
    q5clitest::writeBytes(dir.file("in.y4m"), q5clitest::randomY4m("YUV4MPEG2 W32 H32 C420jpeg", 9, 6));
    const std::string files = quoted(dir.file("in.y4m")) + " " + quoted(dir.file("out.y4m"));
    for (const auto &[chunks, said] : {std::pair<const char *, const char *>{"08", "in 8 chunks"}, {"010", "in 9 chunks"}}) {
        const CliRun run = q5clitest::runShell(quoted(kScript) + " --quorvane5 \"$Q5\" --threads 1 --jobs 2 --chunks " +
                                               chunks + " " + files);
        EXPECT_EQ(run.status, 0) << run.errText;
        EXPECT_NE(run.errText.find(said), std::string::npos) << run.errText;
    }
    const CliRun many = q5clitest::runShell(quoted(kScript) + " --quorvane5 \"$Q5\" --threads 17 " + files);
    EXPECT_EQ(many.status, 2);
    EXPECT_NE(many.errText.find("--threads needs a whole number from 1 to 16, not \"17\""), std::string::npos) << many.errText;

    // A checkout: the script in scripts/, the command in build/hosts/cli/; nothing on PATH.
    const CliRun tree = q5clitest::runShell(
        "mkdir -p " + quoted(dir.file("tree/scripts")) + " " + quoted(dir.file("tree/build/hosts/cli")) + " && cp " +
        quoted(kScript) + " " + quoted(dir.file("tree/scripts")) + " && ln -s \"$Q5\" " +
        quoted(dir.file("tree/build/hosts/cli/quorvane5")) + " && PATH=/usr/bin:/bin " +
        quoted(dir.file("tree/scripts/denoise-cluster")) + " --threads 1 " + files);
    EXPECT_EQ(tree.status, 0) << tree.errText;
    const CliRun lost = q5clitest::runShell("rm " + quoted(dir.file("tree/build/hosts/cli/quorvane5")) + " && PATH=/usr/bin:/bin " +
                                            quoted(dir.file("tree/scripts/denoise-cluster")) + " --threads 1 " + files);
    EXPECT_EQ(lost.status, 1);
    EXPECT_NE(lost.errText.find("cannot find quorvane5: looked in " + dir.file("tree/scripts")), std::string::npos)
        << lost.errText;
    EXPECT_NE(lost.errText.find("--quorvane5"), std::string::npos) << lost.errText;
}

// HUP, INT or TERM sent to the script alone (not its process group) stops every
// chunk at once, removes what the run made, and gives 128 + the signal.
TEST(DenoiseCluster, ASignalToTheScriptAloneStopsTheChunksAndLeavesNothing) {
    REQUIRE_TOOLS("parallel");
    ScratchDir dir;
    q5clitest::writeBytes(dir.file("in.y4m"), q5clitest::randomY4m("YUV4MPEG2 W32 H32 C420jpeg", 6, 7));
    // Chunks that would take a minute; their pids are kept to see that none runs on.
    const std::string slow = "#!/bin/sh\ntouch \"$0.started\"\necho $$ >>\"$0.pids\"\nexec sleep 60\n";
    q5clitest::writeBytes(dir.file("slow"), std::vector<std::uint8_t>(slow.begin(), slow.end()));
    ASSERT_EQ(chmod(dir.file("slow").c_str(), 0755), 0);
    for (const auto &[signal, status] : {std::pair<const char *, int>{"HUP", 129}, {"INT", 130}, {"TERM", 143}}) {
        SCOPED_TRACE(signal);
        const CliRun run = q5clitest::runShell(
            // (A shell starts a command in the background with SIGINT ignored, which a
            // script cannot trap: it is started as from a terminal.)
            "export Q5; perl -e '$SIG{INT} = \"DEFAULT\"; exec @ARGV' " + quoted(kScript) + " --quorvane5 " +
            quoted(dir.file("slow")) + " --threads 1 --jobs 2 " + quoted(dir.file("in.y4m")) + " " +
            quoted(dir.file("out.y4m")) + " & pid=$!; " +
            "for i in $(seq 300); do [ -e " + quoted(dir.file("slow.started")) + " ] && break; sleep 0.1; done; "
            "kill -" + signal + " $pid; wait $pid; status=$?; "
            "for i in $(seq 50); do alive=''; for p in $(cat " + quoted(dir.file("slow.pids")) + "); do "
            "case $(ps -o stat= -p $p) in \"\"|Z*) ;; *) alive=$p;; esac; done; [ -n \"$alive\" ] || break; sleep 0.2; done; "
            "[ -z \"$alive\" ] || { kill $alive; echo \"a chunk ran on after the stop\" >&2; exit 99; }; exit $status");
        EXPECT_EQ(run.status, status) << run.errText;
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.y4m", "slow", "slow.pids", "slow.started"}));
        std::remove(dir.file("slow.started").c_str());
        std::remove(dir.file("slow.pids").c_str());
    }
}

}  // namespace
