// The denoise command: the input, the reference and the settings checked and the
// filter loaded before the output exists; then every frame through the filter
// session, with a progress line, the run's warnings and summary, and metrics.
#include "cli/command/denoise.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <optional>

#include "cli/command/shared.h"
#include "cli/command/strength.h"
#include "cli/io/output_file.h"
#include "cli/picture/convert.h"
#include "cli/picture/metrics.h"
#include "cli/picture/preview_window.h"
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
// A reference that ends early or is damaged stops being measured, with a warning at
// the end: the output is the user's work and is kept.
struct Reference {
    OpenStream stream;
    std::optional<QualityMeter> meter;
    Y4mFrame frame;
    bool stopped = false;
    std::string problem;  // why it stopped, or what follows the frames compared
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
                std::to_string(report.firstClampedFrame) + "); they were read as " +
                std::to_string(format.maxCode()));
    if (const std::uint64_t blanks = input.reader->trailingWhitespace())
        message("warning: " + input.name + ": ignored " +
                count(static_cast<long long>(blanks), "byte", "bytes") + " of whitespace after the " +
                (input.reader->framesRead() > 0 ? "last frame" : "header"));
}

// --stats: per frame, wall and (all threads') CPU milliseconds.
void reportStageTimes(const DenoiseReport &report, const Y4mFormat &format,
                      const std::vector<AutoStrength> &scenes, const FILTER &descriptor) {
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
    // The module names the layout of its working buffers in its information text;
    // a module without one says nothing here.
    const std::string information = descriptor.information ? descriptor.information : "";
    if (const std::size_t at = information.find("buffers: "); at != std::string::npos)
        message("filter " + information.substr(at));
    for (const AutoStrength &scene : scenes) message("strength auto: " + autoStrengthText(scene, format, true));
}

// The summary names the rounding correction's state: deeper input leaves it off.
void reportSummary(const Options &options, const Y4mFormat &format, const DenoiseSettings &settings,
                   const DenoiseReport &report, const FILTER &descriptor, const std::vector<AutoStrength> &scenes) {
    const char *rounding = settings.on(CheckBox::Rounding) ? "rounding correction on"
                           : roundingOffForDepth(options, format)
                               ? "rounding correction off, as for input deeper than 8 bits"
                               : "rounding correction off";
    char text[320];
    std::snprintf(text, sizeof text, " of %dx%d %s in %.1f s (%.1f fps, %s; %s)", format.width, format.height,
                  format.describe().c_str(), report.seconds, report.seconds > 0 ? report.frames / report.seconds : 0.0,
                  count(settings.threads, "thread", "threads").c_str(), rounding);
    message(count(report.frames, "frame", "frames") + text);
    for (const AutoStrength &scene : scenes) {
        message("strength auto: " + autoStrengthText(scene, format));
        if (const std::string past = pastEditorRange(scene.settings, descriptor); !past.empty())
            message("past the editor's range (this command only): " + past);
    }
    if (scenes.empty())
        if (const std::string past = pastEditorRange(settings, descriptor); !past.empty())
            message("past the editor's range (this command only): " + past);
}

