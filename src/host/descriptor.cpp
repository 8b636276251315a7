// The filter descriptor the host builds its settings window from: name, six
// sliders, five check boxes and the callbacks. Strings are Shift_JIS bytes on
// every build, as the host reads them.
#include <cstdio>

#include <array>

#include "abi/settings.h"
#include "core/core.h"
#include "host/callbacks.h"

namespace {

// The settings table as the host reads it: the labels as mutable pointers (the host
// never writes through them) and the numbers column by column.
template <class Row, std::size_t N>
constexpr std::array<char *, N> labelsOf(const Row (&rows)[N]) {
    std::array<char *, N> labels{};
    for (std::size_t i = 0; i < N; ++i) labels[i] = const_cast<char *>(rows[i].label);
    return labels;
}
std::array<char *, kSliderCount> trackNames = labelsOf(kSliders);
std::array<char *, kCheckBoxCount> checkNames = labelsOf(kCheckBoxes);
SettingColumns columns = settingColumns();

char kName[] = "Quorvane5";
// The version, then the layout of the working buffers the last allocation made
// (describeBufferLayout): room for the longest.
constexpr char kVersion[] = "Quorvane5 version 0.1.0";
char kInformation[80] = "Quorvane5 version 0.1.0";

FILTER_DLL descriptor = {
    0x00080000,  // flag
    0, 0,        // x, y: the host's default window size
    kName,
    kSliderCount, trackNames.data(), columns.sliderDefaults, columns.sliderMinimums, columns.sliderMaximums,
    kCheckBoxCount, checkNames.data(), columns.checkBoxDefaults,
    func_proc, func_init, func_exit, func_update, func_WndProc,
    nullptr, nullptr,  // track, check: the host's
    nullptr, 0,        // no extra saved data
    kInformation,
    func_save_start,
    nullptr,  // func_save_end
    nullptr, nullptr, nullptr,  // exfunc, hwnd, dll_hinst: the host's
    nullptr,                    // ex_data_def
    nullptr, nullptr, nullptr, nullptr,
    nullptr,  // dll_path
    {0, 0},
};

}  // namespace

FILTER_DLL *filterDescriptor() noexcept { return &descriptor; }

void describeBufferLayout() noexcept {
    std::snprintf(kInformation, sizeof kInformation, "%s; buffers: %s", kVersion, workBufferLayout(workBuffers));
}
