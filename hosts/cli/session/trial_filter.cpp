// Trial runs for choosing settings: a private copy of the module, driven through a
// host of its own over a few cropped frames, and the risk each setting leaves.
#include "cli/session/trial_filter.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "common/host.h"
#include "common/module.h"

namespace q5cli {

namespace {

// The loader keys a module by its file: a copy in a memory file is a second instance
// with globals of its own, and leaves nothing on disk.
int copyToMemoryFile(const std::string &path, std::string *error) {
    const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        *error = "cannot read " + path + " for trial runs: " + std::strerror(errno);
        return -1;
    }
    const int out = memfd_create("quorvane5-trial", MFD_CLOEXEC);
    if (out < 0) {
        *error = std::string("cannot make a memory file for trial runs: ") + std::strerror(errno);
        ::close(in);
        return -1;
    }
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got == 0) break;
        // A write cut short (a file-size limit) is tried again for the rest, which
        // then says why.
        ssize_t put = 0;
        errno = 0;
        while (got > 0 && put < got) {
            const ssize_t n = ::write(out, buffer + put, static_cast<std::size_t>(got - put));
            if (n <= 0) break;
            put += n;
        }
        if (got < 0 || put != got) {
            *error = "cannot copy " + path + " for trial runs: " + (errno ? std::strerror(errno) : "short write");
            ::close(in);
            ::close(out);
            return -1;
        }
    }
    ::close(in);
    return out;
}

}  // namespace

std::unique_ptr<TrialFilter> TrialFilter::open(const std::string &path, int threads, std::string *error) {
    std::unique_ptr<TrialFilter> trial(new TrialFilter);
    std::string copyError;
    if (const int fd = copyToMemoryFile(path, &copyError); fd >= 0) {
        trial->module_ = q5host::Module::open("/proc/self/fd/" + std::to_string(fd), error);
        ::close(fd);  // the mapping stays
    }
    // Where no memory file can hold the copy (a file-size limit counts it too), the
    // module in a link namespace of its own; that loads its libraries again, so it
    // comes second. A sanitizer's runtime ends the process when it is loaded a second
    // time, so sanitized builds say why instead.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    constexpr bool kNamespaceOfItsOwn = false;
#else
    constexpr bool kNamespaceOfItsOwn = true;
#endif
    if (!trial->module_ && kNamespaceOfItsOwn) trial->module_ = q5host::Module::open(path, error, true);
    if (!trial->module_) {
        if (!copyError.empty()) *error = error->empty() ? copyError : copyError + "; " + *error;
        return nullptr;
    }
    trial->host_ = std::make_unique<q5host::Host>(trial->module_->getFilterTable(), threads);
    trial->host_->setFilterActive(true);
    trial->host_->init();
    return trial;
}

TrialFilter::~TrialFilter() {
    if (host_) host_->exit();
    host_.reset();  // before the module it calls into
}

bool TrialFilter::run(const DenoiseSettings &settings, const TrialClip &clip, std::vector<std::int16_t> *luma) {
    ++runs_;
    q5host::Host &host = *host_;
    for (int i = 0; i < kSliderCount; ++i) host.setTrack(i, settings.track[i]);
    for (int i = 0; i < kCheckBoxCount; ++i) host.setCheck(i, settings.check[i]);
    host.update();
    const int count = static_cast<int>(clip.frames.size());
    Y4mFormat format;
    format.width = clip.width;
    format.height = clip.height;
    host.setClip(streamClip(format, count),
                 q5host::packedFrames(clip.frames, clip.width, clip.height));
    host.saveStart(0, count - 1);
    const std::size_t area = static_cast<std::size_t>(clip.width) * clip.height;
    luma->resize(area * count);
    for (int n = 0; n < count; ++n) {
        host.process(n);
        if (!host.filterRan()) return false;
        const PIXEL_YC *out = host.out();
        const int pitch = host.clip().maxW;
        std::int16_t *to = luma->data() + area * n;
        for (int y = 0; y < clip.height; ++y)
            for (int x = 0; x < clip.width; ++x) *to++ = out[static_cast<std::size_t>(y) * pitch + x].y;
    }
    return true;
}

namespace {

// A fixed sequence of +1 and -1: the same probe for every setting compared.
class Signs {
public:
    explicit Signs(std::uint32_t seed) : state_(seed | 1) {}
    float next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return (state_ >> 16) & 1 ? 1.0f : -1.0f;
    }

private:
    std::uint32_t state_;
};

// Signs passed through [c 1 c] along both axes, scaled to unit variance: a probe of
// the noise's own shape. c = 0 leaves them as they are.
std::vector<float> shapedSigns(int width, int height, int frames, double c, std::uint32_t seed) {
    Signs signs(seed);
    const std::size_t area = static_cast<std::size_t>(width) * height;
    std::vector<float> probe(area * frames);
    for (float &v : probe) v = signs.next();
    if (c == 0) return probe;
    const float norm = static_cast<float>(1 / (1 + 2 * c * c));  // both axes' [c 1 c] to unit gain in power
    const float cf = static_cast<float>(c);
    std::vector<float> row(static_cast<std::size_t>(std::max(width, height)));
    for (int f = 0; f < frames; ++f) {
        float *plane = probe.data() + area * f;
        const auto smooth = [&](float *first, int length, std::ptrdiff_t step) {
            for (int i = 0; i < length; ++i) row[i] = first[i * step];
            for (int i = 0; i < length; ++i) {
                const float before = row[i > 0 ? i - 1 : 1 % length], after = row[i + 1 < length ? i + 1 : std::max(0, i - 1)];
                first[i * step] = row[i] + cf * (before + after);
            }
        };
        for (int y = 0; y < height; ++y) smooth(plane + static_cast<std::size_t>(y) * width, width, 1);
        for (int x = 0; x < width; ++x) smooth(plane + x, height, width);
        for (std::size_t i = 0; i < area; ++i) plane[i] *= norm;
    }
    return probe;
}

}  // namespace

