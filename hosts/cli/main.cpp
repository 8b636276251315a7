// quorvane5: denoises y4m video with the filter module, from files or pipes. Parses
// the command line and hands it to one of the commands.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "cli/command/demo.h"
#include "cli/command/denoise.h"
#include "cli/command/options.h"
#include "cli/command/preview.h"
#include "cli/command/shared.h"
#include "cli/io/signals.h"

#ifndef Q5_VERSION
#define Q5_VERSION "unknown"
#endif

namespace {

using namespace q5cli;

// Which module ran, for a user with more than one copy; without one the program
// cannot work, so that is an error.
int printVersion(const Options &options) {
    std::printf("quorvane5 %s\n", Q5_VERSION);
    LoadedFilter filter;
    std::string error;
    if (loadModule(options.module, &filter, &error) && filter.descriptor->information) {
        char real[PATH_MAX];
        std::printf("filter: %s\nmodule: %s\n", filter.descriptor->information,
                    realpath(filter.path.c_str(), real) ? real : filter.path.c_str());
        return 0;
    }
    std::printf("filter: not loaded\nmodule: %s\n",
                filter.module ? (filter.path + ": gave no filter").c_str() : error.c_str());
    return 1;
}

bool isNonDirectory(const char *path) {
    struct stat st {};
    return stat(path, &st) == 0 && !S_ISDIR(st.st_mode);
}

// "demo DIR" where a file named demo exists denoises that file into DIR.
int runDemoOrFile(const Options &options) {
    if (!options.demoMayBeFile || !isNonDirectory("demo")) return runDemo(options);
    message("denoising the file named demo into " + options.demoDir +
            " (where no such file exists, \"demo DIR\" runs the built-in demo into DIR)");
    Options denoise = options;
    denoise.command = Options::Denoise;
    denoise.input = "demo";
    denoise.output = options.demoDir;
    return runDenoiseCommand(denoise);
}

// Text for standard output (help, version, reports) that could not all be written,
// to a full disk or a closed pipe, is a failure like any other write.
int flushed(int status) {
    errno = 0;
    const bool flushedAll = std::fflush(stdout) == 0;
    const int why = errno;
    if (flushedAll && !std::ferror(stdout)) return status;
    message(std::string("cannot write standard output: ") + (why ? std::strerror(why) : "write error"));
    return status == 0 ? 1 : status;
}

int run(const Options &options) {
    switch (options.command) {
    case Options::Help: std::fputs(helpText().c_str(), stdout); return 0;
    case Options::Version: return printVersion(options);
    case Options::Demo: return runDemoOrFile(options);
    case Options::Preview: return runPreview(options);
    case Options::Denoise: break;
    }
    return runDenoiseCommand(options);
}

}  // namespace

int main(int argc, char **argv) {
    prepareProcess();
    // The text is written at the end in one piece, where a failure keeps its reason.
    static char outputBuffer[1 << 16];
    if (!isatty(1)) std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
    Options options;
    std::string error;
    if (!parseOptions(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
        message(error);
        std::fprintf(stderr, "%sTry 'quorvane5 --help' for more.\n", usageLine().c_str());
        return 2;
    }
    // An exception that reaches here (memory exhausted, a picture the PNG library
    // refused) is a message and status 1, after the unwinding has removed any
    // temporary output, rather than an abort that leaves one behind.
    try {
        return flushed(run(options));
    } catch (const std::exception &e) {
        message(e.what());
        return 1;
    }
}
