// The built quorvane5 program against what a careless or hostile user does: signals,
// closed descriptors, file-size limits, descriptors named as files, outputs it must
// not replace, and messages that must come early and say the right thing.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "cli/cli_support.h"
#include "support/support.h"

namespace {

using q5clitest::readBytes;
using q5clitest::runCli;
using q5clitest::runShell;
using q5clitest::ScratchDir;

std::string quote(const std::string &s) { return "'" + s + "'"; }

std::vector<std::string> hiddenEntries(const ScratchDir &dir) {
    std::vector<std::string> hidden;
    for (const std::string &e : dir.entries())
        if (e[0] == '.') hidden.push_back(e);
    return hidden;
}

TEST(QuorvaneSafety, SignalsLimitsAndClosedDescriptorsLoseNothing) {
    ScratchDir dir;
    const std::string in = dir.file("in.y4m"), out = dir.file("out.y4m");
    q5clitest::writeBytes(in, q5clitest::randomY4m("YUV4MPEG2 W64 H64 C444", 4, q5test::testSeed()));
    ASSERT_EQ(runCli({"-q", in, dir.file("expected.y4m")}).status, 0);
    const auto expected = readBytes(dir.file("expected.y4m"));

    // Standard error closed: the 4:4:4 note must not land in the output, which the
    // program opens on the lowest free descriptor.
    const q5clitest::CliRun closed = runShell("\"$Q5\" - " + quote(out) + " < " + quote(in) + " 2>&-");
    EXPECT_EQ(closed.status, 0);
    EXPECT_TRUE(readBytes(out) == expected);
    std::remove(out.c_str());

    // A file-size limit: a write error with its message, and no temporary left.
    // (Fixed settings: the limit is the output's, not the trial runs'.)
    const q5clitest::CliRun limited =
        runShell("ulimit -f 8; \"$Q5\" -q --strength editor " + quote(in) + " " + quote(out));
    EXPECT_EQ(limited.status, 1) << limited.errText;
    EXPECT_EQ(limited.errText, "quorvane5: cannot write " + out + ": File too large\n");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"expected.y4m", "in.y4m"}));

    // Hangups and interrupts ignored at start (nohup, a background job) stay ignored.
    // The run waits for the rest of its input while the signals arrive.
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::size_t half = expected.size() / 2;
    const q5clitest::CliRun nohup = runShell(
        "trap '' HUP INT; \"$Q5\" -q - " + quote(out) + " < " + quote(fifo) + " & pid=$!; exec 3> " + quote(fifo) +
        "; head -c " + std::to_string(half) + " " + quote(in) + " >&3; "
        "n=0; until ls -a " + quote(dir.path()) + " | grep -q quorvane5- || [ $n -ge 200 ]; do sleep 0.05; n=$((n+1)); done; sleep 0.2; "
        "kill -HUP $pid; kill -INT $pid; sleep 0.2; tail -c +" + std::to_string(half + 1) + " " + quote(in) +
        " >&3; exec 3>&-; wait $pid");
    EXPECT_EQ(nohup.status, 0) << nohup.errText;
    EXPECT_TRUE(readBytes(out) == expected);

    // Any signal whose default is to end the program, not only the usual four, ends
    // it without leaving the temporary behind.
    const q5clitest::CliRun usr1 = runShell(
        "\"$Q5\" -q - " + quote(dir.file("cut.y4m")) + " < " + quote(fifo) + " & pid=$!; exec 3> " + quote(fifo) +
        "; head -c " + std::to_string(half) + " " + quote(in) + " >&3; "
        "n=0; until ls -a " + quote(dir.path()) + " | grep -q quorvane5- || [ $n -ge 200 ]; do sleep 0.05; n=$((n+1)); done; sleep 0.2; "
        "kill -USR1 $pid; wait $pid");
    EXPECT_EQ(usr1.status, 128 + SIGUSR1) << usr1.errText;
    EXPECT_EQ(hiddenEntries(dir), std::vector<std::string>{});
}

