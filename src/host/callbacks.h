// The host callbacks and the descriptor that names them: the module's top layer,
// which nothing below src/host includes.
#pragma once

#include "abi/host_api.h"
#include "core/core.h"

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

/// The kernel tables of a tier: every family's best at or below it (scalar first,
/// then overridden tier by tier). func_init builds the module's for the processor's
/// tier; a test builds its own for the tier it checks.
KernelTables kernelTablesFor(KernelTier tier) noexcept;

// ---- State ------------------------------------------------------------------

/// The kernel tables the stages run with: the scalar twins until func_init.
extern KernelTables moduleKernels;
/// The working buffers, made by func_init and again by func_proc when the rounded
/// frame size changes.
extern WorkBuffers workBuffers;
extern int lastW, lastH;  // rounded frame size of the last allocation, 1920 x 1088 at load
extern bool buffersReady;  // true only if the last allocation succeeded completely
