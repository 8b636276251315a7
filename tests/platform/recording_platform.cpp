// The platform layer as the unit tests link it, in place of the module's stand-ins:
// every call is recorded, so tests can see what the filter asked of the system.
// The handles follow the same rules as the module's.
#include <string>

#include "platform/platform.h"
#include "platform/recording_platform.h"

namespace {

std::intptr_t nextHandle = 0x1000;

void record(const char *name, std::vector<std::intptr_t> args, std::vector<std::string> texts) {
    platformCalls().push_back({name, std::move(args), std::move(texts)});
}

}  // namespace

std::vector<PlatformCall> &platformCalls() noexcept {
    static std::vector<PlatformCall> calls;
    return calls;
}

bool sseInstructionsRun() noexcept { return true; }

int MessageBoxA(HWND owner, const char *text, const char *caption, UINT type) noexcept {
    record("MessageBoxA", {reinterpret_cast<std::intptr_t>(owner), static_cast<std::intptr_t>(type)},
           {shiftJisToUtf8(text), shiftJisToUtf8(caption)});
    return 1;  // IDOK
}

HWND GetDesktopWindow() noexcept {
    record("GetDesktopWindow", {}, {});
    return reinterpret_cast<HWND>(0x10010);
}

HWND CreateWindowExA(unsigned long exStyle, const char *className, const char *windowName,
                     unsigned long style, int x, int y, int width, int height, HWND parent,
                     HMENU menu, HINSTANCE instance, void *) noexcept {
    const std::intptr_t handle = nextHandle++;
    record("CreateWindowExA",
           {static_cast<std::intptr_t>(exStyle), static_cast<std::intptr_t>(style), x, y, width,
            height, reinterpret_cast<std::intptr_t>(parent), reinterpret_cast<std::intptr_t>(menu),
            reinterpret_cast<std::intptr_t>(instance), handle},
           {shiftJisToUtf8(className), shiftJisToUtf8(windowName)});
    return reinterpret_cast<HWND>(handle);
}

HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight,
                  unsigned long italic, unsigned long underline, unsigned long strikeOut,
                  unsigned long charSet, unsigned long outPrecision, unsigned long clipPrecision,
                  unsigned long quality, unsigned long pitchAndFamily, const char *faceName) noexcept {
    const std::intptr_t handle = nextHandle++;
    record("CreateFontA",
           {height, width, escapement, orientation, weight, static_cast<std::intptr_t>(italic),
            static_cast<std::intptr_t>(underline), static_cast<std::intptr_t>(strikeOut),
            static_cast<std::intptr_t>(charSet), static_cast<std::intptr_t>(outPrecision),
            static_cast<std::intptr_t>(clipPrecision), static_cast<std::intptr_t>(quality),
            static_cast<std::intptr_t>(pitchAndFamily), handle},
           {shiftJisToUtf8(faceName)});
    return reinterpret_cast<HFONT>(handle);
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
    record("SendMessageA",
           {reinterpret_cast<std::intptr_t>(window), static_cast<std::intptr_t>(message),
            static_cast<std::intptr_t>(wparam), lparam},
           {});
    return 0;
}

HWND GetWindow(HWND window, UINT command) noexcept {
    record("GetWindow", {reinterpret_cast<std::intptr_t>(window), static_cast<std::intptr_t>(command)},
           {});
    // The owner of a window is given a recognisable handle: the window's own plus 1.
    return reinterpret_cast<HWND>(reinterpret_cast<std::intptr_t>(window) + 1);
}

BOOL DeleteObject(HGDIOBJ object) noexcept {
    record("DeleteObject", {reinterpret_cast<std::intptr_t>(object)}, {});
    return TRUE;
}
