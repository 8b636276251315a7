// A small PNG writer (8-bit RGB, compressed by our own deflate) and the colour
// conversion that turns y4m frames into pictures for it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/io/y4m.h"

namespace q5cli {

std::uint32_t crc32(const std::uint8_t *data, std::size_t size, std::uint32_t crc = 0);
std::uint32_t adler32(const std::uint8_t *data, std::size_t size, std::uint32_t adler = 1);

/// The bytes of a PNG file holding an RGB picture (3 bytes a pixel, packed rows).
std::vector<std::uint8_t> encodePng(int width, int height, const std::vector<std::uint8_t> &rgb);

/// A y4m frame as RGB (studio-range BT.601, the nearest chroma sample for each pixel).
std::vector<std::uint8_t> frameToRgb(const Y4mFormat &format, const std::uint8_t *frame);

}  // namespace q5cli