// --frames (and --excerpt): the span written, checked against the clip where its length
// is known before reading, and a file moved on to the first frame the filter reads
// (a pipe is read through to it by the run).
int placeSpan(const Options &options, const DenoiseSettings &settings, OpenStream *input, FrameSpan *span) {
    if (!options.framesGiven) return 0;
    span->first = options.framesFirst;
    span->end = options.framesEnd;
    if (options.excerptGiven) {
        span->inputFirst = options.excerptFirst;
        span->clipLength = options.excerptLength;
    } else {
        span->clipLength = framesInFile(*input);
    }
    const int context = contextFrames(settings);
    std::string error;
    if (!checkFrameSpan(*span, span->clipLength, context, &error)) {
        message(input->name + ": " + error);
        return 1;
    }
    const int firstRead = std::max(0, span->first - context);
    const auto *fd = dynamic_cast<const FdSource *>(input->source.get());
    if (!fd || inputFileSize(*input->source) < 0 || firstRead == span->inputFirst) return 0;
    int stepped = -1;
    const long long base = fd->startOffset();
    const long long at = seekFrame(fd->fd(), base, static_cast<long long>(input->reader->offset()), input->format,
                                   firstRead - span->inputFirst, &stepped, &error);
    if (at == -1) {
        const int ends = span->inputFirst + stepped;
        if (options.excerptGiven)
            error = "the input ends at frame " + std::to_string(ends - 1) + " of the clip, before frame " +
                    std::to_string(firstRead) + ", the first that --frames reads";
        else
            checkFrameSpan(*span, ends, 0, &error);
    }
    if (at < 0) {
        message(input->name + ": " + error);
        return 1;
    }
    if (lseek(fd->fd(), base + at, SEEK_SET) != base + at) {
        message("cannot seek in " + input->name + ": " + std::strerror(errno));
        return 1;
    }
    input->reader = std::make_unique<Y4mReader>(*input->source, input->name);
    input->reader->countFrom(firstRead - span->inputFirst, static_cast<std::uint64_t>(at));
    span->inputFirst = firstRead;
    return 0;
}

