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
#include "cli/session/trial_filter.h"

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


/// --strength auto: the settings a clip's first frames call for. The noise meter
/// gives the noise's level and spread; then trial runs of the filter (a private
/// instance, on a crop of those frames) estimate the error each candidate setting
/// leaves, from the noisy frames alone, and the least wins. The candidates go coarse
/// to fine along one strength axis (the wavelet thresholds, the temporal one a third
/// of them), then try the temporal share, the coarser levels' thresholds, the block
/// pass and, on frames of up to 720 x 480, the mosquito pass. A setting that does not
/// clearly beat leaving the clip alone loses to it. Every option given on the command
/// line keeps its value: auto fills in only what the user left open.
struct AutoStrength {
    int firstFrame = 0;  // the first frame measured: the run's, or a scene's
    NoiseEstimate estimate;
    DenoiseSettings settings;
    double risk = 0;      // the winner's estimated error over the noise's variance
    int trials = 0;       // trial runs made
    int cropWidth = 0, cropHeight = 0;
    double seconds = 0;   // spent measuring and searching
    bool searched = false;  // false: not measurable, or nothing left open to choose
};

/// Trial crops are at most this large: the filter's smallest working plane.
constexpr int kTrialWidth = 384, kTrialHeight = 256;

AutoStrength autoStrength(const std::vector<const Y4mFrame *> &frames, const Options &options,
                          const Y4mFormat &format, const DenoiseSettings &settings, TrialFilter &trial,
                          int firstFrame = 0);

/// "noise 1.02 code steps, white, error 31% of the noise's (3 frames): --strength
/// editor --tarnel ...", "(3 frames from frame 120)" for a later scene, with the time
/// spent and the trial runs for --stats. The settings given alone reproduce the run.
std::string autoStrengthText(const AutoStrength &chosen, const Y4mFormat &format, bool withTime = false);

}  // namespace q5cli
