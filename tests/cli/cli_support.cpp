// Helpers for the command-line program's tests.
#include "cli/cli_support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace q5clitest {

std::vector<std::uint8_t> randomY4m(const std::string &header, int frames, std::uint32_t seed,
                                    const std::string &frameParams) {
    q5cli::Y4mFormat f;
    std::string error;
    if (!q5cli::parseY4mHeader(header, &f, &error)) return {};
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> code(0, f.maxCode());
    std::string text = header + "\n";
    std::vector<std::uint8_t> out(text.begin(), text.end());
    for (int n = 0; n < frames; ++n) {
        const std::string marker = "FRAME" + frameParams + "\n";
        out.insert(out.end(), marker.begin(), marker.end());
        for (std::size_t i = 0; i < f.frameBytes() / f.bytesPerSample(); ++i) {
            const int v = code(rng);
            out.push_back(static_cast<std::uint8_t>(v));
            if (f.bits > 8) out.push_back(static_cast<std::uint8_t>(v >> 8));
        }
    }
    return out;
}

ScratchDir::ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "q5cli-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

std::vector<std::string> ScratchDir::entries() const {
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(path_))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void writeBytes(const std::string &path, const std::vector<std::uint8_t> &bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> readBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

namespace {

CliRun spawn(const std::vector<std::string> &argv, const std::string &in, const std::string &out) {
    char errPath[] = "/tmp/q5cli-err-XXXXXX";
    const int errFd = mkstemp(errPath);
    CliRun run;
    const pid_t pid = fork();
    if (pid == 0) {
        const int inFd = open(in.empty() ? "/dev/null" : in.c_str(), O_RDONLY);
        const int outFd = out.empty() ? open("/dev/null", O_WRONLY)
                                      : open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(inFd, 0);
        dup2(outFd, 1);
        dup2(errFd, 2);
        std::vector<char *> args;
        for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    close(errFd);
    const std::vector<std::uint8_t> err = readBytes(errPath);
    run.errText.assign(err.begin(), err.end());
    unlink(errPath);
    return run;
}

}  // namespace

CliRun runCli(const std::vector<std::string> &args, const std::string &in, const std::string &out) {
    std::vector<std::string> argv = {Q5_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return spawn(argv, in, out);
}

CliRun runShell(const std::string &commandLine) {
    return spawn({"/bin/sh", "-c", "Q5='" Q5_CLI_PATH "'; " + commandLine}, "", "");
}

std::string preloadingFailures(const std::string &settings) {
    // AddressSanitizer wants its runtime first among the preloads; ours only wraps calls.
    return "LD_PRELOAD='" Q5_FAILING_CALLS "' ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0\" " +
           settings + " ";
}

bool parseY4m(const std::vector<std::uint8_t> &bytes, q5cli::Y4mFormat *format,
              std::vector<q5cli::Y4mFrame> *frames, std::string *error) {
    q5cli::MemorySource source(bytes.data(), bytes.size());
    q5cli::Y4mReader reader(source, "stream");
    if (!reader.readHeader(format, error)) return false;
    frames->clear();
    for (;;) {
        q5cli::Y4mFrame frame;
        switch (reader.readFrame(*format, &frame, error)) {
        case q5cli::Y4mReader::Frame: frames->push_back(std::move(frame)); break;
        case q5cli::Y4mReader::End: return true;
        case q5cli::Y4mReader::Error: return false;
        }
    }
}

}  // namespace q5clitest
