// The sliding window of input frames behind the host's frame source.
#include "cli/picture/frame_window.h"

#include <algorithm>

namespace q5cli {

FrameWindow::FrameWindow(Y4mReader &reader, const Y4mFormat &format, int threads, int firstFrame)
    : reader_(reader), format_(format), converter_(format, threads), first_(firstFrame), next_(firstFrame) {}

bool FrameWindow::readThrough(int n) {
    while (next_ <= n && !ended_ && error_.empty()) {
        Y4mFrame frame;
        if (!spare_.empty()) {
            frame = std::move(spare_.front());
            spare_.pop_front();
        }
        std::string error;
        switch (reader_.readFrame(format_, &frame, &error)) {
        case Y4mReader::Frame:
            frames_.push_back(std::move(frame));
            ++next_;
            if (held() > peak_) peak_ = held();
            break;
        case Y4mReader::End: ended_ = true; break;
        case Y4mReader::Error: error_ = error; break;
        }
    }
    return error_.empty();
}

bool FrameWindow::skipTo(int first) {
    while (next_ < first && !ended_) {
        if (!readThrough(next_)) return false;
        releaseBefore(next_);
    }
    return true;
}

const Y4mFrame *FrameWindow::frame(int n) {
    if (n < first_) {
        if (n >= 0) ++late_;
        return nullptr;
    }
    if (!readThrough(n) || n >= next_) return nullptr;
    return &frames_[n - first_];
}

bool FrameWindow::fill(int n, PIXEL_YC *image, int pitch) {
    const Y4mFrame *f = frame(n);
    if (!f) return false;
    if (!converter_.toYc48(f->data.data(), f->params, image, pitch) &&
        (firstClamped_ < 0 || n < firstClamped_))
        firstClamped_ = n;
    return true;
}

void FrameWindow::releaseBefore(int first) {
    while (first_ < first && !frames_.empty()) {
        if (spare_.size() < 2) spare_.push_back(std::move(frames_.front()));
        frames_.pop_front();
        ++first_;
    }
    if (frames_.empty() && first_ < first) first_ = std::min(first, next_);
}

}  // namespace q5cli
