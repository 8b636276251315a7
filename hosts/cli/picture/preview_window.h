// The input frames the preview reads around the frame it shows: from a regular file
// it seeks over the earlier ones by their markers, from a pipe it reads through
// them; either way it stops after the last one the filter can ask for.
#pragma once

#include <map>
#include <string>

#include "cli/io/y4m.h"

namespace q5cli {

struct PreviewFrames {
    std::map<int, Y4mFrame> held;  // n - reach .. n + reach, those the clip has
    int count = -1;                // the clip's length when its end was reached, else -1
};

/// Steps over `target` frames of a regular file by their markers, from the frame at
/// byte `offset` of a stream that begins `base` bytes into the file (a file handed
/// over already read partway), without reading their samples. Returns the offset of
/// the frame reached, counted from the stream's start, or -1 with *count set to the
/// frames stepped over when the file ends before it, or -2 with a message (frames
/// numbered from 0 at the one at `offset`).
long long seekFrame(int fd, long long base, long long offset, const Y4mFormat &format, int target, int *count,
                    std::string *error);

/// Reads frames n - reach .. n + reach of a stream whose header `reader` has read
/// from `source`. False with a message beginning with `name` on a read error or
/// when the clip has no frame n; frame and byte numbers in messages count from the
/// start of the stream, however it was reached.
bool readPreviewFrames(ByteSource &source, Y4mReader &reader, const Y4mFormat &format, int n, int reach,
                       const std::string &name, PreviewFrames *frames, std::string *error);

}  // namespace q5cli
