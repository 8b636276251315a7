// The 32-bit Windows test host, run under wine by the Linux tests:
//   q5winhost describe MODULE
//   q5winhost guard
//   q5winhost run MODULE CLIP OUT THREADS SETTINGS...
//   q5winhost window MODULE
//   q5winhost fps MODULE THREADS [WIDTHxHEIGHT] [prepasses]
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "win32/commands.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: q5winhost describe MODULE\n"
                 "       q5winhost guard\n"
                 "       q5winhost run MODULE CLIP OUT THREADS t0,..,t5/c0,..,c4 ...\n"
                 "       q5winhost window MODULE\n"
                 "       q5winhost fps MODULE THREADS [WIDTHxHEIGHT] [prepasses]   (default 1920x1080)\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    // Output goes to a pipe under the tests: keep it in order with the exit status.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return usage();
    const std::string &command = args[0];
    if (command == "describe" && args.size() == 2) return q5win::describeCommand(args[1]);
    if (command == "guard" && args.size() == 1) return q5win::guardCommand();
    if (command == "window" && args.size() == 2) return q5win::windowCommand(args[1]);
    if (command == "run" && args.size() >= 6) {
        const int threads = std::atoi(args[4].c_str());
        if (threads < 1 || threads > 16) return usage();
        return q5win::runCommand(args[1], args[2], args[3], threads,
                                 std::vector<std::string>(args.begin() + 5, args.end()));
    }
    if (command == "fps" && args.size() >= 3 && args.size() <= 5) {
        const int threads = std::atoi(args[2].c_str());
        int width = 1920, height = 1080;
        bool prepasses = false;
        for (std::size_t i = 3; i < args.size(); ++i) {
            if (args[i] == "prepasses") prepasses = true;
            else if (std::sscanf(args[i].c_str(), "%dx%d", &width, &height) != 2) return usage();
        }
        if (threads < 1 || threads > 16 || width < 16 || height < 16 || width > 4096 || height > 2304)
            return usage();
        return q5win::fpsCommand(args[1], threads, width, height, prepasses);
    }
    return usage();
}
