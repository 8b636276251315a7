// Command-line parsing, the settings a run resolves to, and the help text. The
// filter's options come from the settings table; the program's own follow.
#include "cli/command/options.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>
#include <thread>

#include "cli/command/strength.h"

namespace q5cli {

namespace {

// A slider that only counts when its pass's check box is on.
struct GatedSlider {
    Slider slider;
    CheckBox box;
};
constexpr GatedSlider kGatedSliders[] = {{Slider::MosqNr, CheckBox::MosquitoNr},
                                         {Slider::BlockNr, CheckBox::BlockNr},
                                         {Slider::Rounding, CheckBox::Rounding}};

const char *helpOf(Slider s) {
    switch (s) {
    case Slider::Tarnel: return "strength of the temporal reduction";
    case Slider::W2dnrL: return "strength of the spatial wavelet reduction";
    case Slider::W2dnrH:
        return "spatial strength of the coarser levels (each level adds (W2DNRH - W2DNRL) / 10)";
    case Slider::MosqNr:
        return "mosquito-noise strength; each step is 90 YC48 steps (about 5.6 code steps) for "
               "frames wider than 720 or taller than 480, about eleven times the 8 of smaller "
               "frames: start at 1 for HD";
    case Slider::BlockNr: return "block-noise strength";
    case Slider::Rounding: return "rounding-correction strength";
    }
    return "";
}

const char *helpOf(CheckBox c) {
    switch (c) {
    case CheckBox::Fields: return "process the two fields of a frame separately";
    case CheckBox::Anime: return "anime mode; off halves every threshold";
    case CheckBox::MosquitoNr: return "mosquito-noise pass";
    case CheckBox::BlockNr: return "block-noise pass";
    case CheckBox::Rounding:
        return "rounding correction: re-quantises the result to 8-bit steps with error carry "
               "and dither";
    }
    return "";
}

// The default as the help states it: two check boxes follow the stream.
std::string defaultText(const CheckBoxSetting &c) {
    if (c.box == CheckBox::Fields)
        return "on for streams tagged interlaced (It, Ib, Im), off for progressive ones";
    if (c.box == CheckBox::Rounding) return "on for 8-bit input, off for deeper";
    return c.defaultValue == 1 ? "on" : "off";
}

bool parseInt(const std::string &text, int *value) {
    if (text.empty()) return false;
    errno = 0;
    char *end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
    *value = static_cast<int>(v);
    return true;
}

bool addressable(const char *option, const std::string &text, int first, int end, std::string *error) {
    if (first < kMaxClipFrames && end <= kMaxClipFrames) return true;
    *error = std::string(option) + " " + text + " is past the " + std::to_string(kMaxClipFrames) +
             " frames a clip can have here (frame numbers up to " + std::to_string(kMaxClipFrames - 1) + ")";
    return false;
}

// "A:B": frame numbers, digits only; where `optional` allows, either may be left out
// (A then 0, B -1).
bool parseRange(const std::string &text, bool optional, int *first, int *end) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    const auto number = [optional](const std::string &digits, int absent, int *value) {
        if (digits.empty()) return optional && (*value = absent, true);
        return digits.find_first_not_of("0123456789") == std::string::npos && parseInt(digits, value);
    };
    return number(text.substr(0, colon), 0, first) && number(text.substr(colon + 1), -1, end);
}

// One "--name[=value]" argument, its value taken from the next argument where the
// option needs one.
class Argument {
public:
    Argument(const std::vector<std::string> &args, std::size_t *i) : args_(args), i_(*i) {
        name = args[*i].substr(2);
        if (const std::size_t eq = name.find('='); eq != std::string::npos) {
            value_ = name.substr(eq + 1);
            name = name.substr(0, eq);
            inline_ = true;
        }
    }
    bool value(std::string *out, std::string *error) {
        if (inline_) {
            *out = value_;
            return true;
        }
        if (i_ + 1 >= args_.size()) {
            *error = "--" + name + " needs a value";
            return false;
        }
        *out = args_[++i_];
        return true;
    }
    bool number(int *out, std::string *text, std::string *error) {
        return value(text, error) && parseInt(*text, out);
    }
    bool noValue(std::string *error) {
        if (inline_) *error = "--" + name + " takes no value";
        return !inline_;
    }