// A file with other hard links is rewritten in place at the end: an interrupt during
// that copy waits until it is done, since the old content is gone once it starts.
TEST(QuorvaneSafety, AnInterruptWaitsForTheInPlaceCopyOfAHardLinkedFile) {
    ScratchDir dir;
    const std::string in = dir.file("in.y4m"), out = dir.file("out.y4m"), other = dir.file("other.y4m");
    // Large enough that the copy takes many writes.
    const auto clip = q5clitest::randomY4m("YUV4MPEG2 W1920 H1080 Cmono", 8, q5test::testSeed());
    q5clitest::writeBytes(in, clip);
    q5clitest::writeBytes(out, {'x'});
    ASSERT_EQ(link(out.c_str(), other.c_str()), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0), dup2(null, 1), dup2(null, 2);
        execl(Q5_CLI_PATH, Q5_CLI_PATH, "-q", "--threads", "2", in.c_str(), out.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    // Once the shared file changes, the copy has begun: interrupt it.
    struct stat st {};
    int status = 0;
    bool interrupted = false;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (!interrupted && stat(other.c_str(), &st) == 0 && st.st_size != 1) {
            kill(pid, SIGINT);
            interrupted = true;
        }
        // Watched closely once the temporary is complete: the copy takes milliseconds.
        struct stat temp {};
        const std::vector<std::string> hidden = hiddenEntries(dir);
        if (!interrupted && hidden.size() == 1 && stat(dir.file(hidden[0]).c_str(), &temp) == 0 &&
            static_cast<std::size_t>(temp.st_size) >= clip.size())
            continue;
        const timespec pause = {0, 1000000};
        nanosleep(&pause, nullptr);
    }
    // On a busy machine the whole run can end between two looks; then there was
    // nothing to interrupt.
    if (!interrupted) GTEST_SKIP() << "the command finished before the copy was seen to begin";
    // The interrupt acts once the copy is done, or finds the command already exiting.
    EXPECT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) || (WIFEXITED(status) && WEXITSTATUS(status) == 0))
        << status;
    ASSERT_EQ(stat(other.c_str(), &st), 0);
    EXPECT_EQ(static_cast<std::size_t>(st.st_size), clip.size());
    EXPECT_EQ(st.st_nlink, 2u);
    EXPECT_EQ(hiddenEntries(dir), std::vector<std::string>{});
}

TEST(QuorvaneSafety, DescriptorNamesAreTheOpenDescriptorAndBadOutputsAreRefusedFirst) {
    ScratchDir dir;
    const std::string in = dir.file("in.y4m"), log = dir.file("log");
    q5clitest::writeBytes(in, q5clitest::randomY4m("YUV4MPEG2 W32 H32 C420jpeg", 3, q5test::testSeed()));
    ASSERT_EQ(runCli({"-q", in, dir.file("expected.y4m")}).status, 0);
    auto expected = readBytes(dir.file("expected.y4m"));

    // Appended to, as ">>" asks, and through a pipe, where the name leads nowhere.
    for (const char *name : {"/dev/stdout", "/proc/self/fd/1", "/dev/fd/3"}) {
        SCOPED_TRACE(name);
        const std::string redirect = std::string(name) == "/dev/fd/3" ? " 3>> " : " >> ";
        const q5clitest::CliRun appended = runShell("echo keep > " + quote(log) + "; \"$Q5\" -q " + quote(in) + " " +
                                                    name + redirect + quote(log));
        EXPECT_EQ(appended.status, 0) << appended.errText;
        std::vector<std::uint8_t> kept = {'k', 'e', 'e', 'p', '\n'};
        kept.insert(kept.end(), expected.begin(), expected.end());
        EXPECT_TRUE(readBytes(log) == kept);
        const q5clitest::CliRun piped = runShell("\"$Q5\" -q " + quote(in) + " " + name +
                                                 (redirect == " 3>> " ? " 3>&1" : "") + " | cat > " + quote(log));
        EXPECT_EQ(piped.status, 0) << piped.errText;
        EXPECT_TRUE(readBytes(log) == expected);
    }

    // An empty output name is refused before a frame is read (the clip's damage
    // would otherwise be found first), and nothing is made anywhere.
    q5clitest::writeBytes(dir.file("short.y4m"), {expected.begin(), expected.end() - 1});
    const q5clitest::CliRun empty = runShell("cd " + quote(dir.path()) + " && \"$Q5\" short.y4m ''");
    EXPECT_EQ(empty.status, 1);
    EXPECT_EQ(empty.errText, "quorvane5: the output file name is empty\n");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"expected.y4m", "in.y4m", "log", "short.y4m"}));
}

