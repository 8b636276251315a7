// The six sliders and five check boxes: the one table of their places in the
// host's track and check arrays, their labels as the editor shows them, their
// defaults and ranges. The descriptor, the command's options, the tests and the
// benchmarks all read it; nothing else spells an index or a default out again.
#pragma once

#include "abi/host_api.h"

enum class Slider : int {
    Tarnel = 0,    // temporal threshold
    W2dnrL = 1,    // wavelet coring, low end
    W2dnrH = 2,    // wavelet coring, high end
    MosqNr = 3,    // mosquito pre-pass strength
    BlockNr = 4,   // block pre-pass strength
    Rounding = 5,  // rounding correction strength
};

enum class CheckBox : int {
    Fields = 0,      // per-field processing
    Anime = 1,       // full strength for animation (off halves every threshold)
    MosquitoNr = 2,  // mosquito pre-pass
    BlockNr = 3,     // block pre-pass
    Rounding = 4,    // rounding correction
};

constexpr int kSliderCount = 6;
constexpr int kCheckBoxCount = 5;

/// One slider as the descriptor lists it. `label` is the editor's (Shift_JIS bytes
/// on every build, as the host reads them); `name` is its ASCII name, which the
/// command takes as an option.
struct SliderSetting {
    Slider slider;
    const char *label;
    const char *name;
    int defaultValue, minimum, maximum;
};

/// One check box as the descriptor lists it (1 = on).
struct CheckBoxSetting {
    CheckBox box;
    const char *label;
    const char *name;
    int defaultValue;
};

/// In the descriptor's order: entry i is the slider or check box at index i.
inline constexpr SliderSetting kSliders[kSliderCount] = {
    {Slider::Tarnel, "Tarnel", "tarnel", 10, 0, 20},
    {Slider::W2dnrL, "W2DNRL", "w2dnrl", 10, 0, 20},
    {Slider::W2dnrH, "W2DNRH", "w2dnrh", 16, 0, 20},
    {Slider::MosqNr, "MosqNR", "mosqnr", 5, 0, 20},
    {Slider::BlockNr, "BlockNR", "blocknr", 5, 0, 20},
    // The rounding correction's strength alone reaches 32.
    {Slider::Rounding, "\x8A\xDB\x82\xDF\x95\xE2\x90\xB3", "rounding-strength", 16, 0, 32},  // 丸め補正
};

inline constexpr CheckBoxSetting kCheckBoxes[kCheckBoxCount] = {
    {CheckBox::Fields, "\x83t\x83" "B\x81[\x83\x8B\x83h\x95\xCA\x8F\x88\x97\x9D", "field", 1},  // フィールド別処理
    {CheckBox::Anime, "\x83" "A\x83j\x83\x81", "anime", 1},                                    // アニメ
    {CheckBox::MosquitoNr, "\x83\x82\x83X\x83L\x81[\x83gNR", "mosquito", 0},                 // モスキートNR
    {CheckBox::BlockNr, "\x83u\x83\x8D\x83" "b\x83NNR", "block", 0},                          // ブロックNR
    {CheckBox::Rounding, "\x8A\xDB\x82\xDF\x95\xE2\x90\xB3", "rounding", 1},                  // 丸め補正
};

constexpr int indexOf(Slider s) noexcept { return static_cast<int>(s); }
constexpr int indexOf(CheckBox c) noexcept { return static_cast<int>(c); }
constexpr const SliderSetting &settingOf(Slider s) noexcept { return kSliders[indexOf(s)]; }
constexpr const CheckBoxSetting &settingOf(CheckBox c) noexcept { return kCheckBoxes[indexOf(c)]; }

static_assert([] {
    for (int i = 0; i < kSliderCount; ++i)
        if (indexOf(kSliders[i].slider) != i) return false;
    for (int i = 0; i < kCheckBoxCount; ++i)
        if (indexOf(kCheckBoxes[i].box) != i) return false;
    return true;
}(), "every entry sits at its own index");

/// The table's numbers in the descriptor's shape: one array per column, in index order.
struct SettingColumns {
    int sliderDefaults[kSliderCount], sliderMinimums[kSliderCount], sliderMaximums[kSliderCount];
    int checkBoxDefaults[kCheckBoxCount];
};

constexpr SettingColumns settingColumns() noexcept {
    SettingColumns c{};
    for (int i = 0; i < kSliderCount; ++i) {
        c.sliderDefaults[i] = kSliders[i].defaultValue;
        c.sliderMinimums[i] = kSliders[i].minimum;
        c.sliderMaximums[i] = kSliders[i].maximum;
    }
    for (int i = 0; i < kCheckBoxCount; ++i) c.checkBoxDefaults[i] = kCheckBoxes[i].defaultValue;
    return c;
}

/// Points a stand-in filter record's settings at the table's columns, as the host's
/// copy of the descriptor would; the columns must outlive the record.
inline void describeSettings(FILTER &f, SettingColumns &columns) noexcept {
    f.track_n = kSliderCount;
    f.track_default = columns.sliderDefaults;
    f.track_s = columns.sliderMinimums;
    f.track_e = columns.sliderMaximums;
    f.check_n = kCheckBoxCount;
    f.check_default = columns.checkBoxDefaults;
}

inline int sliderValue(const FILTER *fp, Slider s) noexcept { return fp->track[indexOf(s)]; }

/// A check box counts as on only when its value is exactly 1.
inline bool checkOn(const FILTER *fp, CheckBox c) noexcept { return fp->check[indexOf(c)] == 1; }
