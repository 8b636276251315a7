// The denoise run: input checked, module loaded and settings resolved before the
// output is opened; then every frame through the host, with progress and metrics.
#include "cli/command/denoise.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>

#include "cli/picture/convert.h"
#include "cli/command/demo.h"
#include "cli/picture/frame_window.h"
#include "cli/picture/metrics.h"
#include "cli/io/output_file.h"
#include "cli/io/signals.h"
#include "cli/command/preview.h"
#include "common/module.h"

#ifndef Q5_VERSION
#define Q5_VERSION "unknown"
#endif

namespace q5cli {

namespace {


std::string count(long long n, const char *one, const char *many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string formatTime(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

// One line on standard error, rewritten in place a few times a second.
class ProgressLine {
public:
    explicit ProgressLine(bool enabled) : enabled_(enabled), start_(Clock::now()) {}
    ~ProgressLine() { clear(); }

    void update(int done, int total) {
        if (!enabled_) return;
        const auto now = Clock::now();
        if (shown_ && now - last_ < std::chrono::milliseconds(250) && done != total) return;
        last_ = now;
        const double elapsed = std::chrono::duration<double>(now - start_).count();
        const double fps = elapsed > 0 ? done / elapsed : 0;
        char text[160];
        if (total > 0 && fps > 0)
            std::snprintf(text, sizeof text, "frame %d/%d  %.1f fps  %s left", done, total, fps,
                          formatTime((total - done) / fps).c_str());
        else
            std::snprintf(text, sizeof text, "frame %d  %.1f fps", done, fps);
        std::fprintf(stderr, "\r\033[Kquorvane5: %s", text);
        std::fflush(stderr);
        shown_ = true;
    }
    void clear() {
        if (shown_) std::fprintf(stderr, "\r\033[K");
        shown_ = false;
    }

private:
    using Clock = std::chrono::steady_clock;
    bool enabled_, shown_ = false;
    Clock::time_point start_, last_;
};

using Clock = std::chrono::steady_clock;

StageTime now() {
    timespec cpu {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    return {std::chrono::duration<double>(Clock::now().time_since_epoch()).count(),
            static_cast<double>(cpu.tv_sec) + cpu.tv_nsec * 1e-9};
}

StageTime since(const StageTime &start) {
    const StageTime end = now();
    return {end.wall - start.wall, end.cpu - start.cpu};
}

// Adds the time of the enclosing scope to a total (or nothing without one).
class StageTimer {
public:
    explicit StageTimer(StageTime *total) : total_(total), start_(total ? now() : StageTime{}) {}
    ~StageTimer() {
        if (total_) total_->add(since(start_));
    }

private:
    StageTime *total_;
    StageTime start_;
};

// The filter's own time, for --stats: its func_proc is wrapped for the run. The
// descriptor's callback takes no context, so the wrapped one waits here.
struct ProcTiming {
    BOOL (*proc)(FILTER *, FILTER_PROC_INFO *) = nullptr;
    StageTime time;
    bool inside = false;
};
ProcTiming procTiming;

BOOL timedProc(FILTER *fp, FILTER_PROC_INFO *fpip) {
    const StageTime start = now();
    procTiming.inside = true;
    const BOOL result = procTiming.proc(fp, fpip);
    procTiming.inside = false;
    procTiming.time.add(since(start));
    return result;
}

std::string displayName(const std::string &path, const char *pipeName) {
    return path == "-" ? pipeName : path;
}

bool isNonDirectory(const char *path) {
    struct stat st {};
    return stat(path, &st) == 0 && !S_ISDIR(st.st_mode);
}

}  // namespace

std::string findModule(const std::string &given) {
    // A bare file name means the current folder, not the loader's library path.
    if (!given.empty()) return given.find('/') == std::string::npos ? "./" + given : given;
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return q5host::defaultModulePath();
    const std::string program(exe, static_cast<std::size_t>(n));
    const std::string dir = program.substr(0, program.rfind('/'));
    // Relative to the program, so that an installed tree still works once moved.
    const std::string beside = dir + "/quorvane5.so";
    const std::string installed = dir.substr(0, dir.rfind('/')) + "/lib/quorvane5/quorvane5.so";
    for (const std::string &path : {beside, installed})
        if (access(path.c_str(), R_OK) == 0) return path;
    // The module built along serves only programs run from the build tree: an installed
    // command that lost its module says so rather than quietly running another one.
#ifdef Q5_BUILD_TREE
    char tree[PATH_MAX];
    if (realpath(Q5_BUILD_TREE, tree) && (dir + "/").rfind(std::string(tree) + "/", 0) == 0)
        return q5host::defaultModulePath();
#endif
    return installed;
}

std::string settingsText(const DenoiseSettings &s) {
    std::string t;
    for (const SliderOption &o : kSliderOptions) {
        if ((o.index == 3 && s.check[2] != 1) || (o.index == 4 && s.check[3] != 1) ||
            (o.index == 5 && s.check[4] != 1))
            continue;
        t += " --" + std::string(o.name) + " " + std::to_string(s.track[o.index]);
    }
    for (const CheckOption &o : kCheckOptions)
        if (o.index != kFieldCheck && (s.check[o.index] == 1) != (o.defaultValue == 1))
            t += std::string(" --") + (s.check[o.index] == 1 ? "" : "no-") + o.name;
    return t.substr(1);
}

void message(const std::string &text) { std::fprintf(stderr, "quorvane5: %s\n", text.c_str()); }

q5host::ClipInfo streamClip(const Y4mFormat &format, int frameCount) {
    q5host::ClipInfo clip;
    clip.width = format.width;
    clip.height = format.height;
    clip.maxW = (format.width + 15) & ~15;
    clip.maxH = (format.height + 15) & ~15;
    clip.frameCount = frameCount;
    return clip;
}

void startFilter(q5host::Host &host, const DenoiseSettings &settings) {
    host.setFilterActive(true);
    host.init();
    for (int i = 0; i < 6; ++i) host.setTrack(i, settings.track[i]);
    for (int i = 0; i < 5; ++i) host.setCheck(i, settings.check[i]);
    host.update();
}

bool denoiseStream(GetFilterTableFn entry, const DenoiseSettings &settings, Y4mReader &in,
                   const Y4mFormat &format, Y4mWriter &out, const FrameSink &onFrame,
                   const ProgressSink &onProgress, DenoiseReport *report, std::string *error) {
    const auto start = Clock::now();
    q5host::Host host(entry, settings.threads);
    startFilter(host, settings);

    StageTimes times;
    const auto timed = [&](StageTime StageTimes::*stage) {
        return StageTimer(settings.timeStages ? &(times.*stage) : nullptr);
    };
    StageTime fillInsideProc, fillOutsideProc, processing;
    FILTER *filter = host.filter();
    if (settings.timeStages) {
        procTiming = ProcTiming{};
        procTiming.proc = filter->func_proc;
        filter->func_proc = timedProc;
    }

    // The conversions run while the filter waits, on as many threads as it has.
    FrameWindow window(in, format, settings.threads);
    const q5host::ClipInfo clip = streamClip(format, kUnknownLength);
    host.setClip(clip, [&](int n, PIXEL_YC *image, int pitch) {
        StageTimer timer(settings.timeStages ? procTiming.inside ? &fillInsideProc : &fillOutsideProc : nullptr);
        return window.fill(n, image, pitch);
    });
    host.saveStart(0, kUnknownLength - 1);

    const FrameConverter &converter = window.converter();
    std::vector<std::uint8_t> bytes(format.frameBytes());
    bool headerWritten = false;
    bool ok = true;
    int n = 0;
    for (;; ++n) {
        // Frame n reads up to n + 2 (its next frame's neighbours with the mosquito
        // pass); having tried to read them, the end is known whenever it matters.
        bool read;
        {
            const StageTimer timer = timed(&StageTimes::read);
            read = window.readThrough(n + 2);
        }
        if (!read) {
            *error = window.error();
            ok = false;
            break;
        }
        if (window.ended()) {
            if (n >= window.frameCount()) break;
            host.setFrameCount(window.frameCount());
        }
        {
            const StageTimer timer(settings.timeStages ? &processing : nullptr);
            host.process(n);
        }
        // The host records every service call; a long stream must not pile them up.
        host.clearLog();
        if (window.failed()) {
            *error = window.error();
            ok = false;
            break;
        }
        const Y4mFrame *frame = window.frame(n);
        {
            const StageTimer timer = timed(&StageTimes::fromYc48);
            converter.fromYc48(host.out(), clip.maxW, frame->params, bytes.data(), frame->data.data());
        }
        {
            const StageTimer timer = timed(&StageTimes::write);
            ok = (headerWritten || out.writeHeader(format, error)) &&
                 out.writeFrame(frame->params, bytes.data(), bytes.size(), error);
            headerWritten = true;
        }
        if (!ok || (onFrame && !onFrame(n, bytes.data(), error))) {
            ok = false;
            break;
        }
        // Frame n + 1 asks for n - 1 at the earliest (the next-but-one of the mirrored
        // last frame's neighbour); nothing before it is needed again.
        window.releaseBefore(n - 1);
        if (onProgress) onProgress(n + 1, window.ended() ? window.frameCount() : -1);
    }
    if (ok && !headerWritten) ok = out.writeHeader(format, error);
    host.exit();
    if (settings.timeStages) {
        filter->func_proc = procTiming.proc;
        const auto minus = [](StageTime a, const StageTime &b) {
            return StageTime{a.wall - b.wall, a.cpu - b.cpu};
        };
        times.toYc48 = fillInsideProc;
        times.toYc48.add(fillOutsideProc);
        times.filter = minus(procTiming.time, fillInsideProc);
        times.host = minus(minus(processing, procTiming.time), fillOutsideProc);
    }
    if (report) {
        report->frames = n;
        report->seconds = std::chrono::duration<double>(Clock::now() - start).count();
        report->peakFramesHeld = window.peakHeld();
        report->lateRequests = window.lateRequests();
        report->firstClampedFrame = window.firstClampedFrame();
        report->stages = times;
    }
    if (ok && window.lateRequests() > 0) {
        *error = "internal error: the filter asked for a frame that was already dropped";
        ok = false;
    }
    return ok;
}

int openStream(const std::string &path, OpenStream *stream) {
    std::string error;
    stream->name = displayName(path, "standard input");
    stream->source = openInput(path, &error);
    if (!stream->source) {
        message(error);
        return 1;
    }
    stream->reader = std::make_unique<Y4mReader>(*stream->source, stream->name);
    if (!stream->reader->readHeader(&stream->format, &error)) {
        message(error);
        return 1;
    }
    return 0;
}

// The filter first: its descriptor holds the settings' ranges, checked before any file
// is opened. Per-field processing waits for the stream's interlacing.
int loadFilter(const Options &options, std::unique_ptr<q5host::Module> *module,
               DenoiseSettings *settings) {
    std::string error;
    const std::string modulePath = findModule(options.module);
    *module = q5host::Module::open(modulePath, &error);
    if (!*module) {
        message("cannot load the filter module: " + error);
        return 1;
    }
    const FILTER *descriptor = (*module)->getFilterTable()();
    if (!descriptor) {
        message("the filter module " + modulePath + " gave no filter");
        return 1;
    }
    if (!resolveSettings(options, *descriptor, false, settings->track, settings->check, &error)) {
        message(error);
        return 2;
    }
    settings->threads = resolveThreads(options);
    settings->timeStages = options.stats;
    return 0;
}

namespace {

// The clean clip the output is measured against, of the input's format and size.
struct Reference {
    OpenStream stream;
    std::optional<QualityMeter> meter;
    Y4mFrame frame;
};

int openReference(const std::string &path, const Y4mFormat &format, Reference *reference) {
    if (const int status = openStream(path, &reference->stream)) return status;
    const Y4mFormat &f = reference->stream.format;
    if (f.width != format.width || f.height != format.height || f.subsampling != format.subsampling ||
        f.bits != format.bits) {
        message("the reference " + path + " is " + std::to_string(f.width) + "x" +
                std::to_string(f.height) + " " + f.describe() + ", the input " +
                std::to_string(format.width) + "x" + std::to_string(format.height) + " " +
                format.describe());
        return 1;
    }
    reference->meter.emplace(format);
    return 0;
}

// Frames in a regular file of bare FRAME markers; otherwise unknown (-1) until the end.
int framesInFile(const OpenStream &input) {
    const long long size = inputFileSize(*input.source);
    if (size <= 0) return -1;
    const long long body = size - static_cast<long long>(input.reader->offset());
    const long long perFrame = static_cast<long long>(input.format.frameBytes()) + 6;
    if (body < 0 || body % perFrame != 0 || body / perFrame >= INT_MAX) return -1;
    return static_cast<int>(body / perFrame);
}

// What the run did to the data (said even with --quiet), then the summary.
void reportRun(const Options &options, const OpenStream &input, const DenoiseSettings &settings,
               const DenoiseReport &report) {
    const Y4mFormat &format = input.format;
    if (report.firstClampedFrame >= 0)
        message("warning: " + input.name + " has samples above the " + std::to_string(format.bits) +
                "-bit maximum of " + std::to_string(format.maxCode()) + " (first in frame " +
                std::to_string(report.firstClampedFrame + 1) + "); they were read as " +
                std::to_string(format.maxCode()));
    if (const std::uint64_t blanks = input.reader->trailingWhitespace())
        message("warning: " + input.name + ": ignored " +
                count(static_cast<long long>(blanks), "byte", "bytes") + " of whitespace after the " +
                (input.reader->framesRead() > 0 ? "last frame" : "header"));
    if (options.stats && report.frames > 0) {
        // Per frame, wall and (all threads') CPU milliseconds.
        const StageTimes &t = report.stages;
        const StageTime outside = t.outside();
        const std::pair<const char *, const StageTime *> stages[] = {
            {"read", &t.read},         {"to YC48", &t.toYc48}, {"host cache and copies", &t.host},
            {"from YC48", &t.fromYc48}, {"write", &t.write},   {"outside the filter", &outside},
            {"filter", &t.filter}};
        std::string text = "time per frame, wall (CPU):";
        for (const auto &[name, time] : stages) {
            char part[96];
            std::snprintf(part, sizeof part, " %s %.2f (%.2f) ms%s", name, 1000 * time->wall / report.frames,
                          1000 * time->cpu / report.frames, time == &t.filter ? "" : ",");
            text += part;
        }
        message(text);
    }
    if (options.quiet) return;
    char text[256];
    std::snprintf(text, sizeof text, " of %dx%d %s in %.1f s (%.1f fps, %d threads)", format.width,
                  format.height, format.describe().c_str(), report.seconds,
                  report.seconds > 0 ? report.frames / report.seconds : 0.0, settings.threads);
    message(count(report.frames, "frame", "frames") + text);
}

}  // namespace

int runDenoiseCommand(const Options &options, DenoiseOutcome *outcome) {
    std::unique_ptr<q5host::Module> module;
    DenoiseSettings settings;
    if (const int status = loadFilter(options, &module, &settings)) return status;
    if (options.input == "-" && options.reference == "-") {
        message("the input and the reference cannot both be standard input");
        return 2;
    }

    // Everything about the input and the reference is checked before the output exists.
    OpenStream input;
    if (const int status = openStream(options.input, &input)) return status;
    const Y4mFormat &format = input.format;
    std::string error;
    if (!checkProcessable(format, &error)) {
        message(input.name + ": " + error);
        return 1;
    }
    settings.check[kFieldCheck] = fieldSetting(options, format.interlaced());
    Reference reference;
    if (!options.reference.empty())
        if (const int status = openReference(options.reference, format, &reference)) return status;

    auto output = OutputFile::open(options.output, &error);
    if (!output) {
        message(error);
        return 1;
    }
    Y4mWriter writer(*output);

    if (format.subsampling == Subsampling::S444 && !options.quiet)
        message("note: the filter gives each horizontal pair of pixels one Cb and one Cr, so "
                "4:4:4 chroma comes back with the horizontal detail of 4:2:2");
    const int totalHint = framesInFile(input);
    ProgressLine progress(!options.quiet && isatty(2));
    const FrameSink onFrame = [&](int n, const std::uint8_t *frame, std::string *err) {
        if (!reference.meter) return true;
        switch (reference.stream.reader->readFrame(format, &reference.frame, err)) {
        case Y4mReader::Frame: break;
        case Y4mReader::End:
            *err = "the reference " + options.reference + " ends after " +
                   count(n, "frame", "frames") + ", before the input";
            return false;
        case Y4mReader::Error: return false;
        }
        reference.meter->add(frame, reference.frame.data.data());
        return true;
    };
    const ProgressSink onProgress = [&](int done, int total) {
        progress.update(done, total > 0 ? total : totalHint);
    };

    DenoiseReport report;
    bool ok;
    try {
        ok = denoiseStream(module->getFilterTable(), settings, *input.reader, format, writer, onFrame,
                           onProgress, &report, &error);
    } catch (const std::exception &e) {
        ok = false;
        error = std::string("the run failed: ") + e.what();
    }
    progress.clear();
    if (!ok || !output->commit(&error)) {
        output->discard();
        message(error);
        return 1;
    }

    reportRun(options, input, settings, report);
    const QualityMeter *meter = reference.meter ? &*reference.meter : nullptr;
    if (meter && !(outcome && options.quiet)) {
        if (meter->frames() > 0)
            message(meter->summary() + " against " + options.reference);
        else
            message("no frames to compare with " + options.reference);
    }
    if (outcome) {
        outcome->frames = report.frames;
        outcome->seconds = report.seconds;
        outcome->haveMetrics = meter && meter->frames() > 0;
        if (outcome->haveMetrics) {
            for (int p = 0; p < 3; ++p) outcome->psnr[p] = meter->psnr(p);
            outcome->ssim = meter->ssim();
            outcome->summary = meter->summary();
        }
    }
    return 0;
}

int runProgram(const std::vector<std::string> &args) {
    prepareProcess();
    Options options;
    std::string error;
    if (!parseOptions(args, &options, &error)) {
        message(error);
        std::fprintf(stderr, "%sTry 'quorvane5 --help' for more.\n", usageLine().c_str());
        return 2;
    }
    switch (options.command) {
    case Options::Help:
        std::fputs(helpText().c_str(), stdout);
        return 0;
    case Options::Version: {
        // Which module ran, for a user with more than one copy; without one the program
        // cannot work, so that is an error.
        std::printf("quorvane5 %s\n", Q5_VERSION);
        const std::string path = findModule(options.module);
        auto module = q5host::Module::open(path, &error);
        const FILTER *d = module ? module->getFilterTable()() : nullptr;
        char real[PATH_MAX];
        if (d && d->information) {
            std::printf("filter: %s\nmodule: %s\n", d->information,
                        realpath(path.c_str(), real) ? real : path.c_str());
            return 0;
        }
        std::printf("filter: not loaded\nmodule: %s\n",
                    module ? (path + ": gave no filter").c_str() : error.c_str());
        return 1;
    }
    case Options::Demo:
        if (options.demoMayBeFile && isNonDirectory("demo")) {
            message("denoising the file named demo into " + options.demoDir +
                    " (where no such file exists, \"demo DIR\" runs the built-in demo into DIR)");
            Options denoise = options;
            denoise.command = Options::Denoise;
            denoise.input = "demo";
            denoise.output = options.demoDir;
            return runDenoiseCommand(denoise, nullptr);
        }
        return runDemo(options);
    case Options::Preview: return runPreview(options);
    case Options::Denoise: break;
    }
    return runDenoiseCommand(options, nullptr);
}

}  // namespace q5cli
