// The settings window's extras seen through the recording platform layer: the
// Cache Reset button and its font, what pressing it does to the frame ring, and
// the keys and wheel turns passed on to the owner window.
#include <gtest/gtest.h>

#include <deque>

#include "common/service_log.h"
#include "platform/platform.h"
#include "platform/recording_platform.h"
#include "support/support.h"

namespace {

constexpr WPARAM kCacheResetId = 40001;

std::vector<std::string> callNames() {
    std::vector<std::string> names;
    for (const PlatformCall &c : platformCalls()) names.push_back(c.name);
    return names;
}

std::vector<q5host::ServiceCall::Kind> serviceKinds(const q5host::ServiceLog &log) {
    std::vector<q5host::ServiceCall::Kind> kinds;
    for (const auto &c : log.calls()) kinds.push_back(c.kind);
    return kinds;
}

// Answers of is_filter_active for hosts that answer differently on each call.
std::deque<BOOL> scriptedAnswers;
BOOL scriptedIsActive(FILTER *) {
    const BOOL answer = scriptedAnswers.empty() ? TRUE : scriptedAnswers.front();
    if (!scriptedAnswers.empty()) scriptedAnswers.pop_front();
    return answer;
}

class SettingsWindow : public ::testing::Test {
protected:
    void SetUp() override {
        host.init();
        host.setClip(clip.info(), clip.source());
        platformCalls().clear();
        ASSERT_EQ(host.windowMessage(kWmFilterInit, 0, 0), FALSE);
        ASSERT_EQ(platformCalls().size(), 3u);
        button = platformCalls()[0].args.back();
        font = platformCalls()[1].args.back();
        platformCalls().clear();
    }

    // Frames 0 to 3 in forward playback: afterwards the ring holds frames 2, 3 and 4.
    bool fillRing() {
        if (!__builtin_cpu_supports("sse3")) return false;
        for (int n = 0; n <= 3; ++n) host.process(n);
        log.clear();
        return true;
    }

