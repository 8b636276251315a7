// Stand-ins for the Windows calls on Linux, where the module has no window: the
// message box becomes one line on standard error, and the window calls hand out
// distinct handles that nothing dereferences.
#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace {

std::intptr_t nextHandle = 0x1000;

}  // namespace

bool sseInstructionsRun() noexcept { return true; }  // x86-64 systems always run SSE

int MessageBoxA(HWND, const char *text, const char *caption, UINT) noexcept {
    std::string line;
    try {
        line = shiftJisToUtf8(caption) + ": " + shiftJisToUtf8(text);
    } catch (...) {
        line = "Quorvane5: message";
    }
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
    return 1;  // IDOK
}

HWND GetDesktopWindow() noexcept { return reinterpret_cast<HWND>(0x10010); }

HWND CreateWindowExA(unsigned long, const char *, const char *, unsigned long, int, int, int, int, HWND, HMENU,
                     HINSTANCE, void *) noexcept {
    return reinterpret_cast<HWND>(nextHandle++);
}

HFONT CreateFontA(int, int, int, int, int, unsigned long, unsigned long, unsigned long, unsigned long,
                  unsigned long, unsigned long, unsigned long, unsigned long, const char *) noexcept {
    return reinterpret_cast<HFONT>(nextHandle++);
}

LRESULT SendMessageA(HWND, UINT, WPARAM, LPARAM) noexcept { return 0; }

// The owner of a window is given a recognisable handle: the window's own plus 1.
HWND GetWindow(HWND window, UINT) noexcept {
    return reinterpret_cast<HWND>(reinterpret_cast<std::intptr_t>(window) + 1);
}

BOOL DeleteObject(HGDIOBJ) noexcept { return TRUE; }
