// q5perf: the whole filter on a generated clip, through our host, for each frame
// size and host thread count asked for. Prints frames per second, the time of
// every stage per frame (from the host's log of dispatches), the CPU time per
// frame and the peak memory of the run. Each run is a child process, so its peak
// resident size is its own; the child reports over a pipe.
//
//   q5perf [--frames N] [--sizes 720x480,1920x1080] [--threads 1,2] [--stage-cpu]
//          [--per-thread] [--sse2] [--frame-mode] [--hash] [--step-back]
//
// --step-back times steps back after forward playback (two frames forward, one
// back) instead of forward playback: what re-analysing a frame the ring let go costs.
//
// Every size and thread count runs twice: with the default settings, and with the
// block and mosquito pre-passes switched on as well (to time them).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "core/core.h"
#include "core/size_class.h"
#include "common/module.h"
#include "common/test_scene.h"
#include "host/callbacks.h"
#include "output/output_stage.h"
#include "output/rounding.h"
#include "prefilter/prefilter.h"
#include "temporal/temporal.h"
#include "wavelet/wavelet.h"

namespace {

enum Stage { kBlock, kMosquito, kVertical, kHorizontal, kTemporal, kLuma, kRounding, kLumaRounding, kStages };
const char *const kStageNames[kStages] = {"block", "mosq", "vert", "horiz", "temp", "luma", "round", "l+round"};

int stageOf(MULTI_THREAD_FUNC worker) {
    if (worker == blockNrWorker) return kBlock;
    if (worker == mosquitoNrWorker) return kMosquito;
    if (worker == verticalAnalysisWorker) return kVertical;
    if (worker == horizontalAnalysisWorker) return kHorizontal;
    if (worker == temporalChromaWorker) return kTemporal;
    if (worker == lumaOutputWorker) return kLuma;
    if (worker == outputRoundingWorker) return kLumaRounding;
    if (worker == roundingWorker) return kRounding;
    return -1;
}

FILTER_DLL *linkedFilterTable() { return filterDescriptor(); }

// The filter's own time per frame is func_proc's time less what the host spends
// in its frame cache (fetching, allocating and filling images), so the callback
// and the fetch service are wrapped and timed. Every dispatch is wrapped as well:
// besides its wall time, each thread's CPU time inside the worker is taken, and
// the busiest thread's is what the stage would last on an otherwise idle machine.
using Clock = std::chrono::steady_clock;
constexpr int kMaxThreads = 16;

double threadCpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}
double processCpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}
double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

struct FrameTimes {
    double wall, callerCpu, processCpu;         // func_proc, host cache excluded
    double stageWall[kStages], stageBusy[kStages];
    double stageThread[kStages][2];  // CPU time of threads 0 and 1
    bool ran[kStages];
};

BOOL (*realProc)(FILTER *, FILTER_PROC_INFO *) = nullptr;
PIXEL_YC *(*realFetch)(FILTER *, void *, int, int *, int *) = nullptr;
BOOL (*realExec)(MULTI_THREAD_FUNC, void *, void *) = nullptr;
EXFUNC timedServices;
FrameTimes frameTimes;

struct Dispatch {
    MULTI_THREAD_FUNC worker;
    void *param1;
    double cpu[kMaxThreads];
};

void timedWorker(int thread_id, int thread_num, void *param1, void *param2) {
    auto *d = static_cast<Dispatch *>(param1);
    const double start = threadCpuSeconds();
    d->worker(thread_id, thread_num, d->param1, param2);
    if (thread_id < kMaxThreads) d->cpu[thread_id] = threadCpuSeconds() - start;
}

BOOL timedExec(MULTI_THREAD_FUNC worker, void *param1, void *param2) {
    Dispatch d{worker, param1, {}};
    const auto start = Clock::now();
    const BOOL result = realExec(timedWorker, &d, param2);
    const int s = stageOf(worker);
    if (s >= 0) {
        frameTimes.stageWall[s] += since(start);
        frameTimes.stageBusy[s] += *std::max_element(d.cpu, d.cpu + kMaxThreads);
        for (int t = 0; t < 2; ++t) frameTimes.stageThread[s][t] += d.cpu[t];
        frameTimes.ran[s] = true;
    }
    return result;
}

