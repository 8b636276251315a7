// The frame ring and the parameter records that the frame driver hands to the
// stage workers as param1. Written only by host callbacks, between dispatches.
#pragma once

#include "host/host_api.h"

/// Slot k holds the analysis of frame slotFrame[k]; -99 marks an empty slot.
struct FrameRing {
    int slotFrame[3];
};
constexpr int kEmptySlot = -99;

extern FrameRing frameRing;

/// Marks all three slots empty, so the next frame re-analyses its neighbours.
void emptyFrameRing() noexcept;

/// Block and mosquito pre-passes.
struct PrepassParams {
    PIXEL_YC *source;
    PIXEL_YC *prevFrame;  // mosquito pass: the frame before, or source when there is none
    PIXEL_YC *nextFrame;  // mosquito pass: the frame after, or source when there is none
    int fieldCount;       // 2 with per-field processing, else 1
    int strengthA;        // block pass: 8 x BlockNR
    int strengthB;        // block pass: 16 x BlockNR
    int strengthC;        // mosquito pass: 90 x or 8 x MosqNR, by size class
    bool animeMode;
};

/// Frame import, vertical and horizontal analysis.
struct AnalysisParams {
    PIXEL_YC *source;
    int slot;
    bool fieldMode;
};

/// The host callbacks (all return TRUE on every path).
BOOL func_proc(FILTER *fp, FILTER_PROC_INFO *fpip) noexcept;
BOOL func_init(FILTER *fp) noexcept;
BOOL func_exit(FILTER *fp) noexcept;
BOOL func_update(FILTER *fp, int status) noexcept;
BOOL func_save_start(FILTER *fp, int s, int e, void *editp) noexcept;
BOOL func_WndProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, void *editp,
                  FILTER *fp) noexcept;

/// The descriptor; GetFilterTable returns its address.
FILTER_DLL *filterDescriptor() noexcept;
