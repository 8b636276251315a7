// The frames of an input stream that the filter may still ask for: read lazily
// from the stream, dropped once no later frame can need them, so a clip of any
// length is processed in bounded memory.
#pragma once

#include <deque>
#include <string>

#include "cli/picture/convert.h"
#include "cli/io/y4m.h"

namespace q5cli {

class FrameWindow {
public:
    /// `threads` > 1 converts each frame on that many threads. The reader's next frame
    /// is frame `firstFrame` of the clip.
    FrameWindow(Y4mReader &reader, const Y4mFormat &format, int threads = 1, int firstFrame = 0);

    /// Reads on until frame n is held or the stream has ended; false on a read error
    /// (error() says what). Reading past the end is not an error.
    bool readThrough(int n);
    /// Reads and drops every frame before `first`, one at a time.
    bool skipTo(int first);
    /// True once the end of the stream has been seen; frameCount() is then the total.
    bool ended() const { return ended_; }
    int frameCount() const { return next_; }
    bool failed() const { return !error_.empty(); }
    const std::string &error() const { return error_; }

    /// Frame n, or null when it was dropped or is beyond the end (reads on if needed).
    const Y4mFrame *frame(int n);
    /// The host's frame source: frame n as YC48 into an image of rows `pitch` pixels.
    bool fill(int n, PIXEL_YC *image, int pitch);
    /// Drops every frame before `first`: the caller promises not to ask for them again.
    void releaseBefore(int first);

    /// The window's converter, for the way back as well (its threads serve both).
    const FrameConverter &converter() const { return converter_; }

    int held() const { return static_cast<int>(frames_.size()); }
    int peakHeld() const { return peak_; }
    /// Requests for frames already dropped (the window was too small if ever nonzero).
    int lateRequests() const { return late_; }
    /// The first frame with samples above the depth's largest code (clamped), or -1.
    int firstClampedFrame() const { return firstClamped_; }

private:
    Y4mReader &reader_;
    Y4mFormat format_;
    FrameConverter converter_;
    std::deque<Y4mFrame> frames_;  // frames first_ .. next_ - 1
    std::deque<Y4mFrame> spare_;   // buffers of dropped frames, reused
    int first_ = 0, next_ = 0, peak_ = 0, late_ = 0, firstClamped_ = -1;
    bool ended_ = false;
    std::string error_;
};

}  // namespace q5cli
