// Command-line parsing and the help text.
#include "cli/command/options.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <thread>

namespace q5cli {

const SliderOption kSliderOptions[6] = {
    {"tarnel", 0, 10, 0, 20, "strength of the temporal reduction"},
    {"w2dnrl", 1, 10, 0, 20, "strength of the spatial wavelet reduction"},
    {"w2dnrh", 2, 16, 0, 20, "spatial strength of the coarser levels (each level adds "
                             "(W2DNRH - W2DNRL) / 10)"},
    {"mosqnr", 3, 5, 0, 20, "mosquito-noise strength"},
    {"blocknr", 4, 5, 0, 20, "block-noise strength"},
    {"rounding-strength", 5, 16, 0, 32, "rounding-correction strength"},
};

const CheckOption kCheckOptions[5] = {
    {"field", 0, 1, "process the two fields of a frame separately"},
    {"anime", 1, 1, "anime mode; off halves every threshold"},
    {"mosquito", 2, 0, "mosquito-noise pass"},
    {"block", 3, 0, "block-noise pass"},
    {"rounding", 4, 1, "rounding correction: re-quantises the result to 8-bit steps with "
                       "error carry and dither"},
};

namespace {

bool parseInt(const std::string &text, int *value) {
    if (text.empty()) return false;
    errno = 0;
    char *end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
    *value = static_cast<int>(v);
    return true;
}

}  // namespace

bool parseOptions(const std::vector<std::string> &args, Options *options, std::string *error) {
    Options o;
    std::vector<std::string> positional;
    std::string previewOption;  // the last option only the preview takes
    bool optionsEnded = false;
    bool firstIsOperand = false;  // the first operand came after "--": a file, whatever its name
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            firstIsOperand = positional.empty();
            continue;
        }
        if (arg == "-h" || arg == "--help") {
            o.command = Options::Help;
            continue;
        }
        if (arg == "--version") {
            if (o.command != Options::Help) o.command = Options::Version;
            continue;
        }
        if (arg == "-q" || arg == "--quiet") {
            o.quiet = true;
            continue;
        }
        if (arg == "--stats") {
            o.stats = true;
            continue;
        }
        if (arg.compare(0, 2, "--") != 0) {
            *error = "unknown option " + arg;
            return false;
        }
        // --name=value or --name value
        std::string name = arg.substr(2), value;
        bool haveValue = false;
        if (const std::size_t eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            haveValue = true;
        }
        const auto takeValue = [&](std::string *out) {
            if (haveValue) {
                *out = value;
                return true;
            }
            if (i + 1 >= args.size()) {
                *error = "--" + name + " needs a value";
                return false;
            }
            *out = args[++i];
            return true;
        };

