// The three-slot ring of analysed frames, kept by the frame driver: which frame's
// analysis each slot of the ring planes holds. Written only by host callbacks,
// between dispatches; the stages never read it (the driver hands them what they need).
#pragma once

/// Slot k holds the analysis of frame slotFrame[k]; -99 marks an empty slot.
struct FrameRing {
    int slotFrame[3];
};
constexpr int kEmptySlot = -99;

// ---- State ------------------------------------------------------------------

extern FrameRing frameRing;

/// Marks all three slots empty, so the next frame re-analyses its neighbours: after
/// every (re)allocation of the working buffers, on every settings change, when saving
/// starts and on Cache Reset.
void emptyFrameRing() noexcept;
