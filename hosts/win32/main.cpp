// The 32-bit Windows test host, run under wine by the Linux tests:
//   q5winhost describe MODULE
//   q5winhost guard
//   q5winhost run MODULE CLIP OUT THREADS SETTINGS...
//   q5winhost window MODULE
//   q5winhost fps MODULE THREADS [WIDTHxHEIGHT] [prepasses]
// Q5_ADDRESS_SPACE_MB=N leaves the process N MB of free address space before
// anything else runs: the rest is reserved, as an editor's own images, caches and
// other plug-ins would hold it, so the module has to make do with what is left.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "win32/commands.h"

namespace {

// Address space the process can still reserve, found by reserving it: chunks of
// 1 GB, then of half as much, and so on down to 64 KB, as long as any is granted.
// What the system reports of its own free regions need not be what it grants
// (wine keeps ranges of its own aside).
struct Reserved {
    std::vector<std::pair<void *, SIZE_T>> chunks;  // largest first
    unsigned long long total = 0;
};

Reserved reserveEverything() {
    Reserved r;
    for (SIZE_T size = SIZE_T{1} << 30; size >= 64 * 1024; size /= 2)
        while (void *p = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS)) {
            r.chunks.push_back({p, size});
            r.total += size;
        }
    return r;
}

// Leaves about limit bytes of address space free, handing back the largest chunks
// first (so that what is left free comes in long runs, as in an editor that made
// one large reservation before loading the plug-in), and keeps the rest reserved.
// Returns the free space before and after.
std::pair<unsigned long long, unsigned long long> limitAddressSpace(unsigned long long limit) {
    Reserved r = reserveEverything();
    const unsigned long long before = r.total;
    unsigned long long handedBack = 0;
    for (auto &[p, size] : r.chunks) {
        if (handedBack >= limit) break;
        if (handedBack + size > limit && size > 64 * 1024) continue;  // a smaller one fits better
        VirtualFree(p, 0, MEM_RELEASE);
        handedBack += size;
        p = nullptr;
    }
    return {before, handedBack};
}

}  // namespace

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
    if (const char *limit = std::getenv("Q5_ADDRESS_SPACE_MB"); limit && *limit) {
        const unsigned long long mb = std::strtoull(limit, nullptr, 10);
        const auto [before, after] = mb > 0 ? limitAddressSpace(mb << 20) : std::pair{0ull, 0ull};
        if (after == 0 || before < (mb << 20)) {
            std::fprintf(stderr, "q5winhost: cannot limit the address space to %s MB (%llu MB free)\n", limit,
                         before >> 20);
            return 2;
        }
        std::printf("address space: %llu MB free, limited to %llu MB free\n", before >> 20, after >> 20);
    }
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
