// A filter session: the loaded module driven through our host as the editor drives
// it, fed a y4m stream frame by frame, and timed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "abi/host_api.h"
#include "abi/settings.h"
#include "cli/io/y4m.h"
#include "cli/session/stage_times.h"

namespace q5host {
class Host;
struct ClipInfo;
}

namespace q5cli {

/// The settings of one run, resolved once the stream's header is known.
struct DenoiseSettings {
    int track[kSliderCount] = {};
    int check[kCheckBoxCount] = {};
    int threads = 1;
    bool timeStages = false;  // fill DenoiseReport::stages

    /// Every slider and check box at its default.
    static DenoiseSettings defaults();
    int slider(Slider s) const { return track[indexOf(s)]; }
    /// As the filter reads a check box: on only when exactly 1.
    bool on(CheckBox c) const { return check[indexOf(c)] == 1; }
    void set(Slider s, int value) { track[indexOf(s)] = value; }
    void set(CheckBox c, bool on) { check[indexOf(c)] = on ? 1 : 0; }
};

struct DenoiseReport {
    int frames = 0;
    double seconds = 0;
    int peakFramesHeld = 0;      // input frames held at once
    int lateRequests = 0;        // frames the filter asked for after they were dropped
    int firstClampedFrame = -1;  // first frame with samples above the depth's maximum
    StageTimes stages;           // with DenoiseSettings::timeStages
};

/// Called with every output frame (y4m bytes of the input's format) in order; a
/// false return stops the run with the message it set.
using FrameSink = std::function<bool(int n, const std::uint8_t *frame, std::string *error)>;
/// Called after every frame with the frames done and the total (-1 while unknown).
using ProgressSink = std::function<void(int done, int total)>;

/// The frames a run writes, and where its input stands in the clip. By default the
/// whole clip, read from its first frame.
struct FrameSpan {
    int first = 0;         // the first frame written
    int end = -1;          // the frame after the last one written; -1: the clip's end
    int inputFirst = 0;    // the clip's frame the reader's next frame holds
    int clipLength = -1;   // the clip's length when known before its end is read, else -1
    /// The frames written when the clip has `count` frames (-1: unknown).
    int written(int count) const { return end >= 0 ? end - first : count >= 0 ? count - first : -1; }
};

/// How many frames on each side of a frame the filter reads to make it: its two
/// neighbours, and theirs with the mosquito pass.
int contextFrames(const DenoiseSettings &settings);

/// Whether a span fits a clip of `count` frames (-1: unknown, only the input's start
/// is checked) with the context frames it reads; false with a message.
bool checkFrameSpan(const FrameSpan &span, int count, int context, std::string *error);

/// Settings chosen from the frames themselves. `choose` is called before the filter
/// starts, with the first frames the run reads (up to kChoosingFrames, fewer when the
/// stream is shorter; the filter reads as many before its first frame anyway), and
/// may change the settings; then, where `sceneCut` says frame n begins a new scene,
/// again with frames n, n + 1, ... before frame n is processed: a change there goes to
/// the filter as the editor sends one (func_update, which empties its ring).
struct SettingsChooser {
    std::function<void(int first, const std::vector<const Y4mFrame *> &frames, DenoiseSettings *settings)> choose;
    std::function<bool(const Y4mFrame &before, const Y4mFrame &at)> sceneCut;  // empty: no re-choosing
    explicit operator bool() const { return static_cast<bool>(choose); }
};
constexpr int kChoosingFrames = 3;

/// frame_n while the stream's end is unseen: beyond any frame the filter may ask for,
/// so it neither mirrors nor skips a neighbour. Frames within two of the end are only
/// processed once the end is known (see denoiseStream).
constexpr int kUnknownLength = (1 << 29) + 4;

/// The most frames a clip may have (--frames and --excerpt stay within it): frame
/// numbers near INT_MAX would overflow where the filter numbers a frame's neighbours
/// and ring slots, and a span read from a pipe must stay below kUnknownLength.
constexpr int kMaxClipFrames = 1 << 29;

/// The host's clip for a stream of this format: images just large enough for the
/// picture rounded up to whole 16 x 16 blocks, as the filter needs, so smaller
/// pictures cost no more than their own size.
q5host::ClipInfo streamClip(const Y4mFormat &format, int frameCount);

/// About how much memory (address space, as `ulimit -v` counts it) a run over frames
/// of this format takes on `threads` threads: the filter's working planes and
/// scratch, the host's images, the frames held and the threads' stacks.
std::size_t runMemoryBytes(const Y4mFormat &format, int threads);

/// What to tell the user when a run of this format had too little memory: the
/// need in MB and what lowers it.
std::string memoryAdvice(const Y4mFormat &format, int threads);

/// Why the filter gave back a frame of this format unprocessed (Host::filterRan):
/// the command refuses sizes the filter cannot take, so memory, unless the
/// processor lacks what the filter needs.
std::string unprocessedReason(const Y4mFormat &format, int threads);

/// Starts the filter in `host` as the editor does: active, func_init, every slider
/// and check box of `settings`, then func_update.
void startFilter(q5host::Host &host, const DenoiseSettings &settings);

/// Runs the filter over every frame of an input whose header has been read, as the
/// editor does: func_init, the settings, func_update, func_save_start, func_proc for
/// frames 0, 1, 2, ... and func_exit. Frames are read lazily and dropped as soon as no
/// later frame can need them. Writes the header and each frame to `out` (the header
/// only once the first frame is ready or the stream proved empty).
///
/// With a span, func_proc runs for the span's frames only, each under its own number
/// in the clip, fed the frames around them exactly as in a run over the whole clip;
/// frames of the input before those are read and dropped. The progress and report
/// count the frames written; a span beyond the clip's end is an error.
bool denoiseStream(GetFilterTableFn entry, const DenoiseSettings &settings, Y4mReader &in,
                   const Y4mFormat &format, Y4mWriter &out, const FrameSink &onFrame,
                   const ProgressSink &onProgress, DenoiseReport *report, std::string *error,
                   const FrameSpan &span = {}, const SettingsChooser &chooser = {});

}  // namespace q5cli
