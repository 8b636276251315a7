// Messages, opening the input and loading the filter, as every command does them.
#include "cli/command/shared.h"

#include <cstdio>

#include "cli/io/output_file.h"

namespace q5cli {

void message(const std::string &text) { std::fprintf(stderr, "quorvane5: %s\n", text.c_str()); }

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
    if (!checkSettings(options, *filter->descriptor, &error)) {
        message(error);
        return 2;
    }
    return 0;
}

}  // namespace q5cli
