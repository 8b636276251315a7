// The editor's side of the plug-in interface, shared by our hosts (the native one
// behind the tests and the command-line program, and the 32-bit Windows test host):
// it drives the filter only through the descriptor's callbacks, as the editor does,
// with the five services the filter uses (a frame cache fed by a frame source, a
// pool of worker threads, the filter-active flag and the window refresh). A test
// host or a timer may watch the calls (HostObserver); the command only times them.
// Loading the module is each host's own business.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "abi/host_api.h"
#include "abi/settings.h"

namespace q5host {

/// Supplies the picture of frame n (w x h pixels, rows `pitch` pixels apart).
/// Returns false when the frame cannot be supplied.
using FrameSource = std::function<bool(int n, PIXEL_YC *image, int pitch)>;

/// One service call as the filter made it.
struct ServiceCall {
    enum Kind { CacheSize, Fetch, Exec, IsActive, WindowUpdate } kind;
    int a = 0, b = 0, c = 0, d = 0;  // CacheSize: w, h, d, flag; Fetch: frame number
    bool result = false;             // Fetch: an image was returned
    MULTI_THREAD_FUNC worker = nullptr;  // Exec: the worker dispatched
    long long nanoseconds = 0;           // Exec: wall time of the dispatch
};

/// Watches a host: every service call the filter makes, and each func_proc call's
/// span. With none set the host records and times nothing.
class HostObserver {
public:
    virtual void serviceCalled(const ServiceCall &) {}
    virtual void procStarted() {}
    virtual void procEnded() {}

protected:
    ~HostObserver() = default;
};

struct ClipInfo {
    int width = 0, height = 0;   // picture size the host reports (w, h)
    int maxW = 1920, maxH = 1088;  // image capacity (max_w, max_h): the editor's maximum size
    int frameCount = 0;          // frame_n
};

/// The editor's maximum image size in one direction for a picture `size` pixels long:
/// `usual` (1920 wide, 1088 high by default), or the size rounded up to a multiple
/// of 16 where that is larger, as a user sets it for bigger video.
inline int capacityFor(int size, int usual) { return usual > ((size + 15) & ~15) ? usual : (size + 15) & ~15; }

class Host {
public:
    /// Takes the module's entry point; the descriptor is fetched at once and must
    /// have a plausible number of sliders and check boxes.
    Host(GetFilterTableFn getFilterTable, int threads);
    ~Host();
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;

    FILTER *filter() const { return fp_; }

    /// Worker threads behind exec_multi_thread_func (1 to 16).
    void setThreads(int threads);
    int threads() const { return threads_; }

    /// func_init / func_exit; the destructor calls func_exit if it is still due.
    BOOL init();
    BOOL exit();

    /// Slider and check-box values (the descriptor's defaults until changed).
    void setTrack(int index, int value);
    void setCheck(int index, int value);
    void setTrack(Slider slider, int value) { setTrack(indexOf(slider), value); }
    void setCheck(CheckBox box, int value) { setCheck(indexOf(box), value); }
    int track(int index) const { return track_[index]; }
    int check(int index) const { return check_[index]; }
    /// func_update with the current values.
    BOOL update(int status = 0);
    BOOL saveStart(int s, int e);
    BOOL windowMessage(UINT message, WPARAM wparam, LPARAM lparam);
    void setFilterActive(bool active) { filterActive_ = active; }
    bool filterActive() const { return filterActive_; }

    /// A new clip: drops the cache. Frames come from the source when first fetched.
    void setClip(const ClipInfo &clip, FrameSource source);
    const ClipInfo &clip() const { return clip_; }
    /// Changes frame_n only, keeping the cache: for a stream whose length becomes known
    /// at its end, while frames are being processed.
    void setFrameCount(int frameCount) { clip_.frameCount = frameCount; }
    /// Drops cached frames (the next fetch asks the source again).
    void dropCache();
    /// The cached image of frame n (max_w x max_h, as the filter left it), or null.
    const PIXEL_YC *cachedImage(int n) const;

    /// func_proc for frame n. The output image (max_w x max_h) stays valid until
    /// the next call; out() gives it. fpip's w and h are those of the clip.
    /// A service never throws into the filter: one that fails (the frame source
    /// throws, or memory for the cache runs out) gives the filter what a missing
    /// frame would, and process rethrows that failure once func_proc has returned.
    BOOL process(int frame);
    /// Whether the last func_proc ran any worker on the host's threads. The filter
    /// runs every stage of a frame that way; a frame it gives back without any is
    /// one it did not process (black: buffers it could not allocate, a size or a
    /// processor it refuses), though it returns TRUE as the editor expects.
    bool filterRan() const { return dispatches_ > 0; }
    const PIXEL_YC *out() const { return edit_.data(); }
    PIXEL_YC *editImage() { return edit_.data(); }
    PIXEL_YC *tempImage() { return temp_.data(); }
    /// The fpip of the last call, as the filter left it.
    const FILTER_PROC_INFO &lastProcInfo() const { return fpip_; }
    /// Copies the picture of the last output (w x h, packed rows).
    std::vector<PIXEL_YC> outputPicture() const;

    /// Runs a worker on the pool exactly as exec_multi_thread_func does (observed too).
    BOOL dispatch(MULTI_THREAD_FUNC func, void *param1, void *param2);

    /// Watches every later call (null: none); the observer must outlive its watch.
    void setObserver(HostObserver *observer) { observer_ = observer; }
    HostObserver *observer() const { return observer_; }

    struct Impl;

private:
    friend struct Impl;
    /// The filter's result, or the failure a service kept during the callback.
    BOOL afterCallback(BOOL result);
    FILTER *fp_ = nullptr;
    int threads_ = 1;
    bool initialised_ = false;
    bool filterActive_ = true;
    std::vector<int> track_, check_;
    ClipInfo clip_;
    FrameSource source_;
    std::vector<PIXEL_YC> edit_, temp_;
    FILTER_PROC_INFO fpip_{};
    int dispatches_ = 0;  // exec_multi_thread_func calls during the last func_proc
    HostObserver *observer_ = nullptr;
    std::unique_ptr<Impl> impl_;
};

/// A frame source over frames held in memory, width x height pixels each with rows
/// packed; frames must outlive the source.
FrameSource packedFrames(const std::vector<std::vector<PIXEL_YC>> &frames, int width, int height);

}  // namespace q5host