        bool known = false;
        for (const CheckOption &c : kCheckOptions) {
            const bool on = name == c.name;
            if (on || name == std::string("no-") + c.name) {
                if (haveValue) {
                    *error = "--" + name + " takes no value";
                    return false;
                }
                o.check[c.index] = on ? 1 : 0;
                o.checkGiven[c.index] = true;
                known = true;
            }
        }
        for (const SliderOption &s : kSliderOptions) {
            if (name != s.name) continue;
            std::string text;
            if (!takeValue(&text)) return false;
            if (!parseInt(text, &o.track[s.index])) {
                *error = "--" + name + " needs a whole number, not \"" + text + "\"";
                return false;
            }
            o.trackGiven[s.index] = true;
            known = true;
        }
        if (known) continue;
        if (name == "threads") {
            std::string text;
            if (!takeValue(&text)) return false;
            if (!parseInt(text, &o.threads) || o.threads < 1 || o.threads > 16) {
                *error = "--threads must be a whole number from 1 to 16, not \"" + text + "\"";
                return false;
            }
        } else if (name == "module") {
            if (!takeValue(&o.module)) return false;
        } else if (name == "reference") {
            if (!takeValue(&o.reference)) return false;
        } else if (name == "frame") {
            std::string text;
            if (!takeValue(&text)) return false;
            if (!parseInt(text, &o.frame) || o.frame < 0) {
                *error = "--frame needs a frame number, 0 or more, not \"" + text + "\"";
                return false;
            }
            previewOption = "--frame";
        } else if (name == "out") {
            if (!takeValue(&o.pictureOut)) return false;
            previewOption = "--out";
        } else {
            *error = "unknown option --" + name;
            return false;
        }
    }
    if (o.command == Options::Help || o.command == Options::Version) {
        *options = o;
        return true;
    }
    if (!positional.empty() && positional[0] == "preview" && !firstIsOperand) {
        if (positional.size() != 2) {
            *error = "preview takes one input";
            return false;
        }
        o.command = Options::Preview;
        o.input = positional[1];
        *options = o;
        return true;
    }
    if (!previewOption.empty()) {
        *error = previewOption + " is for preview";
        return false;
    }
    if (!positional.empty() && positional[0] == "demo" && !firstIsOperand) {
        if (positional.size() > 2) {
            *error = "demo takes at most one directory";
            return false;
        }
        o.command = Options::Demo;
        o.demoDir = positional.size() == 2 ? positional[1] : "quorvane5-demo";
        o.demoMayBeFile = positional.size() == 2;
        *options = o;
        return true;
    }
    if (positional.size() != 2) {
        *error = positional.size() < 2 ? "give an input and an output (\"-\" for a pipe)"
                                       : "too many arguments: " + positional[2];
        return false;
    }
    o.input = positional[0];
    o.output = positional[1];
    *options = o;
    return true;
}

bool resolveSettings(const Options &options, const FILTER &descriptor, bool interlacedStream,
                     int track[6], int check[5], std::string *error) {
    if (descriptor.track_n < 6 || descriptor.check_n < 5) {
        *error = "the loaded filter has fewer settings than this program knows";
        return false;
    }
    for (const SliderOption &s : kSliderOptions) {
        const int i = s.index;
        const int lo = descriptor.track_s[i], hi = descriptor.track_e[i];
        if (!options.trackGiven[i]) {
            track[i] = descriptor.track_default[i];
            continue;
        }
        if (options.track[i] < lo || options.track[i] > hi) {
            *error = "--" + std::string(s.name) + " " + std::to_string(options.track[i]) +
                     " is out of range: it takes " + std::to_string(lo) + " to " +
                     std::to_string(hi);
            return false;
        }
        track[i] = options.track[i];
    }
    for (const CheckOption &c : kCheckOptions) {
        const int i = c.index;
        check[i] = i == kFieldCheck        ? fieldSetting(options, interlacedStream)
                   : options.checkGiven[i] ? options.check[i]
                                           : descriptor.check_default[i];
    }
    return true;
}

int fieldSetting(const Options &options, bool interlacedStream) {
    if (options.checkGiven[kFieldCheck]) return options.check[kFieldCheck];
    return interlacedStream ? 1 : 0;
}

int resolveThreads(const Options &options) {
    if (options.threads > 0) return options.threads;
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(static_cast<int>(cores), 1, 16);
}

namespace {

// "  NAME   text", the text wrapped to 79 columns in a column of its own.
std::string optionLine(const std::string &name, const std::string &text) {
    constexpr std::size_t indent = 26, width = 79;
    std::string out = "  " + name;
    out += out.size() < indent ? std::string(indent - out.size(), ' ')
                               : "\n" + std::string(indent, ' ');
    std::size_t column = indent, pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find(' ', pos);
        if (end == std::string::npos) end = text.size();
        const std::string word = text.substr(pos, end - pos);
        if (column > indent && column + 1 + word.size() > width) {
            out += "\n" + std::string(indent, ' ');
            column = indent;
        } else if (column > indent) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
        pos = end + 1;
    }
    return out + "\n";
}

}  // namespace

