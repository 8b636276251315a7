// The largest frame the filter processes: part of what a host must know of the
// module, so that it can refuse bigger frames up front instead of getting them
// back black.
#pragma once

/// Width and height in pixels (DCI 4K and UHD with room to spare). The module
/// returns larger frames black; within the limit it rounds the size up to whole
/// 16 x 16 blocks.
constexpr int kMaxFrameWidth = 4096;
constexpr int kMaxFrameHeight = 2304;
