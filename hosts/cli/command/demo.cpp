// The demo command: every run in memory, then all files written at once into a new
// or empty folder, each to a temporary beside it and renamed when all are complete,
// so an interrupted or failed demo leaves nothing behind.
#include "cli/command/demo.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli/command/shared.h"
#include "cli/command/strength.h"
#include "cli/io/output_file.h"
#include "cli/io/png.h"
#include "cli/io/signals.h"
#include "cli/picture/comparison.h"
#include "cli/picture/metrics.h"
#include "cli/session/filter_session.h"

namespace q5cli {

namespace {

using Frames = std::vector<std::vector<std::uint8_t>>;

std::vector<std::uint8_t> clipBytes(const Y4mFormat &format, const Frames &frames) {
    MemorySink sink;
    Y4mWriter writer(sink);
    std::string error;
    writer.writeHeader(format, &error);
    for (const auto &frame : frames) writer.writeFrame("", frame.data(), frame.size(), &error);
    return std::move(sink.bytes);
}

// The options the demo runs with: the user's, the demo's sliders where the user gave
// none, and then the group's own switches.
Options demoOptions(const Options &given, std::initializer_list<std::pair<CheckBox, bool>> boxes) {
    Options o = given;
    for (const auto &slider : kDemoSliders)
        if (!o.choice(slider.slider).given) o.give(slider.slider, slider.value);
    for (const auto &[box, on] : boxes) o.give(box, on);
    return o;
}

struct Run {
    std::string label;
    DenoiseSettings settings;
    Frames output;
    QualityMeter meter;
};

Y4mFormat eightBits(const Y4mFormat &f) {
    Y4mFormat eight;
    std::string error;
    parseY4mHeader(makeY4mHeader(f.width, f.height, f.subsampling, 8, 24, 1), &eight, &error);
    return eight;
}

Frames requantised(const Y4mFormat &from, const Frames &frames, const Y4mFormat &to) {
    Frames out;
    for (const auto &frame : frames) out.push_back(requantise(from, frame.data(), to));
    return out;
}

// Every group's settings, output and figures, and the 8-bit copy two of them run on.
struct Runs {
    explicit Runs(const DemoClip &clip)
        : eight(eightBits(clip.format)), clean8(requantised(clip.format, clip.clean, eight)),
          grainy8(requantised(clip.format, clip.grainy, eight)),
          automatic{"the default, --strength auto", {}, {}, QualityMeter(clip.format)},
          grain{"wavelet stages only", {}, {}, QualityMeter(clip.format)},
          grainPre{"with both pre-passes", {}, {}, QualityMeter(clip.format)},
          off8{"rounding correction off", {}, {}, QualityMeter(eight)},
          on8{"rounding correction on", {}, {}, QualityMeter(eight)},
          blocksPlain{"wavelet stages only", {}, {}, QualityMeter(clip.format)},
          blocks{"with both pre-passes", {}, {}, QualityMeter(clip.format)} {}
    Y4mFormat eight;
    Frames clean8, grainy8;
    Run automatic, grain, grainPre, off8, on8, blocksPlain, blocks;
};

class Demo {
public:
    explicit Demo(const Options &options) : options_(options) {}
    int run();

private:
    bool denoise(const Y4mFormat &format, const Frames &input, const Frames &clean, Run *run,
                 const SettingsChooser &chooser = {});
    bool denoiseAutomatically(const DemoClip &clip, Run *run);
    bool settingsFor(const Options &options, const Y4mFormat &format, DenoiseSettings *settings);
    bool writeAll(const DemoClip &clip, const Run &grain, const Run &blocks);
    bool settle(const DemoClip &clip, Runs &runs);
    bool denoiseAll(const DemoClip &clip, Runs &runs);
    void printFigures(const DemoClip &clip, const Runs &runs) const;

