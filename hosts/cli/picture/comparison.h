// The before/after picture of one frame: the whole frame before and after, a crop
// of each magnified with its contrast stretched so that grain, banding and block
// edges show, and what the filter took away, amplified.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/io/y4m.h"

namespace q5cli {

struct Crop {
    int x = 0, y = 0, width = 0, height = 0;
};

/// The crop size for a frame: a quarter of the tile the whole frame is shown in, so
/// that magnified four times it fills a tile too.
Crop cropSize(const Y4mFormat &format);

/// The crop of that size where the filter changed the luma most (on a grid of half
/// crops), for a clip whose interesting part is not known beforehand.
Crop busiestCrop(const Y4mFormat &format, const std::uint8_t *before, const std::uint8_t *after);

struct Area {
    int x = 0, y = 0, width = 0, height = 0;
};

struct ComparisonPicture {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;  // 3 bytes a pixel, packed rows
    int shrink = 1;       // the whole frames are shown at 1 / shrink of their size
    int differenceGain = 1;  // grey levels per 8-bit code step of luma removed
    /// Where each picture is, [row][column]: rows whole frame, magnified crop and
    /// luma removed; columns before and after, except in the removed luma's row,
    /// which has a heading of its own and holds the whole frame and the crop. The
    /// labels are in bands between them.
    Area parts[3][2];
    /// Where each part is, for the printed legend.
    std::string legend;
};

/// Two columns, before and after, in two rows: the whole frame in colour (the crop
/// framed in yellow on the left) and the crop magnified four times (luma, stretched by
/// the before crop's histogram, the same mapping on both sides). Below them, headed
/// apart, the luma removed (before - after) amplified around mid grey: the whole
/// frame on the left, the crop on the right.
ComparisonPicture makeComparison(const Y4mFormat &format, const std::uint8_t *before,
                                 const std::uint8_t *after, const Crop &crop);

}  // namespace q5cli