// Unless root, a file the user may not write is not replaced, as the shell's ">"
// refuses it, even where the folder would let a rename through.
TEST(QuorvaneSafety, AnOrdinaryUserDoesNotReplaceAFileHeMayNotWrite) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run the command as another user";
    if (std::system("command -v setpriv >/dev/null 2>&1") != 0) GTEST_SKIP() << "setpriv is not installed";
    ScratchDir dir;
    const uid_t nobody = 65534;
    const std::string as = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    if (runShell(as + "test -x \"$Q5\"").status != 0)
        GTEST_SKIP() << "the program is out of an ordinary user's reach (" << Q5_CLI_PATH << ")";
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    const std::string in = dir.file("in.y4m");
    q5clitest::writeBytes(in, q5clitest::randomY4m("YUV4MPEG2 W32 H32 C420jpeg", 2, q5test::testSeed()));
    const std::vector<std::uint8_t> old = {'o', 'l', 'd'};
    const auto place = [&](const char *name, mode_t mode, uid_t owner) {
        q5clitest::writeBytes(dir.file(name), old);
        EXPECT_EQ(chmod(dir.file(name).c_str(), mode), 0);
        EXPECT_EQ(chown(dir.file(name).c_str(), owner, owner), 0);
    };
    place("own-readonly.y4m", 0444, nobody);
    place("roots.y4m", 0644, 0);
    place("own.y4m", 0644, nobody);
    for (const char *name : {"own-readonly.y4m", "roots.y4m"}) {
        SCOPED_TRACE(name);
        const q5clitest::CliRun run = runShell(as + "\"$Q5\" -q " + quote(in) + " " + quote(dir.file(name)));
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.errText, "quorvane5: cannot write " + dir.file(name) + ": Permission denied\n");
        EXPECT_EQ(readBytes(dir.file(name)), old);
    }
    const q5clitest::CliRun own = runShell(as + "\"$Q5\" -q " + quote(in) + " " + quote(dir.file("own.y4m")));
    EXPECT_EQ(own.status, 0) << own.errText;
    EXPECT_NE(readBytes(dir.file("own.y4m")), old);
}

}  // namespace