    const Options &options_;
    LoadedFilter filter_;
};

// The files a demo writes, in the order they are put in place.
constexpr const char *kDemoFiles[] = {"clean.y4m",          "noisy.y4m",        "denoised.y4m",
                                      "blocky.y4m",         "blocky-denoised.y4m", "before-after.png",
                                      "blocky-before-after.png"};

// A file an earlier demo wrote: one of its names, and a clip of the demo's header and
// length or a PNG. A file of the user's that happens to share a name is not one.
bool isEarlierDemoFile(const std::string &dir, const char *name) {
    if (std::find_if(std::begin(kDemoFiles), std::end(kDemoFiles),
                     [&](const char *ours) { return std::strcmp(name, ours) == 0; }) == std::end(kDemoFiles))
        return false;
    const std::string path = dir + "/" + name;
    struct stat st {};
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char start[80] = {};
    const std::size_t got = fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode) ? std::fread(start, 1, sizeof start, f) : 0;
    std::fclose(f);
    const std::string head(start, got);
    if (std::strstr(name, ".png")) return head.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0;
    Y4mFormat format;
    std::string error;
    const std::string header = makeY4mHeader(kDemoWidth, kDemoHeight, Subsampling::S420, kDemoBits, 24, 1) + "\n";
    parseY4mHeader(header.substr(0, header.size() - 1), &format, &error);
    const auto length = static_cast<long long>(header.size() + kDemoFrames * (6 + format.frameBytes()));
    return head.compare(0, header.size(), header) == 0 && static_cast<long long>(st.st_size) == length;
}

// The demo writes only into a folder it makes, an empty one or one that holds nothing
// but an earlier demo's files, so that its files never replace the user's and a
// failed demo never removes them.
bool usableFolder(const std::string &dir) {
    if (dir.empty()) {
        message("the demo folder name is empty");
        return false;
    }
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0) {
        if (errno == ENOENT) return true;
        message("cannot use " + dir + ": " + std::strerror(errno));
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        message(dir + " is not a folder");
        return false;
    }
    DIR *d = opendir(dir.c_str());
    if (!d) {
        message("cannot read " + dir + ": " + std::strerror(errno));
        return false;
    }
    std::vector<std::string> others;
    while (const dirent *e = readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0 && !isEarlierDemoFile(dir, e->d_name))
            others.push_back(e->d_name);
    closedir(d);
    if (others.empty()) return true;
    std::sort(others.begin(), others.end());
    std::string names;
    for (std::size_t i = 0; i < others.size() && i < 3; ++i) names += (i ? ", " : "") + others[i];
    if (others.size() > 3) names += " and " + count(static_cast<long long>(others.size() - 3), "other", "others");
    message(dir + " holds files the demo did not write (" + names +
            "): the demo writes into a new or empty folder, or one of its own earlier runs");
    return false;
}

// The demo's own sliders are within every range; a given one may not be.
bool Demo::settingsFor(const Options &options, const Y4mFormat &format, DenoiseSettings *settings) {
    std::string error;
    if (!checkSettings(options, *filter_.descriptor, &error)) {
        message(error);
        return false;
    }
    *settings = resolveSettings(options, *filter_.descriptor, format);
    return true;
}

bool Demo::denoise(const Y4mFormat &format, const Frames &input, const Frames &clean, Run *run,
                   const SettingsChooser &chooser) {
    const std::vector<std::uint8_t> bytes = clipBytes(format, input);
    MemorySource source(bytes.data(), bytes.size());
    Y4mReader reader(source, "the demo clip");
    Y4mFormat readFormat;
    MemorySink sink;
    Y4mWriter writer(sink);
    std::string error;
    const FrameSink onFrame = [&](int n, const std::uint8_t *frame, std::string *) {
        run->output.emplace_back(frame, frame + format.frameBytes());
        run->meter.add(frame, clean[n].data());
        return true;
    };
    if (!reader.readHeader(&readFormat, &error) ||
        !denoiseStream(filter_.entry(), run->settings, reader, readFormat, writer, onFrame,
                       nullptr, nullptr, &error, {}, chooser)) {
        message("the demo run failed: " + error);
        return false;
    }
    return true;
}

// The default: settings chosen from the grainy clip, those the user gave kept.
bool Demo::denoiseAutomatically(const DemoClip &clip, Run *run) {
    if (!settingsFor(options_, clip.format, &run->settings)) return false;
    std::string error;
    const std::unique_ptr<TrialFilter> trial = TrialFilter::open(filter_.path, run->settings.threads, &error);
    if (!trial) {
        message(error);
        return false;
    }
    SettingsChooser chooser;
    chooser.choose = [&](int first, const std::vector<const Y4mFrame *> &frames, DenoiseSettings *s) {
        *s = run->settings = autoStrength(frames, options_, clip.format, *s, *trial, first).settings;
    };
    return denoise(clip.format, clip.grainy, clip.clean, run, chooser);
}

