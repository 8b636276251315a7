// Strength past the editor's sliders and chosen from the clip: the command's bound for the
// strength sliders, what a run says of values past the editor's range, and --strength auto.
#pragma once

#include <string>
#include <vector>

#include "abi/host_api.h"
#include "abi/settings.h"
#include "cli/command/options.h"
#include "cli/picture/noise_estimate.h"
#include "cli/session/filter_session.h"

namespace q5cli {

/// The largest value the command takes for the strength sliders (temporal, both
/// spatial, mosquito and block). The module derives its thresholds from them without
/// clamping: the spatial and temporal ones in floating point, exact far beyond this;
/// the pre-passes' 16-bit thresholds (90 x MosqNR at most, 16 x BlockNR) stay below
/// their saturation up to here. The rounding strength keeps the editor's range.
constexpr int kCommandStrengthMaximum = 255;

/// Whether the command lets this slider go past the editor's range.
bool extendsPastEditor(Slider s);

/// The range the command takes for a slider, given the editor's (the descriptor's).
int commandMaximum(Slider s, int editorMaximum);

/// "--w2dnrl 60, --tarnel 40": the sliders of `settings` set past the editor's range,
/// empty when none is.
std::string pastEditorRange(const DenoiseSettings &settings, const FILTER &descriptor);


/// --strength auto: the settings for a clip of this noise and texture, over the
/// resolved `settings`. Every option given on the command line keeps its value: auto
/// fills in only what the user left open.
DenoiseSettings chooseStrength(const NoiseEstimate &estimate, const Options &options, const Y4mFormat &format,
                               DenoiseSettings settings);

/// Measures the frames and chooses: what the summary, --stats and preview report.
struct AutoStrength {
    int firstFrame = 0;  // the first frame measured: the run's, or a scene's
    NoiseEstimate estimate;
    DenoiseSettings settings;
    double seconds = 0;  // spent measuring
};
AutoStrength autoStrength(const std::vector<const Y4mFrame *> &frames, const Options &options,
                          const Y4mFormat &format, const DenoiseSettings &settings, int firstFrame = 0);

/// "noise 1.02 code steps, texture 12% (3 frames): --tarnel ...", "(3 frames from
/// frame 120)" for a later scene, with the time spent measuring for --stats.
std::string autoStrengthText(const AutoStrength &chosen, bool withTime = false);

}  // namespace q5cli
