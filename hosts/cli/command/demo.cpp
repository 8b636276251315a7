// The demo command: every run in memory, then all files written at once into a new
// or empty folder, each to a temporary beside it and renamed when all are complete,
// so an interrupted or failed demo leaves nothing behind.
#include "cli/command/demo.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli/picture/comparison.h"
#include "cli/picture/metrics.h"
#include "cli/io/output_file.h"
#include "cli/io/png.h"
#include "cli/io/signals.h"
#include "cli/command/denoise.h"
#include "common/module.h"

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
Options demoOptions(const Options &given, std::initializer_list<std::pair<int, int>> checks) {
    Options o = given;
    for (const auto &slider : kDemoSliders)
        if (!o.trackGiven[slider.index]) {
            o.track[slider.index] = slider.value;
            o.trackGiven[slider.index] = true;
        }
    for (const auto &[index, value] : checks) {
        o.check[index] = value;
        o.checkGiven[index] = true;
    }
    return o;
}

struct Run {
    std::string label;
    DenoiseSettings settings;
    Frames output;
    QualityMeter meter;
};

class Demo {
public:
    explicit Demo(const Options &options) : options_(options) {}
    int run();

private:
    bool denoise(const Y4mFormat &format, const Frames &input, const Frames &clean, Run *run);
    bool settingsFor(const Options &options, DenoiseSettings *settings);
    bool writeAll(const DemoClip &clip, const Run &grain, const Run &blocks);

    const Options &options_;
    std::unique_ptr<q5host::Module> module_;
    const FILTER *descriptor_ = nullptr;
};

// The demo writes only into a folder it makes or an empty one, so that its files
// never replace the user's and a failed demo never removes them.
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
    bool empty = true;
    while (const dirent *e = readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) empty = false;
    closedir(d);
    if (!empty) message(dir + " is not empty: the demo writes into a new or empty folder");
    return empty;
}

bool Demo::settingsFor(const Options &options, DenoiseSettings *settings) {
    std::string error;
    if (!resolveSettings(options, *descriptor_, false, settings->track, settings->check, &error)) {
        message(error);
        return false;
    }
    settings->threads = resolveThreads(options);
    return true;
}

bool Demo::denoise(const Y4mFormat &format, const Frames &input, const Frames &clean, Run *run) {
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
        !denoiseStream(module_->getFilterTable(), run->settings, reader, readFormat, writer, onFrame,
                       nullptr, nullptr, &error)) {
        message("the demo run failed: " + error);
        return false;
    }
    return true;
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
        {path("clean.y4m"), clipBytes(clip.format, clip.clean)},
        {path("noisy.y4m"), clipBytes(clip.format, clip.grainy)},
        {path("denoised.y4m"), clipBytes(clip.format, grain.output)},
        {path("blocky.y4m"), clipBytes(clip.format, clip.blocky)},
        {path("blocky-denoised.y4m"), clipBytes(clip.format, blocks.output)},
        {path("before-after.png"), grainPicture.first},
        {path("blocky-before-after.png"), blockPicture.first},
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
        // left half made. The folder was new or empty, so every file a rollback
        // removes is one of ours.
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
                dir.c_str(), kDemoShownFrame, grainPicture.second.c_str());
    return true;
}

int Demo::run() {
    const auto start = std::chrono::steady_clock::now();
    if (!options_.reference.empty()) {
        message("demo makes its own clean clip to compare with; --reference is for INPUT OUTPUT");
        return 2;
    }
    if (!usableFolder(options_.demoDir)) return 1;
    DenoiseSettings unused;
    if (const int status = loadFilter(options_, &module_, &unused)) return status;
    descriptor_ = module_->getFilterTable()();
    std::string error;

    const DemoClip clip = makeDemoClip();
    const Y4mFormat &f = clip.format;
    Y4mFormat eight;
    parseY4mHeader(makeY4mHeader(f.width, f.height, f.subsampling, 8, 24, 1), &eight, &error);
    Frames clean8, grainy8;
    for (int t = 0; t < kDemoFrames; ++t) {
        clean8.push_back(requantise(f, clip.clean[t].data(), eight));
        grainy8.push_back(requantise(f, clip.grainy[t].data(), eight));
    }

    // The groups: on the grainy clip, the wavelet stages alone and with both pre-passes,
    // whose flat-block smoothing suits the flat colours of a cartoon best; the rounding
    // correction, which re-quantises to 8-bit steps, off and on for an 8-bit copy; and
    // the pre-passes on the blocky clip.
    Run grain{"wavelet stages only", {}, {}, QualityMeter(f)};
    Run grainPre{"with both pre-passes", {}, {}, QualityMeter(f)};
    Run off8{"rounding correction off", {}, {}, QualityMeter(eight)};
    Run on8{"rounding correction on", {}, {}, QualityMeter(eight)};
    Run blocksPlain{"wavelet stages only", {}, {}, QualityMeter(f)};
    Run blocks{"with both pre-passes", {}, {}, QualityMeter(f)};
    const auto plain = demoOptions(options_, {{4, 0}, {2, 0}, {3, 0}});
    const auto pre = demoOptions(options_, {{4, 0}, {2, 1}, {3, 1}});
    if (!settingsFor(plain, &grain.settings) || !settingsFor(pre, &grainPre.settings) ||
        !settingsFor(pre, &off8.settings) ||
        !settingsFor(demoOptions(options_, {{4, 1}, {2, 1}, {3, 1}}), &on8.settings) ||
        !settingsFor(plain, &blocksPlain.settings) || !settingsFor(pre, &blocks.settings))
        return 2;
    if (!denoise(f, clip.grainy, clip.clean, &grain) || !denoise(f, clip.grainy, clip.clean, &grainPre) ||
        !denoise(eight, grainy8, clean8, &off8) || !denoise(eight, grainy8, clean8, &on8) ||
        !denoise(f, clip.blocky, clip.clean, &blocksPlain) || !denoise(f, clip.blocky, clip.clean, &blocks))
        return 1;

    if (!writeAll(clip, grainPre, blocks)) return 1;

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
    std::printf("\nDemo clip: %d frames of a %dx%d cartoon, %s, against the clean drawing:\n",
                kDemoFrames, f.width, f.height, f.describe().c_str());
    const QualityMeter grainy = input(f, clip.grainy, clip.clean);
    line("with grain (sigma 0.75)", grainy, nullptr, "");
    line(grain.label, grain.meter, &grainy, settingsText(grain.settings));
    line(grainPre.label, grainPre.meter, &grainy, settingsText(grainPre.settings));
    std::printf("The same in 8 bits:\n");
    const QualityMeter grainy8Meter = input(eight, grainy8, clean8);
    line("with grain", grainy8Meter, nullptr, "");
    line(off8.label, off8.meter, &grainy8Meter, settingsText(off8.settings));
    line(on8.label, on8.meter, &grainy8Meter, settingsText(on8.settings));
    std::printf("After a block codec (8x8 DCT, coarse steps):\n");
    const QualityMeter blocky = input(f, clip.blocky, clip.clean);
    line("blocky", blocky, nullptr, "");
    line(blocksPlain.label, blocksPlain.meter, &blocky, settingsText(blocksPlain.settings));
    line(blocks.label, blocks.meter, &blocky, settingsText(blocks.settings));
    std::printf("(%.1f s)\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return 0;
}

}  // namespace

int runDemo(const Options &options) { return Demo(options).run(); }

}  // namespace q5cli
