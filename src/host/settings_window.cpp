// The settings window's extras: a Cache Reset button that empties the frame ring,
// and keys and wheel turns passed on to the editor's main window.
#include "host/callbacks.h"
#include "host/frame_ring.h"
#include "platform/platform.h"

namespace {

constexpr int kCacheResetId = 40001;
HWND cacheResetButton = nullptr;
HFONT cacheResetFont = nullptr;

char kButtonClass[] = "BUTTON";
char kButtonText[] = "Cache Reset";
// "ＭＳ Ｐゴシック"
char kFontFace[] = "\x82l\x82r \x82o\x83S\x83V\x83" "b\x83N";

}  // namespace

BOOL func_WndProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, void *,
                  FILTER *fp) noexcept {
    switch (message) {
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_MOUSEWHEEL:
        // Shortcuts and scrolling belong to the editor, not to the settings window.
        SendMessageA(GetWindow(hwnd, GW_OWNER), message, wparam, lparam);
        return FALSE;
    case WM_COMMAND:
        if ((wparam & 0xFFFF) != kCacheResetId) return FALSE;
        SendMessageA(cacheResetButton, WM_KILLFOCUS, 0, 0);
        if (fp->exfunc->is_filter_active(fp) == TRUE) emptyFrameRing();
        fp->exfunc->filter_window_update(fp);
        return fp->exfunc->is_filter_active(fp);
    case kWmFilterInit:
        cacheResetButton = CreateWindowExA(0, kButtonClass, kButtonText, WS_CHILD | WS_VISIBLE, 230,
                                           163, 80, 18, hwnd,
                                           reinterpret_cast<HMENU>(static_cast<std::intptr_t>(kCacheResetId)),
                                           fp->dll_hinst, nullptr);
        cacheResetFont = CreateFontA(12, 0, 0, 0, 500, FALSE, FALSE, FALSE, 128, 0, 0, 2, 0x30,
                                     kFontFace);
        SendMessageA(cacheResetButton, WM_SETFONT, reinterpret_cast<WPARAM>(cacheResetFont), 0);
        return FALSE;
    case kWmFilterExit:
        DeleteObject(cacheResetFont);
        cacheResetFont = nullptr;
        return FALSE;
    default:
        return FALSE;
    }
}