bool Demo::writeAll(const DemoClip &clip, const Run &grain, const Run &blocks) {
    const std::string &dir = options_.demoDir;
    const auto path = [&](const char *name) {
        return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
    };
    const auto picture = [&](const Frames &before, const Run &after, Crop crop) {
        const int n = kDemoShownFrame;
        const ComparisonPicture pic = makeComparison(clip.format, before[n].data(), after.output[n].data(), crop);
        return std::make_pair(encodePng(pic.width, pic.height, pic.rgb), pic.legend);
    };
    // Grain and gradient in the sky, a hill's outline and the character's edge.
    Crop crop = cropSize(clip.format);
    crop.x = 232, crop.y = 140;
    const auto grainPicture = picture(clip.grainy, grain, crop);
    const auto blockPicture = picture(clip.blocky, blocks, crop);
    const struct {
        std::string path;
        std::vector<std::uint8_t> bytes;
    } files[] = {
        {path(kDemoFiles[0]), clipBytes(clip.format, clip.clean)},
        {path(kDemoFiles[1]), clipBytes(clip.format, clip.grainy)},
        {path(kDemoFiles[2]), clipBytes(clip.format, grain.output)},
        {path(kDemoFiles[3]), clipBytes(clip.format, clip.blocky)},
        {path(kDemoFiles[4]), clipBytes(clip.format, blocks.output)},
        {path(kDemoFiles[5]), grainPicture.first},
        {path(kDemoFiles[6]), blockPicture.first},
    };

    // Checked again now that the runs are done: the folder may have changed meanwhile.
    if (!usableFolder(dir)) return false;
    const bool madeDir = access(dir.c_str(), F_OK) != 0;
    if (madeDir && mkdir(dir.c_str(), 0777) != 0) {
        message("cannot create " + dir + ": " + std::strerror(errno));
        return false;
    }
    std::vector<std::unique_ptr<OutputFile>> outputs;
    std::string error;
    bool ok = true;
    for (const auto &file : files) {
        auto out = OutputFile::open(file.path, &error);
        if (!out || !out->write(file.bytes.data(), file.bytes.size(), &error)) {
            ok = false;
            break;
        }
        outputs.push_back(std::move(out));
    }
    {
        // The renames and any rollback finish before a signal acts: the set is never
        // left half made. The folder held none of the user's files, so every file a
        // rollback removes is one of ours.
        const SignalsHeld held;
        std::size_t committed = 0;
        for (; ok && committed < outputs.size(); ++committed)
            ok = outputs[committed]->commit(&error);
        if (!ok) {
            for (std::size_t i = 0; i + 1 < committed; ++i) unlink(files[i].path.c_str());
            outputs.clear();
            if (madeDir) rmdir(dir.c_str());
        }
    }
    if (!ok) {
        message(error);
        return false;
    }

    std::printf("Wrote into %s: clean.y4m, noisy.y4m (the grainy clip), denoised.y4m, blocky.y4m,\n"
                "blocky-denoised.y4m, and frame %d of each pair in before-after.png and\n"
                "blocky-before-after.png:\n%s\n",
                printable(dir).c_str(), kDemoShownFrame, grainPicture.second.c_str());
    // The stretched crops magnify every code step: naming the settings tells a reader
    // which run the "after" side is, and that its fine texture in flat areas is theirs.
    std::printf("\"after\" in before-after.png: quorvane5 %s\n"
                "\"after\" in blocky-before-after.png: quorvane5 %s\n"
                "The crops' contrast stretch shows single code steps in flat areas (the blocky\n"
                "clip's sky) as streaks and speckle.\n",
                settingsText(grain.settings).c_str(), settingsText(blocks.settings).c_str());
    return true;
}

// The groups: on the grainy clip, the wavelet stages alone and with both pre-passes,
// whose flat-block smoothing suits the flat colours of a cartoon best; the rounding
// correction, which re-quantises to 8-bit steps, off and on for an 8-bit copy; and
// the pre-passes on the blocky clip.
bool Demo::settle(const DemoClip &clip, Runs &runs) {
    const Y4mFormat &f = clip.format;
    const auto plain = demoOptions(options_, {{CheckBox::Rounding, false}, {CheckBox::MosquitoNr, false},
                                              {CheckBox::BlockNr, false}});
    const auto pre = demoOptions(options_, {{CheckBox::Rounding, false}, {CheckBox::MosquitoNr, true},
                                            {CheckBox::BlockNr, true}});
    const auto rounded = demoOptions(options_, {{CheckBox::Rounding, true}, {CheckBox::MosquitoNr, true},
                                                {CheckBox::BlockNr, true}});
    return settingsFor(plain, f, &runs.grain.settings) && settingsFor(pre, f, &runs.grainPre.settings) &&
           settingsFor(pre, runs.eight, &runs.off8.settings) &&
           settingsFor(rounded, runs.eight, &runs.on8.settings) &&
           settingsFor(plain, f, &runs.blocksPlain.settings) && settingsFor(pre, f, &runs.blocks.settings);
}

