// PNG files of 8-bit RGB pictures (written by libpng) and the colour conversion that
// turns y4m frames into pictures for them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/io/y4m.h"

namespace q5cli {

/// The bytes of a PNG file holding an RGB picture (3 bytes a pixel, packed rows);
/// throws when the picture is empty or does not match its size, or libpng fails.
std::vector<std::uint8_t> encodePng(int width, int height, const std::vector<std::uint8_t> &rgb);

/// A y4m frame as RGB (studio-range BT.601, the nearest chroma sample for each pixel).
std::vector<std::uint8_t> frameToRgb(const Y4mFormat &format, const std::uint8_t *frame);

}  // namespace q5cli
