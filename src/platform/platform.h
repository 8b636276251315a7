// The Windows user-interface calls the module makes. On Windows they are the real
// ones from user32 and gdi32; elsewhere a small layer of our own stands in: the
// message box writes one line to standard error, and the window calls only hand out
// handles, with no window behind them (the unit tests link a recording version).
#pragma once

#include "abi/host_api.h"

/// Runs one SSE instruction under an exception guard; false if the operating
/// system does not let SSE instructions run.
bool sseInstructionsRun() noexcept;

#ifdef _WIN32
/// Calls probe, an assembly routine whose first instruction is the one to try,
/// under a structured-exception guard: if that instruction faults, execution
/// goes on at resume (the instruction after it). True if it ran without a fault.
bool instructionRuns(void (*probe)(), const void *resume) noexcept;
#endif

#ifndef _WIN32
#include <cstdint>
#include <string>

constexpr UINT MB_OK = 0;
constexpr UINT GW_OWNER = 4;
constexpr UINT WM_KILLFOCUS = 0x0008;
constexpr UINT WM_SETFONT = 0x0030;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_MOUSEWHEEL = 0x020A;
constexpr unsigned long WS_CHILD = 0x40000000UL;
constexpr unsigned long WS_VISIBLE = 0x10000000UL;
using HMENU = void *;
using HGDIOBJ = void *;
using LRESULT = std::intptr_t;

int MessageBoxA(HWND owner, const char *text, const char *caption, UINT type) noexcept;
HWND GetDesktopWindow() noexcept;
HWND CreateWindowExA(unsigned long exStyle, const char *className, const char *windowName,
                     unsigned long style, int x, int y, int width, int height, HWND parent,
                     HMENU menu, HINSTANCE instance, void *param) noexcept;
HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight,
                  unsigned long italic, unsigned long underline, unsigned long strikeOut,
                  unsigned long charSet, unsigned long outPrecision, unsigned long clipPrecision,
                  unsigned long quality, unsigned long pitchAndFamily, const char *faceName) noexcept;
LRESULT SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;
HWND GetWindow(HWND window, UINT command) noexcept;
BOOL DeleteObject(HGDIOBJ object) noexcept;

/// Shift_JIS (code page 932) text as UTF-8.
std::string shiftJisToUtf8(const char *text);
#endif
