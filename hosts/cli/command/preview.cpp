// The preview: the filter run for one frame through our host, fed from the few
// input frames it asks for, and the before/after picture of that frame.
#include "cli/command/preview.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <new>
#include <optional>

#include "cli/command/shared.h"
#include "cli/command/strength.h"
#include "cli/io/output_file.h"
#include "cli/io/png.h"
#include "cli/picture/comparison.h"
#include "cli/picture/convert.h"
#include "cli/picture/preview_window.h"
#include "common/host.h"

namespace q5cli {

namespace {

// The filter's output for frame n, fed from the frames held.
bool filterOne(GetFilterTableFn entry, const DenoiseSettings &settings, const Y4mFormat &format,
               std::map<int, Y4mFrame> &held, int count, int n, PreviewResult *result, std::string *error) {
    q5host::Host host(entry, settings.threads);
    startFilter(host, settings);
    const FrameConverter converter(format, settings.threads);
    const q5host::ClipInfo clip = streamClip(format, count >= 0 ? count : kUnknownLength);
    int missing = -1;
    host.setClip(clip, [&](int k, PIXEL_YC *image, int pitch) {
        const auto it = held.find(k);
        if (it == held.end()) {
            missing = k;
            return false;
        }
        converter.toYc48(it->second.data.data(), it->second.params, image, pitch);
        return true;
    });
    host.saveStart(0, clip.frameCount - 1);
    host.process(n);
    if (!host.filterRan()) {
        *error = "the filter could not process frame " + std::to_string(n) + ": " +
                 unprocessedReason(format, settings.threads);
        return false;
    }
    result->before = held[n];
    result->after.resize(format.frameBytes());
    converter.fromYc48(host.out(), clip.maxW, result->before.params, result->after.data());
    host.exit();
    if (missing >= 0) {
        *error = "internal error: the filter asked for frame " + std::to_string(missing) +
                 ", which the preview did not read";
        return false;
    }
    return true;
}

// What the picture shows, and how much the frame's luma changed in 8-bit code steps.
void report(std::FILE *to, const Options &options, const std::string &name, const DenoiseSettings &settings,
            const Y4mFormat &format, const PreviewResult &frame, const std::string &legend) {
    const std::uint8_t *before = frame.before.data.data(), *after = frame.after.data();
    const double unit = std::ldexp(1.0, format.bits - 8);
    double sum = 0, squares = 0, most = 0;
    const std::size_t pixels = static_cast<std::size_t>(format.width) * format.height;
    for (std::size_t i = 0; i < pixels; ++i) {
        const auto at = [&](const std::uint8_t *p) { return format.bits > 8 ? p[2 * i] | p[2 * i + 1] << 8 : p[i]; };
        const double d = (at(before) - at(after)) / unit;
        sum += std::abs(d), squares += d * d, most = std::max(most, std::abs(d));
    }
    std::fprintf(to, "Frame %d of %s, %s:\n", options.frame, printable(name).c_str(), settingsText(settings).c_str());
    std::fprintf(to, "luma changed by %.2f code steps on average (rms %.2f, at most %.1f; in 8-bit steps)\n",
                 sum / pixels, std::sqrt(squares / pixels), most);
    std::fprintf(to, "Wrote %s:\n%s\n", options.pictureOut == "-" ? "standard output" : printable(options.pictureOut).c_str(),
                 legend.c_str());
}

}  // namespace

bool previewFrame(GetFilterTableFn entry, const DenoiseSettings &settings, ByteSource &source,
                  Y4mReader &reader, const Y4mFormat &format, int n, PreviewResult *result,
                  const std::string &name, std::string *error, const SettingsChooser &choose) {
    // Frame n needs n - 1 and n + 1; with the mosquito pass, their neighbours too.
    const int reach = choose || settings.on(CheckBox::MosquitoNr) ? 2 : 1;
    PreviewFrames frames;
    if (!readPreviewFrames(source, reader, format, n, reach, name, &frames, error)) return false;
    // While the clip's end is unseen the host's clip reaches kUnknownLength frames.
    if (frames.count < 0 && n >= kUnknownLength - reach) {
        *error = name + ": frame " + std::to_string(n) + " is beyond the " + std::to_string(kUnknownLength - reach) +
                 " frames this program can preview";
        return false;
    }
    result->frameCount = frames.count;
    DenoiseSettings chosen = settings;
    if (choose) {
        std::vector<const Y4mFrame *> measured;
        for (const auto &[k, frame] : frames.held) measured.push_back(&frame);
        choose.choose(frames.held.begin()->first, measured, &chosen);
    }
    return filterOne(entry, chosen, format, frames.held, frames.count, n, result, error);
}

int runPreview(const Options &options) {
    if (!options.reference.empty()) {
        message("preview shows one frame, with no clean clip to compare with; --reference is for INPUT OUTPUT");
        return 2;
    }
    LoadedFilter filter;
    if (const int status = loadFilter(options, &filter)) return status;
    OpenStream input;
    if (const int status = openStream(options.input, &input)) return status;
    const Y4mFormat &format = input.format;
    const std::string &name = input.name;
    std::string error;
    if (!checkProcessable(format, &error)) {
        message(name + ": " + error);
        return 1;
    }
    DenoiseSettings settings = resolveSettings(options, *filter.descriptor, format);
    std::optional<AutoStrength> chosen;
    SettingsChooser choose;
    std::unique_ptr<TrialFilter> trial;
    if (options.autoStrength) {
        trial = TrialFilter::open(filter.path, settings.threads, &error);
        if (!trial) {
            message(error);
            return 1;
        }
    }
    if (options.autoStrength)
        choose.choose = [&](int, const std::vector<const Y4mFrame *> &around, DenoiseSettings *s) {
            chosen = autoStrength(around, options, format, *s, *trial);
            *s = settings = chosen->settings;
        };
    // The picture's place is checked before any frame is read; it never replaces the clip.
    if (options.pictureOut != "-" && isSameFile(options.pictureOut, *input.source)) {
        message("--out " + options.pictureOut + " is the input: the picture would replace the clip");
        return 2;
    }
    auto out = OutputFile::open(options.pictureOut, &error);
    if (!out) {
        message(error);
        return 1;
    }
    if (out->writesDirectlyInto(*input.source)) {
        message("the picture's output is the input file (" + name + "): it would overwrite the clip");
        return 1;
    }

    PreviewResult frame;
    bool previewed;
    try {
        previewed = previewFrame(filter.entry(), settings, *input.source, *input.reader, format, options.frame,
                                 &frame, name, &error, choose);
    } catch (const std::bad_alloc &) {
        previewed = false;
        error = memoryAdvice(format, settings.threads);
    }
    if (!previewed) {
        message(error);
        return 1;
    }
    const Crop crop = busiestCrop(format, frame.before.data.data(), frame.after.data());
    const ComparisonPicture pic = makeComparison(format, frame.before.data.data(), frame.after.data(), crop);
    const std::vector<std::uint8_t> png = encodePng(pic.width, pic.height, pic.rgb);
    if (!out->write(png.data(), png.size(), &error) || !out->commit(&error)) {
        message(error);
        return 1;
    }
    // Beside a picture on standard output, the report goes to standard error.
    if (options.quiet) return 0;
    std::FILE *to = out->isStdout() ? stderr : stdout;
    if (chosen) std::fprintf(to, "Strength auto, from the frames around it: %s\n", autoStrengthText(*chosen, format).c_str());
    if (const std::string past = pastEditorRange(settings, *filter.descriptor); !past.empty())
        std::fprintf(to, "Past the editor's range (this command only): %s\n", past.c_str());
    report(to, options, name, settings, format, frame, pic.legend);
    return 0;
}

}  // namespace q5cli
