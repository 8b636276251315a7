// The frame ring, kept by the frame driver: which frame's whole analysis each full
// slot of the ring planes holds, and which frame's coarsest band each past slot
// holds. Written only by host callbacks, between dispatches; the stages never read
// it (the driver hands them what they need).
#pragma once

#include "core/core.h"

/// Full slot k holds the analysis of frame fullFrame[k], past slot k the coarsest
/// band of frame pastFrame[k]; -99 marks an empty slot.
struct FrameRing {
    int fullFrame[kFullSlots];
    int pastFrame[kPastSlots];
    int frameCount;  // the clip's length when they were made, for the reflections past its end
};
constexpr int kEmptySlot = -99;

// ---- State ------------------------------------------------------------------

extern FrameRing frameRing;

/// Marks every slot empty, so the next frame re-analyses its neighbours: after
/// every (re)allocation of the working buffers, on every settings change, when saving
/// starts and on Cache Reset.
void emptyFrameRing() noexcept;

/// Copies the coarsest band of the frame in full slot `slot` into that frame's past
/// slot, all three planes; the driver does it before the full slot takes another
/// frame.
void keepCoarseBand(int slot) noexcept;