namespace {

// The preview refuses what it cannot show before any work, in words that fit, and
// never puts anything but the picture where the picture goes.
TEST(QuorvaneSafety, PreviewRefusesEarlyAndCountsFromTheStartOfTheFile) {
    ScratchDir dir;
    const std::string in = dir.file("in.y4m"), png = dir.file("p.png");
    const std::string header = "YUV4MPEG2 W176 H144 C420jpeg";
    const auto clip = q5clitest::randomY4m(header, 6, q5test::testSeed());
    q5clitest::writeBytes(in, clip);
    const auto fails = [&](const std::string &commandLine, int status, const std::string &text) {
        SCOPED_TRACE(commandLine);
        const q5clitest::CliRun run = runShell(commandLine);
        EXPECT_EQ(run.status, status);
        EXPECT_EQ(run.errText, "quorvane5: " + text + "\n");
    };
    const std::string preview = "\"$Q5\" preview ";
    // Frames at the end of the int range, from a pipe and from a file.
    const std::string none = ": the clip has 6 frames (0 to 5); there is no frame ";
    fails("cat " + quote(in) + " | " + preview + "- --frame 2147483647 --out " + quote(png), 1,
          "standard input" + none + "2147483647");
    fails("cat " + quote(in) + " | " + preview + "- --mosquito --frame 2147483646 --out " + quote(png), 1,
          "standard input" + none + "2147483646");
    fails(preview + quote(in) + " --mosquito --frame 2147483647 --out " + quote(png), 1, in + none + "2147483647");
    q5clitest::writeBytes(dir.file("header.y4m"), q5clitest::randomY4m(header, 0, 1));
    fails(preview + quote(dir.file("header.y4m")) + " --out " + quote(png), 1,
          dir.file("header.y4m") + ": the clip has no frames; there is no frame 0");
    // What the picture must not go to or replace, refused before a frame is read.
    fails(preview + quote(in) + " --reference " + quote(in) + " --out " + quote(png), 2,
          "preview shows one frame, with no clean clip to compare with; --reference is for INPUT OUTPUT");
    ASSERT_EQ(link(in.c_str(), dir.file("same.y4m").c_str()), 0);
    for (const std::string &same : {in, dir.file("same.y4m")})
        fails(preview + quote(in) + " --out " + quote(same), 2,
              "--out " + same + " is the input: the picture would replace the clip");
    fails(preview + quote(in) + " --frame 9 --out ''", 1, "the output file name is empty");
    EXPECT_TRUE(readBytes(in) == clip);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"header.y4m", "in.y4m", "same.y4m"}));

    // A picture on standard output: the report goes to standard error, the PNG ends
    // with its IEND chunk.
    const q5clitest::CliRun toStdout = runShell(preview + quote(in) + " --out - > " + quote(png));
    EXPECT_EQ(toStdout.status, 0) << toStdout.errText;
    EXPECT_NE(toStdout.errText.find("Frame 0 of " + in), std::string::npos) << toStdout.errText;
    const auto picture = readBytes(png);
    const std::vector<std::uint8_t> iend = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    ASSERT_GE(picture.size(), iend.size());
    EXPECT_TRUE(std::equal(iend.begin(), iend.end(), picture.end() - iend.size()));

    // Damage past a seek is placed as the whole run places it; a FRAME line over the
    // limit is called too long, whether read or stepped over.
    const std::size_t frameBytes = 176 * 144 * 3 / 2, start = header.size() + 1;
    auto junk = clip;
    std::copy_n("JUNK!\n", 6, junk.begin() + start + 4 * (frameBytes + 6));
    auto longLine = std::vector<std::uint8_t>(clip.begin(), clip.begin() + start + frameBytes + 6);
    const std::string marker = "FRAME X" + std::string(5000, 'x') + "\n";
    longLine.insert(longLine.end(), marker.begin(), marker.end());
    longLine.insert(longLine.end(), clip.begin() + start + frameBytes + 12, clip.end());
    for (const auto &[name, bytes] : {std::make_pair("junk.y4m", junk), std::make_pair("long.y4m", longLine)}) {
        const std::string path = dir.file(name);
        q5clitest::writeBytes(path, bytes);
        const q5clitest::CliRun run = runCli({"-q", path, dir.file("out.y4m")});
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.errText.find(name == std::string("junk.y4m") ? "unexpected data after frame 3 at byte " +
                                                                          std::to_string(start + 4 * (frameBytes + 6))
                                                                    : "frame 1: the FRAME line is too long (over 4096 bytes"),
                  std::string::npos)
            << run.errText;
        fails(preview + quote(path) + " --frame 3 --out " + quote(png), 1, run.errText.substr(11, run.errText.size() - 12));
    }
}

}  // namespace

