// Feeding a stream to the filter: frames read as the filter asks for them, converted
// into the host's frame cache, processed, converted back and written, with the time
// of each step kept apart for --stats.
#include "cli/session/filter_session.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "cli/picture/frame_window.h"
#include "common/host.h"

namespace q5cli {

DenoiseSettings DenoiseSettings::defaults() {
    DenoiseSettings s;
    for (const SliderSetting &slider : kSliders) s.track[indexOf(slider.slider)] = slider.defaultValue;
    for (const CheckBoxSetting &box : kCheckBoxes) s.check[indexOf(box.box)] = box.defaultValue;
    return s;
}

q5host::ClipInfo streamClip(const Y4mFormat &format, int frameCount) {
    q5host::ClipInfo clip;
    clip.width = format.width;
    clip.height = format.height;
    clip.maxW = (format.width + 15) & ~15;
    clip.maxH = (format.height + 15) & ~15;
    clip.frameCount = frameCount;
    return clip;
}

namespace {

std::size_t roundUp(std::size_t value, std::size_t multiple) { return (value + multiple - 1) / multiple * multiple; }

struct WorkingPlane {
    std::size_t stride, rows;
};

// The filter's working plane for a picture rounded up to whole 16 x 16 blocks: one
// of its three fixed sizes up to 1920 x 1088, else the picture with margins.
WorkingPlane workingPlane(std::size_t w16, std::size_t h16) {
    if (w16 <= 720 && h16 <= 480) return {832, 512};
    if (w16 <= 1920 && h16 <= 1088) return {w16 <= 1440 ? 1536u : 2048u, 1280};
    return {roundUp(w16 + 96, 64), roundUp(h16 + 32, 256)};
}

}  // namespace

std::size_t runMemoryBytes(const Y4mFormat &format, int threads) {
    const std::size_t w16 = roundUp(static_cast<std::size_t>(format.width), 16);
    const std::size_t h16 = roundUp(static_cast<std::size_t>(format.height), 16);
    const WorkingPlane plane = workingPlane(w16, h16);
    // The filter: two analysed frames of luma and both chromas, two rings of floats
    // each, and the coarsest bands of two more (16.5 bytes a position for luma, 16.5
    // per chroma pair), two 16-bit planes for the rebuilt chroma; and column scratch
    // for at least four threads.
    const std::size_t filter = 35 * plane.stride * plane.rows;
    const std::size_t scratch =
        std::max(plane.rows * 8 * 11, 58 * plane.stride) * sizeof(float) + 2 * plane.stride;
    const std::size_t filterScratch = static_cast<std::size_t>(std::max(threads, 4)) * scratch;
    // The host: a cache of five frames, one more on its way in, the output and the
    // spare image; the command: five input frames, the output frame and a spare.
    const std::size_t host = 8 * w16 * h16 * sizeof(PIXEL_YC);
    const std::size_t frames = 7 * format.frameBytes();
    // Each thread's stack is reserved whole (8 MB by default): the host's workers
    // and the conversions' helpers.
    const std::size_t stacks = 2 * static_cast<std::size_t>(threads) * (std::size_t{8} << 20);
    // The program itself with its libraries and the loaded module.
    const std::size_t program = std::size_t{64} << 20;
    return filter + filterScratch + host + frames + stacks + program;
}

// The estimate is for a clip long enough to fill the host's cache and the command's
// window; a shorter one holds fewer frames and may go through below it.
std::string memoryAdvice(const Y4mFormat &format, int threads) {
    const std::size_t mb = (runMemoryBytes(format, threads) + (std::size_t{1} << 20) - 1) >> 20;
    return "not enough memory for " + std::to_string(format.width) + "x" + std::to_string(format.height) +
           " frames: a run of five frames or more needs up to about " + std::to_string((mb + 9) / 10 * 10) +
           " MB at this size on " +
           std::to_string(threads) + (threads == 1 ? " thread" : " threads") +
           (threads > 1 ? "; try fewer threads (--threads) or a smaller frame"
                        : "; free some memory (or raise the limit, ulimit -v) or try a smaller frame");
}

std::string unprocessedReason(const Y4mFormat &format, int threads) {
#if defined(__x86_64__) || defined(__i386__)
    if (!__builtin_cpu_supports("sse3")) return "this processor lacks SSE3, which the filter needs";
#endif
    return memoryAdvice(format, threads);
}

void startFilter(q5host::Host &host, const DenoiseSettings &settings) {
    host.setFilterActive(true);
    host.init();
    for (int i = 0; i < kSliderCount; ++i) host.setTrack(i, settings.track[i]);
    for (int i = 0; i < kCheckBoxCount; ++i) host.setCheck(i, settings.check[i]);
    host.update();
}

int contextFrames(const DenoiseSettings &settings) { return settings.on(CheckBox::MosquitoNr) ? 2 : 1; }

namespace {

std::string clipFrames(int count) {
    return count == 0   ? "the clip has no frames"
           : count == 1 ? "the clip has 1 frame (frame 0)"
                        : "the clip has " + std::to_string(count) + " frames (0 to " + std::to_string(count - 1) + ")";
}

std::string spanText(const FrameSpan &span) {
    return std::to_string(span.first) + ":" + (span.end >= 0 ? std::to_string(span.end) : "");
}

}  // namespace

bool checkFrameSpan(const FrameSpan &span, int count, int context, std::string *error) {
    const int firstRead = std::max(0, span.first - context);
    if (firstRead < span.inputFirst) {
        *error = "the input starts at frame " + std::to_string(span.inputFirst) + " of the clip, but frames " +
                 spanText(span) + " need frame " + std::to_string(firstRead) + " and on";
        return false;
    }
    // "--frames :" is the whole clip, even one of no frames.
    const bool wholeClip = span.first == 0 && span.end < 0;
    if (count >= 0 && ((span.first >= count && !wholeClip) || span.end > count)) {
        *error = clipFrames(count) + "; --frames " + spanText(span) + " reaches beyond it";
        return false;
    }
    return true;
}

namespace {

// The span of each func_proc call, as the host reports it: the filter's own time,
// once the frames it had converted meanwhile are taken out.
class ProcClock : public q5host::HostObserver {
public:
    void procStarted() override {
        start_ = stageClock();
        inside_ = true;
    }
    void procEnded() override {
        inside_ = false;
        total_.add(since(start_));
    }
    bool inside() const { return inside_; }
    const StageTime &total() const { return total_; }

private:
    StageTime start_, total_;
    bool inside_ = false;
};

class StreamRun {
public:
    StreamRun(GetFilterTableFn entry, const DenoiseSettings &settings, Y4mReader &in,
              const Y4mFormat &format, const FrameSpan &span);
    bool start(const SettingsChooser &chooser, std::string *error);
    bool run(Y4mWriter &out, const FrameSink &onFrame, const ProgressSink &onProgress,
             std::string *error);
    void report(DenoiseReport *report) const;

private:
    StageTime *timed(StageTime StageTimes::*stage) {
        return settings_.timeStages ? &(times_.*stage) : nullptr;
    }
    bool fill(int n, PIXEL_YC *image, int pitch);
    bool readAhead(int n, bool *done, std::string *error);
    bool process(int n, std::string *error);
    bool deliver(int n, Y4mWriter &out, const FrameSink &onFrame, std::string *error);
    void settleTimes();
    void chooseFrom(int n);
    bool rechoose(int n);