    std::string name;

private:
    const std::vector<std::string> &args_;
    std::size_t &i_;
    std::string value_;
    bool inline_ = false;
};

enum class Parsed { Taken, Unknown, Failed };

// --NAME N for a slider, --NAME and --no-NAME for a check box.
Parsed parseSetting(Argument &arg, Options *o, std::string *error) {
    for (const CheckBoxSetting &c : kCheckBoxes) {
        const bool on = arg.name == c.name;
        if (!on && arg.name != std::string("no-") + c.name) continue;
        if (!arg.noValue(error)) return Parsed::Failed;
        o->give(c.box, on);
        return Parsed::Taken;
    }
    for (const SliderSetting &s : kSliders) {
        if (arg.name != s.name) continue;
        std::string text;
        int value = 0;
        if (!arg.number(&value, &text, error)) {
            if (error->empty()) *error = "--" + arg.name + " needs a whole number, not \"" + text + "\"";
            return Parsed::Failed;
        }
        o->give(s.slider, value);
        return Parsed::Taken;
    }
    return Parsed::Unknown;
}

// The program's own options that take a value; `previewOption` names the last one
// only the preview takes, `denoiseOption` the last one only INPUT OUTPUT takes.
Parsed parseProgramOption(Argument &arg, Options *o, std::string *previewOption, std::string *denoiseOption,
                          std::string *error) {
    std::string text;
    if (arg.name == "threads") {
        if (arg.number(&o->threads, &text, error) && o->threads >= 1 && o->threads <= 16)
            return Parsed::Taken;
        if (error->empty())
            *error = "--threads must be a whole number from 1 to 16, not \"" + text + "\"";
        return Parsed::Failed;
    }
    if (arg.name == "strength") {
        if (!arg.value(&text, error)) return Parsed::Failed;
        o->strengthGiven = true;
        if (text == "auto" || text == "editor") {
            o->autoStrength = text == "auto";
            return Parsed::Taken;
        }
        *error = "--strength takes \"auto\" or \"editor\", not \"" + text + "\"";
        return Parsed::Failed;
    }
    // An empty name would quietly mean "none given".
    for (const auto &[name, place] : {std::pair{"module", &o->module}, std::pair{"reference", &o->reference}}) {
        if (arg.name != name) continue;
        if (!arg.value(place, error)) return Parsed::Failed;
        if (!place->empty()) return Parsed::Taken;
        *error = "--" + arg.name + " needs a file name";
        return Parsed::Failed;
    }
    if (arg.name == "frame") {
        *previewOption = "--frame";
        if (arg.number(&o->frame, &text, error) && o->frame >= 0) return Parsed::Taken;
        if (error->empty()) *error = "--frame needs a frame number, 0 or more, not \"" + text + "\"";
        return Parsed::Failed;
    }
    if (arg.name == "frames") {
        *denoiseOption = "--frames";
        if (!arg.value(&text, error)) return Parsed::Failed;
        if (!parseRange(text, true, &o->framesFirst, &o->framesEnd)) {
            *error = "--frames needs A:B, frame numbers from 0 with B after A (either may be left out), not \"" +
                     text + "\"";
            return Parsed::Failed;
        }
        if (o->framesEnd >= 0 && o->framesEnd <= o->framesFirst) {
            *error = "--frames " + text + " holds no frame: it writes frames A to B - 1";
            return Parsed::Failed;
        }
        if (!addressable("--frames", text, o->framesFirst, o->framesEnd, error)) return Parsed::Failed;
        o->framesGiven = true;
        return Parsed::Taken;
    }
    if (arg.name == "excerpt") {
        *denoiseOption = "--excerpt";
        if (!arg.value(&text, error)) return Parsed::Failed;
        if (!parseRange(text, false, &o->excerptFirst, &o->excerptLength) || o->excerptLength <= o->excerptFirst) {
            *error = "--excerpt needs S:N, the clip's frame the input starts at and the clip's length in frames "
                     "(S below N), not \"" + text + "\"";
            return Parsed::Failed;
        }
        if (!addressable("--excerpt", text, o->excerptFirst, o->excerptLength, error)) return Parsed::Failed;
        o->excerptGiven = true;
        return Parsed::Taken;
    }
    if (arg.name == "out") {
        *previewOption = "--out";
        return arg.value(&o->pictureOut, error) ? Parsed::Taken : Parsed::Failed;
    }
    return Parsed::Unknown;
}

// The switches that stand alone: help, version, quiet and stats.
bool parseSwitch(const std::string &arg, Options *o) {
    if (arg == "-h" || arg == "--help") o->command = Options::Help;
    else if (arg == "--version") {
        if (o->command != Options::Help) o->command = Options::Version;
    } else if (arg == "-q" || arg == "--quiet")
        o->quiet = true;
    else if (arg == "--stats")
        o->stats = true;
    else
        return false;
    return true;
}

// The operands decide the command: "preview INPUT", "demo [DIR]" or INPUT OUTPUT.
bool chooseCommand(const std::vector<std::string> &operands, bool firstIsFile,
                   const std::string &previewOption, const std::string &denoiseOption, Options *o,
                   std::string *error) {
    if (o->command == Options::Help || o->command == Options::Version) return true;
    const std::string first = operands.empty() || firstIsFile ? "" : operands[0];
    if (!denoiseOption.empty() && first == "preview") {
        *error = denoiseOption + " is for INPUT OUTPUT, not preview";
        return false;
    }
    if (o->framesGiven && o->autoStrength) {
        *error = "--frames needs settings fixed for the whole clip: with --strength auto (the default) a "
                 "chunk would measure its own frames, not the whole run's; give --strength editor, or the "
                 "settings a whole run prints after \"strength auto:\"";
        return false;
    }
    if (o->excerptGiven && !o->framesGiven) {
        *error = "--excerpt describes the input of a --frames run; give --frames too";
        return false;
    }
    if (first == "preview") {
        if (operands.size() != 2) {
            *error = "preview takes one input";
            return false;
        }
        o->command = Options::Preview;
        o->input = operands[1];
        return true;
    }
    if (!previewOption.empty()) {
        *error = previewOption + " is for preview";
        return false;
    }
    // The demo takes no span: with --frames, "demo" is a file to denoise.
    if (first == "demo" && denoiseOption.empty()) {
        if (operands.size() > 2) {
            *error = "demo takes at most one directory";
            return false;
        }
        o->command = Options::Demo;
        o->demoDir = operands.size() == 2 ? operands[1] : "quorvane5-demo";
        o->demoMayBeFile = operands.size() == 2;
        return true;
    }
    if (operands.size() != 2) {
        *error = operands.size() < 2 ? "give an input and an output (\"-\" for a pipe)"
                                     : "too many arguments: " + operands[2];
        return false;
    }
    o->input = operands[0];
    o->output = operands[1];
    return true;
}

int resolveThreads(const Options &options) {
    if (options.threads > 0) return options.threads;
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(static_cast<int>(cores), 1, 16);
}

// Edits (insertions, deletions, substitutions) that turn a into b.
std::size_t editDistance(const std::string &a, const std::string &b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// "unknown option --mosqito (did you mean --mosquito?)": the nearest option, where one
// is near enough to be what was meant.
std::string unknownOption(const std::string &arg) {
    const std::size_t dashes = arg.find_first_not_of('-');
    const std::string name = dashes == std::string::npos ? "" : arg.substr(dashes);
    const std::string bare = name.substr(0, name.find('='));
    std::vector<std::string> known = {"threads", "strength", "module", "reference", "frame", "frames",
                                      "excerpt", "out",      "help",   "version",   "quiet", "stats"};
    for (const CheckBoxSetting &c : kCheckBoxes) known.insert(known.end(), {c.name, std::string("no-") + c.name});
    for (const SliderSetting &s : kSliders) known.push_back(s.name);
    std::string best;
    std::size_t nearest = std::max<std::size_t>(1, bare.size() / 3) + 1;
    for (const std::string &k : known)
        if (const std::size_t d = editDistance(bare, k); d < nearest) {
            nearest = d;
            best = k;
        }
    return "unknown option " + arg.substr(0, arg.find('=')) + (best.empty() ? "" : " (did you mean --" + best + "?)");
}

}  // namespace

bool parseOptions(const std::vector<std::string> &args, Options *options, std::string *error) {
    Options o;
    std::vector<std::string> operands;
    std::string previewOption, denoiseOption;
    bool optionsEnded = false;
    bool firstIsFile = false;  // the first operand came after "--": a file, whatever its name
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
            operands.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
            firstIsFile = operands.empty();
        } else if (!parseSwitch(arg, &o)) {
            if (arg.compare(0, 2, "--") != 0) {
                *error = unknownOption(arg);
                return false;
            }
            Argument named(args, &i);
            error->clear();
            Parsed parsed = parseSetting(named, &o, error);
            if (parsed == Parsed::Unknown) parsed = parseProgramOption(named, &o, &previewOption, &denoiseOption, error);
            if (parsed == Parsed::Unknown && parseSwitch("--" + named.name, &o))
                *error = "--" + named.name + " takes no value";
            else if (parsed == Parsed::Unknown)
                *error = unknownOption("--" + named.name);
            if (parsed != Parsed::Taken) return false;
        }
    }
    if (!chooseCommand(operands, firstIsFile, previewOption, denoiseOption, &o, error)) return false;
    *options = o;
    return true;
}