PIXEL_YC *timedFetch(FILTER *fp, void *editp, int n, int *w, int *h) {
    const auto start = Clock::now();
    const double cpu = threadCpuSeconds(), all = processCpuSeconds();
    PIXEL_YC *image = realFetch(fp, editp, n, w, h);
    frameTimes.callerCpu -= threadCpuSeconds() - cpu;
    frameTimes.processCpu -= processCpuSeconds() - all;
    frameTimes.wall -= since(start);
    return image;
}

BOOL timedProc(FILTER *fp, FILTER_PROC_INFO *fpip) {
    const auto start = Clock::now();
    const double cpu = threadCpuSeconds(), all = processCpuSeconds();
    const BOOL result = realProc(fp, fpip);
    frameTimes.callerCpu += threadCpuSeconds() - cpu;
    frameTimes.processCpu += processCpuSeconds() - all;
    frameTimes.wall += since(start);
    return result;
}

void timeFilterCalls(FILTER *fp) {
    realProc = fp->func_proc;
    fp->func_proc = timedProc;
    timedServices = *fp->exfunc;
    realFetch = timedServices.get_ycp_filtering_cache_ex;
    timedServices.get_ycp_filtering_cache_ex = timedFetch;
    realExec = timedServices.exec_multi_thread_func;
    timedServices.exec_multi_thread_func = timedExec;
    fp->exfunc = &timedServices;
}

struct Options {
    int frames = 30;
    std::vector<std::pair<int, int>> sizes = {{720, 480}, {1920, 1080}};
    std::vector<int> threads = {1, 2};
    bool hash = false;
    bool stageCpu = false;
    bool frameMode = false;  // per-field processing off (as for progressive video)
    bool perThread = false;  // lines with threads 0 and 1's CPU time per stage
    bool stepBack = false;   // time steps back (two frames forward, one back) instead of forward playback
};

// Medians over the timed frames, in milliseconds; -1 for a stage that did not run.
struct RunResult {
    double frameMs;           // wall time of func_proc, host cache excluded
    double pathMs;            // the caller's own CPU time plus each stage's busiest thread
    double cpuMs;             // CPU time of all threads
    double stageMs[kStages];  // wall time per stage
    double stageBusyMs[kStages];
    double stageThreadMs[kStages][2];
    std::uint64_t hash;
};

double median(std::vector<double> v) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