// Everything about the input and the reference is checked before the output exists.
int openInputs(const Options &options, OpenStream *input, Reference *reference) {
    if (namesStandardInput(options.input) && namesStandardInput(options.reference)) {
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

// The reference's frame n, measured against output frame n (with --frames, the
// reference's earlier frames are read and dropped).
void measure(const Options &options, const Y4mFormat &format, Reference &reference, int n,
             const std::uint8_t *frame) {
    if (!reference.meter || reference.stopped) return;
    Y4mReader &reader = *reference.stream.reader;
    std::string why;
    for (;;) {
        const int read = reader.framesRead();
        switch (reader.readFrame(format, &reference.frame, &why)) {
        case Y4mReader::Frame:
            if (read < n) continue;
            reference.meter->add(frame, reference.frame.data.data());
            return;
        case Y4mReader::End:
            why = "the reference " + options.reference + " ends after " + count(read, "frame", "frames") +
                  ", before the input";
            break;
        case Y4mReader::Error: break;
        }
        reference.stopped = true;
        reference.problem = why;
        return;
    }
}

// After the last output frame: what the reference holds beyond it, if anything. A span
// that ends before the clip's end leaves the rest of the reference unused, as it should.
void checkReferenceEnd(const Options &options, const Y4mFormat &format, Reference &reference) {
    if (!reference.meter || reference.stopped || (options.framesGiven && options.framesEnd >= 0)) return;
    std::string why;
    switch (reference.stream.reader->readFrame(format, &reference.frame, &why)) {
    case Y4mReader::End: return;
    case Y4mReader::Frame:
        reference.problem = "the reference " + options.reference + " is longer than the output";
        break;
    case Y4mReader::Error: reference.problem = why; break;
    }
}

// The figures, over the frames both clips have, with what was wrong with the reference.
void reportReference(const Options &options, const Reference &reference) {
    if (!reference.meter) return;
    const int frames = reference.meter->frames();
    const std::string covered = !options.framesGiven || options.framesFirst == 0
                                    ? "the first " + count(frames, "frame", "frames")
                                    : count(frames, "frame", "frames") + " from frame " + std::to_string(options.framesFirst);
    if (!reference.problem.empty())
        message("warning: " + reference.problem + "; the figures cover " + (frames == 0 ? std::string("no frames") : covered));
    message(frames > 0 ? reference.meter->summary() + " against " + options.reference
                       : "no frames to compare with " + options.reference);
}

// Created only once everything it depends on has been checked.
std::unique_ptr<OutputFile> openOutput(const Options &options, const OpenStream &input, const Reference &reference) {
    std::string error;
    auto output = OutputFile::open(options.output, &error);
    if (!output) {
        message(error);
        return nullptr;
    }
    // Written straight into a clip being read, the output would overwrite or grow it.
    // (A named output replacing its input goes through a temporary: that is safe.)
    for (const OpenStream *read : {&input, &reference.stream})
        if (read->source && output->writesDirectlyInto(*read->source)) {
            message(std::string("the output is the ") + (read == &input ? "input" : "reference") + " file (" +
                    read->name + "): it would overwrite the clip as it is read");
            return nullptr;
        }
    // The output replacing its input is a run in place; replacing the reference would
    // destroy the clean clip, and measure the output against what was there before.
    if (reference.stream.source && output->endsUpAs(*reference.stream.source)) {
        message("the output is the reference file (" + reference.stream.name +
                "): it would replace the clip the output is measured against");
        return nullptr;
    }
    return output;
}

// --strength auto: the first scene's settings, then each later scene's that differ,
// chosen through trial runs of a private instance of the module.
bool chooseAutomatically(const Options &options, const LoadedFilter &filter, const Y4mFormat &format,
                         DenoiseSettings *settings, std::unique_ptr<TrialFilter> *trial,
                         std::vector<AutoStrength> *scenes, SettingsChooser *chooser) {
    std::string error;
    *trial = TrialFilter::open(filter.path, settings->threads, &error);
    if (!*trial) {
        message(error);
        return false;
    }
    const DenoiseSettings given = *settings;
    TrialFilter *filterForTrials = trial->get();
    chooser->choose = [=, &options, &format](int first, const std::vector<const Y4mFrame *> &frames,
                                             DenoiseSettings *s) {
        AutoStrength chosen = autoStrength(frames, options, format, given, *filterForTrials, first);
        *s = chosen.settings;
        if (scenes->empty()) *settings = chosen.settings;
        if (scenes->empty() || settingsText(chosen.settings) != settingsText(scenes->back().settings))
            scenes->push_back(chosen);
    };
    chooser->sceneCut = [&format](const Y4mFrame &before, const Y4mFrame &at) {
        return sceneCut(format, before.data.data(), at.data.data());
    };
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
    DenoiseSettings settings = resolveSettings(options, *filter.descriptor, format);
    FrameSpan span;
    const int totalHint = options.framesGiven ? -1 : framesInFile(input);
    if (const int status = placeSpan(options, settings, &input, &span)) return status;
    // --strength auto: the first scene's settings, then each later scene's that differ.
    std::vector<AutoStrength> scenes;
    SettingsChooser chooser;
    std::unique_ptr<TrialFilter> trial;
    if (options.autoStrength && !chooseAutomatically(options, filter, format, &settings, &trial, &scenes, &chooser))
        return 1;

    std::string error;
    const auto output = openOutput(options, input, reference);
    if (!output) return 1;
    Y4mWriter writer(*output);
    if (format.subsampling == Subsampling::S444 && !options.quiet)
        message("note: the filter gives each horizontal pair of pixels one Cb and one Cr, so "
                "4:4:4 chroma comes back with the horizontal detail of 4:2:2");
    ProgressLine progress(!options.quiet && isatty(2));
    const FrameSink onFrame = [&](int n, const std::uint8_t *frame, std::string *) {
        measure(options, format, reference, n, frame);
        return true;
    };
    const ProgressSink onProgress = [&](int done, int total) {
        progress.update(done, total > 0 ? total : totalHint);
    };

    DenoiseReport report;
    bool ok;
    try {
        ok = denoiseStream(filter.entry(), settings, *input.reader, format, writer, onFrame, onProgress,
                           &report, &error, span, chooser);
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
    if (options.stats && report.frames > 0) reportStageTimes(report, format, scenes, *filter.descriptor);
    if (!options.quiet) reportSummary(options, format, settings, report, *filter.descriptor, scenes);
    checkReferenceEnd(options, format, reference);
    reportReference(options, reference);
    return 0;
}

}  // namespace q5cli