bool checkSettings(const Options &options, const FILTER &descriptor, std::string *error) {
    if (descriptor.track_n < kSliderCount || descriptor.check_n < kCheckBoxCount) {
        *error = "the loaded filter has fewer settings than this program knows";
        return false;
    }
    for (const SliderSetting &s : kSliders) {
        const SettingChoice &given = options.choice(s.slider);
        const int lo = descriptor.track_s[indexOf(s.slider)], editor = descriptor.track_e[indexOf(s.slider)];
        const int hi = commandMaximum(s.slider, editor);
        if (given.given && (given.value < lo || given.value > hi)) {
            *error = "--" + std::string(s.name) + " " + std::to_string(given.value) +
                     " is out of range: it takes " + std::to_string(lo) + " to " + std::to_string(hi);
            if (hi > editor) *error += " (the editor's slider ends at " + std::to_string(editor) + ")";
            return false;
        }
    }
    return true;
}

bool roundingOffForDepth(const Options &options, const Y4mFormat &format) {
    return !options.choice(CheckBox::Rounding).given && format.bits > 8;
}

DenoiseSettings resolveSettings(const Options &options, const FILTER &descriptor, const Y4mFormat &format) {
    DenoiseSettings settings;
    for (int i = 0; i < kSliderCount; ++i)
        settings.track[i] = options.sliders[i].given ? options.sliders[i].value : descriptor.track_default[i];
    for (int i = 0; i < kCheckBoxCount; ++i)
        settings.check[i] = options.boxes[i].given ? options.boxes[i].value : descriptor.check_default[i];
    if (!options.choice(CheckBox::Fields).given) settings.set(CheckBox::Fields, format.interlaced());
    if (roundingOffForDepth(options, format)) settings.set(CheckBox::Rounding, false);
    settings.threads = resolveThreads(options);
    settings.timeStages = options.stats;
    return settings;
}

