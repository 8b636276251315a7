// The settings window for real: an owner window and an owned settings window
// whose procedure hands every message to func_WndProc, as the editor's does. The
// filter's Cache Reset button is checked as Windows built it, clicked, and the
// keys and wheel turns it passes on are caught at the owner.
#include <cstring>
#include <string>
#include <vector>

#include "win32/checks.h"
#include "win32/commands.h"
#include "common/service_log.h"
#include "win32/win_host.h"

namespace q5win {

namespace {

constexpr int kCacheResetId = 40001;
// ＭＳ Ｐゴシック in Shift_JIS, and as UTF-16.
const char kFaceSjis[] = "\x82\x6C\x82\x72\x20\x82\x6F\x83\x53\x83\x56\x83\x62\x83\x4E";
const wchar_t kFaceWide[] = L"\xFF2D\xFF33\x0020\xFF30\x30B4\x30B7\x30C3\x30AF";

struct Message {
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
};
std::vector<Message> ownerReceived;

struct Command {
    WPARAM wparam;
    BOOL result;
};
std::vector<Command> commandsSeen;

q5host::Host *windowHost = nullptr;
HWND settingsWindow = nullptr;

LRESULT CALLBACK ownerProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_KEYDOWN || message == WM_KEYUP || message == WM_MOUSEWHEEL) {
        ownerReceived.push_back({message, wparam, lparam});
        return 0;
    }
    return DefWindowProcA(hwnd, message, wparam, lparam);
}

LRESULT CALLBACK settingsProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (windowHost && hwnd == settingsWindow) {
        const BOOL result = windowHost->windowMessage(message, wparam, lparam);
        if (message == WM_COMMAND) commandsSeen.push_back({wparam, result});
    }
    return DefWindowProcA(hwnd, message, wparam, lparam);
}

void pumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// A small moving gradient: enough for the filter to fetch and analyse frames.
std::vector<std::vector<PIXEL_YC>> makeFrames() {
    std::vector<std::vector<PIXEL_YC>> frames;
    for (int f = 0; f < 6; ++f) {
        std::vector<PIXEL_YC> frame(64 * 48);
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x)
                frame[y * 64 + x] = {static_cast<std::int16_t>(((x + f) * 61 + y * 37) % 4096),
                                     static_cast<std::int16_t>((x * 13) % 512 - 256),
                                     static_cast<std::int16_t>((y * 11) % 512 - 256)};
        frames.push_back(std::move(frame));
    }
    return frames;
}

std::string kinds(const std::vector<q5host::ServiceCall> &log) {
    static const char *const names[] = {"CacheSize", "Fetch", "Exec", "IsActive", "WindowUpdate"};
    std::string s;
    for (const q5host::ServiceCall &c : log) {
        if (c.kind != q5host::ServiceCall::IsActive && c.kind != q5host::ServiceCall::WindowUpdate)
            continue;
        if (!s.empty()) s += ' ';
        s += names[c.kind];
    }
    return s;
}

std::string frames(const std::vector<int> &list) {
    std::string s;
    for (int n : list) {
        if (!s.empty()) s += ' ';
        s += std::to_string(n);
    }
    return s;
}

void checkButton(Checks &checks, HWND button, HWND settings, HMODULE module) {
    char className[64] = {};
    GetClassNameA(button, className, sizeof className);
    checks.expect(lstrcmpiA(className, "BUTTON") == 0, std::string("button class ") + className);
    char text[64] = {};
    GetWindowTextA(button, text, sizeof text);
    checks.expectEq(std::string(text), std::string("Cache Reset"), "button text");
    checks.expectEq(GetDlgCtrlID(button), kCacheResetId, "button id");
    checks.expect(GetParent(button) == settings, "button is a child of the settings window");
    checks.expectEq(static_cast<unsigned long>(GetWindowLongA(button, GWL_STYLE)), 0x50000000UL,
                    "button style WS_CHILD | WS_VISIBLE");
    checks.expectEq(static_cast<unsigned long>(GetWindowLongA(button, GWL_EXSTYLE)), 0UL,
                    "button extended style");
    checks.expect(reinterpret_cast<HMODULE>(GetWindowLongPtrA(button, GWLP_HINSTANCE)) == module,
                  "button instance is the module's");
    RECT r;
    GetWindowRect(button, &r);
    MapWindowPoints(nullptr, settings, reinterpret_cast<POINT *>(&r), 2);
    checks.expectEq(r.left, 230L, "button x in the settings window's client area");
    checks.expectEq(r.top, 163L, "button y");
    checks.expectEq(r.right - r.left, 80L, "button width");
    checks.expectEq(r.bottom - r.top, 18L, "button height");
}