RunResult runFilter(int w, int h, int threads, bool prepasses, const Options &opt) {
    const int frames = opt.frames;
    q5host::Host host(&linkedFilterTable, threads);
    timeFilterCalls(host.filter());
    host.init();
    if (prepasses) {
        host.setCheck(CheckBox::MosquitoNr, 1);
        host.setCheck(CheckBox::BlockNr, 1);
    }
    if (opt.frameMode) host.setCheck(CheckBox::Fields, 0);
    host.update();
    q5host::ClipInfo clip;
    clip.width = w;
    clip.height = h;
    // The editor's maximum image size: its usual 1920 x 1088, or the frame's own
    // size where that is larger.
    clip.maxW = q5host::capacityFor(w, clip.maxW);
    clip.maxH = q5host::capacityFor(h, clip.maxH);
    clip.frameCount = frames + 9;
    host.setClip(clip, [&](int n, PIXEL_YC *image, int pitch) {
        q5scene::fillFrame(n, w, h, image, pitch);
        return true;
    });

    RunResult result{};
    result.hash = 14695981039346656037ull;
    std::vector<double> wall, path, cpu;
    std::vector<std::vector<double>> stageWall(kStages), stageBusy(kStages), stageThread(2 * kStages);
    const int warmup = 3;  // the first frame fills the whole ring
    // Forward playback, or with --step-back: from frame m, m + 1 and m + 2 forward and
    // then m + 1 again, timed, a step back after forward playback each time.
    std::vector<std::pair<int, bool>> calls;
    for (int n = 0; n < warmup; ++n) calls.push_back({n, false});
    for (int i = 0, m = warmup - 1; i < frames; ++i, ++m) {
        if (opt.stepBack) {
            calls.push_back({m + 1, false});
            calls.push_back({m + 2, false});
            calls.push_back({m + 1, true});
        } else {
            calls.push_back({m + 1, true});
        }
    }
    for (const auto &[n, timed] : calls) {
        frameTimes = {};
        host.process(n);
        if (opt.hash)
            for (const PIXEL_YC &p : host.outputPicture())
                for (std::int16_t v : {p.y, p.cb, p.cr})
                    for (int byte = 0; byte < 2; ++byte) {
                        result.hash ^= (static_cast<std::uint16_t>(v) >> (8 * byte)) & 0xFF;
                        result.hash *= 1099511628211ull;
                    }
        if (!timed) continue;
        const FrameTimes &t = frameTimes;
        double busy = t.callerCpu;
        for (int s = 0; s < kStages; ++s) {
            if (!t.ran[s]) continue;
            stageWall[s].push_back(t.stageWall[s] * 1e3);
            stageBusy[s].push_back(t.stageBusy[s] * 1e3);
            for (int k = 0; k < 2; ++k) stageThread[2 * s + k].push_back(t.stageThread[s][k] * 1e3);
            busy += t.stageBusy[s];
        }
        wall.push_back(t.wall * 1e3);
        path.push_back(busy * 1e3);
        cpu.push_back(t.processCpu * 1e3);
    }
    result.frameMs = median(wall);
    result.pathMs = median(path);
    result.cpuMs = median(cpu);
    for (int s = 0; s < kStages; ++s) {
        result.stageMs[s] = median(stageWall[s]);
        result.stageBusyMs[s] = median(stageBusy[s]);
        for (int k = 0; k < 2; ++k) result.stageThreadMs[s][k] = median(stageThread[2 * s + k]);
    }
    return result;
}

