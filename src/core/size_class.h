// Which working geometry (size class) a frame gets, and the largest frame there is
// one for. A pure function of the rounded frame size, so it can be checked alone.
#pragma once

#include "abi/frame_limits.h"
#include "core/core.h"

/// The size class for a frame of w16 x h16 (both rounded up to multiples of 16, at
/// most kMaxFrameWidth x kMaxFrameHeight).
SizeClass sizeClassFor(int w16, int h16) noexcept;

/// YC48 steps per step of the mosquito slider: 8 in the small class, 90 in every
/// larger one (the classes beyond 1920 x 1088 included, whatever their stride).
int mosquitoStepFactor(SizeClass sc) noexcept;