HFONT checkFont(Checks &checks, HWND button) {
    auto font = reinterpret_cast<HFONT>(SendMessageA(button, WM_GETFONT, 0, 0));
    if (!checks.expect(font != nullptr, "the button has a font")) return nullptr;
    LOGFONTA lf{};
    checks.expect(GetObjectA(font, sizeof lf, &lf) == sizeof lf, "GetObjectA on the font");
    checks.expectEq(lf.lfHeight, 12L, "font height");
    checks.expectEq(lf.lfWidth, 0L, "font width");
    checks.expectEq(lf.lfEscapement, 0L, "font escapement");
    checks.expectEq(lf.lfOrientation, 0L, "font orientation");
    checks.expectEq(lf.lfWeight, 500L, "font weight");
    checks.expectEq(int(lf.lfItalic), 0, "font not italic");
    checks.expectEq(int(lf.lfUnderline), 0, "font not underlined");
    checks.expectEq(int(lf.lfStrikeOut), 0, "font not struck out");
    checks.expectEq(int(lf.lfCharSet), 128, "font character set Shift_JIS");
    checks.expectEq(int(lf.lfOutPrecision), 0, "font output precision");
    checks.expectEq(int(lf.lfClipPrecision), 0, "font clipping precision");
    checks.expectEq(int(lf.lfQuality), 2, "font quality proof");
    checks.expectEq(int(lf.lfPitchAndFamily), 0x30, "font modern family, default pitch");
    // The face name goes through the ANSI code page both ways, so its bytes come back as given.
    checks.expect(std::strcmp(lf.lfFaceName, kFaceSjis) == 0, "font face name bytes");
    if (GetACP() == 932) {
        LOGFONTW lw{};
        GetObjectW(font, sizeof lw, &lw);
        checks.expect(std::wcscmp(lw.lfFaceName, kFaceWide) == 0, "font face name as text");
    }
    return font;
}

// An owner window for the editor and the settings window it owns; false if either
// cannot be made.
bool createWindows(Checks &checks, HWND *owner) {
    HINSTANCE self = GetModuleHandleA(nullptr);
    WNDCLASSA oc{};
    oc.lpfnWndProc = ownerProc;
    oc.hInstance = self;
    oc.lpszClassName = "Q5TestOwner";
    WNDCLASSA sc = oc;
    sc.lpfnWndProc = settingsProc;
    sc.lpszClassName = "Q5TestSettings";
    checks.expect(RegisterClassA(&oc) && RegisterClassA(&sc), "window classes registered");
    *owner = CreateWindowExA(0, "Q5TestOwner", "editor", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 640, 480,
                             nullptr, nullptr, self, nullptr);
    settingsWindow = CreateWindowExA(0, "Q5TestSettings", "Quorvane5",
                                     WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, 40, 40,
                                     340, 240, *owner, nullptr, self, nullptr);
    if (!checks.expect(*owner && settingsWindow, "owner and settings windows created")) return false;
    checks.expect(GetWindow(settingsWindow, GW_OWNER) == *owner, "the settings window is owned");
    pumpMessages();
    return true;
}

// A click on Cache Reset: the filter asks whether it is active, refreshes the window
// and asks again; active, it analyses all three frames afresh, inactive it keeps them.
void checkCacheReset(Checks &checks, q5host::Host &host, q5host::ServiceLog &log, HWND button) {
    log.clear();
    commandsSeen.clear();
    SendMessageA(button, BM_CLICK, 0, 0);
    pumpMessages();
    if (checks.expectEq(commandsSeen.size(), std::size_t{1}, "the click reaches func_WndProc")) {
        checks.expectEq(static_cast<int>(LOWORD(commandsSeen[0].wparam)), kCacheResetId,
                        "WM_COMMAND carries the button id");
        checks.expectEq(commandsSeen[0].result, TRUE, "Cache Reset returns is_filter_active");
    }
    checks.expectEq(kinds(log.calls()), std::string("IsActive WindowUpdate IsActive"),
                    "Cache Reset asks, updates the window and asks again");
    log.clear();
    host.process(4);
    checks.expectEq(frames(log.fetchedFrames()), std::string("3 4 5"),
                    "after Cache Reset the next frame fetches its three frames again");

    // Switched off, the button leaves the ring alone.
    host.setFilterActive(false);
    log.clear();
    commandsSeen.clear();
    SendMessageA(button, BM_CLICK, 0, 0);
    pumpMessages();
    if (checks.expectEq(commandsSeen.size(), std::size_t{1}, "second click reaches func_WndProc"))
        checks.expectEq(commandsSeen[0].result, FALSE, "inactive filter: result FALSE");
    host.setFilterActive(true);
    log.clear();
    host.process(5);
    checks.expectEq(frames(log.fetchedFrames()), std::string("4"),
                    "after Cache Reset on an inactive filter the ring is kept");
}