bool Demo::denoiseAll(const DemoClip &clip, Runs &runs) {
    const Y4mFormat &f = clip.format;
    return denoiseAutomatically(clip, &runs.automatic) && denoise(f, clip.grainy, clip.clean, &runs.grain) &&
           denoise(f, clip.grainy, clip.clean, &runs.grainPre) &&
           denoise(runs.eight, runs.grainy8, runs.clean8, &runs.off8) &&
           denoise(runs.eight, runs.grainy8, runs.clean8, &runs.on8) &&
           denoise(f, clip.blocky, clip.clean, &runs.blocksPlain) && denoise(f, clip.blocky, clip.clean, &runs.blocks);
}

void Demo::printFigures(const DemoClip &clip, const Runs &runs) const {
    const auto input = [&](const Y4mFormat &format, const Frames &frames, const Frames &reference) {
        QualityMeter m(format);
        for (int t = 0; t < kDemoFrames; ++t) m.add(frames[t].data(), reference[t].data());
        return m;
    };
    const auto line = [](const std::string &label, const QualityMeter &m, const QualityMeter *from,
                         const std::string &settings) {
        std::printf("  %-26s PSNR Y %6.2f dB", label.c_str(), m.psnr(0));
        if (from)
            std::printf(" (%+.2f)  SSIM Y %.4f (%+.4f)  %s\n", m.psnr(0) - from->psnr(0), m.ssim(),
                        m.ssim() - from->ssim(), settings.c_str());
        else
            std::printf("          SSIM Y %.4f\n", m.ssim());
    };
    const auto run = [&](const Run &r, const QualityMeter &from) {
        line(r.label, r.meter, &from, settingsText(r.settings));
    };
    const Y4mFormat &f = clip.format;
    std::printf("\nDemo clip: %d frames of a %dx%d cartoon, %s, against the clean drawing:\n",
                kDemoFrames, f.width, f.height, f.describe().c_str());
    const QualityMeter grainy = input(f, clip.grainy, clip.clean);
    line("with grain (sigma 0.75)", grainy, nullptr, "");
    run(runs.automatic, grainy);
    run(runs.grain, grainy);
    run(runs.grainPre, grainy);
    std::printf("The same in 8 bits:\n");
    const QualityMeter grainy8 = input(runs.eight, runs.grainy8, runs.clean8);
    line("with grain", grainy8, nullptr, "");
    run(runs.off8, grainy8);
    run(runs.on8, grainy8);
    std::printf("After a block codec (8x8 DCT, coarse steps):\n");
    const QualityMeter blocky = input(f, clip.blocky, clip.clean);
    line("blocky", blocky, nullptr, "");
    run(runs.blocksPlain, blocky);
    run(runs.blocks, blocky);
    std::printf("At %dx%d the mosquito pass works at the small frames' strength; in frames wider than 720 or taller"
                " than 480 each --mosqnr step is about eleven times stronger.\n", f.width, f.height);
}

int Demo::run() {
    const auto start = std::chrono::steady_clock::now();
    if (!options_.reference.empty()) {
        message("demo makes its own clean clip to compare with; --reference is for INPUT OUTPUT");
        return 2;
    }
    if (options_.strengthGiven) {
        message("demo shows both the default, --strength auto, and fixed settings; --strength is for INPUT OUTPUT "
                "and preview");
        return 2;
    }
    if (!usableFolder(options_.demoDir)) return 1;
    if (const int status = loadFilter(options_, &filter_)) return status;
    const DemoClip clip = makeDemoClip();
    Runs runs(clip);
    if (!settle(clip, runs)) return 2;
    if (!denoiseAll(clip, runs)) return 1;
    if (!writeAll(clip, runs.automatic, runs.blocks)) return 1;
    printFigures(clip, runs);
    std::printf("(%.1f s)\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return 0;
}

}  // namespace

int runDemo(const Options &options) { return Demo(options).run(); }

}  // namespace q5cli
