// Checking clips joined from chunks against the run over the whole clip: equal, or
// within what the rounding correction's carried remainders can change.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/io/y4m.h"

namespace q5clitest {

/// Whether the rounding correction's remainders carried from frame to frame can
/// reach luma pixel (x, y) of a picture `width` wide. They are the entries past the
/// w / 4 reseeded each field (w the width rounded up to 16); block b's pixel j (row k
/// of the 4-row band, column 4b + p, j = 4k + p) uses entry b + j. So row k of a band
/// is reached from column w - 9 - 16k, the last 57 columns at most.
bool carriedRemainderReach(int x, int y, int width, bool fields);

struct JoinDifference {
    int samples = 0;     // samples that differ
    int largest = 0;     // the largest difference, in codes
    int outside = 0;     // differing samples the carried remainders cannot reach
    int firstFrame = -1; // the first frame with a difference
};

/// Compares two 8-bit 4:2:0 clips of equal length frame by frame. A chroma sample
/// counts as reachable when the last luma column it covers is reached in any row.
JoinDifference compareJoin(const q5cli::Y4mFormat &format, const std::vector<q5cli::Y4mFrame> &whole,
                           const std::vector<q5cli::Y4mFrame> &joined, bool fields);

/// Frames of a y4m stream, or an empty list with the reason in *error.
std::vector<q5cli::Y4mFrame> framesOf(const std::vector<std::uint8_t> &bytes, q5cli::Y4mFormat *format,
                                      std::string *error);

/// An 8-bit 4:2:0 clip of bright, nearly flat frames (a slow ramp and noise of a code):
/// the blocks where the rounding correction carries remainders.
std::vector<std::uint8_t> flatBrightClip(const std::string &header, int frames, std::uint32_t seed);

}  // namespace q5clitest
