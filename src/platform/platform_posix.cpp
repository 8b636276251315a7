// Stand-ins for the Windows calls on Linux: the message box becomes one line on
// standard error, and the window calls are recorded for tests.
#include <iconv.h>

#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace {

// Handles handed out by the stand-ins: distinct, never dereferenced.
std::intptr_t nextHandle = 0x1000;

void record(const char *name, std::vector<std::intptr_t> args, std::vector<std::string> texts) {
    // Bounded, so a long run that keeps showing a message does not grow without end.
    if (platformCalls().size() >= 4096) return;
    try {
        platformCalls().push_back({name, std::move(args), std::move(texts)});
    } catch (...) {
        // Recording is for tests only; running out of memory must not stop the filter.
    }
}

}  // namespace

std::vector<PlatformCall> &platformCalls() noexcept {
    static std::vector<PlatformCall> calls;
    return calls;
}

std::string shiftJisToUtf8(const char *text) {
    std::string in(text ? text : "");
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) return in;
    std::string out(in.size() * 3 + 4, '\0');
    char *src = in.data();
    std::size_t srcLeft = in.size();
    char *dst = out.data();
    std::size_t dstLeft = out.size();
    while (srcLeft > 0) {
        if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<std::size_t>(-1)) break;
        // An undecodable byte is shown as '?' rather than dropping the rest of the text.
        if (dstLeft == 0) break;
        *dst++ = '?';
        --dstLeft;
        ++src;
        --srcLeft;
    }
    iconv_close(cd);
    out.resize(out.size() - dstLeft);
    return out;
}

bool sseInstructionsRun() noexcept { return true; }  // x86-64 systems always run SSE

int MessageBoxA(HWND owner, const char *text, const char *caption, UINT type) noexcept {
    std::string line;
    try {
        line = shiftJisToUtf8(caption) + ": " + shiftJisToUtf8(text);
    } catch (...) {
        line = "Quorvane5: message";
    }
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
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
