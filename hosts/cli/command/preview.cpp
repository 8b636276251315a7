// The preview: the filter run for one frame through our host, fed from the few
// input frames it asks for, and the before/after picture of that frame.
#include "cli/command/preview.h"

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "cli/command/shared.h"
#include "cli/io/output_file.h"
#include "cli/io/png.h"
#include "cli/picture/comparison.h"
#include "cli/picture/convert.h"
#include "common/host.h"

namespace q5cli {

namespace {

// Longest FRAME line looked at while seeking; the reader allows no longer.
constexpr std::size_t kMaxMarker = 4096;

std::string framesText(int count) {
    return count == 1 ? "1 frame (frame 0)"
                      : std::to_string(count) + " frames (0 to " + std::to_string(count - 1) + ")";
}

// Steps over frames of a regular file by their markers, without reading their
// samples. Returns the offset of frame `target`, or -1 with *count set when the file
// ends before it, or -2 with a message.
long long seekFrame(int fd, long long offset, const Y4mFormat &format, int target, int *count,
                    std::string *error) {
    char marker[kMaxMarker];
    for (int i = 0; i < target; ++i) {
        const ssize_t got = pread(fd, marker, sizeof marker, offset);
        if (got < 0) {
            *error = std::string("cannot read: ") + std::strerror(errno);
            return -2;
        }
        if (got == 0) {
            *count = i;
            return -1;
        }
        const void *newline = std::memchr(marker, '\n', static_cast<std::size_t>(got));
        if (!newline || std::strncmp(marker, "FRAME", 5) != 0 ||
            (marker[5] != ' ' && marker + 5 != newline)) {
            *error = "frame " + std::to_string(i) + " (counting from 0) has no FRAME marker";
            return -2;
        }
        offset += static_cast<const char *>(newline) - marker + 1 + static_cast<long long>(format.frameBytes());
    }
    return offset;
}

// The frames first..last of the input, as far as it has them, in `held`: from a
// regular file the earlier ones are sought over, with a reader of its own there.
// `*count` is the clip's length when its end was reached, else -1.
bool readAround(ByteSource &source, Y4mReader &reader, const Y4mFormat &format, int first, int last,
                int n, const std::string &name, std::map<int, Y4mFrame> *held, int *count,
                std::string *error) {
    std::unique_ptr<Y4mReader> seeked;
    Y4mReader *frames = &reader;
    int next = 0;
    const auto *fdSource = dynamic_cast<const FdSource *>(&source);
    if (fdSource && inputFileSize(source) >= 0 && first > 0) {
        const long long at = seekFrame(fdSource->fd(), static_cast<long long>(reader.offset()), format,
                                       first, count, error);
        if (at == -2) {
            *error = name + ": " + *error;
            return false;
        }
        if (at == -1) {
            *error = name + ": the clip has " + framesText(*count) + "; there is no frame " + std::to_string(n);
            return false;
        }
        if (lseek(fdSource->fd(), at, SEEK_SET) != at) {
            *error = "cannot seek in " + name + ": " + std::strerror(errno);
            return false;
        }
        // Its messages count frames from where it starts.
        seeked = std::make_unique<Y4mReader>(source, name + " after skipping " + std::to_string(first) + " frames");
        frames = seeked.get();
        next = first;
    }
    for (; next <= last; ++next) {
        Y4mFrame frame;
        const Y4mReader::Result r = frames->readFrame(format, &frame, error);
        if (r == Y4mReader::Error) return false;
        if (r == Y4mReader::End) {
            *count = next;
            break;
        }
        if (next >= first) (*held)[next] = std::move(frame);
    }
    return true;
}

// The filter's output for frame n, fed from the frames held.
bool filterOne(GetFilterTableFn entry, const DenoiseSettings &settings, const Y4mFormat &format,
               std::map<int, Y4mFrame> &held, int count, int n, PreviewResult *result,
               std::string *error) {
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

// How much the frame's luma changed, in 8-bit code steps, to go with the picture.
void printChange(const Y4mFormat &format, const std::uint8_t *before, const std::uint8_t *after) {
    const double unit = std::ldexp(1.0, format.bits - 8);
    double sum = 0, squares = 0, most = 0;
    const std::size_t pixels = static_cast<std::size_t>(format.width) * format.height;
    for (std::size_t i = 0; i < pixels; ++i) {
        const auto at = [&](const std::uint8_t *p) { return format.bits > 8 ? p[2 * i] | p[2 * i + 1] << 8 : p[i]; };
        const double d = (at(before) - at(after)) / unit;
        sum += std::abs(d), squares += d * d, most = std::max(most, std::abs(d));
    }
    std::printf("luma changed by %.2f code steps on average (rms %.2f, at most %.1f; in 8-bit steps)\n",
                sum / pixels, std::sqrt(squares / pixels), most);
}

}  // namespace

bool previewFrame(GetFilterTableFn entry, const DenoiseSettings &settings, ByteSource &source,
                  Y4mReader &reader, const Y4mFormat &format, int n, PreviewResult *result,
                  const std::string &name, std::string *error) {
    // Frame n needs n - 1 and n + 1; with the mosquito pass, their neighbours too.
    const int reach = settings.on(CheckBox::MosquitoNr) ? 2 : 1;
    std::map<int, Y4mFrame> held;
    int count = -1;
    if (!readAround(source, reader, format, std::max(0, n - reach), n + reach, n, name, &held, &count, error))
        return false;
    if (count >= 0 && n >= count) {
        *error = name + ": the clip has " + framesText(count) + "; there is no frame " + std::to_string(n);
        return false;
    }
    result->frameCount = count;
    return filterOne(entry, settings, format, held, count, n, result, error);
}

int runPreview(const Options &options) {
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
    const DenoiseSettings settings = resolveSettings(options, *filter.descriptor, format);

    PreviewResult frame;
    if (!previewFrame(filter.entry(), settings, *input.source, *input.reader, format, options.frame, &frame,
                      name, &error)) {
        message(error);
        return 1;
    }
    const Crop crop = busiestCrop(format, frame.before.data.data(), frame.after.data());
    const ComparisonPicture pic = makeComparison(format, frame.before.data.data(), frame.after.data(), crop);
    auto out = OutputFile::open(options.pictureOut, &error);
    const std::vector<std::uint8_t> png = encodePng(pic.width, pic.height, pic.rgb);
    if (!out || !out->write(png.data(), png.size(), &error) || !out->commit(&error)) {
        message(error);
        return 1;
    }
    if (!options.quiet) {
        std::printf("Frame %d of %s, %s:\n", options.frame, name.c_str(), settingsText(settings).c_str());
        printChange(format, frame.before.data.data(), frame.after.data());
        std::printf("Wrote %s:\n%s\n", options.pictureOut.c_str(), pic.legend.c_str());
    }
    return 0;
}

}  // namespace q5cli
