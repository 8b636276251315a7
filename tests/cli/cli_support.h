// Helpers for the command-line program's tests: y4m clips in memory, scratch
// directories, and running the built program with its exit status and messages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/io/y4m.h"

namespace q5clitest {

/// A y4m stream with `frames` frames of random codes (within the format's range).
std::vector<std::uint8_t> randomY4m(const std::string &header, int frames, std::uint32_t seed,
                                    const std::string &frameParams = "");

/// A fresh directory, removed with everything in it when the object goes.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }
    /// Names of the entries in the directory, sorted.
    std::vector<std::string> entries() const;

private:
    std::string path_;
};

void writeBytes(const std::string &path, const std::vector<std::uint8_t> &bytes);
std::vector<std::uint8_t> readBytes(const std::string &path);

struct CliRun {
    int status = -1;      // exit status, or 128 + signal
    std::string errText;  // standard error
};

/// Runs the built quorvane5 with stdin from `in` (or /dev/null) and stdout to `out`
/// (or /dev/null).
CliRun runCli(const std::vector<std::string> &args, const std::string &in = "",
              const std::string &out = "");
/// Runs a shell command line (for pipes); $Q5 in it names the program.
CliRun runShell(const std::string &commandLine);

/// The start of a shell command line that runs the program with the test library
/// that fails calls on cue preloaded and `settings` ("Q5_FAIL_RENAME=7") in its
/// environment; the program (as "$Q5" and its arguments) follows. Holds in a
/// sanitizer build too.
std::string preloadingFailures(const std::string &settings);

/// Parses a whole y4m stream: its format and frames, or fails the calling test.
bool parseY4m(const std::vector<std::uint8_t> &bytes, q5cli::Y4mFormat *format,
              std::vector<q5cli::Y4mFrame> *frames, std::string *error);

}  // namespace q5clitest