RiskEstimate::RiskEstimate(TrialFilter &filter, TrialClip clip, double sigma, double spread, std::uint32_t seed)
    : filter_(filter), clip_(std::move(clip)), sigma_(sigma) {
    const int frames = static_cast<int>(clip_.frames.size());
    const std::vector<float> shape = shapedSigns(clip_.width, clip_.height, frames, spread, seed);
    // White noise takes a probe of one YC48 step, the finest the filter sees; shaped
    // noise an eighth of the noise, so that rounding the probe to whole steps keeps
    // its shape.
    const double amplitude = spread == 0 ? 1.0 : std::max(2.0, sigma / 8);
    probed_ = clip_;
    probe_.resize(shape.size());
    double power = 0;
    const std::size_t area = static_cast<std::size_t>(clip_.width) * clip_.height;
    for (int f = 0; f < frames; ++f)
        for (std::size_t i = 0; i < area; ++i) {
            PIXEL_YC &p = probed_.frames[f][i];
            const int step = static_cast<int>(std::lround(amplitude * shape[area * f + i]));
            const int y = std::clamp(p.y + step, -32768, 32767);
            probe_[area * f + i] = static_cast<float>(y - p.y);
            power += static_cast<double>(y - p.y) * (y - p.y);
            p.y = static_cast<std::int16_t>(y);
        }
    // The probe's covariance is (its power / the noise's) times the noise's: the
    // response to it, scaled back by that, is the response to the noise's covariance.
    const double n = static_cast<double>(probe_.size());
    probeScale_ = power > 0 ? sigma * sigma / (power / n) : 0;
}

double RiskEstimate::risk(const DenoiseSettings &settings) {
    std::vector<std::int16_t> plain, probed;
    if (!filter_.run(settings, clip_, &plain) || !filter_.run(settings, probed_, &probed))
        return -std::numeric_limits<double>::infinity();
    const std::size_t area = static_cast<std::size_t>(clip_.width) * clip_.height;
    double residue = 0, response = 0;
    for (std::size_t f = 0; f < clip_.frames.size(); ++f)
        for (std::size_t i = 0; i < area; ++i) {
            const std::size_t k = area * f + i;
            const double r = plain[k] - clip_.frames[f][i].y;
            residue += r * r;
            response += static_cast<double>(probe_[k]) * (probed[k] - plain[k]);
        }
    const double n = static_cast<double>(probe_.size());
    return residue / n - sigma_ * sigma_ + 2 * probeScale_ * response / n;
}

namespace {

// Whether row (or column) `line` of every frame holds a single luma value.
bool flatLine(const std::vector<const PIXEL_YC *> &frames, int pitch, int line, int length, bool column) {
    for (const PIXEL_YC *frame : frames) {
        const PIXEL_YC *first = column ? frame + line : frame + static_cast<std::size_t>(line) * pitch;
        const std::ptrdiff_t step = column ? pitch : 1;
        for (int i = 1; i < length; ++i)
            if (first[i * step].y != first->y) return false;
    }
    return true;
}

// The span [first, end) of lines holding picture, and the crop's start and length within
// it: centred, whole blocks from a block corner.
void placeAlong(int size, int most, int first, int end, int *at, int *length) {
    if (size <= most) {
        *at = 0;
        *length = size;
        return;
    }
    const int held = std::max(16, std::min(most, end - first) / 16 * 16);
    const int centre = (first + end) / 2;
    *at = std::clamp((centre - held / 2) / 16 * 16, 0, (size - held) / 16 * 16);
    *length = std::min(held, size - *at);
}

}  // namespace

CropPlace placeCrop(const std::vector<const PIXEL_YC *> &frames, int width, int height, int pitch, int maxWidth,
                    int maxHeight) {
    int top = 0, bottom = height, left = 0, right = width;
    while (top < bottom - 1 && flatLine(frames, pitch, top, width, false)) ++top;
    while (bottom - 1 > top && flatLine(frames, pitch, bottom - 1, width, false)) --bottom;
    while (left < right - 1 && flatLine(frames, pitch, left, height, true)) ++left;
    while (right - 1 > left && flatLine(frames, pitch, right - 1, height, true)) --right;
    CropPlace place;
    placeAlong(width, maxWidth, left, right, &place.x, &place.width);
    placeAlong(height, maxHeight, top, bottom, &place.y, &place.height);
    return place;
}

TrialClip cropClip(const std::vector<const PIXEL_YC *> &frames, int pitch, const CropPlace &place) {
    TrialClip clip;
    clip.width = place.width;
    clip.height = place.height;
    for (const PIXEL_YC *frame : frames) {
        std::vector<PIXEL_YC> &to = clip.frames.emplace_back(static_cast<std::size_t>(place.width) * place.height);
        for (int y = 0; y < place.height; ++y)
            std::copy_n(frame + static_cast<std::size_t>(place.y + y) * pitch + place.x, place.width,
                        to.data() + static_cast<std::size_t>(y) * place.width);
    }
    return clip;
}

}  // namespace q5cli