namespace {

// Starts the command reading a pipe into `out`, feeds it half of `clip`, and once its
// temporary is there sends `sig`. Returns the exit status, 128 + the signal when the
// signal ended it.
int interruptedRun(const ScratchDir &dir, const std::vector<std::uint8_t> &clip, const std::string &out, int sig) {
    // A sanitizer build leaves the fault signals to the program, as a release build has them.
    const char *given = std::getenv("ASAN_OPTIONS");
    const std::string asan = std::string(given && *given ? std::string(given) + ":" : "") +
                             "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0";
    int feed[2];
    if (pipe(feed) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(feed[0], 0);
        close(feed[0]), close(feed[1]);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1), dup2(null, 2);
        // No core files from the signals that dump one; each signal as a new program has it.
        const rlimit noCore = {0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(sig, SIG_DFL);
        setenv("ASAN_OPTIONS", asan.c_str(), 1);
        execl(Q5_CLI_PATH, Q5_CLI_PATH, "-q", "-", out.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    close(feed[0]);
    const ssize_t fed = write(feed[1], clip.data(), clip.size() / 2);
    for (int i = 0; i < 1000 && hiddenEntries(dir).empty(); ++i) {
        const timespec pause = {0, 5000000};
        nanosleep(&pause, nullptr);
    }
    // The temporary is made an instant before its cleanup is set up.
    const timespec settle = {0, 50000000};
    nanosleep(&settle, nullptr);
    kill(pid, sig);
    int status = 0;
    waitpid(pid, &status, 0);
    close(feed[1]);
    if (fed <= 0) return -1;
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

// Whatever ends the program by default, a user's kill, a CPU limit (SIGXCPU), a
// profiler's timer or a real-time signal, ends it without leaving its temporary.
TEST(QuorvaneSafety, EverySignalThatEndsTheProgramRemovesItsTemporary) {
    ScratchDir dir;
    const auto clip = q5clitest::randomY4m("YUV4MPEG2 W64 H64 C444", 4, q5test::testSeed());
    std::vector<int> signals = {SIGHUP, SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT, SIGBUS,    SIGFPE,
                                SIGUSR1, SIGSEGV, SIGUSR2,  SIGALRM, SIGTERM, SIGSTKFLT, SIGXCPU, SIGVTALRM,
                                SIGPROF, SIGIO,   SIGPWR,   SIGSYS};
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) signals.push_back(sig);
    for (const int sig : signals) {
        SCOPED_TRACE(testing::Message() << "signal " << sig << " (" << strsignal(sig) << ")");
        EXPECT_EQ(interruptedRun(dir, clip, dir.file("out.y4m"), sig), 128 + sig);
        EXPECT_EQ(dir.entries(), std::vector<std::string>{});
    }
}

// Standard descriptors: one closed at start is not an output or an input, standard
// error (by any name) is not an output, and a descriptor on the input file is not one
// either, whatever the names, nor is the reference's file; a named output replacing
// its input still works.
TEST(QuorvaneSafety, RefusesClosedDescriptorsStandardErrorAndTheInputOrReferenceAsOutput) {
    ScratchDir dir;
    const std::string in = dir.file("in.y4m"), x = dir.file("x.y4m"), ref = dir.file("ref.y4m");
    const auto clip = q5clitest::randomY4m("YUV4MPEG2 W32 H32 C420jpeg", 3, q5test::testSeed());
    q5clitest::writeBytes(in, clip);
    q5clitest::writeBytes(ref, clip);
    ASSERT_EQ(runCli({"-q", in, dir.file("expected.y4m")}).status, 0);
    const auto expected = readBytes(dir.file("expected.y4m"));
    const auto refused = [&](const std::string &commandLine, const std::string &text) {
        SCOPED_TRACE(commandLine);
        const q5clitest::CliRun run = runShell(commandLine);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.errText, "quorvane5: " + text + "\n");
        EXPECT_TRUE(readBytes(in) == clip);
        EXPECT_TRUE(readBytes(ref) == clip);
    };
    const std::string q5 = "\"$Q5\" -q " + quote(in);
    refused(q5 + " - >&-", "standard output is closed: give an output file or a pipe");
    refused(q5 + " /dev/stdout >&-", "standard output is closed: give an output file or a pipe");
    refused("\"$Q5\" preview " + quote(in) + " --out - >&-", "standard output is closed: give an output file or a pipe");
    refused("\"$Q5\" - " + quote(x) + " <&-", "standard input is closed: give an input file or a pipe");
    for (const std::string name : {"/dev/stderr", "/dev/fd/2", "/proc/self/fd/2"}) {
        const q5clitest::CliRun run = runShell(q5 + " " + name + " 2> " + quote(x));
        EXPECT_EQ(run.status, 1) << name;
        const auto text = readBytes(x);
        EXPECT_EQ(std::string(text.begin(), text.end()),
                  "quorvane5: will not write " + name + ": it is standard error, where the messages go\n");
    }
    const q5clitest::CliRun merged = runShell("\"$Q5\" " + quote(in) + " - 2>&1 | cat > " + quote(x));
    EXPECT_EQ(merged.status, 0);  // the status of cat
    const auto mergedText = readBytes(x);
    EXPECT_EQ(std::string(mergedText.begin(), mergedText.end()),
              "quorvane5: will not write standard output: it is standard error, where the messages go\n");
    // Both to /dev/null is fine.
    EXPECT_EQ(runShell(q5 + " - > /dev/null 2>&1").status, 0);

    refused(q5 + " - >> " + quote(in), "the output is the input file (" + in + "): it would overwrite the clip as it is read");
    refused("\"$Q5\" -q - /dev/stdin 0<> " + quote(in),
            "the output is the input file (standard input): it would overwrite the clip as it is read");
    refused(q5 + " --reference " + quote(ref) + " - >> " + quote(ref),
            "the output is the reference file (" + ref + "): it would overwrite the clip as it is read");
    // Replaced at the end, by name or through a link, the reference would be lost.
    ASSERT_EQ(symlink(ref.c_str(), dir.file("link.y4m").c_str()), 0);
    for (const std::string &name : {ref, dir.file("link.y4m")})
        refused(q5 + " --reference " + quote(ref) + " " + quote(name),
                "the output is the reference file (" + ref + "): it would replace the clip the output is measured against");
    EXPECT_EQ(hiddenEntries(dir), std::vector<std::string>{});
    const q5clitest::CliRun inPlace = runCli({"-q", in, in});
    EXPECT_EQ(inPlace.status, 0) << inPlace.errText;
    EXPECT_TRUE(readBytes(in) == expected);
}

// A clip handed over already read partway (an earlier command read the start of the
// file) begins where the reading began, and the preview seeks within it from there.
TEST(QuorvaneSafety, PreviewSeeksFromWhereTheStreamBegins) {
    ScratchDir dir;
    const std::string header = "YUV4MPEG2 W32 H32 C420jpeg";
    const auto first = q5clitest::randomY4m(header, 8, 1), second = q5clitest::randomY4m(header, 8, 2);
    auto both = first;
    both.insert(both.end(), second.begin(), second.end());
    q5clitest::writeBytes(dir.file("both.y4m"), both);
    q5clitest::writeBytes(dir.file("second.y4m"), second);
    const q5clitest::CliRun partway = runShell(
        "{ dd bs=" + std::to_string(first.size()) + " count=1 of=/dev/null 2>/dev/null; \"$Q5\" -q preview - --frame 5 --out " +
        quote(dir.file("partway.png")) + "; } < " + quote(dir.file("both.y4m")));
    ASSERT_EQ(partway.status, 0) << partway.errText;
    ASSERT_EQ(runCli({"-q", "preview", dir.file("second.y4m"), "--frame", "5", "--out", dir.file("whole.png")}).status, 0);
    EXPECT_TRUE(readBytes(dir.file("partway.png")) == readBytes(dir.file("whole.png")));
    // So does a whole run's progress count, and the output is the second clip's.
    const q5clitest::CliRun run = runShell("{ dd bs=" + std::to_string(first.size()) +
                                           " count=1 of=/dev/null 2>/dev/null; \"$Q5\" -q - " + quote(dir.file("a.y4m")) +
                                           "; } < " + quote(dir.file("both.y4m")));
    ASSERT_EQ(run.status, 0) << run.errText;
    ASSERT_EQ(runCli({"-q", dir.file("second.y4m"), dir.file("b.y4m")}).status, 0);
    EXPECT_TRUE(readBytes(dir.file("a.y4m")) == readBytes(dir.file("b.y4m")));
}

// The finish is checked before the work: a file the rename cannot replace (another
// user's in a sticky folder) or in a folder the user may not write is rewritten in
// place; a new file where the folder refuses one names the folder at once.
TEST(QuorvaneSafety, AFileTheRenameCannotReplaceIsRewrittenInPlace) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run the command as another user";
    if (std::system("command -v setpriv >/dev/null 2>&1") != 0) GTEST_SKIP() << "setpriv is not installed";
    const std::string as = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    if (runShell(as + "test -x \"$Q5\"").status != 0)
        GTEST_SKIP() << "the program is out of an ordinary user's reach (" << Q5_CLI_PATH << ")";
    ScratchDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    const std::string in = dir.file("in.y4m");
    q5clitest::writeBytes(in, q5clitest::randomY4m("YUV4MPEG2 W32 H32 C420jpeg", 2, q5test::testSeed()));
    ASSERT_EQ(chmod(in.c_str(), 0644), 0);
    ASSERT_EQ(runCli({"-q", in, dir.file("expected.y4m")}).status, 0);
    const auto expected = readBytes(dir.file("expected.y4m"));
    ASSERT_EQ(mkdir(dir.file("sticky").c_str(), 01777), 0);
    ASSERT_EQ(chmod(dir.file("sticky").c_str(), 01777), 0);
    ASSERT_EQ(mkdir(dir.file("closed").c_str(), 0755), 0);
    const std::vector<std::uint8_t> old = {'o', 'l', 'd'};
    struct stat before {}, after {};
    for (const std::string &file : {dir.file("sticky/theirs.y4m"), dir.file("closed/mine.y4m")}) {
        SCOPED_TRACE(file);
        q5clitest::writeBytes(file, old);
        ASSERT_EQ(chmod(file.c_str(), 0666), 0);
        ASSERT_EQ(chown(file.c_str(), file.find("sticky") != std::string::npos ? 4321 : 65534, 4321), 0);
        ASSERT_EQ(stat(file.c_str(), &before), 0);
        const q5clitest::CliRun run = runShell(as + "\"$Q5\" -q " + quote(in) + " " + quote(file));
        EXPECT_EQ(run.status, 0) << run.errText;
        EXPECT_TRUE(readBytes(file) == expected);
        ASSERT_EQ(stat(file.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
    }
    const q5clitest::CliRun made = runShell(as + "\"$Q5\" -q " + quote(in) + " " + quote(dir.file("closed/new.y4m")));
    EXPECT_EQ(made.status, 1);
    EXPECT_EQ(made.errText, "quorvane5: cannot write " + dir.file("closed/new.y4m") + ": cannot create a file in the folder " +
                                dir.file("closed") + " (Permission denied)\n");
}

// A hard-linked output is copied into place only when its file system can hold it:
// refused whole, never half rewritten. Names as long as the folder allows are outputs
// like any other.
TEST(QuorvaneSafety, AnInPlaceCopyThatCannotFitIsNotBegunAndLongNamesWork) {
    ScratchDir dir;
    const std::string in = dir.file("in.y4m"), out = dir.file("out.y4m"), other = dir.file("other.y4m");
    q5clitest::writeBytes(in, q5clitest::randomY4m("YUV4MPEG2 W64 H64 C420jpeg", 4, q5test::testSeed()));
    const std::vector<std::uint8_t> old = {'o', 'l', 'd'};
    q5clitest::writeBytes(out, old);
    ASSERT_EQ(link(out.c_str(), other.c_str()), 0);
    const q5clitest::CliRun full =
        runShell(q5clitest::preloadingFailures("Q5_FREE_BYTES=0") + "\"$Q5\" -q " + quote(in) + " " + quote(out));
    EXPECT_EQ(full.status, 1);
    const std::string said = "quorvane5: cannot write " + out + ": the output needs 25 KB and its file system has room for ";
    EXPECT_EQ(full.errText.rfind(said, 0), 0u) << full.errText;
    EXPECT_NE(full.errText.find(" KB; the file is left as it was\n", said.size()), std::string::npos) << full.errText;
    EXPECT_EQ(readBytes(out), old);
    EXPECT_EQ(readBytes(other), old);
    EXPECT_EQ(hiddenEntries(dir), std::vector<std::string>{});
    const q5clitest::CliRun roomy =
        runShell(q5clitest::preloadingFailures("Q5_FREE_BYTES=1000000") + "\"$Q5\" -q " + quote(in) + " " + quote(out));
    EXPECT_EQ(roomy.status, 0) << roomy.errText;
    EXPECT_EQ(readBytes(other), readBytes(out));
    EXPECT_NE(readBytes(other), old);
    // The old file's own blocks are freed by the copy: a larger old file makes room
    // for the output on a disk with none to spare.
    const std::vector<std::uint8_t> large(64 * 1024, 'L');
    q5clitest::writeBytes(out, large);
    const q5clitest::CliRun reused =
        runShell(q5clitest::preloadingFailures("Q5_FREE_BYTES=0") + "\"$Q5\" -q " + quote(in) + " " + quote(out));
    EXPECT_EQ(reused.status, 0) << reused.errText;
    EXPECT_EQ(readBytes(other), readBytes(out));
    EXPECT_NE(readBytes(other), large);

    const std::string longName = dir.file(std::string(255 - 4, 'n') + ".y4m");
    const q5clitest::CliRun named = runCli({"-q", in, longName});
    EXPECT_EQ(named.status, 0) << named.errText;
    EXPECT_TRUE(readBytes(longName) == readBytes(out));
    EXPECT_EQ(hiddenEntries(dir), std::vector<std::string>{});
}

}  // namespace