std::string settingsText(const DenoiseSettings &s) {
    std::string t;
    for (const SliderSetting &o : kSliders) {
        const auto gate = std::find_if(std::begin(kGatedSliders), std::end(kGatedSliders),
                                       [&](const GatedSlider &g) { return g.slider == o.slider; });
        if (gate != std::end(kGatedSliders) && !s.on(gate->box)) continue;
        t += " --" + std::string(o.name) + " " + std::to_string(s.slider(o.slider));
    }
    for (const CheckBoxSetting &o : kCheckBoxes)
        if (o.box != CheckBox::Fields && s.on(o.box) != (o.defaultValue == 1))
            t += std::string(" --") + (s.on(o.box) ? "" : "no-") + o.name;
    return t.substr(1);
}

std::string runSettingsText(const DenoiseSettings &s, const Y4mFormat &format) {
    std::string t = "--strength editor";
    for (const SliderSetting &o : kSliders) {
        const auto gate = std::find_if(std::begin(kGatedSliders), std::end(kGatedSliders),
                                       [&](const GatedSlider &g) { return g.slider == o.slider; });
        if (gate != std::end(kGatedSliders) && !s.on(gate->box)) continue;
        t += " --" + std::string(o.name) + " " + std::to_string(s.slider(o.slider));
    }
    for (const CheckBoxSetting &o : kCheckBoxes) {
        bool byDefault = o.defaultValue == 1;
        if (o.box == CheckBox::Fields) byDefault = format.interlaced();
        if (o.box == CheckBox::Rounding) byDefault = byDefault && format.bits <= 8;
        if (s.on(o.box) != byDefault) t += std::string(" --") + (s.on(o.box) ? "" : "no-") + o.name;
    }
    return t;
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

namespace {

// The help, as data: paragraphs of text, and lists of options ("NAME", "text"), each
// list under a heading ending in ':' (the man page is made from this text and takes
// such a heading and its lines for a list of options).
struct HelpLine {
    const char *name, *text;
};

constexpr const char *kIntro = R"(
Denoises a YUV4MPEG2 (y4m) video with the Quorvane5 wavelet filter, loaded
and driven exactly as the editor drives the plug-in. INPUT and OUTPUT are y4m
files; "-" reads standard input or writes standard output, so it fits in a
pipe:

  ffmpeg -i in.mkv -f yuv4mpegpipe -strict -1 - | quorvane5 - - |
    ffmpeg -i - out.mkv

(ffmpeg writes y4m deeper than 8 bits only with -strict -1.) By default the
settings are chosen from the clip itself (--strength auto, below).

A file OUTPUT appears only once it is complete (links followed, the mode of a
file it replaces kept); devices and FIFOs are written directly. After "--"
every operand is a file, "demo" included. Reads 4:2:0 (C420jpeg, C420mpeg2,
C420paldv, C420), 4:2:2 and 4:4:4 at 8 to 16 bits (C420p10 ...) and mono (luma
only), up to 4096x2304; the output keeps the input's format, size, frame rate,
aspect, interlacing and every other tag. 4:4:4 chroma comes back with the
horizontal detail of 4:2:2: the filter keeps one Cb and Cr per pixel pair.
)";

constexpr HelpLine kStrengthLines[] = {
    {"--strength auto",
     "the default: measure the noise of the first three frames, and of each new scene's, then try candidate "
     "settings on a crop of them and keep the one with the least estimated error; a setting that does not "
     "clearly beat leaving the clip alone loses to it. The summary, --stats and preview print the estimate "
     "and the settings chosen, as options that reproduce the run. A setting given as well keeps the value "
     "given"},
    {"--strength editor",
     "the editor's factory settings for every setting not given (per-field processing and the rounding "
     "correction still follow the stream, as above)"},
};

constexpr HelpLine kProgramLines[] = {
    {"--threads N", "worker threads, 1..16 [every core, at most 16]"},
    {"--reference CLEAN.y4m",
     "print PSNR (Y, Cb, Cr) and SSIM (Y) of the output against CLEAN, a clip of the same format and size"},
    {"--module PATH",
     "load the filter from PATH [the first found of: quorvane5.so beside this program, "
     "../lib/quorvane5/quorvane5.so from its folder (as installed), and, for a program in its build tree, "
     "the module built with it]"},
    {"--frames A:B",
     "write only frames A to B - 1 (from 0; without A from the start, without B to the end), each made from "
     "the frames around it, which are read too, as in a run over the whole clip; the output has the input's "
     "header. Chunks so made join into the whole run (exactly with the rounding correction off; "
     "scripts/denoise-cluster). The settings must be fixed for the whole clip: --strength editor, or what a "
     "whole run prints after \"strength auto:\""},
    {"--excerpt S:N", "with --frames: INPUT is an excerpt, its first frame being frame S of a clip of N frames"},
    {"-q, --quiet", "no progress line, summary or notes (warnings stay)"},
    {"--stats",
     "where the time went, per frame: reading, conversion to and from YC48, the host's frame cache and "
     "copies, the filter, writing; and what measuring and choosing the strength took"},
    {"-h, --help", "this text"},
    {"--version", "program and filter versions, and the module loaded"},
};

constexpr const char *kCommands = R"(
quorvane5 demo [DIR] shows what the filter is for: a built-in cartoon clip
(flat colours, dark outlines, smooth gradients) with faint grain of 0.75 code
steps, and the same after a block codec. It denoises the grainy clip first with
the default, --strength auto, then in a few fixed setting groups (the wavelet
stages alone and with both pre-passes; the rounding correction off and on for
an 8-bit copy; the blocky copy without and with the pre-passes) and prints the
settings and the PSNR and SSIM before and after. Into DIR [quorvane5-demo], a
new or empty folder or one holding only an earlier demo's files, it writes the
clips and before-after.png and blocky-before-after.png: one frame before and
after, a crop magnified with its contrast stretched, and what the filter
removed. Unless given, --tarnel, --w2dnrl, --w2dnrh, --mosqnr and --blocknr are
20 in the fixed groups. The clip is 512x288, so the mosquito pass shows only the
small frames' strength there. The demo runs both kinds itself: it takes no
--strength.

quorvane5 preview INPUT [--frame N] [--out FILE.png] makes the same picture for
frame N [0] of your own clip with the settings given (by default chosen from
the frames around it), reading only the frames the filter needs around it, and
writes it to FILE.png [quorvane5-preview.png; "-" is standard output, and the
report then goes to standard error].
)";

