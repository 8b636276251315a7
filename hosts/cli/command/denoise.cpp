// The denoise command: the input, the reference and the settings checked and the
// filter loaded before the output exists; then every frame through the filter
// session, with a progress line, the run's warnings and summary, and metrics.
#include "cli/command/denoise.h"

#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <exception>
#include <new>
#include <optional>

#include "cli/command/shared.h"
#include "cli/io/output_file.h"
#include "cli/picture/convert.h"
#include "cli/picture/metrics.h"
#include "cli/session/filter_session.h"

namespace q5cli {

namespace {

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

// What the run did to the data, said even with --quiet.
void warnAboutData(const OpenStream &input, const DenoiseReport &report) {
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
}

// --stats: per frame, wall and (all threads') CPU milliseconds.
void reportStageTimes(const DenoiseReport &report) {
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

// The summary names the rounding correction's state: deeper input leaves it off.
void reportSummary(const Options &options, const Y4mFormat &format, const DenoiseSettings &settings,
                   const DenoiseReport &report) {
    const char *rounding = settings.on(CheckBox::Rounding) ? "rounding correction on"
                           : roundingOffForDepth(options, format)
                               ? "rounding correction off, as for input deeper than 8 bits"
                               : "rounding correction off";
    char text[320];
    std::snprintf(text, sizeof text, " of %dx%d %s in %.1f s (%.1f fps, %d threads; %s)", format.width,
                  format.height, format.describe().c_str(), report.seconds,
                  report.seconds > 0 ? report.frames / report.seconds : 0.0, settings.threads, rounding);
    message(count(report.frames, "frame", "frames") + text);
}

// Everything about the input and the reference is checked before the output exists.
int openInputs(const Options &options, OpenStream *input, Reference *reference) {
    if (options.input == "-" && options.reference == "-") {
        message("the input and the reference cannot both be standard input");
        return 2;
    }
    if (const int status = openStream(options.input, input)) return status;
    std::string error;
    if (!checkProcessable(input->format, &error)) {
        message(input->name + ": " + error);
        return 1;
    }
    if (!options.reference.empty())
        if (const int status = openReference(options.reference, input->format, reference)) return status;
    return 0;
}

// The reference's next frame, measured against output frame n.
bool measure(const Options &options, const Y4mFormat &format, Reference &reference, int n,
             const std::uint8_t *frame, std::string *error) {
    if (!reference.meter) return true;
    switch (reference.stream.reader->readFrame(format, &reference.frame, error)) {
    case Y4mReader::Frame: break;
    case Y4mReader::End:
        *error = "the reference " + options.reference + " ends after " + count(n, "frame", "frames") +
                 ", before the input";
        return false;
    case Y4mReader::Error: return false;
    }
    reference.meter->add(frame, reference.frame.data.data());
    return true;
}

}  // namespace

int runDenoiseCommand(const Options &options) {
    LoadedFilter filter;
    if (const int status = loadFilter(options, &filter)) return status;
    OpenStream input;
    Reference reference;
    if (const int status = openInputs(options, &input, &reference)) return status;
    const Y4mFormat &format = input.format;
    const DenoiseSettings settings = resolveSettings(options, *filter.descriptor, format);

    std::string error;
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
        return measure(options, format, reference, n, frame, err);
    };
    const ProgressSink onProgress = [&](int done, int total) {
        progress.update(done, total > 0 ? total : totalHint);
    };

    DenoiseReport report;
    bool ok;
    try {
        ok = denoiseStream(filter.entry(), settings, *input.reader, format, writer, onFrame, onProgress,
                           &report, &error);
    } catch (const std::bad_alloc &) {
        ok = false;
        error = memoryAdvice(format, settings.threads);
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

    warnAboutData(input, report);
    if (options.stats && report.frames > 0) reportStageTimes(report);
    if (!options.quiet) reportSummary(options, format, settings, report);
    if (reference.meter)
        message(reference.meter->frames() > 0 ? reference.meter->summary() + " against " + options.reference
                                              : "no frames to compare with " + options.reference);
    return 0;
}

}  // namespace q5cli
