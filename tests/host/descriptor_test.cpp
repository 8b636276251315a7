// The descriptor as the editor sees it through the module's only export.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/support.h"

namespace {

std::string bytes(const char *s) { return s ? std::string(s) : std::string("<null>"); }

TEST(Descriptor, NamesSlidersAndCheckBoxesAsTheEditorShowsThem) {
    GetFilterTableFn entry = q5test::moduleEntry();
    FILTER_DLL *d = entry();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d, entry()) << "the same record on every call";
    EXPECT_EQ(d->flag, 0x00080000);
    EXPECT_EQ(d->x, 0);
    EXPECT_EQ(d->y, 0);
    EXPECT_EQ(bytes(d->name), "Quorvane5");

    ASSERT_EQ(d->track_n, 6);
    const char *trackNames[] = {"Tarnel", "W2DNRL", "W2DNRH", "MosqNR", "BlockNR",
                                "\x8A\xDB\x82\xDF\x95\xE2\x90\xB3"};  // 丸め補正 in Shift_JIS
    const int defaults[] = {10, 10, 16, 5, 5, 16};
    const int maxima[] = {20, 20, 20, 20, 20, 32};
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(bytes(d->track_name[i]), trackNames[i]);
        EXPECT_EQ(d->track_default[i], defaults[i]);
        EXPECT_EQ(d->track_s[i], 0);
        EXPECT_EQ(d->track_e[i], maxima[i]);
    }

    ASSERT_EQ(d->check_n, 5);
    const char *checkNames[] = {
        "\x83t\x83" "B\x81[\x83\x8B\x83h\x95\xCA\x8F\x88\x97\x9D",  // フィールド別処理
        "\x83" "A\x83j\x83\x81",                                      // アニメ
        "\x83\x82\x83X\x83L\x81[\x83gNR",                             // モスキートNR
        "\x83u\x83\x8D\x83" "b\x83NNR",                               // ブロックNR
        "\x8A\xDB\x82\xDF\x95\xE2\x90\xB3",                           // 丸め補正
    };
    const int checkDefaults[] = {1, 1, 0, 0, 1};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(bytes(d->check_name[i]), checkNames[i]);
        EXPECT_EQ(d->check_default[i], checkDefaults[i]);
    }
}

// The settings table everyone else reads (the command's options, the tests) says
// what the descriptor says.
TEST(Descriptor, ListsTheSettingsTable) {
    const FILTER_DLL *d = q5test::moduleEntry()();
    ASSERT_EQ(d->track_n, kSliderCount);
    for (const SliderSetting &s : kSliders) {
        SCOPED_TRACE(s.name);
        const int i = indexOf(s.slider);
        EXPECT_EQ(bytes(d->track_name[i]), s.label);
        EXPECT_EQ(d->track_default[i], s.defaultValue);
        EXPECT_EQ(d->track_s[i], s.minimum);
        EXPECT_EQ(d->track_e[i], s.maximum);
    }
    ASSERT_EQ(d->check_n, kCheckBoxCount);
    for (const CheckBoxSetting &c : kCheckBoxes) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(bytes(d->check_name[indexOf(c.box)]), c.label);
        EXPECT_EQ(d->check_default[indexOf(c.box)], c.defaultValue);
    }
}

TEST(Descriptor, OffersExactlyTheCallbacksTheFilterImplements) {
    FILTER_DLL *d = q5test::moduleEntry()();
    EXPECT_NE(d->func_proc, nullptr);
    EXPECT_NE(d->func_init, nullptr);
    EXPECT_NE(d->func_exit, nullptr);
    EXPECT_NE(d->func_update, nullptr);
    EXPECT_NE(d->func_WndProc, nullptr);
    EXPECT_NE(d->func_save_start, nullptr);
    EXPECT_EQ(d->func_save_end, nullptr);
    EXPECT_EQ(d->func_is_saveframe, nullptr);
    EXPECT_EQ(d->func_project_load, nullptr);
    EXPECT_EQ(d->func_project_save, nullptr);
    EXPECT_EQ(d->func_modify_title, nullptr);
    EXPECT_EQ(d->ex_data_ptr, nullptr);
    EXPECT_EQ(d->ex_data_size, 0);
    EXPECT_EQ(d->ex_data_def, nullptr);
    EXPECT_EQ(d->dll_path, nullptr);
    EXPECT_EQ(d->reserve[0], 0);
    EXPECT_EQ(d->reserve[1], 0);
    ASSERT_NE(d->information, nullptr);
    EXPECT_EQ(std::strncmp(d->information, "Quorvane5", 9), 0);
}

// The information text names the layout of the working buffers once they are made,
// and still after unload (what the last run used).
TEST(Descriptor, InformationNamesTheBufferLayout) {
    q5host::Host host(q5test::moduleEntry(), 1);
    ASSERT_EQ(host.init(), TRUE);
    const char *information = host.filter()->information;
    ASSERT_NE(information, nullptr);
    EXPECT_STREQ(information, "Quorvane5 version 0.1.0; buffers: whole blocks");
    ASSERT_EQ(host.exit(), TRUE);
    EXPECT_STREQ(host.filter()->information, "Quorvane5 version 0.1.0; buffers: whole blocks");
}

TEST(Descriptor, RecordLayoutMatchesTheHostsOffsets) {
    // The editor reads these records at fixed offsets; a member out of place
    // would hand it the wrong callback.
    constexpr std::size_t p = sizeof(void *);
    if (p == 8) {
        EXPECT_EQ(offsetof(FILTER, func_proc), 88u);
        EXPECT_EQ(offsetof(FILTER, track), 128u);
        EXPECT_EQ(offsetof(FILTER, exfunc), 184u);
        EXPECT_EQ(offsetof(FILTER_PROC_INFO, w), 24u);
        EXPECT_EQ(offsetof(FILTER_PROC_INFO, editp), 80u);
    }
    EXPECT_EQ(offsetof(EXFUNC, filter_window_update), 21 * p);
    EXPECT_EQ(offsetof(EXFUNC, is_filter_active), 25 * p);
    EXPECT_EQ(offsetof(EXFUNC, set_ycp_filtering_cache_size), 44 * p);
    EXPECT_EQ(offsetof(EXFUNC, get_ycp_filtering_cache_ex), 50 * p);
    EXPECT_EQ(offsetof(EXFUNC, exec_multi_thread_func), 51 * p);
}

}  // namespace