    q5test::Clip clip = q5test::flatClip(64, 48, 6, PIXEL_YC{1200, 40, -40});
    q5host::Host host{q5test::linkedEntry(), 2};
    q5host::ServiceLog log{host};
    std::intptr_t button = 0, font = 0;
};

TEST_F(SettingsWindow, InitCreatesCacheResetButtonWithItsFont) {
    platformCalls().clear();
    ASSERT_EQ(host.windowMessage(kWmFilterInit, 0, 0), FALSE);
    const auto &calls = platformCalls();
    ASSERT_EQ(callNames(), (std::vector<std::string>{"CreateWindowExA", "CreateFontA", "SendMessageA"}));

    const PlatformCall &create = calls[0];
    EXPECT_EQ(create.texts, (std::vector<std::string>{"BUTTON", "Cache Reset"}));
    const auto parent = reinterpret_cast<std::intptr_t>(host.filter()->hwnd);
    const auto instance = reinterpret_cast<std::intptr_t>(host.filter()->dll_hinst);
    // exStyle, style, x, y, width, height, parent, menu (the control id), instance, handle
    EXPECT_EQ(create.args, (std::vector<std::intptr_t>{0, 0x50000000, 230, 163, 80, 18, parent,
                                                       40001, instance, create.args.back()}));

    const PlatformCall &createFont = calls[1];
    EXPECT_EQ(createFont.args, (std::vector<std::intptr_t>{12, 0, 0, 0, 500, 0, 0, 0, 128, 0, 0, 2,
                                                           0x30, createFont.args.back()}));
    EXPECT_EQ(createFont.texts, (std::vector<std::string>{"ＭＳ Ｐゴシック"}));

    // WM_SETFONT to the new button with the new font, no immediate redraw.
    EXPECT_EQ(calls[2].args, (std::vector<std::intptr_t>{create.args.back(), 0x30,
                                                         createFont.args.back(), 0}));
}

TEST_F(SettingsWindow, CacheResetOnActiveFilterRefetchesAllThreeFrames) {
    if (!fillRing()) GTEST_SKIP() << "no SSE3: frames are not processed";
    EXPECT_EQ(host.windowMessage(WM_COMMAND, kCacheResetId, 0), TRUE);
    using K = q5host::ServiceCall::Kind;
    EXPECT_EQ(serviceKinds(log), (std::vector<K>{K::IsActive, K::WindowUpdate, K::IsActive}));
    // The button gives up the focus first.
    ASSERT_EQ(callNames(), (std::vector<std::string>{"SendMessageA"}));
    EXPECT_EQ(platformCalls()[0].args, (std::vector<std::intptr_t>{button, 0x0008, 0, 0}));

    log.clear();
    host.process(4);
    EXPECT_EQ(log.fetchedFrames(), (std::vector<int>{3, 4, 5}));
}

TEST_F(SettingsWindow, CacheResetOnInactiveFilterKeepsTheRing) {
    if (!fillRing()) GTEST_SKIP() << "no SSE3: frames are not processed";
    host.setFilterActive(false);
    EXPECT_EQ(host.windowMessage(WM_COMMAND, kCacheResetId, 0), FALSE);
    using K = q5host::ServiceCall::Kind;
    // The window is still refreshed.
    EXPECT_EQ(serviceKinds(log), (std::vector<K>{K::IsActive, K::WindowUpdate, K::IsActive}));

    host.setFilterActive(true);
    log.clear();
    host.process(4);
    EXPECT_EQ(log.fetchedFrames(), (std::vector<int>{5}));
}

TEST_F(SettingsWindow, CacheResetActsOnFirstAnswerExactlyTrueAndReturnsSecond) {
    if (!fillRing()) GTEST_SKIP() << "no SSE3: frames are not processed";
    EXFUNC *ex = host.filter()->exfunc;
    const auto original = ex->is_filter_active;
    ex->is_filter_active = &scriptedIsActive;
    struct Restore {
        EXFUNC *ex;
        BOOL (*fn)(FILTER *);
        ~Restore() { ex->is_filter_active = fn; }
    } restore{ex, original};

    // Active at the press, switched off by the time the window was refreshed.
    scriptedAnswers = {TRUE, FALSE};
    EXPECT_EQ(host.windowMessage(WM_COMMAND, kCacheResetId, 0), FALSE);
    host.process(4);
    EXPECT_EQ(log.fetchedFrames(), (std::vector<int>{3, 4, 5}));

    // Any non-zero answer other than 1 does not count as switched on.
    log.clear();
    scriptedAnswers = {2, TRUE};
    EXPECT_EQ(host.windowMessage(WM_COMMAND, kCacheResetId, 0), TRUE);
    host.process(5);
    EXPECT_EQ(log.fetchedFrames(), (std::vector<int>{4}));
}

TEST_F(SettingsWindow, OtherCommandsAreIgnored) {
    for (WPARAM id : {WPARAM{0}, WPARAM{40000}, WPARAM{40002}}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(host.windowMessage(WM_COMMAND, id, 0), FALSE);
        EXPECT_TRUE(log.calls().empty());
        EXPECT_TRUE(platformCalls().empty());
    }
    // Only the low word names the control: a notification code above it is still Cache Reset.
    EXPECT_EQ(host.windowMessage(WM_COMMAND, (WPARAM{1} << 16) | kCacheResetId, 0), TRUE);
    EXPECT_EQ(log.calls().size(), 3u);
}

TEST_F(SettingsWindow, KeysAndWheelGoToOwnerUnchanged) {
    const auto hwnd = reinterpret_cast<std::intptr_t>(host.filter()->hwnd);
    struct Sent {
        UINT message;
        WPARAM wparam;
        LPARAM lparam;
    };
    const Sent sent[] = {{WM_KEYDOWN, 0x41, 0x001E0001},
                         {WM_KEYUP, 0x41, static_cast<LPARAM>(static_cast<std::int32_t>(0xC01E0001u))},
                         {WM_MOUSEWHEEL, 0xFF880004u, (200 << 16) | 300}};
    for (const Sent &m : sent) {
        SCOPED_TRACE(m.message);
        platformCalls().clear();
        EXPECT_EQ(host.windowMessage(m.message, m.wparam, m.lparam), FALSE);
        ASSERT_EQ(callNames(), (std::vector<std::string>{"GetWindow", "SendMessageA"}));
        EXPECT_EQ(platformCalls()[0].args, (std::vector<std::intptr_t>{hwnd, 4}));  // GW_OWNER
        // The layer's owner of a window is the window's handle plus one.
        EXPECT_EQ(platformCalls()[1].args,
                  (std::vector<std::intptr_t>{hwnd + 1, static_cast<std::intptr_t>(m.message),
                                              static_cast<std::intptr_t>(m.wparam), m.lparam}));
    }
    EXPECT_TRUE(log.calls().empty());
}

TEST_F(SettingsWindow, ExitDeletesTheFont) {
    EXPECT_EQ(host.windowMessage(kWmFilterExit, 0, 0), FALSE);
    ASSERT_EQ(callNames(), (std::vector<std::string>{"DeleteObject"}));
    EXPECT_EQ(platformCalls()[0].args, (std::vector<std::intptr_t>{font}));
}

}  // namespace
