// The command line: one option per slider and check box of the filter, the
// program's own options, and the help text.
#pragma once

#include <string>
#include <vector>

#include "abi/host_api.h"

namespace q5cli {

/// A slider: the option name, the slider index, and the descriptor's default and
/// range as shipped (the loaded module's descriptor has the last word).
struct SliderOption {
    const char *name;
    int index;
    int defaultValue, minimum, maximum;
    const char *help;
};

/// A check box: --NAME turns it on, --no-NAME off.
struct CheckOption {
    const char *name;
    int index;
    int defaultValue;
    const char *help;
};

extern const SliderOption kSliderOptions[6];
extern const CheckOption kCheckOptions[5];
constexpr int kFieldCheck = 0;  // per-field processing

struct Options {
    enum Command { Denoise, Demo, Preview, Help, Version } command = Denoise;
    std::string input, output, reference, module, demoDir;
    int frame = 0;           // preview: the frame shown
    std::string pictureOut = "quorvane5-preview.png";  // preview: the picture written
    int threads = 0;  // 0: all cores, at most 16
    bool quiet = false;
    bool stats = false;  // time each stage of the run
    // "demo DIR": the demo, unless a file named demo exists (then it is the input).
    bool demoMayBeFile = false;
    int track[6] = {};
    bool trackGiven[6] = {};
    int check[5] = {};
    bool checkGiven[5] = {};
};

/// Parses the arguments after the program name; false with a message on a bad command line.
bool parseOptions(const std::vector<std::string> &args, Options *options, std::string *error);

/// Slider and check-box values for a run: given ones checked against the descriptor's
/// ranges, the rest the descriptor's defaults, per-field processing by the stream's
/// interlacing unless given.
bool resolveSettings(const Options &options, const FILTER &descriptor, bool interlacedStream,
                     int track[6], int check[5], std::string *error);

/// Per-field processing: as given, else on for streams tagged interlaced.
int fieldSetting(const Options &options, bool interlacedStream);

/// Thread count for a run: the given one, or every core, within the host's 1..16.
int resolveThreads(const Options &options);

std::string helpText();
std::string usageLine();

}  // namespace q5cli
