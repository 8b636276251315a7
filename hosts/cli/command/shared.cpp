// Messages, opening the input and loading the filter, as every command does them.
#include "cli/command/shared.h"

#include <cstdio>

#include "cli/io/output_file.h"

namespace q5cli {

std::string printable(const std::string &text) {
    std::string out;
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7F) {
            out += c;
            continue;
        }
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, c == '\n' ? "\\n" : c == '\t' ? "\\t" : c == '\r' ? "\\r" : "\\x%02x", u);
        out += escaped;
    }
    return out;
}

void message(const std::string &text) { std::fprintf(stderr, "quorvane5: %s\n", printable(text).c_str()); }

std::string count(long long n, const char *one, const char *many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

int openStream(const std::string &path, OpenStream *stream) {
    std::string error;
    stream->name = path == "-" ? "standard input" : path;
    stream->source = openInput(path, &error);
    if (!stream->source) {
        message(error);
        return 1;
    }
    stream->reader = std::make_unique<Y4mReader>(*stream->source, stream->name);
    if (!stream->reader->readHeader(&stream->format, &error)) {
        // Most often the program before us in a pipe failed and wrote nothing.
        if (namesStandardInput(path) && error == stream->name + " is empty")
            error += ": the program feeding it may have failed (ffmpeg writes y4m deeper than 8 bits only "
                     "with -strict -1)";
        // Most often a video file of another kind.
        if (error.find("not a YUV4MPEG2 stream") != std::string::npos)
            error += "; other video comes in through ffmpeg: ffmpeg -i " + (namesStandardInput(path) ? "IN" : path) +
                     " -f yuv4mpegpipe -strict -1 - | quorvane5 - OUT";
        message(error);
        return 1;
    }
    return 0;
}

int loadFilter(const Options &options, LoadedFilter *filter) {
    std::string error;
    if (!loadModule(options.module, filter, &error)) {
        message(filter->module ? error : "cannot load the filter module: " + error);
        return 1;
    }
    // An older or foreign module: the module is at fault, not the command line.
    if (filter->descriptor->track_n < kSliderCount || filter->descriptor->check_n < kCheckBoxCount) {
        message("the filter module " + filter->path + " has fewer settings than this program knows (" +
                count(filter->descriptor->track_n, "slider", "sliders") + " and " +
                count(filter->descriptor->check_n, "check box", "check boxes") + ", not " + std::to_string(kSliderCount) +
                " and " + std::to_string(kCheckBoxCount) + ")");
        return 1;
    }
    if (!checkSettings(options, *filter->descriptor, &error)) {
        message(error);
        return 2;
    }
    return 0;
}

}  // namespace q5cli
