// Seeking or reading through to the frames around the one previewed.
#include "cli/picture/preview_window.h"

#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>

#include "cli/io/output_file.h"

namespace q5cli {

namespace {

// Longest FRAME line looked at while seeking; the reader allows no longer.
constexpr std::size_t kMaxMarker = 4096;

std::string noFrame(const std::string &name, int count, long long n) {
    const std::string clip = count == 0   ? "the clip has no frames"
                             : count == 1 ? "the clip has 1 frame (frame 0)"
                                          : "the clip has " + std::to_string(count) + " frames (0 to " +
                                                std::to_string(count - 1) + ")";
    return name + ": " + clip + "; there is no frame " + std::to_string(n);
}

}  // namespace

long long seekFrame(int fd, long long base, long long offset, const Y4mFormat &format, int target, int *count,
                    std::string *error) {
    char marker[kMaxMarker + 1];
    for (int i = 0; i < target; ++i) {
        const ssize_t got = pread(fd, marker, sizeof marker, base + offset);
        if (got < 0) {
            *error = std::string("cannot read: ") + std::strerror(errno);
            return -2;
        }
        if (got == 0) {
            *count = i;
            return -1;
        }
        const void *newline = std::memchr(marker, '\n', static_cast<std::size_t>(got));
        const bool frame = std::strncmp(marker, "FRAME", 5) == 0 && (marker[5] == ' ' || marker + 5 == newline);
        if (frame && !newline && got > static_cast<ssize_t>(kMaxMarker)) {
            *error = "frame " + std::to_string(i) + ": the FRAME line is too long (over " +
                     std::to_string(kMaxMarker) + " bytes, the most this program reads)";
            return -2;
        }
        if (!frame || !newline) {
            *error = "unexpected data after " + (i > 0 ? "frame " + std::to_string(i - 1) : std::string("the header")) +
                     " at byte " + std::to_string(offset) + " (no FRAME marker where one belongs)";
            return -2;
        }
        offset += static_cast<const char *>(newline) - marker + 1 + static_cast<long long>(format.frameBytes());
    }
    return offset;
}

bool readPreviewFrames(ByteSource &source, Y4mReader &reader, const Y4mFormat &format, int n, int reach,
                       const std::string &name, PreviewFrames *frames, std::string *error) {
    // In 64 bits: n + reach passes the largest int for the largest n, whose neighbours
    // beyond it no clip can have.
    const long long first = std::max(0LL, static_cast<long long>(n) - reach);
    const long long last = std::min<long long>(static_cast<long long>(n) + reach, INT_MAX);
    int count = -1;

    // A regular file: straight to the first frame needed, with a reader of its own there.
    std::unique_ptr<Y4mReader> seeked;
    Y4mReader *in = &reader;
    long long next = 0;
    const auto *fdSource = dynamic_cast<const FdSource *>(&source);
    if (fdSource && inputFileSize(source) >= 0 && first > 0) {
        // The stream may begin partway into the file (a shell's file read partway by
        // an earlier command): every offset counts from where it begins.
        const long long base = fdSource->startOffset();
        const long long at = seekFrame(fdSource->fd(), base, static_cast<long long>(reader.offset()), format,
                                       static_cast<int>(first), &count, error);
        if (at == -2) {
            *error = name + ": " + *error;
            return false;
        }
        if (at == -1) {
            *error = noFrame(name, count, n);
            return false;
        }
        if (lseek(fdSource->fd(), base + at, SEEK_SET) != base + at) {
            *error = "cannot seek in " + name + ": " + std::strerror(errno);
            return false;
        }
        seeked = std::make_unique<Y4mReader>(source, name);
        seeked->countFrom(static_cast<int>(first), static_cast<std::uint64_t>(at));
        in = seeked.get();
        next = first;
    }
    frames->held.clear();
    for (; next <= last; ++next) {
        Y4mFrame frame;
        const Y4mReader::Result r = in->readFrame(format, &frame, error);
        if (r == Y4mReader::Error) return false;
        if (r == Y4mReader::End) {
            count = static_cast<int>(next);
            break;
        }
        if (next >= first) frames->held[static_cast<int>(next)] = std::move(frame);
    }
    if (count >= 0 && n >= count) {
        *error = noFrame(name, count, n);
        return false;
    }
    frames->count = count;
    return true;
}

}  // namespace q5cli