// Runs one configuration in a child process; false if the child failed.
bool runChild(int w, int h, int threads, bool prepasses, const Options &opt, RunResult &result, long &peakKb) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        close(fds[0]);
        const RunResult r = runFilter(w, h, threads, prepasses, opt);
        const bool ok = write(fds[1], &r, sizeof r) == static_cast<ssize_t>(sizeof r);
        _exit(ok ? 0 : 1);
    }
    close(fds[1]);
    const bool got = read(fds[0], &result, sizeof result) == static_cast<ssize_t>(sizeof result);
    close(fds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    peakKb = usage.ru_maxrss;
    return got && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool parseList(const char *text, std::vector<int> &out) {
    out.clear();
    for (const char *p = text; *p;) {
        char *end;
        const long v = std::strtol(p, &end, 10);
        if (end == p || v <= 0) return false;
        out.push_back(static_cast<int>(v));
        p = *end == ',' ? end + 1 : end;
        if (*end && *end != ',') return false;
    }
    return !out.empty();
}

bool parseSizes(const char *text, std::vector<std::pair<int, int>> &out) {
    out.clear();
    std::string s(text);
    std::size_t at = 0;
    while (at < s.size()) {
        const std::size_t comma = std::min(s.find(',', at), s.size());
        int w = 0, h = 0;
        if (std::sscanf(s.substr(at, comma - at).c_str(), "%dx%d", &w, &h) != 2 || w <= 0 || h <= 0 ||
            w > kMaxFrameWidth || h > kMaxFrameHeight)
            return false;
        out.push_back({w, h});
        at = comma + 1;
    }
    return !out.empty();
}

int usage() {
    std::fprintf(stderr, "usage: q5perf [--frames N] [--sizes WxH,...] [--threads T,...] [--stage-cpu] [--per-thread] [--sse2] [--frame-mode] [--hash] [--step-back]\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    Options opt;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--frames" && hasValue) {
            opt.frames = std::atoi(argv[++i]);
            if (opt.frames <= 0) return usage();
        } else if (a == "--sizes" && hasValue) {
            if (!parseSizes(argv[++i], opt.sizes)) return usage();
        } else if (a == "--threads" && hasValue) {
            std::vector<int> t;
            if (!parseList(argv[++i], t) || *std::max_element(t.begin(), t.end()) > 16) return usage();
            opt.threads = t;
        } else if (a == "--hash") {
            opt.hash = true;
        } else if (a == "--stage-cpu") {
            opt.stageCpu = true;
        } else if (a == "--sse2") {
            // As for the modules: the filter's func_init reads it in every run's child.
            setenv("Q5_MAX_TIER", "sse2", 1);
        } else if (a == "--frame-mode") {
            opt.frameMode = true;
        } else if (a == "--step-back") {
            opt.stepBack = true;
        } else if (a == "--per-thread") {
            opt.perThread = true;
        } else {
            return usage();
        }
    }

    double load[3] = {};
    getloadavg(load, 3);
    const KernelTier tier = kernelTier(detectCpuLevel());  // as the filter's func_init chooses it
    std::printf("q5perf: %d timed %s per run after 3 that fill the ring; medians, ms per frame;\n"
                "frame = wall time of the filter, path = its busiest thread per stage (CPU time),\n"
                "cpu = all threads; stages: %s; load average %.2f %.2f %.2f on %ld processors;\n"
                "kernels: %s\n",
                opt.frames, opt.stepBack ? "steps back (each after two frames forward)" : "frames", opt.stageCpu ? "busiest thread's CPU time" : "wall time", load[0], load[1], load[2],
                sysconf(_SC_NPROCESSORS_ONLN), tier == kTierAvx2   ? "AVX2 octets and pre-passes"
                : tier == kTierSse2 ? "SSE2"
                                    : "scalar twins");
    std::printf("%-9s %3s %-9s %7s %7s %7s %7s", "size", "thr", "settings", "fps", "frame", "path", "cpu");
    for (const char *name : kStageNames) std::printf(" %6s", name);
    std::printf(" %7s %7s%s\n", "peakMB", "bufMB", opt.hash ? "  output hash" : "");

    int failures = 0;
    for (auto [w, h] : opt.sizes)
        for (int threads : opt.threads)
            for (bool prepasses : {false, true}) {
                RunResult r{};
                long peakKb = 0;
                if (!runChild(w, h, threads, prepasses, opt, r, peakKb)) {
                    std::printf("%dx%d, %d threads: the run failed\n", w, h, threads);
                    ++failures;
                    continue;
                }
                // The module's own buffers for this picture's size class.
                const int w16 = (w + 15) & ~15, h16 = (h + 15) & ~15;
                const double buffers = static_cast<double>(workBufferBytes(sizeClassFor(w16, h16), threads));
                char size[24];
                std::snprintf(size, sizeof size, "%dx%d", w, h);
                std::printf("%-9s %3d %-9s %7.2f %7.2f %7.2f %7.2f", size, threads,
                            prepasses ? "+prepass" : "default", 1e3 / r.frameMs, r.frameMs, r.pathMs, r.cpuMs);
                for (double ms : opt.stageCpu ? r.stageBusyMs : r.stageMs) {
                    if (ms < 0)
                        std::printf(" %6s", "-");
                    else
                        std::printf(" %6.2f", ms);
                }
                std::printf(" %7.1f %7.1f", peakKb / 1024.0, buffers / (1 << 20));
                if (opt.hash) std::printf("  %016llx", static_cast<unsigned long long>(r.hash));
                std::printf("\n");
                if (opt.perThread && threads > 1)
                    for (int k = 0; k < 2; ++k) {
                        std::printf("%-9s %3s thread %d %37s", "", "", k, "");
                        for (const auto &ms : r.stageThreadMs) std::printf(" %6.2f", ms[k] < 0 ? 0.0 : ms[k]);
                        std::printf("\n");
                    }
            }
    return failures ? 1 : 0;
}