    SettingsChooser chooser_;
    DenoiseSettings settings_;
    const Y4mFormat &format_;
    const FrameSpan span_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    ProcClock procClock_;  // outlives the host that reports to it
    q5host::Host host_;
    FrameWindow window_;
    const q5host::ClipInfo clip_;
    StageTimes times_;
    StageTime fillInsideProc_, fillOutsideProc_, processing_;
    std::vector<std::uint8_t> bytes_;
    bool headerWritten_ = false;
    int frames_ = 0;
};

// The conversions run while the filter waits, on as many threads as it has.
StreamRun::StreamRun(GetFilterTableFn entry, const DenoiseSettings &settings, Y4mReader &in,
                     const Y4mFormat &format, const FrameSpan &span)
    : settings_(settings), format_(format), span_(span), host_(entry, settings.threads),
      window_(in, format, settings.threads, span.inputFirst),
      clip_(streamClip(format, span.clipLength >= 0 ? span.clipLength : kUnknownLength)),
      bytes_(format.frameBytes()) {}

// The first frames the run reads go to the chooser, if any, before the filter starts
// with the settings it leaves.
bool StreamRun::start(const SettingsChooser &chooser, std::string *error) {
    chooser_ = chooser;
    if (chooser_) {
        const int firstRead = std::max(0, span_.first - contextFrames(settings_));
        {
            const StageTimer timer(timed(&StageTimes::read));
            if (!window_.skipTo(firstRead) || !window_.readThrough(firstRead + kChoosingFrames - 1)) {
                *error = window_.error();
                return false;
            }
        }
        chooseFrom(firstRead);
    }
    startFilter(host_, settings_);
    if (settings_.timeStages) host_.setObserver(&procClock_);
    host_.setClip(clip_, [this](int n, PIXEL_YC *image, int pitch) { return fill(n, image, pitch); });
    host_.saveStart(span_.first, (span_.end >= 0 ? span_.end : clip_.frameCount) - 1);
    return true;
}

// The chooser's view of frames n, n + 1, ... (those read: the run reads n + 2 before
// processing n).
void StreamRun::chooseFrom(int n) {
    std::vector<const Y4mFrame *> frames;
    for (int k = n; k < n + kChoosingFrames; ++k)
        if (const Y4mFrame *frame = window_.frame(k)) frames.push_back(frame);
    chooser_.choose(n, frames, &settings_);
}

// At a scene cut before frame n, the settings for the new scene; true when they changed.
bool StreamRun::rechoose(int n) {
    if (!chooser_.sceneCut || n <= span_.first) return false;
    const Y4mFrame *before = window_.frame(n - 1), *at = window_.frame(n);
    if (!before || !at || !chooser_.sceneCut(*before, *at)) return false;
    const DenoiseSettings old = settings_;
    chooseFrom(n);
    if (std::equal(std::begin(old.track), std::end(old.track), std::begin(settings_.track)) &&
        std::equal(std::begin(old.check), std::end(old.check), std::begin(settings_.check)))
        return false;
    for (int i = 0; i < kSliderCount; ++i) host_.setTrack(i, settings_.track[i]);
    for (int i = 0; i < kCheckBoxCount; ++i) host_.setCheck(i, settings_.check[i]);
    host_.update();
    return true;
}

bool StreamRun::fill(int n, PIXEL_YC *image, int pitch) {
    StageTimer timer(settings_.timeStages ? procClock_.inside() ? &fillInsideProc_ : &fillOutsideProc_
                                          : nullptr);
    return window_.fill(n, image, pitch);
}

// Frame n reads up to n + 2 (its next frame's neighbours with the mosquito pass);
// having tried to read them, the end is known whenever it matters.
bool StreamRun::readAhead(int n, bool *done, std::string *error) {
    bool read;
    {
        const StageTimer timer(timed(&StageTimes::read));
        read = window_.readThrough(n + 2);
    }
    if (!read) {
        *error = window_.error();
        return false;
    }
    if (span_.clipLength < 0) {
        *done = window_.ended() && n >= window_.frameCount();
        if (window_.ended() && !*done) host_.setFrameCount(window_.frameCount());
        return true;
    }
    // The clip's length was known from the start: an input that ends before it is an
    // excerpt, which must hold every frame the filter reads around frame n.
    *done = n >= span_.clipLength;
    // Frames near the clip's end are made with its last frame mirrored: an input going
    // on past that end is not the excerpt it was said to be, and would give other frames.
    if (window_.frameCount() > span_.clipLength) {
        *error = "the input goes on past frame " + std::to_string(span_.clipLength - 1) + ", the last of the clip's " +
                 std::to_string(span_.clipLength) + " frames (--excerpt S:N: an input of N - S frames)";
        return false;
    }
    const int needed = std::min(n + contextFrames(settings_), span_.clipLength - 1);
    if (!*done && window_.ended() && window_.frameCount() <= needed) {
        *error = "the input ends at frame " + std::to_string(window_.frameCount() - 1) + " of the clip (of " +
                 std::to_string(span_.clipLength) + " frames), but frame " + std::to_string(n) + " needs frame " +
                 std::to_string(needed);
        return false;
    }
    return true;
}

bool StreamRun::process(int n, std::string *error) {
    {
        const StageTimer timer(settings_.timeStages ? &processing_ : nullptr);
        host_.process(n);
    }
    if (window_.failed()) {
        *error = window_.error();
        return false;
    }
    // The filter gives back a frame it could not process black, and TRUE, as the
    // editor expects; here that is the end of the run, not a frame of the output.
    if (!host_.filterRan()) {
        *error = "the filter could not process frame " + std::to_string(n) + ": " +
                 unprocessedReason(format_, settings_.threads);
        return false;
    }
    return true;
}

bool StreamRun::deliver(int n, Y4mWriter &out, const FrameSink &onFrame, std::string *error) {
    const Y4mFrame *frame = window_.frame(n);
    {
        const StageTimer timer(timed(&StageTimes::fromYc48));
        window_.converter().fromYc48(host_.out(), clip_.maxW, frame->params, bytes_.data(),
                                     frame->data.data());
    }
    {
        const StageTimer timer(timed(&StageTimes::write));
        const bool ok = (headerWritten_ || out.writeHeader(format_, error)) &&
                        out.writeFrame(frame->params, bytes_.data(), bytes_.size(), error);
        headerWritten_ = true;
        if (!ok) return false;
    }
    return !onFrame || onFrame(n, bytes_.data(), error);
}

bool StreamRun::run(Y4mWriter &out, const FrameSink &onFrame, const ProgressSink &onProgress,
                    std::string *error) {
    bool ok = true, done = false;
    // Frames before the first one the filter reads are read and dropped.
    {
        const StageTimer timer(timed(&StageTimes::read));
        ok = window_.skipTo(std::max(0, span_.first - contextFrames(settings_)));
    }
    if (!ok) *error = window_.error();
    int n = span_.first;
    for (frames_ = 0; ok && (span_.end < 0 || n < span_.end); ++frames_, ++n) {
        ok = readAhead(n, &done, error);
        if (!ok || done) break;
        rechoose(n);
        ok = process(n, error) && deliver(n, out, onFrame, error);
        if (!ok) break;
        // Frame n + 1 asks for n - 1 at the earliest (the next-but-one of the mirrored
        // last frame's neighbour); nothing before it is needed again.
        window_.releaseBefore(n - 1);
        const int count = span_.clipLength >= 0 ? span_.clipLength : window_.ended() ? window_.frameCount() : -1;
        if (onProgress) onProgress(frames_ + 1, span_.end >= 0 || count >= 0 ? span_.written(count) : -1);
    }
    // A span past the clip's end is found where the end is.
    if (ok && done && (span_.end >= 0 || (n == span_.first && span_.first > 0)))
        ok = checkFrameSpan(span_, span_.clipLength >= 0 ? span_.clipLength : window_.frameCount(), 0, error);
    if (ok && !headerWritten_) ok = out.writeHeader(format_, error);
    host_.exit();
    host_.setObserver(nullptr);
    settleTimes();
    if (ok && window_.lateRequests() > 0) {
        *error = "internal error: the filter asked for a frame that was already dropped";
        ok = false;
    }
    return ok;
}

// Frames converted while func_proc ran count as conversion, not as the filter; the
// rest of processing is the host's own work.
void StreamRun::settleTimes() {
    if (!settings_.timeStages) return;
    times_.toYc48 = fillInsideProc_;
    times_.toYc48.add(fillOutsideProc_);
    times_.filter = procClock_.total().minus(fillInsideProc_);
    times_.host = processing_.minus(procClock_.total()).minus(fillOutsideProc_);
}

void StreamRun::report(DenoiseReport *report) const {
    report->frames = frames_;
    report->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    report->peakFramesHeld = window_.peakHeld();
    report->lateRequests = window_.lateRequests();
    report->firstClampedFrame = window_.firstClampedFrame();
    report->stages = times_;
}

}  // namespace

bool denoiseStream(GetFilterTableFn entry, const DenoiseSettings &settings, Y4mReader &in,
                   const Y4mFormat &format, Y4mWriter &out, const FrameSink &onFrame,
                   const ProgressSink &onProgress, DenoiseReport *report, std::string *error,
                   const FrameSpan &span, const SettingsChooser &chooser) {
    StreamRun stream(entry, settings, in, format, span);
    const bool ok = stream.start(chooser, error) && stream.run(out, onFrame, onProgress, error);
    if (report) stream.report(report);
    return ok;
}

}  // namespace q5cli
