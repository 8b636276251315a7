// The Windows module's speed with its AVX2 kernels and kept to SSE2 ones, measured
// in one process: rounds that take the two in turn, so that both see the same load
// on a shared machine. Each round loads the filter afresh (func_init chooses the
// kernels, Q5_MAX_TIER=sse2 keeps them from AVX2), plays a generated clip forwards with the
// default settings (both pre-passes on if asked) and times every func_proc after
// the three that fill the frame ring, less what the host spends fetching frames,
// and the process's CPU time over the same calls (fetches included). Both ways
// must give the same frames; the command fails if they do not.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <windows.h>
#include <psapi.h>

#include "common/test_scene.h"
#include "win32/checks.h"
#include "win32/commands.h"
#include "win32/win_host.h"

namespace q5win {

namespace {

// Many short rounds rather than a few long ones: the load of a shared machine
// changes within seconds.
constexpr int kFrames = 12, kRingFill = 3, kRounds = 8;

// Peak working set and peak private bytes of this process so far, in MB.
void printMemory(const char *when) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        std::printf("%s: peak working set %.1f MB, peak private bytes %.1f MB\n", when,
                    counters.PeakWorkingSetSize / 1048576.0, counters.PeakPagefileUsage / 1048576.0);
}

// The host's frame fetches are timed apart and left out of the filter's figure.
PIXEL_YC *(*hostFetch)(FILTER *, void *, int, int *, int *) = nullptr;
double fetchSeconds = 0;
LARGE_INTEGER ticksPerSecond;

double now() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(ticksPerSecond.QuadPart);
}

PIXEL_YC *timedFetch(FILTER *fp, void *editp, int n, int *w, int *h) {
    const double start = now();
    PIXEL_YC *image = hostFetch(fp, editp, n, w, h);
    fetchSeconds += now() - start;
    return image;
}

// CPU time of every thread of this process, in seconds: on a loaded machine it
// stays near what a frame costs while the wall time also counts the waits.
double processCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto seconds = [](const FILETIME &t) {
        return static_cast<double>(static_cast<std::uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime) * 1e-7;
    };
    return seconds(kernel) + seconds(user);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Way {
    const char *name;
    const char *maxTier;  // the value of Q5_MAX_TIER while the filter loads ("": unset)
    std::vector<double> frameSeconds;
    std::vector<double> cpuSeconds;  // per frame, one figure for each round
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a over every output picture
};

}  // namespace

int fpsCommand(const std::string &modulePath, int threads, int width, int height, bool prepasses) {
    Checks checks("fps");
    QueryPerformanceFrequency(&ticksPerSecond);
    q5host::ClipInfo clip;
    clip.width = width;
    clip.height = height;
    clip.maxW = q5host::capacityFor(width, clip.maxW);
    clip.maxH = q5host::capacityFor(height, clip.maxH);
    clip.frameCount = kFrames;
    Way ways[] = {{"AVX2 where it runs", "", {}, {}}, {"SSE2 (Q5_MAX_TIER=sse2)", "sse2", {}, {}}};

    for (int round = 0; round < kRounds; ++round)
        for (Way &way : ways) {
            // The module shares this process's C runtime, so it sees the variable at load.
            _putenv((std::string("Q5_MAX_TIER=") + way.maxTier).c_str());
            FilterModule module(modulePath);
            if (!checks.expect(module.ok(), module.error())) return checks.finish();
            const std::unique_ptr<q5host::Host> editor = module.host(threads);
            q5host::Host &host = *editor;
            hostFetch = host.filter()->exfunc->get_ycp_filtering_cache_ex;
            host.filter()->exfunc->get_ycp_filtering_cache_ex = &timedFetch;
            checks.expectEq(host.init(), TRUE, "func_init");
            if (prepasses) {
                host.setCheck(CheckBox::MosquitoNr, 1);
                host.setCheck(CheckBox::BlockNr, 1);
            }
            checks.expectEq(host.update(), TRUE, "func_update");
            host.setClip(clip, [width, height](int n, PIXEL_YC *image, int pitch) {
                q5scene::fillFrame(n, width, height, image, pitch);
                return true;
            });
            std::uint64_t hash = 14695981039346656037ull;
            double cpu = 0;
            for (int n = 0; n < kFrames; ++n) {
                fetchSeconds = 0;
                const double cpuStart = processCpuSeconds(), start = now();
                const BOOL ok = host.process(n);
                const double seconds = now() - start - fetchSeconds;
                checks.expectEq(ok, TRUE, "func_proc");
                if (n >= kRingFill) {
                    way.frameSeconds.push_back(seconds);
                    cpu += processCpuSeconds() - cpuStart;
                }
                for (const PIXEL_YC &p : host.outputPicture())
                    for (std::int16_t v : {p.y, p.cb, p.cr}) {
                        hash = (hash ^ static_cast<std::uint16_t>(v)) * 1099511628211ull;
                    }
            }
            way.cpuSeconds.push_back(cpu / (kFrames - kRingFill));
            if (round == 0) way.hash = hash;
            checks.expectEq(hash, way.hash, std::string(way.name) + ": the same frames in every round");
        }
    _putenv("Q5_MAX_TIER=");
    printMemory("whole run (host images included)");

    std::printf("%d x %d, %d threads, default settings%s, %d rounds of %d timed frames each way\n",
                width, height, threads, prepasses ? " and both pre-passes" : "", kRounds, kFrames - kRingFill);
    std::printf("processor and system run AVX2: %s\n", __builtin_cpu_supports("avx2") ? "yes" : "no");
    std::printf("%-20s %8s %7s %9s %8s  %s\n", "kernels", "frame ms", "fps", "fastest", "cpu ms", "frames");
    double frame[2], fastest[2], cpu[2];
    for (int i = 0; i < 2; ++i) {
        frame[i] = median(ways[i].frameSeconds);
        fastest[i] = *std::min_element(ways[i].frameSeconds.begin(), ways[i].frameSeconds.end());
        cpu[i] = median(ways[i].cpuSeconds);
        std::printf("%-20s %8.2f %7.2f %9.2f %8.2f  %016llx\n", ways[i].name, frame[i] * 1e3, 1 / frame[i],
                    fastest[i] * 1e3, cpu[i] * 1e3, static_cast<unsigned long long>(ways[i].hash));
    }
    std::printf("AVX2 over SSE2: %.3f x the frames per second (median frame), %.3f x (fastest frame), "
                "%.3f x less CPU time\n",
                frame[1] / frame[0], fastest[1] / fastest[0], cpu[1] / cpu[0]);
    checks.expectEq(ways[0].hash, ways[1].hash, "the same frames both ways");
    return checks.finish();
}

}  // namespace q5win