// Any other control's command is not the filter's business; keys and wheel turns in
// the settings window belong to the editor.
void checkOtherMessages(Checks &checks, q5host::ServiceLog &log) {
    log.clear();
    commandsSeen.clear();
    SendMessageA(settingsWindow, WM_COMMAND, MAKEWPARAM(40002, BN_CLICKED), 0);
    if (checks.expectEq(commandsSeen.size(), std::size_t{1}, "other command delivered"))
        checks.expectEq(commandsSeen[0].result, FALSE, "other command: result FALSE");
    checks.expect(log.calls().empty(), "other command: no service called");

    ownerReceived.clear();
    const Message sent[] = {
        {WM_KEYDOWN, 0x41, 0x001E0001},
        {WM_KEYUP, 0x41, static_cast<LPARAM>(0xC01E0001u)},
        {WM_MOUSEWHEEL, MAKEWPARAM(MK_SHIFT, static_cast<WORD>(-120)), MAKELPARAM(300, 200)},
    };
    for (const Message &m : sent) SendMessageA(settingsWindow, m.message, m.wparam, m.lparam);
    pumpMessages();
    if (checks.expectEq(ownerReceived.size(), std::size_t{3}, "the owner receives each message once")) {
        for (int i = 0; i < 3; ++i) {
            std::string which = "forwarded message ";
            which += std::to_string(i);
            checks.expectEq(ownerReceived[i].message, sent[i].message, which + ": message");
            checks.expect(ownerReceived[i].wparam == sent[i].wparam, which + ": wparam unchanged");
            checks.expect(ownerReceived[i].lparam == sent[i].lparam, which + ": lparam unchanged");
        }
    }
}

}  // namespace

int windowCommand(const std::string &modulePath) {
    Checks checks("window");
    FilterModule module(modulePath);
    if (!checks.expect(module.ok(), module.error())) return checks.finish();
    const std::unique_ptr<q5host::Host> editor = module.host(2);
    q5host::Host &host = *editor;
    q5host::ServiceLog log(host);
    HWND owner = nullptr;
    if (!createWindows(checks, &owner)) return checks.finish();

    checks.expectEq(host.init(), TRUE, "func_init");
    host.filter()->hwnd = settingsWindow;
    windowHost = &host;
    checks.expectEq(host.windowMessage(kWmFilterInit, 0, 0), FALSE, "WM_FILTER_INIT result");
    pumpMessages();
    HWND button = FindWindowExA(settingsWindow, nullptr, "BUTTON", "Cache Reset");
    HFONT font = nullptr;
    if (checks.expect(button != nullptr, "the Cache Reset button exists")) {
        checkButton(checks, button, settingsWindow, module.handle());
        font = checkFont(checks, button);
    }

    // Fill the ring, then one ordinary frame fetches only its next neighbour.
    const std::vector<std::vector<PIXEL_YC>> clip = makeFrames();
    q5host::ClipInfo info;
    info.width = 64;
    info.height = 48;
    info.frameCount = static_cast<int>(clip.size());
    host.setClip(info, q5host::packedFrames(clip, info.width, info.height));
    for (int n = 0; n <= 2; ++n) host.process(n);
    log.clear();
    host.process(3);
    checks.expectEq(frames(log.fetchedFrames()), std::string("4"), "frame 3 fetches only frame 4");
    if (button) checkCacheReset(checks, host, log, button);
    checkOtherMessages(checks, log);

    checks.expectEq(host.windowMessage(kWmFilterExit, 0, 0), FALSE, "WM_FILTER_EXIT result");
    if (font) checks.expectEq(GetObjectType(font), DWORD{0}, "the font is deleted on WM_FILTER_EXIT");
    windowHost = nullptr;
    DestroyWindow(settingsWindow);
    DestroyWindow(owner);
    settingsWindow = nullptr;
    pumpMessages();
    checks.expectEq(host.exit(), TRUE, "func_exit");
    return checks.finish();
}

}  // namespace q5win
