// The command line: one option per slider and check box of the filter (named by the
// settings table), the program's own options, and the help text.
#pragma once

#include <string>
#include <vector>

#include "abi/host_api.h"
#include "abi/settings.h"
#include "cli/io/y4m.h"
#include "cli/session/filter_session.h"

namespace q5cli {

/// A slider or check box as the command line left it.
struct SettingChoice {
    int value = 0;
    bool given = false;
};

struct Options {
    enum Command { Denoise, Demo, Preview, Help, Version } command = Denoise;
    std::string input, output, reference, module, demoDir;
    int frame = 0;           // preview: the frame shown
    std::string pictureOut = "quorvane5-preview.png";  // preview: the picture written
    int threads = 0;                                   // 0: all cores, at most 16
    bool quiet = false;
    bool stats = false;  // time each stage of the run
    // --strength auto (the default): settings chosen from the clip's noise; --strength
    // editor: the editor's factory settings for what is not given.
    bool autoStrength = true;
    bool strengthGiven = false;
    // --frames A:B: the frames written (end -1: to the clip's end); --excerpt S:N: the
    // input holds frames S, S + 1, ... of a clip of N frames.
    bool framesGiven = false, excerptGiven = false;
    int framesFirst = 0, framesEnd = -1, excerptFirst = 0, excerptLength = -1;
    // "demo DIR": the demo, unless a file named demo exists (then it is the input).
    bool demoMayBeFile = false;
    SettingChoice sliders[kSliderCount];
    SettingChoice boxes[kCheckBoxCount];

    const SettingChoice &choice(Slider s) const { return sliders[indexOf(s)]; }
    const SettingChoice &choice(CheckBox c) const { return boxes[indexOf(c)]; }
    void give(Slider s, int value) { sliders[indexOf(s)] = {value, true}; }
    void give(CheckBox c, bool on) { boxes[indexOf(c)] = {on ? 1 : 0, true}; }
};

/// Parses the arguments after the program name; false with a message on a bad command line.
bool parseOptions(const std::vector<std::string> &args, Options *options, std::string *error);

/// Checks the given slider values against the descriptor's minimums and the command's
/// maximums (past the editor's for the strength sliders), before any file is opened;
/// false with a message naming the option and its range.
bool checkSettings(const Options &options, const FILTER &descriptor, std::string *error);

/// The settings of a run, resolved once the stream's header is known: the values
/// given, else the descriptor's defaults, except that unless given per-field
/// processing follows the stream's interlacing and the rounding correction, which
/// re-quantises to 8-bit steps, is off for samples deeper than 8 bits.
DenoiseSettings resolveSettings(const Options &options, const FILTER &descriptor, const Y4mFormat &format);

/// Whether the rounding correction was left off for the stream's depth.
bool roundingOffForDepth(const Options &options, const Y4mFormat &format);

/// The settings of a run as options: every slider but those of passes that are off,
/// and each switch that differs from its default (per-field processing aside).
std::string settingsText(const DenoiseSettings &settings);

/// The settings of a run as options that, given alone on a stream of `format`,
/// reproduce them exactly: "--strength editor", the sliders of the passes that are on,
/// and each switch that differs from what that stream gets by default.
std::string runSettingsText(const DenoiseSettings &settings, const Y4mFormat &format);

std::string helpText();
std::string usageLine();

}  // namespace q5cli