std::string usageLine() {
    return "usage: quorvane5 [OPTIONS] INPUT OUTPUT\n"
           "       quorvane5 demo [DIR]\n"
           "       quorvane5 preview INPUT [OPTIONS] [--frame N] [--out FILE.png]\n";
}

std::string helpText() {
    std::string t = usageLine();
    t += R"(
Denoises a YUV4MPEG2 (y4m) video with the Quorvane5 wavelet filter, loaded
and driven exactly as the editor drives the plug-in. INPUT and OUTPUT are y4m
files; "-" reads standard input or writes standard output, so it fits in a
pipe:

  ffmpeg -i in.mkv -f yuv4mpegpipe - | quorvane5 - - | ffmpeg -i - out.mkv

A file OUTPUT appears only once it is complete (links followed, the mode of a
file it replaces kept); devices and FIFOs are written directly. After "--"
every operand is a file, "demo" included. Reads 4:2:0 (C420jpeg, C420mpeg2,
C420paldv, C420), 4:2:2 and 4:4:4 at 8 to 16 bits (C420p10 ...) and mono (luma
only), up to 4096x2304; the output keeps the input's format, size, frame rate,
aspect, interlacing and every other tag. 4:4:4 chroma comes back with the
horizontal detail of 4:2:2: the filter keeps one Cb and Cr per pixel pair.

Filter settings (the plug-in's sliders and check boxes) [default]:
)";
    for (const SliderOption &s : kSliderOptions)
        t += optionLine("--" + std::string(s.name) + " N",
                        std::string(s.help) + ", " + std::to_string(s.minimum) + ".." +
                            std::to_string(s.maximum) + " [" + std::to_string(s.defaultValue) + "]");
    for (const CheckOption &c : kCheckOptions) {
        const std::string def = c.index == kFieldCheck
                                    ? "on for streams tagged interlaced (It, Ib, Im), off for "
                                      "progressive ones"
                                    : (c.defaultValue ? "on" : "off");
        t += optionLine("--" + std::string(c.name) + ", --no-" + c.name,
                        std::string(c.help) + " [" + def + "]");
    }
    t += R"(
Program options:
  --threads N             worker threads, 1..16 [every core, at most 16]
  --reference CLEAN.y4m   print PSNR (Y, Cb, Cr) and SSIM (Y) of the output
                          against CLEAN, a clip of the same format and size
  --module PATH           load the filter from PATH [quorvane5.so beside this
                          program, else ../lib/quorvane5/quorvane5.so from it]
  -q, --quiet             no progress line, summary or notes (warnings stay)
  --stats                 where the time went, per frame: reading, conversion
                          to and from YC48, the host's frame cache and copies,
                          the filter, writing
  -h, --help              this text
  --version               program and filter versions, and the module loaded

quorvane5 demo [DIR] shows what the filter is for: a built-in cartoon clip
(flat colours, dark outlines, smooth gradients) with faint grain of 0.75 code
steps, and the same after a block codec. It denoises them in a few setting
groups (the wavelet stages alone and with both pre-passes; the rounding
correction off and on for an 8-bit copy; the blocky copy without and with the
pre-passes) and prints the settings and the PSNR and SSIM before and after.
Into DIR [quorvane5-demo] it writes the clips and before-after.png and
blocky-before-after.png: one frame before and after, a crop magnified with its
contrast stretched, and what the filter removed. Unless given, --tarnel,
--w2dnrl, --w2dnrh, --mosqnr and --blocknr are 20 there.

quorvane5 preview INPUT [--frame N] [--out FILE.png] makes the same picture for
frame N [0] of your own clip with the settings given, reading only the frames
the filter needs around it, and writes it to FILE.png [quorvane5-preview.png].

A progress line goes to standard error when it is a terminal; a summary follows
at the end. Exit status: 0 done, 1 bad input, file error or failed run (no
output file is left behind), 2 bad command line.
)";
    return t;
}

}  // namespace q5cli
