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

// Free address space in total and in its longest run, in bytes.
struct FreeSpace {
    unsigned long long total, longest;
};

FreeSpace freeAddressSpace() {
    FreeSpace space{0, 0};
    MEMORY_BASIC_INFORMATION info;
    for (const char *at = nullptr; VirtualQuery(at, &info, sizeof info) == sizeof info;) {
        if (info.State == MEM_FREE) {
            space.total += info.RegionSize;
            if (info.RegionSize > space.longest) space.longest = info.RegionSize;
        }
        const char *next = static_cast<const char *>(info.BaseAddress) + info.RegionSize;
        if (next <= at) break;
        at = next;
    }
    return space;
}

// Reserves the start of the longest free run, again and again, until at most
// limit bytes are free: the largest runs go first, as they would in a long-running
// editor.
bool limitAddressSpace(unsigned long long limit) {
    constexpr unsigned long long kGranularity = 64 * 1024;
    for (int round = 0; round < 4096; ++round) {
        const FreeSpace space = freeAddressSpace();
        if (space.total <= limit) return true;
        MEMORY_BASIC_INFORMATION info, longest{};
        for (const char *at = nullptr; VirtualQuery(at, &info, sizeof info) == sizeof info;) {
            if (info.State == MEM_FREE && info.RegionSize == space.longest) longest = info;
            const char *next = static_cast<const char *>(info.BaseAddress) + info.RegionSize;
            if (next <= at) break;
            at = next;
        }
        unsigned long long take = space.total - limit;
        if (take > longest.RegionSize) take = longest.RegionSize;
        take = (take + kGranularity - 1) / kGranularity * kGranularity;
        if (take > longest.RegionSize) take = longest.RegionSize / kGranularity * kGranularity;
        if (take == 0 || !VirtualAlloc(longest.BaseAddress, static_cast<SIZE_T>(take), MEM_RESERVE, PAGE_NOACCESS))
            return false;
    }
    return false;
}

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
        const FreeSpace before = freeAddressSpace();
        if (mb == 0 || !limitAddressSpace(mb << 20)) {
            std::fprintf(stderr, "q5winhost: cannot limit the address space to %s MB\n", limit);
            return 2;
        }
        const FreeSpace after = freeAddressSpace();
        std::printf("address space: %llu MB free (longest run %llu MB), limited to %llu MB free (longest run %llu MB)\n",
                    before.total >> 20, before.longest >> 20, after.total >> 20, after.longest >> 20);
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