constexpr const char *kNotes = R"(
The editor's sliders end at 20 (the rounding strength at 32). Here --tarnel,
--w2dnrl, --w2dnrh, --mosqnr and --blocknr go on to 255: values past 20 exist
only in this command (the plug-in in the editor cannot be set to them), and the
summary names them. Grain of a code step or more needs them: at 20 the wavelet
stages take such grain for structure and leave it.

Frames are numbered from 0, in messages as in --frame.

A progress line goes to standard error when it is a terminal; a summary follows
at the end. Exit status: 0 done, 1 bad input, file error or failed run (no
output file is left behind), 2 bad command line.
)";

std::string optionLines(const HelpLine *first, const HelpLine *end) {
    std::string t;
    for (const HelpLine *line = first; line != end; ++line) t += optionLine(line->name, line->text);
    return t;
}

// The filter's own options, from the settings table.
std::string settingLines() {
    std::string t;
    for (const SliderSetting &s : kSliders) {
        const int most = commandMaximum(s.slider, s.maximum);
        std::string range = ", " + std::to_string(s.minimum) + ".." + std::to_string(most);
        if (most > s.maximum)
            range += " (the editor's " + std::to_string(s.minimum) + ".." + std::to_string(s.maximum) + ")";
        t += optionLine("--" + std::string(s.name) + " N",
                        std::string(helpOf(s.slider)) + range + " [" + std::to_string(s.defaultValue) + "]");
    }
    for (const CheckBoxSetting &c : kCheckBoxes)
        t += optionLine("--" + std::string(c.name) + ", --no-" + c.name,
                        std::string(helpOf(c.box)) + " [" + defaultText(c) + "]");
    return t;
}

}  // namespace

std::string helpText() {
    return usageLine() + kIntro + "\nStrength:\n" + optionLines(std::begin(kStrengthLines), std::end(kStrengthLines)) +
           "\nFilter settings (the plug-in's sliders and check boxes) [the editor's default]:\n" + settingLines() +
           "\nProgram options:\n" + optionLines(std::begin(kProgramLines), std::end(kProgramLines)) + kCommands +
           kNotes;
}

}  // namespace q5cli
