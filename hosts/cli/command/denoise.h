// Running the filter over a y4m stream through our own host, and the program's
// commands built on that.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "abi/host_api.h"
#include "cli/command/options.h"
#include "cli/io/y4m.h"

namespace q5host {
class Host;
struct ClipInfo;
class Module;
}

namespace q5cli {

/// Resolved settings of one run.
struct DenoiseSettings {
    int track[6] = {};
    int check[5] = {};
    int threads = 1;
    bool timeStages = false;  // fill DenoiseReport::stages
};

/// Where a run's time went, over the whole run (--stats): wall time, and the CPU time
/// of every thread of the process, which a busy machine inflates less.
struct StageTime {
    double wall = 0, cpu = 0;  // seconds
    void add(const StageTime &o) { wall += o.wall, cpu += o.cpu; }
};
struct StageTimes {
    StageTime read;      // y4m frames read from the input
    StageTime toYc48;    // YUV to YC48, into the host's frame cache
    StageTime host;      // the host's own work: frame cache, copies, call set-up
    StageTime filter;    // the filter's func_proc, less the frames it had converted
    StageTime fromYc48;  // YC48 back to YUV
    StageTime write;     // y4m frames written to the output
    StageTime outside() const {
        StageTime t = read;
        for (const StageTime *s : {&toYc48, &host, &fromYc48, &write}) t.add(*s);
        return t;
    }
};

struct DenoiseReport {
    int frames = 0;
    double seconds = 0;
    int peakFramesHeld = 0;  // input frames held at once
    int lateRequests = 0;    // frames the filter asked for after they were dropped
    int firstClampedFrame = -1;  // first frame with samples above the depth's maximum
    StageTimes stages;           // with DenoiseSettings::timeStages
};

/// Called with every output frame (y4m bytes of the input's format) in order; a
/// false return stops the run with the message it set.
using FrameSink = std::function<bool(int n, const std::uint8_t *frame, std::string *error)>;
/// Called after every frame with the frames done and the total (-1 while unknown).
using ProgressSink = std::function<void(int done, int total)>;

/// frame_n while the stream's end is unseen: beyond any frame the filter may ask for,
/// so it neither mirrors nor skips a neighbour. Frames within two of the end are only
/// processed once the end is known (see denoiseStream).
constexpr int kUnknownLength = 1 << 29;

/// One line on standard error, "quorvane5: text".
void message(const std::string &text);

/// The host's clip for a stream of this format: images just large enough for the
/// picture rounded up to whole 16 x 16 blocks, as the filter needs, so smaller
/// pictures cost no more than their own size.
q5host::ClipInfo streamClip(const Y4mFormat &format, int frameCount);

/// The settings of a run as options: every slider but the pre-pass and rounding
/// strengths of passes that are off, and each switch that differs from its default.
std::string settingsText(const DenoiseSettings &settings);

/// Loads the filter into `host` as the editor does: active, func_init, every slider
/// and check box of `settings`, then func_update.
void startFilter(q5host::Host &host, const DenoiseSettings &settings);

/// Runs the filter over every frame of an input whose header has been read, as the
/// editor does: func_init, the settings, func_update, func_save_start, func_proc for
/// frames 0, 1, 2, ... and func_exit. Frames are read lazily and dropped as soon as no
/// later frame can need them. Writes the header and each frame to `out` (the header
/// only once the first frame is ready or the stream proved empty).
bool denoiseStream(GetFilterTableFn entry, const DenoiseSettings &settings, Y4mReader &in,
                   const Y4mFormat &format, Y4mWriter &out, const FrameSink &onFrame,
                   const ProgressSink &onProgress, DenoiseReport *report, std::string *error);

struct DenoiseOutcome {
    int frames = 0;
    double seconds = 0;
    bool haveMetrics = false;
    double psnr[3] = {0, 0, 0};
    double ssim = 0;
    std::string summary;  // the metrics as printed
};

/// A stream opened and its header read; the steps below print their own message and
/// give the exit status, 0 to go on.
struct OpenStream {
    std::string name;  // for messages
    std::unique_ptr<ByteSource> source;
    std::unique_ptr<Y4mReader> reader;
    Y4mFormat format;
};
int openStream(const std::string &path, OpenStream *stream);

/// The filter module loaded and the settings' ranges checked against its descriptor;
/// per-field processing waits for the stream's interlacing.
int loadFilter(const Options &options, std::unique_ptr<q5host::Module> *module,
               DenoiseSettings *settings);

/// The denoise command (INPUT OUTPUT with --reference and the rest); the exit status.
int runDenoiseCommand(const Options &options, DenoiseOutcome *outcome);

/// The whole program: parses the arguments, runs and returns the exit status. Messages
/// go to standard error.
int runProgram(const std::vector<std::string> &args);

/// The module to load: --module (a bare name in the current folder), else quorvane5.so
/// beside the program, else ../lib/quorvane5/quorvane5.so from it as installed, else,
/// for a program in the build tree, the module built with it.
std::string findModule(const std::string &given);

}  // namespace q5cli
