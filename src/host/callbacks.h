// The host callbacks and the descriptor that names them: the module's top layer,
// which nothing below src/host includes.
#pragma once

#include "abi/host_api.h"

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

/// Adds the layout the last allocation of the working buffers made to the
/// descriptor's information text: "Quorvane5 version 0.1.0; buffers: whole blocks"
/// (or split rings, or none). Kept after unload: it tells what the last run used.
void describeBufferLayout() noexcept;
